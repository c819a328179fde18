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
    // string, or what went wrong.
    std::string Start(const std::vector<std::string>& hosts, int lifetimeSeconds = 180);

    // Moves the calling thread, and the threads it starts from then on, into
    // the prober's namespace, or back to where it was.
    bool EnterProber();
    void LeaveProber();

    // Opens net.ipv4.ping_group_range in the prober's namespace to every
    // group, so that datagram ICMP sockets work there, or closes it.
    bool SetPingGroupRange(bool open);

private:
    std::string StartTestHost(const std::vector<std::string>& hosts, int lifetimeSeconds);

    std::string prober;
    std::string host;
    int previousNamespace = -1;
    int testHostPid = -1;
};
