#pragma once

#include "hosts/HostTable.h"
#include "probe/TickCount.h"
#include "probe/WorkerThread.h"

#include <QFont>
#include <QMainWindow>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>

class CHostListCtrl;
class ProbeChannel;
class QAction;
class ResultLog;
class QMenu;
struct HostEntry;
struct ProbeReply;

// One echo exchange: host text, reply, TTL, timeout in ms, data size; 1 when a
// valid echo came back.
using EchoFunction = std::function<int(const char* host, ProbeReply* reply, std::uint8_t ttl,
    std::uint32_t timeout, std::uint8_t dataSize)>;

// The outside world of the main window, passed in so that tests can drive it.
struct FrameServices
{
    TickSource tick = GetTickCount;
    EchoFunction echo; // the system's ICMP echo when empty
    ThreadStarter startThread = StartWorkerThread;
    // The result log's clock (the system clock when empty) and folder.
    std::function<std::time_t()> logClock;
    std::string logDirectory = ".";
    // The application's own command handling (the About box), reached for
    // commands the window does not handle itself.
    std::function<bool(int)> appCommand;
};

// The main window: the host list filling the client area, the menu, the
// 100 ms timer that drives probing, the group load and the orderly close.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    using Services = FrameServices;

    explicit CMainFrame(Services services = {});
    ~CMainFrame() override;

    // Creates the window: size and style, then the list, font, columns,
    // counters and timer, and posts the Group command to itself.
    bool LoadFrame();

    // Command dispatch for menu items and accelerators. Commands without a
    // handler do nothing.
    void OnCommand(int id);
    void OnGroup();
    void AddHost(const std::string& host, const std::string& description);
    bool DestroyWindow();

    // The caption as the program's bytes; the title shows exactly this text.
    std::string GetWindowText() const { return caption_; }
    void SetWindowText(const std::string& caption);

    CHostListCtrl* hostList = nullptr;
    QFont listFont;
    std::int32_t logMode = 0;
    HostTable hostTable;

    std::int32_t loadGeneration() const;
    std::int32_t probesInFlight() const;

    // Requests to the window: DISP, SORT and HOST (see probe/UserMessage.h).
    // Runs on the window thread only.
    std::intptr_t OnUserMessage(std::uint32_t code, std::intptr_t param);

    // The body of one probe worker, on its own thread. It never touches the
    // entry: it only hands the pointer back with its result and the load
    // generation it was started in.
    static void RunProbe(const std::shared_ptr<ProbeChannel>& channel, HostEntry* entry,
        std::int32_t generation, const std::string& name, const EchoFunction& echo);

    // The menu action of a command, for menu-state updates and tests.
    QAction* CommandAction(int id) const;

signals:
    // Emitted when a command arrives, handled or not (tests watch it).
    void commandReceived(int id);

protected:
    void closeEvent(QCloseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    bool PreCreateWindow();
    int OnCreate();
    void BuildMenu();
    void OnUpdateCommandUI(QMenu* menu);
    void OnFullLog();
    void OnLogByStatus();
    void UpdateLogChecks();
    void OnMove();
    void OnSize();
    void OnTimer();
    bool StartProbe(HostEntry* entry); // false when no thread could be started
    void DeliverProbeResults();
    void ApplyLogRule(HostEntry* entry);
    void FreeAllEntries();
    void FixOuterSize();

    Services services_;
    std::shared_ptr<ProbeChannel> channel_;
    std::unique_ptr<ResultLog> resultLog_;
    std::string caption_;
    std::map<int, QAction*> actions_;
    int timerId_ = 0;
    bool destroyed_ = false;
    bool outerSizeFixed_ = false;
};
