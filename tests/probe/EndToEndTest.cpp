#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/NetnsLab.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <gtest/gtest.h>

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
        EXPECT_EQ(f.Text(1, 2), "0 ms");
        const std::string slow = f.Text(2, 2);
        EXPECT_TRUE(slow == "150 ms" || slow == "151 ms") << slow;
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(f.Text(row, 0), "") << "no mark left once the result is shown";
        EXPECT_EQ(reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0))->result, -1);
    }
    lab.LeaveProber();
}
