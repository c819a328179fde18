#pragma once

#include "probe/IcmpSocketKind.h"

// Opens an IPv4 ICMP socket of the given kind, close-on-exec. Returns the
// descriptor, or -1 with errno set when the kernel refuses it.
int OpenIcmpSocket(IcmpSocketKind kind);

// The one place where a raw ICMP socket is created, so that a capability held
// only in the permitted set can be raised around this call and nowhere else.
int OpenRawIcmpSocket();
