# Test, benchmark and test-host programs send only to loopback and to the test
# hosts in network namespaces: kelvoran_guard_sends(target) links a program
# with --wrap=sendto and --wrap=sendmsg and the check they then go through
# (tests/support/SendGuard). Their name lookups are wrapped too, and run where
# a DNS query that would leave the machine ends the program
# (tests/support/DnsGuard). The program itself is never linked with either.
add_library(kelvoran_send_guard OBJECT
  ${PROJECT_SOURCE_DIR}/tests/support/SendGuard.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/DnsGuard.cpp)
target_include_directories(kelvoran_send_guard PUBLIC ${PROJECT_SOURCE_DIR})
target_link_options(kelvoran_send_guard INTERFACE "LINKER:--wrap=sendto" "LINKER:--wrap=sendmsg"
  "LINKER:--wrap=getaddrinfo,--wrap=getnameinfo"
  "LINKER:--wrap=gethostbyname,--wrap=gethostbyname2,--wrap=gethostbyaddr"
  "LINKER:--wrap=gethostbyname_r,--wrap=gethostbyname2_r,--wrap=gethostbyaddr_r")
target_link_libraries(kelvoran_send_guard INTERFACE Threads::Threads)
kelvoran_set_warnings(kelvoran_send_guard)

function(kelvoran_guard_sends target)
  target_link_libraries(${target} PRIVATE kelvoran_send_guard)
endfunction()
