// Which socket kind the process settles on, once, and what happens when none
// works. Each case runs in a fresh process of its own (Load decides once per
// process), in a network namespace of its own, as root.

#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

void SetPingGroupRange(const char* range)
{
    const int fd = open("/proc/sys/net/ipv4/ping_group_range", O_WRONLY | O_CLOEXEC);
    if (fd < 0 || write(fd, range, std::strlen(range)) < 0)
        _exit(90);
    close(fd);
}

// The death-test process is single-threaded here, so this moves all of it
// into a namespace that starts with the kernel's defaults: ping_group_range
// closed, nothing reachable.
void EnterFreshNamespace(const char* pingGroupRange)
{
    if (unshare(CLONE_NEWNET) != 0)
        _exit(91);
    SetPingGroupRange(pingGroupRange);
}

void DropRawSocketCapability()
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] {};
    if (syscall(SYS_capget, &header, data) != 0)
        _exit(92);
    data[CAP_TO_INDEX(CAP_NET_RAW)].effective &= ~CAP_TO_MASK(CAP_NET_RAW);
    data[CAP_TO_INDEX(CAP_NET_RAW)].permitted &= ~CAP_TO_MASK(CAP_NET_RAW);
    if (syscall(SYS_capset, &header, data) != 0)
        _exit(93);
}

// Load entered by many threads at the same moment; all must agree.
int LoadTogether()
{
    constexpr int kThreads = 64;
    std::latch start(kThreads);
    std::atomic<int> loaded {0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&] {
            start.arrive_and_wait();
            loaded += IcmpLibrary::Load();
        });
    }
    for (std::thread& t : threads)
        t.join();
    return loaded == kThreads ? 1 : loaded == 0 ? 0 : -1;
}

// What the death-test processes do; their exit status says which step failed.
void DatagramFirstAndHeld()
{
    EnterFreshNamespace("0 2147483647");
    if (LoadTogether() != 1 || IcmpLibrary::Kind() != IcmpSocketKind::Datagram)
        _exit(1);
    SetPingGroupRange("1 0");
    if (IcmpLibrary::Load() != 1 || IcmpLibrary::Kind() != IcmpSocketKind::Datagram)
        _exit(2);
    _exit(0);
}

void RawAsFallback()
{
    EnterFreshNamespace("1 0");
    _exit(LoadTogether() == 1 && IcmpLibrary::Kind() == IcmpSocketKind::Raw ? 0 : 1);
}

void NoKindAtAll()
{
    EnterFreshNamespace("1 0");
    DropRawSocketCapability();
    if (LoadTogether() != 0)
        _exit(1);
    // Never tried again, not even once datagram sockets are allowed.
    SetPingGroupRange("0 2147483647");
    if (IcmpLibrary::Load() != 0)
        _exit(2);
    const auto start = std::chrono::steady_clock::now();
    const ProbeOutcome outcome = IcmpProbe("127.0.0.1", 10, 5000, 32);
    if (outcome.status != ERROR_MOD_NOT_FOUND
        || std::chrono::steady_clock::now() - start > std::chrono::milliseconds(100))
        _exit(3);
    _exit(0);
}

class IcmpLibraryTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root for a network namespace of its own";
        // A fresh process for each case, as Load decides once per process.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
};

TEST_F(IcmpLibraryTest, DatagramSocketsComeFirstAndTheChoiceHolds)
{
    EXPECT_EXIT(DatagramFirstAndHeld(), testing::ExitedWithCode(0), "^$");
}

TEST_F(IcmpLibraryTest, RawSocketsAreTheFallback)
{
    EXPECT_EXIT(RawAsFallback(), testing::ExitedWithCode(0), "^$");
}

TEST_F(IcmpLibraryTest, WithNoKindEveryProbeFailsAtOnceAndOneLineSaysHowToAllowOne)
{
    EXPECT_EXIT(NoKindAtAll(), testing::ExitedWithCode(0),
        "^[^\n]*net\\.ipv4\\.ping_group_range[^\n]*setcap cap_net_raw\\+p[^\n]*\n$");
}

} // namespace
