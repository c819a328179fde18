#include "app/FrameGeometry.h"

#include "app/EdgeSnap.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include <vector>

namespace {

Rect ToRect(const QRect& r)
{
    return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

} // namespace

bool SetOuterSize(QWidget* window, const QSize& outer)
{
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    if (frame.width() <= 0 && frame.height() <= 0)
        return false;
    window->resize(outer - frame);
    return true;
}

void SnapToScreenEdges(QWidget* window)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    std::vector<Rect> monitors;
    monitors.reserve(static_cast<std::size_t>(screens.size()));
    for (const QScreen* screen : screens)
        monitors.push_back(ToRect(screen->geometry()));
    const Rect before = ToRect(window->frameGeometry());
    const int monitor = ChooseMonitor(monitors, before);
    if (monitor < 0)
        return;
    const Rect after = SnapToWorkArea(ToRect(screens[monitor]->availableGeometry()), before);
    if (after == before)
        return;
    window->move(after.left, after.top);
}
