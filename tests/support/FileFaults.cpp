#include "tests/support/FileFaults.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

bool SetInodeFlag(const std::string& path, int flag, bool on)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? flags | flag : flags & ~flag;
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return done;
}

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    if (getrlimit(RLIMIT_FSIZE, &old_) != 0)
        return;
    saved_ = true;
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = old_;
    tight.rlim_cur = bytes;
    active_ = setrlimit(RLIMIT_FSIZE, &tight) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (!saved_)
        return;
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
}
