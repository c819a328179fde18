#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include "view/ItemData.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A 0x00BBGGRR colour value as Qt's colour.
QColor ToQColor(std::uint32_t colorRef);

// Where a list's row colours come from: 0x00BBGGRR values by row position.
class RowColours
{
public:
    virtual std::uint32_t GetRowBkColor(int row) = 0;
    virtual std::uint32_t GetRowTextColor(int row) = 0;

protected:
    ~RowColours() = default;
};

// Where a list's rows' descriptions for assistive technology come from: a
// row's details in words, made when asked for.
class RowDescriptions
{
public:
    virtual QString RowDescription(int row) = 0;

protected:
    ~RowDescriptions() = default;
};

// The rows of a report list: up to four texts (kept as the program's bytes,
// decoded for showing when a view first asks for them) and one item-data value
// per row. Column 0 holds the probe mark, which shows as U+221A in every
// locale and reads, as the column's heading does, as words to assistive
// technology. Colours come
// from the colours it is given, so that they follow the row position: even
// rows take background colour 0, odd rows colour 1. Every cell of a row
// carries the row's description, which table cells report to assistive
// technology: a screen reader finds a row's details on whichever cell it is.
//
// Changes made between BeginChanges and EndChanges are told to the views once,
// at EndChanges, a row each: results arrive in batches, and a view repaints
// only when its event loop runs again anyway.
class ListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kMaxColumns = 4;

    // How a sort that moved rows is told to the views. A layout change lets
    // every persistent index, a selection's ranges too, follow its row, but
    // makes a tree view lay out all its rows again: at 10,000 rows that costs
    // more than the sort. Changed rows only tell the range of rows that moved;
    // single persistent indexes (the current row) still follow their rows, a
    // selection's ranges would not.
    enum class SortSignal { LayoutChange, ChangedRows };

    ListModel(RowColours* colours, RowDescriptions* descriptions, QObject* parent);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int AddColumn(const std::string& heading, Qt::Alignment alignment);
    int InsertRow(int index, const std::string& text);
    bool SetText(int row, int column, const std::string& text);
    const std::string* Text(int row, int column) const;
    bool SetData(int row, ItemData data);
    ItemData Data(int row) const;
    void Clear();
    void Sort(ListCompareFunc compare, ItemData param, SortSignal signal);

    // May nest; the outermost EndChanges tells the views.
    void BeginChanges();
    void EndChanges();

private:
    struct Row
    {
        std::array<std::string, kMaxColumns> bytes;
        // A view asks for the texts of the rows it shows: of thousands of rows
        // a few dozen. Each is decoded then, not at every change.
        mutable std::array<QString, kMaxColumns> shown;
        mutable std::uint8_t decoded = 0; // a bit per column whose `shown` is current
    };

    void RowChanged(int row, const QModelIndex& from, const QModelIndex& to);
    void TellChangedRows();
    struct Column
    {
        QString heading;
        Qt::Alignment alignment;
    };

    RowColours* colours_;
    RowDescriptions* descriptions_;
    std::vector<Column> columns_;
    // Rows are held by pointer, so that a sort moves pointers, not texts.
    std::vector<std::unique_ptr<Row>> rows_;
    // The rows' item data, kept apart in one array: the scheduler reads every
    // row's ten times a second, which through the rows meant one cache miss
    // per row.
    std::vector<ItemData> data_;
    int changesBegun_ = 0;
    std::vector<int> changedRows_; // while changes are begun
};
