#include "view/SortKey.h"

#include <gtest/gtest.h>

namespace {

struct ClickRow
{
    std::int32_t sortKey;
    int column;
    std::optional<std::int32_t> expected;
};

class SortKeyClick : public testing::TestWithParam<ClickRow>
{ };

TEST_P(SortKeyClick, NewKey)
{
    const ClickRow& row = GetParam();
    EXPECT_EQ(NextSortKey(row.sortKey, row.column), row.expected)
        << "key " << row.sortKey << ", column " << row.column;
}

// clang-format off
const ClickRow kClickRows[] = {
    // Column 0 (the in-flight mark) and columns outside the list never sort.
    {0, 0, std::nullopt}, {2, 0, std::nullopt}, {-3, 0, std::nullopt},
    {1, -1, std::nullopt}, {0, 4, std::nullopt}, {3, 4, std::nullopt},
    // The same header cycles: k, then -k, then group order, then k again.
    {0, 1, 1}, {1, 1, -1}, {-1, 1, 0},
    {0, 2, 2}, {2, 2, -2}, {-2, 2, 0},
    {0, 3, 3}, {3, 3, -3}, {-3, 3, 0},
    // Another header starts ascending, whatever the key in force.
    {-2, 1, 1}, {2, 3, 3}, {-3, 2, 2}, {1, 3, 3}, {-1, 2, 2},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Clicks, SortKeyClick, testing::ValuesIn(kClickRows));

} // namespace
