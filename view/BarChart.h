#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// One bar of a picture in a host's tooltip: the level of its slowest answer
// on the round-trip scale, if it had one, and the share of its probes without
// answer. A bar with neither stays empty.
struct Bar
{
    std::optional<std::uint8_t> level;
    double missShare = 0;
};

// Where the bars of a picture go, in pixels: `count` places side by side from
// `left`, the oldest first, on the round-trip scale (RoundTripScale) from its
// bottom line up to `top`. Both pictures, the ten minutes' results and the
// day's spans, are laid out by it, on one height, so that a level stands as
// high in both.
struct BarChart
{
    static constexpr int kBarWidth = 2;
    static constexpr int kBarPitch = 3; // one pixel between bars
    static constexpr int kHeight = 48;
    static constexpr int kLeast = 2; // the least a bar's part shows, however small

    double left = 0;
    double top = 0;
    std::size_t count = 0;

    double Width() const { return static_cast<double>(count) * kBarPitch; }
    double Bottom() const { return top + kHeight; }
    // The left edge of place i.
    double BarLeft(std::size_t i) const { return left + static_cast<double>(i) * kBarPitch; }
    // The middle of the gap before place i, where a mark between two bars goes.
    double Between(std::size_t i) const { return BarLeft(i) - (kBarPitch - kBarWidth) / 2.0; }
    // Where a level stands.
    double LevelY(double level) const;
    // The top of a bar's answers, up to its slowest, and of its part without
    // answer, drawn from the bottom: as high as its share is of the whole
    // height, a bar without any answer reaching the top.
    double AnswerTop(std::uint8_t level) const;
    double MissTop(double share) const;
};
