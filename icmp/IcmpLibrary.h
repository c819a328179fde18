#pragma once

#include "icmp/IcmpSocketKind.h"

#include <cstdint>
#include <memory>
#include <optional>

class EchoLayer;

// The process-wide holder of the echo layer that probes send through. The
// first Load of the process finds which ICMP socket kind the kernel allows,
// the datagram kind first and the raw kind as the fallback, and that answer
// holds for the life of the process, also when it is that neither works.
class IcmpLibrary
{
public:
    // 1 when probes can be sent, 0 otherwise. Safe to enter from many threads
    // at once: those that come while the first call is at work wait for it.
    // When no kind works, one line on standard error says how to allow one.
    static int Load();

    // The echo layer Load settled on; only after Load has returned 1.
    static const EchoLayer& Echo();
    static IcmpSocketKind Kind();
    // Answers the kernel dropped for want of room in the receive queue of
    // the raw kind's shared socket; 0 for the datagram kind, and where no
    // kind works.
    static std::uint32_t ReceiveDrops();

    // The socket kind that can be opened now, tried anew on every call.
    static std::optional<IcmpSocketKind> FindWorkingKind();

    // A new echo layer on sockets of the kind.
    static std::unique_ptr<EchoLayer> MakeEcho(IcmpSocketKind kind);
};
