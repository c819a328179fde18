#pragma once

#include "app/FrameMenu.h"
#include "hosts/HostTable.h"
#include "log/LogMode.h"
#include "probe/ProbeRunner.h"

#include <QFont>
#include <QMainWindow>

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

class CHostAnnouncer;
class CHostListCtrl;
class QAction;
class ResultLog;
struct HostEntry;
struct ProbeOutcome;

// The outside world of the main window, passed in so that tests can drive it:
// the probes' clock, echo and threads, and these.
struct FrameServices : ProbeServices
{
    // The wall clock, for the result log's lines and the times of day in the
    // host list's tooltips; the log's folder.
    std::function<std::time_t()> logClock = [] { return std::time(nullptr); };
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
    bool DestroyWindow();

    // The caption as the program's bytes; the title shows exactly this text.
    std::string GetWindowText() const { return caption_; }
    void SetWindowText(const std::string& caption);

    CHostListCtrl* hostList = nullptr;
    QFont listFont;
    std::int32_t logMode = 0;
    HostTable hostTable;

    std::int32_t loadGeneration() const { return probes_.loadGeneration(); }
    std::int32_t probesInFlight() const { return probes_.probesInFlight(); }

    // Requests to the window: DISP, SORT and HOST (see UserMessage.h).
    // Runs on the window thread only.
    std::intptr_t OnUserMessage(std::uint32_t code, std::intptr_t param);

    // The menu action of a command, for menu-state updates and tests.
    QAction* CommandAction(int id) const { return menu_.Action(id); }

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
    void OnLogCommand(LogCommand command);
    void UpdateLogChecks();
    void OnMove();
    void OnSize();
    void OnTimer();
    void OnProbeResult(HostEntry* entry, const ProbeOutcome& outcome);
    void FixOuterSize();

    Services services_;
    ProbeRunner probes_;
    std::unique_ptr<ResultLog> resultLog_;
    CHostAnnouncer* announcer_ = nullptr;
    std::string caption_;
    FrameMenu menu_;
    int timerId_ = 0;
    bool destroyed_ = false;
    bool outerSizeFixed_ = false;
};
