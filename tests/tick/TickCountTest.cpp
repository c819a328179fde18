#include "tick/TickCount.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(TicksSince, CountsForwardAcrossTheWrap)
{
    struct Row
    {
        const char* name;
        std::uint32_t now;
        std::uint32_t then;
        std::uint32_t since;
    };
    const Row rows[] = {
        {"same tick", 1000, 1000, 0},
        {"five seconds on", 6000, 1000, 5000},
        {"just after the wrap", 0x00000400, 0xFFFFF000, 0x1400},
        {"the last tick before the wrap to the first after it", 0x00000000, 0xFFFFFFFF, 1},
        {"across the sign change", 0x80001388, 0x7FFFFFFF, 0x1389},
        {"longest that can be told", 0xFFFFFFFF, 0x00000000, 0xFFFFFFFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TicksSince(row.now, row.then), row.since);
    }
}

} // namespace
