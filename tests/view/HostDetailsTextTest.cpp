// A host's tooltip in words, without a window: the reasons in words, since
// when a state holds, the figures and the outages since the group was loaded,
// and the day in words.

#include "view/HostDetailsText.h"
#include "hosts/HostEntry.h"
#include "icmp/IcmpStatus.h"
#include "tests/support/HostResults.h"
#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kRouter = 0x020012c6; // 198.18.0.2
constexpr std::uint32_t kHost = 0x0d0012c6; // 198.18.0.13

TEST(HostDetailsText, OutcomesInWords)
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

TEST(HostDetailsText, FiguresSinceTheGroupWasLoaded)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    constexpr std::uint32_t kDay = 86'400'000;
    struct Row
    {
        const char* name;
        std::uint32_t startTick;
        std::vector<Step> steps;
        std::uint32_t nowAfterMs;
        const char* text;
    };
    const Row rows[] = {
        {"no answer yet", 1000, Times(3, TimedOut()), 5000,
            "Request timed out\n"
            "N/A since 09:41:17 (25 s)\n"
            "Probes sent: 3, answered: 0, loss: 100%\n"
            "No answer since the group was loaded"},
        {"answering again", 1000, {Answer(10000), Answer(20000), TimedOut(), Answer(30000, 5000)},
            2000,
            "Answered in 30.00 ms\n"
            "Answering since 09:41:32 (2 s)\n"
            "Probes sent: 4, answered: 3, loss: 25%\n"
            "Round trip min/avg/max/mdev 10.00/20.00/30.00/8.164 ms\n"
            "Last answer: 09:41:32\n"
            "Outages: 1, longest 5 s, last 09:41:27\u201309:41:32"},
        {"tenths of a percent cut", 1000,
            {Answer(1000), Answer(2000), {-1, 0, IP_DEST_HOST_UNREACHABLE, kRouter, 5000}}, 60000,
            "Destination host unreachable, reported by 198.18.0.2\n"
            "N/A since 09:41:22 (1 min)\n"
            "Probes sent: 3, answered: 2, loss: 33.3%\n"
            "Round trip min/avg/max/mdev 1.000/1.500/2.000/0.500 ms\n"
            "Last answer: 09:41:17\n"
            "Outages: 1, longest 1 min, last 09:41:22\u2013now"},
        {"round the ring", 1000, Times(5, TimedOut()) + Times(120, Answer(50)), 3000,
            "Answered in 0.050 ms\n"
            "Answering since 09:42:02 (9 min 58 s)\n"
            "Probes sent: 125, answered: 120, loss: 4%\n"
            "Round trip min/avg/max/mdev 0.050/0.050/0.050/0.000 ms\n"
            "Last answer: 09:51:57\n"
            "Outages: 1, longest 45 s, last 09:41:17\u201309:42:02"},
        {"for days, across the tick count's wrap", 0xFFFFFF00u,
            {Answer(5000, 1000), Answer(5000, 2 * kDay), Answer(5000, 2 * kDay)}, 4 * 3'600'000,
            "Answered in 5.000 ms\n"
            "Answering since 2024-05-01 09:41:08 (4 d 4 h)\n"
            "Probes sent: 3, answered: 3, loss: 0%\n"
            "Round trip min/avg/max/mdev 5.000/5.000/5.000/0.000 ms\n"
            "Last answer: 09:41:08\n"
            "Outages: none"},
        {"a new load starts afresh", 1000, {Answer(7000), Answer(9000), kReload, TimedOut()}, 0,
            "Request timed out\n"
            "N/A since 09:41:27 (0 s)\n"
            "Probes sent: 1, answered: 0, loss: 100%\n"
            "No answer since the group was loaded"},
        {"nothing since the new load", 1000, {Answer(7000), kReload}, 3000, "Not probed yet"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        BookedHost host(row.startTick);
        host.Book(row.steps);
        host.Wait(row.nowAfterMs);
        EXPECT_EQ(HostDetailsText(host.Entry(), host.Tick(), host.Wall()), row.text);
    }
}

// How long a state holds, to its two largest units, the second left out
// where it is nought.
TEST(HostDetailsText, DurationsInTheirTwoLargestUnits)
{
    const std::pair<std::uint64_t, const char*> rows[] = {
        {45'000, "45 s"},
        {250'000, "4 min 10 s"},
        {180'000, "3 min"},
        {3'599'000, "59 min 59 s"},
        {7'500'000, "2 h 5 min"},
        {273'600'000, "3 d 4 h"},
    };
    for (const auto& [ms, text] : rows)
        EXPECT_EQ(DurationText(ms), text) << ms << " ms";
}

// The outage line, the tooltip's last: outages since the load, each from a
// result without answer to the next answer, the longest by the tick count,
// the last one's times by the wall clock. Loaded at 09:41:07.
struct OutageRow
{
    const char* name;
    std::vector<Step> steps;
    std::uint32_t nowAfterMs;
    const char* line;
};

const OutageRow kOutageRows[] = {
    {"none", {Answer(50), Answer(50)}, 0, "Outages: none"},
    // Answers at :12, silent from :22 to :27, and from :37 on.
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

class OutageLine : public testing::TestWithParam<OutageRow>
{ };

TEST_P(OutageLine, EndsTheTooltip)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    const OutageRow& row = GetParam();
    BookedHost host(1000);
    host.Book(row.steps);
    host.Wait(row.nowAfterMs);
    const std::string text = HostDetailsText(host.Entry(), host.Tick(), host.Wall());
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), row.line);
}

INSTANTIATE_TEST_SUITE_P(Rows, OutageLine, testing::ValuesIn(kOutageRows), RowName());

// The day in words, from its spans: the outages that began in it, the share
// answered, cut, and the worst answer as the picture shows it, to two figures.
struct DayWordsRow
{
    const char* name;
    std::vector<Step> steps;
    std::uint32_t nowAfterMs;
    const char* words;
};

const DayWordsRow kDayWordsRows[] = {
    {"nothing yet", {}, 0, "Last 24 h: no results"},
    {"no answer", Times(3, TimedOut()), 0, "Last 24 h: no answer"},
    {"one outage, the share answered cut",
        Times(2498, Answer(12000)) + std::vector {TimedOut(), Answer(50)}, 0,
        "Last 24 h: 1 outage, 99.9 % answered, worst 12 ms"},
    {"several outages",
        {Answer(1200), Answer(3000), TimedOut(), Answer(2000), TimedOut(), Answer(50)}, 0,
        "Last 24 h: 2 outages, 66.6 % answered, worst 3 ms"},
    {"what left the day", {TimedOut(), Answer(50, DayHistory::kSpanMs * 145)}, 0,
        "Last 24 h: no outages, 100 % answered, worst 0.05 ms"},
    {"more outages than a span counts", Times(40, {Answer(50), TimedOut()}), 0,
        "Last 24 h: at least 31 outages, 50 % answered, worst 0.05 ms"},
};

class DayWords : public testing::TestWithParam<DayWordsRow>
{ };

TEST_P(DayWords, TellTheLast24Hours)
{
    const DayWordsRow& row = GetParam();
    BookedHost host(1000);
    host.Book(row.steps);
    host.Wait(row.nowAfterMs);
    EXPECT_EQ(DayInWords(host.Entry(), host.Tick()), row.words);
}

INSTANTIATE_TEST_SUITE_P(Rows, DayWords, testing::ValuesIn(kDayWordsRows), RowName());

// What assistive technology reads beyond the tooltip's words: the picture in
// words, and a host's change as it is announced.
struct SpokenRow
{
    const char* name;
    std::vector<Step> steps;
    std::uint32_t nowAfterMs;
    const char* recent; // the picture in words
    const char* change;
};

const SpokenRow kSpokenRows[] = {
    {"not probed yet", {}, 0, "", "198.18.0.13 N/A, not probed yet"},
    {"every result answered", Times(3, Answer(1204)), 1000,
        "Last 11 s: 3 of 3 answered, worst 1.2 ms", "198.18.0.13 answering, 1.204 ms"},
    {"some answered, the worst to two figures",
        {Answer(52), Answer(118000), TimedOut(), Answer(40)}, 0,
        "Last 20 s: 3 of 4 answered, worst 120 ms", "198.18.0.13 answering, 0.040 ms"},
    {"none answered", Times(2, TimedOut()), 5000, "Last 15 s: none of 2 answered",
        "198.18.0.13 N/A, request timed out"},
    {"a reason that starts with a short name keeps its capitals",
        {{-1, 0, IP_TTL_EXPIRED_TRANSIT, kRouter, 5000}}, 0, "Last 0 s: none of 1 answered",
        "198.18.0.13 N/A, TTL expired in transit, reported by 198.18.0.2"},
};

class SpokenWords : public testing::TestWithParam<SpokenRow>
{ };

TEST_P(SpokenWords, PictureAndChange)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    const SpokenRow& row = GetParam();
    BookedHost host(1000);
    host.Book(row.steps);
    host.Wait(row.nowAfterMs);
    const HostEntry& entry = host.Entry();
    EXPECT_EQ(RecentResultsText(entry.details.recent, host.Tick()), row.recent);
    EXPECT_EQ(HostChangeText(entry), row.change);
    // The description is the tooltip's words, then the pictures in words.
    const std::string details = HostDetailsText(entry, host.Tick(), host.Wall());
    EXPECT_EQ(HostAccessibleDescription(entry, host.Tick(), host.Wall()),
        *row.recent == '\0'
            ? details
            : details + "\n" + row.recent + "\n" + DayInWords(entry, host.Tick()));
}

INSTANTIATE_TEST_SUITE_P(Rows, SpokenWords, testing::ValuesIn(kSpokenRows), RowName());

} // namespace
