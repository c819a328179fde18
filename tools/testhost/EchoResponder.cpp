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

// An IP packet from source to destination around the ICMP message, whose
// checksum is filled in here; the kernel fills in the IP header's own.
OutgoingPacket Packet(std::uint32_t source, std::uint32_t destination,
    std::vector<std::uint8_t> icmp, std::uint32_t delayMs = 0)
{
    Put16(icmp.data() + 2, 0);
    Put16(icmp.data() + 2, Checksum(icmp));
    std::vector<std::uint8_t> bytes(kIpHeaderSize);
    bytes[0] = 0x45;
    Put16(bytes.data() + 2, static_cast<std::uint16_t>(kIpHeaderSize + icmp.size()));
    bytes[8] = 64;
    bytes[9] = 1;
    std::memcpy(bytes.data() + 12, &source, 4);
    std::memcpy(bytes.data() + 16, &destination, 4);
    bytes.insert(bytes.end(), icmp.begin(), icmp.end());
    return {delayMs, destination, std::move(bytes)};
}

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

std::vector<OutgoingPacket> AnswerEchoRequest(
    std::span<const std::uint8_t> request, const HostBehaviour& behaviour)
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
    case HostBehaviour::From:
        return {Packet(behaviour.other, prober, EchoReply(icmp))};
    case HostBehaviour::Unreachable:
        return {Packet(self, prober,
            Error(3, static_cast<std::uint8_t>(behaviour.value), request, headerSize))};
    case HostBehaviour::Exceeded:
        return {Packet(self, prober, Error(11, 0, request, headerSize))};
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
    }
    return {};
}
