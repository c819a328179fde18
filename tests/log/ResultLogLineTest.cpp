#include "log/ResultLogLine.h"
#include "tests/support/RowName.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

struct LineRow
{
    std::tm time;
    const char* name;
    std::int32_t result;
    const char* line;
};

class ResultLogLineFormat : public testing::TestWithParam<LineRow>
{ };

TEST_P(ResultLogLineFormat, Line)
{
    const LineRow& r = GetParam();
    EXPECT_EQ(FormatResultLogLine(r.time, r.name, r.result), r.line);
}

// clang-format off
const LineRow kLineRows[] = {
    {CivilTime(2009, 12, 31, 9, 5, 3), "198.18.0.1", 12, "[09:05:03] 198.18.0.1       12 ms\n"},
    {CivilTime(2009, 12, 31, 9, 5, 3), "198.18.0.1", -1, "[09:05:03] 198.18.0.1       N/A\n"},
    {CivilTime(2009, 12, 31, 0, 0, 0), "127.255.255.254", 0, "[00:00:00] 127.255.255.254  0 ms\n"},
    {CivilTime(2009, 12, 31, 23, 59, 59), "255.255.255.255", 4999, "[23:59:59] 255.255.255.255  4999 ms\n"},
    {CivilTime(2009, 12, 31, 12, 0, 0), "127.1.1.1", 2147483647, "[12:00:00] 127.1.1.1        2147483647 ms\n"},
    {CivilTime(2009, 12, 31, 12, 0, 0), "127.1.1.1", -2, "[12:00:00] 127.1.1.1        -2 ms\n"},
    {CivilTime(2009, 12, 31, 12, 0, 0), "sixteen-chars-xx", 7, "[12:00:00] sixteen-chars-xx 7 ms\n"},
    {CivilTime(2009, 12, 31, 12, 0, 0), "seventeen-chars-x", 7, "[12:00:00] seventeen-chars-x 7 ms\n"},
    {CivilTime(2009, 12, 31, 12, 0, 0), "", -1, "[12:00:00]                  N/A\n"},
};
// clang-format on

// Each row is named by the line it must give.
INSTANTIATE_TEST_SUITE_P(Results, ResultLogLineFormat, testing::ValuesIn(kLineRows),
    [](const testing::TestParamInfo<LineRow>& info) { return TestNameOf(info.param.line); });

TEST(ResultLogFileName, LocalDateAsEightDigits)
{
    const struct
    {
        std::tm time;
        const char* name;
    } rows[] = {
        {CivilTime(2009, 12, 31, 23, 59, 59), "kelvoran.20091231"},
        {CivilTime(2010, 1, 1, 0, 0, 0), "kelvoran.20100101"},
        {CivilTime(2024, 3, 5, 12, 0, 0), "kelvoran.20240305"},
        {CivilTime(2024, 2, 29, 1, 2, 3), "kelvoran.20240229"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ResultLogFileName(row.time), row.name);
}

TEST(DroppedLinesLine, CountsTheDroppedLines)
{
    const std::tm t = CivilTime(2009, 12, 31, 9, 5, 3);
    EXPECT_EQ(FormatDroppedLinesLine(t, 1),
        "[09:05:03] 1 earlier line dropped: the result log could not be written\n");
    EXPECT_EQ(FormatDroppedLinesLine(t, 25),
        "[09:05:03] 25 earlier lines dropped: the result log could not be written\n");
}

} // namespace
