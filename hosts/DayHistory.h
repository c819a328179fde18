#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// One span of a host's day: how many of its probes were answered and how
// many not, how many outages began in it, and its slowest answer.
struct DaySpan
{
    std::uint8_t answers = 0;
    std::uint8_t misses = 0;
    std::uint8_t outagesBegun = 0; // at most DayHistory::kMostOutagesBegun
    std::uint8_t worstLevel = 0; // on RoundTripScale; only when answers > 0

    bool Empty() const { return answers == 0 && misses == 0; }
};

// A host's last 24 hours, for the second picture in its tooltip and its day
// in words: 144 spans of ten minutes, the first begun by the host's first
// result. A fixed ring of spans packed into 27 bits each, so that it can sit
// in every host entry beside the ten minutes' ring: it takes a result in
// constant time and never allocates. Spans go by the tick count, summed from
// one result to the next so that a day outlasts the counter's wrap and a
// change of the wall clock does not shift them. A span without a result stays
// empty.
class DayHistory
{
public:
    static constexpr std::size_t kSpans = 144;
    static constexpr std::uint32_t kSpanMs = 600'000;
    // Ten minutes hold at most 121 results at one every 5 s, so the answers
    // and misses (up to 127 each) are always told exactly. An outage can
    // begin at every other result, more often than this count holds: a span
    // at it may have had more.
    static constexpr std::uint8_t kMostOutagesBegun = 31;

    // A result handled at `tick`: an answer's round trip in microseconds, or
    // nothing for a probe without one; `outageBegins` when it is the first
    // without answer since the host last answered, or since the load.
    void Add(std::optional<std::uint32_t> roundTripUs, bool outageBegins, std::uint32_t tick);
    // The i-th span of the day as it stands at `tick`, oldest first
    // (i < kSpans): the last is the one `tick` falls in.
    DaySpan Span(std::size_t i, std::uint32_t tick) const;

private:
    struct Field
    {
        unsigned offset;
        unsigned width;
    };
    static constexpr Field kAnswers {0, 7};
    static constexpr Field kMisses {7, 7};
    static constexpr Field kOutagesBegun {14, 5};
    static constexpr Field kWorstLevel {19, 8};
    static constexpr unsigned kCellBits = 27;
    static constexpr std::size_t kBytes = (kSpans * kCellBits + 7) / 8;

    unsigned Get(std::size_t slot, Field field) const;
    void Set(std::size_t slot, Field field, unsigned value);
    void Bump(std::size_t slot, Field field);
    void Advance(std::uint64_t ms);

    std::uint32_t lastTick_ = 0;
    std::uint32_t intoSpanMs_ = 0; // how far into its span the latest result came
    std::array<std::uint8_t, kBytes> cells_ {};
    std::uint8_t head_ = 0; // the slot of the latest result's span
    bool started_ = false;
};

static_assert(sizeof(DayHistory) <= 496, "ten thousand hosts' days stay within 4.8 MiB");
