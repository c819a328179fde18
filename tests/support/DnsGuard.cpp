#include "tests/support/DnsGuard.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool WriteFile(const char* path, const char* text)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const std::size_t length = std::strlen(text);
    const bool written = write(fd, text, length) == static_cast<ssize_t>(length);
    close(fd);
    return written;
}

// A target that does not exist needs no covering.
bool Cover(const char* source, const char* target, const char* type, unsigned long flags)
{
    return mount(source, target, type, flags, type == nullptr ? nullptr : "size=16k") == 0
        || errno == ENOENT;
}

} // namespace

bool LeaveEveryNameServerBehind(const char* resolver, const char* nsswitch)
{
    // The files to put in place are made on a file system of this mount
    // namespace alone, over /tmp for a moment: nothing is left behind.
    constexpr unsigned long kPrivate = MS_NOSUID | MS_NODEV | MS_NOEXEC;
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0
        || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("none", "/tmp", "tmpfs", kPrivate, "size=16k") != 0
        || !WriteFile("/tmp/resolv.conf", resolver) || !WriteFile("/tmp/nsswitch.conf", nsswitch)
        || !Cover("/tmp/resolv.conf", "/etc/resolv.conf", nullptr, MS_BIND)
        || !Cover("/tmp/nsswitch.conf", "/etc/nsswitch.conf", nullptr, MS_BIND)
        || umount2("/tmp", MNT_DETACH) != 0 || !Cover("none", "/run/nscd", "tmpfs", kPrivate)
        || !Cover("none", "/var/run/nscd", "tmpfs", kPrivate))
        return false;
    // Loopback up, as everywhere else; nothing listens on it in here.
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::memcpy(request.ifr_name, "lo", 3);
    bool up = s >= 0 && ioctl(s, SIOCGIFFLAGS, &request) == 0;
    if (up) {
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        up = ioctl(s, SIOCSIFFLAGS, &request) == 0;
    }
    if (s >= 0)
        close(s);
    return up;
}
