#include "icmp/IcmpLibrary.h"

#include "icmp/DatagramEchoLayer.h"
#include "icmp/IcmpSockets.h"
#include "icmp/RawEchoLayer.h"

#include <unistd.h>

#include <cstdio>

namespace {

constexpr const char* kNoSocketMessage
    = "kelvoran: no ICMP socket can be opened, so no host can be probed; allow ICMP datagram "
      "sockets for the user's group with the sysctl net.ipv4.ping_group_range (for example "
      "\"0 2147483647\"), or give the program raw sockets with setcap cap_net_raw+p\n";

struct Holder
{
    const EchoLayer* echo = nullptr;
    IcmpSocketKind kind = IcmpSocketKind::Datagram;
};

// Never freed: probe threads are not joined and may still be sending while
// the process exits, and the raw kind's shared socket and its reader thread
// serve them to the end.
const Holder& Loaded()
{
    static const Holder holder = [] {
        const std::optional<IcmpSocketKind> kind = IcmpLibrary::FindWorkingKind();
        if (!kind) {
            std::fputs(kNoSocketMessage, stderr);
            return Holder {};
        }
        return Holder {IcmpLibrary::MakeEcho(*kind).release(), *kind};
    }();
    return holder;
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
    return Loaded().echo != nullptr ? 1 : 0;
}

const EchoLayer& IcmpLibrary::Echo()
{
    return *Loaded().echo;
}

IcmpSocketKind IcmpLibrary::Kind()
{
    return Loaded().kind;
}

std::uint32_t IcmpLibrary::ReceiveDrops()
{
    const EchoLayer* echo = Loaded().echo;
    return echo != nullptr ? echo->ReceiveDrops() : 0;
}

std::unique_ptr<EchoLayer> IcmpLibrary::MakeEcho(IcmpSocketKind kind)
{
    if (kind == IcmpSocketKind::Raw)
        return std::make_unique<RawEchoLayer>();
    return std::make_unique<DatagramEchoLayer>();
}

std::optional<IcmpSocketKind> IcmpLibrary::FindWorkingKind()
{
    if (CanOpen(IcmpSocketKind::Datagram))
        return IcmpSocketKind::Datagram;
    if (CanOpen(IcmpSocketKind::Raw))
        return IcmpSocketKind::Raw;
    return std::nullopt;
}
