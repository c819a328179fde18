#include "app/MainFrame.h"
#include "app/UserMessage.h"
#include "hosts/HostEntry.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/TempDir.h"
#include "tests/view/ListOnScreen.h"
#include "view/BarChart.h"
#include "view/CompareHostEntries.h"
#include "view/HostListCtrl.h"
#include "view/HostToolTip.h"

#include <QHeaderView>
#include <QImage>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// The host list in the real main window: header clicks, re-sorts after changed
// times, and the colours as they reach the screen.
namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kTint = 0xFFF0F7F9; // 0x00F9F7F0 as red, green, blue

class HostListWindow : public ::testing::Test
{
protected:
    HostListWindow()
    {
        // Group order 0..4; by address 3 1 2 0 4, by description 1 4 3 0 2.
        dir.write("kelvoran.ini",
            "[Five]\n127.0.0.10 delta\n127.0.0.2 alpha\n127.0.0.3 echo\n127.0.0.1 charlie\n"
            "127.0.0.20 bravo\n");
        echo.Answer("127.0.0.10", 12);
        echo.Answer("127.0.0.2", -1);
        echo.Answer("127.0.0.3", 3);
        echo.Answer("127.0.0.1", 12);
        echo.Answer("127.0.0.20", 0);
    }

    CMainFrame::Services Services()
    {
        CMainFrame::Services services;
        services.tick = clock.Source();
        services.echo = echo.Layer();
        return services;
    }

    static HostEntry* Entry(FrameDriver& f, int row)
    {
        return reinterpret_cast<HostEntry*>(f->hostList->GetItemData(row));
    }

    // The group order of the hosts, row by row.
    static std::vector<int> Orders(FrameDriver& f)
    {
        std::vector<int> orders;
        for (int i = 0; i < f.RowCount(); ++i)
            orders.push_back(Entry(f, i)->order);
        return orders;
    }

    static void SpoilRowNumbers(FrameDriver& f)
    {
        for (int i = 0; i < f.RowCount(); ++i)
            Entry(f, i)->row = -7;
    }

    static bool RowsNumbered(FrameDriver& f)
    {
        for (int i = 0; i < f.RowCount(); ++i) {
            if (Entry(f, i)->row != i)
                return false;
        }
        return true;
    }

    static void ClickHeader(FrameDriver& f, int column)
    {
        QHeaderView* header = f->hostList->header();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    // Lets every host be probed once more and waits until all results show.
    void WaitForAllResults(FrameDriver& f)
    {
        const int calls = echo.Calls() + f.RowCount();
        clock.Advance(5001);
        ASSERT_TRUE(WaitUntil([&] {
            if (echo.Calls() < calls)
                return false;
            for (int i = 0; i < f.RowCount(); ++i) {
                if (Entry(f, i)->busy != 0 || !f.Text(i, 0).empty())
                    return false;
            }
            return true;
        }));
    }

    TempDir dir;
    TestClock clock {1000};
    FakeEcho echo;
};

bool Reddish(QRgb c)
{
    return qRed(c) > 140 && qRed(c) - qGreen(c) > 80 && qRed(c) - qBlue(c) > 80;
}

bool Dark(QRgb c)
{
    return qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
}

struct RowInk
{
    int red = 0;
    int dark = 0;
};

// The text pixels of a row within columns 1 to 3 of the list's viewport.
RowInk InkOfRow(const QImage& viewport, CStripedListCtrl* list, int row)
{
    RowInk ink;
    QPoint top;
    list->GetItemPosition(row, &top);
    const int left = list->header()->sectionViewportPosition(1);
    const int right = list->header()->sectionViewportPosition(3) + list->GetColumnWidth(3);
    for (int y = top.y(); y < top.y() + list->RowHeight(); ++y) {
        for (int x = left; x < right && x < viewport.width(); ++x) {
            const QRgb c = viewport.pixel(x, y);
            ink.red += Reddish(c) ? 1 : 0;
            ink.dark += Dark(c) ? 1 : 0;
        }
    }
    return ink;
}

// A pixel of a row's cell background: the first pixel of column 1.
QRgb CellBackground(const QImage& viewport, CStripedListCtrl* list, int row)
{
    QPoint top;
    list->GetItemPosition(row, &top);
    return viewport.pixel(list->header()->sectionViewportPosition(1) + 1, top.y() + 1);
}

} // namespace

TEST_F(HostListWindow, HeaderClicksCycleEachColumnsKeyAndRenumberTheRows)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    ASSERT_EQ(f.RowCount(), 5);

    struct Click
    {
        const char* name;
        int column;
        std::int32_t key;
        std::vector<int> orders;
    };
    const Click clicks[] = {
        {"Desc ascending", 3, 3, {1, 4, 3, 0, 2}},
        {"Desc descending", 3, -3, {2, 0, 3, 4, 1}},
        {"Desc back to group order", 3, 0, {0, 1, 2, 3, 4}},
        // Addresses by number: 127.0.0.3 before 127.0.0.10.
        {"IP ascending by number", 1, 1, {3, 1, 2, 0, 4}},
        {"IP descending", 1, -1, {4, 0, 2, 1, 3}},
        // Another header starts ascending, not a toggle of the key in force.
        {"Desc after IP descending", 3, 3, {1, 4, 3, 0, 2}},
        {"IP after Desc", 1, 1, {3, 1, 2, 0, 4}},
        {"IP descending again", 1, -1, {4, 0, 2, 1, 3}},
        {"IP back to group order", 1, 0, {0, 1, 2, 3, 4}},
    };
    for (const Click& click : clicks) {
        SCOPED_TRACE(click.name);
        SpoilRowNumbers(f);
        ClickHeader(f, click.column);
        EXPECT_EQ(f->hostList->sortKey, click.key);
        EXPECT_EQ(Orders(f), click.orders);
        EXPECT_TRUE(RowsNumbered(f));
        for (int i = 0; i < f.RowCount(); ++i)
            EXPECT_EQ(f.Text(i, 1), Entry(f, i)->name) << "texts move with their rows";
    }
}

TEST_F(HostListWindow, Column0ClickChangesNothing)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    ClickHeader(f, 2);
    ClickHeader(f, 2);
    ASSERT_EQ(f->hostList->sortKey, -2);
    const std::vector<int> before = Orders(f);

    SpoilRowNumbers(f);
    ClickHeader(f, 0);
    EXPECT_EQ(f->hostList->sortKey, -2);
    EXPECT_EQ(Orders(f), before);
    for (int i = 0; i < f.RowCount(); ++i)
        EXPECT_EQ(Entry(f, i)->row, -7) << "no renumbering: nothing was sent";
}

TEST_F(HostListWindow, AChangedTimeResortsOnlyUnderTheTimeKeys)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);

    ClickHeader(f, 2);
    ASSERT_EQ(Orders(f), (std::vector<int> {4, 2, 0, 3, 1}));
    echo.Answer("127.0.0.20", 50);
    WaitForAllResults(f);
    EXPECT_EQ(Orders(f), (std::vector<int> {2, 0, 3, 4, 1}));
    EXPECT_TRUE(RowsNumbered(f));

    ClickHeader(f, 2);
    ASSERT_EQ(f->hostList->sortKey, -2);
    EXPECT_EQ(Orders(f), (std::vector<int> {1, 4, 0, 3, 2})) << "equal times in group order";
    echo.Answer("127.0.0.2", 7);
    WaitForAllResults(f);
    EXPECT_EQ(Orders(f), (std::vector<int> {4, 0, 3, 1, 2}));
    EXPECT_TRUE(RowsNumbered(f));

    // Under the other keys the rows stay as they are, even out of that key's
    // order.
    for (int column : {3, 1}) {
        ClickHeader(f, column);
        f->hostList->SortItems(CompareHostEntries, 0);
        f->OnUserMessage(SORT, 0);
        const std::vector<int> sorted = Orders(f);
        echo.Answer("127.0.0.3", 100 + column);
        echo.Answer("127.0.0.10", -1);
        WaitForAllResults(f);
        EXPECT_EQ(Orders(f), sorted) << "key " << f->hostList->sortKey;
        echo.Answer("127.0.0.10", 12);
        WaitForAllResults(f);
    }
}

TEST_F(HostListWindow, ColoursFollowTheRowPositionsAfterASort)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    CHostListCtrl* list = f->hostList;
    for (int column : {0, 2, 2, 3, 3}) {
        if (column != 0)
            ClickHeader(f, column);
        const QImage shot = ViewportOnScreen(list);
        for (int row = 0; row < f.RowCount(); ++row) {
            EXPECT_EQ(CellBackground(shot, list, row), row % 2 == 0 ? kWhite : kTint)
                << "row " << row << " under key " << list->sortKey;
            const RowInk ink = InkOfRow(shot, list, row);
            if (Entry(f, row)->result == -1) {
                EXPECT_GT(ink.red, 20) << "no reply: red, row " << row;
                EXPECT_EQ(ink.dark, 0);
            } else {
                EXPECT_EQ(ink.red, 0) << "row " << row;
                EXPECT_GT(ink.dark, 20) << "row " << row;
            }
        }
    }
}

TEST_F(HostListWindow, AHostThatStopsAnsweringTurnsItsWholeRowRedAndBack)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    CHostListCtrl* list = f->hostList;
    ASSERT_EQ(Entry(f, 2)->order, 2);
    EXPECT_EQ(InkOfRow(ViewportOnScreen(list), list, 2).red, 0);

    echo.Answer("127.0.0.3", -1);
    WaitForAllResults(f);
    ASSERT_EQ(f.Text(2, 2), "N/A");
    RowInk ink = InkOfRow(ViewportOnScreen(list), list, 2);
    EXPECT_GT(ink.red, 100) << "address and description are red too";
    EXPECT_EQ(ink.dark, 0);

    echo.Answer("127.0.0.3", 4);
    WaitForAllResults(f);
    ink = InkOfRow(ViewportOnScreen(list), list, 2);
    EXPECT_EQ(ink.red, 0);
    EXPECT_GT(ink.dark, 100);
}

TEST_F(HostListWindow, BandsContinueTheRowGridBelowTheLastRow)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    CHostListCtrl* list = f->hostList;
    const QImage shot = ViewportOnScreen(list);
    const int perPage = list->GetCountPerPage();
    ASSERT_GT(perPage, 7);
    // Below the rows, band i takes colour 1 (tinted) when i is even: the
    // pairing is the other way round from the cells.
    for (int band = 5; band < perPage; ++band) {
        QPoint top;
        list->GetItemPosition(band, &top);
        const QRgb expected = band % 2 == 0 ? kTint : kWhite;
        EXPECT_EQ(shot.pixel(5, top.y()), expected) << "band " << band;
        EXPECT_EQ(shot.pixel(shot.width() - 2, top.y() + list->RowHeight() - 1), expected);
    }
}

TEST_F(HostListWindow, TheSelectedAndTheCurrentRowFollowTheirHostThroughASort)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    CHostListCtrl* list = f->hostList;
    const auto rowOf = [&](int order) {
        for (int i = 0; i < f.RowCount(); ++i) {
            if (Entry(f, i)->order == order)
                return i;
        }
        return -1;
    };
    const auto clickRow = [&](int row, Qt::KeyboardModifiers modifiers) {
        QPoint top;
        list->GetItemPosition(row, &top);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, modifiers,
            QPoint(list->header()->sectionViewportPosition(3) + 5, top.y() + 3));
    };

    clickRow(1, Qt::NoModifier);
    clickRow(2, Qt::ShiftModifier);
    ASSERT_EQ(list->selectionModel()->selectedRows().size(), 2);
    ClickHeader(f, 3);
    ASSERT_EQ(Orders(f), (std::vector<int> {1, 4, 3, 0, 2}));
    std::vector<int> selected;
    for (const QModelIndex& index : list->selectionModel()->selectedRows())
        selected.push_back(index.row());
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (std::vector<int> {rowOf(1), rowOf(2)}));
    EXPECT_EQ(list->currentIndex().row(), rowOf(2));

    // Without a selection the current row still moves with its host.
    clickRow(rowOf(2), Qt::NoModifier);
    clickRow(rowOf(2), Qt::ControlModifier);
    ASSERT_FALSE(list->selectionModel()->hasSelection());
    ClickHeader(f, 1);
    ASSERT_EQ(Orders(f), (std::vector<int> {3, 1, 2, 0, 4}));
    EXPECT_EQ(list->currentIndex().row(), rowOf(2));
    ClickHeader(f, 1);
    EXPECT_EQ(list->currentIndex().row(), rowOf(2));
}

// The window stays on top while its user works in another: resting the mouse
// on a row shows the host's details there too, and they change with each
// result while the mouse stays.
TEST_F(HostListWindow, TheTooltipShowsBehindAnotherWindowsFocusAndFollowsTheResults)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    QWidget other;
    other.setGeometry(f->geometry().translated(f->width() + 50, 0));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_FALSE(f->isActiveWindow());

    CHostListCtrl* list = f->hostList;
    QPoint top;
    list->GetItemPosition(2, &top);
    const QPoint inWindow
        = list->viewport()->mapTo(f.frame(), top + QPoint(list->GetColumnWidth(0) + 10, 3));
    QTest::mouseMove(f->windowHandle(), inWindow);
    ASSERT_TRUE(WaitUntil(
        [&] { return list->ToolTipWindow() != nullptr && list->ToolTipWindow()->isVisible(); }));
    const CHostToolTip* tip = list->ToolTipWindow();
    for (int ms = 3; ms < 7; ++ms) {
        if (ms > 3) {
            echo.Answer("127.0.0.3", ms == 5 ? -1 : ms);
            WaitForAllResults(f);
        }
        const QString first = tip->PlainText().section('\n', 0, 0);
        EXPECT_EQ(first.toStdString(),
            ms == 5 ? "Request timed out" : "Answered in " + std::to_string(ms) + ".000 ms");
        EXPECT_TRUE(tip->isVisible());
    }
    QTest::mouseMove(f->windowHandle(), inWindow + QPoint(0, list->RowHeight()));
    EXPECT_TRUE(WaitUntil([&] { return !tip->isVisible(); }, 1000)) << "another row, another tip";
}

// A host that answers, falls silent, answers, and six hours later does so
// again: its tooltip shows the latest results and the day, the silences red
// in both, hours apart in the day, and the outages in words.
TEST_F(HostListWindow, TheTooltipOfAFlappingHostShowsItsResultsItsDayAndItsOutages)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    for (const std::int32_t ms : {-1, 3, -1, 3}) {
        if (ms == -1 && Entry(f, 2)->details.outages == 1)
            clock.Advance(6 * 3'600'000);
        echo.Answer("127.0.0.3", ms);
        WaitForAllResults(f);
    }
    const std::string words = f.ToolTip(2);
    EXPECT_NE(words.find("\nOutages: 2, longest 5 s, last "), std::string::npos) << words;

    auto* tip = f->hostList->viewport()->findChild<CHostToolTip*>();
    ASSERT_TRUE(tip != nullptr && tip->isVisible());
    const QImage shot = tip->grab().toImage();
    for (const QRect& picture : {tip->RecentPicture(), tip->DayPicture()}) {
        int green = 0;
        int left = shot.width();
        int right = 0;
        for (int y = picture.top(); y <= picture.bottom(); ++y) {
            for (int x = picture.left(); x <= picture.right(); ++x) {
                const QRgb c = shot.pixel(x, y);
                green += qGreen(c) > 90 && qGreen(c) - qRed(c) > 50 ? 1 : 0;
                if (Reddish(c)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
        }
        EXPECT_GT(green, 0) << "answers, picture at y " << picture.top();
        EXPECT_LT(left, right) << "silences, picture at y " << picture.top();
        if (picture == tip->DayPicture()) {
            EXPECT_GE(right - left, 36 * BarChart::kBarPitch) << "six hours apart";
        }
    }
}

// Without a mouse: the list has the keys; Return shows the current row's
// details, which go along as the row moves and hide on Escape. The mouse's
// tooltip goes when a key moves the current row.
TEST_F(HostListWindow, KeysMoveTheCurrentRowAndItsDetailsGoAlong)
{
    FrameDriver f(Services());
    f.ChooseGroup("Five");
    WaitForAllResults(f);
    f->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(f.frame()));
    CHostListCtrl* list = f->hostList;
    ASSERT_EQ(f->focusWidget(), list);
    const auto firstLine = [&] {
        const CHostToolTip* tip = list->ToolTipWindow();
        return tip != nullptr && tip->isVisible()
            ? tip->PlainText().section('\n', 0, 0).toStdString()
            : std::string("(hidden)");
    };

    for (int key : {Qt::Key_Home, Qt::Key_Down, Qt::Key_Return})
        PressKey(f.frame(), key);
    EXPECT_EQ(list->currentIndex().row(), 1);
    EXPECT_EQ(list->currentIndex().column(), 1) << "on the address, not the probe mark";
    EXPECT_EQ(firstLine(), "Request timed out") << "127.0.0.2, the second row";
    EXPECT_EQ(list->ToolTipWindow()->Follows(), CHostToolTip::Follow::Keyboard);
    PressKey(f.frame(), Qt::Key_Down);
    EXPECT_EQ(firstLine(), "Answered in 3.000 ms") << "127.0.0.3, the third row";
    PressKey(f.frame(), Qt::Key_Escape);
    EXPECT_EQ(firstLine(), "(hidden)");
    PressKey(f.frame(), Qt::Key_F1, Qt::ControlModifier);
    EXPECT_EQ(firstLine(), "Answered in 3.000 ms");

    f.ToolTip(4);
    ASSERT_EQ(list->ToolTipWindow()->Follows(), CHostToolTip::Follow::Mouse);
    PressKey(f.frame(), Qt::Key_Up);
    EXPECT_EQ(firstLine(), "(hidden)") << "the mouse's row is no longer the one the keys are on";
}
