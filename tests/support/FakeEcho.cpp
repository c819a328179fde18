#include "tests/support/FakeEcho.h"

#include "probe/IcmpProbe.h"

FakeEcho::FakeEcho()
    : state_(std::make_shared<State>())
{ }

FakeEcho::~FakeEcho()
{
    Release();
}

void FakeEcho::Answer(const std::string& host, std::int32_t value)
{
    std::lock_guard lock(state_->mutex);
    state_->answers[host] = value;
}

void FakeEcho::Hold()
{
    std::lock_guard lock(state_->mutex);
    state_->held = true;
}

void FakeEcho::Release()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->held = false;
    }
    state_->released.notify_all();
}

EchoFunction FakeEcho::Function() const
{
    return [state = state_](const char* host, std::uint8_t, std::uint32_t, std::uint8_t) {
        std::unique_lock lock(state->mutex);
        ++state->calls[host];
        ++state->total;
        ++state->waiting;
        state->released.wait(lock, [&] { return !state->held; });
        --state->waiting;
        auto it = state->answers.find(host);
        const std::int32_t value = it == state->answers.end() ? -1 : it->second;
        if (value < 0)
            return ProbeOutcome {IP_REQ_TIMED_OUT};
        const auto ms = static_cast<std::uint32_t>(value);
        return ProbeOutcome {IP_SUCCESS, 0, {0, ms, ms * 1000}};
    };
}

int FakeEcho::Calls() const
{
    std::lock_guard lock(state_->mutex);
    return state_->total;
}

int FakeEcho::Waiting() const
{
    std::lock_guard lock(state_->mutex);
    return state_->waiting;
}

int FakeEcho::Calls(const std::string& host) const
{
    std::lock_guard lock(state_->mutex);
    auto it = state_->calls.find(host);
    return it == state_->calls.end() ? 0 : it->second;
}
