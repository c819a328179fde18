// Test programs are linked so that they cannot send anywhere but loopback and
// the namespace test hosts, nor ask a name server off the machine. Proven here
// through the echo layer and the name lookup themselves, in a network
// namespace with nothing in it, so that even a guard that failed to hold
// could not reach a network.

#include "tests/support/SendGuard.h"
#include "tests/support/DnsGuard.h"

#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"
#include "icmp/RawEchoLayer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <sched.h>
#include <unistd.h>

#include <string>

namespace {

// The guard's rule only: these addresses are classified, never sent to.
TEST(SendGuard, AllowsLoopbackAndTheTestHostRangeOnly)
{
    for (const char* allowed : {"127.0.0.0", "127.0.0.1", "127.255.255.255", "198.18.0.0",
             "198.18.0.11", "198.19.255.255"})
        EXPECT_TRUE(IsTestDestination(inet_addr(allowed))) << allowed;
    for (const char* refused : {"126.255.255.255", "128.0.0.0", "198.17.255.255", "198.20.0.0",
             "0.0.0.0", "255.255.255.255"})
        EXPECT_FALSE(IsTestDestination(inet_addr(refused))) << refused;
}

// In the death-test process: alone in an empty namespace, a probe through a
// raw socket to `host`; with `asMachine`, that namespace is taken for the
// machine's. Exit status 0 would mean the send went through to the kernel.
void ProbeFromAnEmptyNamespace(const char* host, bool asMachine)
{
    if (unshare(CLONE_NEWNET) != 0)
        _exit(91);
    if (asMachine)
        TreatThisNetworkNamespaceAsTheMachines();
    const RawEchoLayer echo;
    IcmpProbe(echo, host, 10, 1000, 32);
    _exit(0);
}

TEST(SendGuard, AProbeOutsideTheTestRangesEndsTheProgramBeforeItSends)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace of its own";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ProbeFromAnEmptyNamespace("192.0.2.1", false), testing::KilledBySignal(SIGABRT),
        "send guard: refused to send to 192\\.0\\.2\\.1");
    // The test hosts' range only from a namespace a test made: from the
    // machine's, it would follow the machine's routes.
    EXPECT_EXIT(ProbeFromAnEmptyNamespace("198.18.0.11", true), testing::KilledBySignal(SIGABRT),
        "send guard: refused to send to 198\\.18\\.0\\.11 from the machine's network namespace");
    EXPECT_EXIT(ProbeFromAnEmptyNamespace("198.18.0.11", false), testing::ExitedWithCode(0), "");
}

// In the death-test process: alone, with a resolv.conf that names `server`
// and this namespace taken for the machine's. Exit status 0 would mean the
// query went through to the kernel (and, in here, no further).
void LookUpThrough(const std::string& server)
{
    const std::string resolver = "nameserver " + server + "\n";
    if (!LeaveEveryNameServerBehind(resolver.c_str(), "hosts: files dns\n"))
        _exit(91);
    TreatThisNetworkNamespaceAsTheMachines();
    addrinfo hints {};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    const int failed = getaddrinfo("guard-test.invalid", nullptr, &hints, &found);
    _exit(failed != 0 ? 0 : 92);
}

TEST(DnsGuard, AQueryToANameServerOffTheMachineEndsTheProgramBeforeItSends)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for namespaces of its own";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(LookUpThrough("192.0.2.53"), testing::KilledBySignal(SIGABRT),
        "DNS guard: refused a DNS query from the machine's network namespace to 192\\.0\\.2\\.53");
    EXPECT_EXIT(LookUpThrough("2001:db8::53"), testing::KilledBySignal(SIGABRT),
        "DNS guard: refused a DNS query .* to 2001:db8::53");
    // A name server on loopback may be asked; the lookup fails, as nothing
    // listens there.
    EXPECT_EXIT(LookUpThrough("127.0.0.1"), testing::ExitedWithCode(0), "");
}

TEST(SendGuard, LetsLoopbackProbesThrough)
{
    const std::unique_ptr<EchoLayer> echo
        = IcmpLibrary::MakeEcho(geteuid() == 0 ? IcmpSocketKind::Raw : IcmpSocketKind::Datagram);
    std::uint32_t failure = 0;
    const EchoHandle probe = echo->CreateHandle(&failure);
    if (probe == kInvalidEchoHandle)
        GTEST_SKIP() << "no ICMP socket can be opened here";
    echo->CloseHandle(probe);
    EXPECT_TRUE(IcmpProbe(*echo, "127.0.0.1", 10, 5000, 32).Answered());
}

} // namespace
