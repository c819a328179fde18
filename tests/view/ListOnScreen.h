#pragma once

#include <QImage>

class CStripedListCtrl;

// The list's rows area as the window system last got it from the list's
// window, after the pending paints: not a fresh render, so a row that was not
// repainted shows its old colours here.
QImage ViewportOnScreen(CStripedListCtrl* list);
