#include "probe/Scheduler.h"

#include "hosts/HostEntry.h"
#include "view/MergeSort.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

namespace {

struct Entries
{
    std::vector<std::unique_ptr<HostEntry>> owned;
    std::vector<HostEntry*> snapshot;

    HostEntry* Add(std::int32_t lastDone, std::int32_t row, bool busy = false)
    {
        owned.push_back(std::make_unique<HostEntry>());
        HostEntry* e = owned.back().get();
        e->lastDone = lastDone;
        e->row = row;
        e->order = row;
        e->busy = busy ? 1 : 0;
        snapshot.push_back(e);
        return e;
    }
};

std::vector<HostEntry*> Walk(
    Entries& entries, std::uint32_t now, std::int32_t* inFlight, bool countStarts = false)
{
    std::vector<HostEntry*> started;
    RunScheduleTick(entries.snapshot,
        {
            [inFlight] { return *inFlight; },
            [now] { return now; },
            [&](HostEntry* e) {
                started.push_back(e);
                if (countStarts)
                    ++*inFlight;
            },
        });
    return started;
}

} // namespace

TEST(Scheduler, DueStrictlyAfterTheIntervalAndAcrossTheTickWrap)
{
    struct Case
    {
        const char* name;
        std::uint32_t now;
        std::uint32_t lastDone;
        bool due;
    };
    const Case cases[] = {
        {"exactly the interval", 6000, 1000, false},
        {"a millisecond past the interval", 6001, 1000, true},
        {"just done", 1000, 1000, false},
        {"5120 ms across the wrap", 0x00000400, 0xFFFFF000, true},
        {"905 ms across the wrap", 0x00000388, 0xFFFFFFFF, false},
        {"4352 ms across the wrap", 0x00000100, 0xFFFFF000, false},
        {"exactly the interval across the sign change", 0x80001388, 0x80000000, false},
        {"a millisecond past it across the sign change", 0x80001389, 0x80000000, true},
        {"the longest time the tick count tells", 0xFFFFFFFF, 0x00000000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsDue(c.now, static_cast<std::int32_t>(c.lastDone)), c.due);
    }
}

TEST(Scheduler, OrderIsLastDoneThenRowAndNeverEqual)
{
    HostEntry a, b;
    a.lastDone = 10;
    b.lastDone = 20;
    EXPECT_EQ(CompareByLastDone(&a, &b), -1);
    EXPECT_EQ(CompareByLastDone(&b, &a), 1);
    // Signed: a tick with the top bit set sorts first.
    a.lastDone = static_cast<std::int32_t>(0x80000000u);
    EXPECT_EQ(CompareByLastDone(&a, &b), -1);
    b.lastDone = a.lastDone;
    a.row = 3;
    b.row = 4;
    EXPECT_EQ(CompareByLastDone(&a, &b), -1);
    EXPECT_EQ(CompareByLastDone(&b, &a), 1);
    EXPECT_EQ(CompareByLastDone(&a, &a), 1);

    Entries entries;
    HostEntry* late = entries.Add(3000, 0);
    HostEntry* rowTwo = entries.Add(1000, 2);
    HostEntry* rowOne = entries.Add(1000, 1);
    HostEntry* busy = entries.Add(500, 3, true);
    HostEntry* notDue = entries.Add(9000, 4);
    std::int32_t inFlight = 0;
    const std::vector<HostEntry*> started = Walk(entries, 9000, &inFlight);
    // The busy and the not-yet-due entries are skipped.
    EXPECT_EQ(started, (std::vector<HostEntry*> {rowOne, rowTwo, late}));
    EXPECT_EQ(busy->busy, 1);
    EXPECT_EQ(notDue->lastDone, 9000);
}

// The tick's sort must give exactly the order of a merge sort through the
// comparison, also where that comparison cannot tell entries apart.
TEST(Scheduler, SortMatchesMergeSortThroughTheComparison)
{
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        Entries entries;
        const int n = std::uniform_int_distribution<int>(0, 700)(rng);
        // Few distinct values, so that equal lastDone and equal rows are common;
        // the extremes check the signed comparison of both.
        const std::int32_t values[]
            = {INT32_MIN, INT32_MIN + 1, -5000, -1, 0, 1, 4999, 5000, INT32_MAX - 1, INT32_MAX};
        std::uniform_int_distribution<int> pick(0, 9);
        for (int i = 0; i < n; ++i)
            entries.Add(values[pick(rng)], round % 2 ? i : values[pick(rng)]);
        // An entry may stand in a snapshot twice only through a fault, but
        // the order must not depend on that either.
        if (n > 0 && round % 5 == 0)
            entries.snapshot.push_back(entries.snapshot.front());

        std::vector<HostEntry*> expected = entries.snapshot;
        MergeSort(expected,
            [](const HostEntry* a, const HostEntry* b) { return CompareByLastDone(a, b); });
        SortByLastDone(entries.snapshot);
        ASSERT_EQ(entries.snapshot, expected) << "round " << round;
    }
}

TEST(Scheduler, CapIsReadBeforeEachElement)
{
    Entries entries;
    for (int i = 0; i < 80; ++i)
        entries.Add(0, i);

    std::int32_t inFlight = 51;
    EXPECT_TRUE(Walk(entries, 10000, &inFlight).empty()) << "51 running: nothing starts";

    inFlight = 50;
    EXPECT_EQ(Walk(entries, 10000, &inFlight).size(), 80u)
        << "a count that does not move lets the whole walk through";

    // When each start is counted at once, the walk stops as soon as the count
    // exceeds 50: from 45, six more start (46..51).
    inFlight = 45;
    EXPECT_EQ(Walk(entries, 10000, &inFlight, true).size(), 6u);
    EXPECT_EQ(inFlight, 51);
}

TEST(Scheduler, EmptySnapshotStartsNothing)
{
    Entries entries;
    std::int32_t inFlight = 0;
    EXPECT_TRUE(Walk(entries, 10000, &inFlight).empty());
}
