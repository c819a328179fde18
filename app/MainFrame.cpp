#include "app/MainFrame.h"

#include "app/EdgeSnap.h"
#include "hosts/GroupFile.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "hosts/Resolver.h"
#include "log/LogMode.h"
#include "log/ResultLog.h"
#include "probe/IcmpProbe.h"
#include "probe/ProbeChannel.h"
#include "probe/ResultText.h"
#include "probe/Scheduler.h"
#include "probe/UserMessage.h"
#include "res/DialogUnits.h"
#include "res/Resource.h"
#include "res/Resources.h"
#include "res/WidgetText.h"
#include "view/CompareHostEntries.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTimer>
#include <QTimerEvent>
#include <QWindow>

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
    , channel_(std::make_shared<ProbeChannel>())
    , resultLog_(std::make_unique<ResultLog>(services_.logDirectory, services_.logClock))
{
    InitResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("CMainFrame"));
}

CMainFrame::~CMainFrame()
{
    channel_->Close();
    hostTable.clear();
}

std::int32_t CMainFrame::loadGeneration() const
{
    return channel_->loadGeneration.load();
}

std::int32_t CMainFrame::probesInFlight() const
{
    return channel_->probesInFlight.load();
}

bool CMainFrame::LoadFrame()
{
    if (!PreCreateWindow())
        return false;
    BuildMenu();
    SetWindowText(LoadResString(IDR_MAINFRAME));
    return OnCreate() == 0;
}

bool CMainFrame::PreCreateWindow()
{
    // The outer size includes the frame; once the window system tells the
    // frame's size (showEvent), the inner size is corrected.
    resize(kFrameWidth, kFrameHeight);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
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
    // A list without border; it takes the keyboard focus only when clicked,
    // since the frame keeps the focus to itself.
    hostList->setFrameShape(QFrame::NoFrame);
    hostList->setFocusPolicy(Qt::ClickFocus);
    setCentralWidget(hostList);
    hostList->sendToMainWindow
        = [this](std::uint32_t code, std::intptr_t param) { return OnUserMessage(code, param); };

    const int clientWidth = width();
    const int scrollExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hostList);

    listFont = DialogFont();
    hostList->setFont(listFont);
    hostList->setSelectionBehavior(QAbstractItemView::SelectRows);
    hostList->setSelectionMode(QAbstractItemView::ExtendedSelection);

    hostList->InsertColumn(0, "", CStripedListCtrl::Align::Center, 20);
    hostList->InsertColumn(1, "IP", CStripedListCtrl::Align::Center, 100);
    hostList->InsertColumn(2, "Time", CStripedListCtrl::Align::Center, 70);
    hostList->InsertColumn(
        3, "Desc", CStripedListCtrl::Align::Left, clientWidth - scrollExtent - 190);

    logMode = 0;
    channel_->loadGeneration = 0;
    channel_->probesInFlight = 0;
    channel_->Open([this] {
        QMetaObject::invokeMethod(
            this, [this] { DeliverProbeResults(); }, Qt::QueuedConnection);
    });

    timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);

    // Posted, not sent: the group dialog opens once the event loop runs,
    // after the window has been shown.
    QMetaObject::invokeMethod(
        this, [this] { OnCommand(ID_GROUP); }, Qt::QueuedConnection);
    return 0;
}

void CMainFrame::BuildMenu()
{
    for (const PopupDef& popup : MainMenu()) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(popup.caption));
        for (const MenuItemDef& item : popup.items) {
            if (item.caption == nullptr) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromLatin1(item.caption));
            const int id = item.command;
            action->setData(id);
            if (id == ID_FULL_LOG || id == ID_LOG_BY_STATUS)
                action->setCheckable(true);
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
            actions_[id] = action;
        }
        connect(menu, &QMenu::aboutToShow, this, [this, menu] { OnUpdateCommandUI(menu); });
    }
    for (const AccelDef& accel : MainAccelerators()) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(accel.keys)), this);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = accel.command;
        connect(shortcut, &QShortcut::activated, this, [this, id] { OnCommand(id); });
    }
}

QAction* CMainFrame::CommandAction(int id) const
{
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::OnUpdateCommandUI(QMenu*)
{
    UpdateLogChecks();
}

void CMainFrame::UpdateLogChecks()
{
    if (QAction* full = CommandAction(ID_FULL_LOG))
        full->setChecked(IsLogCommandChecked(LogCommand::FullLog, logMode));
    if (QAction* byStatus = CommandAction(ID_LOG_BY_STATUS))
        byStatus->setChecked(IsLogCommandChecked(LogCommand::LogByStatus, logMode));
}

void CMainFrame::OnFullLog()
{
    const LogModeSwitch next = SwitchLogMode(LogCommand::FullLog, logMode, GetWindowText());
    logMode = next.logMode;
    SetWindowText(next.caption);
    UpdateLogChecks();
}

void CMainFrame::OnLogByStatus()
{
    const LogModeSwitch next = SwitchLogMode(LogCommand::LogByStatus, logMode, GetWindowText());
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
        OnFullLog();
        return;
    case ID_LOG_BY_STATUS:
        OnLogByStatus();
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
    channel_->loadGeneration.fetch_add(1);

    std::string title = logMode == 1 ? "[*] " : logMode == 2 ? "[+] " : "";
    title += "kelvoran : ";
    title += dialog.selectedGroup;
    SetWindowText(title);

    FreeAllEntries();
    hostList->DeleteAllItems();
    hostTable.clear();

    ReadGroupHosts(file.get(), dialog.selectedGroup,
        [this](const std::string& host, const std::string& description) {
            AddHost(host, description);
        });
}

void CMainFrame::AddHost(const std::string& host, const std::string& description)
{
    const std::optional<std::uint32_t> address = ResolveHostText(host.c_str());
    if (!address)
        return;
    const std::string dotted = DottedAddress(*address);
    const int n = hostList->GetItemCount();

    HostEntry* entry = NewHostEntry();
    entry->order = n;
    entry->row = n;
    entry->lastDone = static_cast<std::int32_t>(services_.tick());
    entry->busy = 0;
    entry->prevResult = kResultNotProbed;
    entry->address = *address;
    entry->result = kResultNotProbed;
    entry->name = dotted;
    entry->description = description;

    hostList->InsertItem(n, "");
    hostList->SetItemText(n, 1, dotted);
    hostList->SetItemText(n, 3, description);
    hostList->SetItemData(n, reinterpret_cast<ItemData>(entry));
    hostTable.assign(dotted, entry);
}

void CMainFrame::FreeAllEntries()
{
    for (int i = 0; i < hostList->GetItemCount(); ++i) {
        auto* entry = reinterpret_cast<HostEntry*>(hostList->GetItemData(i));
        if (entry == nullptr)
            continue;
        FreeHostEntry(entry);
        // Nothing may find the freed entry through its row any more.
        hostList->SetItemData(i, 0);
    }
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
    // return at once, those still probing find the channel closed later.
    channel_->Close();
    FreeAllEntries();
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    DestroyWindow();
    event->accept();
}

void CMainFrame::focusInEvent(QFocusEvent*)
{
    // The frame keeps the focus; it is not passed on to the list.
}

void CMainFrame::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    QTimer::singleShot(0, this, [this] { FixOuterSize(); });
}

void CMainFrame::FixOuterSize()
{
    // Qt sizes the inside of a window; the frame's own size is known only once
    // the window manager has framed the window. Then, once, the outer size is
    // made 350 x 250.
    if (outerSizeFixed_ || !isVisible())
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() <= 0 && frame.height() <= 0)
        return;
    outerSizeFixed_ = true;
    resize(kFrameWidth - frame.width(), kFrameHeight - frame.height());
}

void CMainFrame::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    FixOuterSize();
    OnMove();
}

namespace {

Rect ToRect(const QRect& r)
{
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

} // namespace

void CMainFrame::OnMove()
{
    if (!isVisible())
        return;
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::vector<Rect> monitors;
    monitors.reserve(static_cast<std::size_t>(screens.size()));
    for (const QScreen* screen : screens)
        monitors.push_back(ToRect(screen->geometry()));
    const Rect before = ToRect(frameGeometry());
    const int monitor = ChooseMonitor(monitors, before);
    if (monitor < 0)
        return;
    const Rect after = SnapToWorkArea(ToRect(screens[monitor]->availableGeometry()), before);
    if (after == before)
        return;
    move(after.left, after.top);
}

void CMainFrame::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    FixOuterSize();
    OnSize();
}

void CMainFrame::OnSize()
{
    if (hostList == nullptr)
        return;
    const int scrollExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, hostList);
    const int fixed
        = hostList->GetColumnWidth(0) + hostList->GetColumnWidth(1) + hostList->GetColumnWidth(2);
    // A window narrower than the fixed columns leaves no room for the last
    // one: it gets none, rather than a huge width from a negative one.
    hostList->SetColumnWidth(3, std::max(0, width() - scrollExtent - fixed));
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
    const int count = hostList->GetItemCount();
    if (count == 0)
        return;
    std::vector<HostEntry*> snapshot;
    snapshot.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (auto* entry = reinterpret_cast<HostEntry*>(hostList->GetItemData(i)))
            snapshot.push_back(entry);
    }
    // A thread refused ends the walk as the cap does: the system would refuse
    // the rest of this tick's threads too, and trying each of thousands of
    // hosts ten times a second only burns the time it has left.
    bool refused = false;
    RunScheduleTick(snapshot,
        {
            [this, &refused] {
                return refused ? kMaxProbesInFlight + 1 : channel_->probesInFlight.load();
            },
            services_.tick,
            [this, &refused](HostEntry* entry) { refused = !StartProbe(entry); },
        });
}

bool CMainFrame::StartProbe(HostEntry* entry)
{
    entry->busy = 1;
    hostList->SetItemText(entry->row, 0, InFlightMark());
    // The worker gets its own copy of the address, since the entry may be
    // freed by a group load while the worker runs, and the load generation of
    // this moment: a thread may begin running only after a load that came
    // later, and must not take that load's generation for its own.
    auto body = [channel = channel_, entry, generation = channel_->loadGeneration.load(),
                    name = entry->name,
                    echo = services_.echo] { RunProbe(channel, entry, generation, name, echo); };
    if (!services_.startThread(std::move(body))) {
        // No thread today: leave the host free, so that a later tick retries.
        entry->busy = 0;
        hostList->SetItemText(entry->row, 0, "");
        return false;
    }
    return true;
}

void CMainFrame::RunProbe(const std::shared_ptr<ProbeChannel>& channel, HostEntry* entry,
    std::int32_t generation, const std::string& name, const EchoFunction& echo)
{
    channel->probesInFlight.fetch_add(1);
    ProbeReply reply {};
    const int ok = echo ? echo(name.c_str(), &reply, 10, 5000, 32)
                        : IcmpProbe(name.c_str(), &reply, 10, 5000, 32);
    const std::int32_t value = ok ? static_cast<std::int32_t>(reply.roundTripTime) : -1;
    const bool current = generation == channel->loadGeneration.load();
    channel->Send({current ? entry : nullptr, generation, value});
    channel->probesInFlight.fetch_sub(1);
}

void CMainFrame::DeliverProbeResults()
{
    channel_->Deliver([this](const ProbeResult& result) {
        // The generation is tested again here, on the window thread, where
        // group loads happen: between the worker's test and this moment a
        // load may have freed the entry.
        if (result.entry != nullptr && result.generation == channel_->loadGeneration.load()) {
            result.entry->result.store(result.value);
            OnUserMessage(DISP, reinterpret_cast<std::intptr_t>(result.entry));
        } else {
            OnUserMessage(DISP, 0);
        }
    });
}

std::intptr_t CMainFrame::OnUserMessage(std::uint32_t code, std::intptr_t param)
{
    if (code == DISP) {
        auto* entry = reinterpret_cast<HostEntry*>(param);
        if (entry == nullptr)
            return 0;
        const std::int32_t result = entry->result.load();
        const std::string text = ResultText(result);
        const int row = entry->row;
        hostList->SetItemText(row, 0, "");
        if (hostList->GetItemText(row, 2) != text) {
            hostList->SetItemText(row, 1, entry->name);
            hostList->SetItemText(row, 2, text);
            hostList->SetItemText(row, 3, entry->description);
            if (hostList->sortKey == 2 || hostList->sortKey == -2) {
                hostList->SortItems(CompareHostEntries, hostList->sortKey);
                OnUserMessage(SORT, 0);
            }
        }
        ApplyLogRule(entry);
        entry->prevResult = result;
        entry->lastDone = static_cast<std::int32_t>(services_.tick());
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
        for (int i = 0; i < hostList->GetItemCount(); ++i) {
            if (auto* entry = reinterpret_cast<HostEntry*>(hostList->GetItemData(i)))
                entry->row = i;
        }
        return 0;
    }
    return 0;
}

void CMainFrame::ApplyLogRule(HostEntry* entry)
{
    const std::int32_t result = entry->result.load();
    if (ShouldWriteResultLog(logMode, entry->prevResult, result))
        resultLog_->WriteResultLog(entry->name, result);
}
