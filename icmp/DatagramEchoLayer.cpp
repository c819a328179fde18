#include "icmp/DatagramEchoLayer.h"

#include "icmp/EchoExchange.h"
#include "icmp/IcmpPacket.h"
#include "icmp/IcmpSockets.h"

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

// The tag for the next request on a datagram socket. The kernel writes the
// socket's port into the identifier, and neighbouring probes hold ports one
// apart: so consecutive probes get spread sequences, and a random start keeps
// processes apart.
EchoTag NextEchoTag(std::uint32_t destination)
{
    static std::atomic<std::uint32_t> next {RandomSeed()};
    const std::uint32_t count = next.fetch_add(1, std::memory_order_relaxed);
    return {{static_cast<std::uint16_t>(count), SpreadSequence(count)}, destination};
}

// One request on its own datagram socket, from the send to its answer.
struct Exchange
{
    int fd;
    EchoTag tag;
    ExchangeTimes times;
    std::optional<EchoReply> reply;
    std::int64_t taken = 0; // when the answer was read

    void Take(const PacketClass& answer)
    {
        reply = AnswerReply(answer);
        taken = Now(CLOCK_MONOTONIC);
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

// Reads what has arrived until an answer to the request turns up; how many
// packets it read.
int DrainReceived(Exchange& exchange)
{
    std::uint8_t buffer[kReceiveBufferSize];
    alignas(cmsghdr) char control[kControlSize];
    int errorsLeft = 4;
    int packets = 0;
    for (; !exchange.reply; ++packets) {
        sockaddr_in from {};
        iovec iov {buffer, sizeof buffer};
        msghdr msg = ReceiveHeader(&from, &iov, control, sizeof control);
        const ssize_t n = recvmsg(exchange.fd, &msg, MSG_DONTWAIT);
        if (n < 0) {
            // A pending socket error is reported once, in place of a packet,
            // for the errors the socket also queues. It is not the answer
            // itself, which comes on the error queue.
            if (errno == EAGAIN || errno == EWOULDBLOCK || --errorsLeft == 0)
                return packets;
            continue;
        }
        // A datagram socket says that it cut a packet short, not by how
        // much: the packet was at least a byte longer.
        const auto read = std::min(static_cast<std::size_t>(n), sizeof buffer);
        const std::size_t arrived
            = (msg.msg_flags & MSG_TRUNC) ? std::max(read + 1, static_cast<std::size_t>(n)) : read;
        const std::span<const std::uint8_t> bytes(buffer, read);
        const PacketClass answer = ClassifyIcmpPacket(
            bytes, arrived, IcmpSocketKind::Datagram, from.sin_addr.s_addr, exchange.tag);
        if (answer.verdict != PacketVerdict::NotOurs) {
            exchange.times.arrivedStamp = ReadArrival(msg).stamp;
            exchange.Take(answer);
        }
    }
    return packets;
}

// Reads the socket's error queue: the kernel's stamp of the request leaving,
// and the ICMP errors about it, until one of those turns up; how many entries
// it read.
int DrainErrorQueue(Exchange& exchange)
{
    std::uint8_t buffer[kReceiveBufferSize];
    alignas(cmsghdr) char control[kControlSize];
    int entries = 0;
    for (; !exchange.reply; ++entries) {
        sockaddr_in destination {};
        iovec iov {buffer, sizeof buffer};
        msghdr msg = ReceiveHeader(&destination, &iov, control, sizeof control);
        const ssize_t n = recvmsg(exchange.fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (n < 0)
            return entries;
        if (const std::optional<std::int64_t> left = TransmitStamp(msg)) {
            exchange.times.leftStamp = left;
            continue;
        }
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
                exchange.times.arrivedStamp = ReadArrival(msg).stamp;
                exchange.Take(answer);
                break;
            }
        }
    }
    return entries;
}

void ReadTransmitStamp(Exchange& exchange)
{
    alignas(cmsghdr) char control[kControlSize];
    msghdr msg {};
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    if (recvmsg(exchange.fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) >= 0)
        exchange.times.leftStamp = TransmitStamp(msg);
}

std::uint16_t LocalPort(int fd)
{
    sockaddr_in local {};
    socklen_t length = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

EchoReply DatagramExchange(int fd, const EchoRequest& request)
{
    const int ttl = request.ttl;
    if (setsockopt(fd, SOL_IP, IP_TTL, &ttl, sizeof ttl) != 0)
        return NoAnswer(ttl == 0 ? IP_BAD_OPTION : IP_GENERAL_FAILURE);

    Exchange exchange {fd, NextEchoTag(request.destination), {}, {}};
    std::uint8_t packet[kMaxEchoRequestSize];
    const std::size_t size = BuildEchoRequest(
        packet, exchange.tag, std::span<const std::uint8_t>(request.data, request.dataSize));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;

    const std::int64_t timeoutNs = std::int64_t {request.timeout} * 1'000'000;
    const std::uint32_t sent = SendWhenRoom(fd, timeoutNs, exchange.times, [&] {
        return sendto(
            fd, packet, size, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    });
    if (sent != IP_SUCCESS)
        return NoAnswer(sent);
    // The kernel writes the socket's port into the identifier field.
    exchange.tag.identifier = LocalPort(fd);

    const std::int64_t deadline = exchange.times.sentMonotonic + timeoutNs;
    for (;;) {
        const std::int64_t left = std::max<std::int64_t>(deadline - Now(CLOCK_MONOTONIC), 0);
        const timespec wait = Timespec(left);
        pollfd p {fd, POLLIN, 0};
        const int ready = ppoll(&p, 1, &wait, nullptr);
        if ((ready < 0 && errno != EINTR) || (ready > 0 && (p.revents & POLLNVAL)))
            return NoAnswer(IP_GENERAL_FAILURE);
        // What is already there counts even with no time left: an answer
        // that came within the timeout is taken, and one that came later is
        // judged a timeout by its arrival stamp. A stream of foreign packets
        // cannot keep the wait going past the timeout.
        if (ready > 0 || left == 0) {
            const int read = DrainErrorQueue(exchange);
            if (read + DrainReceived(exchange) == 0 && left > 0) {
                // Ready, yet nothing to read (a shortage of memory): a
                // pause, so that the wait never spins.
                const timespec pause = Timespec(1'000'000);
                clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
            }
        }
        if (exchange.reply) {
            // The stamp of the request leaving comes before its answer, but
            // where a queue held the request back it may follow it.
            if (!exchange.times.leftStamp)
                ReadTransmitStamp(exchange);
            return Timed(*exchange.reply, exchange.times, exchange.taken, request.timeout);
        }
        if (left == 0)
            return NoAnswer(IP_REQ_TIMED_OUT);
    }
}

} // namespace

DatagramEchoLayer::DatagramEchoLayer()
{
    // The kernel stamps arriving packets only while some socket asks for it,
    // and once none has, it starts again only later, from a work queue: the
    // answers to the first probes after a quiet spell came unstamped, and
    // their round trips took in the wait for a core. A socket that asks for
    // the life of the layer keeps the stamps on.
    stampKeeper_ = OpenIcmpSocket(IcmpSocketKind::Datagram);
    if (stampKeeper_ >= 0)
        AskForStamps(stampKeeper_, false);
}

DatagramEchoLayer::~DatagramEchoLayer()
{
    if (stampKeeper_ >= 0)
        close(stampKeeper_);
}

EchoHandle DatagramEchoLayer::CreateHandle(std::uint32_t* failure) const
{
    const int fd = OpenIcmpSocket(IcmpSocketKind::Datagram);
    if (fd < 0) {
        *failure = OpenFailureStatus(errno);
        return kInvalidEchoHandle;
    }
    AskForStamps(fd, false);
    // Datagram sockets learn of ICMP errors about their requests only this
    // way.
    const int on = 1;
    setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
    return fd;
}

EchoReply DatagramEchoLayer::SendEcho(EchoHandle handle, const EchoRequest& request) const
{
    return DatagramExchange(handle, request);
}

void DatagramEchoLayer::CloseHandle(EchoHandle handle) const
{
    close(handle);
}
