#pragma once

#include "hosts/DayHistory.h"
#include "hosts/ResultHistory.h"

#include <cstdint>
#include <ctime>

// What a host's tooltip tells beyond its row: why its latest probe ended as it
// did and its exact round trip, since when it has answered (or not), how it
// has fared since its group was loaded, its outages, its latest results and
// its last 24 hours. It lives in the host entry, which every group load makes
// anew, so everything starts afresh with each load; each result is booked
// into it by BookResult (HostEntry.h). Window thread only, as the entry.
struct HostDetails
{
    // The latest outcome as the probe's worker handed it back.
    std::uint32_t status = 0; // IcmpStatus; IP_SUCCESS for an answer
    std::uint32_t source = 0; // who sent the answer that failed it (network order), or 0
    std::uint32_t roundTripUs = 0; // an answer's round trip; the row shows it in whole ms

    // The current state, answering or not, and when it began. Its age is
    // summed up at every result, so that it outlasts the tick count's wrap.
    bool answering = false;
    std::time_t stateSince = 0; // wall clock
    std::uint64_t stateAgeMs = 0; // the state's age at the latest result
    std::uint32_t lastTick = 0; // tick count of the latest result

    // Outages since the group was loaded, each from a result without answer
    // after an answer (or first after the load) to the next answer, as Log
    // by status logs them. One still running is the current state; the last
    // that ended, ended as the current state began (stateSince).
    std::uint32_t outages = 0;
    std::uint32_t longestOutageS = 0; // of those that ended, by the tick count
    std::int32_t lastOutageWallS = 0; // the last that ended: from its start to its end, wall clock

    // Since the group was loaded; round trips in microseconds. The squares'
    // sum is a double: whole microseconds squared would overflow 64 bits
    // after some months of slow answers.
    std::uint32_t probes = 0;
    std::uint32_t answers = 0;
    std::uint32_t minUs = 0;
    std::uint32_t maxUs = 0;
    std::uint64_t sumUs = 0;
    double sumSquaresUs = 0;
    std::time_t lastAnswer = 0; // wall clock

    ResultHistory recent;
    DayHistory day;
};
