#pragma once

#include "hosts/GroupLoad.h"
#include "view/StripedListCtrl.h"

#include <QString>

#include <cstdint>
#include <ctime>
#include <functional>
#include <vector>

// The host list: rows whose item data are HostEntry records. Rows are striped
// white and light blue; hosts without a reply are drawn in red. A header click
// sorts by address, time or description (see SortByColumn). A group load
// fills and empties it as the rows of its host entries. Hovering over a row
// shows its host's details and latest results in a tooltip, which follows
// them as results come in. It takes the keyboard: the arrows, Home, End, Page
// Up and Page Down move the current row, Return and Ctrl+F1 show its details
// in the same tooltip, which then goes with the current row, and Escape hides
// them. Assistive technology finds the list named after its group, and each
// row's details as its description.
class CHostToolTip;

class CHostListCtrl : public CStripedListCtrl, public HostRows
{
    Q_OBJECT
public:
    explicit CHostListCtrl(QWidget* parent = nullptr);
    ~CHostListCtrl() override;

    // The four columns: the probe mark, "IP", "Time" and "Desc", the last one
    // as wide as the rest of a client area of the given width leaves.
    void InsertHostColumns(int clientWidth);
    // Gives the last column the width the others leave of the client area.
    void FitLastColumn(int clientWidth);
    // Shows an entry's new result in its row: clears the probe mark and, when
    // the time's text changed, rewrites the row's texts and, sorted by time,
    // sorts the rows again and renumbers them.
    void ShowResult(const HostEntry& entry);
    // Sets every row's entry's row number to the row's place in the list, as
    // every sort must before anything else reads them.
    void RenumberRows();
    // Names the list after the group it shows, for assistive technology.
    void ShowGroup(const std::string& group);

    std::uint32_t GetRowBkColor(int row) override;
    std::uint32_t GetRowTextColor(int row) override;
    // A row's host's details in words (see HostAccessibleDescription); empty
    // for a row without an entry.
    QString RowDescription(int row) override;
    // Columns 1 to 3 cycle their key ascending, descending, group order; the
    // rows are sorted by the new key and renumbered. Any other column changes
    // nothing.
    void SortByColumn(int column) override;

    // Appends the entries of the rows, in row order, rows without one left out.
    void RowEntries(std::vector<HostEntry*>& entries) const;

    int RowCount() const override;
    HostEntry* RowEntry(int row) const override;
    void ForgetRowEntry(int row) override;
    void AppendRow(HostEntry* entry) override;
    void RemoveAllRows() override;

    // The words of a row's tooltip, as rich text: its host's details (see
    // HostDetailsText), with the whole description when the "Desc" column
    // shows it cut short. Built only when asked for; empty for a row without
    // an entry.
    QString RowToolTip(int row) const;
    // A shown tooltip says again what its row holds now, the row under the
    // mouse or the current row: after results, which change the details and
    // may re-sort the rows.
    void RefreshToolTip();
    // Shows the current row's details in the tooltip, below the row, where
    // they stay with the keyboard.
    void ShowCurrentDetails();
    // The tooltip, shown or not; null before the first.
    const CHostToolTip* ToolTipWindow() const { return tip_; }

    std::int32_t sortKey = 0;

    // The clocks the tooltips read: the tick count for how long ago, the wall
    // clock for the time of day. The main window sets the tick count to the
    // probes' own.
    std::function<std::uint32_t()> tick = [] { return 0u; };
    std::function<std::time_t()> wallClock = [] { return std::time(nullptr); };

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    bool viewportEvent(QEvent* event) override;

private:
    bool DescriptionCut(int row) const;
    // The whole width of the rows' area, at the height of a cell's row.
    QRect RowBand(const QRect& cell) const;
    CHostToolTip* ToolTip();
    void HideToolTip();

    CHostToolTip* tip_ = nullptr; // made when first asked for
};
