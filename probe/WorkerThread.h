#pragma once

#include <functional>

// Starts `body` on a detached thread of its own with a modest stack. False
// when the system refuses another thread; `body` is then not run.
bool StartWorkerThread(std::function<void()> body);

using ThreadStarter = std::function<bool(std::function<void()>)>;
