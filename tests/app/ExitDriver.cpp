// The real program's start-up and exit, driven from inside: in a network
// namespace of its own whose loopback answers no echo, it loads a group of
// silent loopback hosts, waits until the given number of probes are waiting
// for their replies, then chooses File > Exit. It prints "exit" just before.
// Usage: exit_driver HOSTS WAITING. Exit status 77: the machine cannot make
// the namespace (not root).
#include "app/HostApp.h"
#include "res/ResourceIds.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <sched.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    const int hosts = std::atoi(argv[1]);
    const int waiting = std::atoi(argv[2]);
    if (unshare(CLONE_NEWNET) != 0)
        return 77;
    if (std::system("ip link set lo up") != 0)
        return 77;
    std::ofstream("/proc/sys/net/ipv4/icmp_echo_ignore_all") << "1\n";

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication qapp(argc, argv);
    TempDir dir;
    std::string group = "[Silent]\n";
    for (int i = 0; i < hosts; ++i)
        group += "127.3." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + "\n";
    dir.write("kelvoran.ini", group);

    // The first probes are due 5 s after the load; the clock jumps there.
    auto offset = std::make_shared<std::atomic<std::uint32_t>>(0);
    CMainFrame::Services services;
    services.tick = [offset] { return GetTickCount() + offset->load(); };
    CHostApp app(SocketLayerWorks, services);
    WhenModal([](QWidget* dialog) {
        for (int key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Down, Qt::Key_Return})
            PressKey(dialog, key);
    });
    if (!app.InitInstance())
        return 3;
    CMainFrame* frame = app.MainWindow();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (frame->hostList->GetItemCount() == hosts && offset->load() == 0)
            offset->store(6000);
        if (frame->probesInFlight() >= waiting) {
            poll.stop();
            std::printf("exit %d\n", frame->probesInFlight());
            std::fflush(stdout);
            frame->CommandAction(ID_APP_EXIT)->trigger();
        }
    });
    poll.start(10);
    return app.Run();
}
