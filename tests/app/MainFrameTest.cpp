#include "app/MainFrame.h"
#include "app/HostApp.h"
#include "hosts/HostEntry.h"
#include "res/ResourceIds.h"
#include "res/ResourceText.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/LocaleSwitch.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStyle>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <vector>

namespace {

const char* kGroups = "[Servers]\n127.0.0.1 one\n127.0.0.2 two\n127.0.0.3 three\n";

} // namespace

TEST(StartUp, SocketFailureShowsTheMessageAndNoWindow)
{
    // Where the machine has it, a locale whose encoding lacks Hangul: the
    // message shows as its characters all the same.
    const LocaleSwitch latin("en_US.ISO-8859-1");
    QString text, title;
    WhenModal([&](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        ASSERT_NE(box, nullptr);
        text = box->text();
        title = box->windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    CHostApp app([] { return false; });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.MainWindow(), nullptr);
    EXPECT_EQ(text, LoadResText(IDP_SOCKETS_INIT_FAILED));
    EXPECT_EQ(text, QString::fromUtf8("Windows 소켓 초기화에 실패하였습니다."));
    EXPECT_EQ(title, QStringLiteral("kelvoran"));
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<CMainFrame*>(w) && w->isVisible());
}

TEST(StartUp, WindowShowsThenTheGroupDialogOpensOnce)
{
    TempDir dir;
    dir.write("kelvoran.ini", kGroups);
    std::vector<bool> visibleAtGroup;
    int dialogs = 0;
    WhenModal([&](QWidget* dialog) {
        ++dialogs;
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Group Select"));
        PressKey(dialog, Qt::Key_Escape);
    });
    CHostApp app([] { return true; });
    ASSERT_TRUE(app.InitInstance());
    CMainFrame* frame = app.MainWindow();
    ASSERT_NE(frame, nullptr);
    QObject::connect(frame, &CMainFrame::commandReceived, [&](int id) {
        if (id == ID_GROUP)
            visibleAtGroup.push_back(frame->isVisible());
    });
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(visibleAtGroup.empty()) << "the command is posted, not sent";
    Pump(400);
    EXPECT_EQ(visibleAtGroup, std::vector<bool> {true});
    EXPECT_EQ(dialogs, 1);
    // Cancelled: the empty list and the plain caption.
    EXPECT_EQ(frame->hostList->GetItemCount(), 0);
    EXPECT_EQ(frame->windowHandle()->title(), QStringLiteral("kelvoran"));
}

TEST(MainWindow, CreationParameters)
{
    FrameDriver f;
    CMainFrame* frame = f.frame();
    EXPECT_EQ(frame->frameGeometry().size(), QSize(350, 250));
    EXPECT_TRUE(frame->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(frame->windowIcon().isNull());
    EXPECT_EQ(frame->windowIcon().availableSizes(), (QList<QSize> {QSize(32, 32), QSize(16, 16)}));

    CHostListCtrl* list = frame->hostList;
    ASSERT_EQ(list->model()->columnCount(), 4);
    struct Column
    {
        const char* name;
        const char* heading;
        Qt::Alignment align;
    };
    const Column columns[] = {
        {"probe mark", "", Qt::AlignHCenter},
        {"address", "IP", Qt::AlignHCenter},
        {"result", "Time", Qt::AlignHCenter},
        {"description", "Desc", Qt::AlignLeft},
    };
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(columns[c].name);
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(),
            QString::fromLatin1(columns[c].heading));
        const auto a = list->model()
                           ->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole)
                           .value<Qt::Alignment>();
        EXPECT_EQ(a & Qt::AlignHorizontal_Mask, columns[c].align);
    }
    EXPECT_EQ(list->GetColumnWidth(0), 20);
    EXPECT_EQ(list->GetColumnWidth(1), 100);
    EXPECT_EQ(list->GetColumnWidth(2), 70);
    const int extent = frame->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list);
    EXPECT_EQ(list->GetColumnWidth(3), frame->width() - extent - 190);
    EXPECT_EQ(frame->centralWidget(), list);
    EXPECT_EQ(list->geometry().width(), frame->width());
    EXPECT_EQ(list->font().pointSize(), 9);
    EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list->frameShape(), QFrame::NoFrame);

    EXPECT_EQ(frame->logMode, 0);
    EXPECT_EQ(frame->loadGeneration(), 0);
    EXPECT_EQ(frame->probesInFlight(), 0);
    EXPECT_EQ(frame->GetWindowText(), "kelvoran");
}

TEST(MainWindow, MenuCaptionsAndCommands)
{
    FrameDriver f;
    struct Item
    {
        QString caption;
        int id;
    };
    std::vector<std::pair<QString, std::vector<Item>>> shown;
    for (QAction* popup : f->menuBar()->actions()) {
        std::vector<Item> items;
        for (QAction* a : popup->menu()->actions())
            items.push_back({a->isSeparator() ? QStringLiteral("-") : a->text(),
                a->isSeparator() ? 0 : a->data().toInt()});
        shown.emplace_back(popup->text(), items);
    }
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].first, QStringLiteral("&File"));
    EXPECT_EQ(shown[1].first, QStringLiteral("&Help"));
    const std::vector<std::pair<const char*, int>> file = {{"&Group", 32771}, {"-", 0},
        {"Full log", 32773}, {"Log by status", 32772}, {"-", 0}, {"E&xit", 57665}};
    ASSERT_EQ(shown[0].second.size(), file.size());
    for (std::size_t i = 0; i < file.size(); ++i) {
        EXPECT_EQ(shown[0].second[i].caption, QString::fromLatin1(file[i].first));
        EXPECT_EQ(shown[0].second[i].id, file[i].second);
    }
    ASSERT_EQ(shown[1].second.size(), 1u);
    EXPECT_EQ(shown[1].second[0].caption, QStringLiteral("&About ..."));
    EXPECT_EQ(shown[1].second[0].id, 57664);
    for (int id : {ID_FULL_LOG, ID_LOG_BY_STATUS}) {
        EXPECT_FALSE(f->CommandAction(id)->isChecked());
        EXPECT_TRUE(f->CommandAction(id)->isEnabled());
    }
}

TEST(MainWindow, EditingAcceleratorsDoNothing)
{
    TempDir dir;
    dir.write("kelvoran.ini", kGroups);
    FrameDriver f;
    f.ChooseGroup("Servers");
    ASSERT_EQ(f.RowCount(), 3);
    CHostListCtrl* list = f->hostList;
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.frame()));
    list->setFocus();
    list->setCurrentIndex(list->model()->index(1, 1));
    QApplication::clipboard()->setText(QStringLiteral("untouched"));

    std::vector<int> arrived;
    QObject::connect(
        f.frame(), &CMainFrame::commandReceived, [&](int id) { arrived.push_back(id); });
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[]
        = {{Qt::Key_C, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ControlModifier},
            {Qt::Key_V, Qt::ControlModifier}, {Qt::Key_Insert, Qt::ShiftModifier},
            {Qt::Key_X, Qt::ControlModifier}, {Qt::Key_Delete, Qt::ShiftModifier},
            {Qt::Key_Z, Qt::ControlModifier}, {Qt::Key_Backspace, Qt::AltModifier},
            {Qt::Key_F6, Qt::NoModifier}, {Qt::Key_F6, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
        QTest::keyClick(f->windowHandle(), key, modifiers);
        Pump(10);
    }
    EXPECT_EQ(arrived,
        (std::vector<int> {ID_EDIT_COPY, ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_PASTE, ID_EDIT_CUT,
            ID_EDIT_CUT, ID_EDIT_UNDO, ID_EDIT_UNDO, ID_NEXT_PANE, ID_PREV_PANE}));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("untouched"));
    EXPECT_EQ(f.RowCount(), 3);
    EXPECT_EQ(f.Text(1, 1), "127.0.0.2");
    EXPECT_EQ(f->GetWindowText(), "kelvoran : Servers");
}

TEST(MainWindow, ClosingReleasesEveryRowsEntry)
{
    TempDir dir;
    dir.write("kelvoran.ini", kGroups);
    const long before = LiveHostEntries();
    auto f = std::make_unique<FrameDriver>();
    f->ChooseGroup("Servers");
    EXPECT_EQ(LiveHostEntries(), before + 3);
    // A row without an entry is skipped.
    f->frame()->hostList->InsertItem(3, "");
    QPointer<CMainFrame> frame = f->frame();
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(LiveHostEntries(), before);
    EXPECT_TRUE(WaitUntil([&] { return frame.isNull(); }));
}

TEST(MainWindow, ExitCommandClosesTheWindow)
{
    FrameDriver f;
    QPointer<CMainFrame> frame = f.frame();
    frame->CommandAction(ID_APP_EXIT)->trigger();
    EXPECT_TRUE(WaitUntil([&] { return frame.isNull(); }));
}

TEST(MainWindow, ResizingSetsTheLastColumnsWidth)
{
    FrameDriver f;
    const int extent = f->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, f->hostList);
    for (int width : {500, 350, 300}) {
        f->resize(width, 250);
        Pump(20);
        EXPECT_EQ(f->hostList->GetColumnWidth(3), width - extent - 190) << width;
        EXPECT_EQ(f->hostList->width(), width);
    }
    // Narrower than the fixed columns: the last column gets no width at all.
    f->setMinimumWidth(0);
    f->resize(150, 250);
    Pump(20);
    ASSERT_LT(f->width(), 190 + extent);
    EXPECT_EQ(f->hostList->GetColumnWidth(3), 0);
}
