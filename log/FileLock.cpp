#include "log/FileLock.h"

#include <cerrno>

#include <sys/file.h>

FileLock TryLockFile(int fd)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return FileLock::Held;
    // EWOULDBLOCK says that another writer holds the lock (EINTR, that a
    // signal came first). NFS without its lock service answers ENOLCK, some
    // network and FUSE file systems EOPNOTSUPP, ENOSYS or EINVAL, and they
    // answer so every time.
    return errno == EWOULDBLOCK || errno == EINTR ? FileLock::Busy : FileLock::Unsupported;
}
