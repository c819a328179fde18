// The real program, with Qt's bridge to the accessibility bus on, for a reader
// on that bus to check what reaches it. Its group "Bus" has 101 loopback
// hosts, 127.0.1.1 to 127.0.1.101, answered by a scripted echo: nothing is
// sent. Its clock moves only when told. It prints "ready" once the rows show,
// then takes one command a line and answers each with "done":
//   round          the hosts fall due and give their results, then the time
//                  that an announcement waits for others passes
//   silence HOST   HOST gives no answer from the next round on
//   silence-rest   so do all hosts but 127.0.1.1
//   descriptions   prints "row N TEXT" for every row: its description as the
//                  program makes it, with \n for its line breaks
// End of input closes the window.
// Usage: accessibility_driver
#include "app/HostApp.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/AnnouncementPace.h"
#include "view/HostListCtrl.h"

#include <QApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

constexpr int kHosts = 101;

std::string Host(int i)
{
    return "127.0.1." + std::to_string(i + 1);
}

// Every row shows a result and no probe runs.
bool AllShown(CHostListCtrl* list)
{
    for (int i = 0; i < list->GetItemCount(); ++i) {
        const auto* entry = reinterpret_cast<const HostEntry*>(list->GetItemData(i));
        if (entry == nullptr || entry->busy != 0 || entry->result == kResultNotProbed
            || !list->GetItemText(i, 0).empty())
            return false;
    }
    return true;
}

void Round(CMainFrame* frame, TestClock& clock, FakeEcho& echo)
{
    const int calls = echo.Calls() + kHosts;
    clock.Advance(5001);
    WaitUntil([&] { return echo.Calls() >= calls && AllShown(frame->hostList); }, 20000);
    clock.Advance(AnnouncementPace::kGatherMs);
    Pump(300); // timer ticks, one of which announces
}

void PrintDescriptions(CHostListCtrl* list)
{
    for (int i = 0; i < list->GetItemCount(); ++i) {
        QString text = list->RowDescription(i);
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        std::printf("row %d %s\n", i, text.toUtf8().constData());
    }
}

} // namespace

int main(int argc, char** argv)
{
    // The bridge comes up whether or not the desktop says a screen reader runs.
    setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    QApplication qapp(argc, argv);
    TempDir dir;
    std::string group = "[Bus]\n";
    FakeEcho echo;
    for (int i = 0; i < kHosts; ++i) {
        group += Host(i) + " host " + std::to_string(i + 1) + "\n";
        echo.Answer(Host(i), 1);
    }
    dir.write("kelvoran.ini", group);

    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.echo = echo.Layer();
    services.logClock = [] { return std::time_t {1714556467}; };
    CHostApp app(SocketLayerWorks, services);
    // Chosen without keys: on an X display without a window manager the
    // dialog may not have the focus yet.
    WhenModal([](QWidget* widget) {
        if (auto* dialog = qobject_cast<CGroupSelectDialog*>(widget)) {
            dialog->groupList->setCurrentRow(0);
            dialog->accept();
        }
    });
    if (!app.InitInstance())
        return 3;
    CMainFrame* frame = app.MainWindow();
    if (!WaitUntil([&] { return frame->hostList->GetItemCount() == kHosts; }, 20000)) {
        std::fprintf(stderr, "the group did not load: %d rows\n", frame->hostList->GetItemCount());
        return 4;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            input.setEnabled(false);
            frame->close();
            return;
        }
        if (line == "round") {
            Round(frame, clock, echo);
        } else if (line.rfind("silence ", 0) == 0) {
            echo.Answer(line.substr(8), -1);
        } else if (line == "silence-rest") {
            for (int i = 1; i < kHosts; ++i)
                echo.Answer(Host(i), -1);
        } else if (line == "descriptions") {
            PrintDescriptions(frame->hostList);
        }
        std::printf("done\n");
        std::fflush(stdout);
    });
    return app.Run();
}
