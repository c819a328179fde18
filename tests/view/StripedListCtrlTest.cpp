#include "view/StripedListCtrl.h"
#include "tests/support/ModalDriver.h"
#include "tests/view/ListOnScreen.h"

#include <QHeaderView>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <string>

// The list-control layer alone: what it paints behind and in the rows with
// its own colours and with a derived class's.
namespace {

class TwoColourList : public CStripedListCtrl
{
public:
    std::uint32_t GetRowBkColor(int row) override { return row == 0 ? 0x0000FF00 : 0x00FF0000; }
};

constexpr QRgb kColour0 = 0xFF00FF00;
constexpr QRgb kColour1 = 0xFF0000FF;

void Fill(CStripedListCtrl& list, int rows)
{
    // As in the main window, where the frame keeps the focus: no current-row
    // mark over the colours.
    list.setFocusPolicy(Qt::NoFocus);
    list.InsertColumn(0, "A", CStripedListCtrl::Align::Left, 40);
    list.InsertColumn(1, "B", CStripedListCtrl::Align::Left, 40);
    for (int i = 0; i < rows; ++i) {
        list.InsertItem(i, "");
        list.SetItemText(i, 1, std::string("x").append(std::to_string(i)));
    }
    list.resize(200, list.header()->sizeHint().height() + 6 * list.RowHeight() + 3);
    list.show();
}

int RowTop(CStripedListCtrl& list, int row)
{
    QPoint top;
    list.GetItemPosition(row, &top);
    return top.y();
}

} // namespace

TEST(StripedListCtrl, NeutralColoursPaintEveryRowAndTheSpaceBelowWhite)
{
    CStripedListCtrl list;
    Fill(list, 3);
    const QImage shot = ViewportOnScreen(&list);
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb c = shot.pixel(x, y);
            const bool grey = qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
            ASSERT_TRUE(grey) << x << "," << y;
            dark += qRed(c) < 100 ? 1 : 0;
            if (x < 40 || y >= RowTop(list, 3)) {
                ASSERT_EQ(c, 0xFFFFFFFF) << x << "," << y;
            }
        }
    }
    EXPECT_GT(dark, 30) << "black text";
}

TEST(StripedListCtrl, BandsCountFromTheFirstRowNotTheFirstVisible)
{
    TwoColourList list;
    Fill(list, 12);
    const int perPage = list.GetCountPerPage();
    ASSERT_EQ(perPage, 6);
    list.verticalScrollBar()->setValue(3);
    ASSERT_EQ(RowTop(list, 3), 0);

    const QImage shot = ViewportOnScreen(&list);
    const int right = shot.width() - 2; // beside the columns: the background
    for (int row = 3; row < 3 + perPage; ++row) {
        const int y = RowTop(list, row) + list.RowHeight() / 2;
        EXPECT_EQ(shot.pixel(2, y), row % 2 == 0 ? kColour0 : kColour1) << "cell, row " << row;
        // Bands 0 to perPage, the odd ones in colour 0 and the even ones in
        // colour 1; further down only the first fill, colour 0.
        const QRgb band = row <= perPage && row % 2 == 0 ? kColour1 : kColour0;
        EXPECT_EQ(shot.pixel(right, y), band) << "band " << row;
    }
}
