#pragma once

#include "icmp/EchoLayer.h"
#include "icmp/IcmpPacket.h"

#include <sys/socket.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

// What both of the echo layer's socket paths do alike: their clocks and the
// kernel's stamps, how a failed send reads as a status, and how an answer
// becomes the reply.

// Room for the largest answer worth reading in full: IP header with options,
// ICMP header and 255 bytes of data, or an error quoting such a request. A
// longer packet is cut short and judged by its header.
constexpr std::size_t kReceiveBufferSize = 1024;

// Room for the ancillary data of one received message or error-queue entry:
// the kernel's stamps, the receive queue's drop count, an extended error with
// its offender's address.
constexpr std::size_t kControlSize = 256;

std::int64_t Nanoseconds(const timespec& t);
timespec Timespec(std::int64_t ns);
std::int64_t Now(clockid_t clock);

// A random number to start a process's identifiers from, so that processes
// probing at the same time keep apart.
std::uint32_t RandomSeed();

// The status for a socket the kernel refused to open, by its errno.
std::uint32_t OpenFailureStatus(int error);
// The status for a request that the kernel refused to send, by its errno.
std::uint32_t SendFailureStatus(int error);

// Asks the kernel for its software stamps on the socket: when each request
// leaves (an entry on the error queue) and when each packet arrives, both on
// the real-time clock. A datagram socket sends one request, so a stamp alone
// tells enough; a raw socket is shared, and the entry carries a copy of the
// packet, so that the stamp can be matched to its request. The raw socket also
// counts the packets its receive queue had no room for. Where the kernel
// refuses stamps, the program reads its clocks around the send.
void AskForStamps(int fd, bool withPacketCopies);

// What the ancillary data of a received packet says.
struct Arrival
{
    std::optional<std::int64_t> stamp; // the kernel's arrival stamp
    std::optional<std::uint32_t> drops; // packets dropped by the receive queue so far
};
Arrival ReadArrival(msghdr& msg);

// The transmit stamp of an error-queue entry, when it is one.
std::optional<std::int64_t> TransmitStamp(msghdr& msg);

// The clocks of one exchange: read just before the send that went out, and
// the kernel's stamps as its request left and its answer arrived.
struct ExchangeTimes
{
    std::int64_t sentReal = 0;
    std::int64_t sentMonotonic = 0;
    std::optional<std::int64_t> leftStamp;
    std::optional<std::int64_t> arrivedStamp;
};

// The round trip of an answer taken in at `takenMonotonic`: the kernel's
// stamps at both ends where both are there, else from just before the send
// to the arrival stamp (stamped), else to when it was taken in (not). A
// stamped time counts only within what the monotonic clock measured, for the
// real-time clock may be set meanwhile.
struct RoundTrip
{
    std::int64_t ns = 0;
    bool stamped = false; // by the kernel's arrival stamp
};
RoundTrip MeasureRoundTrip(const ExchangeTimes& times, std::int64_t takenMonotonic);

// The reply for an answer, its round trip not yet known.
EchoReply AnswerReply(const PacketClass& answer);
// The reply with the round trip of its answer, taken in at `takenMonotonic`, in
// microseconds; a timeout instead for an answer whose arrival stamp says it
// came later than `timeoutMs` after its request left. An answer without an
// arrival stamp was taken in while its probe waited, at the latest by the
// read at its deadline: it counts, its round trip at most the timeout.
EchoReply Timed(EchoReply reply, const ExchangeTimes& times, std::int64_t takenMonotonic,
    std::uint32_t timeoutMs);

// Sends one request by `send`, a try that never blocks. Where the socket's
// send buffer is full, it waits up to `timeoutNs` for room; where the request
// was dropped below the socket (ENOBUFS), it tries again a few times, after
// growing pauses. The clocks in `times` are read just before each try, so
// that the wait is no part of the round trip and the answer has its whole
// timeout from when the request left. IP_SUCCESS once sent; else the status
// of the refusal: IP_REQ_TIMED_OUT when room never came, IP_NO_RESOURCES when
// every try was dropped.
std::uint32_t SendWhenRoom(
    int fd, std::int64_t timeoutNs, ExchangeTimes& times, const std::function<ssize_t()>& send);
