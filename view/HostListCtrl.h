#pragma once

#include "view/StripedListCtrl.h"

#include <cstdint>
#include <functional>

// The host list: rows whose item data are HostEntry records. Rows are striped
// white and light blue; hosts without a reply are drawn in red. A header click
// sorts by address, time or description (see SortByColumn).
class CHostListCtrl : public CStripedListCtrl
{
    Q_OBJECT
public:
    explicit CHostListCtrl(QWidget* parent = nullptr);
    ~CHostListCtrl() override;

    std::uint32_t GetRowBkColor(int row) override;
    std::uint32_t GetRowTextColor(int row) override;
    // Columns 1 to 3 cycle their key ascending, descending, group order; the
    // rows are sorted by the new key and the main window renumbers them.
    // Any other column changes nothing.
    void SortByColumn(int column) override;

    std::int32_t sortKey = 0;

    // Reaches the main window's request handling (SORT after a sort), set by
    // the main window when it creates the list.
    std::function<std::intptr_t(std::uint32_t code, std::intptr_t param)> sendToMainWindow;
};
