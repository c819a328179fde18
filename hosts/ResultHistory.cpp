#include "hosts/ResultHistory.h"

#include "tick/TickCount.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr std::uint8_t kNoAnswer = 0xFF;
// The scale in decades: where it starts and how many it spans.
const double kBottomDecade = std::log10(ResultHistory::kBottomUs);
const double kDecades = std::log10(ResultHistory::kTopUs) - kBottomDecade;
} // namespace

std::uint8_t ResultHistory::LevelOf(std::uint32_t us)
{
    if (us <= kBottomUs)
        return 0;
    if (us >= kTopUs)
        return kTopLevel;
    return static_cast<std::uint8_t>(
        std::lround((std::log10(us) - kBottomDecade) / kDecades * kTopLevel));
}

std::uint32_t ResultHistory::UsOf(std::uint8_t level)
{
    const double decade = kBottomDecade + std::min<double>(level, kTopLevel) / kTopLevel * kDecades;
    return static_cast<std::uint32_t>(std::lround(std::pow(10.0, decade)));
}

void ResultHistory::Add(std::optional<std::uint32_t> roundTripUs, std::uint32_t tick)
{
    // The milliseconds that whole seconds leave out go on to the next gap, so
    // that the gaps add up to the true time.
    std::uint64_t sincePrevious
        = size_ == 0 ? 0 : std::uint64_t {TicksSince(tick, lastTick_)} + carryMs_;
    // After a longer pause than a gap can hold, nobody could tell how long
    // ago the results before it came: the ring starts afresh.
    if (sincePrevious / 1000 > 0xFFFF) {
        size_ = 0;
        sincePrevious = 0;
    }
    gaps_[next_] = static_cast<std::uint16_t>(sincePrevious / 1000);
    carryMs_ = static_cast<std::uint16_t>(sincePrevious % 1000);
    levels_[next_] = roundTripUs ? LevelOf(*roundTripUs) : kNoAnswer;
    lastTick_ = tick;
    next_ = static_cast<std::uint8_t>((next_ + 1) % kCapacity);
    if (size_ < kCapacity)
        ++size_;
}

std::size_t ResultHistory::Slot(std::size_t i) const
{
    return (next_ + kCapacity - size_ + i) % kCapacity;
}

std::optional<std::uint8_t> ResultHistory::Level(std::size_t i) const
{
    const std::uint8_t level = levels_[Slot(i)];
    if (level == kNoAnswer)
        return std::nullopt;
    return level;
}

std::uint64_t ResultHistory::OldestAgeMs(std::uint32_t tick) const
{
    if (size_ == 0)
        return 0;
    // What the gaps left out since the oldest came is carried in carryMs_,
    // less what was carried when it came, which is not kept: it is exact when
    // the oldest is the first result, and never more than a second off.
    std::uint64_t ms = std::uint64_t {TicksSince(tick, lastTick_)} + carryMs_;
    // The oldest result's own gap leads to a result no longer kept.
    for (std::size_t i = 1; i < size_; ++i)
        ms += std::uint64_t {gaps_[Slot(i)]} * 1000;
    return ms;
}
