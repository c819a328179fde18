#include "hosts/HostEntry.h"

#include "icmp/IcmpProbe.h"
#include "tick/TickCount.h"

#include <algorithm>
#include <atomic>
#include <optional>

namespace {
std::atomic<long> liveEntries {0};

// An answer's round trip in the figures since the group was loaded.
void AddAnswer(HostDetails& d, std::uint32_t us, std::time_t wall)
{
    if (d.answers == 0 || us < d.minUs)
        d.minUs = us;
    if (d.answers == 0 || us > d.maxUs)
        d.maxUs = us;
    ++d.answers;
    d.sumUs += us;
    d.sumSquaresUs += static_cast<double>(us) * us;
    d.lastAnswer = wall;
}

// The outage that the current state, not answering, has been ends with an
// answer at `tick`.
void EndOutage(HostDetails& d, std::uint32_t tick, std::time_t wall)
{
    const std::uint64_t ms = d.stateAgeMs + TicksSince(tick, d.lastTick);
    d.longestOutageS = std::max(d.longestOutageS, static_cast<std::uint32_t>(ms / 1000));
    d.lastOutageWallS = static_cast<std::int32_t>(wall - d.stateSince);
}

} // namespace

HostEntry* NewHostEntry()
{
    liveEntries.fetch_add(1, std::memory_order_relaxed);
    return new HostEntry;
}

void FreeHostEntry(HostEntry* entry)
{
    if (entry == nullptr)
        return;
    delete entry;
    liveEntries.fetch_sub(1, std::memory_order_relaxed);
}

long LiveHostEntries()
{
    return liveEntries.load(std::memory_order_relaxed);
}

bool BookResult(HostEntry& entry, const ProbeOutcome& outcome, std::uint32_t tick, std::time_t wall)
{
    HostDetails& d = entry.details;
    // The host before this result (firstResult, answeredBefore) and after it
    // (answersNow). The records change in this order: first the state and its
    // age, and an outage that ends or begins with it, which are judged
    // against what the result before left (probes, answering, lastTick) and
    // so come before anything overwrites that; then the latest outcome, the
    // result value that the row, its colour and the logging rule read; last
    // the figures since the load, the ring and the day, taken from the
    // outcome itself rather than from the records.
    const bool firstResult = d.probes == 0;
    const bool answeredBefore = d.answering;
    const bool answersNow = outcome.Answered();
    const bool outageBegins = !answersNow && (firstResult || answeredBefore);

    const bool changed = firstResult || answersNow != answeredBefore;
    if (changed) {
        if (answersNow && !firstResult)
            EndOutage(d, tick, wall);
        if (outageBegins)
            ++d.outages;
        d.answering = answersNow;
        d.stateSince = wall;
        d.stateAgeMs = 0;
    } else {
        // Summed up at every result, so that the age outlasts the tick count's wrap.
        d.stateAgeMs += TicksSince(tick, d.lastTick);
    }
    d.lastTick = tick;

    entry.result
        = answersNow ? static_cast<std::int32_t>(outcome.reply.roundTripTime) : kResultNoReply;
    d.status = outcome.status;
    d.source = outcome.source;
    d.roundTripUs = outcome.reply.roundTripUs;

    ++d.probes;
    if (answersNow)
        AddAnswer(d, outcome.reply.roundTripUs, wall);
    const std::optional<std::uint32_t> roundTripUs
        = answersNow ? std::optional(outcome.reply.roundTripUs) : std::nullopt;
    d.recent.Add(roundTripUs, tick);
    d.day.Add(roundTripUs, outageBegins, tick);
    return changed;
}
