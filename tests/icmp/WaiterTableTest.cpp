// The shared raw socket's waiting probes, driven by hand: what a hand-off
// gives them, a withdrawal at the deadline racing a hand-off, and failing all.

#include "icmp/WaiterTable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

namespace {

using Outcome = WaiterTable::Outcome;

constexpr std::int64_t kMs = 1'000'000;
constexpr std::uint32_t kHost = 0x0a0012c6; // 198.18.0.10

EchoReply Reply()
{
    EchoReply reply;
    reply.answers = 1;
    reply.status = IP_SUCCESS;
    return reply;
}

TEST(WaiterTable, AStampThatComesAfterItsAnswerInTheSameHandOffStillReachesIt)
{
    WaiterTable table(0x12340000u);
    WaiterTable::Waiter waiter;
    ASSERT_EQ(table.Enter(waiter, kHost, 0, 10 * kMs), IP_SUCCESS);
    {
        WaiterTable::HandOff handOff(table);
        ASSERT_NE(handOff.Waiting(waiter.tag), nullptr);
        handOff.Answer(waiter.tag, Reply(), 3 * kMs, 4 * kMs);
        EXPECT_EQ(handOff.Waiting(waiter.tag), nullptr) << "answered once only";
        handOff.Stamp(waiter.tag, 1 * kMs);
    }
    // Posted: the wait ends at once, whatever the time.
    EXPECT_EQ(table.Await(waiter, 0), Outcome::Answered);
    EXPECT_EQ(waiter.times.leftStamp, 1 * kMs);
    EXPECT_EQ(waiter.times.arrivedStamp, 3 * kMs);
    EXPECT_EQ(waiter.taken, 4 * kMs);
    WaiterTable::HandOff(table).Stamp(waiter.tag, 2 * kMs);
    EXPECT_EQ(waiter.times.leftStamp, 1 * kMs) << "a later hand-off finds nobody";
}

TEST(WaiterTable, AWithdrawalDuringAHandOffWaitsForItsAnswer)
{
    WaiterTable table(0x12340000u);
    WaiterTable::Waiter waiter;
    ASSERT_EQ(table.Enter(waiter, kHost, 0, 10 * kMs), IP_SUCCESS);
    ASSERT_EQ(table.Await(waiter, 0), Outcome::Waiting) << "the deadline has passed";
    std::latch answered(1);
    std::atomic<bool> handedOver {false};
    std::thread reader([&] {
        WaiterTable::HandOff handOff(table);
        handOff.Answer(waiter.tag, Reply(), std::nullopt, 11 * kMs);
        answered.count_down();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        handedOver = true;
    });
    answered.wait();
    EXPECT_EQ(table.Withdraw(waiter), Outcome::Answered);
    EXPECT_TRUE(handedOver) << "returned before the hand-off was over";
    reader.join();

    // Withdrawn first, the waiter is no one's to answer.
    WaiterTable::Waiter late;
    ASSERT_EQ(table.Enter(late, kHost, 0, 10 * kMs), IP_SUCCESS);
    EXPECT_EQ(table.Withdraw(late), Outcome::Waiting);
    WaiterTable::HandOff handOff(table);
    EXPECT_EQ(handOff.Waiting(late.tag), nullptr);
}

TEST(WaiterTable, FailingAllEndsEveryWaitAndRefusesNewOnes)
{
    WaiterTable table(0x12340000u);
    WaiterTable::Waiter first;
    WaiterTable::Waiter second;
    ASSERT_EQ(table.Enter(first, kHost, 0, 10 * kMs), IP_SUCCESS);
    ASSERT_EQ(table.Enter(second, kHost, 0, 10 * kMs), IP_SUCCESS);
    EXPECT_NE(first.tag.Packed(), second.tag.Packed());
    table.FailAll();
    EXPECT_EQ(table.Await(first, 0), Outcome::Failed);
    EXPECT_EQ(table.Withdraw(second), Outcome::Failed) << "after its post";
    WaiterTable::Waiter after;
    EXPECT_EQ(table.Enter(after, kHost, 0, 10 * kMs), IP_GENERAL_FAILURE);
}

} // namespace
