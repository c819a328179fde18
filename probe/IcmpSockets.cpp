#include "probe/IcmpSockets.h"

#include <netinet/in.h>
#include <sys/socket.h>

int OpenIcmpSocket(IcmpSocketKind kind)
{
    if (kind == IcmpSocketKind::Raw)
        return OpenRawIcmpSocket();
    // Refused with EACCES when the caller's group is outside
    // net.ipv4.ping_group_range, which is the kernel's default ("1 0").
    return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
}

int OpenRawIcmpSocket()
{
    // Refused with EPERM without CAP_NET_RAW in the effective set.
    return socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
}
