// Scale benchmark: the real program (main window, scheduler, workers, real
// ICMP) with a group of N loopback hosts in 127.1.0.0/16. Prints one line of
// key=value figures:
//   load_ms       from OK in the group dialog until the rows are shown
//   first_all_ms  from the load until every row shows its first time
//   cpu_pct       process CPU over the steady window, % of one core
//   probes_per_s  results handled per second in the steady window
//   us_per_probe  process CPU per handled result in the steady window
//   ui_busy_ms_per_s  time the window thread spent outside its wait, per second
//   peak_rss_mib  peak resident memory
//   peak_threads  most threads seen at once
// Usage: scale_bench HOSTS STEADY_SECONDS
#include "app/HostApp.h"
#include "hosts/HostEntry.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// Counts the time the window thread spends delivering events (outermost
// deliveries only): the tick, result handling, painting.
class BenchApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const bool handled = QApplication::notify(receiver, event);
        busyNs += timer.nsecsElapsed();
        --depth_;
        return handled;
    }

    qint64 busyNs = 0;

private:
    int depth_ = 0;
};

double CpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusValue(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int steadySeconds = argc > 2 ? std::atoi(argv[2]) : 20;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    BenchApplication qapp(argc, argv);
    TempDir dir;
    std::string group = "[Scale]\n";
    for (int i = 0; i < hosts; ++i)
        group += "127.1." + std::to_string(i / 256) + "." + std::to_string(i % 256) + " host "
            + std::to_string(i) + "\n";
    dir.write("kelvoran.ini", group);

    qint64& busyNs = qapp.busyNs;

    CHostApp app;
    QElapsedTimer sinceOk;
    WhenModal([&](QWidget* dialog) {
        for (int key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Down})
            PressKey(dialog, key);
        sinceOk.start();
        PressKey(dialog, Qt::Key_Return);
    });
    if (!app.InitInstance())
        return 1;
    CMainFrame* frame = app.MainWindow();

    qint64 loadMs = -1, firstAllMs = -1;
    QElapsedTimer sinceLoad;
    int checkedUpTo = 0;
    long peakThreads = 0;
    double steadyCpuStart = 0;
    qint64 steadyBusyStart = 0;
    long steadyResultsStart = 0;
    long results = 0;
    QElapsedTimer steady;

    // Results handled: every DISP writes column 0; count the writes that
    // clear the mark.
    QObject::connect(frame->hostList->model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex&) {
            if (from.column() == 0 && from.data().toString().isEmpty())
                ++results;
        });

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        peakThreads = std::max(peakThreads, StatusValue("Threads"));
        CHostListCtrl* list = frame->hostList;
        if (loadMs < 0) {
            if (list->GetItemCount() == hosts) {
                loadMs = sinceOk.elapsed();
                sinceLoad.start();
            }
            return;
        }
        if (firstAllMs < 0) {
            while (checkedUpTo < hosts && !list->GetItemText(checkedUpTo, 2).empty())
                ++checkedUpTo;
            if (checkedUpTo == hosts) {
                firstAllMs = sinceLoad.elapsed();
                steady.start();
                steadyCpuStart = CpuSeconds();
                steadyBusyStart = busyNs;
                steadyResultsStart = results;
            }
            if (sinceLoad.elapsed() > 600000)
                qapp.exit(2);
            return;
        }
        if (steady.elapsed() >= steadySeconds * 1000) {
            const double seconds = steady.elapsed() / 1000.0;
            const double cpu = CpuSeconds() - steadyCpuStart;
            const long handled = results - steadyResultsStart;
            std::printf("hosts=%d load_ms=%lld first_all_ms=%lld cpu_pct=%.1f probes_per_s=%.0f "
                        "us_per_probe=%.0f ui_busy_ms_per_s=%.1f peak_rss_mib=%.1f "
                        "peak_threads=%ld\n",
                hosts, static_cast<long long>(loadMs), static_cast<long long>(firstAllMs),
                100.0 * cpu / seconds, handled / seconds, handled > 0 ? cpu * 1e6 / handled : 0.0,
                (busyNs - steadyBusyStart) / 1e6 / seconds, StatusValue("VmHWM") / 1024.0,
                peakThreads);
            std::fflush(stdout);
            frame->close();
        }
    });
    poll.start(20);
    return app.Run();
}
