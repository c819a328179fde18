#pragma once

#include "view/StripedListCtrl.h"

#include <cstdint>

// The host list: rows whose item data are HostEntry records.
class CHostListCtrl : public CStripedListCtrl
{
    Q_OBJECT
public:
    explicit CHostListCtrl(QWidget* parent = nullptr);
    ~CHostListCtrl() override;

    std::int32_t sortKey = 0;
};
