#pragma once

// The two ways an unprivileged or privileged process can send ICMP echo on
// Linux: a datagram socket that the kernel allows by net.ipv4.ping_group_range
// (replies arrive without IP header, already sorted to the socket by the
// identifier), or a raw socket that needs CAP_NET_RAW and sees all ICMP.
enum class IcmpSocketKind {
    Datagram,
    Raw,
};
