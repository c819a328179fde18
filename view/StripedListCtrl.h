#pragma once

#include "view/ListModel.h"

#include <QTreeView>

#include <cstdint>
#include <string>

class QPoint;
class QRegion;

// A report-style list control: rows of up to four texts with one item-data
// value each, columns with headings and widths, a sort by a comparison of item
// data. Rows are coloured through the virtual GetRowBkColor/GetRowTextColor
// (0x00BBGGRR values): even rows take background colour 0, odd rows colour 1,
// and behind the rows, below the last one too, the area is painted in bands
// of the row grid with the pairing the other way round. A header click asks
// SortByColumn. Each row's description for assistive technology comes from
// the virtual RowDescription. The defaults are neutral: white rows, black
// text, no description, no sorting.
class CStripedListCtrl : public QTreeView, public RowColours, public RowDescriptions
{
    Q_OBJECT
public:
    enum class Align { Left, Center, Right };

    explicit CStripedListCtrl(QWidget* parent = nullptr);
    ~CStripedListCtrl() override;

    int InsertColumn(int column, const std::string& heading, Align align, int width);
    int InsertItem(int index, const std::string& text);
    bool SetItemText(int item, int subItem, const std::string& text);
    std::string GetItemText(int item, int subItem) const;
    bool SetItemData(int item, ItemData data);
    ItemData GetItemData(int item) const;
    int GetItemCount() const;
    bool DeleteAllItems();
    bool SortItems(ListCompareFunc compare, ItemData param);
    // Changes between these two reach the views once, at the end (see ListModel).
    void BeginChanges();
    void EndChanges();
    int GetColumnWidth(int column) const;
    bool SetColumnWidth(int column, int width);
    int GetCountPerPage() const;
    // Top-left of a row in the coordinates of the rows' area; rows past the
    // last continue the grid of row positions.
    bool GetItemPosition(int item, QPoint* point) const;
    int RowHeight() const;

    std::uint32_t GetRowBkColor(int row) override;
    std::uint32_t GetRowTextColor(int row) override;
    QString RowDescription(int row) override;
    virtual void SortByColumn(int column);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
        const QList<int>& roles = {}) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void OnColumnClick(int column);
    void EraseBackground(const QRegion& region);

    ListModel* model_;
};
