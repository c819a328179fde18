#pragma once

#include <cstdint>

// The logarithmic scale on which a host's tooltip draws round trips, the ten
// minutes' results and the day's spans alike: a switch's 0.05 ms and a far
// host's 500 ms both show. A round trip is kept as its level on it, one byte.
namespace RoundTripScale {

inline constexpr std::uint32_t kBottomUs = 10;
inline constexpr std::uint32_t kTopUs = 1'000'000;
inline constexpr std::uint8_t kTopLevel = 250;
inline constexpr int kDecades = 5;

// A round trip's level: 0 at kBottomUs and below, kTopLevel at kTopUs and
// above, logarithmic in between.
std::uint8_t LevelOf(std::uint32_t us);

// The round trip a level stands for, the middle of those that take it.
std::uint32_t UsOf(std::uint8_t level);

} // namespace RoundTripScale
