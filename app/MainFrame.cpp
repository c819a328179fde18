#include "app/MainFrame.h"

#include "hosts/GroupFile.h"
#include "hosts/GroupSelectDialog.h"
#include "hosts/HostEntry.h"
#include "hosts/Resolver.h"
#include "res/DialogUnits.h"
#include "res/Resource.h"
#include "res/Resources.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QCloseEvent>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
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
    QString title = QString::fromLocal8Bit(caption);
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
{
    InitResources();
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("CMainFrame"));
}

CMainFrame::~CMainFrame()
{
    hostTable.clear();
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
    counters_->loadGeneration = 0;
    counters_->probesInFlight = 0;

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

void CMainFrame::OnUpdateCommandUI(QMenu* menu)
{
    for (QAction* action : menu->actions()) {
        const int id = action->data().toInt();
        if (id == ID_FULL_LOG)
            action->setChecked(logMode == 1);
        else if (id == ID_LOG_BY_STATUS)
            action->setChecked(logMode == 2);
    }
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
    counters_->loadGeneration.fetch_add(1);

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
    hostList->SetColumnWidth(3, width() - scrollExtent - fixed);
}

void CMainFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == timerId_)
        OnTimer();
    else
        QMainWindow::timerEvent(event);
}

void CMainFrame::OnTimer() { }
