#include "icmp/WaiterTable.h"

#include <cerrno>

WaiterTable::WaiterTable(std::uint32_t seed, std::uint32_t blockSize)
    : keys_(seed, blockSize)
{ }

std::uint16_t WaiterTable::Identifier() const
{
    std::lock_guard lock(mutex_);
    return keys_.Identifier();
}

std::uint32_t WaiterTable::Enter(
    Waiter& waiter, std::uint32_t destination, std::int64_t now, std::int64_t lastAnswer)
{
    std::lock_guard lock(mutex_);
    if (failed_)
        return IP_GENERAL_FAILURE;
    const std::optional<EchoKey> key = keys_.Take(now, lastAnswer);
    if (!key)
        return IP_GENERAL_FAILURE;
    // A key still in use would mean a key handed out twice: never wait on
    // one that another probe owns.
    if (!waiting_.emplace(key->Packed(), &waiter).second)
        return IP_GENERAL_FAILURE;
    waiter.tag = {*key, destination};
    waiter.outcome_ = Outcome::Waiting;
    return IP_SUCCESS;
}

WaiterTable::HandOff::HandOff(WaiterTable& table)
    : table_(table)
    , lock_(table.mutex_)
{ }

WaiterTable::HandOff::~HandOff()
{
    for (Waiter* waiter : answered_)
        table_.waiting_.erase(waiter->tag.Packed());
    lock_.unlock();
    Post(answered_);
}

const EchoTag* WaiterTable::HandOff::Waiting(EchoKey key) const
{
    const auto it = table_.waiting_.find(key.Packed());
    if (it == table_.waiting_.end() || it->second->outcome_ != Outcome::Waiting)
        return nullptr;
    return &it->second->tag;
}

void WaiterTable::HandOff::Stamp(EchoKey key, std::int64_t left)
{
    if (const auto it = table_.waiting_.find(key.Packed()); it != table_.waiting_.end())
        it->second->times.leftStamp = left;
}

void WaiterTable::HandOff::Answer(EchoKey key, const EchoReply& reply,
    std::optional<std::int64_t> arrived, std::int64_t taken)
{
    const auto it = table_.waiting_.find(key.Packed());
    if (it == table_.waiting_.end() || it->second->outcome_ != Outcome::Waiting)
        return;
    Waiter& waiter = *it->second;
    waiter.reply = reply;
    waiter.times.arrivedStamp = arrived;
    waiter.taken = taken;
    waiter.outcome_ = Outcome::Answered;
    answered_.push_back(&waiter);
}

WaiterTable::Outcome WaiterTable::Await(Waiter& waiter, std::int64_t until)
{
    const timespec deadline = Timespec(until);
    while (sem_clockwait(&waiter.woken_, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR)
            return Outcome::Waiting;
    }
    // Taking the mutex makes what the ender wrote under it visible here.
    std::lock_guard lock(mutex_);
    return waiter.outcome_;
}

WaiterTable::Outcome WaiterTable::Withdraw(Waiter& waiter)
{
    Outcome outcome;
    {
        std::lock_guard lock(mutex_);
        outcome = waiter.outcome_;
        if (outcome == Outcome::Waiting)
            waiting_.erase(waiter.tag.Packed());
    }
    if (outcome != Outcome::Waiting) {
        while (sem_wait(&waiter.woken_) != 0 && errno == EINTR) { }
        std::lock_guard lock(mutex_);
    }
    return outcome;
}

void WaiterTable::FailAll()
{
    std::vector<Waiter*> failed;
    {
        std::lock_guard lock(mutex_);
        failed_ = true;
        for (const auto& [key, waiter] : waiting_) {
            waiter->outcome_ = Outcome::Failed;
            failed.push_back(waiter);
        }
        waiting_.clear();
    }
    Post(failed);
}

void WaiterTable::Post(const std::vector<Waiter*>& waiters)
{
    for (Waiter* waiter : waiters)
        sem_post(&waiter->woken_);
}
