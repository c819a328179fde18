#pragma once

#include <cstdint>

// Test, benchmark and test-host programs may send only to loopback
// (127.0.0.0/8) and to the test hosts they make in network namespaces
// (198.18.0.0/15). They are linked with --wrap=sendto and --wrap=sendmsg, so
// every sendto and sendmsg of their own code, the echo layer's included, is
// checked here first; a send to any other address ends the process with a
// message before a packet is made.

// Whether a test program may send to this IPv4 address (network byte order).
bool IsTestDestination(std::uint32_t address);
