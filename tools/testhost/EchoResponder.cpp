#include "tools/testhost/EchoResponder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kIcmpHeaderSize = 8;

std::uint16_t Checksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(
            bytes[i] << 8 | (i + 1 < bytes.size() ? bytes[i + 1] : 0));
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void Put16(std::uint8_t* at, std::uint16_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t Get16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] << 8 | at[1]);
}

void FillChecksum(std::vector<std::uint8_t>& icmp)
{
    Put16(icmp.data() + 2, 0);
    Put16(icmp.data() + 2, Checksum(icmp));
}

// An IP packet from source to destination around the ICMP message, whose
// checksum is filled in here; the kernel fills in the IP header's own.
OutgoingPacket Packet(std::uint32_t source, std::uint32_t destination,
    std::vector<std::uint8_t> icmp, std::uint32_t delayMs = 0)
{
    FillChecksum(icmp);
    OutgoingPacket packet = IpPacket(source, destination, std::move(icmp));
    packet.delayMs = delayMs;
    return packet;
}

// A well-mixed 64-bit value for a counter (splitmix64), so that a flood
// needs no state beyond its count.
std::uint64_t Mix(std::uint64_t n)
{
    n += 0x9e3779b97f4a7c15u;
    n = (n ^ (n >> 30)) * 0xbf58476d1ce4e5b9u;
    n = (n ^ (n >> 27)) * 0x94d049bb133111ebu;
    return n ^ (n >> 31);
}

} // namespace

OutgoingPacket IpPacket(
    std::uint32_t source, std::uint32_t destination, std::vector<std::uint8_t> icmp)
{
    std::vector<std::uint8_t> bytes(kIpHeaderSize);
    bytes[0] = 0x45;
    Put16(bytes.data() + 2, static_cast<std::uint16_t>(kIpHeaderSize + icmp.size()));
    bytes[8] = 64;
    bytes[9] = 1;
    std::memcpy(bytes.data() + 12, &source, 4);
    std::memcpy(bytes.data() + 16, &destination, 4);
    bytes.insert(bytes.end(), icmp.begin(), icmp.end());
    return {0, destination, std::move(bytes)};
}

namespace {

std::vector<std::uint8_t> EchoReply(std::span<const std::uint8_t> requestIcmp)
{
    std::vector<std::uint8_t> icmp(requestIcmp.begin(), requestIcmp.end());
    icmp[0] = 0;
    icmp[1] = 0;
    return icmp;
}

// An ICMP error quoting the request's IP header and the first eight bytes
// after it, as routers do.
std::vector<std::uint8_t> Error(std::uint8_t type, std::uint8_t code,
    std::span<const std::uint8_t> request, std::size_t headerSize)
{
    const std::size_t quoted = std::min(request.size(), headerSize + kIcmpHeaderSize);
    std::vector<std::uint8_t> icmp(kIcmpHeaderSize + quoted);
    icmp[0] = type;
    icmp[1] = code;
    std::copy(request.begin(), request.begin() + quoted, icmp.begin() + kIcmpHeaderSize);
    return icmp;
}

} // namespace

std::vector<OutgoingPacket> AnswerEchoRequest(std::span<const std::uint8_t> request,
    const HostBehaviour& behaviour, std::uint64_t sinceStartMs)
{
    if (request.size() < kIpHeaderSize || request[0] >> 4 != 4 || request[9] != 1)
        return {};
    const std::size_t headerSize = (request[0] & 0x0f) * 4u;
    if (headerSize < kIpHeaderSize || request.size() < headerSize + kIcmpHeaderSize)
        return {};
    const std::span<const std::uint8_t> icmp = request.subspan(headerSize);
    if (icmp[0] != 8 || Checksum(icmp) != 0)
        return {};
    std::uint32_t prober;
    std::uint32_t self;
    std::memcpy(&prober, request.data() + 12, 4);
    std::memcpy(&self, request.data() + 16, 4);
    const std::uint8_t ttl = request[8];
    const std::size_t dataSize = icmp.size() - kIcmpHeaderSize;

    switch (behaviour.kind) {
    case HostBehaviour::Echo:
        return {Packet(self, prober, EchoReply(icmp))};
    case HostBehaviour::Delay:
        return {Packet(self, prober, EchoReply(icmp), behaviour.value)};
    case HostBehaviour::Silent:
        return {};
    case HostBehaviour::Corrupt: {
        std::vector<std::uint8_t> reply = EchoReply(icmp);
        if (dataSize > 0)
            reply[kIcmpHeaderSize + dataSize / 2] ^= 0x20;
        return {Packet(self, prober, reply)};
    }
    case HostBehaviour::Short: {
        std::vector<std::uint8_t> reply = EchoReply(icmp);
        if (dataSize > 0)
            reply.pop_back();
        return {Packet(self, prober, reply)};
    }
    case HostBehaviour::Twice:
        return {Packet(self, prober, EchoReply(icmp)), Packet(self, prober, EchoReply(icmp))};
    case HostBehaviour::Long: {
        std::vector<std::uint8_t> reply = EchoReply(icmp);
        reply.resize(kIcmpHeaderSize + behaviour.value, dataSize > 0 ? icmp.back() : 0x45);
        return {Packet(self, prober, reply)};
    }
    case HostBehaviour::From:
        return {Packet(behaviour.other, prober, EchoReply(icmp))};
    case HostBehaviour::Unreachable:
        return {Packet(behaviour.other != 0 ? behaviour.other : self, prober,
            Error(3, static_cast<std::uint8_t>(behaviour.value), request, headerSize))};
    case HostBehaviour::Exceeded:
        return {Packet(behaviour.other != 0 ? behaviour.other : self, prober,
            Error(11, 0, request, headerSize))};
    case HostBehaviour::Hops:
        if (ttl < behaviour.value)
            return {Packet(self, prober, Error(11, 0, request, headerSize))};
        return {Packet(self, prober, EchoReply(icmp))};
    case HostBehaviour::Noise: {
        // Replies to requests with a neighbouring sequence or identifier, a
        // ping of the prober's own, and an error about someone else's
        // request, before the true answer.
        std::vector<std::uint8_t> otherSequence = EchoReply(icmp);
        Put16(otherSequence.data() + 6, static_cast<std::uint16_t>(Get16(icmp.data() + 6) + 1));
        std::vector<std::uint8_t> otherIdentifier = EchoReply(icmp);
        Put16(otherIdentifier.data() + 4, static_cast<std::uint16_t>(Get16(icmp.data() + 4) + 1));
        std::vector<std::uint8_t> ping(icmp.begin(), icmp.end());
        std::vector<std::uint8_t> foreignError = Error(3, 1, request, headerSize);
        Put16(foreignError.data() + kIcmpHeaderSize + headerSize + 4,
            static_cast<std::uint16_t>(Get16(icmp.data() + 4) ^ 0x5555));
        return {Packet(self, prober, otherSequence), Packet(self, prober, otherIdentifier),
            Packet(self, prober, ping), Packet(self, prober, foreignError),
            Packet(self, prober, EchoReply(icmp), 20)};
    }
    case HostBehaviour::BadChecksum: {
        OutgoingPacket packet = Packet(self, prober, EchoReply(icmp));
        packet.bytes[kIpHeaderSize + 2] ^= 0xff;
        return {packet};
    }
    case HostBehaviour::Flap:
        if (sinceStartMs % (std::uint64_t {behaviour.value} + behaviour.off) < behaviour.value)
            return {Packet(self, prober, EchoReply(icmp))};
        return {};
    case HostBehaviour::Flood:
        return {};
    }
    return {};
}

std::vector<std::uint8_t> FloodIcmp(std::uint64_t n)
{
    const std::uint64_t r = Mix(n);
    const auto identifier = static_cast<std::uint16_t>(r >> 16);
    const auto sequence = static_cast<std::uint16_t>(r >> 32);
    // Room for the largest packet made below, so that it never grows.
    std::vector<std::uint8_t> icmp;
    icmp.reserve(kIcmpHeaderSize + kIpHeaderSize + 72);
    icmp.resize(kIcmpHeaderSize);
    Put16(icmp.data() + 4, identifier);
    Put16(icmp.data() + 6, sequence);
    switch (n % 8) {
    case 0: // an echo reply to a request never sent, with the data probes send
    case 1: // the same with a damaged checksum
        icmp.resize(kIcmpHeaderSize + 32, 0x45);
        FillChecksum(icmp);
        if (n % 8 == 1)
            icmp[2] ^= 0x5a;
        return icmp;
    case 2: { // an echo reply with data of another size and content
        for (std::size_t i = 0; i < (r >> 48) % 65; ++i)
            icmp.push_back(static_cast<std::uint8_t>(Mix(n + i)));
        FillChecksum(icmp);
        return icmp;
    }
    case 3: { // a type with no meaning here, or one nobody waits for
        static const std::uint8_t types[] = {4, 5, 9, 10, 13, 14, 15, 16, 17, 18, 42, 255};
        icmp[0] = types[(r >> 8) % std::size(types)];
        icmp[1] = static_cast<std::uint8_t>(r);
        FillChecksum(icmp);
        return icmp;
    }
    case 4: // cut off inside the header
        icmp.resize(1 + (r >> 8) % (kIcmpHeaderSize - 1));
        return icmp;
    case 5: // unreachable, about someone else's echo request
    case 6: { // time exceeded, likewise
        std::vector<std::uint8_t> quoted(kIpHeaderSize + kIcmpHeaderSize);
        quoted[0] = 0x45;
        quoted[9] = 1;
        quoted[kIpHeaderSize] = 8;
        Put16(quoted.data() + kIpHeaderSize + 4, identifier);
        Put16(quoted.data() + kIpHeaderSize + 6, sequence);
        icmp[0] = n % 8 == 5 ? 3 : 11;
        icmp[1] = n % 8 == 5 ? static_cast<std::uint8_t>((r >> 8) % 16) : 0;
        Put16(icmp.data() + 4, 0);
        Put16(icmp.data() + 6, 0);
        icmp.insert(icmp.end(), quoted.begin(), quoted.end());
        FillChecksum(icmp);
        return icmp;
    }
    default: // an echo request of its own
        icmp[0] = 8;
        icmp.resize(kIcmpHeaderSize + 32, 0x45);
        FillChecksum(icmp);
        return icmp;
    }
}
