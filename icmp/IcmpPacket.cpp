#include "icmp/IcmpPacket.h"

#include "icmp/IcmpStatus.h"

#include <net/ethernet.h>
#include <netinet/in.h>
#include <netinet/ip.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kMinIpHeaderSize = sizeof(iphdr);

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// A header as the system declares it, copied out of the bytes, which need not
// be aligned for it. The caller has checked that they are long enough.
template <typename Header>
Header HeaderAt(std::span<const std::uint8_t> bytes)
{
    Header header;
    std::memcpy(&header, bytes.data(), sizeof header);
    return header;
}

EchoKey KeyOf(const icmphdr& icmp)
{
    return {ntohs(icmp.un.echo.id), ntohs(icmp.un.echo.sequence)};
}

struct IpPacket
{
    iphdr header;
    std::span<const std::uint8_t> payload; // what follows the header and its options
};

std::optional<IpPacket> ParseIpPacket(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kMinIpHeaderSize)
        return std::nullopt;
    const iphdr ip = HeaderAt<iphdr>(bytes);
    const std::size_t headerSize = ip.ihl * 4u;
    if (ip.version != 4 || headerSize < kMinIpHeaderSize || headerSize > bytes.size())
        return std::nullopt;
    return IpPacket {ip, bytes.subspan(headerSize)};
}

// The ICMP message that an IP packet carries: at least its header, the rest
// as far as it was read.
std::optional<IpPacket> IcmpInIp(std::span<const std::uint8_t> bytes)
{
    std::optional<IpPacket> ip = ParseIpPacket(bytes);
    if (!ip || ip->header.protocol != IPPROTO_ICMP || ip->payload.size() < kIcmpHeaderSize)
        return std::nullopt;
    return ip;
}

// The echo request that an ICMP error quotes behind its own header: the
// quoted request's IP header and the first bytes of its ICMP message.
std::optional<IpPacket> QuotedEchoRequest(std::span<const std::uint8_t> error)
{
    std::optional<IpPacket> quoted = IcmpInIp(error.subspan(kIcmpHeaderSize));
    if (!quoted || HeaderAt<icmphdr>(quoted->payload).type != ICMP_ECHO)
        return std::nullopt;
    return quoted;
}

bool IsRequestOf(std::span<const std::uint8_t> icmp, const EchoTag& tag)
{
    if (icmp.size() < kIcmpHeaderSize)
        return false;
    const icmphdr request = HeaderAt<icmphdr>(icmp);
    return request.type == ICMP_ECHO && KeyOf(request) == tag;
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
    icmphdr header {};
    header.type = ICMP_ECHO;
    header.un.echo.id = htons(tag.identifier);
    header.un.echo.sequence = htons(tag.sequence);
    std::memcpy(out.data(), &header, sizeof header);
    std::copy(data.begin(), data.end(), out.begin() + kIcmpHeaderSize);
    // The checksum is summed in network byte order and stored as it came out.
    const std::uint16_t checksum = htons(InternetChecksum(out.first(size)));
    std::memcpy(out.data() + offsetof(icmphdr, checksum), &checksum, sizeof checksum);
    return size;
}

std::optional<std::uint32_t> IcmpErrorStatus(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case ICMP_DEST_UNREACH:
        switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
            return IP_DEST_NET_UNREACHABLE;
        case ICMP_PROT_UNREACH:
            return IP_DEST_PROT_UNREACHABLE;
        case ICMP_PORT_UNREACH:
            return IP_DEST_PORT_UNREACHABLE;
        case ICMP_FRAG_NEEDED:
            return IP_PACKET_TOO_BIG;
        case ICMP_SR_FAILED:
            return IP_BAD_ROUTE;
        default: // the host itself, or something about it, cannot be reached
            return IP_DEST_HOST_UNREACHABLE;
        }
    case ICMP_TIME_EXCEEDED:
        return code == ICMP_EXC_FRAGTIME ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case ICMP_PARAMETERPROB:
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
        const std::optional<IpPacket> ip = IcmpInIp(bytes);
        if (!ip)
            return {};
        // The total length would only trim link-layer padding, which the
        // kernel has already removed; what arrived is what was read, or what
        // the receive call says when it was cut short.
        icmpSize -= bytes.size() - ip->payload.size();
        icmp = ip->payload;
        source = ip->header.saddr;
    }
    if (icmp.size() < kIcmpHeaderSize)
        return {};
    // Raw sockets get packets before the kernel checks them, so a damaged
    // message must be dropped here as the kernel would drop it. One cut short
    // cannot be checked, and is taken for what its header says.
    const bool cut = icmpSize > icmp.size();
    if (!cut && InternetChecksum(icmp) != 0)
        return {};

    const icmphdr header = HeaderAt<icmphdr>(icmp);
    if (header.type == ICMP_ECHOREPLY) {
        if (KeyOf(header) != tag || source != tag.destination)
            return {};
        return {PacketVerdict::Reply, IP_SUCCESS, source, icmp.subspan(kIcmpHeaderSize),
            icmpSize - kIcmpHeaderSize};
    }

    const std::optional<std::uint32_t> status = IcmpErrorStatus(header.type, header.code);
    if (!status)
        return {};
    const std::optional<IpPacket> quoted = QuotedEchoRequest(icmp);
    if (!quoted || quoted->header.daddr != tag.destination || !IsRequestOf(quoted->payload, tag))
        return {};
    return {PacketVerdict::Error, *status, source, {}};
}

std::optional<EchoKey> RawPacketEchoKey(std::span<const std::uint8_t> bytes)
{
    const std::optional<IpPacket> ip = IcmpInIp(bytes);
    if (!ip)
        return std::nullopt;
    const icmphdr header = HeaderAt<icmphdr>(ip->payload);
    if (header.type == ICMP_ECHOREPLY)
        return KeyOf(header);
    if (!IcmpErrorStatus(header.type, header.code))
        return std::nullopt;
    const std::optional<IpPacket> quoted = QuotedEchoRequest(ip->payload);
    if (!quoted)
        return std::nullopt;
    return KeyOf(HeaderAt<icmphdr>(quoted->payload));
}

std::optional<EchoKey> SentPacketEchoKey(std::span<const std::uint8_t> copy)
{
    // An Ethernet header names IPv4 in its last two bytes; without one, the
    // packet starts at once. Either way the other is tried too.
    constexpr std::size_t kEthernetHeaderSize = sizeof(ether_header);
    const bool ethernet = copy.size() > kEthernetHeaderSize
        && ntohs(HeaderAt<ether_header>(copy).ether_type) == ETHERTYPE_IP;
    const std::size_t first = ethernet ? kEthernetHeaderSize : 0;
    for (const std::size_t at : {first, kEthernetHeaderSize - first}) {
        if (copy.size() <= at)
            break;
        const std::optional<IpPacket> ip = IcmpInIp(copy.subspan(at));
        if (!ip)
            continue;
        const icmphdr header = HeaderAt<icmphdr>(ip->payload);
        if (header.type == ICMP_ECHO)
            return KeyOf(header);
    }
    return std::nullopt;
}

PacketClass ClassifyQueuedIcmpError(std::uint8_t type, std::uint8_t code,
    std::span<const std::uint8_t> quoted, std::uint32_t requestDestination, std::uint32_t offender,
    const EchoTag& tag)
{
    const std::optional<std::uint32_t> status = IcmpErrorStatus(type, code);
    if (!status || requestDestination != tag.destination || !IsRequestOf(quoted, tag))
        return {};
    return {PacketVerdict::Error, *status, offender, {}};
}
