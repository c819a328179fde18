#pragma once

// Test, benchmark and test-host programs look names up only where no name
// server off the machine can be reached. Beside --wrap=sendto they are linked
// with --wrap for getaddrinfo, getnameinfo, gethostbyname, gethostbyname2,
// gethostbyaddr and the _r forms of the last three, so every lookup of their
// own code, the program's included, is made on a thread of its own whose
// connect, sendto, sendmsg and sendmmsg system calls the kernel hands to the
// guard first (a seccomp filter that traps them; glibc's resolver makes its
// calls inside the C library, out of reach of --wrap). A DNS query (port 53)
// to anything but loopback, made in the machine's network namespace, ends the
// process with a message before a packet is made. A query made in another
// namespace, one a test made, passes: nothing leaves from there. Lookups made
// inside shared libraries (Qt's, say) are not wrapped and so not watched.
//
// x86-64 Linux only; elsewhere the lookups run unwatched.

// Puts the calling process into network and mount namespaces of its own where
// no name server can be reached: loopback only, /etc/resolv.conf and
// /etc/nsswitch.conf with the texts given, and an empty folder in the name
// service cache's place, whose socket a network namespace alone would not cut
// off. System calls only, so that it can run between fork and exec; the
// process must have no other threads. False where the machine does not allow
// it (not root).
bool LeaveEveryNameServerBehind(const char* resolver, const char* nsswitch);
