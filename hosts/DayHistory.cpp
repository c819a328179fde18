#include "hosts/DayHistory.h"

#include "hosts/RoundTripScale.h"
#include "tick/TickCount.h"

#include <algorithm>

// A field lies within two bytes of the cells: it is at most 8 bits wide and
// starts within a byte.
unsigned DayHistory::Get(std::size_t slot, Field field) const
{
    const std::size_t bit = slot * kCellBits + field.offset;
    const std::size_t byte = bit / 8;
    unsigned word = cells_[byte];
    if (byte + 1 < kBytes)
        word |= unsigned {cells_[byte + 1]} << 8;
    return (word >> (bit % 8)) & ((1u << field.width) - 1);
}

void DayHistory::Set(std::size_t slot, Field field, unsigned value)
{
    const std::size_t bit = slot * kCellBits + field.offset;
    const std::size_t byte = bit / 8;
    const unsigned mask = ((1u << field.width) - 1) << (bit % 8);
    const unsigned bits = (value << (bit % 8)) & mask;
    cells_[byte] = static_cast<std::uint8_t>((cells_[byte] & ~mask) | bits);
    if (byte + 1 < kBytes)
        cells_[byte + 1]
            = static_cast<std::uint8_t>((cells_[byte + 1] & ~(mask >> 8)) | (bits >> 8));
}

// Counts stop at their field's limit.
void DayHistory::Bump(std::size_t slot, Field field)
{
    static_assert(kMostOutagesBegun == (1u << kOutagesBegun.width) - 1);
    const unsigned value = Get(slot, field);
    if (value < (1u << field.width) - 1)
        Set(slot, field, value + 1);
}

void DayHistory::Advance(std::uint64_t ms)
{
    // The spans begun since the latest result start empty; after a day or
    // more, every span does.
    const std::uint64_t begun = std::min<std::uint64_t>(ms / kSpanMs, kSpans);
    for (std::uint64_t i = 0; i < begun; ++i) {
        head_ = static_cast<std::uint8_t>((head_ + 1) % kSpans);
        for (const Field field : {kAnswers, kMisses, kOutagesBegun, kWorstLevel})
            Set(head_, field, 0);
    }
    intoSpanMs_ = static_cast<std::uint32_t>(ms % kSpanMs);
}

void DayHistory::Add(
    std::optional<std::uint32_t> roundTripUs, bool outageBegins, std::uint32_t tick)
{
    if (started_)
        Advance(std::uint64_t {intoSpanMs_} + TicksSince(tick, lastTick_));
    started_ = true;
    lastTick_ = tick;
    if (roundTripUs) {
        const std::uint8_t level = RoundTripScale::LevelOf(*roundTripUs);
        if (Get(head_, kAnswers) == 0 || level > Get(head_, kWorstLevel))
            Set(head_, kWorstLevel, level);
        Bump(head_, kAnswers);
    } else {
        Bump(head_, kMisses);
    }
    if (outageBegins)
        Bump(head_, kOutagesBegun);
}

DaySpan DayHistory::Span(std::size_t i, std::uint32_t tick) const
{
    if (!started_)
        return {};
    // How many spans before the one `tick` falls in this one is, and how many
    // have begun since the latest result's.
    const std::uint64_t back = kSpans - 1 - i;
    const std::uint64_t begun
        = (std::uint64_t {intoSpanMs_} + TicksSince(tick, lastTick_)) / kSpanMs;
    if (back < begun || back - begun >= kSpans)
        return {};
    const std::size_t slot = (head_ + kSpans - (back - begun)) % kSpans;
    DaySpan span;
    span.answers = static_cast<std::uint8_t>(Get(slot, kAnswers));
    span.misses = static_cast<std::uint8_t>(Get(slot, kMisses));
    span.outagesBegun = static_cast<std::uint8_t>(Get(slot, kOutagesBegun));
    span.worstLevel = static_cast<std::uint8_t>(Get(slot, kWorstLevel));
    return span;
}
