// The probe loop without a window: a stand-in for the window thread's
// event loop runs what the runner posts to it, on the test's thread.
#include "probe/ProbeRunner.h"

#include "hosts/HostEntry.h"
#include "probe/Scheduler.h"
#include "tests/support/FakeEcho.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class WindowQueue
{
public:
    ProbeRunner::Poster Poster()
    {
        return [this](std::function<void()> call) {
            {
                std::lock_guard lock(mutex_);
                calls_.push_back(std::move(call));
            }
            posted_.notify_one();
        };
    }

    // Runs posted calls until `done` holds; false after the timeout. `done`
    // may turn true without a call posted (workers that begin to wait): it is
    // asked again every few milliseconds.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = 5000 * KELVORAN_SLOWDOWN)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeoutMs * 1ms;
        while (!done()) {
            std::unique_lock lock(mutex_);
            const auto until = std::min(deadline, std::chrono::steady_clock::now() + 5ms);
            if (!posted_.wait_until(lock, until, [this] { return !calls_.empty(); })) {
                if (std::chrono::steady_clock::now() >= deadline)
                    return done();
                continue;
            }
            std::function<void()> call = std::move(calls_.front());
            calls_.pop_front();
            lock.unlock();
            call();
        }
        return true;
    }

    // Runs what is posted within `ms`.
    void RunFor(int ms)
    {
        RunUntil([] { return false; }, ms);
    }

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> calls_;
};

class ProbeRunnerSteps : public ::testing::Test
{
protected:
    ~ProbeRunnerSteps() override
    {
        echo.Release();
        for (HostEntry* entry : entries)
            FreeHostEntry(entry);
    }

    // Entries that fell due long ago, one per loopback address.
    std::vector<HostEntry*> MakeEntries(int count)
    {
        std::vector<HostEntry*> made;
        for (int i = 0; i < count; ++i) {
            HostEntry* entry = NewHostEntry();
            entry->order = entry->row = static_cast<std::int32_t>(entries.size());
            entry->name = "127.0.0." + std::to_string(entries.size() % 250 + 1);
            echo.Answer(entry->name, 3);
            entries.push_back(entry);
            made.push_back(entry);
        }
        return made;
    }

    // Opens the loop; each result is recorded, booked and closes its probe's
    // cycle as the window does.
    void Open(ProbeServices services = {})
    {
        if (!services.echo)
            services.echo = echo.Layer();
        services.tick = [now = now] { return now->load(); };
        runner = std::make_unique<ProbeRunner>(std::move(services));
        runner->Open(window.Poster(), [this](HostEntry* entry, const ProbeOutcome& outcome) {
            delivered.push_back(entry);
            if (entry == nullptr)
                return;
            BookResult(*entry, outcome, now->load(), 0);
            entry->busy = 0;
        });
    }

    int Tick(const std::vector<HostEntry*>& snapshot)
    {
        int started = 0;
        runner->Tick([&snapshot](std::vector<HostEntry*>& out) { out = snapshot; },
            [&started](HostEntry* entry) {
                EXPECT_EQ(entry->busy, 1);
                ++started;
            });
        return started;
    }

    FakeEcho echo;
    WindowQueue window;
    std::shared_ptr<std::atomic<std::uint32_t>> now
        = std::make_shared<std::atomic<std::uint32_t>>(100'000);
    std::vector<HostEntry*> entries;
    std::unique_ptr<ProbeRunner> runner;
    std::vector<HostEntry*> delivered;
};

} // namespace

TEST_F(ProbeRunnerSteps, BusyEntriesStartOnceAndTheCapHoldsBackNewStarts)
{
    // The first tick's threads begin only after it, as a busy system may
    // begin them: workers count only once they run.
    auto parked = std::make_shared<std::vector<std::function<void()>>>();
    auto park = std::make_shared<std::atomic<bool>>(true);
    ProbeServices services;
    services.startThread = [parked, park](std::function<void()> body) {
        if (!*park)
            return StartWorkerThread(std::move(body));
        parked->push_back(std::move(body));
        return true;
    };
    Open(services);
    const std::vector<HostEntry*> first = MakeEntries(kMaxProbesInFlight + 10);
    echo.Hold();
    EXPECT_EQ(Tick(first), kMaxProbesInFlight + 10);
    *park = false;
    for (auto& body : *parked)
        ASSERT_TRUE(StartWorkerThread(std::move(body)));
    ASSERT_TRUE(window.RunUntil([&] { return echo.Waiting() == kMaxProbesInFlight + 10; }));
    EXPECT_EQ(runner->probesInFlight(), kMaxProbesInFlight + 10);

    // Busy entries are skipped; with more than the cap running, due ones wait.
    EXPECT_EQ(Tick(first), 0);
    const std::vector<HostEntry*> more = MakeEntries(5);
    EXPECT_EQ(Tick(more), 0);

    // A worker counts itself out only after it has posted its result, so the
    // window may see every result while some workers still count.
    echo.Release();
    ASSERT_TRUE(window.RunUntil([&] {
        return delivered.size() == first.size() && runner->probesInFlight() == 0;
    }));
    for (HostEntry* entry : first) {
        EXPECT_EQ(entry->result, 3);
        EXPECT_EQ(entry->busy, 0);
    }
    EXPECT_EQ(Tick(more), 5);
    EXPECT_TRUE(window.RunUntil([&] { return delivered.size() == first.size() + 5; }));
    EXPECT_EQ(echo.Calls(), kMaxProbesInFlight + 15);
}

TEST_F(ProbeRunnerSteps, ResultsOfAReplacedGroupComeBackWithoutTheirEntry)
{
    // Some threads run at once; others the system begins only after the group
    // has been loaded again, and must not take that load for their own.
    auto parked = std::make_shared<std::vector<std::function<void()>>>();
    ProbeServices services;
    services.startThread = [parked](std::function<void()> body) {
        if (parked->size() < 2) {
            parked->push_back(std::move(body));
            return true;
        }
        return StartWorkerThread(std::move(body));
    };
    Open(services);
    const std::vector<HostEntry*> group = MakeEntries(4);
    echo.Hold();
    EXPECT_EQ(Tick(group), 4);
    ASSERT_TRUE(window.RunUntil([&] { return echo.Waiting() == 2; }));

    runner->BeginLoad();
    EXPECT_EQ(runner->loadGeneration(), 1);
    for (auto& body : *parked)
        ASSERT_TRUE(StartWorkerThread(std::move(body)));
    echo.Release();
    ASSERT_TRUE(window.RunUntil([&] { return delivered.size() == 4; }));
    for (HostEntry* entry : delivered)
        EXPECT_EQ(entry, nullptr);
    for (HostEntry* entry : group)
        EXPECT_EQ(entry->result, kResultNotProbed) << "a replaced entry is never written";
    EXPECT_TRUE(window.RunUntil([&] { return runner->probesInFlight() == 0; }));
}

TEST_F(ProbeRunnerSteps, ARefusedThreadLeavesItsEntryFreeAndEndsTheTick)
{
    auto attempts = std::make_shared<std::atomic<int>>(0);
    auto refuse = std::make_shared<std::atomic<bool>>(true);
    ProbeServices services;
    services.startThread = [attempts, refuse](std::function<void()> body) {
        ++*attempts;
        return !*refuse && StartWorkerThread(std::move(body));
    };
    Open(services);
    const std::vector<HostEntry*> group = MakeEntries(3);
    EXPECT_EQ(Tick(group), 0);
    EXPECT_EQ(*attempts, 1) << "the system would refuse the rest of the tick's threads too";
    for (HostEntry* entry : group)
        EXPECT_EQ(entry->busy, 0);

    *refuse = false;
    EXPECT_EQ(Tick(group), 3);
    EXPECT_TRUE(window.RunUntil([&] { return delivered.size() == 3; }));
}

TEST_F(ProbeRunnerSteps, ClosingWithProbesInFlightLetsTheWorkersEndAlone)
{
    Open();
    const std::vector<HostEntry*> group = MakeEntries(3);
    echo.Hold();
    EXPECT_EQ(Tick(group), 3);
    ASSERT_TRUE(window.RunUntil([&] { return echo.Waiting() == 3; }));
    runner->Close();
    runner.reset();
    echo.Release();
    // The workers find nobody to hand their results to, and end.
    const auto deadline = std::chrono::steady_clock::now() + 5s * KELVORAN_SLOWDOWN;
    while (echo.Waiting() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    window.RunFor(100);
    EXPECT_EQ(echo.Waiting(), 0);
    EXPECT_TRUE(delivered.empty());
}
