# Test, benchmark and test-host programs send only to loopback and to the test
# hosts in network namespaces: kelvoran_guard_sends(target) links a program
# with --wrap=sendto and --wrap=sendmsg and the check they then go through
# (tests/support/SendGuard).
# The program itself is never linked with it.
add_library(kelvoran_send_guard OBJECT ${PROJECT_SOURCE_DIR}/tests/support/SendGuard.cpp)
target_include_directories(kelvoran_send_guard PUBLIC ${PROJECT_SOURCE_DIR})
target_link_options(kelvoran_send_guard INTERFACE "LINKER:--wrap=sendto" "LINKER:--wrap=sendmsg")
kelvoran_set_warnings(kelvoran_send_guard)

function(kelvoran_guard_sends target)
  target_link_libraries(${target} PRIVATE kelvoran_send_guard)
endfunction()
