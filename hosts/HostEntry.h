#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// One monitored host, owned by its row of the host list. Every field but
// `result` is written on the window thread only; `result` is atomic because
// the list is painted and sorted while probe results come in.
struct HostEntry
{
    std::int32_t order = 0; // position in the group's load order; never changes
    std::int32_t row = 0; // current row in the host list, renumbered after a sort
    std::int32_t lastDone = 0; // tick count when the last result was shown
    std::uint8_t busy = 0; // 1 while a probe worker runs for this host
    std::int32_t prevResult = -2; // result before the latest one
    std::uint32_t address = 0; // IPv4, network byte order
    std::atomic<std::int32_t> result {-2}; // ms; -1 no valid reply; -2 not yet probed
    std::string name; // dotted address, what is probed, shown and logged
    std::string description;
};

// Result values with a meaning of their own.
constexpr std::int32_t kResultNoReply = -1;
constexpr std::int32_t kResultNotProbed = -2;

// Host entries are created by the group load and freed all together; these
// keep count of the live ones, so that leaks and double frees show in tests.
HostEntry* NewHostEntry();
void FreeHostEntry(HostEntry* entry);
long LiveHostEntries();
