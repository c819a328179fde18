#pragma once

#include "icmp/IcmpProbe.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

struct HostEntry;

// One probe's outcome on its way from a worker to the window thread.
struct ProbeResult
{
    HostEntry* entry = nullptr; // nullptr: the worker's group was replaced
    std::int32_t generation = 0; // the load generation the worker started in
    ProbeOutcome outcome;
};

// What the main window shares with its probe workers. It is reference-counted
// and outlives the window, so that a worker still blocked in its echo wait
// when the window closes still finds its counters, and its result is refused.
//
// Send is synchronous: it returns once the window thread has handled the
// result (or the window has gone), as a sent window message does.
class ProbeChannel
{
public:
    std::atomic<std::int32_t> loadGeneration {0};
    std::atomic<std::int32_t> probesInFlight {0};

    // Window side: start accepting results. `wake` is called, from a worker
    // thread and with the channel's lock held, when results begin to wait; it
    // must only post a request to run Deliver on the window thread.
    void Open(std::function<void()> wake);
    // Window side: no more results are taken; waiting senders return false.
    void Close();
    // Window side: hands every waiting result to `handle`; once all are
    // handled, releases their senders. Results that arrive meanwhile are
    // handled in the same call.
    void Deliver(const std::function<void(const ProbeResult&)>& handle);

    // Worker side: true when the window thread handled the result.
    bool Send(const ProbeResult& result);

private:
    struct Pending
    {
        ProbeResult result;
        bool done = false;
    };

    std::mutex mutex_;
    std::condition_variable handled_;
    std::deque<Pending*> queue_;
    Pending* inHand_ = nullptr; // being handled on the window thread
    std::function<void()> wake_;
    bool open_ = false;
    bool wakePosted_ = false;
};
