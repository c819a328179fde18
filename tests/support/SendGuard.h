#pragma once

#include <cstdint>

// Test, benchmark and test-host programs may send only to loopback
// (127.0.0.0/8), and to the test hosts they make in network namespaces
// (198.18.0.0/15) from a socket of such a namespace. They are linked with
// --wrap=sendto and --wrap=sendmsg, so every sendto and sendmsg of their own
// code, the echo layer's included, is checked here first; a send to any other
// address, or to a test host from the machine's own network namespace, ends
// the process with a message before a packet is made.

// Whether a test program may send to this IPv4 address (network byte order)
// from some namespace: loopback or the test hosts' range.
bool IsTestDestination(std::uint32_t address);

// Whether the calling thread is in the machine's network namespace: that of
// process 1 or, where that cannot be seen, the one named by
// KELVORAN_TEST_MACHINE_NETNS ("device:inode" of its /proc/…/ns/net), else
// the one the process started in. A guarded program sets that variable for
// the programs it starts; scripts that start one inside a namespace set it
// before they enter.
bool InTheMachinesNetworkNamespace();

// Makes the calling thread's network namespace count as the machine's, so that
// the guards' own tests can see them refuse in a namespace nothing leaves from.
void TreatThisNetworkNamespaceAsTheMachines();
