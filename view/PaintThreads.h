#pragma once

// Qt's painter hands wide fills to the global thread pool and waits for them.
// A pool thread the system refuses to start (at the user's process limit,
// which the probes' own threads can reach) leaves its fill queued and the
// window waiting for good. This starts the pool's threads while there is room
// and keeps them, so that painting never needs a new one. Call it once the
// application exists, before the first window is shown.
void KeepPaintThreadsStarted();
