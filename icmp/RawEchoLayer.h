#pragma once

#include "icmp/EchoLayer.h"

#include <memory>

// The echo layer on a raw ICMP socket, which needs CAP_NET_RAW: one socket
// that all handles share. Every raw ICMP socket of the host gets its own copy
// of every ICMP packet, so a socket per probe had each answer copied and
// filtered once per waiting probe, and each probe paid for a socket, a filter
// and a capability raise. This socket is opened once; a reader thread of its
// own takes in what passes its filter and hands each answer to the probe
// waiting for it (WaiterTable), found by the identifier and sequence that a
// reply carries or an ICMP error quotes. The kernel's stamp of each request
// leaving comes on the socket's error queue with a copy of the request, and
// reaches its probe the same way. Each probe still waits in its own call
// until its answer, an error or its timeout; it reads the socket itself once
// after its send, and when its time is up it waits until everything that
// reached the socket by then has been read, so that an answer that came in
// time counts however many packets stood before it.
//
// A probe's key rests for a minute after its timeout before it is handed out
// again (TagSpace), so an answer that comes after its probe gave up finds
// nobody and is dropped.
class RawEchoLayer : public EchoLayer
{
public:
    // Without a reader the socket is read only by the probes themselves,
    // after their send and when their time is up: for tests of what an
    // exchange takes in at its deadline.
    explicit RawEchoLayer(bool reader = true);
    // Stops the reader and closes the socket: only once no exchange is under
    // way. An object that probe threads may still use at exit is never
    // destroyed.
    ~RawEchoLayer() override;
    RawEchoLayer(const RawEchoLayer&) = delete;
    RawEchoLayer& operator=(const RawEchoLayer&) = delete;

    // Every handle names the one socket: the first opens it and starts its
    // reader, and a failed try is tried again by the next.
    EchoHandle CreateHandle(std::uint32_t* failure) const override;
    // Once the socket has failed for good, every exchange fails at once with
    // IP_GENERAL_FAILURE, and so do those that were waiting.
    EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const override;
    void CloseHandle(EchoHandle handle) const override;
    std::uint32_t ReceiveDrops() const override;

private:
    struct Shared;
    std::unique_ptr<Shared> shared;
};
