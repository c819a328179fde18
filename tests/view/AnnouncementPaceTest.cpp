// How often changes of hosts are announced, with the clock in the test's
// hands: a change waits for others, a few are told in their own words, many
// as counts, and announcements keep their distance.

#include "view/AnnouncementPace.h"
#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kGather = AnnouncementPace::kGatherMs;
constexpr std::uint32_t kLongest = AnnouncementPace::kLongestMs;
constexpr std::uint32_t kQuiet = AnnouncementPace::kQuietMs;

// At `tick`: a host's change, or a look at what is due.
struct Step
{
    enum Kind { Silent, Answering, Take } kind;
    std::uint32_t tick;
    const char* told = nullptr; // what a Take gives; nothing when null
};

// `count` changes, `apartMs` after each other.
std::vector<Step> Changes(int count, Step::Kind kind, std::uint32_t from, std::uint32_t apartMs = 1)
{
    std::vector<Step> steps;
    for (int i = 0; i < count; ++i)
        steps.push_back({kind, from + static_cast<std::uint32_t>(i) * apartMs});
    return steps;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PaceRow
{
    const char* name;
    std::vector<Step> steps;
    int wordsAskedFor; // of the changes, how many were put into words
};

const PaceRow kPaceRows[] = {
    {"a change waits for others, then is told in its own words",
        {{Step::Silent, 1000}, {Step::Take, 1000 + kGather - 1},
            {Step::Take, 1000 + kGather, "host 1"}, {Step::Take, 9000}},
        1},
    {"a few changes go out together, each in its own words",
        {{Step::Silent, 1000}, {Step::Answering, 1200}, {Step::Silent, 1499},
            {Step::Take, 1499 + kGather - 1},
            {Step::Take, 1499 + kGather, "host 1. host 2. host 3"}},
        3},
    // Hosts behind a switch time out one after another as their probes end.
    {"changes that keep coming are gathered until they pause",
        Changes(100, Step::Silent, 1000, 50)
            + std::vector<Step> {{Step::Take, 1000 + 99 * 50 + kGather - 1},
                {Step::Take, 1000 + 99 * 50 + kGather, "100 hosts N/A"}},
        3},
    {"changes that never pause are told after the longest wait",
        Changes(100, Step::Answering, 1000, 100)
            + std::vector<Step> {{Step::Take, 1000 + kLongest - 1},
                {Step::Take, 1000 + kLongest, "100 hosts answering"}},
        3},
    {"many changes go out as counts, with no words made beyond the few",
        Changes(100, Step::Silent, 1000) + Changes(2, Step::Answering, 1100)
            + std::vector<Step> {{Step::Take, 1101 + kGather, "100 hosts N/A, 2 hosts answering"}},
        3},
    {"one host among the counts",
        Changes(3, Step::Silent, 1000) + Changes(1, Step::Answering, 1010)
            + std::vector<Step> {{Step::Take, 1010 + kGather, "3 hosts N/A, 1 host answering"}},
        3},
    {"announcements keep their distance",
        {{Step::Silent, 1000}, {Step::Take, 1000 + kGather, "host 1"}, {Step::Answering, 2000},
            {Step::Take, 2000 + kGather}, {Step::Take, 1000 + kGather + kQuiet - 1},
            {Step::Take, 1000 + kGather + kQuiet, "host 2"}},
        2},
    {"nothing changed, nothing told", {{Step::Take, 1000}, {Step::Take, 100000}}, 0},
    {"across the tick count's wrap",
        {{Step::Answering, 0xFFFFFF00u}, {Step::Take, 0xFFFFFF00u + kGather, "host 1"},
            {Step::Silent, 10}, {Step::Take, 0xFFFFFF00u + kGather + kQuiet - 1},
            {Step::Take, 0xFFFFFF00u + kGather + kQuiet, "host 2"}},
        2},
};

class Pace : public testing::TestWithParam<PaceRow>
{ };

TEST_P(Pace, TellsWhatWasGathered)
{
    AnnouncementPace pace;
    int changes = 0;
    int wordsAskedFor = 0;
    for (const Step& step : GetParam().steps) {
        if (step.kind != Step::Take) {
            const std::string words = "host " + std::to_string(++changes);
            pace.Add(step.kind == Step::Answering, step.tick, [&] {
                ++wordsAskedFor;
                return words;
            });
            continue;
        }
        const std::optional<std::string> told = pace.Take(step.tick);
        if (step.told == nullptr)
            EXPECT_FALSE(told) << "at " << step.tick << ": " << told.value_or("");
        else
            EXPECT_EQ(told.value_or("(nothing)"), step.told) << "at " << step.tick;
    }
    EXPECT_EQ(wordsAskedFor, GetParam().wordsAskedFor);
}

INSTANTIATE_TEST_SUITE_P(Rows, Pace, testing::ValuesIn(kPaceRows), RowName());

} // namespace
