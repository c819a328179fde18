#pragma once

#include "icmp/EchoExchange.h"
#include "icmp/EchoLayer.h"
#include "icmp/IcmpPacket.h"
#include "icmp/TagSpace.h"

#include <semaphore.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

// The probes that wait for their answers on the shared raw socket, by echo
// key. Whoever reads the socket hands each answer, and the stamp of each
// request's leaving, to its probe through a HandOff; a probe whose time is up
// withdraws; a socket that has failed for good fails them all. Times are
// passed in.
//
// The locking rules, all here: one mutex guards the keys, the map and every
// waiter in it. A wait ends exactly once, under that mutex, by whoever ends it
// (an answer handed over, FailAll, or the probe's own Withdraw); that one owns
// the outcome. A wait that another thread ended is posted on the waiter's
// semaphore after the mutex is let go, and its probe does not return before
// the post has come, since the waiter lives on the probe's stack.
class WaiterTable
{
public:
    enum class Outcome {
        Waiting,
        Answered,
        Failed,
    };

    // One probe waiting, on its own thread's stack. The probe writes the
    // clocks of its send in `times`; the table writes the kernel's stamps and
    // the answer.
    class Waiter
    {
    public:
        Waiter() { sem_init(&woken_, 0, 0); }
        ~Waiter() { sem_destroy(&woken_); }
        Waiter(const Waiter&) = delete;
        Waiter& operator=(const Waiter&) = delete;

        EchoTag tag;
        ExchangeTimes times;
        EchoReply reply;
        std::int64_t taken = 0; // when the read that took the answer in ended

    private:
        friend class WaiterTable;
        Outcome outcome_ = Outcome::Waiting;
        sem_t woken_;
    };

    explicit WaiterTable(std::uint32_t seed, std::uint32_t blockSize = 0x10000);

    // The identifier that every key's high byte shares, for the socket's filter.
    std::uint16_t Identifier() const;

    // Enters the waiter under the next free key, for a request to
    // `destination` whose answer is waited for until `lastAnswer` at the
    // latest. IP_SUCCESS; IP_GENERAL_FAILURE once the table has failed, or
    // while no key is free.
    std::uint32_t Enter(
        Waiter& waiter, std::uint32_t destination, std::int64_t now, std::int64_t lastAnswer);

    // What one read of the socket hands over, under the table's mutex from
    // construction to destruction; the probes it answered are posted after
    // the mutex is let go. A stamp may come before or after its answer within
    // one hand-off; a stamp that comes after its probe was posted finds
    // nobody.
    class HandOff
    {
    public:
        explicit HandOff(WaiterTable& table);
        ~HandOff();
        HandOff(const HandOff&) = delete;
        HandOff& operator=(const HandOff&) = delete;

        // The tag of the request waiting under `key`, to judge a packet
        // against; null when none waits.
        const EchoTag* Waiting(EchoKey key) const;
        // The kernel's stamp of the request under `key` leaving.
        void Stamp(EchoKey key, std::int64_t left);
        // The answer to the request waiting under `key`, arrived at the
        // kernel's `arrived` stamp where there is one, taken in at `taken`:
        // ends its wait.
        void Answer(EchoKey key, const EchoReply& reply, std::optional<std::int64_t> arrived,
            std::int64_t taken);

    private:
        WaiterTable& table_;
        std::unique_lock<std::mutex> lock_;
        std::vector<Waiter*> answered_;
    };

    // Waits until the wait ends or the monotonic clock reaches `until`:
    // the outcome, Outcome::Waiting when the time came first. The wait may
    // still be ended after that, until the probe withdraws.
    Outcome Await(Waiter& waiter, std::int64_t until);
    // Ends a wait that is still open, or, where another thread ended it,
    // returns once its post has come: the outcome. Only for a wait that Await
    // has not seen end.
    Outcome Withdraw(Waiter& waiter);
    // Ends every wait with Outcome::Failed, and every later Enter fails.
    void FailAll();

private:
    static void Post(const std::vector<Waiter*>& waiters);

    mutable std::mutex mutex_;
    bool failed_ = false;
    TagSpace keys_;
    std::unordered_map<std::uint32_t, Waiter*> waiting_;
};
