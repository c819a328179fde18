#pragma once

// Name lookups in tests.

// Puts the calling process into network and mount namespaces of its own where
// no name server can be reached: loopback only, /etc/resolv.conf and
// /etc/nsswitch.conf with the texts given, and an empty folder in the name
// service cache's place, whose socket a network namespace alone would not cut
// off. System calls only, so that it can run between fork and exec; the
// process must have no other threads. False where the machine does not allow
// it (not root).
bool LeaveEveryNameServerBehind(const char* resolver, const char* nsswitch);
