#include "tests/support/SendGuard.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool IsLoopback(std::uint32_t address)
{
    return (ntohl(address) >> 24) == 127; // 127.0.0.0/8
}

struct NamespaceId
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    bool operator==(const NamespaceId&) const = default;
};

NamespaceId IdOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

NamespaceId NamespaceOf(const char* path)
{
    struct stat st
    { };
    return stat(path, &st) == 0 ? IdOf(st) : NamespaceId {};
}

// Programs started inside a lab's namespace (the test host, benchmarks run
// with `ip netns exec`) learn the machine's from whoever started them.
constexpr const char* kMachineVariable = "KELVORAN_TEST_MACHINE_NETNS";

NamespaceId Inherited()
{
    NamespaceId id;
    const char* text = std::getenv(kMachineVariable);
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (text != nullptr && std::sscanf(text, "%llu:%llu", &device, &inode) == 2)
        id = {device, inode};
    return id;
}

// Process 1's namespace where it can be seen (not always, even as root);
// else the one the first guarded program started in, handed down to the
// programs it starts.
NamespaceId FindTheMachinesNamespace()
{
    NamespaceId machine = NamespaceOf("/proc/1/ns/net");
    if (machine.inode == 0)
        machine = Inherited();
    if (machine.inode == 0)
        machine = NamespaceOf("/proc/self/ns/net");
    if (machine.inode != 0 && std::getenv(kMachineVariable) == nullptr) {
        const std::string text
            = std::to_string(machine.device) + ":" + std::to_string(machine.inode);
        setenv(kMachineVariable, text.c_str(), 0);
    }
    return machine;
}

// Found on first use, so that no send before it can pass unchecked.
const NamespaceId& FoundMachinesNamespace()
{
    static const NamespaceId machine = FindTheMachinesNamespace();
    return machine;
}

// And found before main, while setenv is still safe: no thread runs yet.
[[maybe_unused]] const NamespaceId& kFoundAtStart = FoundMachinesNamespace();

std::atomic<std::uint64_t> treatedDevice {0};
std::atomic<std::uint64_t> treatedInode {0};

NamespaceId MachinesNamespace()
{
    const NamespaceId treated {treatedDevice.load(), treatedInode.load()};
    return treated.inode != 0 ? treated : FoundMachinesNamespace();
}

// A socket sends from the namespace it was made in, which need not be the
// sending thread's (the shared raw socket serves every thread). The kernel
// tells it to whom may administer that namespace; otherwise the thread's own
// stands in, which without that right is the machine's anyway.
NamespaceId NamespaceOfSocket(int fd)
{
    const int ns = ioctl(fd, SIOCGSKNS);
    if (ns < 0)
        return NamespaceOf("/proc/thread-self/ns/net");
    struct stat st
    { };
    const bool known = fstat(ns, &st) == 0;
    close(ns);
    return known ? IdOf(st) : NamespaceOf("/proc/thread-self/ns/net");
}

[[noreturn]] void Refuse(const char* what, const char* where = "")
{
    std::fprintf(stderr,
        "send guard: refused to send to %s%s; test programs send only to 127.0.0.0/8, "
        "and to 198.18.0.0/15 from a network namespace of their own\n",
        what, where);
    std::fflush(stderr);
    std::abort();
}

void Check(int fd, const sockaddr* to, socklen_t length)
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
    if (IsLoopback(address.s_addr))
        return;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address, text, sizeof text);
    if (!IsTestDestination(address.s_addr))
        Refuse(text);
    // A test host lives in a namespace a test made: from the machine's own,
    // that address would go out along its routes.
    if (NamespaceOfSocket(fd) == MachinesNamespace())
        Refuse(text, " from the machine's network namespace");
}

// A connected socket sends to its peer: that is checked in its place.
void CheckPeerOrDestination(int fd, const sockaddr* to, socklen_t length)
{
    if (to != nullptr) {
        Check(fd, to, length);
        return;
    }
    sockaddr_storage peer {};
    socklen_t peerLength = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0)
        Check(fd, reinterpret_cast<const sockaddr*>(&peer), peerLength);
}

} // namespace

bool IsTestDestination(std::uint32_t address)
{
    return IsLoopback(address) || (ntohl(address) >> 17) == (0xC6120000u >> 17); // 198.18.0.0/15
}

bool InTheMachinesNetworkNamespace()
{
    return NamespaceOf("/proc/thread-self/ns/net") == MachinesNamespace();
}

void TreatThisNetworkNamespaceAsTheMachines()
{
    const NamespaceId here = NamespaceOf("/proc/thread-self/ns/net");
    treatedDevice = here.device;
    treatedInode = here.inode;
}

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
