#pragma once

#include "hosts/HostDetails.h"
#include "hosts/ResultValue.h"

#include <cstdint>
#include <string>

// One monitored host, owned by its row of the host list. Every field is read
// and written on the window thread only: a probe worker gets a copy of the
// address when it starts and hands the entry back with its result, which the
// window thread stores.
struct HostEntry
{
    std::int32_t order = 0; // position in the group's load order; never changes
    std::int32_t row = 0; // current row in the host list, renumbered after a sort
    std::int32_t lastDone = 0; // tick count when the last result was shown
    std::uint8_t busy = 0; // 1 while a probe worker runs for this host
    std::int32_t prevResult = kResultNotProbed; // result before the latest one
    std::uint32_t address = 0; // IPv4, network byte order
    std::int32_t result = kResultNotProbed; // the latest result value
    std::string name; // dotted address, what is probed, shown and logged
    std::string description;
    // For the tooltip; last, so that the fields every tick reads stay together.
    HostDetails details;
};

// Host entries are created by the group load and freed all together; these
// keep count of the live ones, so that leaks and double frees show in tests.
HostEntry* NewHostEntry();
void FreeHostEntry(HostEntry* entry);
long LiveHostEntries();
