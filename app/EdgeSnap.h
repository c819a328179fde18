#pragma once

#include <cstdint>
#include <span>

// A rectangle in screen coordinates; right and bottom are exclusive (a window
// at x 10, 350 wide has left 10, right 360). From a QRect r:
// {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}.
struct Rect
{
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const Rect&) const = default;
};

// An edge snaps when it lies less than this many pixels from the work area's edge.
constexpr std::int32_t kSnapDistance = 15;

// Where a window whose outer rectangle is `before` goes so that edges near the
// work area's edges lie on them; its size never changes. All four edges are
// tested against `before`; when both edges of an axis are near, the right
// (bottom) one wins. Equal to `before` when nothing snaps: then do not move.
Rect SnapToWorkArea(const Rect& work, const Rect& before);

// Index of the monitor that a window belongs to: the one with the largest
// intersection with the window or, when it intersects none, the nearest one
// (the first of equals). -1 for an empty list. Snap to that monitor's work area.
int ChooseMonitor(std::span<const Rect> monitors, const Rect& window);
