#pragma once

#include "probe/EchoLayer.h"
#include "probe/IcmpSocketKind.h"

// The echo layer on Linux ICMP sockets of one kind, one socket per handle.
// Holds no state of its own, so one object serves any number of threads.
class SocketEchoLayer : public EchoLayer
{
public:
    explicit SocketEchoLayer(IcmpSocketKind kind);

    IcmpSocketKind Kind() const { return kind; }

    EchoHandle CreateHandle() const override;
    int SendEcho(EchoHandle handle, const EchoRequest& request, EchoReply* reply) const override;
    void CloseHandle(EchoHandle handle) const override;

private:
    IcmpSocketKind kind;
};
