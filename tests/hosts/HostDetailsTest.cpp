// A host's records from its results, without a window: the state and since
// when it holds, the outcome stored, and the latest results and the day's
// spans kept for the pictures in its tooltip.

#include "hosts/HostEntry.h"
#include "hosts/RoundTripScale.h"
#include "icmp/IcmpStatus.h"
#include "tests/support/HostResults.h"
#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kRouter = 0x020012c6; // 198.18.0.2

// The state against the one before: a change, or the first result, starts it
// afresh, and is reported; the same state again only grows older.
TEST(BookResult, ComparesTheOutcomeWithTheStateBefore)
{
    struct Row
    {
        const char* name;
        std::vector<Step> steps;
        std::int32_t result;
        bool answering;
        std::time_t sinceS; // after the load
        std::uint64_t ageMs;
        std::uint32_t probes;
        std::uint32_t answers;
        bool changed; // by the last result
    };
    const Row rows[] = {
        {"first result an answer", {Answer(12345)}, 12, true, 5, 0, 1, 1, true},
        {"first result a time-out", {TimedOut()}, -1, false, 10, 0, 1, 0, true},
        {"answering on", {Answer(2000), Answer(3000), Answer(4000)}, 4, true, 5, 10000, 3, 3,
            false},
        {"falls silent", {Answer(2000), Answer(3000), TimedOut()}, -1, false, 20, 0, 3, 2, true},
        {"silent on", {TimedOut(), TimedOut()}, -1, false, 10, 10000, 2, 0, false},
        {"answers again", {TimedOut(), TimedOut(), Answer(7000)}, 7, true, 25, 0, 3, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BookedHost host(1000);
        EXPECT_EQ(host.Book(row.steps), row.changed);
        const HostEntry& entry = host.Entry();
        EXPECT_EQ(entry.result, row.result);
        EXPECT_EQ(entry.details.answering, row.answering);
        EXPECT_EQ(entry.details.stateSince, kLoadedAt + row.sinceS);
        EXPECT_EQ(entry.details.stateAgeMs, row.ageMs);
        EXPECT_EQ(entry.details.probes, row.probes);
        EXPECT_EQ(entry.details.answers, row.answers);
    }
}

TEST(BookResult, StoresTheOutcomeAndLeavesTheProbeCycleToTheWindow)
{
    BookedHost host(1000);
    host.Book({Answer(3500)});
    const HostEntry& entry = host.Entry();
    const std::int32_t prevResult = entry.prevResult;
    const std::int32_t lastDone = entry.lastDone;
    const std::uint8_t busy = entry.busy;

    host.Book({{-1, 0, IP_DEST_HOST_UNREACHABLE, kRouter, 5000}});
    EXPECT_EQ(entry.result, -1);
    EXPECT_EQ(entry.details.status, IP_DEST_HOST_UNREACHABLE);
    EXPECT_EQ(entry.details.source, kRouter);
    EXPECT_EQ(entry.details.roundTripUs, 0u);
    EXPECT_EQ(entry.details.lastTick, host.Tick());
    EXPECT_EQ(entry.prevResult, prevResult);
    EXPECT_EQ(entry.lastDone, lastDone);
    EXPECT_EQ(entry.busy, busy);
}

// What the picture is drawn from: the results kept, how many of them without
// answer, and how long ago the oldest came.
struct Kept
{
    std::size_t size;
    std::size_t noAnswers;
    std::uint64_t oldestAgeMs;
};

TEST(HostDetails, LatestResultsKeptSinceTheGroupWasLoaded)
{
    constexpr std::uint32_t kDay = 86'400'000;
    struct Row
    {
        const char* name;
        std::uint32_t startTick;
        std::vector<Step> steps;
        std::uint32_t nowAfterMs;
        Kept kept;
    };
    const Row rows[] = {
        {"no answer yet", 1000, Times(3, TimedOut()), 5000, {3, 3, 25000}},
        {"answering again", 1000, {Answer(10000), Answer(20000), TimedOut(), Answer(30000, 5000)},
            2000, {4, 1, 22000}},
        {"tenths of a percent cut", 1000,
            {Answer(1000), Answer(2000), {-1, 0, IP_DEST_HOST_UNREACHABLE, kRouter, 5000}}, 60000,
            {3, 1, 70000}},
        // The oldest results roll out; the newest 120 stay, with the true time
        // since the oldest of them.
        {"round the ring", 1000, Times(5, TimedOut()) + Times(120, Answer(50)), 3000,
            {120, 0, 598000}},
        // Longer than a gap can tell apart: only what came after is kept.
        {"for days, across the tick count's wrap", 0xFFFFFF00u,
            {Answer(5000, 1000), Answer(5000, 2 * kDay), Answer(5000, 2 * kDay)}, 4 * 3'600'000,
            {1, 0, 4 * 3'600'000}},
        {"a new load starts afresh", 1000, {Answer(7000), Answer(9000), kReload, TimedOut()}, 0,
            {1, 1, 0}},
        {"nothing since the new load", 1000, {Answer(7000), kReload}, 3000, {0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BookedHost host(row.startTick);
        host.Book(row.steps);
        host.Wait(row.nowAfterMs);

        const ResultHistory& recent = host.Entry().details.recent;
        ASSERT_EQ(recent.Size(), row.kept.size);
        std::size_t noAnswers = 0;
        for (std::size_t i = 0; i < recent.Size(); ++i)
            noAnswers += recent.Level(i) ? 0 : 1;
        EXPECT_EQ(noAnswers, row.kept.noAnswers);
        EXPECT_EQ(recent.OldestAgeMs(host.Tick()), row.kept.oldestAgeMs);
    }
}

// A span of the day that holds results, its worst answer by its round trip.
struct Spot
{
    std::size_t span;
    int answers;
    int misses;
    int outagesBegun;
    std::uint32_t worstUs;
};

std::vector<Spot> Each(std::size_t first, std::size_t last, Spot spot)
{
    std::vector<Spot> spots;
    for (spot.span = first; spot.span <= last; ++spot.span)
        spots.push_back(spot);
    return spots;
}

// The day's spans, ten minutes each, the first begun by the first result;
// every span but the spots is empty.
struct DayRow
{
    const char* name;
    std::uint32_t startTick;
    std::vector<Step> steps;
    std::uint32_t nowAfterMs;
    std::vector<Spot> spots;
};

constexpr std::uint32_t kSpan = DayHistory::kSpanMs;

const DayRow kDayRows[] = {
    {"results within one span", 1000,
        {Answer(1200), Answer(3000), TimedOut(), Answer(2000, kSpan - 20'001)}, 0,
        {{143, 3, 1, 1, 3000}}},
    {"a span boundary", 1000, {Answer(10000), Answer(1000, kSpan - 1), Answer(50, 1)}, 0,
        {{142, 2, 0, 0, 10000}, {143, 1, 0, 0, 50}}},
    {"a gap longer than a span, across the tick count's wrap", 0xFFFFF000u,
        {Answer(50), TimedOut(kSpan * 5 / 2)}, 0, {{141, 1, 0, 0, 50}, {143, 0, 1, 1, 0}}},
    {"a gap longer than 24 h", 1000,
        {Answer(1000), Answer(1000), TimedOut(25 * 6 * kSpan), Answer(50)}, 0,
        {{143, 1, 1, 1, 50}}},
    // 150 spans, one result each, read two spans after the last: the oldest
    // eight have gone round.
    {"144 spans wrapping around", 1000,
        Times(6, TimedOut(kSpan)) + Times(144, Answer(12000, kSpan)), 2 * kSpan,
        Each(0, 141, {0, 1, 0, 0, 12000})},
    {"more outages than a span counts", 1000, Times(40, {Answer(50), TimedOut()}), 0,
        {{143, 40, 40, DayHistory::kMostOutagesBegun, 50}}},
    {"a reload", 1000, {Answer(7000), Answer(7000, kSpan), kReload, TimedOut()}, 0,
        {{143, 0, 1, 1, 0}}},
};

class TheDaysSpans : public testing::TestWithParam<DayRow>
{ };

TEST_P(TheDaysSpans, HoldTheirResults)
{
    const DayRow& row = GetParam();
    BookedHost host(row.startTick);
    host.Book(row.steps);
    host.Wait(row.nowAfterMs);
    std::vector<std::pair<std::size_t, DaySpan>> spans;
    for (std::size_t i = 0; i < DayHistory::kSpans; ++i) {
        const DaySpan span = host.Entry().details.day.Span(i, host.Tick());
        if (!span.Empty())
            spans.emplace_back(i, span);
    }
    ASSERT_EQ(spans.size(), row.spots.size());
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const Spot& want = row.spots[i];
        const auto& [at, span] = spans[i];
        SCOPED_TRACE("span " + std::to_string(want.span));
        EXPECT_EQ(at, want.span);
        EXPECT_EQ(span.answers, want.answers);
        EXPECT_EQ(span.misses, want.misses);
        EXPECT_EQ(span.outagesBegun, want.outagesBegun);
        if (want.answers > 0) {
            EXPECT_EQ(span.worstLevel, RoundTripScale::LevelOf(want.worstUs));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, TheDaysSpans, testing::ValuesIn(kDayRows), RowName());

// The picture's scale keeps a switch's 0.05 ms and a far host's 500 ms apart
// from its ends, and holds everything beyond them at its ends; a level reads
// back as the round trip it stands for.
TEST(HostDetails, ScaleOfThePicture)
{
    struct Row
    {
        const char* name;
        std::uint32_t us;
        int level;
        std::uint32_t backUs;
    };
    const Row rows[] = {
        {"bottom", 10, 0, 10},
        {"a switch", 50, 35, 50},
        {"a far host", 500'000, 235, 501'187},
        {"top", 1'000'000, 250, 1'000'000},
        {"beyond the top", 5'000'000, 250, 1'000'000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RoundTripScale::LevelOf(row.us), row.level);
        EXPECT_EQ(RoundTripScale::UsOf(static_cast<std::uint8_t>(row.level)), row.backUs);
    }
}

} // namespace
