// The real window probing while the network is in trouble: one of its hosts
// floods the prober with ICMP that answers none of the probes, or the
// prober's uplink drops everything it is given to send.

#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"
#include "icmp/IcmpSockets.h"
#include "icmp/Resolver.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/NetnsLab.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSilentHosts = 20;
constexpr int kFloodPerSecond = 20000;

// Every result the window's probes got, by host, from the real echo path.
struct Results
{
    std::mutex mutex;
    std::map<std::string, std::vector<std::int32_t>> byHost;
    int count = 0;

    int Count()
    {
        std::lock_guard lock(mutex);
        return count;
    }
};

std::shared_ptr<const EchoLayer> RecordingEcho(const std::shared_ptr<Results>& results)
{
    return std::make_shared<const ObservedEcho>(
        [results](std::uint32_t destination, const EchoReply& reply) {
            std::lock_guard lock(results->mutex);
            results->byHost[DottedAddress(destination)].push_back(
                reply.answers == 1 && reply.status == IP_SUCCESS
                    ? static_cast<std::int32_t>(reply.roundTripUs / 1000)
                    : -1);
            ++results->count;
        });
}

bool Idle(FrameDriver& f)
{
    for (int row = 0; row < f.RowCount(); ++row) {
        if (reinterpret_cast<HostEntry*>(f->hostList->GetItemData(row))->busy != 0)
            return false;
    }
    return true;
}

// Waits in the event loop without spinning, so that the process's CPU time
// is the program's own.
bool WaitIdly(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(20);
    if (!done())
        loop.exec();
    return done();
}

// ICMP packets reaching the prober in about a second, as an unfiltered raw
// socket sees them.
int IcmpPacketsInASecond()
{
    const int fd = OpenRawIcmpSocket();
    if (fd < 0)
        return -1;
    int packets = 0;
    const auto end = Clock::now() + std::chrono::seconds(1);
    char buffer[2048];
    while (Clock::now() < end) {
        pollfd p {fd, POLLIN, 0};
        if (poll(&p, 1, 50) > 0) {
            while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0)
                ++packets;
        }
    }
    close(fd);
    return packets;
}

} // namespace

TEST(HostileTraffic, AFloodOfUnrelatedIcmpChangesNoResultAndCostsLittleCpu)
{
    if (const std::string why = NetnsLab::WhyUnavailable(); !why.empty())
        GTEST_SKIP() << "Namespace tests skipped: " << why;
    std::vector<std::string> hosts {
        "198.18.0.10=echo", "198.18.0.11=delay:150", "198.18.0.40=flood:20000"};
    std::string group = "[Lab]\n198.18.0.10 echo\n198.18.0.11 slow\n198.18.0.40 flooder\n";
    for (int i = 0; i < kSilentHosts; ++i) {
        const std::string address = "198.18.0." + std::to_string(100 + i);
        hosts.push_back(address + "=silent");
        group += address + " silent\n";
    }
    NetnsLab lab;
    ASSERT_EQ(lab.Start(hosts), "");
    // Closed to every group: the prober, being root, falls back to raw
    // sockets, which see all ICMP that reaches the namespace.
    ASSERT_TRUE(lab.SetPingGroupRange(false));
    ASSERT_TRUE(lab.EnterProber());
    TempDir dir;
    dir.write("kelvoran.ini", group);

    auto results = std::make_shared<Results>();
    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.echo = RecordingEcho(results);
    FrameDriver f(services);
    f.ChooseGroup("Lab");
    ASSERT_EQ(f.RowCount(), 3 + kSilentHosts);

    // Round after round: all hosts fall due together; the next round starts
    // when every result of this one is in and shown. A result counted but not
    // yet shown would be shown after the clock moved on, and its host would
    // not fall due with the others.
    const int perRound = f.RowCount();
    auto round = [&](int n) {
        clock.Advance(5001);
        return WaitIdly([&] { return results->Count() >= n * perRound && Idle(f); },
            9000 * KELVORAN_SLOWDOWN);
    };
    ASSERT_TRUE(round(1));
    ASSERT_EQ(IcmpLibrary::Kind(), IcmpSocketKind::Raw);
    // The flooder was asked in the first round and has been flooding since.
    const int arriving = IcmpPacketsInASecond();
    EXPECT_GT(arriving, kFloodPerSecond / 2) << "the flood did not reach the prober";

    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    ASSERT_TRUE(round(2));
    ASSERT_TRUE(round(3));
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpuShare = (CpuSeconds() - cpuBefore) / wall;
    std::printf("flood reaching the prober: %d packets/s; program CPU under it: %.1f%% of a core "
                "over %.1f s\n",
        arriving, 100 * cpuShare, wall);

    std::lock_guard lock(results->mutex);
    for (const auto& [host, values] : results->byHost) {
        SCOPED_TRACE(host);
        ASSERT_EQ(values.size(), 3u);
        for (const std::int32_t value : values) {
            if (host == "198.18.0.10") {
                EXPECT_GE(value, 0);
                EXPECT_LE(value, 10 * KELVORAN_SLOWDOWN);
            } else if (host == "198.18.0.11") {
                EXPECT_GE(value, 150);
                EXPECT_LE(value, 150 + 20 * KELVORAN_SLOWDOWN);
            } else {
                EXPECT_EQ(value, -1);
            }
        }
    }
    for (int row = 0; row < f.RowCount(); ++row) {
        const std::string host = f.Text(row, 1);
        if (host != "198.18.0.10" && host != "198.18.0.11") {
            EXPECT_EQ(f.Text(row, 2), "N/A") << host;
        }
    }
    // What reaches the program's one raw socket is thinned in the kernel:
    // about 0.5 % of a core here; reading every flood packet would take some
    // 6 %, and a socket per waiting probe, each reading them all, most of one.
    EXPECT_LT(cpuShare, 0.025 * KELVORAN_SLOWDOWN);
}

class DroppingUplink : public testing::TestWithParam<IcmpSocketKind>
{ };

// The queue of the prober's uplink drops every request (a saturated link, a
// shaper), and the program is idle meanwhile, on both socket kinds. A
// datagram socket is told of the drop: each probe tries again a few times
// and then shows N/A with the reason. A raw socket is told the request went
// out, and its probe times out.
TEST_P(DroppingUplink, EveryHostShowsWhyItIsNotAvailableAndTheProgramStaysIdle)
{
    if (const std::string why = NetnsLab::WhyUnavailable(); !why.empty())
        GTEST_SKIP() << "Namespace tests skipped: " << why;
    NetnsLab lab;
    ASSERT_EQ(lab.Start({"198.18.0.10=echo", "198.18.0.11=echo", "198.18.0.12=echo",
                  "198.18.0.13=echo"}),
        "");
    ASSERT_TRUE(lab.SetPingGroupRange(GetParam() == IcmpSocketKind::Datagram));
    ASSERT_EQ(lab.SetProberQueue("pfifo limit 0"), "");
    ASSERT_TRUE(lab.EnterProber());
    TempDir dir;
    dir.write("kelvoran.ini", "[Lab]\n198.18.0.10\n198.18.0.11\n198.18.0.12\n198.18.0.13\n");

    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.echo = IcmpLibrary::MakeEcho(GetParam());
    FrameDriver f(services);
    f.ChooseGroup("Lab");
    ASSERT_EQ(f.RowCount(), 4);
    auto shown = [&] {
        for (int row = 0; row < f.RowCount(); ++row) {
            if (f.Text(row, 2).empty())
                return false;
        }
        return Idle(f);
    };
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    for (int round = 0; round < 2; ++round) {
        clock.Advance(5001);
        ASSERT_TRUE(WaitIdly([&] { return !Idle(f); }, 2000)) << "round " << round << " began";
        ASSERT_TRUE(WaitIdly(shown, 9000 * KELVORAN_SLOWDOWN)) << "round " << round;
    }
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpuShare = (CpuSeconds() - cpuBefore) / wall;
    std::printf("two rounds behind a dropping queue: %.1f s, %.2f%% of a core\n", wall,
        100 * cpuShare);
    const std::string reason = GetParam() == IcmpSocketKind::Datagram
        ? "Could not send: the network's send queue is full"
        : "Request timed out";
    for (int row = 0; row < f.RowCount(); ++row) {
        SCOPED_TRACE(f.Text(row, 1));
        EXPECT_EQ(f.Text(row, 2), "N/A");
        EXPECT_EQ(f.ToolTip(row).rfind(reason, 0), 0u) << f.ToolTip(row);
    }
    EXPECT_LT(cpuShare, 0.02 * KELVORAN_SLOWDOWN);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, DroppingUplink,
    testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
    [](const testing::TestParamInfo<IcmpSocketKind>& info) {
        return info.param == IcmpSocketKind::Datagram ? "Datagram" : "Raw";
    });
