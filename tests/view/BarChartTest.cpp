// Where a tooltip's pictures put their bars and levels, at the ends.

#include "view/BarChart.h"
#include "hosts/DayHistory.h"
#include "hosts/ResultHistory.h"
#include "hosts/RoundTripScale.h"
#include "tests/support/RowName.h"

#include <gtest/gtest.h>

namespace {

const BarChart kRecent {40, 10, ResultHistory::kCapacity};
const BarChart kDay {40, 80, DayHistory::kSpans};

struct EndRow
{
    const char* name;
    double at;
    double expected;
};

const EndRow kEndRows[] = {
    {"the scale's bottom", kDay.LevelY(0), 128},
    {"the scale's top", kDay.LevelY(RoundTripScale::kTopLevel), 80},
    {"the quickest answer still shows", kDay.AnswerTop(0), 126},
    {"the slowest reaches the top", kDay.AnswerTop(RoundTripScale::kTopLevel), 80},
    {"a span without any answer is red to the top", kDay.MissTop(1.0), 80},
    {"one probe without answer of 120 still shows", kDay.MissTop(1.0 / 120), 126},
    {"the oldest result's place", kRecent.BarLeft(0), 40},
    {"the newest result's place", kRecent.BarLeft(ResultHistory::kCapacity - 1), 397},
    {"24 h ago", kDay.BarLeft(0), 40},
    {"now", kDay.BarLeft(DayHistory::kSpans - 1), 469},
    {"the day's right end", kDay.BarLeft(0) + kDay.Width() - 1, 471},
    {"the mark six hours before the end", kDay.Between(108), 363.5},
};

class BarChartEnds : public testing::TestWithParam<EndRow>
{ };

TEST_P(BarChartEnds, LieWhereTheyShould)
{
    EXPECT_DOUBLE_EQ(GetParam().at, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, BarChartEnds, testing::ValuesIn(kEndRows), RowName());

} // namespace
