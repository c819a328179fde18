#include "hosts/HostEntry.h"

#include <atomic>

namespace {
std::atomic<long> liveEntries {0};
}

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
