#include "probe/Scheduler.h"

#include "hosts/HostEntry.h"
#include "view/MergeSort.h"

int CompareByLastDone(const HostEntry* a, const HostEntry* b)
{
    if (a->lastDone < b->lastDone)
        return -1;
    if (a->lastDone > b->lastDone)
        return 1;
    return a->row >= b->row ? 1 : -1;
}

bool IsDue(std::uint32_t now, std::int32_t lastDone)
{
    return now - static_cast<std::uint32_t>(lastDone) > kProbeIntervalMs;
}

void RunScheduleTick(std::vector<HostEntry*>& snapshot, const ScheduleWalk& walk)
{
    MergeSort(
        snapshot, [](const HostEntry* a, const HostEntry* b) { return CompareByLastDone(a, b); });
    for (HostEntry* entry : snapshot) {
        if (walk.probesInFlight() > kMaxProbesInFlight)
            break;
        if (entry->busy)
            continue;
        if (!IsDue(walk.now(), entry->lastDone))
            continue;
        walk.start(entry);
    }
}
