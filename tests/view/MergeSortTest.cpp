#include "view/MergeSort.h"

#include "hosts/HostEntry.h"
#include "view/CompareHostEntries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

// The host list sorts with comparisons that are not a consistent order (equal
// addresses answer +1 both ways, results change during a sort). Whatever the
// answers, the sort must end and leave every row exactly once.
namespace {

std::vector<std::size_t> Sizes()
{
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 70; ++n)
        sizes.push_back(n);
    for (std::size_t n : {127, 128, 129, 255, 256, 257, 500, 1000, 1023, 1024, 1025, 2000, 2048})
        sizes.push_back(n);
    return sizes;
}

std::vector<int> Numbers(std::size_t n)
{
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

void ExpectPermutationOf0To(std::vector<int> v, std::size_t n)
{
    std::sort(v.begin(), v.end());
    ASSERT_EQ(v, Numbers(n));
}

class MergeSortUnderBadAnswers : public testing::TestWithParam<std::size_t>
{ };

TEST_P(MergeSortUnderBadAnswers, RandomAnswersKeepEveryElementOnce)
{
    const std::size_t n = GetParam();
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::mt19937 rng(seed * 7919u + static_cast<unsigned>(n));
        std::vector<int> v = Numbers(n);
        std::shuffle(v.begin(), v.end(), rng);
        std::uniform_int_distribution<int> answer(-1, 1);
        MergeSort(v, [&](int, int) { return answer(rng); });
        ExpectPermutationOf0To(v, n);
    }
}

TEST_P(MergeSortUnderBadAnswers, AnswersFlippingMidSortKeepEveryElementOnce)
{
    const std::size_t n = GetParam();
    for (unsigned period : {1u, 3u, 17u, 1000u}) {
        std::vector<int> v = Numbers(n);
        std::reverse(v.begin(), v.end());
        unsigned calls = 0;
        MergeSort(v, [&](int a, int b) {
            const bool ascending = (calls++ / period) % 2 == 0;
            return ascending ? (a < b ? -1 : 1) : (a < b ? 1 : -1);
        });
        ExpectPermutationOf0To(v, n);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, MergeSortUnderBadAnswers, testing::ValuesIn(Sizes()),
    [](const testing::TestParamInfo<std::size_t>& info) {
        return std::to_string(info.param) + "_elements";
    });

// Probe results arriving while the list sorts by time: each comparison may see
// other values than the one before it.
TEST(MergeSortHostEntries, ResultsChangingDuringSortByTime)
{
    for (std::size_t n : {0u, 1u, 2u, 50u, 1000u}) {
        for (std::intptr_t key : {2, -2, 1, -1, 0}) {
            std::mt19937 rng(static_cast<unsigned>(n * 31 + static_cast<std::size_t>(key + 8)));
            std::vector<std::unique_ptr<HostEntry>> entries;
            std::vector<ItemData> items;
            for (std::size_t i = 0; i < n; ++i) {
                entries.push_back(std::make_unique<HostEntry>());
                entries.back()->order = static_cast<std::int32_t>(i);
                entries.back()->address = static_cast<std::uint32_t>(rng() % 4); // many equal
                items.push_back(reinterpret_cast<ItemData>(entries.back().get()));
            }
            std::uniform_int_distribution<std::int32_t> result(-2, 30);
            MergeSort(items, [&](ItemData a, ItemData b) {
                if (!entries.empty())
                    entries[rng() % entries.size()]->result = result(rng);
                return CompareHostEntries(a, b, key);
            });
            std::vector<ItemData> expected;
            for (const auto& e : entries)
                expected.push_back(reinterpret_cast<ItemData>(e.get()));
            std::sort(items.begin(), items.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(items, expected) << "n " << n << ", key " << key;
        }
    }
}

} // namespace
