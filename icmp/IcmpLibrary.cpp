#include "probe/IcmpLibrary.h"

#include "probe/IcmpSockets.h"
#include "probe/SocketEchoLayer.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr const char* kNoSocketMessage
    = "kelvoran: no ICMP socket can be opened, so no host can be probed; allow ICMP datagram "
      "sockets for the user's group with the sysctl net.ipv4.ping_group_range (for example "
      "\"0 2147483647\"), or give the program raw sockets with setcap cap_net_raw+p\n";

// Never freed: probe threads are not joined and may still be sending while
// the process exits, and the raw kind's shared socket and its reader thread
// serve them to the end.
const SocketEchoLayer* Loaded()
{
    static const SocketEchoLayer* const echo = []() -> const SocketEchoLayer* {
        const std::optional<IcmpSocketKind> kind = IcmpLibrary::FindWorkingKind();
        if (!kind) {
            std::fputs(kNoSocketMessage, stderr);
            return nullptr;
        }
        return new SocketEchoLayer(*kind);
    }();
    return echo;
}

bool CanOpen(IcmpSocketKind kind)
{
    const int fd = OpenIcmpSocket(kind);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace

int IcmpLibrary::Load()
{
    return Loaded() != nullptr ? 1 : 0;
}

const EchoLayer& IcmpLibrary::Echo()
{
    return *Loaded();
}

IcmpSocketKind IcmpLibrary::Kind()
{
    return Loaded()->Kind();
}

std::uint32_t IcmpLibrary::ReceiveDrops()
{
    const SocketEchoLayer* echo = Loaded();
    return echo != nullptr ? echo->ReceiveDrops() : 0;
}

std::optional<IcmpSocketKind> IcmpLibrary::FindWorkingKind()
{
    if (CanOpen(IcmpSocketKind::Datagram))
        return IcmpSocketKind::Datagram;
    if (CanOpen(IcmpSocketKind::Raw))
        return IcmpSocketKind::Raw;
    return std::nullopt;
}
