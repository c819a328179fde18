// The shared raw socket's tags: every one apart from those still in use or
// resting, and a block taken up again only a minute after its last deadline.

#include "icmp/TagSpace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

TEST(TagSpace, ABlockComesRoundOnlyAfterItsRest)
{
    // 256 blocks of four tags, starting at block 7 of prefix 0xab.
    TagSpace tags(0xab070000u, 4);
    std::set<std::uint32_t> taken;
    for (int i = 0; i < 256 * 4; ++i) {
        const std::optional<std::uint32_t> tag = tags.Take(i * kSecond / 100, 5 * kSecond);
        ASSERT_TRUE(tag) << i;
        EXPECT_EQ(*tag >> 24, 0xabu) << "one prefix for the socket's filter";
        EXPECT_TRUE(taken.insert(*tag).second) << "tag " << i << " handed out twice";
    }
    // Every block was used within the last minute after its deadline.
    struct Row
    {
        std::int64_t now;
        bool free;
    };
    const Row rows[] = {
        {6 * kSecond, false},
        {5 * kSecond + TagSpace::kRestNs - 1, false},
        {5 * kSecond + TagSpace::kRestNs, true},
    };
    for (const Row& row : rows) {
        const std::optional<std::uint32_t> tag = tags.Take(row.now, row.now + 5 * kSecond);
        EXPECT_EQ(tag.has_value(), row.free) << row.now;
        if (tag) {
            EXPECT_EQ(*tag >> 16, 0xab07u) << "the first block, come round";
        }
    }
}

} // namespace
