#include "files/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenRegularFile(const char* path, int flags, mode_t mode)
{
    const int fd = ::open(path, flags | O_NONBLOCK | O_NOCTTY, mode);
    if (fd < 0)
        return -1;
    struct stat st
    { };
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular
        || ((flags & O_NONBLOCK) == 0
            && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
