# Test, benchmark and test-host programs send only to loopback and to the test
# hosts in network namespaces: kelvoran_guard_sends(target) links a program
# with --wrap=sendto and the check it then goes through (tests/support/SendGuard).
# The program itself is never linked with it. tests/support/DnsGuard gives
# tests a process where no name server can be reached.
add_library(kelvoran_send_guard OBJECT
  ${PROJECT_SOURCE_DIR}/tests/support/SendGuard.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/DnsGuard.cpp)
target_include_directories(kelvoran_send_guard PUBLIC ${PROJECT_SOURCE_DIR})
target_link_options(kelvoran_send_guard INTERFACE "LINKER:--wrap=sendto")
kelvoran_set_warnings(kelvoran_send_guard)

function(kelvoran_guard_sends target)
  target_link_libraries(${target} PRIVATE kelvoran_send_guard)
endfunction()
