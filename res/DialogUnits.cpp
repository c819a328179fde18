#include "res/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>

QRect DialogUnitsToPixels(const QFont& font, int x, int y, int width, int height)
{
    const QFontMetrics metrics(font);
    // The average width of the 52 Latin letters, rounded, as dialog units are
    // defined; the height of the font.
    const int baseX = (metrics.horizontalAdvance(
                           QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"))
                          + 26)
        / 52;
    const int baseY = metrics.height();
    auto px = [baseX](int dlu) { return (dlu * baseX + 2) / 4; };
    auto py = [baseY](int dlu) { return (dlu * baseY + 4) / 8; };
    return QRect(px(x), py(y), px(width), py(height));
}

QFont DialogFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
