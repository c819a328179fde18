#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// Real ICMP to 1,000 loopback addresses while the group is loaded again and
// again, then the window closed with probes in flight. Run under the
// sanitizer builds this is where a worker touching a freed entry, a gone
// window or a racing counter would show.
TEST(ProbeStress, ReloadsWhileProbesRunThenCloseWithProbesInFlight)
{
    TempDir dir;
    std::string group = "[Many]\n";
    for (int i = 0; i < 1000; ++i)
        group += "127.2." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + " h\n";
    dir.write("kelvoran.ini", group);

    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    auto f = std::make_unique<FrameDriver>(services);
    const long live = LiveHostEntries();
    int reloadsWithProbesRunning = 0;
    for (int round = 0; round < 50; ++round) {
        (*f).ChooseGroup("Many");
        ASSERT_EQ(f->RowCount(), 1000);
        // Results of the replaced group are never shown in the new one.
        Pump(20);
        for (int row = 0; row < 1000; row += 37)
            ASSERT_EQ(f->Text(row, 2), "") << "round " << round << " row " << row;
        clock.Advance(5001);
        WaitUntil([&] { return (*f)->probesInFlight() > 0; }, 1000);
        // Mostly reload at once, now and then after some results came in.
        if (round % 5 == 4)
            Pump(30);
        if ((*f)->probesInFlight() > 0)
            ++reloadsWithProbesRunning;
    }
    EXPECT_GT(reloadsWithProbesRunning, 25);
    EXPECT_EQ(LiveHostEntries(), live + 1000);

    // Let results come in for a while, then close in the middle of it.
    for (int i = 0; i < 5; ++i) {
        clock.Advance(5001);
        Pump(100);
    }
    int shown = 0;
    for (int row = 0; row < 1000; ++row)
        shown += f->Text(row, 2).empty() ? 0 : 1;
    EXPECT_GT(shown, 0);
    f.reset();
    EXPECT_EQ(LiveHostEntries(), live);
    Pump(200);
}
