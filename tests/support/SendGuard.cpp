#include "tests/support/SendGuard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

bool IsTestDestination(std::uint32_t address)
{
    const std::uint32_t host = ntohl(address);
    return (host >> 24) == 127 // 127.0.0.0/8
        || (host >> 17) == (0xC6120000u >> 17); // 198.18.0.0/15
}

namespace {

[[noreturn]] void Refuse(const char* what)
{
    std::fprintf(stderr,
        "send guard: refused to send to %s; test programs send only to 127.0.0.0/8 "
        "and 198.18.0.0/15\n",
        what);
    std::fflush(stderr);
    std::abort();
}

void Check(const sockaddr* to, socklen_t length)
{
    if (to == nullptr || length < static_cast<socklen_t>(sizeof(sa_family_t)))
        return;
    if (to->sa_family == AF_INET6)
        Refuse("an IPv6 address");
    if (to->sa_family != AF_INET)
        return;
    if (length < static_cast<socklen_t>(sizeof(sockaddr_in)))
        Refuse("a short IPv4 address");
    const in_addr address = reinterpret_cast<const sockaddr_in*>(to)->sin_addr;
    if (IsTestDestination(address.s_addr))
        return;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address, text, sizeof text);
    Refuse(text);
}

// A connected socket sends to its peer: that is checked in its place.
void CheckPeerOrDestination(int fd, const sockaddr* to, socklen_t length)
{
    if (to != nullptr) {
        Check(to, length);
        return;
    }
    sockaddr_storage peer {};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
        Check(reinterpret_cast<const sockaddr*>(&peer), peerLength);
}

} // namespace

extern "C" ssize_t __real_sendto(
    int fd, const void* data, size_t size, int flags, const sockaddr* to, socklen_t length);

// Where --wrap=sendto sends the program's own calls.
extern "C" ssize_t __wrap_sendto(
    int fd, const void* data, size_t size, int flags, const sockaddr* to, socklen_t length)
{
    CheckPeerOrDestination(fd, to, length);
    return __real_sendto(fd, data, size, flags, to, length);
}

extern "C" ssize_t __real_sendmsg(int fd, const msghdr* message, int flags);

// The same for --wrap=sendmsg, which the shared raw socket sends with.
extern "C" ssize_t __wrap_sendmsg(int fd, const msghdr* message, int flags)
{
    if (message != nullptr)
        CheckPeerOrDestination(fd, static_cast<const sockaddr*>(message->msg_name),
            message->msg_name != nullptr ? message->msg_namelen : 0);
    return __real_sendmsg(fd, message, flags);
}
