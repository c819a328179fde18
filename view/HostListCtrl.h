#pragma once

#include "view/StripedListCtrl.h"

#include <cstdint>
#include <functional>

// The host list: rows whose item data are HostEntry records.
class CHostListCtrl : public CStripedListCtrl
{
    Q_OBJECT
public:
    explicit CHostListCtrl(QWidget* parent = nullptr);
    ~CHostListCtrl() override;

    std::int32_t sortKey = 0;

    // Reaches the main window's request handling (SORT after a sort), set by
    // the main window when it creates the list.
    std::function<std::intptr_t(std::uint32_t code, std::intptr_t param)> sendToMainWindow;
};
