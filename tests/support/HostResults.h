#pragma once

#include "hosts/GroupLoad.h"
#include "hosts/HostTable.h"

#include <cstdint>
#include <ctime>
#include <limits>
#include <vector>

struct HostEntry;

// A host's results as the window thread books them, some time after the one
// before; a step with kLoad loads the group again instead.
struct Step
{
    std::int32_t result;
    std::uint32_t roundTripUs;
    std::uint32_t status;
    std::uint32_t source;
    std::uint32_t afterMs;
};
constexpr std::int32_t kLoad = std::numeric_limits<std::int32_t>::min();
Step Answer(std::uint32_t us, std::uint32_t afterMs = 5000);
Step TimedOut(std::uint32_t afterMs = 10000);
extern const Step kReload;

std::vector<Step> Times(int count, Step step);
std::vector<Step> Times(int count, const std::vector<Step>& steps);
std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b);

// 2024-05-01 09:41:07 UTC, the wall clock when a BookedHost is loaded.
constexpr std::time_t kLoadedAt = 1714556467;

// The one host of a group, 198.18.0.13, loaded at a tick of the test's
// choosing and then given its results step by step, each booked as the
// window books a probe's outcome.
class BookedHost : private HostRows
{
public:
    explicit BookedHost(std::uint32_t startTick);
    ~BookedHost();
    BookedHost(const BookedHost&) = delete;
    BookedHost& operator=(const BookedHost&) = delete;

    // Returns whether the last result booked changed the host's state.
    bool Book(const std::vector<Step>& steps);
    // Lets time pass without a result.
    void Wait(std::uint32_t ms);

    const HostEntry& Entry() const { return *entries_.at(0); }
    // Now: the tick count and the wall clock.
    std::uint32_t Tick() const { return tick_; }
    std::time_t Wall() const { return wall_; }

private:
    void Load();

    int RowCount() const override { return static_cast<int>(entries_.size()); }
    HostEntry* RowEntry(int row) const override { return entries_[row]; }
    void ForgetRowEntry(int row) override { entries_[row] = nullptr; }
    void AppendRow(HostEntry* entry) override { entries_.push_back(entry); }
    void RemoveAllRows() override { entries_.clear(); }

    std::vector<HostEntry*> entries_;
    HostTable table_;
    std::uint32_t tick_;
    std::time_t wall_ = kLoadedAt;
};
