#pragma once

#include <cstdint>
#include <functional>

// A 32-bit millisecond counter from the monotonic clock; it wraps after about
// 49.7 days, as the tick count that the program's timing rules were made for.
std::uint32_t GetTickCount();

// Code that decides by time takes its clock as a parameter, so tests can drive it.
using TickSource = std::function<std::uint32_t()>;
