// The capability sets around raw-socket creation, as the installed program
// file with cap_net_raw+p gives them to an ordinary user: each case runs in a
// fresh process of its own that becomes such a user first. Only sockets are
// created; nothing is sent.

#include "icmp/IcmpSockets.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

#include <atomic>
#include <cerrno>
#include <latch>
#include <thread>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;

// The calling thread's own sets.
bool Holds(cap_flag_t set, cap_value_t value)
{
    cap_t caps = cap_get_proc();
    cap_flag_value_t flag = CAP_CLEAR;
    if (caps == nullptr || cap_get_flag(caps, value, set, &flag) != 0)
        _exit(90);
    cap_free(caps);
    return flag == CAP_SET;
}

bool NetRawEffective()
{
    return Holds(CAP_EFFECTIVE, CAP_NET_RAW);
}

bool NetRawPermitted()
{
    return Holds(CAP_PERMITTED, CAP_NET_RAW);
}

// What exec of a cap_net_raw+p file gives a user: that one capability
// permitted, nothing effective or inheritable.
void BecomeUserWithNetRaw(bool permitted)
{
    if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setgroups(0, nullptr) != 0
        || setresgid(kNobody, kNobody, kNobody) != 0 || setresuid(kNobody, kNobody, kNobody) != 0)
        _exit(91);
    cap_t caps = cap_init();
    const cap_value_t netRaw = CAP_NET_RAW;
    if (permitted && cap_set_flag(caps, CAP_PERMITTED, 1, &netRaw, CAP_SET) != 0)
        _exit(92);
    if (cap_set_proc(caps) != 0)
        _exit(93);
    cap_free(caps);
}

bool PlainRawSocketRefused()
{
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0)
        close(fd);
    return fd < 0 && errno == EPERM;
}

// Opens a raw socket and reports the thread's sets right after.
struct Opened
{
    bool socket = false;
    bool effectiveAfter = true;
    bool permittedAfter = false;
};

Opened OpenAndLook()
{
    Opened opened;
    const int fd = OpenRawIcmpSocket();
    opened.socket = fd >= 0;
    if (fd >= 0)
        close(fd);
    opened.effectiveAfter = NetRawEffective();
    opened.permittedAfter = NetRawPermitted();
    return opened;
}

void PermittedOnlyOnWorkerThreads()
{
    BecomeUserWithNetRaw(true);
    if (NetRawEffective() || !NetRawPermitted())
        _exit(1);
    // Nothing effective: a socket opened any other way is refused.
    if (!PlainRawSocketRefused())
        _exit(2);

    // Many probes open their sockets at once, each on its own thread.
    constexpr int kThreads = 16;
    std::latch start(kThreads);
    std::atomic<int> good {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            for (int round = 0; round < 20; ++round) {
                const Opened opened = OpenAndLook();
                if (!opened.socket || opened.effectiveAfter || !opened.permittedAfter)
                    return;
                // Once back, this thread has nothing effective again.
                if (!PlainRawSocketRefused())
                    return;
            }
            ++good;
        });
    }
    for (std::thread& t : threads)
        t.join();
    if (good != kThreads)
        _exit(3);
    // The thread that started them never held it.
    if (NetRawEffective() || !NetRawPermitted() || !PlainRawSocketRefused())
        _exit(4);
    _exit(0);
}

void NotPermitted()
{
    BecomeUserWithNetRaw(false);
    errno = 0;
    const int fd = OpenRawIcmpSocket();
    if (fd >= 0 || errno != EPERM)
        _exit(1);
    if (NetRawEffective() || NetRawPermitted())
        _exit(2);
    _exit(0);
}

void EffectiveFromTheStart()
{
    // Root: everything effective. The first raw socket leaves cap_net_raw
    // permitted but no longer effective, and leaves every other capability
    // as it was.
    if (!NetRawEffective() || !Holds(CAP_EFFECTIVE, CAP_DAC_OVERRIDE))
        _exit(1);
    Opened first = OpenAndLook();
    if (!first.socket || first.effectiveAfter || !first.permittedAfter)
        _exit(2);
    if (!Holds(CAP_EFFECTIVE, CAP_DAC_OVERRIDE) || !PlainRawSocketRefused())
        _exit(3);
    Opened second = OpenAndLook();
    if (!second.socket || second.effectiveAfter || !second.permittedAfter)
        _exit(4);
    _exit(0);
}

class RawSocketCapabilityTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root to set up the capability sets of a user";
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(RawSocketCapabilityTest, PermittedOnlyIsRaisedJustForTheSocketOnTheCallingThread)
{
    EXPECT_EXIT(PermittedOnlyOnWorkerThreads(), testing::ExitedWithCode(0), "^$");
}

TEST_F(RawSocketCapabilityTest, WithoutThePermittedCapabilityTheKernelRefuses)
{
    EXPECT_EXIT(NotPermitted(), testing::ExitedWithCode(0), "^$");
}

TEST_F(RawSocketCapabilityTest, EffectiveFromTheStartIsClearedAfterTheFirstSocket)
{
    EXPECT_EXIT(EffectiveFromTheStart(), testing::ExitedWithCode(0), "^$");
}

} // namespace
