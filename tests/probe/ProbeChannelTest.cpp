#include "probe/ProbeChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// A stand-in for the window thread's event loop: wake requests set a flag
// that the test's loop polls.
struct Loop
{
    std::atomic<int> wakes {0};
};

TEST(ProbeChannel, SendReturnsOnlyAfterTheResultWasHandled)
{
    ProbeChannel channel;
    Loop loop;
    channel.Open([&] { ++loop.wakes; });
    std::atomic<bool> returned {false};
    std::atomic<int> handledValue {0};
    std::thread worker([&] {
        EXPECT_TRUE(channel.Send({nullptr, 42, {}}));
        returned = true;
    });
    while (loop.wakes == 0)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(returned);
    channel.Deliver([&](const ProbeResult& r) {
        handledValue = r.generation;
        EXPECT_FALSE(returned);
    });
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(handledValue, 42);
}

TEST(ProbeChannel, ManySendersAllHandledOnceAndInOrderOfArrival)
{
    ProbeChannel channel;
    Loop loop;
    channel.Open([&] { ++loop.wakes; });
    constexpr int kSenders = 64;
    std::vector<std::thread> workers;
    std::atomic<int> ok {0};
    for (int i = 0; i < kSenders; ++i)
        workers.emplace_back([&, i] { ok += channel.Send({nullptr, i, {}}) ? 1 : 0; });
    std::vector<int> seen;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (static_cast<int>(seen.size()) < kSenders && std::chrono::steady_clock::now() < deadline)
        channel.Deliver([&](const ProbeResult& r) { seen.push_back(r.generation); });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(ok, kSenders);
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < kSenders; ++i)
        EXPECT_EQ(seen[i], i);
    EXPECT_GE(loop.wakes, 1);
}

TEST(ProbeChannel, ClosingReleasesWaitingSendersAndRefusesNewOnes)
{
    ProbeChannel channel;
    Loop loop;
    channel.Open([&] { ++loop.wakes; });
    std::vector<std::thread> workers;
    std::atomic<int> refused {0};
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&] { refused += channel.Send({}) ? 0 : 1; });
    while (loop.wakes == 0)
        std::this_thread::sleep_for(1ms);
    channel.Close();
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(refused, 8);
    EXPECT_FALSE(channel.Send({}));
    int handled = 0;
    channel.Deliver([&](const ProbeResult&) { ++handled; });
    EXPECT_EQ(handled, 0);
}

TEST(ProbeChannel, ClosingWhileAResultIsBeingHandledFinishesThatOne)
{
    ProbeChannel channel;
    Loop loop;
    channel.Open([&] { ++loop.wakes; });
    std::atomic<bool> result {false};
    std::thread worker([&] { result = channel.Send({nullptr, 7, {}}); });
    while (loop.wakes == 0)
        std::this_thread::sleep_for(1ms);
    channel.Deliver([&](const ProbeResult&) {
        channel.Close();
        // The sender must still be waiting for this result.
        std::this_thread::sleep_for(10ms);
    });
    worker.join();
    EXPECT_TRUE(result);
}
