#include "probe/ProbeChannel.h"

#include <algorithm>

void ProbeChannel::Open(std::function<void()> wake)
{
    std::lock_guard lock(mutex_);
    wake_ = std::move(wake);
    open_ = true;
    wakePosted_ = false;
}

void ProbeChannel::Close()
{
    {
        std::lock_guard lock(mutex_);
        open_ = false;
        queue_.clear();
        wake_ = nullptr;
    }
    handled_.notify_all();
}

void ProbeChannel::Deliver(const std::function<void(const ProbeResult&)>& handle)
{
    std::unique_lock lock(mutex_);
    wakePosted_ = false;
    while (open_ && !queue_.empty()) {
        Pending* pending = queue_.front();
        queue_.pop_front();
        inHand_ = pending;
        const ProbeResult result = pending->result;
        lock.unlock();
        handle(result);
        lock.lock();
        // The sender waits until this is set, even if the channel closed
        // meanwhile; after that it may leave, and `pending` (on its stack)
        // is gone.
        pending->done = true;
        inHand_ = nullptr;
    }
    // The senders of the whole batch are woken together, once it is handled:
    // a wake-up per result (fifty and more after a tick) cost the window
    // thread a system call each and woke senders whose result was still
    // waiting. Each sender still returns only after its result was handled,
    // and no tick runs before this call has returned.
    lock.unlock();
    handled_.notify_all();
}

bool ProbeChannel::Send(const ProbeResult& result)
{
    std::unique_lock lock(mutex_);
    if (!open_)
        return false;
    Pending pending {result, false};
    queue_.push_back(&pending);
    if (!wakePosted_ && wake_) {
        wakePosted_ = true;
        wake_();
    }
    handled_.wait(lock, [&] { return pending.done || (!open_ && inHand_ != &pending); });
    if (!pending.done) {
        // Closed before it was handled: make sure nothing refers to it.
        queue_.erase(std::remove(queue_.begin(), queue_.end(), &pending), queue_.end());
    }
    return pending.done;
}
