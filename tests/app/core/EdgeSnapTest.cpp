#include "app/EdgeSnap.h"

#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

// Found by argument-dependent lookup (Rect lives in the global namespace).
static std::ostream& operator<<(std::ostream& os, const Rect& r)
{
    return os << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

namespace {

constexpr Rect kWork {0, 0, 1920, 1040};

// The main window's size.
Rect Window(std::int32_t left, std::int32_t top)
{
    return Rect {left, top, left + 350, top + 250};
}

struct SnapRow
{
    const char* name;
    Rect work;
    Rect before;
    Rect after;
};

void PrintTo(const SnapRow& row, std::ostream* os)
{
    *os << row.name;
}

class EdgeSnap : public testing::TestWithParam<SnapRow>
{ };

TEST_P(EdgeSnap, MovesTo)
{
    const SnapRow& row = GetParam();
    const Rect after = SnapToWorkArea(row.work, row.before);
    EXPECT_EQ(after, row.after) << "before " << row.before;
    EXPECT_EQ(after.right - after.left, row.before.right - row.before.left);
    EXPECT_EQ(after.bottom - after.top, row.before.bottom - row.before.top);
    // Snapping again where it snapped to changes nothing: the move it causes ends there.
    const Rect again = SnapToWorkArea(row.work, after);
    if (!(again == after)) {
        EXPECT_EQ(SnapToWorkArea(row.work, again), again) << "more than two moves";
    }
}

// clang-format off
const SnapRow kSnapRows[] = {
    {"left 10 snaps", kWork, Window(10, 400), Window(0, 400)},
    {"left 15 stays", kWork, Window(15, 400), Window(15, 400)},
    {"left 14 snaps", kWork, Window(14, 400), Window(0, 400)},
    {"left -14 snaps", kWork, Window(-14, 400), Window(0, 400)},
    {"left -15 stays", kWork, Window(-15, 400), Window(-15, 400)},
    {"right 1906 snaps", kWork, Window(1556, 400), {1570, 400, 1920, 650}},
    {"right 1905 stays", kWork, Window(1555, 400), Window(1555, 400)},
    {"right 1934 snaps", kWork, Window(1584, 400), {1570, 400, 1920, 650}},
    {"right 1935 stays", kWork, Window(1585, 400), Window(1585, 400)},
    {"top 5 only, left kept", kWork, Window(600, 5), Window(600, 0)},
    {"top -14 snaps", kWork, Window(600, -14), Window(600, 0)},
    {"top 15 stays", kWork, Window(600, 15), Window(600, 15)},
    {"bottom 1030 snaps", kWork, Window(600, 780), {600, 790, 950, 1040}},
    {"bottom 1025 stays", kWork, Window(600, 775), Window(600, 775)},
    {"corner snaps both ways", kWork, Window(1560, 785), {1570, 790, 1920, 1040}},
    {"flush top-left: no move", kWork, Window(0, 0), Window(0, 0)},
    {"flush bottom-right: no move", kWork, {1570, 790, 1920, 1040}, {1570, 790, 1920, 1040}},
    {"nowhere near", kWork, Window(800, 400), Window(800, 400)},
    {"narrow area: right wins", {0, 0, 360, 1040}, Window(5, 400), {10, 400, 360, 650}},
    {"narrow area, both just inside: right wins", {0, 0, 350, 1040}, Window(-14, 400), {0, 400, 350, 650}},
    {"low area: bottom wins", {0, 0, 1920, 260}, Window(600, 3), {600, 10, 950, 260}},
    {"work area not at the origin", {1920, 24, 3200, 1024}, Window(1930, 30), Window(1920, 24)},
    {"left snap brings the right edge near", {0, 0, 370, 1040}, {-10, 400, 350, 650}, {0, 400, 360, 650}},
    {"far off coordinates do not overflow", kWork,
     {std::numeric_limits<std::int32_t>::min(), 400, std::numeric_limits<std::int32_t>::min() + 350, 650},
     {std::numeric_limits<std::int32_t>::min(), 400, std::numeric_limits<std::int32_t>::min() + 350, 650}},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Examples, EdgeSnap, testing::ValuesIn(kSnapRows), RowName());

struct MonitorRow
{
    const char* name;
    std::vector<Rect> monitors;
    Rect window;
    int expected;
};

void PrintTo(const MonitorRow& row, std::ostream* os)
{
    *os << row.name;
}

class MonitorChoice : public testing::TestWithParam<MonitorRow>
{ };

TEST_P(MonitorChoice, Index)
{
    const MonitorRow& row = GetParam();
    EXPECT_EQ(ChooseMonitor(row.monitors, row.window), row.expected);
}

const std::vector<Rect> kTwoScreens {{0, 0, 1920, 1080}, {1920, 0, 3200, 1024}};

// clang-format off
const MonitorRow kMonitorRows[] = {
    {"inside the first", kTwoScreens, Window(100, 100), 0},
    {"inside the second", kTwoScreens, Window(2000, 100), 1},
    {"straddling, more on the first", kTwoScreens, Window(1700, 100), 0},
    {"straddling, more on the second", kTwoScreens, Window(1800, 100), 1},
    {"straddling evenly: the first", kTwoScreens, Window(1745, 100), 0},
    {"more width on the second, more area on the first", kTwoScreens, Window(1760, 980), 0},
    {"left of all: nearest is the first", kTwoScreens, Window(-1000, 100), 0},
    {"right of all: nearest is the second", kTwoScreens, Window(4000, 100), 1},
    {"below the second only", kTwoScreens, Window(2500, 1100), 1},
    {"below the gap under the second, nearer the first", kTwoScreens, Window(1700, 1500), 0},
    {"one monitor far away", {{0, 0, 800, 600}}, Window(100000, -100000), 0},
    {"no monitors", {}, Window(0, 0), -1},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Screens, MonitorChoice, testing::ValuesIn(kMonitorRows), RowName());

} // namespace
