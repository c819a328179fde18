#pragma once

#include "probe/EchoLayer.h"
#include "probe/IcmpSocketKind.h"

#include <memory>

class RawEchoSocket;

// The echo layer on Linux ICMP sockets of one kind. Datagram sockets come one
// per handle: the kernel already sorts their answers to them. Raw sockets see
// every ICMP packet of the host, so all handles of the raw kind share one
// socket (RawEchoSocket), opened by the first handle. One object serves any
// number of threads at once.
class SocketEchoLayer : public EchoLayer
{
public:
    explicit SocketEchoLayer(IcmpSocketKind kind);
    // Only once no exchange is under way.
    ~SocketEchoLayer() override;
    SocketEchoLayer(const SocketEchoLayer&) = delete;
    SocketEchoLayer& operator=(const SocketEchoLayer&) = delete;

    IcmpSocketKind Kind() const { return kind; }

    EchoHandle CreateHandle(std::uint32_t* failure) const override;
    EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const override;
    void CloseHandle(EchoHandle handle) const override;

    // Answers the kernel dropped for want of room in the raw kind's shared
    // receive queue; datagram sockets have one queue each, and none counted.
    std::uint32_t ReceiveDrops() const;

private:
    IcmpSocketKind kind;
    std::unique_ptr<RawEchoSocket> raw; // the raw kind's shared socket
    int stampKeeper = -1; // keeps the kernel stamping arrivals, for the datagram kind
};
