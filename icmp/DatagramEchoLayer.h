#pragma once

#include "icmp/EchoLayer.h"

// The echo layer on ICMP datagram sockets, which the kernel allows by
// net.ipv4.ping_group_range: a socket per handle, to which the kernel sorts
// the answers by the identifier it writes into each request. One object
// serves any number of threads at once.
class DatagramEchoLayer : public EchoLayer
{
public:
    DatagramEchoLayer();
    // Only once no exchange is under way.
    ~DatagramEchoLayer() override;
    DatagramEchoLayer(const DatagramEchoLayer&) = delete;
    DatagramEchoLayer& operator=(const DatagramEchoLayer&) = delete;

    EchoHandle CreateHandle(std::uint32_t* failure) const override;
    EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const override;
    void CloseHandle(EchoHandle handle) const override;

private:
    int stampKeeper_ = -1; // keeps the kernel stamping arrivals
};
