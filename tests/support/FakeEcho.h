#pragma once

#include "icmp/EchoLayer.h"
#include "tick/TickCount.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

// An echo layer for tests: answers each host with a set value (a time, or -1
// for no reply, which it gives as a timeout) and can hold every probe until
// released. The layer it hands out shares its state with the workers, so it
// may outlive the test that made it.
class FakeEcho
{
public:
    FakeEcho();
    ~FakeEcho();

    // `host` is a dotted address, as the probes' destinations are matched.
    void Answer(const std::string& host, std::int32_t value);
    void Hold();
    void Release();

    std::shared_ptr<const EchoLayer> Layer() const;

    int Calls() const;
    int Waiting() const;
    int Calls(const std::string& host) const;

private:
    struct State
    {
        mutable std::mutex mutex;
        std::condition_variable released;
        std::map<std::uint32_t, std::int32_t> answers;
        std::map<std::uint32_t, int> calls;
        bool held = false;
        int waiting = 0;
        int total = 0;
    };
    class FakeLayer;
    std::shared_ptr<State> state_;
};

// The system's echo layer, as IcmpLibrary loads it, that shows each request's
// destination and what came back to `observe`, on the probe's thread.
class ObservedEcho : public EchoLayer
{
public:
    using Observer = std::function<void(std::uint32_t destination, const EchoReply& reply)>;
    explicit ObservedEcho(Observer observe);

    EchoHandle CreateHandle(std::uint32_t* failure) const override;
    EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const override;
    void CloseHandle(EchoHandle handle) const override;
    std::uint32_t ReceiveDrops() const override;

private:
    Observer observe_;
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
