#pragma once

#include <cstdint>
#include <functional>

// A 32-bit millisecond counter from the monotonic clock, the time the machine
// was suspended included (CLOCK_BOOTTIME); it wraps after about 49.7 days, as
// the tick count that the program's timing rules were made for.
std::uint32_t GetTickCount();

// Code that decides by time takes its clock as a parameter, so tests can drive it.
using TickSource = std::function<std::uint32_t()>;

// How many milliseconds tick `now` came after tick `then`: the difference
// taken modulo 2^32, so that it stays right across the counter's wrap for
// anything less than 49.7 days apart.
constexpr std::uint32_t TicksSince(std::uint32_t now, std::uint32_t then)
{
    return static_cast<std::uint32_t>(now - then);
}
