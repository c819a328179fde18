#include "view/PaintThreads.h"

#include <QSemaphore>
#include <QThreadPool>

#include <memory>

void KeepPaintThreadsStarted()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    const int count = pool->maxThreadCount();
    // Each task holds its thread until all are running, so that none is
    // reused for another; shared, as a task refused a thread runs later.
    auto running = std::make_shared<QSemaphore>();
    auto hold = std::make_shared<QSemaphore>();
    for (int i = 0; i < count; ++i) {
        pool->start([running, hold] {
            running->release();
            hold->acquire();
        });
    }
    running->tryAcquire(count, 2000);
    hold->release(count);
}
