#include "view/ListModel.h"

#include "hosts/ResultValue.h"
#include "text/WidgetText.h"
#include "view/MergeSort.h"

#include <QBrush>
#include <QColor>

#include <algorithm>
#include <utility>

namespace {

// The probe mark is the program's own text, not the group file's: it shows as
// the character it is even where the locale's encoding lacks it and the row
// holds a '?' in its place.
QString ShownText(int column, const std::string& bytes)
{
    if (column == 0 && !bytes.empty() && bytes == InFlightMark())
        return QString::fromUtf8(
            kInFlightMarkUtf8.data(), static_cast<qsizetype>(kInFlightMarkUtf8.size()));
    return FromLocaleBytes(bytes);
}

QString MarkWords()
{
    return QString::fromLatin1(
        kInFlightMarkWords.data(), static_cast<qsizetype>(kInFlightMarkWords.size()));
}

} // namespace

QColor ToQColor(std::uint32_t colorRef)
{
    return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF);
}

ListModel::ListModel(RowColours* colours, RowDescriptions* descriptions, QObject* parent)
    : QAbstractTableModel(parent)
    , colours_(colours)
    , descriptions_(descriptions)
{ }

int ListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const
{
    const int row = index.row();
    const int column = index.column();
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0
        || column >= static_cast<int>(columns_.size()))
        return {};
    switch (role) {
    case Qt::DisplayRole: {
        const Row& r = *rows_[row];
        const std::uint8_t bit = static_cast<std::uint8_t>(1u << column);
        if ((r.decoded & bit) == 0) {
            r.shown[column] = ShownText(column, r.bytes[column]);
            r.decoded |= bit;
        }
        return r.shown[column];
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(columns_[column].alignment | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        // Every cell of a row gets the row's background: odd rows ask for
        // colour 1, even rows for colour 0.
        return QBrush(ToQColor(colours_->GetRowBkColor(row % 2 != 0 ? 1 : 0)));
    case Qt::ForegroundRole:
        return QBrush(ToQColor(colours_->GetRowTextColor(row)));
    case Qt::AccessibleTextRole:
        // The mark would read as a square root; an empty cell reads as
        // itself, its shown text.
        if (column == 0 && !rows_[row]->bytes[0].empty() && rows_[row]->bytes[0] == InFlightMark())
            return MarkWords();
        return {};
    case Qt::AccessibleDescriptionRole:
        return descriptions_->RowDescription(row);
    default:
        return {};
    }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0
        || section >= static_cast<int>(columns_.size()))
        return {};
    if (role == Qt::DisplayRole)
        return columns_[section].heading;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columns_[section].alignment | Qt::AlignVCenter);
    if (role == Qt::AccessibleTextRole && section == 0)
        return MarkWords();
    return {};
}

int ListModel::AddColumn(const std::string& heading, Qt::Alignment alignment)
{
    if (columns_.size() >= kMaxColumns)
        return -1;
    const int column = static_cast<int>(columns_.size());
    beginInsertColumns({}, column, column);
    columns_.push_back({FromLocaleBytes(heading), alignment});
    endInsertColumns();
    return column;
}

int ListModel::InsertRow(int index, const std::string& text)
{
    const int count = static_cast<int>(rows_.size());
    if (index < 0 || index > count)
        index = count;
    TellChangedRows();
    beginInsertRows({}, index, index);
    auto row = std::make_unique<Row>();
    row->bytes[0] = text;
    rows_.insert(rows_.begin() + index, std::move(row));
    data_.insert(data_.begin() + index, 0);
    endInsertRows();
    return index;
}

bool ListModel::SetText(int row, int column, const std::string& text)
{
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kMaxColumns)
        return false;
    Row& r = *rows_[row];
    if (r.bytes[column] == text)
        return true;
    r.bytes[column] = text;
    r.decoded &= static_cast<std::uint8_t>(~(1u << column));
    const QModelIndex cell = index(row, column);
    RowChanged(row, cell, cell);
    return true;
}

const std::string* ListModel::Text(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(rows_.size()) || column < 0 || column >= kMaxColumns)
        return nullptr;
    return &rows_[row]->bytes[column];
}

bool ListModel::SetData(int row, ItemData data)
{
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return false;
    data_[row] = data;
    // The text colour of a row may depend on what its item data says.
    RowChanged(row, index(row, 0), index(row, static_cast<int>(columns_.size()) - 1));
    return true;
}

void ListModel::RowChanged(int row, const QModelIndex& from, const QModelIndex& to)
{
    if (changesBegun_ > 0)
        changedRows_.push_back(row);
    else
        emit dataChanged(from, to);
}

void ListModel::BeginChanges()
{
    ++changesBegun_;
}

void ListModel::EndChanges()
{
    if (changesBegun_ > 0 && --changesBegun_ == 0)
        TellChangedRows();
}

void ListModel::TellChangedRows()
{
    if (changedRows_.empty())
        return;
    std::sort(changedRows_.begin(), changedRows_.end());
    changedRows_.erase(std::unique(changedRows_.begin(), changedRows_.end()), changedRows_.end());
    const int last = static_cast<int>(columns_.size()) - 1;
    for (std::size_t i = 0; i < changedRows_.size();) {
        // Rows next to each other are told together.
        std::size_t j = i + 1;
        while (j < changedRows_.size() && changedRows_[j] == changedRows_[j - 1] + 1)
            ++j;
        emit dataChanged(index(changedRows_[i], 0), index(changedRows_[j - 1], last));
        i = j;
    }
    changedRows_.clear();
}

ItemData ListModel::Data(int row) const
{
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return 0;
    return data_[row];
}

void ListModel::Clear()
{
    changedRows_.clear();
    if (rows_.empty())
        return;
    beginResetModel();
    rows_.clear();
    data_.clear();
    endResetModel();
}

void ListModel::Sort(ListCompareFunc compare, ItemData param, SortSignal signal)
{
    // Changed rows waiting to be told are told where they stand now.
    TellChangedRows();
    const int count = static_cast<int>(rows_.size());
    // The comparison sees only item data: sorting (item data, row) pairs keeps
    // what it reads together.
    std::vector<std::pair<ItemData, int>> items(rows_.size());
    for (int i = 0; i < count; ++i)
        items[i] = {data_[i], i};
    MergeSort(items,
        [compare, param](const std::pair<ItemData, int>& a, const std::pair<ItemData, int>& b) {
            return compare(a.first, b.first, param);
        });

    int first = 0;
    while (first < count && items[first].second == first)
        ++first;
    if (first == count)
        return;
    int last = count - 1;
    while (items[last].second == last)
        --last;

    if (signal == SortSignal::LayoutChange)
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::unique_ptr<Row>> moved(static_cast<std::size_t>(last - first + 1));
    for (int i = first; i <= last; ++i) {
        moved[i - first] = std::move(rows_[items[i].second]);
        data_[i] = items[i].first;
    }
    std::move(moved.begin(), moved.end(), rows_.begin() + first);

    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        std::vector<int> newPosition(rows_.size());
        for (int i = 0; i < count; ++i)
            newPosition[items[i].second] = i;
        QModelIndexList after;
        after.reserve(before.size());
        for (const QModelIndex& old : before)
            after.append(index(newPosition[old.row()], old.column()));
        changePersistentIndexList(before, after);
    }
    if (signal == SortSignal::LayoutChange)
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    else
        emit dataChanged(index(first, 0), index(last, static_cast<int>(columns_.size()) - 1));
}
