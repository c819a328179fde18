#include "app/MainFrame.h"

#include "app/FrameGeometry.h"
#include "app/UserMessage.h"
#include "hosts/GroupFile.h"
#include "hosts/GroupLoad.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "log/LogMode.h"
#include "log/ResultLog.h"
#include "res/DialogUnits.h"
#include "res/ResourceIds.h"
#include "res/ResourceTables.h"
#include "text/WidgetText.h"
#include "view/HostAnnouncer.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QTimer>
#include <QTimerEvent>

namespace {

constexpr int kFrameWidth = 350;
constexpr int kFrameHeight = 250;
constexpr int kTimerPeriodMs = 100;

// Qt reads "[*]" in a window title as the place of a modified-document mark
// and hides it; doubling it makes the title show it literally.
QString LiteralTitle(const std::string& caption)
{
    QString title = FromLocaleBytes(caption);
    title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return title;
}

} // namespace

static void InitResources()
{
    // The icons are compiled into the static UI library; nothing else would
    // make the linker keep them.
    Q_INIT_RESOURCE(kelvoran);
}

CMainFrame::CMainFrame(Services services)
    : services_(std::move(services))
    , probes_(services_)
    , resultLog_(std::make_unique<ResultLog>(services_.logDirectory, services_.logClock))
{
    InitResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("CMainFrame"));
}

CMainFrame::~CMainFrame()
{
    probes_.Close();
    hostTable.clear();
}

bool CMainFrame::LoadFrame()
{
    if (!PreCreateWindow())
        return false;
    menu_.Build(
        this, [this](int id) { OnCommand(id); }, [this] { UpdateLogChecks(); });
    SetWindowText(LoadResString(IDR_MAINFRAME));
    return OnCreate() == 0;
}

bool CMainFrame::PreCreateWindow()
{
    // The outer size includes the frame; once the window system tells the
    // frame's size (showEvent), the inner size is corrected.
    resize(kFrameWidth, kFrameHeight);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    // The window stays on top while its user works in another one: a row's
    // details must show there too, without a click that takes the focus.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    return true;
}

int CMainFrame::OnCreate()
{
    QIcon icon;
    icon.addFile(QStringLiteral(":/res/kelvoran-32.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/res/kelvoran-16.png"), QSize(16, 16));
    setWindowIcon(icon);

    hostList = new CHostListCtrl(this);
    hostList->setObjectName(QStringLiteral("hostList"));
    setCentralWidget(hostList);
    hostList->tick = [this] { return probes_.Now(); };
    hostList->wallClock = services_.logClock;

    listFont = DialogFont();
    hostList->setFont(listFont);
    hostList->InsertHostColumns(width());
    // The list has the keyboard whenever the window is active.
    hostList->setFocus();
    announcer_ = new CHostAnnouncer(this);

    logMode = 0;
    // Results come back as a call queued to this window's thread: a call
    // still queued when the window goes is dropped with it. The list tells its
    // views of a batch of results once.
    probes_.Open(
        [this](std::function<void()> call) {
            QMetaObject::invokeMethod(
                this,
                [this, call = std::move(call)] {
                    hostList->BeginChanges();
                    call();
                    hostList->EndChanges();
                    hostList->RefreshToolTip();
                },
                Qt::QueuedConnection);
        },
        [this](HostEntry* entry, const ProbeOutcome& outcome) { OnProbeResult(entry, outcome); });

    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);

    // Posted, not sent: the group dialog opens once the event loop runs,
    // after the window has been shown.
    QMetaObject::invokeMethod(
        this, [this] { OnCommand(ID_GROUP); }, Qt::QueuedConnection);
    return 0;
}

void CMainFrame::UpdateLogChecks()
{
    if (QAction* full = menu_.Action(ID_FULL_LOG))
        full->setChecked(IsLogCommandChecked(LogCommand::FullLog, logMode));
    if (QAction* byStatus = menu_.Action(ID_LOG_BY_STATUS))
        byStatus->setChecked(IsLogCommandChecked(LogCommand::LogByStatus, logMode));
}

void CMainFrame::OnLogCommand(LogCommand command)
{
    const LogModeSwitch next = SwitchLogMode(command, logMode, GetWindowText());
    logMode = next.logMode;
    SetWindowText(next.caption);
    UpdateLogChecks();
}

void CMainFrame::OnCommand(int id)
{
    emit commandReceived(id);
    if (destroyed_)
        return;
    switch (id) {
    case ID_GROUP:
        OnGroup();
        return;
    case ID_FULL_LOG:
        OnLogCommand(LogCommand::FullLog);
        return;
    case ID_LOG_BY_STATUS:
        OnLogCommand(LogCommand::LogByStatus);
        return;
    case ID_APP_EXIT:
        close();
        return;
    default:
        break;
    }
    if (services_.appCommand)
        services_.appCommand(id);
}

void CMainFrame::SetWindowText(const std::string& caption)
{
    caption_ = caption;
    setWindowTitle(LiteralTitle(caption));
}

void CMainFrame::OnGroup()
{
    CGroupSelectDialog dialog(this);
    const int answer = dialog.DoModal();
    // The window may have been closed while the dialog ran.
    if (destroyed_ || answer != IDOK || dialog.selectedGroup.empty())
        return;

    FilePtr file = OpenGroupFile();
    if (!file)
        return;
    // Raised only now that the file is open: when the file has vanished the
    // shown group stays, and so do the results of its running probes.
    probes_.BeginLoad();
    SetWindowText(GroupCaption(logMode, dialog.selectedGroup));
    LoadGroupHosts(file.get(), dialog.selectedGroup, *hostList, hostTable, services_.tick);
    hostList->ShowGroup(dialog.selectedGroup);
}

bool CMainFrame::DestroyWindow()
{
    if (destroyed_)
        return true;
    destroyed_ = true;
    if (timerId_ != 0) {
        killTimer(timerId_);
        timerId_ = 0;
    }
    // From here on no worker reaches the window: those waiting to report
    // return at once, those still probing are turned away when they end.
    probes_.Close();
    FreeRowEntries(*hostList);
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    DestroyWindow();
    event->accept();
}

void CMainFrame::focusInEvent(QFocusEvent*)
{
    // The focus goes on to the list, where the keys move through the hosts.
    if (hostList != nullptr)
        hostList->setFocus();
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    QTimer::singleShot(0, this, [this] { FixOuterSize(); });
}

void CMainFrame::FixOuterSize()
{
    // Once the window manager has framed the window, the outer size is made
    // 350 x 250, once.
    if (!outerSizeFixed_ && isVisible())
        outerSizeFixed_ = SetOuterSize(this, QSize(kFrameWidth, kFrameHeight));
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    FixOuterSize();
    OnMove();
}

void CMainFrame::OnMove()
{
    if (isVisible())
        SnapToScreenEdges(this);
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FixOuterSize();
    OnSize();
}

void CMainFrame::OnSize()
{
    if (hostList != nullptr)
        hostList->FitLastColumn(width());
}

void CMainFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timerId_)
        OnTimer();
    else
        QMainWindow::timerEvent(event);
}

void CMainFrame::OnTimer()
{
    // Lines that wait for their file go out as soon as it takes writes again,
    // not with the next logged result, which may be hours away in Log by
    // status; until then they would be lost with the process.
    if (resultLog_->QueuedLines() > 0)
        resultLog_->Flush();
    announcer_->AnnounceDue(probes_.Now());
    if (hostList->GetItemCount() == 0)
        return;
    hostList->BeginChanges();
    probes_.Tick([this](std::vector<HostEntry*>& snapshot) { hostList->RowEntries(snapshot); },
        [this](HostEntry* entry) { hostList->SetItemText(entry->row, 0, InFlightMark()); });
    hostList->EndChanges();
}

void CMainFrame::OnProbeResult(HostEntry* entry, const ProbeOutcome& outcome)
{
    // The host's own records take the outcome first, so that DISP finds the
    // new result in the entry and the one shown before in prevResult. A
    // result of a replaced group comes without its entry and books nothing.
    // A changed state is announced once the row shows it.
    const bool changed
        = entry != nullptr && BookResult(*entry, outcome, probes_.Now(), services_.logClock());
    OnUserMessage(DISP, reinterpret_cast<std::intptr_t>(entry));
    if (changed)
        announcer_->HostChanged(*entry, probes_.Now());
}

std::intptr_t CMainFrame::OnUserMessage(std::uint32_t code, std::intptr_t param)
{
    if (code == DISP) {
        auto* entry = reinterpret_cast<HostEntry*>(param);
        if (entry == nullptr)
            return 0;
        // In this order: the row shows the new result (the mark cleared, and
        // on a changed text the texts rewritten and, sorted by time, the rows
        // sorted and renumbered); the logging rule compares the result shown
        // before with the new one, so prevResult takes the new one only after
        // it; last, lastDone and busy close the probe cycle, and the host is
        // due again an interval from now.
        hostList->ShowResult(*entry);
        if (ShouldWriteResultLog(logMode, entry->prevResult, entry->result))
            resultLog_->WriteResultLog(entry->name, entry->result);
        entry->prevResult = entry->result;
        entry->lastDone = static_cast<std::int32_t>(probes_.Now());
        entry->busy = 0;
        return 0;
    }
    if (code == HOST) {
        const auto* text = reinterpret_cast<const char*>(param);
        if (text == nullptr)
            return 0;
        return reinterpret_cast<std::intptr_t>(hostTable.find(text));
    }
    if (code == SORT) {
        hostList->RenumberRows();
        return 0;
    }
    return 0;
}
