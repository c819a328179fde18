// Real ICMP against loopback and the test host, with the prober in a network
// namespace of its own, over both socket kinds.

#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpPacket.h"
#include "icmp/IcmpProbe.h"
#include "icmp/IcmpSockets.h"
#include "icmp/RawEchoLayer.h"
#include "icmp/RawReplyFilter.h"
#include "icmp/Resolver.h"
#include "tests/support/NetnsLab.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <latch>
#include <optional>
#include <thread>
#include <vector>

namespace {

const std::vector<std::string> kTestHosts {
    "198.18.0.10=echo",
    "198.18.0.11=delay:150",
    "198.18.0.12=silent",
    "198.18.0.13=corrupt",
    "198.18.0.14=short",
    "198.18.0.15=twice",
    "198.18.0.16=from:198.18.0.2",
    "198.18.0.17=unreach:1",
    "198.18.0.18=unreach:0",
    "198.18.0.19=unreach:3",
    "198.18.0.20=exceeded",
    "198.18.0.21=hops:10",
    "198.18.0.22=noise",
    "198.18.0.23=badsum",
    "198.18.0.24=unreach:1:198.18.0.2",
    "198.18.0.25=exceeded:198.18.0.2",
    "198.18.0.26=long:1400",
    "198.18.0.27=delay:20",
    "198.18.0.30=delay:40",
    "198.18.0.31=delay:80",
};

constexpr ProbeReply kUntouched {0xdeadbeef, 0xdeadbeef, 0xdeadbeef};

struct Outcome
{
    int result = 0;
    std::uint32_t status = 0;
    std::uint32_t source = 0;
    ProbeReply reply = kUntouched;
    std::int64_t elapsedMs = 0;
};

Outcome Probe(const EchoLayer* echo, const char* host, std::uint8_t ttl, std::uint32_t timeout,
    std::uint8_t dataSize)
{
    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    const ProbeOutcome probed = echo != nullptr ? IcmpProbe(*echo, host, ttl, timeout, dataSize)
                                                : IcmpProbe(host, ttl, timeout, dataSize);
    outcome.result = probed.Answered() ? 1 : 0;
    outcome.status = probed.status;
    outcome.source = probed.source;
    if (probed.Answered())
        outcome.reply = probed.reply;
    outcome.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start)
                            .count();
    return outcome;
}

std::uint32_t Address(const char* dotted)
{
    return *ResolveHostText(dotted);
}

std::string KindName(const testing::TestParamInfo<IcmpSocketKind>& info)
{
    return info.param == IcmpSocketKind::Datagram ? "Datagram" : "Raw";
}

// One namespace lab per test process; each test enters the prober side.
class LabTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        unavailable = NetnsLab::WhyUnavailable();
        if (unavailable.empty()) {
            lab = new NetnsLab;
            startError = lab->Start(kTestHosts, 180, true);
        }
    }

    static void TearDownTestSuite()
    {
        delete lab;
        lab = nullptr;
    }

    void Prepare(bool openPingGroupRange)
    {
        if (!unavailable.empty())
            GTEST_SKIP() << "Namespace tests skipped: " << unavailable;
        ASSERT_EQ(startError, "");
        ASSERT_TRUE(lab->SetPingGroupRange(openPingGroupRange));
        ASSERT_TRUE(lab->EnterProber());
    }

    void TearDown() override
    {
        if (lab != nullptr)
            lab->LeaveProber();
    }

    static inline NetnsLab* lab = nullptr;
    static inline std::string unavailable;
    static inline std::string startError;
};

class ProbeKindTest : public LabTest, public testing::WithParamInterface<IcmpSocketKind>
{
protected:
    // The datagram kind works only where ping_group_range lets it; the raw
    // kind must not depend on it, so it runs with the range closed.
    void SetUp() override
    {
        Prepare(GetParam() == IcmpSocketKind::Datagram);
        echo = IcmpLibrary::MakeEcho(GetParam());
    }

    std::unique_ptr<EchoLayer> echo;
};

struct EchoCase
{
    const char* name;
    const char* host;
    std::uint8_t dataSize;
    std::uint8_t ttl;
    const char* from;
    std::uint32_t minRtt;
    std::uint32_t maxRtt;
};

TEST_P(ProbeKindTest, TrueEchoesSucceedWithTheirRoundTripTime)
{
    const EchoCase cases[] = {
        // Loopback answers within the millisecond, but a loaded machine
        // under a sanitizer has been seen to take one or more.
        {"as the program probes", "127.0.0.1", 32, 10, "127.0.0.1", 0, 10},
        {"no data", "127.0.0.1", 0, 10, "127.0.0.1", 0, 10},
        {"as much data as can be asked for", "127.0.0.1", 255, 10, "127.0.0.1", 0, 10},
        {"answered from the address probed", "127.0.0.2", 32, 10, "127.0.0.2", 0, 10},
        {"the short literal form", "127.1", 32, 10, "127.0.0.1", 0, 10},
        {"a name, looked up", "localhost", 32, 10, "127.0.0.1", 0, 10},
        // The test host answers from user space, slower under sanitizers.
        {"test host answering at once", "198.18.0.10", 32, 10, "198.18.0.10", 0, 10},
        {"test host, no data", "198.18.0.10", 0, 10, "198.18.0.10", 0, 10},
        {"answers after 150 ms", "198.18.0.11", 32, 10, "198.18.0.11", 150, 159},
        {"answers twice", "198.18.0.15", 32, 10, "198.18.0.15", 0, 10},
        {"ten hops away", "198.18.0.21", 32, 10, "198.18.0.21", 0, 10},
        {"foreign replies first", "198.18.0.22", 32, 10, "198.18.0.22", 20, 30},
    };
    for (const EchoCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Probe(&*echo, c.host, c.ttl, 3000, c.dataSize);
        ASSERT_EQ(o.result, 1) << "status " << o.status;
        EXPECT_EQ(o.status, IP_SUCCESS);
        EXPECT_EQ(o.reply.replyAddress, Address(c.from));
        EXPECT_GE(o.reply.roundTripTime, c.minRtt);
        EXPECT_LE(o.reply.roundTripTime, c.maxRtt);
    }
}

struct FailureCase
{
    const char* host;
    std::uint8_t ttl;
    std::uint32_t timeout;
    std::uint32_t status;
    std::int64_t minElapsedMs;
    std::int64_t maxElapsedMs;
    const char* source = nullptr; // who sent the answer that failed it
};

// An answer that ends the wait "at once" comes well before the 5 s timeout,
// also on a loaded machine and in sanitizer builds.
constexpr std::int64_t kAtOnceMs = 1500 * KELVORAN_SLOWDOWN;

void ExpectFailures(const EchoLayer& echo, const std::vector<FailureCase>& cases)
{
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " with TTL " + std::to_string(c.ttl));
        const Outcome o = Probe(&echo, c.host, c.ttl, c.timeout, 32);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.source, c.source ? Address(c.source) : 0);
        EXPECT_EQ(o.reply.replyAddress, kUntouched.replyAddress);
        EXPECT_EQ(o.reply.roundTripTime, kUntouched.roundTripTime);
        EXPECT_GE(o.elapsedMs, c.minElapsedMs);
        EXPECT_LE(o.elapsedMs, c.maxElapsedMs);
    }
}

TEST_P(ProbeKindTest, FalseEchoesFailAtOnce)
{
    ExpectFailures(*echo,
        {
            {"198.18.0.13", 10, 5000, ERROR_UNEXP_NET_ERR, 0, kAtOnceMs,
                "198.18.0.13"}, // a byte changed
            {"198.18.0.14", 10, 5000, ERROR_UNEXP_NET_ERR, 0, kAtOnceMs,
                "198.18.0.14"}, // one byte short
            // More than the receive buffer holds: cut short, and still judged.
            {"198.18.0.26", 10, 5000, ERROR_UNEXP_NET_ERR, 0, kAtOnceMs, "198.18.0.26"},
        });
}

TEST_P(ProbeKindTest, IcmpErrorsEndTheWaitAtOnce)
{
    ExpectFailures(*echo,
        {
            {"198.18.0.17", 10, 5000, IP_DEST_HOST_UNREACHABLE, 0, kAtOnceMs, "198.18.0.17"},
            {"198.18.0.18", 10, 5000, IP_DEST_NET_UNREACHABLE, 0, kAtOnceMs, "198.18.0.18"},
            {"198.18.0.19", 10, 5000, IP_DEST_PORT_UNREACHABLE, 0, kAtOnceMs, "198.18.0.19"},
            {"198.18.0.20", 10, 5000, IP_TTL_EXPIRED_TRANSIT, 0, kAtOnceMs, "198.18.0.20"},
            {"198.18.0.21", 9, 5000, IP_TTL_EXPIRED_TRANSIT, 0, kAtOnceMs, "198.18.0.21"},
            // From a router on the way, as the error names it.
            {"198.18.0.24", 10, 5000, IP_DEST_HOST_UNREACHABLE, 0, kAtOnceMs, "198.18.0.2"},
            {"198.18.0.25", 10, 5000, IP_TTL_EXPIRED_TRANSIT, 0, kAtOnceMs, "198.18.0.2"},
        });
}

// The kernel stamps the request as it leaves and the answer as it arrives:
// threads that take the cores from the prober between its reading of a clock
// and its send, or before it reads the answer, add nothing to the round trip.
// They take the cores from the test host as well, so each reading is judged
// by when that answer really went out.
TEST_P(ProbeKindTest, RoundTripsStayTrueOnABusyMachine)
{
    std::atomic<bool> stop {false};
    std::vector<std::jthread> busy;
    for (unsigned i = 0; i < 2 * std::max(1u, std::thread::hardware_concurrency()); ++i)
        busy.emplace_back([&stop] {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            while (
                !stop.load(std::memory_order_relaxed) && std::chrono::steady_clock::now() < end) { }
        });
    lab->HeldAnswers("198.18.0.27");
    std::vector<ProbeOutcome> readings;
    for (int i = 0; i < 20; ++i)
        readings.push_back(IcmpProbe(*echo, "198.18.0.27", 10, 3000, 32));
    stop = true;
    // The host tells of each answer just after sending it.
    std::vector<NetnsLab::Hold> holds;
    for (int tries = 0; holds.size() < readings.size() && tries < 100; ++tries) {
        if (tries > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::vector<NetnsLab::Hold> more = lab->HeldAnswers("198.18.0.27");
        holds.insert(holds.end(), more.begin(), more.end());
    }
    ASSERT_EQ(holds.size(), readings.size());
    for (std::size_t i = 0; i < readings.size(); ++i) {
        const long long us = readings[i].Answered() ? readings[i].reply.roundTripUs : -1;
        EXPECT_TRUE(
            us >= 20000 && us >= holds[i].fromNs / 1000 - 1 && us <= holds[i].toNs / 1000 + 200)
            << us << " us for an answer sent " << holds[i].fromNs / 1000 << " to "
            << holds[i].toNs / 1000 << " us after its request";
    }
}

// The answer to a probe that gave up comes while the next probe to the same
// host waits: it must reach nobody, so the next probe's time is its own.
TEST_P(ProbeKindTest, AnAnswerAfterItsTimeoutReachesNobody)
{
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const Outcome late = Probe(&*echo, "198.18.0.11", 10, 60, 32);
        EXPECT_EQ(late.status, IP_REQ_TIMED_OUT);
        const Outcome next = Probe(&*echo, "198.18.0.11", 10, 3000, 32);
        ASSERT_EQ(next.result, 1) << "status " << next.status;
        EXPECT_GE(next.reply.roundTripTime, 150u);
    }
}

TEST_P(ProbeKindTest, WhatIsNotTheAnswerIsWaitedOutToTheTimeout)
{
    ExpectFailures(*echo,
        {
            {"198.18.0.12", 10, 300, IP_REQ_TIMED_OUT, 300,
                300 + 500 * KELVORAN_SLOWDOWN}, // silent
            {"198.18.0.16", 10, 300, IP_REQ_TIMED_OUT, 300,
                300 + 500 * KELVORAN_SLOWDOWN}, // other source
            {"198.18.0.23", 10, 300, IP_REQ_TIMED_OUT, 300,
                300 + 500 * KELVORAN_SLOWDOWN}, // bad checksum
        });
}

// Counts what the probe asks of the real echo layer. With send false it only
// records where a request would go and fails it, sending nothing.
class CountingEcho : public EchoLayer
{
public:
    CountingEcho(const EchoLayer& real, bool send)
        : real(real)
        , send(send)
    { }
    EchoHandle CreateHandle(std::uint32_t* failure) const override
    {
        ++handles;
        return real.CreateHandle(failure);
    }
    EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const override
    {
        destination = request.destination;
        if (!send)
            return NoAnswer(IP_GENERAL_FAILURE);
        return real.SendEcho(handle, request);
    }
    void CloseHandle(EchoHandle handle) const override { real.CloseHandle(handle); }

    const EchoLayer& real;
    const bool send;
    mutable int handles = 0;
    mutable std::uint32_t destination = 0;
};

TEST_P(ProbeKindTest, HostTextsThatCannotBeProbedFailBeforeWaiting)
{
    // The prober's namespace reaches no name server, but a thread in it still
    // reads the machine's resolver files and could reach a local name service
    // through its socket: the lookup that must fail runs where neither can be.
    if (!InProcessWithoutNameServer())
        return;
    struct Case
    {
        const char* host;
        std::uint8_t ttl;
        std::uint32_t status;
        int handles;
        std::uint32_t destination;
        bool send = true;
    };
    const Case cases[] = {
        {"no-such-host.invalid", 10, WSAHOST_NOT_FOUND, 0, 0},
        {"", 10, WSAHOST_NOT_FOUND, 0, 0},
        // Parses as "not an address", so it goes to the name lookup, which
        // gives the broadcast address back as the destination. Tests send
        // only to loopback and the test hosts: this request is recorded and
        // failed without being sent.
        {"255.255.255.255", 10, IP_GENERAL_FAILURE, 1, 0xffffffff, false},
        {"127.0.0.1", 0, IP_BAD_OPTION, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        const CountingEcho counting(*echo, c.send);
        const Outcome o = Probe(&counting, c.host, c.ttl, 3000, 32);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(counting.handles, c.handles);
        if (c.destination != 0) {
            EXPECT_EQ(counting.destination, c.destination);
        }
        EXPECT_EQ(o.reply.replyAddress, kUntouched.replyAddress);
        EXPECT_LT(o.elapsedMs, 1000);
    }
}

struct Expected
{
    const char* host;
    std::uint8_t ttl;
    std::uint32_t status;
    std::uint32_t minRtt;
    std::uint32_t maxRtt;
};

// Probes on 200 threads released at the same moment, as the scheduler starts
// them when a whole group falls due; every one must get its own answer. Each
// asks for its own number of bytes, so an answer handed to another probe
// fails it; probes to one host with a TTL too short for it get its ICMP error,
// the others its answers. The lower bounds tell the delays apart; the upper
// ones leave room for 200 threads on a small, busy machine.
void ProbeTogether(const EchoLayer* echo)
{
    const Expected targets[] = {
        {"127.0.0.1", 10, IP_SUCCESS, 0, 1500},
        {"198.18.0.10", 10, IP_SUCCESS, 0, 1500},
        {"198.18.0.11", 10, IP_SUCCESS, 150, 1650},
        {"198.18.0.13", 10, ERROR_UNEXP_NET_ERR, 0, 0},
        {"198.18.0.15", 10, IP_SUCCESS, 0, 1500},
        {"198.18.0.17", 10, IP_DEST_HOST_UNREACHABLE, 0, 0},
        {"198.18.0.20", 10, IP_TTL_EXPIRED_TRANSIT, 0, 0},
        {"198.18.0.21", 9, IP_TTL_EXPIRED_TRANSIT, 0, 0},
        {"198.18.0.21", 10, IP_SUCCESS, 0, 1500},
        {"198.18.0.22", 10, IP_SUCCESS, 20, 1520},
        {"198.18.0.30", 10, IP_SUCCESS, 40, 1540},
        {"198.18.0.31", 10, IP_SUCCESS, 80, 1580},
    };
    constexpr int kThreads = 200;
    std::vector<Outcome> outcomes(kThreads);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const Expected& target = targets[i % std::size(targets)];
            start.arrive_and_wait();
            outcomes[i]
                = Probe(echo, target.host, target.ttl, 3000, static_cast<std::uint8_t>(16 + i));
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int i = 0; i < kThreads; ++i) {
        const Expected& target = targets[i % std::size(targets)];
        SCOPED_TRACE(std::string("probe ") + std::to_string(i) + " to " + target.host + " with TTL "
            + std::to_string(target.ttl));
        const Outcome& o = outcomes[i];
        EXPECT_EQ(o.status, target.status);
        if (target.status != IP_SUCCESS) {
            EXPECT_EQ(o.result, 0);
            EXPECT_EQ(o.reply.replyAddress, kUntouched.replyAddress);
            continue;
        }
        EXPECT_EQ(o.result, 1);
        EXPECT_EQ(o.reply.replyAddress, Address(target.host));
        EXPECT_GE(o.reply.roundTripTime, target.minRtt);
        EXPECT_LE(o.reply.roundTripTime, target.maxRtt);
    }
}

TEST_P(ProbeKindTest, TwoHundredProbesAtOnceEachGetTheirOwnAnswer)
{
    ProbeTogether(&*echo);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, ProbeKindTest,
    testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw), KindName);

class RawReplyFilterTest : public LabTest
{
protected:
    void SetUp() override { Prepare(false); }
};

using Bytes = std::vector<std::uint8_t>;

// An ICMP message whose identifier and sequence sit at bytes 4 to 7, with
// its checksum; the payload follows.
Bytes Icmp(
    std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence, const Bytes& payload = {})
{
    Bytes b(8 + payload.size(), 0);
    b[0] = type;
    b[4] = static_cast<std::uint8_t>(identifier >> 8);
    b[5] = static_cast<std::uint8_t>(identifier);
    b[6] = static_cast<std::uint8_t>(sequence >> 8);
    b[7] = static_cast<std::uint8_t>(sequence);
    std::copy(payload.begin(), payload.end(), b.begin() + 8);
    const std::uint16_t checksum = InternetChecksum(b);
    b[2] = static_cast<std::uint8_t>(checksum >> 8);
    b[3] = static_cast<std::uint8_t>(checksum);
    return b;
}

// An ICMP error quoting an echo request with the identifier, behind an IP
// header with optionWords words of options.
Bytes ErrorAbout(
    std::uint8_t type, std::uint16_t identifier, std::uint16_t marker, std::uint8_t optionWords = 0)
{
    Bytes quoted(20 + 4 * optionWords, 0);
    quoted[0] = static_cast<std::uint8_t>(0x45 + optionWords);
    quoted[9] = 1;
    const Bytes request = Icmp(8, identifier, 0);
    quoted.insert(quoted.end(), request.begin(), request.end());
    return Icmp(type, 0, marker, quoted);
}

// The filter runs in the kernel, so it is tested there: forged packets sent
// to loopback, and what reaches a filtered raw socket. The marker in the
// sequence field (the unused field of an error) tells them apart. The shared
// socket filters on the identifier's high byte, which all its requests share.
TEST_F(RawReplyFilterTest, PassesOnlyRepliesAndErrorsForItsIdentifier)
{
    constexpr std::uint16_t kOurs = 0x1234;
    const int filtered = OpenRawIcmpSocket();
    const int sender = OpenRawIcmpSocket();
    ASSERT_GE(filtered, 0);
    ASSERT_GE(sender, 0);
    ASSERT_TRUE(AttachRawReplyFilter(filtered, kOurs, 0xff00));
    const Bytes sent[] = {
        Icmp(0, kOurs, 1), // passes
        Icmp(0, 0x1399, 2), Icmp(0, 0x3412, 3), // other high bytes, one byte-swapped
        ErrorAbout(3, 0x12ff, 4), // passes
        ErrorAbout(3, 0x9912, 5), ErrorAbout(11, kOurs, 6, 2), // passes
        ErrorAbout(5, kOurs, 7), // a redirect
        ErrorAbout(12, kOurs, 8), // passes
        ErrorAbout(4, kOurs, 9), // a source quench
        Icmp(13, kOurs, 10), // a timestamp request
        Icmp(0, 0x1200, 11), // passes
    };
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const Bytes& packet : sent) {
        ASSERT_EQ(sendto(sender, packet.data(), packet.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(packet.size()));
    }
    std::vector<int> passed;
    pollfd p {filtered, POLLIN, 0};
    while (poll(&p, 1, 200) > 0) {
        std::uint8_t buffer[512];
        const ssize_t n = recv(filtered, buffer, sizeof buffer, 0);
        ASSERT_GE(n, 28);
        const std::size_t at = (buffer[0] & 0x0f) * 4u + 6;
        passed.push_back(buffer[at] << 8 | buffer[at + 1]);
    }
    close(filtered);
    close(sender);
    EXPECT_EQ(passed, (std::vector<int> {1, 4, 6, 8, 11}));
}

void SendTo(int socket, const char* address, const Bytes& packet)
{
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = Address(address);
    sendto(socket, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to),
        sizeof to);
}

// The identifier that a raw echo layer's requests carry, as the echo request
// of a probe to loopback shows it to another raw socket.
std::uint16_t IdentifierOf(const EchoLayer& echo, EchoHandle handle)
{
    const int sniffer = OpenRawIcmpSocket();
    std::uint8_t data[32] {};
    echo.SendEcho(handle, {Address("127.0.0.1"), 10, data, 32, 1000});
    std::uint8_t packet[512];
    std::uint16_t identifier = 0;
    while (identifier == 0 && recv(sniffer, packet, sizeof packet, MSG_DONTWAIT) >= 28) {
        const std::size_t at = (packet[0] & 0x0f) * 4u;
        if (packet[at] == 8)
            identifier = static_cast<std::uint16_t>(packet[at + 4] << 8 | packet[at + 5]);
    }
    close(sniffer);
    return identifier;
}

struct DeadlineRow
{
    const char* name;
    const char* queue; // on the prober's uplink meanwhile, or none
    // Done just before the request is sent, on the layer's socket.
    std::function<void(int socket, std::uint16_t identifier)> before;
    std::uint32_t minUs;
    std::uint32_t maxUs;
};

void PrintTo(const DeadlineRow& row, std::ostream* out)
{
    *out << row.name;
}

class DeadlineReadTest : public RawReplyFilterTest, public testing::WithParamInterface<DeadlineRow>
{ };

// An answer that reached the socket before the deadline counts, even where
// nobody read the socket before then: here no reader runs, and the probe
// reads only after its send and when its time is up. The request goes to the
// host that answers after 150 ms, with 400 ms to answer.
TEST_P(DeadlineReadTest, FindsWhatCameInTime)
{
    const DeadlineRow& row = GetParam();
    const RawEchoLayer echo(false);
    std::uint32_t failure = 0;
    const EchoHandle handle = echo.CreateHandle(&failure);
    ASSERT_NE(handle, kInvalidEchoHandle);
    const std::uint16_t identifier = IdentifierOf(echo, handle);
    ASSERT_NE(identifier, 0);
    if (row.queue) {
        ASSERT_EQ(lab->SetProberQueue(row.queue), "");
    }
    if (row.before)
        row.before(handle, identifier);
    std::uint8_t data[32];
    std::fill_n(data, 32, 'E');
    const auto start = std::chrono::steady_clock::now();
    const EchoReply reply = echo.SendEcho(handle, {Address("198.18.0.11"), 10, data, 32, 400});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
    if (row.queue) {
        EXPECT_EQ(lab->SetProberQueue(""), "");
    }
    ASSERT_EQ(reply.answers, 1);
    EXPECT_EQ(reply.status, IP_SUCCESS);
    EXPECT_GE(reply.roundTripUs, row.minUs);
    EXPECT_LE(reply.roundTripUs, row.maxUs);
}

INSTANTIATE_TEST_SUITE_P(Raw, DeadlineReadTest,
    testing::Values(
        DeadlineRow {"InTheSocket", nullptr, nullptr, 150000, 160000},
        // More than the reader takes in one go, twice over: packets with the
        // layer's identifier that answer nobody, then the answer.
        DeadlineRow {"BehindALongBacklog", nullptr,
            [](int, std::uint16_t identifier) {
                const int sender = OpenRawIcmpSocket();
                for (std::uint16_t i = 0; i < 300; ++i)
                    SendTo(sender, "127.0.0.1", Icmp(0, identifier, i, Bytes(32, 'E')));
                close(sender);
            },
            150000, 160000},
        // Known only to have been in the socket at the deadline: at most the
        // timeout.
        DeadlineRow {"WithoutArrivalStamp", nullptr,
            [](int socket, std::uint16_t) {
                const int none = 0;
                setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPING, &none, sizeof none);
            },
            150000, 400000},
        // The request waits in a slow uplink's queue behind 200 others to the
        // silent host: their stamps fill the error queue ahead of its own,
        // which must still reach it, or its round trip takes in the wait.
        DeadlineRow {"ItsStampBehind200Others", "tbf rate 1mbit burst 1600 latency 2s",
            [](int socket, std::uint16_t) {
                for (std::uint16_t i = 0; i < 200; ++i)
                    SendTo(socket, "198.18.0.12", Icmp(8, 0x4321, i, Bytes(32, 'E')));
            },
            150000, 160000}),
    [](const testing::TestParamInfo<DeadlineRow>& info) { return info.param.name; });

// A burst of foreign ICMP just before the request: the answer still finds
// room on the shared socket and reaches its probe.
TEST_F(RawReplyFilterTest, TrafficBeforeTheRequestLeavesRoomForTheAnswer)
{
    const RawEchoLayer echo;
    std::uint32_t failure = 0;
    const EchoHandle handle = echo.CreateHandle(&failure);
    const int sender = OpenRawIcmpSocket();
    ASSERT_NE(handle, kInvalidEchoHandle);
    ASSERT_GE(sender, 0);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Bytes foreign = Icmp(0, 0x4321, 1, Bytes(32, 'E'));
    for (int i = 0; i < 2000; ++i)
        sendto(sender, foreign.data(), foreign.size(), 0, reinterpret_cast<const sockaddr*>(&to),
            sizeof to);
    close(sender);
    std::uint8_t data[32];
    std::fill_n(data, 32, 'E');
    const EchoReply reply = echo.SendEcho(handle, {htonl(INADDR_LOOPBACK), 10, data, 32, 1000});
    EXPECT_EQ(reply.answers, 1);
    EXPECT_EQ(reply.status, IP_SUCCESS);
    echo.CloseHandle(handle);
}

// Through IcmpLibrary, as the program probes: the first Load of this process
// is entered by all 200 threads at once.
class LoadedProbeTest : public LabTest
{
protected:
    void SetUp() override { Prepare(true); }
};

TEST_F(LoadedProbeTest, TwoHundredThreadsLoadAndProbeAtOnce)
{
    ProbeTogether(nullptr);
    ASSERT_EQ(IcmpLibrary::Load(), 1);
    EXPECT_EQ(IcmpLibrary::Kind(), IcmpSocketKind::Datagram);
}

TEST_F(LoadedProbeTest, SilenceFailsAfterTheFullTimeout)
{
    const Outcome o = Probe(nullptr, "198.18.0.12", 10, 5000, 32);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.status, IP_REQ_TIMED_OUT);
    EXPECT_EQ(o.reply.replyAddress, kUntouched.replyAddress);
    EXPECT_GE(o.elapsedMs, 5000);
    EXPECT_LT(o.elapsedMs, 5000 + 500 * KELVORAN_SLOWDOWN);
}

} // namespace
