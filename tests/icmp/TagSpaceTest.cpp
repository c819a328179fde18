// The shared raw socket's keys: none handed out twice while in use or resting,
// and a block taken up again only a minute after its last deadline.

#include "icmp/TagSpace.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

TEST(TagSpace, ABlockComesRoundOnlyAfterItsRest)
{
    // 256 blocks of four tags, from block 7 of prefix 0xab, all used up.
    TagSpace tags(0xab070000u, 4);
    std::set<std::uint32_t> taken;
    for (int i = 0; i < 256 * 4; ++i) {
        const std::optional<EchoKey> key = tags.Take(i * kSecond / 100, 5 * kSecond);
        ASSERT_TRUE(key && key->identifier >> 8 == 0xab && taken.insert(key->Packed()).second)
            << i;
    }
    const std::int64_t restEnds = 5 * kSecond + TagSpace::kRestNs;
    EXPECT_FALSE(tags.Take(6 * kSecond, 11 * kSecond));
    EXPECT_FALSE(tags.Take(restEnds - 1, restEnds + 5 * kSecond));
    EXPECT_EQ(tags.Take(restEnds, restEnds + 5 * kSecond).value_or(EchoKey {}).identifier, 0xab07u)
        << "the first block, come round";
}

} // namespace
