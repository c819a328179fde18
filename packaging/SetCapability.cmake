# Run by the install step after the program file is in place: gives it
# cap_net_raw in the permitted set only when installing as root, and says how
# to do that otherwise. KELVORAN_PROGRAM is the installed file's path. Never
# set-user-ID: the program raises the capability itself, only around
# raw-socket creation.
set(hint "kelvoran probes through ICMP datagram sockets where the sysctl "
  "net.ipv4.ping_group_range includes the user's group (the kernel's default \"1 0\" "
  "includes none), and otherwise through raw sockets, for which root must run: "
  "setcap cap_net_raw+p ${KELVORAN_PROGRAM}")
string(JOIN "" hint ${hint})

find_program(KELVORAN_SETCAP setcap PATHS /usr/sbin /sbin NO_CACHE)
execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)

if(NOT "$ENV{DESTDIR}" STREQUAL "")
  # A staged install (CPack's too): archives drop extended attributes, so the
  # capability is set where the files finally land, as the package's postinst does.
  message(STATUS "Staged install: the capability is not set under DESTDIR. ${hint}")
elseif(NOT uid STREQUAL "0")
  message(STATUS "${hint}")
elseif(NOT KELVORAN_SETCAP)
  message(WARNING "setcap not found (Debian package libcap2-bin). ${hint}")
else()
  execute_process(COMMAND ${KELVORAN_SETCAP} cap_net_raw+p ${KELVORAN_PROGRAM}
    RESULT_VARIABLE failed ERROR_VARIABLE why ERROR_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(WARNING "setcap cap_net_raw+p ${KELVORAN_PROGRAM} failed (${why}). ${hint}")
  else()
    message(STATUS "Capability cap_net_raw+p: ${KELVORAN_PROGRAM}")
  endif()
endif()
