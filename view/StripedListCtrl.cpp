#include "view/StripedListCtrl.h"

#include <QAccessible>
#include <QColor>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QPainter>
#include <QPoint>
#include <QRegion>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

// Rows are one text line high plus a small margin, whatever they hold, so that
// the row grid is known before the first row exists.
class RowDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(static_cast<const CStripedListCtrl*>(parent())->RowHeight());
        return size;
    }
};

Qt::Alignment ToQt(CStripedListCtrl::Align align)
{
    switch (align) {
    case CStripedListCtrl::Align::Center:
        return Qt::AlignHCenter;
    case CStripedListCtrl::Align::Right:
        return Qt::AlignRight;
    case CStripedListCtrl::Align::Left:
        break;
    }
    return Qt::AlignLeft;
}

} // namespace

CStripedListCtrl::CStripedListCtrl(QWidget* parent)
    : QTreeView(parent)
    , model_(new ListModel(this, this, this))
{
    setModel(model_);
    setItemDelegate(new RowDelegate(this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(0);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(true);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setSortIndicatorShown(false);
    connect(header(), &QHeaderView::sectionClicked, this, &CStripedListCtrl::OnColumnClick);
}

CStripedListCtrl::~CStripedListCtrl() = default;

int CStripedListCtrl::InsertColumn(int column, const std::string& heading, Align align, int width)
{
    if (column != model_->columnCount())
        return -1;
    const int added = model_->AddColumn(heading, ToQt(align));
    if (added >= 0)
        header()->resizeSection(added, width);
    return added;
}

int CStripedListCtrl::InsertItem(int index, const std::string& text)
{
    return model_->InsertRow(index, text);
}

bool CStripedListCtrl::SetItemText(int item, int subItem, const std::string& text)
{
    return model_->SetText(item, subItem, text);
}

std::string CStripedListCtrl::GetItemText(int item, int subItem) const
{
    const std::string* text = model_->Text(item, subItem);
    return text ? *text : std::string();
}

bool CStripedListCtrl::SetItemData(int item, ItemData data)
{
    return model_->SetData(item, data);
}

ItemData CStripedListCtrl::GetItemData(int item) const
{
    return model_->Data(item);
}

int CStripedListCtrl::GetItemCount() const
{
    return model_->rowCount();
}

bool CStripedListCtrl::DeleteAllItems()
{
    model_->Clear();
    return true;
}

bool CStripedListCtrl::SortItems(ListCompareFunc compare, ItemData param)
{
    // A selection's ranges follow their rows only through a layout change.
    model_->Sort(compare, param,
        selectionModel()->hasSelection() ? ListModel::SortSignal::LayoutChange
                                         : ListModel::SortSignal::ChangedRows);
    return true;
}

void CStripedListCtrl::BeginChanges()
{
    model_->BeginChanges();
}

void CStripedListCtrl::EndChanges()
{
    model_->EndChanges();
}

int CStripedListCtrl::GetColumnWidth(int column) const
{
    if (column < 0 || column >= model_->columnCount())
        return 0;
    return header()->sectionSize(column);
}

bool CStripedListCtrl::SetColumnWidth(int column, int width)
{
    if (column < 0 || column >= model_->columnCount())
        return false;
    header()->resizeSection(column, width);
    return true;
}

int CStripedListCtrl::RowHeight() const
{
    return fontMetrics().height() + 4;
}

int CStripedListCtrl::GetCountPerPage() const
{
    return viewport()->height() / RowHeight();
}

bool CStripedListCtrl::GetItemPosition(int item, QPoint* point) const
{
    if (point == nullptr)
        return false;
    point->setX(-horizontalScrollBar()->value());
    point->setY(item * RowHeight() - verticalOffset());
    return item >= 0 && item < GetItemCount();
}

std::uint32_t CStripedListCtrl::GetRowBkColor(int)
{
    return 0x00FFFFFF;
}

std::uint32_t CStripedListCtrl::GetRowTextColor(int)
{
    return 0x00000000;
}

QString CStripedListCtrl::RowDescription(int)
{
    return {};
}

void CStripedListCtrl::SortByColumn(int) { }

void CStripedListCtrl::OnColumnClick(int column)
{
    SortByColumn(column);
}

void CStripedListCtrl::dataChanged(
    const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles)
{
    // The tree view's own handling looks up each changed cell among the rows
    // one by one: after a sort that moved thousands of rows that costs more
    // than the sort. These rows are flat, of one height and never edited, so
    // the changed rows' rectangle is known at once. Assistive technologies
    // still hear of the change through the tree view.
    if (QAccessible::isActive())
        QTreeView::dataChanged(topLeft, bottomRight, roles);
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    // The text colour of a whole row may go with what one of its cells says
    // (a host without reply shows "N/A" and is drawn red), so a change in a
    // cell repaints its row.
    QPoint top, bottom;
    GetItemPosition(topLeft.row(), &top);
    GetItemPosition(bottomRight.row() + 1, &bottom);
    const QRect rows = QRect(0, top.y(), viewport()->width(), bottom.y() - top.y())
                           .intersected(viewport()->rect());
    if (!rows.isEmpty())
        viewport()->update(rows);
}

void CStripedListCtrl::paintEvent(QPaintEvent* event)
{
    EraseBackground(event->region());
    QTreeView::paintEvent(event);
}

void CStripedListCtrl::EraseBackground(const QRegion& region)
{
    // The rows' area is painted in bands that follow the row grid from the
    // first row on, past the last row too; the rows are drawn over them. Bands
    // pair their colours the other way round from the cells: even bands take
    // colour 1, odd bands colour 0.
    QPainter painter(viewport());
    painter.setClipRegion(region);
    const QRect area = viewport()->rect();
    const QColor even = ToQColor(GetRowBkColor(1));
    const QColor odd = ToQColor(GetRowBkColor(0));
    painter.fillRect(area, odd);
    const int perPage = GetCountPerPage();
    QPoint point;
    for (int i = 0; i <= perPage; ++i) {
        GetItemPosition(i, &point);
        const int top = point.y();
        GetItemPosition(i + 1, &point);
        const int bottom = point.y();
        painter.fillRect(
            QRect(area.left(), top, area.width(), bottom - top), i % 2 == 0 ? even : odd);
    }
}
