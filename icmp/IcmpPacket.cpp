#include "icmp/IcmpPacket.h"

#include "icmp/IcmpStatus.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestinationUnreachable = 3;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::size_t kMinIpHeaderSize = 20;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t ReadAddress(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t address;
    std::memcpy(&address, bytes.data() + at, sizeof address);
    return address;
}

struct IpHeader
{
    std::size_t headerSize = 0;
    std::uint8_t protocol = 0;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
};

std::optional<IpHeader> ParseIpHeader(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kMinIpHeaderSize || bytes[0] >> 4 != 4)
        return std::nullopt;
    const std::size_t headerSize = (bytes[0] & 0x0f) * 4u;
    if (headerSize < kMinIpHeaderSize || headerSize > bytes.size())
        return std::nullopt;
    return IpHeader {headerSize, bytes[9], ReadAddress(bytes, 12), ReadAddress(bytes, 16)};
}

bool QuotesOurRequest(std::span<const std::uint8_t> icmp, const EchoTag& tag)
{
    return icmp.size() >= kIcmpHeaderSize && icmp[0] == kEchoRequest
        && Read16(icmp, 4) == tag.identifier && Read16(icmp, 6) == tag.sequence;
}

} // namespace

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += Read16(bytes, i);
    if (i < bytes.size())
        sum += static_cast<std::uint32_t>(bytes[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::size_t BuildEchoRequest(
    std::span<std::uint8_t> out, const EchoTag& tag, std::span<const std::uint8_t> data)
{
    const std::size_t size = kIcmpHeaderSize + data.size();
    out[0] = kEchoRequest;
    out[1] = 0;
    out[2] = out[3] = 0;
    out[4] = static_cast<std::uint8_t>(tag.identifier >> 8);
    out[5] = static_cast<std::uint8_t>(tag.identifier);
    out[6] = static_cast<std::uint8_t>(tag.sequence >> 8);
    out[7] = static_cast<std::uint8_t>(tag.sequence);
    std::copy(data.begin(), data.end(), out.begin() + kIcmpHeaderSize);
    const std::uint16_t checksum = InternetChecksum(out.first(size));
    out[2] = static_cast<std::uint8_t>(checksum >> 8);
    out[3] = static_cast<std::uint8_t>(checksum);
    return size;
}

std::optional<std::uint32_t> IcmpErrorStatus(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kDestinationUnreachable:
        switch (code) {
        case 0: // network unreachable
        case 6: // network unknown
        case 9: // network administratively prohibited
        case 11: // network unreachable for the type of service
            return IP_DEST_NET_UNREACHABLE;
        case 2:
            return IP_DEST_PROT_UNREACHABLE;
        case 3:
            return IP_DEST_PORT_UNREACHABLE;
        case 4: // fragmentation needed
            return IP_PACKET_TOO_BIG;
        case 5: // source route failed
            return IP_BAD_ROUTE;
        default: // the host itself, or something about it, cannot be reached
            return IP_DEST_HOST_UNREACHABLE;
        }
    case kTimeExceeded:
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kParameterProblem:
        return IP_PARAM_PROBLEM;
    default:
        // Source quench included: hosts ignore it (RFC 6633), and the kernel
        // never hands it to a datagram socket.
        return std::nullopt;
    }
}

PacketClass ClassifyIcmpPacket(std::span<const std::uint8_t> bytes, std::size_t arrivedSize,
    IcmpSocketKind kind, std::uint32_t sourceAddress, const EchoTag& tag)
{
    std::span<const std::uint8_t> icmp = bytes;
    std::size_t icmpSize = std::max(arrivedSize, bytes.size());
    std::uint32_t source = sourceAddress;
    if (kind == IcmpSocketKind::Raw) {
        const std::optional<IpHeader> ip = ParseIpHeader(bytes);
        if (!ip || ip->protocol != kProtocolIcmp)
            return {};
        // The total length would only trim link-layer padding, which the
        // kernel has already removed; what arrived is what was read, or what
        // the receive call says when it was cut short.
        icmp = bytes.subspan(ip->headerSize);
        icmpSize -= ip->headerSize;
        source = ip->source;
    }
    if (icmp.size() < kIcmpHeaderSize)
        return {};
    // Raw sockets get packets before the kernel checks them, so a damaged
    // message must be dropped here as the kernel would drop it. One cut short
    // cannot be checked, and is taken for what its header says.
    const bool cut = icmpSize > icmp.size();
    if (!cut && InternetChecksum(icmp) != 0)
        return {};

    const std::uint8_t type = icmp[0];
    if (type == kEchoReply) {
        if (Read16(icmp, 4) != tag.identifier || Read16(icmp, 6) != tag.sequence
            || source != tag.destination)
            return {};
        return {PacketVerdict::Reply, IP_SUCCESS, source, icmp.subspan(kIcmpHeaderSize),
            icmpSize - kIcmpHeaderSize};
    }

    const std::optional<std::uint32_t> status = IcmpErrorStatus(type, icmp[1]);
    if (!status)
        return {};
    const std::span<const std::uint8_t> quoted = icmp.subspan(kIcmpHeaderSize);
    const std::optional<IpHeader> inner = ParseIpHeader(quoted);
    if (!inner || inner->protocol != kProtocolIcmp || inner->destination != tag.destination
        || !QuotesOurRequest(quoted.subspan(inner->headerSize), tag))
        return {};
    return {PacketVerdict::Error, *status, source, {}};
}

std::optional<std::uint32_t> RawPacketEchoKey(std::span<const std::uint8_t> bytes)
{
    const std::optional<IpHeader> ip = ParseIpHeader(bytes);
    if (!ip || ip->protocol != kProtocolIcmp || bytes.size() < ip->headerSize + kIcmpHeaderSize)
        return std::nullopt;
    std::span<const std::uint8_t> icmp = bytes.subspan(ip->headerSize);
    if (icmp[0] != kEchoReply) {
        if (!IcmpErrorStatus(icmp[0], icmp[1]))
            return std::nullopt;
        const std::span<const std::uint8_t> quoted = icmp.subspan(kIcmpHeaderSize);
        const std::optional<IpHeader> inner = ParseIpHeader(quoted);
        if (!inner || quoted.size() < inner->headerSize + kIcmpHeaderSize
            || quoted[inner->headerSize] != kEchoRequest)
            return std::nullopt;
        icmp = quoted.subspan(inner->headerSize);
    }
    return std::uint32_t {Read16(icmp, 4)} << 16 | Read16(icmp, 6);
}

std::optional<std::uint32_t> SentPacketEchoKey(std::span<const std::uint8_t> copy)
{
    // An Ethernet header names IPv4 in its last two bytes; without one, the
    // packet starts at once. Either way the other is tried too.
    constexpr std::size_t kEthernetHeaderSize = 14;
    const bool ethernet = copy.size() > kEthernetHeaderSize && Read16(copy, 12) == 0x0800;
    const std::size_t first = ethernet ? kEthernetHeaderSize : 0;
    for (const std::size_t at : {first, kEthernetHeaderSize - first}) {
        if (copy.size() <= at)
            break;
        const std::span<const std::uint8_t> packet = copy.subspan(at);
        const std::optional<IpHeader> ip = ParseIpHeader(packet);
        if (!ip || ip->protocol != kProtocolIcmp || packet.size() < ip->headerSize + kIcmpHeaderSize
            || packet[ip->headerSize] != kEchoRequest)
            continue;
        const std::span<const std::uint8_t> icmp = packet.subspan(ip->headerSize);
        return std::uint32_t {Read16(icmp, 4)} << 16 | Read16(icmp, 6);
    }
    return std::nullopt;
}

PacketClass ClassifyQueuedIcmpError(std::uint8_t type, std::uint8_t code,
    std::span<const std::uint8_t> quoted, std::uint32_t requestDestination, std::uint32_t offender,
    const EchoTag& tag)
{
    const std::optional<std::uint32_t> status = IcmpErrorStatus(type, code);
    if (!status || requestDestination != tag.destination || !QuotesOurRequest(quoted, tag))
        return {};
    return {PacketVerdict::Error, *status, offender, {}};
}
