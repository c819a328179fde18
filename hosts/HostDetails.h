#pragma once

#include <cstdint>
#include <ctime>
#include <string>

struct HostEntry;

// What a host's tooltip tells beyond its row: why its latest probe ended as it
// did, since when it has answered (or not), and how it has fared since its
// group was loaded. It lives in the host entry, which every group load makes
// anew, so the figures start afresh with each load. Window thread only, as
// the entry.
struct HostDetails
{
    // The latest result's reason, as the probe's worker handed it back.
    std::uint32_t status = 0; // IcmpStatus; IP_SUCCESS for an answer
    std::uint32_t source = 0; // who sent the answer that failed it (network order), or 0

    // The current state, answering or not, and when it began. Its age is
    // summed up at every result, so that it outlasts the tick count's wrap.
    bool answering = false;
    std::time_t stateSince = 0; // wall clock
    std::uint64_t stateAgeMs = 0; // the state's age at the latest result
    std::uint32_t lastTick = 0; // tick count of the latest result

    // Since the group was loaded. Round trips in whole milliseconds, as shown.
    std::uint32_t probes = 0;
    std::uint32_t answers = 0;
    std::uint32_t minRtt = 0;
    std::uint32_t maxRtt = 0;
    std::uint64_t sumRtt = 0;
    std::uint64_t sumRttSquares = 0;
    std::time_t lastAnswer = 0; // wall clock
};

// Books one result into the details: `result` is the entry's new result value
// (a time or kResultNoReply), `tick` the tick count and `wall` the wall clock
// as it is handled. Constant time, no allocation: it runs for every result.
void NoteResult(HostDetails& details, std::int32_t result, std::uint32_t tick, std::time_t wall);

// The latest outcome in words: "Answered in 12 ms", "Request timed out",
// "Destination host unreachable, reported by 198.18.0.2", "Could not send: no
// route to the network", ... A status that an ICMP error can stand for but
// that has no source came from this machine's own stack, before sending.
std::string ProbeOutcomeText(std::int32_t result, std::uint32_t status, std::uint32_t source);

// A host's tooltip, one line each: the latest outcome; since when its state
// holds, as local time and how long ago; probes sent and answered, loss, round
// trips and the time of the last answer since the group was loaded. `tick`
// and `wall` are now. ASCII only.
std::string HostDetailsText(const HostEntry& entry, std::uint32_t tick, std::time_t wall);

// The tooltip's line with the whole description, for a list that shows it cut
// short; in the locale's encoding, as the description.
std::string DescriptionLine(const HostEntry& entry);
