#include "app/EdgeSnap.h"

#include <algorithm>
#include <limits>

namespace {

// 64-bit throughout: coordinates near the ends of the 32-bit range must not overflow.
bool Near(std::int64_t edge, std::int64_t workEdge)
{
    return workEdge - kSnapDistance < edge && edge < workEdge + kSnapDistance;
}

std::uint64_t IntersectionArea(const Rect& a, const Rect& b)
{
    const std::int64_t w = std::int64_t {std::min(a.right, b.right)} - std::max(a.left, b.left);
    const std::int64_t h = std::int64_t {std::min(a.bottom, b.bottom)} - std::max(a.top, b.top);
    if (w <= 0 || h <= 0)
        return 0;
    return static_cast<std::uint64_t>(w) * static_cast<std::uint64_t>(h); // each below 2^32
}

// Gap along one axis between [lo1, hi1) and [lo2, hi2); 0 when they overlap or touch.
std::int64_t Gap(std::int64_t lo1, std::int64_t hi1, std::int64_t lo2, std::int64_t hi2)
{
    return std::max<std::int64_t>({0, lo2 - hi1, lo1 - hi2});
}

double SquaredDistance(const Rect& a, const Rect& b)
{
    const auto dx = static_cast<double>(Gap(a.left, a.right, b.left, b.right));
    const auto dy = static_cast<double>(Gap(a.top, a.bottom, b.top, b.bottom));
    return dx * dx + dy * dy;
}

} // namespace

Rect SnapToWorkArea(const Rect& work, const Rect& before)
{
    const std::int64_t width = std::int64_t {before.right} - before.left;
    const std::int64_t height = std::int64_t {before.bottom} - before.top;
    std::int64_t left = before.left, top = before.top, right = before.right, bottom = before.bottom;
    if (Near(before.left, work.left)) {
        left = work.left;
        right = work.left + width;
    }
    if (Near(before.right, work.right)) {
        right = work.right;
        left = work.right - width;
    }
    if (Near(before.top, work.top)) {
        top = work.top;
        bottom = work.top + height;
    }
    if (Near(before.bottom, work.bottom)) {
        bottom = work.bottom;
        top = work.bottom - height;
    }
    return Rect {static_cast<std::int32_t>(left), static_cast<std::int32_t>(top),
        static_cast<std::int32_t>(right), static_cast<std::int32_t>(bottom)};
}

int ChooseMonitor(std::span<const Rect> monitors, const Rect& window)
{
    int best = -1;
    std::uint64_t bestArea = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const std::uint64_t area = IntersectionArea(monitors[i], window);
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0)
        return best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const double distance = SquaredDistance(monitors[i], window);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
        }
    }
    return best;
}
