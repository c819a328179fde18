#pragma once

#include "icmp/IcmpSocketKind.h"

// Opens an IPv4 ICMP socket of the given kind, close-on-exec. Returns the
// descriptor, or -1 with errno set when the kernel refuses it.
int OpenIcmpSocket(IcmpSocketKind kind);

// The one place where a raw ICMP socket is created: cap_net_raw, when it is in
// the calling thread's permitted set, is made effective for the socket() call
// only and cleared again before returning. -1 with errno as socket() set it.
int OpenRawIcmpSocket();
