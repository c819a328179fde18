#include "icmp/IcmpSockets.h"

#include <netinet/in.h>
#include <sys/capability.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

bool SetNetRawEffective(cap_t caps, cap_flag_value_t value)
{
    const cap_value_t netRaw = CAP_NET_RAW;
    return cap_set_flag(caps, CAP_EFFECTIVE, 1, &netRaw, value) == 0 && cap_set_proc(caps) == 0;
}

} // namespace

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
    // The installed program file holds cap_net_raw in its permitted set only.
    // It is made effective for this one call and cleared again, so no other
    // code runs with it; where it was effective from the start (root), the
    // thread holds it only inside this call from then on. Capabilities belong
    // to a thread on Linux (libcap without libpsx sets only the calling
    // thread's), so probes on other threads neither see nor undo this.
    // Without it permitted nothing is raised and the kernel answers EPERM.
    cap_t caps = cap_get_proc();
    cap_flag_value_t permitted = CAP_CLEAR;
    if (caps != nullptr && cap_get_flag(caps, CAP_NET_RAW, CAP_PERMITTED, &permitted) != 0)
        permitted = CAP_CLEAR;
    if (permitted == CAP_SET)
        SetNetRawEffective(caps, CAP_SET);
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int error = errno;
    if (permitted == CAP_SET)
        SetNetRawEffective(caps, CAP_CLEAR);
    if (caps != nullptr)
        cap_free(caps);
    errno = error;
    return fd;
}
