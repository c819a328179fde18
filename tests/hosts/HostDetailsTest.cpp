// A host's tooltip from its results, without a window: the reasons in words,
// since when a state holds, the figures since the group was loaded and the
// latest results kept for the picture.

#include "hosts/GroupFile.h"
#include "hosts/GroupLoad.h"
#include "hosts/HostEntry.h"
#include "hosts/HostTable.h"
#include "hosts/RoundTripScale.h"
#include "icmp/IcmpProbe.h"
#include "icmp/IcmpStatus.h"
#include "view/HostDetailsText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kRouter = 0x020012c6; // 198.18.0.2
constexpr std::uint32_t kHost = 0x0d0012c6; // 198.18.0.13

TEST(HostDetails, OutcomesInWords)
{
    struct Row
    {
        std::int32_t result;
        std::uint32_t roundTripUs;
        std::uint32_t status;
        std::uint32_t source;
        const char* text;
    };
    const Row rows[] = {
        {-2, 0, IP_SUCCESS, 0, "Not probed yet"},
        // Four figures, cut: never above the row's whole milliseconds.
        {0, 52, IP_SUCCESS, 0, "Answered in 0.052 ms"},
        {10, 10000, IP_SUCCESS, 0, "Answered in 10.00 ms"},
        {123, 123456, IP_SUCCESS, 0, "Answered in 123.4 ms"},
        {4999, 4999999, IP_SUCCESS, 0, "Answered in 4999 ms"},
        {-1, 0, IP_REQ_TIMED_OUT, 0, "Request timed out"},
        {-1, 0, IP_DEST_HOST_UNREACHABLE, kRouter,
            "Destination host unreachable, reported by 198.18.0.2"},
        {-1, 0, IP_DEST_NET_UNREACHABLE, kRouter,
            "Destination net unreachable, reported by 198.18.0.2"},
        {-1, 0, IP_DEST_PORT_UNREACHABLE, kHost,
            "Destination port unreachable, reported by 198.18.0.13"},
        {-1, 0, IP_TTL_EXPIRED_TRANSIT, kRouter, "TTL expired in transit, reported by 198.18.0.2"},
        {-1, 0, IP_PACKET_TOO_BIG, kRouter, "Packet too big, reported by 198.18.0.2"},
        // The damaged reply's sender is the host itself: not named.
        {-1, 0, ERROR_UNEXP_NET_ERR, kHost, "Reply did not match the request"},
        // Without an ICMP error behind them, the own stack refused to send.
        {-1, 0, IP_DEST_NET_UNREACHABLE, 0, "Could not send: no route to the network"},
        {-1, 0, IP_DEST_HOST_UNREACHABLE, 0, "Could not send: no route to the host"},
        {-1, 0, IP_PACKET_TOO_BIG, 0, "Could not send: the packet is too big"},
        {-1, 0, ERROR_ACCESS_DENIED, 0, "Could not send: no permission"},
        {-1, 0, ERROR_MOD_NOT_FOUND, 0, "Could not send: no permission to open an ICMP socket"},
        {-1, 0, IP_GENERAL_FAILURE, 0, "General failure"},
        {-1, 0, 4242, 0, "Failed with status 4242"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ProbeOutcomeText(row.result, row.status, row.source, row.roundTripUs), row.text);
    }
}

// A result as the window thread books it, some time after the one before;
// a step with kLoad loads the group again instead.
struct Step
{
    std::int32_t result;
    std::uint32_t roundTripUs;
    std::uint32_t status;
    std::uint32_t source;
    std::uint32_t afterMs;
};
constexpr std::int32_t kLoad = std::numeric_limits<std::int32_t>::min();
constexpr Step Answer(std::uint32_t us, std::uint32_t afterMs = 5000)
{
    return {static_cast<std::int32_t>(us / 1000), us, IP_SUCCESS, 0, afterMs};
}
constexpr Step TimedOut(std::uint32_t afterMs = 10000)
{
    return {-1, 0, IP_REQ_TIMED_OUT, 0, afterMs};
}
constexpr Step kReload {kLoad, 0, 0, 0, 0};

std::vector<Step> Times(int count, Step step)
{
    return std::vector<Step>(static_cast<std::size_t>(count), step);
}
std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The group's one host as its row holds it.
class OneRow : public HostRows
{
public:
    ~OneRow() { FreeRowEntries(*this); }
    int RowCount() const override { return static_cast<int>(entries.size()); }
    HostEntry* RowEntry(int row) const override { return entries[row]; }
    void ForgetRowEntry(int row) override { entries[row] = nullptr; }
    void AppendRow(HostEntry* entry) override { entries.push_back(entry); }
    void RemoveAllRows() override { entries.clear(); }

    std::vector<HostEntry*> entries;
};

void Load(OneRow& rows, HostTable& table, std::uint32_t tick)
{
    const std::string bytes = "[Lab]\n198.18.0.13 Lab router\n";
    FilePtr file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    LoadGroupHosts(file.get(), "Lab", rows, table, [tick] { return tick; });
}

constexpr std::time_t kStart = 1714556467; // 2024-05-01 09:41:07 UTC

// The group's one host, loaded at `startTick` and 09:41:07 UTC, after the
// steps; `tick` and `wall` are now, `nowAfterMs` after the last step.
struct Booked
{
    OneRow rows;
    HostTable table;
    std::uint32_t tick;
    std::time_t wall = kStart;

    Booked(std::uint32_t startTick, const std::vector<Step>& steps, std::uint32_t nowAfterMs)
        : tick(startTick)
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        Load(rows, table, tick);
        for (const Step& step : steps) {
            tick += step.afterMs;
            wall += step.afterMs / 1000;
            if (step.result == kLoad) {
                Load(rows, table, tick);
                continue;
            }
            ProbeOutcome outcome;
            outcome.status = step.status;
            outcome.source = step.source;
            outcome.reply.roundTripTime = static_cast<std::uint32_t>(std::max(step.result, 0));
            outcome.reply.roundTripUs = step.roundTripUs;
            BookResult(*rows.entries.at(0), outcome, tick, wall);
        }
        tick += nowAfterMs;
        wall += nowAfterMs / 1000;
    }
    const HostEntry& entry() const { return *rows.entries.at(0); }
};

// What the picture is drawn from: the results kept, how many of them without
// answer, and how long ago the oldest came.
struct Kept
{
    std::size_t size;
    std::size_t noAnswers;
    std::uint64_t oldestAgeMs;
};

TEST(HostDetails, FiguresAndLatestResultsSinceTheGroupWasLoaded)
{
    constexpr std::uint32_t kDay = 86'400'000;
    struct Row
    {
        const char* name;
        std::uint32_t startTick;
        std::vector<Step> steps;
        std::uint32_t nowAfterMs;
        const char* text;
        Kept kept;
    };
    const Row rows[] = {
        {"no answer yet", 1000, Times(3, TimedOut()), 5000,
            "Request timed out\n"
            "N/A since 09:41:17 (25 s)\n"
            "Probes sent: 3, answered: 0, loss: 100%\n"
            "No answer since the group was loaded",
            {3, 3, 25000}},
        {"answering again", 1000, {Answer(10000), Answer(20000), TimedOut(), Answer(30000, 5000)},
            2000,
            "Answered in 30.00 ms\n"
            "Answering since 09:41:32 (2 s)\n"
            "Probes sent: 4, answered: 3, loss: 25%\n"
            "Round trip min/avg/max/mdev 10.00/20.00/30.00/8.164 ms\n"
            "Last answer: 09:41:32\n"
            "Outages: 1, longest 5 s, last 09:41:27\u201309:41:32",
            {4, 1, 22000}},
        {"tenths of a percent cut", 1000,
            {Answer(1000), Answer(2000), {-1, 0, IP_DEST_HOST_UNREACHABLE, kRouter, 5000}}, 60000,
            "Destination host unreachable, reported by 198.18.0.2\n"
            "N/A since 09:41:22 (1 min)\n"
            "Probes sent: 3, answered: 2, loss: 33.3%\n"
            "Round trip min/avg/max/mdev 1.000/1.500/2.000/0.500 ms\n"
            "Last answer: 09:41:17\n"
            "Outages: 1, longest 1 min, last 09:41:22\u2013now",
            {3, 1, 70000}},
        // The oldest results roll out; the newest 120 stay, with the true time
        // since the oldest of them.
        {"round the ring", 1000, Times(5, TimedOut()) + Times(120, Answer(50)), 3000,
            "Answered in 0.050 ms\n"
            "Answering since 09:42:02 (9 min)\n"
            "Probes sent: 125, answered: 120, loss: 4%\n"
            "Round trip min/avg/max/mdev 0.050/0.050/0.050/0.000 ms\n"
            "Last answer: 09:51:57\n"
            "Outages: 1, longest 45 s, last 09:41:17\u201309:42:02",
            {120, 0, 598000}},
        // Longer than a gap can tell apart: only what came after is kept.
        {"for days, across the tick count's wrap", 0xFFFFFF00u,
            {Answer(5000, 1000), Answer(5000, 2 * kDay), Answer(5000, 2 * kDay)}, 4 * 3'600'000,
            "Answered in 5.000 ms\n"
            "Answering since 2024-05-01 09:41:08 (4 d 4 h)\n"
            "Probes sent: 3, answered: 3, loss: 0%\n"
            "Round trip min/avg/max/mdev 5.000/5.000/5.000/0.000 ms\n"
            "Last answer: 09:41:08\n"
            "Outages: none",
            {1, 0, 4 * 3'600'000}},
        {"a new load starts afresh", 1000, {Answer(7000), Answer(9000), kReload, TimedOut()}, 0,
            "Request timed out\n"
            "N/A since 09:41:27 (0 s)\n"
            "Probes sent: 1, answered: 0, loss: 100%\n"
            "No answer since the group was loaded",
            {1, 1, 0}},
        {"nothing since the new load", 1000, {Answer(7000), kReload}, 3000, "Not probed yet",
            {0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Booked booked(row.startTick, row.steps, row.nowAfterMs);
        const HostEntry& entry = booked.entry();
        const std::uint32_t tick = booked.tick;
        EXPECT_EQ(HostDetailsText(entry, tick, booked.wall), row.text);

        const ResultHistory& recent = entry.details.recent;
        ASSERT_EQ(recent.Size(), row.kept.size);
        std::size_t noAnswers = 0;
        for (std::size_t i = 0; i < recent.Size(); ++i)
            noAnswers += recent.Level(i) ? 0 : 1;
        EXPECT_EQ(noAnswers, row.kept.noAnswers);
        EXPECT_EQ(recent.OldestAgeMs(tick), row.kept.oldestAgeMs);
    }
}

std::vector<Step> Times(int count, const std::vector<Step>& steps)
{
    std::vector<Step> all;
    for (int i = 0; i < count; ++i)
        all = all + steps;
    return all;
}

// A span of the day that holds results; the worst answer by its round trip.
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

// The day's spans, ten minutes each, the first begun by the first result, and
// the day in words.
TEST(HostDetails, TheDaysSpans)
{
    constexpr std::uint32_t kSpan = 600'000;
    struct Row
    {
        const char* name;
        std::uint32_t startTick;
        std::vector<Step> steps;
        std::uint32_t nowAfterMs;
        std::vector<Spot> spots; // every other span is empty
        const char* words;
    };
    const Row rows[] = {
        {"nothing yet", 1000, {}, 0, {}, "Last 24 h: no results"},
        {"results within one span", 1000,
            {Answer(1200), Answer(3000), TimedOut(), Answer(2000, kSpan - 20'001)}, 0,
            {{143, 3, 1, 1, 3000}}, "Last 24 h: 1 outage, 75 % answered, worst 3 ms"},
        {"a span boundary", 1000, {Answer(10000), Answer(1000, kSpan - 1), Answer(50, 1)}, 0,
            {{142, 2, 0, 0, 10000}, {143, 1, 0, 0, 50}},
            "Last 24 h: no outages, 100 % answered, worst 10 ms"},
        {"a gap longer than a span, across the tick count's wrap", 0xFFFFF000u,
            {Answer(50), TimedOut(kSpan * 5 / 2)}, 0, {{141, 1, 0, 0, 50}, {143, 0, 1, 1, 0}},
            "Last 24 h: 1 outage, 50 % answered, worst 0.05 ms"},
        {"a gap longer than 24 h", 1000,
            {Answer(1000), Answer(1000), TimedOut(25 * 6 * kSpan), Answer(50)}, 0,
            {{143, 1, 1, 1, 50}}, "Last 24 h: 1 outage, 50 % answered, worst 0.05 ms"},
        // 150 spans, one result each, read two spans after the last: the
        // oldest eight have gone round.
        {"144 spans wrapping around", 1000,
            Times(6, TimedOut(kSpan)) + Times(144, Answer(12000, kSpan)), 2 * kSpan,
            Each(0, 141, {0, 1, 0, 0, 12000}),
            "Last 24 h: no outages, 100 % answered, worst 12 ms"},
        {"more outages than a span counts", 1000, Times(40, {Answer(50), TimedOut()}), 0,
            {{143, 40, 40, DayHistory::kMostOutagesBegun, 50}},
            "Last 24 h: at least 31 outages, 50 % answered, worst 0.05 ms"},
        {"a reload", 1000, {Answer(7000), Answer(7000, kSpan), kReload, TimedOut()}, 0,
            {{143, 0, 1, 1, 0}}, "Last 24 h: no answer"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Booked booked(row.startTick, row.steps, row.nowAfterMs);
        std::vector<Spot> spots;
        for (std::size_t i = 0; i < DayHistory::kSpans; ++i) {
            const DaySpan span = booked.entry().details.day.Span(i, booked.tick);
            if (!span.Empty())
                spots.push_back({i, span.answers, span.misses, span.outagesBegun, 0});
            if (span.answers > 0)
                spots.back().worstUs = span.worstLevel;
        }
        ASSERT_EQ(spots.size(), row.spots.size());
        for (std::size_t i = 0; i < spots.size(); ++i) {
            const Spot& want = row.spots[i];
            EXPECT_EQ(spots[i].span, want.span);
            EXPECT_EQ(spots[i].answers, want.answers) << "span " << want.span;
            EXPECT_EQ(spots[i].misses, want.misses) << "span " << want.span;
            EXPECT_EQ(spots[i].outagesBegun, want.outagesBegun) << "span " << want.span;
            EXPECT_EQ(
                spots[i].worstUs, want.answers > 0 ? RoundTripScale::LevelOf(want.worstUs) : 0)
                << "span " << want.span;
        }
        EXPECT_EQ(DayInWords(booked.entry(), booked.tick), row.words);
    }
}

// The outage line, the tooltip's last line: outages since the load, each from
// a result without answer to the next answer, the longest by the tick count,
// the last one's times by the wall clock.
TEST(HostDetails, OutagesInWords)
{
    struct Row
    {
        const char* name;
        std::vector<Step> steps;
        std::uint32_t nowAfterMs;
        const char* line;
    };
    const Row rows[] = {
        {"none", {Answer(50), Answer(50)}, 0, "Outages: none"},
        // Load at 09:41:07: answers at :12, silent from :22 to :27, and from :37 on.
        {"one still running, the longest",
            {Answer(50), TimedOut(), Answer(50), TimedOut(), TimedOut(), TimedOut()}, 3000,
            "Outages: 2, longest 23 s, last 09:41:37\u2013now"},
        // Silent from 09:41:22 to :57, and from 09:42:12 to :17.
        {"several, the longest not the last",
            {Answer(50), TimedOut(), TimedOut(), TimedOut(), TimedOut(), Answer(50), Answer(50),
                TimedOut(), Answer(50), Answer(50)},
            0, "Outages: 2, longest 35 s, last 09:42:12\u201309:42:17"},
        {"silent from the load", {TimedOut(), TimedOut(), Answer(50)}, 0,
            "Outages: 1, longest 15 s, last 09:41:17\u201309:41:32"},
        {"never answered", Times(3, TimedOut()), 0, "No answer since the group was loaded"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Booked booked(1000, row.steps, row.nowAfterMs);
        const std::string text = HostDetailsText(booked.entry(), booked.tick, booked.wall);
        EXPECT_EQ(text.substr(text.rfind('\n') + 1), row.line);
    }
}

// The picture's scale keeps a switch's 0.05 ms and a far host's 500 ms apart
// from its ends, and holds everything beyond them at its ends.
TEST(HostDetails, ScaleOfThePicture)
{
    struct Row
    {
        std::uint32_t us;
        int level;
    };
    const Row rows[] = {{10, 0}, {50, 35}, {500'000, 235}, {1'000'000, 250}, {5'000'000, 250}};
    for (const Row& row : rows)
        EXPECT_EQ(RoundTripScale::LevelOf(row.us), row.level) << row.us << " us";
}

} // namespace
