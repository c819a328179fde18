#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/NetnsLab.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>

// The whole program with real ICMP: a loopback host, a test host that answers
// after 150 ms and one that never answers, reached from the prober side of a
// namespace lab. Only the clock that makes hosts due is the test's.
TEST(EndToEnd, LoopbackSlowAndSilentHostsShowInTheirRows)
{
    const std::string unavailable = NetnsLab::WhyUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << "needs a namespace lab: " << unavailable;
    NetnsLab lab;
    ASSERT_EQ(lab.Start({"198.18.0.11=delay:150", "198.18.0.12=silent"}), "");
    ASSERT_TRUE(lab.EnterProber());

    TempDir dir;
    dir.write("kelvoran.ini",
        "[Lab]\n198.18.0.12 silent\n127.0.0.1 loopback\n"
        "198.18.0.11 slow\n");
    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    {
        FrameDriver f(services);
        f.ChooseGroup("Lab");
        ASSERT_EQ(f.RowCount(), 3);
        clock.Set(6001);
        auto settled = [&] {
            for (int row = 0; row < 3; ++row) {
                if (f.Text(row, 2).empty())
                    return false;
            }
            return true;
        };
        ASSERT_TRUE(WaitUntil(settled, 9000 * KELVORAN_SLOWDOWN));
        EXPECT_EQ(f.Text(0, 2), "N/A");
        // Loopback answers at once and the test host after 150 ms; a busy
        // machine under a sanitizer adds a few.
        EXPECT_TRUE(std::regex_match(f.Text(1, 2), std::regex("[0-9] ms"))) << f.Text(1, 2);
        const std::string slow = f.Text(2, 2);
        EXPECT_TRUE(std::regex_match(slow, std::regex("15[0-9] ms"))) << slow;
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(f.Text(row, 0), "") << "no mark left once the result is shown";
        EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0))->result, -1);
    }
    lab.LeaveProber();
}

// Each reason a host can fail for, from real hosts, and a slow host that
// answers: after two rounds each row's tooltip tells why, since when, and the
// figures. Tooltips are asked for while probes are still out, too.
TEST(EndToEnd, TooltipsTellWhyAndHowEachHostFared)
{
    const std::string unavailable = NetnsLab::WhyUnavailable();
    if (!unavailable.empty())
        GTEST_SKIP() << "needs a namespace lab: " << unavailable;
    NetnsLab lab;
    ASSERT_EQ(
        lab.Start({"198.18.0.12=silent", "198.18.0.17=unreach:1:198.18.0.2",
            "198.18.0.20=exceeded:198.18.0.2", "198.18.0.13=corrupt", "198.18.0.11=delay:150"}),
        "");
    ASSERT_TRUE(lab.EnterProber());
    setenv("TZ", "UTC0", 1);
    tzset();

    TempDir dir;
    dir.write("kelvoran.ini",
        "[Lab]\n198.18.0.12 silent\n198.18.0.17 unreachable\n198.18.0.20 loop\n"
        "198.18.0.13 damaged\n198.18.0.11 slow, behind the long line across the hall and "
        "two floors down, in the rack by the window\n");
    // The wall clock goes with the tick count, from 09:41:07.
    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.logClock = [clock] { return std::time_t {1714556467} + clock.Now() / 1000; };
    {
        FrameDriver f(services);
        f.ChooseGroup("Lab");
        ASSERT_EQ(f.RowCount(), 5);
        auto round = [&](std::uint32_t probes) {
            return [&f, probes] {
                for (int row = 0; row < 5; ++row) {
                    // Asked for while the others are out.
                    f.ToolTip(row);
                    const auto* entry = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(row));
                    if (entry->details.probes != probes || entry->busy)
                        return false;
                }
                return true;
            };
        };
        clock.Set(6001); // 09:41:13, due
        ASSERT_TRUE(WaitUntil(round(1), 9000 * KELVORAN_SLOWDOWN));
        clock.Set(11002); // 09:41:18, due again
        ASSERT_TRUE(WaitUntil(round(2), 9000 * KELVORAN_SLOWDOWN));
        clock.Set(14001);

        const std::string failed = "\nN/A since 09:41:13 (8 s)\n"
                                   "Probes sent: 2, answered: 0, loss: 100%\n"
                                   "No answer since the group was loaded";
        EXPECT_EQ(f.ToolTip(0), "Request timed out" + failed);
        EXPECT_EQ(f.ToolTip(1), "Destination host unreachable, reported by 198.18.0.2" + failed);
        EXPECT_EQ(f.ToolTip(2), "TTL expired in transit, reported by 198.18.0.2" + failed);
        EXPECT_EQ(f.ToolTip(3), "Reply did not match the request" + failed);
        // Only the description that its column cuts short is told in full.
        const std::string slow = f.ToolTip(4);
        EXPECT_TRUE(std::regex_match(slow,
            std::regex("Answered in 15[0-9]\\.[0-9] ms\n"
                       "Answering since 09:41:13 \\(8 s\\)\n"
                       "Probes sent: 2, answered: 2, loss: 0%\n"
                       "Round trip min/avg/max/mdev (15[0-9]\\.[0-9]/){3}[0-4]\\.[0-9]{3} ms\n"
                       "Last answer: 09:41:18\n"
                       "Outages: none\n"
                       "Description: slow, behind the long line .* by the window")))
            << slow;
    }
    lab.LeaveProber();
}
