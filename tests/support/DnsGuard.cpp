#include "tests/support/DnsGuard.h"

#include "tests/support/SendGuard.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

#if defined(__x86_64__) && defined(__linux__)
#define KELVORAN_DNS_GUARD_WATCHES 1
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>

#include <cstddef>
#endif

namespace {

// Writes without the C library's buffers: this runs in a signal handler.
void Say(const char* text)
{
    for (std::size_t left = std::strlen(text); left > 0;) {
        const ssize_t n = write(STDERR_FILENO, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= static_cast<std::size_t>(n);
    }
}

[[noreturn, maybe_unused]] void Refuse(const char* what, const char* detail)
{
    Say("DNS guard: ");
    Say(what);
    Say(detail);
    Say("; tests look names up only where no name server can be reached "
        "(InProcessWithoutNameServer in tests/support/NetnsLab.h)\n");
    std::abort();
}

#ifdef KELVORAN_DNS_GUARD_WATCHES

// A watching thread's own: that it is one, and whether it is in the machine's
// namespace, where its queries could leave.
thread_local bool watching = false;
thread_local bool inTheMachinesNamespace = false;

// A DNS query to anything but loopback.
bool LeavesTheMachine(const void* address, socklen_t length, char* text, socklen_t textSize)
{
    if (address == nullptr || length < static_cast<socklen_t>(sizeof(sa_family_t)))
        return false;
    sa_family_t family = 0;
    std::memcpy(&family, address, sizeof family);
    if (family == AF_INET && length >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        sockaddr_in to {};
        std::memcpy(&to, address, sizeof to);
        inet_ntop(AF_INET, &to.sin_addr, text, textSize);
        return ntohs(to.sin_port) == 53 && (ntohl(to.sin_addr.s_addr) >> 24) != 127;
    }
    if (family == AF_INET6 && length >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        sockaddr_in6 to {};
        std::memcpy(&to, address, sizeof to);
        inet_ntop(AF_INET6, &to.sin6_addr, text, textSize);
        const bool loopback = IN6_IS_ADDR_LOOPBACK(&to.sin6_addr)
            || (IN6_IS_ADDR_V4MAPPED(&to.sin6_addr) && to.sin6_addr.s6_addr[12] == 127);
        return ntohs(to.sin6_port) == 53 && !loopback;
    }
    return false;
}

void Check(const void* address, socklen_t length)
{
    char text[INET6_ADDRSTRLEN] = "?";
    if (inTheMachinesNamespace && LeavesTheMachine(address, length, text, sizeof text))
        Refuse("refused a DNS query from the machine's network namespace to ", text);
}

} // namespace

// The watching thread's own way into the kernel: the filter lets calls from
// here through, so the handler can make the call it has checked.
extern "C" long kelvoran_dns_guard_syscall(
    long nr, long a0, long a1, long a2, long a3, long a4, long a5);
extern "C" const char kelvoran_dns_guard_syscall_return[];
asm(R"(
    .pushsection .text
    .globl kelvoran_dns_guard_syscall
    .type kelvoran_dns_guard_syscall, @function
kelvoran_dns_guard_syscall:
    movq %rdi, %rax
    movq %rsi, %rdi
    movq %rdx, %rsi
    movq %rcx, %rdx
    movq %r8, %r10
    movq %r9, %r8
    movq 8(%rsp), %r9
    syscall
    .globl kelvoran_dns_guard_syscall_return
kelvoran_dns_guard_syscall_return:
    ret
    .size kelvoran_dns_guard_syscall, .-kelvoran_dns_guard_syscall
    .popsection
)");

namespace {

// The si_code of a seccomp trap (SYS_SECCOMP), which the C library's headers
// do not all name.
constexpr int kSeccompTrap = 1;

void OnTrappedCall(int, siginfo_t* info, void* context)
{
    if (info->si_code != kSeccompTrap || !watching)
        Refuse("SIGSYS outside a watched name lookup", "");
    if (info->si_arch != AUDIT_ARCH_X86_64)
        Refuse("a 32-bit system call in a watched name lookup", "");
    greg_t* r = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const long nr = info->si_syscall;
    const long a[6] = {r[REG_RDI], r[REG_RSI], r[REG_RDX], r[REG_R10], r[REG_R8], r[REG_R9]};
    if (nr == __NR_connect) {
        Check(reinterpret_cast<const void*>(a[1]), static_cast<socklen_t>(a[2]));
    } else if (nr == __NR_sendto) {
        Check(reinterpret_cast<const void*>(a[4]), static_cast<socklen_t>(a[5]));
    } else if (nr == __NR_sendmsg) {
        const auto* message = reinterpret_cast<const msghdr*>(a[1]);
        Check(message->msg_name, message->msg_namelen);
    } else if (nr == __NR_sendmmsg) {
        const auto* messages = reinterpret_cast<const mmsghdr*>(a[1]);
        for (long i = 0; i < a[2]; ++i)
            Check(messages[i].msg_hdr.msg_name, messages[i].msg_hdr.msg_namelen);
    }
    r[REG_RAX] = kelvoran_dns_guard_syscall(nr, a[0], a[1], a[2], a[3], a[4], a[5]);
}

// From here on, the calling thread's sending calls go to OnTrappedCall.
void WatchThisThread()
{
    const auto from = reinterpret_cast<std::uint64_t>(kelvoran_dns_guard_syscall_return);
    const auto low = static_cast<std::uint32_t>(from);
    const auto high = static_cast<std::uint32_t>(from >> 32);
    constexpr auto kIp = offsetof(seccomp_data, instruction_pointer);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_connect, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_sendto, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_sendmsg, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_sendmmsg, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIp),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, low, 0, 2),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kIp + 4),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, high, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program {
        static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    // No new privileges is what lets a thread without CAP_SYS_ADMIN install a
    // filter; it holds for this thread alone, which ends with the lookup.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
        || syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, 0, &program) != 0)
        Refuse("cannot watch a name lookup here: ", std::strerror(errno));
}

std::once_flag handlerInstalled;

template<typename Lookup>
struct Watch
{
    Lookup& lookup;
    std::invoke_result_t<Lookup&> result {};
    int error = 0;
    int hostError = 0;

    static void* Run(void* self)
    {
        auto& watch = *static_cast<Watch*>(self);
        sigset_t sys;
        sigemptyset(&sys);
        sigaddset(&sys, SIGSYS);
        pthread_sigmask(SIG_UNBLOCK, &sys, nullptr);
        inTheMachinesNamespace = InTheMachinesNetworkNamespace();
        WatchThisThread();
        watching = true;
        watch.result = watch.lookup();
        watch.error = errno;
        watch.hostError = h_errno;
        return nullptr;
    }
};

// Runs the lookup on a thread of its own, which the filter stays with: a
// filter cannot be taken off again, and on a thread that went on to start
// programs it would end them at their first connect. The thread has the
// caller's network namespace, and takes no signal but its own SIGSYS.
template<typename Lookup>
auto Watched(Lookup lookup) -> decltype(lookup())
{
    std::call_once(handlerInstalled, [] {
        struct sigaction action
        { };
        action.sa_sigaction = OnTrappedCall;
        action.sa_flags = SA_SIGINFO;
        sigaction(SIGSYS, &action, nullptr);
    });
    Watch<Lookup> watch {lookup};
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const int started = pthread_create(&thread, nullptr, &Watch<Lookup>::Run, &watch);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (started != 0)
        Refuse("no thread for a watched name lookup: ", std::strerror(started));
    pthread_join(thread, nullptr);
    errno = watch.error;
    h_errno = watch.hostError;
    return watch.result;
}

#else

template<typename Lookup>
auto Watched(Lookup lookup) -> decltype(lookup())
{
    return lookup();
}

#endif

} // namespace

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

// Where --wrap sends the programs' own lookups.
extern "C" {

int __real_getaddrinfo(const char*, const char*, const addrinfo*, addrinfo**);
int __real_getnameinfo(const sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t, int);
hostent* __real_gethostbyname(const char*);
hostent* __real_gethostbyname2(const char*, int);
hostent* __real_gethostbyaddr(const void*, socklen_t, int);
int __real_gethostbyname_r(const char*, hostent*, char*, size_t, hostent**, int*);
int __real_gethostbyname2_r(const char*, int, hostent*, char*, size_t, hostent**, int*);
int __real_gethostbyaddr_r(const void*, socklen_t, int, hostent*, char*, size_t, hostent**, int*);

int __wrap_getaddrinfo(
    const char* node, const char* service, const addrinfo* hints, addrinfo** result)
{
    return Watched([&] { return __real_getaddrinfo(node, service, hints, result); });
}

int __wrap_getnameinfo(const sockaddr* address, socklen_t length, char* host, socklen_t hostSize,
    char* service, socklen_t serviceSize, int flags)
{
    return Watched([&] {
        return __real_getnameinfo(address, length, host, hostSize, service, serviceSize, flags);
    });
}

hostent* __wrap_gethostbyname(const char* name)
{
    return Watched([&] { return __real_gethostbyname(name); });
}

hostent* __wrap_gethostbyname2(const char* name, int family)
{
    return Watched([&] { return __real_gethostbyname2(name, family); });
}

hostent* __wrap_gethostbyaddr(const void* address, socklen_t length, int family)
{
    return Watched([&] { return __real_gethostbyaddr(address, length, family); });
}

int __wrap_gethostbyname_r(
    const char* name, hostent* entry, char* buffer, size_t size, hostent** result, int* error)
{
    return Watched(
        [&] { return __real_gethostbyname_r(name, entry, buffer, size, result, error); });
}

int __wrap_gethostbyname2_r(const char* name, int family, hostent* entry, char* buffer, size_t size,
    hostent** result, int* error)
{
    return Watched(
        [&] { return __real_gethostbyname2_r(name, family, entry, buffer, size, result, error); });
}

int __wrap_gethostbyaddr_r(const void* address, socklen_t length, int family, hostent* entry,
    char* buffer, size_t size, hostent** result, int* error)
{
    return Watched([&] {
        return __real_gethostbyaddr_r(address, length, family, entry, buffer, size, result, error);
    });
}

} // extern "C"
