// Feeds arbitrary bytes to the reply validation of the echo layer: the packet
// classifier for both socket kinds, with and without an IP header in front,
// the classifier of queued ICMP errors, the finder of a request in the copy
// that comes back with its stamp, and the probe's judge of an answer.
//
// Input: a 16-byte preamble, then the packet.
//   0      flags: 1 raw socket (else datagram), 2 put a well-formed IP header
//          in front, 4 make the ICMP checksum right, 8 build a true echo reply
//          of the packet bytes as data instead, 16 the packet arrived longer
//          and was cut to these bytes
//   1..4   identifier, sequence of the request (big-endian)
//   5..8   destination of the request
//   9..12  sender that a datagram socket reports
//   13     data size the judge expects
//   14, 15 type and code of a queued error, which quotes the packet bytes
// Checks the invariants that the probe relies on and traps when one breaks,
// among them that the key the shared raw socket looks a packet up by names
// the request that the classifier says the packet answers.
#include "icmp/EchoExchange.h"
#include "icmp/EchoLayer.h"
#include "icmp/IcmpPacket.h"
#include "icmp/IcmpProbe.h"
#include "icmp/IcmpStatus.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr std::size_t kPreamble = 16;
constexpr std::size_t kIpHeaderSize = 20;
constexpr std::uint8_t kDataByte = 0x45;

enum Flags : std::uint8_t {
    kRaw = 1,
    kWithIpHeader = 2,
    kFixChecksum = 4,
    kBuildReply = 8,
    kCut = 16,
};

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

std::uint32_t Read32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void PutChecksum(std::vector<std::uint8_t>& packet, std::size_t icmpAt)
{
    if (packet.size() < icmpAt + kIcmpHeaderSize)
        return;
    packet[icmpAt + 2] = packet[icmpAt + 3] = 0;
    const std::uint16_t sum = InternetChecksum(std::span(packet).subspan(icmpAt));
    packet[icmpAt + 2] = static_cast<std::uint8_t>(sum >> 8);
    packet[icmpAt + 3] = static_cast<std::uint8_t>(sum);
}

std::vector<std::uint8_t> IpHeader(std::uint32_t source, std::uint32_t destination)
{
    std::vector<std::uint8_t> header(kIpHeaderSize, 0);
    header[0] = 0x45;
    header[8] = 64;
    header[9] = 1;
    std::memcpy(&header[12], &source, 4);
    std::memcpy(&header[16], &destination, 4);
    return header;
}

void CheckJudge(const EchoReply& reply, std::uint8_t dataSize)
{
    const std::uint32_t verdict = JudgeEchoReply(reply, dataSize);
    const bool trueEcho = reply.status == IP_SUCCESS && reply.dataSize == dataSize
        && std::all_of(reply.data.begin(), reply.data.begin() + dataSize,
            [](std::uint8_t b) { return b == kDataByte; });
    Check((verdict == IP_SUCCESS) == trueEcho);
    if (reply.status != IP_SUCCESS)
        Check(verdict == reply.status);
}

void CheckClass(
    const PacketClass& c, std::span<const std::uint8_t> bytes, const EchoTag& tag, bool cut)
{
    switch (c.verdict) {
    case PacketVerdict::NotOurs:
        Check(c.status == 0 && c.source == 0 && c.data.empty());
        return;
    case PacketVerdict::Reply: {
        Check(c.status == IP_SUCCESS && c.source == tag.destination);
        // The data is the tail of what was read, right behind an ICMP header
        // whose checksum holds, unless the packet was cut short.
        Check(c.data.data() + c.data.size() == bytes.data() + bytes.size());
        Check(c.data.data() >= bytes.data() + kIcmpHeaderSize);
        const std::span<const std::uint8_t> icmp(
            c.data.data() - kIcmpHeaderSize, c.data.size() + kIcmpHeaderSize);
        Check(icmp[0] == 0 && (cut || InternetChecksum(icmp) == 0));
        Check(cut ? c.dataSize > c.data.size() : c.dataSize == c.data.size());
        return;
    }
    case PacketVerdict::Error:
        Check(c.status != IP_SUCCESS && c.data.empty());
        return;
    }
    __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kPreamble)
        return 0;
    const std::uint8_t flags = data[0];
    EchoTag tag;
    tag.identifier = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
    tag.sequence = static_cast<std::uint16_t>(data[3] << 8 | data[4]);
    tag.destination = Read32(data + 5);
    const std::uint32_t sender = Read32(data + 9);
    const std::uint8_t dataSize = data[13];
    const std::uint8_t queuedType = data[14];
    const std::uint8_t queuedCode = data[15];
    const std::span<const std::uint8_t> body(data + kPreamble, size - kPreamble);
    const IcmpSocketKind kind = (flags & kRaw) ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram;

    std::vector<std::uint8_t> packet;
    std::size_t icmpAt = 0;
    if (flags & kWithIpHeader) {
        packet = IpHeader(sender, 0x0100007f);
        icmpAt = packet.size();
    }
    const bool built = (flags & kBuildReply) && body.size() <= 255;
    if (built) {
        // A true echo reply to this request carrying the body as its data:
        // whatever the bytes, it must come out as the reply with that data.
        std::vector<std::uint8_t> request(kIcmpHeaderSize + body.size());
        BuildEchoRequest(request, tag, body);
        request[0] = 0;
        packet.insert(packet.end(), request.begin(), request.end());
        PutChecksum(packet, icmpAt);
    } else {
        packet.insert(packet.end(), body.begin(), body.end());
        if (flags & kFixChecksum)
            PutChecksum(packet, icmpAt);
    }

    // An exact-size heap copy, so that AddressSanitizer sees any read past it.
    std::vector<std::uint8_t> read(packet);
    const std::span<const std::uint8_t> bytes(read);
    // Raw sockets report the sender in the IP header; the datagram sender is
    // the address the packet came from, taken from the request when built.
    const std::uint32_t from = built ? tag.destination : sender;
    if (built && (flags & kWithIpHeader))
        std::memcpy(&read[12], &tag.destination, 4);

    // A packet cut short by the receive buffer said how long it was.
    const bool cut = (flags & kCut) != 0;
    const PacketClass c
        = ClassifyIcmpPacket(bytes, bytes.size() + (cut ? 1000 : 0), kind, from, tag);
    CheckClass(c, bytes, tag, cut);
    // The shared raw socket finds the waiting probe by this key before it
    // judges the packet: whatever would answer the request must lead to it.
    const std::optional<EchoKey> key = RawPacketEchoKey(bytes);
    if (kind == IcmpSocketKind::Raw && c.verdict != PacketVerdict::NotOurs)
        Check(key == static_cast<const EchoKey&>(tag));
    if (built && (kind == IcmpSocketKind::Raw) == ((flags & kWithIpHeader) != 0)) {
        Check(c.verdict == PacketVerdict::Reply);
        Check(std::equal(c.data.begin(), c.data.end(), body.begin(), body.end()));
    }
    CheckJudge(AnswerReply(c), dataSize);
    const std::optional<EchoKey> sent = SentPacketEchoKey(bytes);
    Check(!sent || bytes.size() >= kIcmpHeaderSize + 20);

    const PacketClass q
        = ClassifyQueuedIcmpError(queuedType, queuedCode, bytes, tag.destination, sender, tag);
    Check(q.verdict != PacketVerdict::Reply);
    CheckClass(q, bytes, tag, false);
    if (q.verdict == PacketVerdict::Error) {
        Check(q.source == sender && IcmpErrorStatus(queuedType, queuedCode) == q.status);
        Check(bytes.size() >= kIcmpHeaderSize && bytes[0] == 8);
    }
    CheckJudge(AnswerReply(q), dataSize);
    return 0;
}
