// The pure part of the echo layer: telling the answer to one request apart
// from everything else an ICMP socket may read, and the probe's tests of it.

#include "icmp/IcmpPacket.h"
#include "icmp/EchoLayer.h"
#include "icmp/IcmpProbe.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Addr(const char* dotted)
{
    return inet_addr(dotted);
}

const std::uint32_t kProber = Addr("198.18.0.1");
const std::uint32_t kDestination = Addr("198.18.0.10");
const std::uint32_t kRouter = Addr("198.18.0.254");
const EchoTag kTag {0x1234, 0xbeef, kDestination};
const Bytes kData(32, 0x45);

void Put16(Bytes& b, std::size_t at, std::uint16_t v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

Bytes Icmp(
    std::uint8_t type, std::uint8_t code, std::uint16_t id, std::uint16_t seq, const Bytes& payload)
{
    Bytes b(8 + payload.size(), 0);
    b[0] = type;
    b[1] = code;
    Put16(b, 4, id);
    Put16(b, 6, seq);
    std::copy(payload.begin(), payload.end(), b.begin() + 8);
    Put16(b, 2, InternetChecksum(b));
    return b;
}

Bytes Reply(std::uint16_t id = kTag.identifier, std::uint16_t seq = kTag.sequence,
    const Bytes& data = kData)
{
    return Icmp(0, 0, id, seq, data);
}

Bytes Ip(std::uint32_t source, std::uint32_t destination, const Bytes& payload,
    std::uint8_t protocol = 1, std::size_t optionBytes = 0)
{
    Bytes b(20 + optionBytes, 0);
    b[0] = static_cast<std::uint8_t>(0x40 | (20 + optionBytes) / 4);
    Put16(b, 2, static_cast<std::uint16_t>(b.size() + payload.size()));
    b[8] = 64;
    b[9] = protocol;
    std::memcpy(&b[12], &source, 4);
    std::memcpy(&b[16], &destination, 4);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

// What a router quotes of our request: its IP header and eight more bytes.
Bytes Quote(std::uint16_t id = kTag.identifier, std::uint16_t seq = kTag.sequence,
    std::uint32_t destination = kDestination, std::uint8_t type = 8, std::size_t optionBytes = 0,
    std::uint8_t protocol = 1)
{
    const Bytes request
        = Ip(kProber, destination, Icmp(type, 0, id, seq, kData), protocol, optionBytes);
    return Bytes(request.begin(), request.begin() + 20 + optionBytes + 8);
}

Bytes Error(std::uint8_t type, std::uint8_t code, const Bytes& quoted = Quote())
{
    return Icmp(type, code, 0, 0, quoted);
}

Bytes Damaged(Bytes b, std::size_t at)
{
    b[at] ^= 0x01;
    return b;
}

struct PacketRow
{
    std::string name;
    IcmpSocketKind kind;
    Bytes bytes;
    PacketVerdict verdict;
    std::uint32_t status = IP_SUCCESS;
    std::uint32_t source = 0;
    std::size_t dataSize = 0;
    std::uint32_t sender = kDestination; // what a datagram socket names as the sender
    std::size_t cutFrom = 0; // a packet this long was cut to the bytes read; 0: not cut
};

// The first `size` bytes of a packet, as a receive buffer of that size holds it.
Bytes Cut(Bytes b, std::size_t size)
{
    b.resize(size);
    return b;
}

std::vector<PacketRow> Rows()
{
    const auto raw = IcmpSocketKind::Raw;
    const auto datagram = IcmpSocketKind::Datagram;
    const auto no = PacketVerdict::NotOurs;
    const auto reply = PacketVerdict::Reply;
    const auto error = PacketVerdict::Error;
    Bytes odd = Reply(kTag.identifier, kTag.sequence, Bytes(7, 0x45));
    const Bytes long1400 = Reply(kTag.identifier, kTag.sequence, Bytes(1400, 0x45));
    return {
        {"Reply", raw, Ip(kDestination, kProber, Reply()), reply, IP_SUCCESS, kDestination, 32},
        {"ReplyWithoutData", raw, Ip(kDestination, kProber, Reply(0x1234, 0xbeef, {})), reply,
            IP_SUCCESS, kDestination, 0},
        {"ReplyOfOddLength", raw, Ip(kDestination, kProber, odd), reply, IP_SUCCESS, kDestination,
            7},
        {"ReplyBehindIpOptions", raw, Ip(kDestination, kProber, Reply(), 1, 8), reply, IP_SUCCESS,
            kDestination, 32},
        {"ReplyToOtherIdentifier", raw, Ip(kDestination, kProber, Reply(0x1235)), no},
        {"ReplyToOtherSequence", raw, Ip(kDestination, kProber, Reply(0x1234, 0xbef0)), no},
        {"ReplyFromOtherAddress", raw, Ip(kRouter, kProber, Reply()), no},
        {"ReplyWithBadChecksum", raw, Ip(kDestination, kProber, Damaged(Reply(), 2)), no},
        {"ReplyWithDataChangedInTransit", raw, Ip(kDestination, kProber, Damaged(Reply(), 20)), no},
        {"OwnRequestSeenOnLoopback", raw,
            Ip(kProber, kDestination, Icmp(8, 0, 0x1234, 0xbeef, kData)), no},
        {"NotIcmp", raw, Ip(kDestination, kProber, Reply(), 17), no},
        {"NotIpv4", raw,
            [] {
                Bytes b = Ip(kDestination, kProber, Reply());
                b[0] = 0x65;
                return b;
            }(),
            no},
        {"HeaderLengthTooSmall", raw,
            [] {
                Bytes b = Ip(kDestination, kProber, Reply());
                b[0] = 0x44;
                return b;
            }(),
            no},
        {"HeaderLongerThanPacket", raw,
            [] {
                Bytes b = Ip(kDestination, kProber, {});
                b[0] = 0x4f;
                return b;
            }(),
            no},
        {"IcmpHeaderCut", raw,
            Ip(kDestination, kProber, Bytes {0, 0, 0xff, 0xff, 0x12, 0x34, 0xbe}), no},
        {"Empty", raw, {}, no},
        {"HostUnreachable", raw, Ip(kRouter, kProber, Error(3, 1)), error, IP_DEST_HOST_UNREACHABLE,
            kRouter},
        {"NetUnreachable", raw, Ip(kRouter, kProber, Error(3, 0)), error, IP_DEST_NET_UNREACHABLE,
            kRouter},
        {"PortUnreachable", raw, Ip(kRouter, kProber, Error(3, 3)), error, IP_DEST_PORT_UNREACHABLE,
            kRouter},
        {"TtlExpiredInTransit", raw, Ip(kRouter, kProber, Error(11, 0)), error,
            IP_TTL_EXPIRED_TRANSIT, kRouter},
        {"TtlExpiredInReassembly", raw, Ip(kRouter, kProber, Error(11, 1)), error,
            IP_TTL_EXPIRED_REASSEM, kRouter},
        {"SourceQuenchIsIgnored", raw, Ip(kRouter, kProber, Error(4, 0)), no},
        {"ErrorQuotingIpOptions", raw,
            Ip(kRouter, kProber, Error(3, 1, Quote(0x1234, 0xbeef, kDestination, 8, 4))), error,
            IP_DEST_HOST_UNREACHABLE, kRouter},
        {"RedirectIsNoError", raw, Ip(kRouter, kProber, Error(5, 1)), no},
        {"ErrorAboutOtherIdentifier", raw, Ip(kRouter, kProber, Error(3, 1, Quote(0x4321))), no},
        {"ErrorAboutOtherSequence", raw, Ip(kRouter, kProber, Error(3, 1, Quote(0x1234, 0xbef0))),
            no},
        {"ErrorAboutOtherDestination", raw,
            Ip(kRouter, kProber, Error(3, 1, Quote(0x1234, 0xbeef, kRouter))), no},
        {"ErrorAboutAReply", raw,
            Ip(kRouter, kProber, Error(3, 1, Quote(0x1234, 0xbeef, kDestination, 0))), no},
        {"ErrorAboutUdp", raw,
            Ip(kRouter, kProber, Error(3, 3, Quote(0x1234, 0xbeef, kDestination, 8, 0, 17))), no},
        {"ErrorQuotingTooLittle", raw,
            [] {
                Bytes q = Quote();
                q.resize(24);
                return Ip(kRouter, kProber, Error(3, 1, q));
            }(),
            no},
        {"ErrorWithBadChecksum", raw, Ip(kRouter, kProber, Damaged(Error(3, 1), 3)), no},
        {"DatagramReply", datagram, Reply(), reply, IP_SUCCESS, kDestination, 32},
        {"DatagramReplyWithoutData", datagram, Reply(0x1234, 0xbeef, {}), reply, IP_SUCCESS,
            kDestination, 0},
        {"DatagramReplyFromOtherAddress", datagram, Reply(), no, 0, 0, 0, kRouter},
        {"DatagramReplyToOtherSequence", datagram, Reply(0x1234, 0xbef0), no},
        {"DatagramReplyWithBadChecksum", datagram, Damaged(Reply(), 3), no},
        {"DatagramIpHeaderIsData", datagram, Ip(kDestination, kProber, Reply()), no},
        // An answer longer than the buffer is cut short: its header still
        // says whose it is, and how much it echoed.
        {"LongReplyCutShort", raw, Cut(Ip(kDestination, kProber, long1400), 1024), reply,
            IP_SUCCESS, kDestination, 1400, kDestination, 1428},
        {"LongReplyToOtherRequestCutShort", raw,
            Cut(Ip(kDestination, kProber, Reply(0x1235, kTag.sequence, Bytes(1400, 0x45))), 1024),
            no, 0, 0, 0, kDestination, 1428},
        {"DatagramLongReplyCutShort", datagram, Cut(long1400, 1024), reply, IP_SUCCESS,
            kDestination, 1400, kDestination, 1408},
    };
}

class ClassifyTest : public testing::TestWithParam<PacketRow>
{ };

TEST_P(ClassifyTest, SaysWhetherThePacketAnswersTheRequest)
{
    const PacketRow& row = GetParam();
    const std::size_t arrived = row.cutFrom != 0 ? row.cutFrom : row.bytes.size();
    const PacketClass c = ClassifyIcmpPacket(row.bytes, arrived, row.kind, row.sender, kTag);
    EXPECT_EQ(c.verdict, row.verdict);
    if (row.verdict == PacketVerdict::NotOurs)
        return;
    EXPECT_EQ(c.status, row.status);
    EXPECT_EQ(c.source, row.source);
    EXPECT_EQ(c.dataSize, row.dataSize);
    EXPECT_LE(c.data.size(), row.dataSize);
    if (row.verdict == PacketVerdict::Reply) {
        EXPECT_EQ(c.data.data() + c.data.size(), row.bytes.data() + row.bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Packets, ClassifyTest, testing::ValuesIn(Rows()),
    [](const testing::TestParamInfo<PacketRow>& info) { return info.param.name; });

// Raw sockets read whatever arrives: any cut or damage of a packet, and noise,
// must come back as a verdict, never as a read past the bytes.
TEST(ClassifyRobustness, EveryCutAndDamageOfEveryPacketIsSafe)
{
    for (const PacketRow& row : Rows()) {
        for (std::size_t length = 0; length <= row.bytes.size(); ++length) {
            const Bytes cut(row.bytes.begin(), row.bytes.begin() + length);
            const PacketClass c = ClassifyIcmpPacket(cut, cut.size(), row.kind, kDestination, kTag);
            // A packet that arrived short fails its checksum; the long reply's
            // repeated data meets it again at some lengths, by chance.
            if (length < row.bytes.size() && row.verdict == PacketVerdict::Reply
                && row.cutFrom == 0) {
                EXPECT_EQ(c.verdict, PacketVerdict::NotOurs) << row.name << " cut to " << length;
            }
        }
        for (std::size_t at = 0; at < row.bytes.size(); ++at) {
            Bytes damaged = row.bytes;
            damaged[at] = static_cast<std::uint8_t>(~damaged[at]);
            ClassifyIcmpPacket(damaged, damaged.size(), row.kind, kDestination, kTag);
        }
    }
    std::mt19937 random(20240601);
    for (int i = 0; i < 20000; ++i) {
        Bytes noise(random() % 120);
        for (std::uint8_t& b : noise)
            b = static_cast<std::uint8_t>(random());
        if (!noise.empty())
            noise[0] = i % 2 ? 0x45 : noise[0];
        const PacketClass c
            = ClassifyIcmpPacket(noise, noise.size(), IcmpSocketKind::Raw, kDestination, kTag);
        EXPECT_EQ(c.verdict, PacketVerdict::NotOurs);
    }
}

TEST(BuildEchoRequest, WritesARequestThatAReplyCanBeMatchedTo)
{
    for (const std::size_t size : {0, 1, 32, 255}) {
        Bytes out(kMaxEchoRequestSize);
        const Bytes data(size, 0x45);
        const std::size_t written = BuildEchoRequest(out, kTag, data);
        ASSERT_EQ(written, kIcmpHeaderSize + size);
        out.resize(written);
        EXPECT_EQ(out, Icmp(8, 0, kTag.identifier, kTag.sequence, data));
        // The answering host turns it round: type 0, checksum adjusted.
        Bytes reply = out;
        reply[0] = 0;
        Put16(reply, 2, 0);
        Put16(reply, 2, InternetChecksum(reply));
        EXPECT_EQ(
            ClassifyIcmpPacket(reply, reply.size(), IcmpSocketKind::Datagram, kDestination, kTag)
                .verdict,
            PacketVerdict::Reply);
    }
}

// The copy of a sent request that comes back with the stamp of its leaving:
// behind the link-layer header of Ethernet and loopback, or none.
TEST(SentPacketEchoKey, FindsTheRequestInTheCopy)
{
    const Bytes request = Ip(kProber, kDestination, Icmp(8, 0, 0x1234, 0xbeef, kData));
    Bytes ethernet(14, 0);
    ethernet[12] = 0x08;
    ethernet.insert(ethernet.end(), request.begin(), request.end());
    const EchoKey key {0x1234, 0xbeef};
    EXPECT_EQ(SentPacketEchoKey(ethernet), key);
    EXPECT_EQ(SentPacketEchoKey(request), key) << "no link-layer header";
    EXPECT_EQ(SentPacketEchoKey(Ip(kProber, kDestination, Reply())), std::nullopt);
    EXPECT_EQ(SentPacketEchoKey(Bytes(ethernet.begin(), ethernet.begin() + 40)), std::nullopt);
}

TEST(InternetChecksum, MatchesTheWorkedExampleOfRfc1071)
{
    const Bytes bytes {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(bytes), static_cast<std::uint16_t>(~0xddf2));
}

struct QueuedRow
{
    const char* name;
    std::uint8_t type;
    std::uint8_t code;
    Bytes quoted;
    std::uint32_t destination;
    PacketVerdict verdict;
    std::uint32_t status;
};

TEST(ClassifyQueuedIcmpError, TakesOnlyErrorsAboutThisRequest)
{
    const Bytes request = Icmp(8, 0, kTag.identifier, kTag.sequence, kData);
    const Bytes header(request.begin(), request.begin() + 8);
    const QueuedRow rows[] = {
        {"host unreachable", 3, 1, request, kDestination, PacketVerdict::Error,
            IP_DEST_HOST_UNREACHABLE},
        {"eight bytes quoted", 11, 0, header, kDestination, PacketVerdict::Error,
            IP_TTL_EXPIRED_TRANSIT},
        {"other sequence", 3, 1, Icmp(8, 0, kTag.identifier, 1, kData), kDestination,
            PacketVerdict::NotOurs, 0},
        {"other destination", 3, 1, request, kRouter, PacketVerdict::NotOurs, 0},
        {"redirect", 5, 0, request, kDestination, PacketVerdict::NotOurs, 0},
        {"quote cut", 3, 1, Bytes(request.begin(), request.begin() + 7), kDestination,
            PacketVerdict::NotOurs, 0},
        {"nothing quoted", 3, 1, {}, kDestination, PacketVerdict::NotOurs, 0},
    };
    for (const QueuedRow& row : rows) {
        SCOPED_TRACE(row.name);
        const PacketClass c = ClassifyQueuedIcmpError(
            row.type, row.code, row.quoted, row.destination, kRouter, kTag);
        EXPECT_EQ(c.verdict, row.verdict);
        if (row.verdict == PacketVerdict::Error) {
            EXPECT_EQ(c.status, row.status);
            EXPECT_EQ(c.source, kRouter);
        }
    }
}

EchoReply Answer(std::uint32_t status, std::uint32_t size, int changedAt = -1)
{
    EchoReply reply;
    reply.status = status;
    reply.dataSize = size;
    reply.data.fill(0x45);
    if (changedAt >= 0)
        reply.data[static_cast<std::size_t>(changedAt)] = 0x46;
    return reply;
}

TEST(JudgeEchoReply, PassesOnlyTrueEchoesAndSaysWhyOthersFail)
{
    struct Row
    {
        const char* name;
        EchoReply reply;
        std::uint8_t dataSize;
        std::uint32_t verdict;
    };
    const Row rows[] = {
        {"true echo", Answer(IP_SUCCESS, 32), 32, IP_SUCCESS},
        {"no data asked, none came", Answer(IP_SUCCESS, 0), 0, IP_SUCCESS},
        {"all 255 bytes", Answer(IP_SUCCESS, 255), 255, IP_SUCCESS},
        {"status first, before the length", Answer(IP_DEST_HOST_UNREACHABLE, 0), 32,
            IP_DEST_HOST_UNREACHABLE},
        {"one byte short", Answer(IP_SUCCESS, 31), 32, ERROR_UNEXP_NET_ERR},
        {"one byte long", Answer(IP_SUCCESS, 33), 32, ERROR_UNEXP_NET_ERR},
        {"more than any request carries", Answer(IP_SUCCESS, 996), 255, ERROR_UNEXP_NET_ERR},
        {"first byte changed", Answer(IP_SUCCESS, 32, 0), 32, ERROR_UNEXP_NET_ERR},
        {"last byte changed", Answer(IP_SUCCESS, 32, 31), 32, ERROR_UNEXP_NET_ERR},
        {"a byte past the data changed", Answer(IP_SUCCESS, 32, 32), 32, IP_SUCCESS},
    };
    for (const Row& row : rows)
        EXPECT_EQ(JudgeEchoReply(row.reply, row.dataSize), row.verdict) << row.name;
}

} // namespace
