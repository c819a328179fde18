#pragma once

#include <functional>

// How one attempt to lock an open file against the other writers ended.
enum class FileLock {
    Held, // the lock is this writer's until the file is closed
    Busy, // another writer holds it: try again later
    Unsupported, // the file system refuses locks: write without one
};

// An exclusive advisory lock (flock) on an open file, without waiting.
FileLock TryLockFile(int fd);

// The lock call as the result log makes it, so that tests can answer in its place.
using FileLocker = std::function<FileLock(int fd)>;
