#include "tests/support/FakeEcho.h"

#include "icmp/IcmpLibrary.h"
#include "icmp/Resolver.h"

#include <algorithm>

namespace {

std::uint32_t AddressOf(const std::string& host)
{
    return ResolveHostText(host.c_str()).value_or(0);
}

} // namespace

class FakeEcho::FakeLayer : public EchoLayer
{
public:
    explicit FakeLayer(std::shared_ptr<State> state)
        : state_(std::move(state))
    { }

    EchoHandle CreateHandle(std::uint32_t*) const override { return 1; }
    void CloseHandle(EchoHandle) const override { }

    EchoReply SendEcho(EchoHandle, const EchoRequest& request) const override
    {
        std::unique_lock lock(state_->mutex);
        ++state_->calls[request.destination];
        ++state_->total;
        ++state_->waiting;
        state_->released.wait(lock, [&] { return !state_->held; });
        --state_->waiting;
        const auto it = state_->answers.find(request.destination);
        const std::int32_t value = it == state_->answers.end() ? -1 : it->second;
        if (value < 0)
            return NoAnswer(IP_REQ_TIMED_OUT);
        // A true echo of the request, after `value` milliseconds.
        EchoReply reply;
        reply.answers = 1;
        reply.status = IP_SUCCESS;
        reply.address = request.destination;
        reply.roundTripUs = static_cast<std::uint32_t>(value) * 1000;
        reply.dataSize = request.dataSize;
        std::copy_n(request.data, request.dataSize, reply.data.begin());
        return reply;
    }

private:
    std::shared_ptr<State> state_;
};

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
    state_->answers[AddressOf(host)] = value;
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

std::shared_ptr<const EchoLayer> FakeEcho::Layer() const
{
    return std::make_shared<const FakeLayer>(state_);
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
    const auto it = state_->calls.find(AddressOf(host));
    return it == state_->calls.end() ? 0 : it->second;
}

ObservedEcho::ObservedEcho(Observer observe)
    : observe_(std::move(observe))
{ }

EchoHandle ObservedEcho::CreateHandle(std::uint32_t* failure) const
{
    if (!IcmpLibrary::Load()) {
        *failure = ERROR_MOD_NOT_FOUND;
        return kInvalidEchoHandle;
    }
    return IcmpLibrary::Echo().CreateHandle(failure);
}

EchoReply ObservedEcho::SendEcho(EchoHandle handle, const EchoRequest& request) const
{
    const EchoReply reply = IcmpLibrary::Echo().SendEcho(handle, request);
    observe_(request.destination, reply);
    return reply;
}

void ObservedEcho::CloseHandle(EchoHandle handle) const
{
    IcmpLibrary::Echo().CloseHandle(handle);
}

std::uint32_t ObservedEcho::ReceiveDrops() const
{
    return IcmpLibrary::ReceiveDrops();
}
