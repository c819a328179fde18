#pragma once

#include <string>
#include <vector>

// Two network namespaces joined by a veth pair, so that real ICMP runs
// without anything leaving the machine: the prober side 198.18.0.1/24 with
// loopback up, and the host side 198.18.0.2/24 with further test addresses,
// its kernel's echo replies switched off and the test host program answering
// instead. Namespace and link names carry the process id; the destructor
// removes all of it, and the next lab removes what a crashed process left.
class NetnsLab
{
public:
    // Why no lab can be made on this machine, or empty when one can.
    static std::string WhyUnavailable();

    NetnsLab() = default;
    ~NetnsLab();
    NetnsLab(const NetnsLab&) = delete;
    NetnsLab& operator=(const NetnsLab&) = delete;

    // Builds the namespaces and starts the test host with ADDRESS=BEHAVIOUR
    // arguments, to end by itself after lifetimeSeconds. Returns an empty
    // string, or what went wrong. With reportHolds the host tells each answer
    // it held back, for HeldAnswers.
    std::string Start(
        const std::vector<std::string>& hosts, int lifetimeSeconds = 180, bool reportHolds = false);

    // The answers from one test address that the host held back since the
    // last call, oldest first: nanoseconds from the request's arrival to the
    // host's clock just before and just after it sent the answer. The answer
    // reached the prober between the two, whenever the host got to run.
    struct Hold
    {
        long long fromNs;
        long long toNs;
    };
    std::vector<Hold> HeldAnswers(const std::string& address);

    // Moves the calling thread, and the threads it starts from then on, into
    // the prober's namespace, or back to where it was.
    bool EnterProber();
    void LeaveProber();

    // Opens net.ipv4.ping_group_range in the prober's namespace to every
    // group, so that datagram ICMP sockets work there, or closes it.
    bool SetPingGroupRange(bool open);

    // Puts a queueing discipline on the prober's side of the link, in tc's
    // words ("pfifo limit 0", "tbf rate 1mbit ..."), with every test address
    // a permanent neighbour there, so that the queue alone decides what
    // leaves: no address resolution that it could drop as well. Empty: the
    // link's own again. Returns what went wrong, or an empty string.
    std::string SetProberQueue(const std::string& discipline);

private:
    std::string StartTestHost(
        const std::vector<std::string>& hosts, int lifetimeSeconds, bool reportHolds);

    std::string prober;
    std::string host;
    std::string proberLink;
    std::vector<std::string> addresses; // the host side's, 198.18.0.2 first
    int previousNamespace = -1;
    int testHostPid = -1;
    int holdReports = -1;
    std::string unreadReports;
};

// For a test that needs a name lookup to fail, wherever it runs: true in a
// process of its own started for the current test, in which no lookup can
// reach a name server (LeaveEveryNameServerBehind in DnsGuard.h, with a
// resolv.conf that names only 127.0.0.1 and an nsswitch.conf that asks only
// files and dns): not over the network, whatever the machine's resolv.conf
// names, nor through a local name service's socket. A thread moved into a
// namespace of its own would still read the machine's files and reach such
// sockets. In the test's own process this runs the test there and returns
// false, with a failure there reported as the test's, or with the test
// skipped where no such process can be made (not root).
//   if (!InProcessWithoutNameServer())
//       return;
bool InProcessWithoutNameServer();
