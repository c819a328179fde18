#pragma once

#include "probe/EchoLayer.h"

#include <memory>

// The one raw ICMP socket that all probes of an echo layer share. Every raw
// ICMP socket of the host gets its own copy of every ICMP packet, so a socket
// per probe had each answer copied and filtered once per waiting probe, and
// each probe paid for a socket, a filter and a capability raise. This socket
// is opened once; a reader thread of its own takes in what passes its filter
// and hands each answer to the probe waiting for it, found by the identifier
// and sequence that a reply carries or an ICMP error quotes. Each probe still
// waits in its own call until its answer, an error or its timeout.
//
// A probe's identifier and sequence are its own while it waits and rest for a
// minute after its timeout before they are handed out again, so an answer
// that comes after its probe gave up finds nobody and is dropped.
class RawEchoSocket
{
public:
    RawEchoSocket();
    // Stops the reader and closes the socket: only once no exchange is under
    // way. An object that probe threads may still use at exit is never
    // destroyed.
    ~RawEchoSocket();
    RawEchoSocket(const RawEchoSocket&) = delete;
    RawEchoSocket& operator=(const RawEchoSocket&) = delete;

    // Opens the socket and starts its reader where that was not done yet, and
    // tries again after a failed try. The socket's descriptor, or -1 with
    // IcmpLastError set.
    int Open();

    // One exchange on the open socket, as EchoLayer::SendEcho: 1 with the
    // answer in *reply, or 0 with IcmpLastError set. Once the socket has
    // failed for good, every exchange fails at once with IP_GENERAL_FAILURE,
    // and so do those that were waiting.
    int Exchange(const EchoRequest& request, EchoReply* reply);

private:
    struct Shared;
    std::unique_ptr<Shared> shared;
};
