// A host's tooltip text from its results, without a window: the reasons in
// words, since when a state holds, and the figures since the group was loaded.

#include "hosts/HostDetails.h"
#include "hosts/GroupFile.h"
#include "hosts/GroupLoad.h"
#include "hosts/HostEntry.h"
#include "hosts/HostTable.h"
#include "probe/IcmpStatus.h"

#include <gtest/gtest.h>

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
        std::uint32_t status;
        std::uint32_t source;
        const char* text;
    };
    const Row rows[] = {
        {-2, IP_SUCCESS, 0, "Not probed yet"},
        {12, IP_SUCCESS, 0, "Answered in 12 ms"},
        {-1, IP_REQ_TIMED_OUT, 0, "Request timed out"},
        {-1, IP_DEST_HOST_UNREACHABLE, kRouter,
            "Destination host unreachable, reported by 198.18.0.2"},
        {-1, IP_DEST_NET_UNREACHABLE, kRouter,
            "Destination net unreachable, reported by 198.18.0.2"},
        {-1, IP_DEST_PORT_UNREACHABLE, kHost,
            "Destination port unreachable, reported by 198.18.0.13"},
        {-1, IP_TTL_EXPIRED_TRANSIT, kRouter, "TTL expired in transit, reported by 198.18.0.2"},
        {-1, IP_PACKET_TOO_BIG, kRouter, "Packet too big, reported by 198.18.0.2"},
        // The damaged reply's sender is the host itself: not named.
        {-1, ERROR_UNEXP_NET_ERR, kHost, "Reply did not match the request"},
        // Without an ICMP error behind them, the own stack refused to send.
        {-1, IP_DEST_NET_UNREACHABLE, 0, "Could not send: no route to the network"},
        {-1, IP_DEST_HOST_UNREACHABLE, 0, "Could not send: no route to the host"},
        {-1, IP_PACKET_TOO_BIG, 0, "Could not send: the packet is too big"},
        {-1, ERROR_ACCESS_DENIED, 0, "Could not send: no permission"},
        {-1, ERROR_MOD_NOT_FOUND, 0, "Could not send: no permission to open an ICMP socket"},
        {-1, IP_GENERAL_FAILURE, 0, "General failure"},
        {-1, 4242, 0, "Failed with status 4242"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ProbeOutcomeText(row.result, row.status, row.source), row.text);
    }
}

// A result as the window thread books it, some time after the one before;
// a step with kLoad loads the group again instead.
struct Step
{
    std::int32_t result;
    std::uint32_t status;
    std::uint32_t source;
    std::uint32_t afterMs;
};
constexpr std::int32_t kLoad = std::numeric_limits<std::int32_t>::min();
constexpr Step Answer(std::int32_t ms, std::uint32_t afterMs = 5000)
{
    return {ms, IP_SUCCESS, 0, afterMs};
}
constexpr Step TimedOut(std::uint32_t afterMs = 5000)
{
    return {-1, IP_REQ_TIMED_OUT, 0, afterMs};
}
constexpr Step kReload {kLoad, 0, 0, 0};

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

TEST(HostDetails, FiguresSinceTheGroupWasLoaded)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    constexpr std::time_t kStart = 1714556467; // 2024-05-01 09:41:07 UTC
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
        {"no answer yet", 1000, {TimedOut(10000), TimedOut(10000), TimedOut(10000)}, 5000,
            "Request timed out\n"
            "N/A since 09:41:17 (25 s)\n"
            "Probes sent: 3, answered: 0, loss: 100%\n"
            "No answer since the group was loaded"},
        {"answering again", 1000, {Answer(10), Answer(20), TimedOut(10000), Answer(30)}, 2000,
            "Answered in 30 ms\n"
            "Answering since 09:41:32 (2 s)\n"
            "Probes sent: 4, answered: 3, loss: 25%\n"
            "Round trip min/avg/max/mdev: 10/20/30/8.2 ms\n"
            "Last answer: 09:41:32"},
        {"tenths cut", 1000, {Answer(1), Answer(2), {-1, IP_DEST_HOST_UNREACHABLE, kRouter, 5000}},
            60000,
            "Destination host unreachable, reported by 198.18.0.2\n"
            "N/A since 09:41:22 (1 min)\n"
            "Probes sent: 3, answered: 2, loss: 33.3%\n"
            "Round trip min/avg/max/mdev: 1/1.5/2/0.5 ms\n"
            "Last answer: 09:41:17"},
        {"for days, across the tick count's wrap", 0xFFFFFF00u,
            {Answer(5, 1000), Answer(5, 2 * kDay), Answer(5, 2 * kDay)}, 4 * 3'600'000,
            "Answered in 5 ms\n"
            "Answering since 2024-05-01 09:41:08 (4 d 4 h)\n"
            "Probes sent: 3, answered: 3, loss: 0%\n"
            "Round trip min/avg/max/mdev: 5/5/5/0 ms\n"
            "Last answer: 09:41:08"},
        {"a new load starts afresh", 1000, {Answer(7), Answer(9), kReload, TimedOut()}, 0,
            "Request timed out\n"
            "N/A since 09:41:22 (0 s)\n"
            "Probes sent: 1, answered: 0, loss: 100%\n"
            "No answer since the group was loaded"},
        {"nothing since the new load", 1000, {Answer(7), kReload}, 3000, "Not probed yet"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OneRow hostRows;
        HostTable table;
        std::uint32_t tick = row.startTick;
        std::time_t wall = kStart;
        Load(hostRows, table, tick);
        for (const Step& step : row.steps) {
            tick += step.afterMs;
            wall += step.afterMs / 1000;
            if (step.result == kLoad) {
                Load(hostRows, table, tick);
                continue;
            }
            HostEntry& entry = *hostRows.entries.at(0);
            entry.result = step.result;
            entry.details.status = step.status;
            entry.details.source = step.source;
            NoteResult(entry.details, step.result, tick, wall);
        }
        tick += row.nowAfterMs;
        wall += row.nowAfterMs / 1000;
        EXPECT_EQ(HostDetailsText(*hostRows.entries.at(0), tick, wall), row.text);
    }
}

} // namespace
