#include "app/MainFrame.h"
#include "hosts/HostEntry.h"
#include "res/ResourceIds.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <memory>
#include <string>

namespace {

class LogWindow : public ::testing::Test
{
protected:
    LogWindow()
    {
        dir.write("kelvoran.ini", "[G]\n127.0.0.1 one\n");
        echo.Answer("127.0.0.1", 12);
    }

    CMainFrame::Services Services()
    {
        CMainFrame::Services services;
        services.tick = clock.Source();
        services.echo = echo.Layer();
        services.logClock = [now = wallClock] { return now->load(); };
        return services;
    }

    void Command(FrameDriver& f, int id) { f->CommandAction(id)->trigger(); }

    // Lets the host's next probe run and its result be handled.
    void NextResult(FrameDriver& f, std::int32_t value)
    {
        echo.Answer("127.0.0.1", value);
        const int calls = echo.Calls();
        clock.Advance(5001);
        auto* entry = reinterpret_cast<HostEntry*>(f->hostList->GetItemData(0));
        ASSERT_TRUE(WaitUntil([&] { return echo.Calls() == calls + 1 && entry->busy == 0; }));
        *wallClock += 7;
    }

    TempDir dir;
    TestClock clock {1000};
    FakeEcho echo;
    std::shared_ptr<std::atomic<std::time_t>> wallClock
        = std::make_shared<std::atomic<std::time_t>>(std::time(nullptr));
};

} // namespace

TEST_F(LogWindow, CommandsSwitchTheModeTheCaptionAndTheCheckMarks)
{
    FrameDriver f(Services());
    struct Step
    {
        int command; // 0: load the group
        const char* caption;
        int mode;
    };
    const Step steps[] = {
        {ID_FULL_LOG, "[*]kelvoran", 1},
        {ID_LOG_BY_STATUS, "[+]kelvoran", 2},
        {ID_LOG_BY_STATUS, "kelvoran", 0},
        {0, "kelvoran : G", 0},
        {ID_FULL_LOG, "[*]kelvoran : G", 1},
        {0, "[*] kelvoran : G", 1},
        {ID_FULL_LOG, " kelvoran : G", 0},
        {ID_FULL_LOG, "[*] kelvoran : G", 1},
        {ID_LOG_BY_STATUS, "[+] kelvoran : G", 2},
        {0, "[+] kelvoran : G", 2},
        {ID_FULL_LOG, "[*] kelvoran : G", 1},
    };
    for (const Step& step : steps) {
        if (step.command == 0)
            f.ChooseGroup("G");
        else
            Command(f, step.command);
        EXPECT_EQ(f.ShownTitle(), step.caption);
        EXPECT_EQ(f->logMode, step.mode);
        // The check marks as the menu shows them when it opens.
        QMenu* file = f->CommandAction(ID_FULL_LOG)->associatedObjects().isEmpty()
            ? nullptr
            : qobject_cast<QMenu*>(f->CommandAction(ID_FULL_LOG)->associatedObjects().first());
        ASSERT_NE(file, nullptr);
        emit file->aboutToShow();
        EXPECT_EQ(f->CommandAction(ID_FULL_LOG)->isChecked(), step.mode == 1) << step.caption;
        EXPECT_EQ(f->CommandAction(ID_LOG_BY_STATUS)->isChecked(), step.mode == 2) << step.caption;
        EXPECT_TRUE(f->CommandAction(ID_FULL_LOG)->isEnabled());
    }
}

TEST_F(LogWindow, ResultChangesGoToTheDaysFileByTheRuleOfTheMode)
{
    FrameDriver f(Services());
    f.ChooseGroup("G");
    Command(f, ID_FULL_LOG);
    std::string expected;
    auto line = [&](const char* value) {
        std::string text = "[";
        text.append(LocalTimeText(wallClock->load(), "%H:%M:%S"))
            .append("] 127.0.0.1        ")
            .append(value);
        return text.append("\n");
    };
    expected += line("12 ms");
    NextResult(f, 12); // the first result differs from "not yet probed"
    NextResult(f, 12); // the same value: nothing
    expected += line("13 ms");
    NextResult(f, 13);

    Command(f, ID_LOG_BY_STATUS);
    NextResult(f, 14); // a change between two times: nothing in this mode
    expected += line("N/A");
    NextResult(f, -1);
    expected += line("15 ms");
    NextResult(f, 15);
    NextResult(f, 17);

    Command(f, ID_LOG_BY_STATUS);
    NextResult(f, -1); // off
    EXPECT_EQ(ReadWholeFile(dir.file(DailyLogName(wallClock->load()))), expected);
}

TEST_F(LogWindow, ResultsAfterMidnightGoToTheNextDaysFile)
{
    std::tm evening {};
    evening.tm_year = 2026 - 1900;
    evening.tm_mon = 11;
    evening.tm_mday = 31;
    evening.tm_hour = 23;
    evening.tm_min = 59;
    evening.tm_sec = 59;
    evening.tm_isdst = -1;
    *wallClock = std::mktime(&evening);
    FrameDriver f(Services());
    f.ChooseGroup("G");
    Command(f, ID_FULL_LOG);
    // NextResult moves the wall clock on by 7 s after each result.
    NextResult(f, 3);
    NextResult(f, 4);
    EXPECT_EQ(ReadWholeFile(dir.file("kelvoran.20261231")), "[23:59:59] 127.0.0.1        3 ms\n");
    EXPECT_EQ(ReadWholeFile(dir.file("kelvoran.20270101")), "[00:00:06] 127.0.0.1        4 ms\n");
}
