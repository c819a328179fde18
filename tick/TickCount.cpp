#include "tick/TickCount.h"

#include <ctime>

std::uint32_t GetTickCount()
{
    // The monotonic clock that also counts the time the machine was
    // suspended, as a count since the system started does: a host's day then
    // shows the hours it slept as spans without a probe, the ages of a
    // host's state and latest results stay true across a suspend, and every
    // host is due again as soon as the machine wakes. Setting the wall clock
    // moves it no more than the plain monotonic clock.
    timespec ts {};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u
        + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}
