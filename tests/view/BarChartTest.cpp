// Where a tooltip's pictures put their bars and levels, at the ends.

#include "view/BarChart.h"
#include "hosts/DayHistory.h"
#include "hosts/ResultHistory.h"
#include "hosts/RoundTripScale.h"

#include <gtest/gtest.h>

namespace {

TEST(BarChart, TheEndsOfBothPictures)
{
    const BarChart recent {40, 10, ResultHistory::kCapacity};
    const BarChart day {40, 80, DayHistory::kSpans};
    struct Row
    {
        const char* name;
        double at;
        double expected;
    };
    const Row rows[] = {
        {"the scale's bottom", day.LevelY(0), 128},
        {"the scale's top", day.LevelY(RoundTripScale::kTopLevel), 80},
        {"the quickest answer still shows", day.AnswerTop(0), 126},
        {"the slowest reaches the top", day.AnswerTop(RoundTripScale::kTopLevel), 80},
        {"a span without any answer is red to the top", day.MissTop(1.0), 80},
        {"one probe without answer of 120 still shows", day.MissTop(1.0 / 120), 126},
        {"the oldest result's place", recent.BarLeft(0), 40},
        {"the newest result's place", recent.BarLeft(ResultHistory::kCapacity - 1), 397},
        {"24 h ago", day.BarLeft(0), 40},
        {"now", day.BarLeft(DayHistory::kSpans - 1), 469},
        {"the day's right end", day.BarLeft(0) + day.Width() - 1, 471},
        {"the mark six hours before the end", day.Between(108), 363.5},
    };
    for (const Row& row : rows)
        EXPECT_DOUBLE_EQ(row.at, row.expected) << row.name;
}

} // namespace
