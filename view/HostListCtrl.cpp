#include "view/HostListCtrl.h"

#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "text/WidgetText.h"
#include "view/CompareHostEntries.h"
#include "view/HostDetailsText.h"
#include "view/HostToolTip.h"
#include "view/SortKey.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>
#include <iterator>

namespace {

constexpr std::uint32_t kEvenRowColor = 0x00FFFFFF;
constexpr std::uint32_t kOddRowColor = 0x00F9F7F0;
constexpr std::uint32_t kNoReplyTextColor = 0x000000FF;
constexpr std::uint32_t kTextColor = 0x00000000;

struct HostColumn
{
    const char* caption;
    CStripedListCtrl::Align align;
    int width; // the last column's is what the others leave of the client area
};

// The probe mark, the address, the result and the description.
constexpr HostColumn kHostColumns[] = {
    {"", CStripedListCtrl::Align::Center, 20},
    {"IP", CStripedListCtrl::Align::Center, 100},
    {"Time", CStripedListCtrl::Align::Center, 70},
    {"Desc", CStripedListCtrl::Align::Left, 0},
};
constexpr int kLastColumn = static_cast<int>(std::size(kHostColumns)) - 1;

// The list's words for assistive technology: what it is, and how to reach a
// row's details without a mouse.
constexpr char kListName[] = "Hosts";
constexpr char kGroupListName[] = "Hosts of group ";
constexpr char kListKeys[] = "Arrow keys, Home, End, Page Up and Page Down choose a host; "
                             "Return or Ctrl+F1 shows its details, Escape hides them.";

constexpr int FixedColumnsWidth()
{
    int width = 0;
    for (int i = 0; i < kLastColumn; ++i)
        width += kHostColumns[i].width;
    return width;
}

} // namespace

CHostListCtrl::CHostListCtrl(QWidget* parent)
    : CStripedListCtrl(parent)
{
    // Without a border, whole rows selected; it takes the keyboard focus, for
    // a user without a mouse.
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAccessibleName(QString::fromLatin1(kListName));
    setAccessibleDescription(QString::fromLatin1(kListKeys));
}

CHostListCtrl::~CHostListCtrl() = default;

void CHostListCtrl::InsertHostColumns(int clientWidth)
{
    const int scrollExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    for (int i = 0; i <= kLastColumn; ++i) {
        const HostColumn& column = kHostColumns[i];
        const int width
            = i == kLastColumn ? clientWidth - scrollExtent - FixedColumnsWidth() : column.width;
        InsertColumn(i, column.caption, column.align, width);
    }
}

void CHostListCtrl::FitLastColumn(int clientWidth)
{
    const int scrollExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    // The widths the columns have now: a user may have dragged them.
    int fixed = 0;
    for (int i = 0; i < kLastColumn; ++i)
        fixed += GetColumnWidth(i);
    // A window narrower than the fixed columns leaves no room for the last
    // one: it gets none, rather than a huge width from a negative one.
    SetColumnWidth(kLastColumn, std::max(0, clientWidth - scrollExtent - fixed));
}

void CHostListCtrl::ShowResult(const HostEntry& entry)
{
    const std::string text = ResultText(entry.result);
    const int row = entry.row;
    SetItemText(row, 0, "");
    // A repeated time costs no more than the mark and this comparison.
    if (GetItemText(row, 2) == text)
        return;
    SetItemText(row, 1, entry.name);
    SetItemText(row, 2, text);
    SetItemText(row, 3, entry.description);
    if (sortKey == 2 || sortKey == -2) {
        SortItems(CompareHostEntries, sortKey);
        RenumberRows();
    }
}

void CHostListCtrl::RenumberRows()
{
    // The count is asked anew at every step, as a handler of the row count
    // changing underneath would need.
    for (int i = 0; i < GetItemCount(); ++i) {
        if (HostEntry* entry = RowEntry(i))
            entry->row = i;
    }
}

void CHostListCtrl::ShowGroup(const std::string& group)
{
    setAccessibleName(QString::fromLatin1(kGroupListName) + FromLocaleBytes(group));
}

std::uint32_t CHostListCtrl::GetRowBkColor(int row)
{
    return row % 2 != 0 ? kOddRowColor : kEvenRowColor;
}

std::uint32_t CHostListCtrl::GetRowTextColor(int row)
{
    // A row's entry is cleared while a group load frees the entries; such a
    // row may still be painted.
    const auto* entry = reinterpret_cast<const HostEntry*>(GetItemData(row));
    if (entry != nullptr && entry->result == kResultNoReply)
        return kNoReplyTextColor;
    return kTextColor;
}

QString CHostListCtrl::RowDescription(int row)
{
    const HostEntry* entry = RowEntry(row);
    if (entry == nullptr)
        return {};
    return QString::fromStdString(HostAccessibleDescription(*entry, tick(), wallClock()));
}

void CHostListCtrl::RowEntries(std::vector<HostEntry*>& entries) const
{
    const int count = GetItemCount();
    entries.reserve(entries.size() + static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (HostEntry* entry = RowEntry(i))
            entries.push_back(entry);
    }
}

int CHostListCtrl::RowCount() const
{
    return GetItemCount();
}

HostEntry* CHostListCtrl::RowEntry(int row) const
{
    return reinterpret_cast<HostEntry*>(GetItemData(row));
}

void CHostListCtrl::ForgetRowEntry(int row)
{
    // The tooltip may tell of the entry that is going.
    HideToolTip();
    SetItemData(row, 0);
}

void CHostListCtrl::AppendRow(HostEntry* entry)
{
    // Column 0 holds the probe mark and starts empty; "Time" stays empty until
    // the first result.
    const int n = InsertItem(GetItemCount(), "");
    SetItemText(n, 1, entry->name);
    SetItemText(n, 3, entry->description);
    SetItemData(n, reinterpret_cast<ItemData>(entry));
}

void CHostListCtrl::RemoveAllRows()
{
    HideToolTip();
    DeleteAllItems();
}

void CHostListCtrl::SortByColumn(int column)
{
    const std::optional<std::int32_t> next = NextSortKey(sortKey, column);
    if (!next)
        return;
    sortKey = *next;
    SortItems(CompareHostEntries, sortKey);
    RenumberRows();
}

bool CHostListCtrl::DescriptionCut(int row) const
{
    const HostEntry* entry = RowEntry(row);
    if (entry == nullptr || entry->description.empty())
        return false;
    // The part of the column inside the viewport, less the margins the item
    // delegate leaves on either side of a cell's text.
    const int left = header()->sectionViewportPosition(3);
    const int right = std::min(left + GetColumnWidth(3), viewport()->width());
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int room = right - std::max(left, 0) - 2 * margin;
    return fontMetrics().horizontalAdvance(FromLocaleBytes(entry->description)) > room;
}

QString CHostListCtrl::RowToolTip(int row) const
{
    const HostEntry* entry = RowEntry(row);
    if (entry == nullptr)
        return {};
    // Rich text, so that a long description wraps while the other lines stay
    // whole; escaped, so that a description that looks like markup shows as
    // written. The details are the program's own words, in UTF-8; the
    // description is in the locale's encoding.
    auto paragraph = [](const QString& text, const QString& style) {
        QString html = text.toHtmlEscaped();
        html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
        return QStringLiteral("<p%1>%2</p>").arg(style, html);
    };
    QString tip = paragraph(QString::fromStdString(HostDetailsText(*entry, tick(), wallClock())),
        QStringLiteral(" style='white-space:pre'"));
    if (DescriptionCut(row))
        tip += paragraph(FromLocaleBytes(DescriptionLine(*entry)), {});
    return tip;
}

QRect CHostListCtrl::RowBand(const QRect& cell) const
{
    return QRect(0, cell.top(), viewport()->width(), cell.height());
}

CHostToolTip* CHostListCtrl::ToolTip()
{
    if (tip_ == nullptr)
        tip_ = new CHostToolTip(viewport(), ToQColor(kNoReplyTextColor));
    return tip_;
}

bool CHostListCtrl::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return CStripedListCtrl::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const HostEntry* entry = index.isValid() ? RowEntry(index.row()) : nullptr;
    if (entry == nullptr) {
        HideToolTip();
        return true;
    }
    // The tip stays while the mouse stays on the row; on another row it is
    // asked for again, with that row's details.
    const QRect cell = visualRect(index);
    ToolTip()->ShowTip(
        help->globalPos(), RowBand(cell), RowToolTip(index.row()), entry->details, tick());
    return true;
}

void CHostListCtrl::ShowCurrentDetails()
{
    const QModelIndex current = currentIndex();
    const HostEntry* entry = current.isValid() ? RowEntry(current.row()) : nullptr;
    if (entry == nullptr) {
        HideToolTip();
        return;
    }
    // Placed as for a mouse resting on the row's address, so that the tip
    // shows below the row; a row scrolled out of sight gives the nearest edge.
    const QRect cell = visualRect(model()->index(current.row(), 1));
    const QRect rows = viewport()->rect();
    const QPoint at(std::clamp(cell.left() + 10, rows.left(), rows.right()),
        std::clamp(cell.center().y(), rows.top(), rows.bottom()));
    ToolTip()->ShowTip(viewport()->mapToGlobal(at), RowBand(cell), RowToolTip(current.row()),
        entry->details, tick(), CHostToolTip::Follow::Keyboard);
}

void CHostListCtrl::RefreshToolTip()
{
    if (tip_ == nullptr || !tip_->isVisible())
        return;
    if (tip_->Follows() == CHostToolTip::Follow::Keyboard) {
        ShowCurrentDetails();
        return;
    }
    const QModelIndex index = indexAt(tip_->Anchor());
    const HostEntry* entry = index.isValid() ? RowEntry(index.row()) : nullptr;
    if (entry == nullptr) {
        HideToolTip();
        return;
    }
    tip_->UpdateTip(RowToolTip(index.row()), entry->details, tick());
}

void CHostListCtrl::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    CStripedListCtrl::currentChanged(current, previous);
    if (tip_ == nullptr || !tip_->isVisible())
        return;
    // The keyboard's tip goes along to the new current row; the mouse's tip
    // would describe a row the user has left.
    if (tip_->Follows() == CHostToolTip::Follow::Keyboard)
        ShowCurrentDetails();
    else
        HideToolTip();
}

void CHostListCtrl::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    // Ctrl+F1 shows a focused widget's tooltip on GTK desktops.
    if (((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier)
        || (key == Qt::Key_F1 && modifiers == Qt::ControlModifier)) {
        scrollTo(currentIndex());
        ShowCurrentDetails();
        return;
    }
    if (key == Qt::Key_Escape && tip_ != nullptr && tip_->isVisible()) {
        HideToolTip();
        return;
    }
    CStripedListCtrl::keyPressEvent(event);
}

QModelIndex CHostListCtrl::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // The keys go from host to host through their addresses, where a screen
    // reader finds the focus and reads the row from: the probe mark's cell
    // says nothing most of the time.
    const QModelIndex next = CStripedListCtrl::moveCursor(cursorAction, modifiers);
    return next.isValid() && next.column() == 0 ? next.siblingAtColumn(1) : next;
}

void CHostListCtrl::HideToolTip()
{
    if (tip_ != nullptr)
        tip_->hide();
}
