#pragma once

#include "hosts/HostTable.h"
#include "probe/TickCount.h"

#include <QFont>
#include <QMainWindow>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

class CHostListCtrl;
class QAction;
class QMenu;

// The counters that the window shares with its probe workers. They live in a
// reference-counted block so that a worker finishing after the window has gone
// still finds them.
struct FrameCounters
{
    std::atomic<std::int32_t> loadGeneration {0};
    std::atomic<std::int32_t> probesInFlight {0};
};

// The outside world of the main window, passed in so that tests can drive it.
struct FrameServices
{
    TickSource tick = GetTickCount;
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

    std::int32_t loadGeneration() const { return counters_->loadGeneration.load(); }
    std::int32_t probesInFlight() const { return counters_->probesInFlight.load(); }

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
    void OnSize();
    void OnTimer();
    void FreeAllEntries();
    void FixOuterSize();

    Services services_;
    std::shared_ptr<FrameCounters> counters_ = std::make_shared<FrameCounters>();
    std::string caption_;
    std::map<int, QAction*> actions_;
    int timerId_ = 0;
    bool destroyed_ = false;
    bool outerSizeFixed_ = false;
};
