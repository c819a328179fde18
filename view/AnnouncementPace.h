#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How often changes of hosts are announced to assistive technology, so that a
// screen reader speaks each change that matters without a flood when many
// come within a moment (a switch goes down and its hosts time out one after
// another, a large group is loaded). Changes are gathered while they keep
// coming, until kGatherMs pass without one, or for kLongestMs at most; then
// everything gathered goes out as one announcement, as soon as kQuietMs have
// passed since the one before: up to kOneByOne changes in their own words,
// more as counts ("37 hosts N/A"). So at most one announcement goes out every
// kQuietMs. The clock is the caller's tick count.
class AnnouncementPace
{
public:
    static constexpr std::uint32_t kGatherMs = 500;
    static constexpr std::uint32_t kLongestMs = 10000;
    static constexpr std::uint32_t kQuietMs = 3000;
    static constexpr std::size_t kOneByOne = 3;

    // A host's change at `tick` to its new state. `words` tells it on its
    // own; it is asked for only while the change may still be told so.
    template<class Words>
    void Add(bool answering, std::uint32_t tick, Words&& words)
    {
        if (Gather(answering, tick))
            oneByOne_.push_back(words());
    }
    // The announcement due at `tick`, if one is: what was gathered, the
    // gathering then starting afresh.
    std::optional<std::string> Take(std::uint32_t tick);
    bool Gathering() const { return silent_ + answering_ > 0; }

private:
    // Counts the change; true when its own words are wanted.
    bool Gather(bool answering, std::uint32_t tick);

    std::uint32_t silent_ = 0;
    std::uint32_t answering_ = 0;
    std::vector<std::string> oneByOne_;
    std::uint32_t firstTick_ = 0; // of the first change gathered
    std::uint32_t lastTick_ = 0; // of the latest
    std::optional<std::uint32_t> lastTold_; // tick of the announcement before
};
