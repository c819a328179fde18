#pragma once

#include <cstdint>
#include <functional>
#include <vector>

struct HostEntry;

// A host is probed again this long after its previous result was shown.
constexpr std::uint32_t kProbeIntervalMs = 5000;
// New probes start only while no more than this many are counted as running.
constexpr std::int32_t kMaxProbesInFlight = 50;

// Orders the schedule: ascending lastDone (signed), then ascending row. Never
// answers 0: of two entries with equal lastDone and row the first counts as
// later.
int CompareByLastDone(const HostEntry* a, const HostEntry* b);

// Sorts a snapshot into the order that a bottom-up merge sort with
// CompareByLastDone gives, ties between equal entries included.
void SortByLastDone(std::vector<HostEntry*>& snapshot);

// Due when more than the interval has passed since lastDone, as TicksSince
// counts it: across the wrap of the 32-bit tick count too.
bool IsDue(std::uint32_t now, std::int32_t lastDone);

// One scheduler tick over a snapshot of the rows' entries: walks it in the
// order of SortByLastDone, reading the running count before each element and
// stopping when it exceeds the cap; skips busy entries and those not yet due
// (the clock is read anew for each), and starts the others.
struct ScheduleWalk
{
    std::function<std::int32_t()> probesInFlight;
    std::function<std::uint32_t()> now;
    std::function<void(HostEntry*)> start;
};
void RunScheduleTick(const std::vector<HostEntry*>& snapshot, const ScheduleWalk& walk);
