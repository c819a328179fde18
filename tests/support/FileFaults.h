#pragma once

#include <sys/resource.h>

#include <csignal>
#include <string>

// Ways a test makes files refuse writes the way a full or locked-down disk
// does, root included.

// Sets or clears one inode attribute of `path` (FS_IMMUTABLE_FL: nothing is
// created in a folder or written to a file; FS_APPEND_FL: a file only grows).
// False where the file system has no such attribute.
bool SetInodeFlag(const std::string& path, int flag, bool on);

// While it lives, the process's files stop growing at `bytes`: a write that
// would pass it is cut short, then fails with EFBIG instead of a signal.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool active() const { return active_; }

private:
    rlimit old_ {};
    void (*oldHandler_)(int) = SIG_DFL;
    bool saved_ = false;
    bool active_ = false;
};
