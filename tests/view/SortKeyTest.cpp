#include "view/SortKey.h"

#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace {

struct ClickRow
{
    const char* name;
    std::int32_t sortKey;
    int column;
    std::optional<std::int32_t> expected;
};

class SortKeyClick : public testing::TestWithParam<ClickRow>
{ };

void PrintTo(const ClickRow& row, std::ostream* os)
{
    *os << row.name;
}

TEST_P(SortKeyClick, NewKey)
{
    const ClickRow& row = GetParam();
    EXPECT_EQ(NextSortKey(row.sortKey, row.column), row.expected)
        << "key " << row.sortKey << ", column " << row.column;
}

// clang-format off
const ClickRow kClickRows[] = {
    // Column 0 (the in-flight mark) and columns outside the list never sort.
    {"mark in group order", 0, 0, std::nullopt},
    {"mark sorted by time", 2, 0, std::nullopt},
    {"mark sorted by description descending", -3, 0, std::nullopt},
    {"before the first column", 1, -1, std::nullopt},
    {"past the last column in group order", 0, 4, std::nullopt},
    {"past the last column sorted by description", 3, 4, std::nullopt},
    // The same header cycles: k, then -k, then group order, then k again.
    {"IP ascending", 0, 1, 1},
    {"IP descending", 1, 1, -1},
    {"IP back to group order", -1, 1, 0},
    {"Time ascending", 0, 2, 2},
    {"Time descending", 2, 2, -2},
    {"Time back to group order", -2, 2, 0},
    {"Desc ascending", 0, 3, 3},
    {"Desc descending", 3, 3, -3},
    {"Desc back to group order", -3, 3, 0},
    // Another header starts ascending, whatever the key in force.
    {"IP after Time descending", -2, 1, 1},
    {"Desc after Time", 2, 3, 3},
    {"Time after Desc descending", -3, 2, 2},
    {"Desc after IP", 1, 3, 3},
    {"Time after IP descending", -1, 2, 2},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Clicks, SortKeyClick, testing::ValuesIn(kClickRows), RowName());

} // namespace
