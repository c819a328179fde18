// The real program under faults that need a process of their own: a network
// namespace of its own (root), and for the thread limit an unprivileged user.
// It prints what it saw as "word key=value ..." lines for the test to judge.
//
//   fault_driver exit HOSTS CLOSE_AFTER_MS
//     Every other host is a loopback address that answers, the rest a test
//     address routed into a link where nothing answers. The window is closed
//     (File > Exit) CLOSE_AFTER_MS after the group was loaded; "exit" is
//     printed just before.
//   fault_driver threads HOSTS
//     Loopback hosts, run as a user of its own whose process limit first
//     leaves no room for a worker thread, then room for a few, then plenty.
//
// Exit status 77: the machine cannot make the namespace or the user (not root).
#include "app/HostApp.h"
#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "res/ResourceIds.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <grp.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

namespace {

bool Shell(const char* command)
{
    return std::system(command) == 0;
}

void ChooseFirstGroup()
{
    WhenModal([](QWidget* dialog) {
        for (int key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Down, Qt::Key_Return})
            PressKey(dialog, key);
    });
}

struct RowCounts
{
    int shown = 0; // rows with a result
    int marked = 0; // rows with the in-flight mark
    int busy = 0; // entries waiting for their worker
};

RowCounts CountRows(CMainFrame* frame)
{
    RowCounts counts;
    for (int row = 0; row < frame->hostList->GetItemCount(); ++row) {
        counts.shown += frame->hostList->GetItemText(row, 2).empty() ? 0 : 1;
        counts.marked += frame->hostList->GetItemText(row, 0) == InFlightMark() ? 1 : 0;
        const auto* entry = reinterpret_cast<HostEntry*>(frame->hostList->GetItemData(row));
        counts.busy += entry != nullptr && entry->busy ? 1 : 0;
    }
    return counts;
}

std::string LoopbackHost(int i, int block)
{
    return "127." + std::to_string(block) + "." + std::to_string(i / 250) + "."
        + std::to_string(i % 250 + 1);
}

int RunExit(int argc, char** argv, int hosts, int closeAfterMs)
{
    if (unshare(CLONE_NEWNET) != 0 || !Shell("ip link set lo up"))
        return 77;
    // 198.18.16.0/20 leads through a link to a neighbour that is never
    // there: requests leave, and nothing comes back.
    if (!Shell("ip link add kvf0 type veth peer name kvf1"
               " && ip addr add 198.18.0.1/30 dev kvf0 && ip link set kvf0 up"
               " && ip link set kvf1 up"
               " && ip neigh replace 198.18.0.2 lladdr 02:00:00:00:00:02 dev kvf0 nud permanent"
               " && ip route add 198.18.16.0/20 via 198.18.0.2"))
        return 77;

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    TempDir dir;
    std::string group = "[Half silent]\n";
    for (int i = 0; i < hosts; ++i) {
        group += i % 2 == 0
            ? LoopbackHost(i / 2, 4)
            : "198.18." + std::to_string(16 + i / 2 / 256) + "." + std::to_string(i / 2 % 256);
        group += "\n";
    }
    dir.write("kelvoran.ini", group);

    CHostApp app;
    ChooseFirstGroup();
    if (!app.InitInstance())
        return 3;
    CMainFrame* frame = app.MainWindow();
    QElapsedTimer sinceLoad;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!sinceLoad.isValid() && frame->hostList->GetItemCount() == hosts)
            sinceLoad.start();
        if (sinceLoad.isValid() && sinceLoad.elapsed() >= closeAfterMs) {
            poll.stop();
            const RowCounts rows = CountRows(frame);
            std::printf("exit rows=%d shown=%d marked=%d waiting=%d threads=%ld\n",
                frame->hostList->GetItemCount(), rows.shown, rows.marked, frame->probesInFlight(),
                ProcessStatus("Threads"));
            std::fflush(stdout);
            frame->CommandAction(ID_APP_EXIT)->trigger();
        }
    });
    poll.start(10);
    return app.Run();
}

// A user id that nothing else runs as, so that its process count is ours.
uid_t UnusedUser()
{
    return static_cast<uid_t>(1'500'000'000 + getpid() % 100'000);
}

bool SetProcessLimit(rlim_t soft)
{
    rlimit limit {};
    getrlimit(RLIMIT_NPROC, &limit);
    limit.rlim_cur = soft;
    return setrlimit(RLIMIT_NPROC, &limit) == 0;
}

int RunThreads(int argc, char** argv, int hosts)
{
    if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0 || !Shell("ip link set lo up"))
        return 77;
    // The user may send echo requests through datagram sockets, as an
    // unprivileged user of a desktop usually may.
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647\n";

    TempDir dir;
    std::string group = "[Loopback]\n";
    for (int i = 0; i < hosts; ++i)
        group += LoopbackHost(i, 5) + "\n";
    dir.write("kelvoran.ini", group);
    const uid_t user = UnusedUser();
    // The soft limit moves between nothing and the hard limit, which the
    // user may do for itself.
    rlimit limit {};
    getrlimit(RLIMIT_NPROC, &limit);
    const rlim_t plenty = limit.rlim_max;
    if (chown(dir.path().c_str(), user, user) != 0 || setgroups(0, nullptr) != 0
        || setgid(user) != 0 || setuid(user) != 0)
        return 77;

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    auto offset = std::make_shared<std::atomic<std::uint32_t>>(0);
    auto attempts = std::make_shared<std::atomic<int>>(0);
    auto refused = std::make_shared<std::atomic<int>>(0);
    CMainFrame::Services services;
    services.tick = [offset] { return GetTickCount() + offset->load(); };
    services.startThread = [attempts, refused](std::function<void()> body) {
        const bool started = StartWorkerThread(std::move(body));
        ++*attempts;
        *refused += started ? 0 : 1;
        return started;
    };
    CHostApp app(SocketLayerWorks, services);
    ChooseFirstGroup();
    if (!app.InitInstance())
        return 3;
    CMainFrame* frame = app.MainWindow();

    // Phases: none (no thread can start), few (a handful), plenty; each ends
    // with one line of what was seen in it.
    enum Phase { Loading, None, Few, Plenty };
    Phase phase = Loading;
    QElapsedTimer inPhase;
    QElapsedTimer sincePoll;
    qint64 longestGapMs = 0;
    double cpuAtStart = 0;
    int mostMarked = 0;
    int mostBusy = 0;
    const auto report = [&](const char* name) {
        const RowCounts rows = CountRows(frame);
        std::printf("%s rows=%d shown=%d marked=%d busy=%d most_marked=%d most_busy=%d "
                    "attempts=%d refused=%d gap_ms=%lld cpu_ms=%.0f ms=%lld\n",
            name, frame->hostList->GetItemCount(), rows.shown, rows.marked, rows.busy, mostMarked,
            mostBusy, attempts->load(), refused->load(), static_cast<long long>(longestGapMs),
            1000 * (CpuSeconds() - cpuAtStart), static_cast<long long>(inPhase.elapsed()));
        std::fflush(stdout);
        *attempts = 0;
        *refused = 0;
        longestGapMs = mostMarked = mostBusy = 0;
        cpuAtStart = CpuSeconds();
        inPhase.start();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, sincePoll.restart());
        const RowCounts rows = CountRows(frame);
        mostMarked = std::max(mostMarked, rows.marked);
        mostBusy = std::max(mostBusy, rows.busy);
        switch (phase) {
        case Loading:
            if (frame->hostList->GetItemCount() != hosts)
                return;
            // No room for one more thread of this user; then every host
            // falls due at once.
            SetProcessLimit(static_cast<rlim_t>(ProcessStatus("Threads")));
            offset->store(6000);
            phase = None;
            report("loaded");
            return;
        case None:
            if (inPhase.elapsed() < 2000)
                return;
            report("none");
            SetProcessLimit(static_cast<rlim_t>(ProcessStatus("Threads") + 3));
            phase = Few;
            return;
        case Few:
            if (inPhase.elapsed() < 2000)
                return;
            report("few");
            SetProcessLimit(plenty);
            phase = Plenty;
            return;
        case Plenty:
            if (inPhase.elapsed() < 20000 && (rows.shown < hosts || rows.marked > 0))
                return;
            poll.stop();
            report("plenty");
            frame->CommandAction(ID_APP_EXIT)->trigger();
            return;
        }
    });
    sincePoll.start();
    inPhase.start();
    poll.start(10);
    return app.Run();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "exit" && argc == 4)
        return RunExit(argc, argv, std::atoi(argv[2]), std::atoi(argv[3]));
    if (mode == "threads" && argc == 3)
        return RunThreads(argc, argv, std::atoi(argv[2]));
    std::fputs("usage: fault_driver exit HOSTS CLOSE_AFTER_MS | threads HOSTS\n", stderr);
    return 2;
}
