#include "view/HostListCtrl.h"

CHostListCtrl::CHostListCtrl(QWidget* parent)
    : CStripedListCtrl(parent)
{ }

CHostListCtrl::~CHostListCtrl() = default;
