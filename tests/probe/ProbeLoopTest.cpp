#include "app/MainFrame.h"
#include "app/UserMessage.h"
#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

class ProbeLoop : public ::testing::Test
{
protected:
    ProbeLoop()
    {
        dir.write("kelvoran.ini",
            "[Three]\n127.0.0.1 zero\n127.0.0.2 twelve\n127.0.0.3 silent\n"
            "[Other]\n127.0.0.9 other\n");
        echo.Answer("127.0.0.1", 0);
        echo.Answer("127.0.0.2", 12);
        echo.Answer("127.0.0.3", -1);
    }

    CMainFrame::Services Services()
    {
        CMainFrame::Services services;
        services.tick = clock.Source();
        services.echo = echo.Layer();
        return services;
    }

    HostEntry* Entry(FrameDriver& f, int row)
    {
        return reinterpret_cast<HostEntry*>(f->hostList->GetItemData(row));
    }

    bool AllMarks(FrameDriver& f, const std::string& mark)
    {
        for (int i = 0; i < f.RowCount(); ++i) {
            if (f.Text(i, 0) != mark)
                return false;
        }
        return true;
    }

    TempDir dir;
    TestClock clock {1000};
    FakeEcho echo;
};

} // namespace

TEST_F(ProbeLoop, FirstProbesFiveSecondsAfterTheLoadThenResultsShow)
{
    FrameDriver f(Services());
    f.ChooseGroup("Three");
    echo.Hold();
    clock.Set(6000);
    Pump(300);
    EXPECT_EQ(echo.Calls(), 0) << "exactly 5000 ms after the load is not yet due";
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(f.Text(i, 0), "");

    clock.Set(6001);
    ASSERT_TRUE(WaitUntil([&] { return echo.Waiting() == 3; }));
    EXPECT_TRUE(AllMarks(f, InFlightMark()));
    EXPECT_TRUE(WaitUntil([&] { return f->probesInFlight() == 3; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Entry(f, i)->busy, 1);
        EXPECT_EQ(f.ToolTip(i), "Not probed yet");
    }
    // Busy hosts are never started twice, however long their probe takes.
    clock.Set(20000);
    Pump(300);
    EXPECT_EQ(echo.Calls(), 3);

    clock.Set(20500);
    echo.Release();
    ASSERT_TRUE(WaitUntil([&] { return AllMarks(f, "") && f->probesInFlight() == 0; }));
    EXPECT_EQ(f.Text(0, 2), "0 ms");
    EXPECT_EQ(f.Text(1, 2), "12 ms");
    EXPECT_EQ(f.Text(2, 2), "N/A");
    // The reason came along with the result.
    EXPECT_EQ(f.ToolTip(1).substr(0, 21), "Answered in 12.00 ms\n");
    EXPECT_EQ(f.ToolTip(2).substr(0, 18), "Request timed out\n");
    const std::int32_t results[] = {0, 12, -1};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(f.Text(i, 1));
        HostEntry* e = Entry(f, i);
        EXPECT_EQ(e->result, results[i]);
        EXPECT_EQ(e->prevResult, results[i]);
        EXPECT_EQ(e->lastDone, 20500);
        EXPECT_EQ(e->busy, 0);
    }

    // Due again 5000 ms after the result was shown, not before.
    clock.Set(25500);
    Pump(300);
    EXPECT_EQ(echo.Calls(), 3);
    clock.Set(25501);
    EXPECT_TRUE(WaitUntil([&] { return echo.Calls() == 6; }));
}

TEST_F(ProbeLoop, ColumnsAreRewrittenOnlyWhenTheTimeTextChanges)
{
    FrameDriver f(Services());
    f.ChooseGroup("Three");
    clock.Set(6001);
    ASSERT_TRUE(WaitUntil([&] { return f.Text(1, 2) == "12 ms" && f.Text(1, 0).empty(); }));

    // Text put into the row by someone else stays while the time is the same...
    f->hostList->SetItemText(1, 3, "changed");
    f->hostList->SetItemText(1, 1, "changed");
    clock.Advance(5001);
    ASSERT_TRUE(WaitUntil([&] { return echo.Calls("127.0.0.2") == 2 && Entry(f, 1)->busy == 0; }));
    EXPECT_EQ(f.Text(1, 3), "changed");
    EXPECT_EQ(f.Text(1, 1), "changed");
    EXPECT_EQ(f.Text(1, 0), "");

    // ...and is rewritten with the next changed time.
    echo.Answer("127.0.0.2", 13);
    clock.Advance(5001);
    ASSERT_TRUE(WaitUntil([&] { return f.Text(1, 2) == "13 ms"; }));
    EXPECT_EQ(f.Text(1, 3), "twelve");
    EXPECT_EQ(f.Text(1, 1), "127.0.0.2");
    EXPECT_EQ(Entry(f, 1)->prevResult, 13);
}

TEST_F(ProbeLoop, DispWithoutEntryChangesNothing)
{
    FrameDriver f(Services());
    f.ChooseGroup("Three");
    QSignalSpy changed(f->hostList->model(), &QAbstractItemModel::dataChanged);
    EXPECT_EQ(f->OnUserMessage(DISP, 0), 0);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(ProbeLoop, SortRenumbersAndHostLooksUpExactText)
{
    FrameDriver f(Services());
    f.ChooseGroup("Three");
    for (int i = 0; i < 3; ++i)
        Entry(f, i)->row = 7 - i;
    EXPECT_EQ(f->OnUserMessage(SORT, 0), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Entry(f, i)->row, i);

    EXPECT_EQ(f->OnUserMessage(HOST, reinterpret_cast<std::intptr_t>("127.0.0.2")),
        reinterpret_cast<std::intptr_t>(Entry(f, 1)));
    EXPECT_EQ(f->OnUserMessage(HOST, reinterpret_cast<std::intptr_t>("127.0.0.02")), 0);
    EXPECT_EQ(f->OnUserMessage(HOST, reinterpret_cast<std::intptr_t>("127.0.0.9")), 0);
    EXPECT_EQ(f->OnUserMessage(0x41424344, 5), 0);
}
