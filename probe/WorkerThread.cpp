#include "probe/WorkerThread.h"

#include <pthread.h>

#include <memory>

namespace {

// Room for a name lookup and the echo exchange, also in sanitizer builds.
constexpr std::size_t kWorkerStackBytes = 512 * 1024;

void* RunBody(void* arg)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
    (*body)();
    return nullptr;
}

} // namespace

bool StartWorkerThread(std::function<void()> body)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attr, kWorkerStackBytes);
    pthread_t thread;
    const int error = pthread_create(&thread, &attr, RunBody, owned.get());
    pthread_attr_destroy(&attr);
    if (error != 0)
        return false;
    owned.release();
    return true;
}
