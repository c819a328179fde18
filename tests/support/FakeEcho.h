#pragma once

#include "probe/ProbeRunner.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// An echo layer for tests: answers each host with a set value (a time, or -1
// for no reply, which it gives as a timeout) and can hold every probe until
// released. Its state is shared
// with the workers, so it may outlive the test that made it.
class FakeEcho
{
public:
    FakeEcho();
    ~FakeEcho();

    void Answer(const std::string& host, std::int32_t value);
    void Hold();
    void Release();

    EchoFunction Function() const;

    int Calls() const;
    int Waiting() const;
    int Calls(const std::string& host) const;

private:
    struct State
    {
        mutable std::mutex mutex;
        std::condition_variable released;
        std::map<std::string, std::int32_t> answers;
        std::map<std::string, int> calls;
        bool held = false;
        int waiting = 0;
        int total = 0;
    };
    std::shared_ptr<State> state_;
};

// A clock the test sets by hand.
class TestClock
{
public:
    explicit TestClock(std::uint32_t start = 1000)
        : now_(std::make_shared<std::atomic<std::uint32_t>>(start))
    { }
    void Set(std::uint32_t ms) { now_->store(ms); }
    void Advance(std::uint32_t ms) { now_->fetch_add(ms); }
    std::uint32_t Now() const { return now_->load(); }
    TickSource Source() const
    {
        return [now = now_] { return now->load(); };
    }

private:
    std::shared_ptr<std::atomic<std::uint32_t>> now_;
};
