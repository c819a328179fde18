#pragma once

#include <QRect>

class QFont;

// Dialog templates give positions and sizes in dialog units: a quarter of the
// font's average character width horizontally, an eighth of its height
// vertically. This turns them into pixels for the dialog's font.
QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height);

// The font of the program's dialogs and of the host list: 9-point "Tahoma",
// or the closest face the system has.
QFont DialogFont();
