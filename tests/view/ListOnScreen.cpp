#include "tests/view/ListOnScreen.h"

#include "tests/support/ModalDriver.h"
#include "view/StripedListCtrl.h"

#include <QPixmap>
#include <QScreen>

QImage ViewportOnScreen(CStripedListCtrl* list)
{
    Pump(30);
    QWidget* window = list->window();
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    const QPoint origin = list->viewport()->mapTo(window, QPoint(0, 0));
    return shot.toImage().copy(QRect(origin, list->viewport()->size()));
}
