#include "probe/SocketEchoLayer.h"

#include "probe/IcmpPacket.h"
#include "probe/IcmpSockets.h"
#include "probe/RawReplyFilter.h"

#include <time.h> // before linux/errqueue.h, which uses timespec without declaring it

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// Room for the largest answer worth reading: IP header with options, ICMP
// header and 255 bytes of data, or an error quoting such a request. A longer
// packet is cut short, and an echo cut short still shows more data than any
// request carries.
constexpr std::size_t kReceiveBufferSize = 1024;

std::int64_t Nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::int64_t Now(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return Nanoseconds(t);
}

std::uint32_t RandomStart()
{
    std::uint32_t start = 0;
    if (getrandom(&start, sizeof start, GRND_NONBLOCK) != sizeof start)
        start = static_cast<std::uint32_t>(Now(CLOCK_MONOTONIC))
            ^ static_cast<std::uint32_t>(getpid());
    return start;
}

// Identifier and sequence for the next request. Raw sockets of all probes see
// each other's replies, and datagram sockets take the identifier from their
// port, which neighbouring probes hold one apart: so consecutive probes get
// different identifiers and sequences that differ in no simple way (a
// multiplicative hash of a counter), and a random start keeps processes apart.
EchoTag NextEchoTag(std::uint32_t destination)
{
    static std::atomic<std::uint32_t> next {RandomStart()};
    const std::uint32_t count = next.fetch_add(1, std::memory_order_relaxed);
    return {static_cast<std::uint16_t>(count), static_cast<std::uint16_t>(count * 2654435761u),
        destination};
}

std::uint32_t SendFailureStatus(int error)
{
    switch (error) {
    case ENETUNREACH:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
        return IP_DEST_HOST_UNREACHABLE;
    case EACCES: // a broadcast address, which these sockets may not send to
    case EINVAL:
        return IP_BAD_DESTINATION;
    case EMSGSIZE:
        return IP_PACKET_TOO_BIG;
    default:
        return IP_GENERAL_FAILURE;
    }
}

int Fail(std::uint32_t status)
{
    SetIcmpLastError(status);
    return 0;
}

// The kernel stamps each packet as it arrives, so the time a busy thread
// takes to get round to reading it does not count. Its stamps are on the
// real-time clock, which can be set while we wait; the monotonic measure
// then stands in.
std::uint32_t RoundTripMilliseconds(
    std::int64_t sentReal, std::optional<std::int64_t> arrivedReal, std::int64_t sentMonotonic)
{
    const std::int64_t elapsed = Now(CLOCK_MONOTONIC) - sentMonotonic;
    std::int64_t roundTrip = elapsed;
    if (arrivedReal) {
        const std::int64_t stamped = *arrivedReal - sentReal;
        if (stamped >= 0 && stamped <= elapsed)
            roundTrip = stamped;
    }
    return static_cast<std::uint32_t>(std::max<std::int64_t>(roundTrip, 0) / 1'000'000);
}

std::optional<std::int64_t> ArrivalStamp(msghdr& msg)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return Nanoseconds(stamp);
        }
    }
    return std::nullopt;
}

struct Exchange
{
    const EchoTag& tag;
    IcmpSocketKind kind;
    std::int64_t sentReal;
    std::int64_t sentMonotonic;
    EchoReply* reply;

    void Store(const PacketClass& answer, std::optional<std::int64_t> arrivedReal) const
    {
        reply->address = answer.source;
        reply->status = answer.status;
        reply->roundTripTime = RoundTripMilliseconds(sentReal, arrivedReal, sentMonotonic);
        reply->dataSize = static_cast<std::uint32_t>(answer.data.size());
        const std::size_t kept = std::min(answer.data.size(), reply->data.size());
        std::copy_n(answer.data.begin(), kept, reply->data.begin());
    }
};

// A header for recvmsg into one buffer, with the packet's address and room
// for ancillary data.
msghdr ReceiveHeader(sockaddr_in* address, iovec* iov, void* control, std::size_t controlSize)
{
    msghdr msg {};
    msg.msg_name = address;
    msg.msg_namelen = sizeof *address;
    msg.msg_iov = iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = controlSize;
    return msg;
}

enum class Drained {
    Empty,
    Answered,
};

// Reads what has arrived until an answer to the request turns up.
Drained DrainReceived(int fd, const Exchange& exchange)
{
    std::uint8_t buffer[kReceiveBufferSize];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec)) + 64];
    int errorsLeft = 4;
    for (;;) {
        sockaddr_in from {};
        iovec iov {buffer, sizeof buffer};
        msghdr msg = ReceiveHeader(&from, &iov, control, sizeof control);
        const ssize_t n = recvmsg(fd, &msg, MSG_DONTWAIT);
        if (n < 0) {
            // A pending socket error is reported once, in place of a packet:
            // a raw socket gets one for ICMP errors about any raw ICMP
            // traffic of the host, a datagram socket for the errors it also
            // queues. Neither is the answer itself, which comes as a packet
            // or on the error queue.
            if (errno == EAGAIN || errno == EWOULDBLOCK || --errorsLeft == 0)
                return Drained::Empty;
            continue;
        }
        const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(n));
        const PacketClass answer
            = ClassifyIcmpPacket(bytes, exchange.kind, from.sin_addr.s_addr, exchange.tag);
        if (answer.verdict != PacketVerdict::NotOurs) {
            exchange.Store(answer, ArrivalStamp(msg));
            return Drained::Answered;
        }
    }
}

// Reads a datagram socket's error queue, where the kernel puts the ICMP
// errors about the requests it sent, until one about this request turns up.
Drained DrainErrorQueue(int fd, const Exchange& exchange)
{
    std::uint8_t buffer[kReceiveBufferSize];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(sock_extended_err) + sizeof(sockaddr_in))
        + CMSG_SPACE(sizeof(timespec)) + 64];
    for (;;) {
        sockaddr_in destination {};
        iovec iov {buffer, sizeof buffer};
        msghdr msg = ReceiveHeader(&destination, &iov, control, sizeof control);
        const ssize_t n = recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            return Drained::Empty;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
                continue;
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            PacketClass answer;
            if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
                sockaddr_in offender {};
                if (c->cmsg_len >= CMSG_LEN(sizeof error + sizeof offender))
                    std::memcpy(&offender, CMSG_DATA(c) + sizeof error, sizeof offender);
                answer = ClassifyQueuedIcmpError(error.ee_type, error.ee_code,
                    std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)),
                    destination.sin_addr.s_addr, offender.sin_addr.s_addr, exchange.tag);
            } else if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
                // The local stack gave up on the one request this socket sent.
                answer = {PacketVerdict::Error, IP_GENERAL_FAILURE, 0, {}};
            }
            if (answer.verdict != PacketVerdict::NotOurs) {
                exchange.Store(answer, std::nullopt);
                return Drained::Answered;
            }
        }
    }
}

void DiscardReceived(int fd)
{
    std::uint8_t buffer[kReceiveBufferSize];
    for (int errorsLeft = 4;;) {
        if (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) < 0
            && (errno == EAGAIN || errno == EWOULDBLOCK || --errorsLeft == 0))
            return;
    }
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in local {};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

} // namespace

SocketEchoLayer::SocketEchoLayer(IcmpSocketKind kind)
    : kind(kind)
{ }

EchoHandle SocketEchoLayer::CreateHandle() const
{
    const int fd = OpenIcmpSocket(kind);
    if (fd < 0) {
        SetIcmpLastError(
            errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : IP_GENERAL_FAILURE);
        return kInvalidEchoHandle;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Datagram sockets learn of ICMP errors about their requests only this
    // way; raw sockets see the error packets themselves.
    if (kind == IcmpSocketKind::Datagram)
        setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    return fd;
}

int SocketEchoLayer::SendEcho(EchoHandle handle, const EchoRequest& request, EchoReply* reply) const
{
    const int ttl = request.ttl;
    if (setsockopt(handle, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0)
        return Fail(ttl == 0 ? IP_BAD_OPTION : IP_GENERAL_FAILURE);

    EchoTag tag = NextEchoTag(request.destination);
    // Without the filter every probe's thread would wake for every ICMP
    // packet of the host; with it failing, they still get the right answer.
    // What came in unfiltered since the socket was opened is thrown away: none
    // of it can answer a request not yet sent, and a busy host's traffic
    // could have filled the receive buffer, leaving no room for the answer.
    if (kind == IcmpSocketKind::Raw) {
        AttachRawReplyFilter(handle, tag.identifier);
        DiscardReceived(handle);
    }

    std::uint8_t packet[kMaxEchoRequestSize];
    const std::size_t size = BuildEchoRequest(
        packet, tag, std::span<const std::uint8_t>(request.data, request.dataSize));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;

    const std::int64_t sentMonotonic = Now(CLOCK_MONOTONIC);
    const std::int64_t sentReal = Now(CLOCK_REALTIME);
    if (sendto(handle, packet, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return Fail(SendFailureStatus(errno));
    // The kernel writes a datagram socket's port into the identifier field.
    if (kind == IcmpSocketKind::Datagram)
        tag.identifier = LocalPort(handle);

    const Exchange exchange {tag, kind, sentReal, sentMonotonic, reply};
    const std::int64_t deadline = sentMonotonic + std::int64_t {request.timeout} * 1'000'000;
    for (;;) {
        const std::int64_t left = std::max<std::int64_t>(deadline - Now(CLOCK_MONOTONIC), 0);
        const timespec wait {
            static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        pollfd p {handle, POLLIN, 0};
        const int ready = ppoll(&p, 1, &wait, nullptr);
        if ((ready < 0 && errno != EINTR) || (ready > 0 && (p.revents & POLLNVAL)))
            return Fail(IP_GENERAL_FAILURE);
        if (ready > 0) {
            if (kind == IcmpSocketKind::Datagram && (p.revents & POLLERR)
                && DrainErrorQueue(handle, exchange) == Drained::Answered)
                return 1;
            if (DrainReceived(handle, exchange) == Drained::Answered)
                return 1;
        }
        // Checked after reading, so that what is already there counts even
        // with no time left, and a stream of foreign packets cannot keep the
        // wait going past the timeout.
        if (left == 0)
            return Fail(IP_REQ_TIMED_OUT);
    }
}

void SocketEchoLayer::CloseHandle(EchoHandle handle) const
{
    close(handle);
}
