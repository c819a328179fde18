#include "view/AnnouncementPace.h"

#include "tick/TickCount.h"
#include "view/HostDetailsText.h"

bool AnnouncementPace::Gather(bool answering, std::uint32_t tick)
{
    if (!Gathering())
        firstTick_ = tick;
    lastTick_ = tick;
    ++(answering ? answering_ : silent_);
    // Words beyond the one-by-one limit would never be told.
    if (silent_ + answering_ > kOneByOne) {
        oneByOne_.clear();
        return false;
    }
    return true;
}

std::optional<std::string> AnnouncementPace::Take(std::uint32_t tick)
{
    if (!Gathering())
        return std::nullopt;
    const bool paused = TicksSince(tick, lastTick_) >= kGatherMs;
    const bool longEnough = TicksSince(tick, firstTick_) >= kLongestMs;
    if ((!paused && !longEnough) || (lastTold_ && TicksSince(tick, *lastTold_) < kQuietMs))
        return std::nullopt;
    std::string text;
    if (oneByOne_.empty()) {
        text = HostsChangedText(silent_, answering_);
    } else {
        // One announcement, so that a reader that fetches its words a moment
        // later still finds them all.
        for (const std::string& words : oneByOne_)
            text += (text.empty() ? "" : ". ") + words;
    }
    silent_ = answering_ = 0;
    oneByOne_.clear();
    lastTold_ = tick;
    return text;
}
