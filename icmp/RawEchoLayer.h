#pragma once

#include "probe/EchoLayer.h"

#include <memory>

// The one raw ICMP socket that all probes of an echo layer share. Every raw
// ICMP socket of the host gets its own copy of every ICMP packet, so a socket
// per probe had each answer copied and filtered once per waiting probe, and
// each probe paid for a socket, a filter and a capability raise. This socket
// is opened once; a reader thread of its own takes in what passes its filter
// and hands each answer to the probe waiting for it, found by the identifier
// and sequence that a reply carries or an ICMP error quotes. The kernel's
// stamp of each request leaving comes on the socket's error queue with a copy
// of the request, and reaches its probe the same way. Each probe still waits
// in its own call until its answer, an error or its timeout; it reads the
// socket itself once after its send, and again when its time is up, so that
// an answer that came in time counts even if the reader has not got to it.
//
// A probe's identifier and sequence are its own while it waits and rest for a
// minute after its timeout before they are handed out again, so an answer
// that comes after its probe gave up finds nobody and is dropped.
class RawEchoSocket
{
public:
    // Without a reader the socket is read only by the probes themselves,
    // after their send and when their time is up: for tests of what an
    // exchange takes in at its deadline.
    explicit RawEchoSocket(bool reader = true);
    // Stops the reader and closes the socket: only once no exchange is under
    // way. An object that probe threads may still use at exit is never
    // destroyed.
    ~RawEchoSocket();
    RawEchoSocket(const RawEchoSocket&) = delete;
    RawEchoSocket& operator=(const RawEchoSocket&) = delete;

    // Opens the socket and starts its reader where that was not done yet, and
    // tries again after a failed try. The socket's descriptor, or -1 with
    // *failure saying why.
    int Open(std::uint32_t* failure);

    // One exchange on the open socket, as EchoLayer::SendEcho. Once the socket
    // has failed for good, every exchange fails at once with
    // IP_GENERAL_FAILURE, and so do those that were waiting.
    EchoReply Exchange(const EchoRequest& request);

    // Packets the kernel dropped for want of room in the socket's receive
    // queue, as far as it has told.
    std::uint32_t ReceiveDrops() const;

private:
    struct Shared;
    std::unique_ptr<Shared> shared;
};
