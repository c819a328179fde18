// Scale benchmark: the real program (main window, scheduler, workers, real
// ICMP) with a group of N loopback hosts in 127.1.0.0/16. Prints one line of
// key=value figures:
//   load_ms       from OK in the group dialog until the rows are shown
//   first_all_ms  from the load until every row shows its first time
//   cpu_pct       process CPU over the steady window, % of one core
//   probes_per_s  results handled per second in the steady window
//   us_per_probe  process CPU per handled result in the steady window
//   ui_us_per_probe   of that, CPU of the window thread
//   ui_busy_ms_per_s  time the window thread spent outside its wait, per second
//   ui_longest_ms     the longest the window thread was busy at one stretch
//   tick_ms_per_s     of that, time spent in the scheduler's 100 ms tick
//   tick_cpu_ms_per_s CPU time of the window thread in those ticks
//   first_start_ms    from the load until the first probe started
//   fill_ticks        ticks that started probes before every row had a time
//   fill_starts_per_tick, fill_max_starts  probes those ticks started, mean and most
//   steady_starts_per_tick  probes started per tick in the steady window
//   peak_rss_mib  peak resident memory
//   peak_threads  most threads seen at once
//   rtt_0ms, rtt_1ms, rtt_2ms_up  answers of the whole run by the whole
//                 milliseconds a row shows; rtt_median_us, rtt_worst_us to the
//                 microsecond
//   rx_drops      answers the kernel dropped from the raw socket's queue
// Usage: scale_bench HOSTS STEADY_SECONDS [FIRST_ADDRESS]
// With FIRST_ADDRESS the hosts are the addresses from it up (test hosts of a
// namespace lab) instead.
#include "app/HostApp.h"
#include "app/SocketCheck.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"
#include "icmp/Resolver.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// CPU time of the calling thread.
qint64 ThreadCpuNs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The benchmark's own polling of the window, reading of /proc among it:
// taken off the process's CPU time and off the window
// thread's busy time, so that only the program is measured.
qint64 benchNs = 0;

struct BenchWork
{
    qint64 start = ThreadCpuNs();
    ~BenchWork() { benchNs += ThreadCpuNs() - start; }
};

// Counts the time the window thread spends delivering events (outermost
// deliveries only): the tick, result handling, painting.
class BenchApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        const bool tick = receiver == frame && event->type() == QEvent::Timer;
        if (depth_++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        QElapsedTimer timer;
        timer.start();
        const qint64 cpuStart = tick ? ThreadCpuNs() : 0;
        const bool handled = QApplication::notify(receiver, event);
        if (tick)
            tickCpuNs += ThreadCpuNs() - cpuStart;
        busyNs += timer.nsecsElapsed();
        longestNs = std::max(longestNs, timer.nsecsElapsed());
        if (tick) {
            tickNs += timer.nsecsElapsed();
            ++ticks;
        }
        --depth_;
        return handled;
    }

    QObject* frame = nullptr;
    qint64 busyNs = 0;
    qint64 longestNs = 0; // the longest single delivery
    qint64 tickNs = 0;
    qint64 tickCpuNs = 0;
    long ticks = 0;

private:
    int depth_ = 0;
};

// The round trips of every answer, counted by microsecond up to 10 ms and
// by whole milliseconds: what the rows showed, and to the microsecond.
struct RoundTrips
{
    std::array<std::atomic<long>, 10'000> byUs {};
    std::array<std::atomic<long>, 10> byMs {}; // the last: 9 ms and more
    std::atomic<std::uint32_t> worstUs {0};

    void Count(std::uint32_t us)
    {
        ++byUs[std::min<std::uint32_t>(us, byUs.size() - 1)];
        ++byMs[std::min<std::uint32_t>(us / 1000, byMs.size() - 1)];
        std::uint32_t worst = worstUs.load();
        while (us > worst && !worstUs.compare_exchange_weak(worst, us)) { }
    }

    long MedianUs() const
    {
        long total = 0;
        for (const auto& n : byUs)
            total += n;
        long seen = 0;
        for (std::size_t us = 0; us < byUs.size(); ++us) {
            seen += byUs[us];
            if (seen * 2 >= total && total > 0)
                return static_cast<long>(us);
        }
        return -1;
    }

    long From(std::size_t ms) const
    {
        long n = 0;
        for (std::size_t i = ms; i < byMs.size(); ++i)
            n += byMs[i];
        return n;
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int steadySeconds = argc > 2 ? std::atoi(argv[2]) : 20;
    const std::uint32_t first = argc > 3 ? ntohl(inet_addr(argv[3])) : 0x7f010000;
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    BenchApplication qapp(argc, argv);
    TempDir dir;
    std::string group = "[Scale]\n";
    for (int i = 0; i < hosts; ++i)
        group += DottedAddress(htonl(first + static_cast<std::uint32_t>(i))) + " host "
            + std::to_string(i) + "\n";
    dir.write("kelvoran.ini", group);

    qint64& busyNs = qapp.busyNs;

    // The real probe, its round trips counted on the way.
    static RoundTrips trips;
    CMainFrame::Services services;
    services.echo = std::make_shared<const ObservedEcho>([](std::uint32_t, const EchoReply& reply) {
        if (reply.answers == 1 && reply.status == IP_SUCCESS)
            trips.Count(reply.roundTripUs);
    });
    CHostApp app(SocketLayerWorks, services);
    QElapsedTimer sinceOk;
    // The group is chosen without keys: on an X display without a window
    // manager (bench/scale/with-reader.sh) the dialog may not have the focus.
    WhenModal([&](QWidget* widget) {
        auto* dialog = qobject_cast<CGroupSelectDialog*>(widget);
        if (dialog == nullptr)
            return;
        dialog->groupList->setCurrentRow(0);
        sinceOk.start();
        dialog->accept();
    });
    if (!app.InitInstance())
        return 1;
    CMainFrame* frame = app.MainWindow();
    qapp.frame = frame;

    qint64 loadMs = -1, firstAllMs = -1;
    QElapsedTimer sinceLoad;
    int checkedUpTo = 0;
    long peakThreads = 0;
    double steadyCpuStart = 0;
    qint64 steadyBusyStart = 0;
    qint64 steadyBenchStart = 0;
    qint64 steadyUiCpuStart = 0;
    long steadyResultsStart = 0;
    long results = 0;
    long starts = 0;
    QElapsedTimer steady;
    qint64 steadyTickStart = 0;
    qint64 steadyTickCpuStart = 0;
    long steadyTicksStart = 0;
    long steadyStartsStart = 0;
    qint64 firstStartMs = -1;
    // Probes started by the tick being delivered, and by the ticks of the
    // time until every row had its first time.
    long startsThisTick = 0;
    long lastTicks = 0;
    long fillTicks = 0, fillStarts = 0, fillMax = 0;
    const auto closeTick = [&] {
        if (qapp.ticks == lastTicks)
            return;
        lastTicks = qapp.ticks;
        if (firstAllMs < 0 && startsThisTick > 0) {
            ++fillTicks;
            fillStarts += startsThisTick;
            fillMax = std::max(fillMax, startsThisTick);
        }
        startsThisTick = 0;
    };

    // Every start writes the mark into column 0 and every DISP clears it:
    // count both. The list tells its changed rows a batch at a time, each
    // run of neighbouring rows at once.
    QObject::connect(frame->hostList->model(), &QAbstractItemModel::dataChanged,
        [&](const QModelIndex& from, const QModelIndex& to) {
            const BenchWork own;
            if (from.column() != 0)
                return;
            for (int row = from.row(); row <= to.row(); ++row) {
                if (frame->hostList->GetItemText(row, 0).empty()) {
                    ++results;
                    continue;
                }
                closeTick();
                ++starts;
                ++startsThisTick;
                if (firstStartMs < 0 && loadMs >= 0)
                    firstStartMs = sinceLoad.elapsed();
            }
        });

    QTimer poll;
    long polls = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const BenchWork own;
        // Reading /proc costs: threads are counted every fifth poll.
        if (++polls % 5 == 0)
            peakThreads = std::max(peakThreads, ProcessStatus("Threads"));
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
                closeTick();
                firstAllMs = sinceLoad.elapsed();
                steadyTickStart = qapp.tickNs;
                steadyTickCpuStart = qapp.tickCpuNs;
                steadyTicksStart = qapp.ticks;
                steadyStartsStart = starts;
                steady.start();
                steadyCpuStart = CpuSeconds();
                steadyBusyStart = busyNs;
                steadyBenchStart = benchNs;
                steadyUiCpuStart = ThreadCpuNs();
                qapp.longestNs = 0;
                steadyResultsStart = results;
            }
            if (sinceLoad.elapsed() > 600000)
                qapp.exit(2);
            return;
        }
        if (steady.elapsed() >= steadySeconds * 1000) {
            // The window deletes itself on close; nothing may poll it after.
            poll.stop();
            const double seconds = steady.elapsed() / 1000.0;
            // The poll's own work is still running; what it did so far is
            // counted, the rest of this call is a few microseconds.
            const double own = (benchNs - steadyBenchStart) / 1e9;
            const double cpu = CpuSeconds() - steadyCpuStart - own;
            const long handled = results - steadyResultsStart;
            const long steadyTicks = qapp.ticks - steadyTicksStart;
            std::printf(
                "hosts=%d load_ms=%lld first_all_ms=%lld cpu_pct=%.1f probes_per_s=%.0f "
                "us_per_probe=%.0f ui_us_per_probe=%.0f ui_busy_ms_per_s=%.1f ui_longest_ms=%.1f "
                "tick_ms_per_s=%.1f "
                "tick_cpu_ms_per_s=%.1f "
                "peak_rss_mib=%.1f peak_threads=%ld first_start_ms=%lld fill_ticks=%ld "
                "fill_starts_per_tick=%.1f fill_max_starts=%ld "
                "steady_starts_per_tick=%.1f rtt_0ms=%ld rtt_1ms=%ld rtt_2ms_up=%ld "
                "rtt_median_us=%ld rtt_worst_us=%u rx_drops=%u\n",
                hosts, static_cast<long long>(loadMs), static_cast<long long>(firstAllMs),
                100.0 * cpu / seconds, handled / seconds, handled > 0 ? cpu * 1e6 / handled : 0.0,
                handled > 0 ? ((ThreadCpuNs() - steadyUiCpuStart) / 1e3 - own * 1e6) / handled
                            : 0.0,
                ((busyNs - steadyBusyStart) / 1e6 - own * 1e3) / seconds, qapp.longestNs / 1e6,
                (qapp.tickNs - steadyTickStart) / 1e6 / seconds,
                (qapp.tickCpuNs - steadyTickCpuStart) / 1e6 / seconds,
                ProcessStatus("VmHWM") / 1024.0, peakThreads, static_cast<long long>(firstStartMs),
                fillTicks, fillTicks > 0 ? static_cast<double>(fillStarts) / fillTicks : 0.0,
                fillMax,
                steadyTicks > 0 ? static_cast<double>(starts - steadyStartsStart) / steadyTicks
                                : 0.0,
                trips.byMs[0].load(), trips.byMs[1].load(), trips.From(2), trips.MedianUs(),
                trips.worstUs.load(), IcmpLibrary::ReceiveDrops());
            std::fflush(stdout);
            frame->close();
        }
    });
    poll.start(20);
    return app.Run();
}
