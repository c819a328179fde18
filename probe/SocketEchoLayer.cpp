#include "probe/SocketEchoLayer.h"

#include "probe/EchoExchange.h"
#include "probe/IcmpPacket.h"
#include "probe/IcmpSockets.h"
#include "probe/RawEchoSocket.h"

#include <time.h> // before linux/errqueue.h, which uses timespec without declaring it

#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// Identifier and sequence for the next request on a datagram socket. The
// kernel writes the socket's port into the identifier, and neighbouring
// probes hold ports one apart: so consecutive probes get sequences that
// differ in no simple way (a multiplicative hash of a counter), and a random
// start keeps processes apart.
EchoTag NextEchoTag(std::uint32_t destination)
{
    static std::atomic<std::uint32_t> next {RandomSeed()};
    const std::uint32_t count = next.fetch_add(1, std::memory_order_relaxed);
    return {static_cast<std::uint16_t>(count), static_cast<std::uint16_t>(count * 2654435761u),
        destination};
}

struct Exchange
{
    const EchoTag& tag;
    SentRequest sent;
    EchoReply* reply;

    void Store(const PacketClass& answer, std::optional<std::int64_t> arrivedReal) const
    {
        StoreAnswer(reply, answer, sent, arrivedReal);
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
            // A pending socket error is reported once, in place of a packet,
            // for the errors the socket also queues. It is not the answer
            // itself, which comes on the error queue.
            if (errno == EAGAIN || errno == EWOULDBLOCK || --errorsLeft == 0)
                return Drained::Empty;
            continue;
        }
        const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(n));
        const PacketClass answer = ClassifyIcmpPacket(
            bytes, IcmpSocketKind::Datagram, from.sin_addr.s_addr, exchange.tag);
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
    , raw(kind == IcmpSocketKind::Raw ? std::make_unique<RawEchoSocket>() : nullptr)
{ }

SocketEchoLayer::~SocketEchoLayer() = default;

EchoHandle SocketEchoLayer::CreateHandle() const
{
    // Every handle of the raw kind names the one shared socket.
    if (raw)
        return raw->Open();
    const int fd = OpenIcmpSocket(kind);
    if (fd < 0) {
        SetIcmpLastError(
            errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : IP_GENERAL_FAILURE);
        return kInvalidEchoHandle;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Datagram sockets learn of ICMP errors about their requests only this
    // way.
    setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    return fd;
}

int SocketEchoLayer::SendEcho(EchoHandle handle, const EchoRequest& request, EchoReply* reply) const
{
    if (raw)
        return raw->Exchange(request, reply);

    const int ttl = request.ttl;
    if (setsockopt(handle, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0)
        return FailEcho(ttl == 0 ? IP_BAD_OPTION : IP_GENERAL_FAILURE);

    EchoTag tag = NextEchoTag(request.destination);
    std::uint8_t packet[kMaxEchoRequestSize];
    const std::size_t size = BuildEchoRequest(
        packet, tag, std::span<const std::uint8_t>(request.data, request.dataSize));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;

    const SentRequest sent {Now(CLOCK_REALTIME), Now(CLOCK_MONOTONIC)};
    if (sendto(handle, packet, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return FailEcho(SendFailureStatus(errno));
    // The kernel writes the socket's port into the identifier field.
    tag.identifier = LocalPort(handle);

    const Exchange exchange {tag, sent, reply};
    const std::int64_t deadline = sent.monotonic + std::int64_t {request.timeout} * 1'000'000;
    for (;;) {
        const std::int64_t left = std::max<std::int64_t>(deadline - Now(CLOCK_MONOTONIC), 0);
        const timespec wait {
            static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        pollfd p {handle, POLLIN, 0};
        const int ready = ppoll(&p, 1, &wait, nullptr);
        if ((ready < 0 && errno != EINTR) || (ready > 0 && (p.revents & POLLNVAL)))
            return FailEcho(IP_GENERAL_FAILURE);
        if (ready > 0) {
            if ((p.revents & POLLERR) && DrainErrorQueue(handle, exchange) == Drained::Answered)
                return 1;
            if (DrainReceived(handle, exchange) == Drained::Answered)
                return 1;
        }
        // Checked after reading, so that what is already there counts even
        // with no time left, and a stream of foreign packets cannot keep the
        // wait going past the timeout.
        if (left == 0)
            return FailEcho(IP_REQ_TIMED_OUT);
    }
}

void SocketEchoLayer::CloseHandle(EchoHandle handle) const
{
    if (!raw)
        close(handle);
}
