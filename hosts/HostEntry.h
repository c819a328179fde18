#pragma once

#include "hosts/HostDetails.h"
#include "hosts/ResultValue.h"

#include <cstdint>
#include <ctime>
#include <string>

struct ProbeOutcome;

// One monitored host, owned by its row of the host list. Every field is read
// and written on the window thread only: a probe worker gets a copy of the
// address when it starts and hands the entry back with its outcome, which the
// window thread books (BookResult).
struct HostEntry
{
    std::int32_t order = 0; // position in the group's load order; never changes
    std::int32_t row = 0; // current row in the host list, renumbered after a sort
    std::int32_t lastDone = 0; // tick count when the last result was shown
    std::uint8_t busy = 0; // 1 while a probe worker runs for this host
    std::int32_t prevResult = kResultNotProbed; // the result shown before the latest one
    std::uint32_t address = 0; // IPv4, network byte order
    std::int32_t result = kResultNotProbed; // the latest result value
    std::string name; // dotted address, what is probed, shown and logged
    std::string description;
    // For the tooltip; last, so that the fields every tick reads stay together.
    HostDetails details;
};

// A probe's outcome in its host's own records: the result value, its reason
// and round trip, the state, figures and outages of the details, the ring of
// latest results and the day's spans. The one place where a result changes
// them; `tick` is the tick count and `wall` the wall clock as the result is
// handled. Constant time, no allocation: it runs for every result.
// prevResult, lastDone and busy are the window's: it sets them once it has
// shown and logged the new result. Returns whether the host's state changed,
// from answering to not or back, or took its first state with its first
// result: the change a user is told of.
bool BookResult(
    HostEntry& entry, const ProbeOutcome& outcome, std::uint32_t tick, std::time_t wall);

// Host entries are created by the group load and freed all together; these
// keep count of the live ones, so that leaks and double frees show in tests.
HostEntry* NewHostEntry();
void FreeHostEntry(HostEntry* entry);
long LiveHostEntries();
