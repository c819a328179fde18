#include "tests/support/HostResults.h"

#include "hosts/GroupFile.h"
#include "hosts/HostEntry.h"
#include "icmp/IcmpProbe.h"

#include <algorithm>
#include <cstdio>
#include <string>

Step Answer(std::uint32_t us, std::uint32_t afterMs)
{
    return {static_cast<std::int32_t>(us / 1000), us, IP_SUCCESS, 0, afterMs};
}

Step TimedOut(std::uint32_t afterMs)
{
    return {-1, 0, IP_REQ_TIMED_OUT, 0, afterMs};
}

const Step kReload {kLoad, 0, 0, 0, 0};

std::vector<Step> Times(int count, Step step)
{
    return std::vector<Step>(static_cast<std::size_t>(count), step);
}

std::vector<Step> Times(int count, const std::vector<Step>& steps)
{
    std::vector<Step> all;
    for (int i = 0; i < count; ++i)
        all.insert(all.end(), steps.begin(), steps.end());
    return all;
}

std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

BookedHost::BookedHost(std::uint32_t startTick)
    : tick_(startTick)
{
    Load();
}

BookedHost::~BookedHost()
{
    FreeRowEntries(*this);
}

void BookedHost::Load()
{
    const std::string bytes = "[Lab]\n198.18.0.13 Lab router\n";
    FilePtr file(std::tmpfile());
    std::fwrite(bytes.data(), 1, bytes.size(), file.get());
    std::rewind(file.get());
    LoadGroupHosts(file.get(), "Lab", *this, table_, [tick = tick_] { return tick; });
}

bool BookedHost::Book(const std::vector<Step>& steps)
{
    bool changed = false;
    for (const Step& step : steps) {
        Wait(step.afterMs);
        if (step.result == kLoad) {
            Load();
            continue;
        }
        ProbeOutcome outcome;
        outcome.status = step.status;
        outcome.source = step.source;
        outcome.reply.roundTripTime = static_cast<std::uint32_t>(std::max(step.result, 0));
        outcome.reply.roundTripUs = step.roundTripUs;
        changed = BookResult(*entries_.at(0), outcome, tick_, wall_);
    }
    return changed;
}

void BookedHost::Wait(std::uint32_t ms)
{
    tick_ += ms;
    wall_ += ms / 1000;
}
