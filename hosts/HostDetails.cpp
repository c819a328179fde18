#include "hosts/HostDetails.h"

#include "tick/TickCount.h"

void NoteResult(HostDetails& details, std::int32_t result, std::uint32_t tick, std::time_t wall)
{
    const bool answered = result >= 0;
    if (details.probes == 0 || answered != details.answering) {
        details.answering = answered;
        details.stateSince = wall;
        details.stateAgeMs = 0;
    } else {
        details.stateAgeMs += TicksSince(tick, details.lastTick);
    }
    details.lastTick = tick;
    ++details.probes;
    if (!answered) {
        details.recent.Add(std::nullopt, tick);
        return;
    }
    const std::uint32_t us = details.roundTripUs;
    details.recent.Add(us, tick);
    if (details.answers == 0 || us < details.minUs)
        details.minUs = us;
    if (details.answers == 0 || us > details.maxUs)
        details.maxUs = us;
    ++details.answers;
    details.sumUs += us;
    details.sumSquaresUs += static_cast<double>(us) * us;
    details.lastAnswer = wall;
}
