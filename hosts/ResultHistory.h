#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// A host's latest results, for the picture of them in its tooltip: a fixed
// ring that takes a result in constant time and never allocates, so that it
// can sit in every host entry (368 bytes). It keeps what the picture shows: a
// round trip as its level on a logarithmic scale, one byte, and the whole
// seconds since the result before, so that the picture can say how long ago
// its oldest result came. After a pause of more than 18 hours between two
// results it starts afresh.
class ResultHistory
{
public:
    // Ten minutes at one result every 5 s.
    static constexpr std::size_t kCapacity = 120;
    // The scale: a switch's 0.05 ms and a far host's 500 ms both show.
    static constexpr std::uint32_t kBottomUs = 10;
    static constexpr std::uint32_t kTopUs = 1'000'000;
    static constexpr std::uint8_t kTopLevel = 250;

    // A round trip's level: 0 at kBottomUs and below, kTopLevel at kTopUs and
    // above, logarithmic in between.
    static std::uint8_t LevelOf(std::uint32_t us);
    // The round trip a level stands for, in microseconds: what LevelOf gives
    // that level for, to within 2.4 %.
    static std::uint32_t UsOf(std::uint8_t level);

    // A result handled at `tick`: an answer's round trip in microseconds, or
    // nothing for a probe without one. The oldest makes room once the ring is
    // full.
    void Add(std::optional<std::uint32_t> roundTripUs, std::uint32_t tick);
    std::size_t Size() const { return size_; }
    // The i-th result kept, oldest first (i < Size()): its level, or nothing
    // for a probe without answer.
    std::optional<std::uint8_t> Level(std::size_t i) const;
    // How long before `tick` the oldest result kept came, to the second.
    std::uint64_t OldestAgeMs(std::uint32_t tick) const;

private:
    std::size_t Slot(std::size_t i) const;

    std::array<std::uint8_t, kCapacity> levels_ {};
    std::array<std::uint16_t, kCapacity> gaps_ {}; // whole seconds since the result before
    std::uint32_t lastTick_ = 0;
    std::uint16_t carryMs_ = 0; // what the whole seconds left out, carried on
    std::uint8_t next_ = 0; // the slot the next result takes
    std::uint8_t size_ = 0;
};

static_assert(sizeof(ResultHistory) <= 368, "ten thousand hosts' rings stay within 3.6 MiB");
