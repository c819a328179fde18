#include "icmp/EchoExchange.h"

#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

std::int64_t Nanoseconds(const timespec& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec Timespec(std::int64_t ns)
{
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

std::int64_t Now(clockid_t clock)
{
    timespec t {};
    clock_gettime(clock, &t);
    return Nanoseconds(t);
}

std::uint32_t RandomSeed()
{
    std::uint32_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed)
        seed = static_cast<std::uint32_t>(Now(CLOCK_MONOTONIC))
            ^ static_cast<std::uint32_t>(getpid());
    return seed;
}

std::uint32_t OpenFailureStatus(int error)
{
    return error == EMFILE || error == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : IP_GENERAL_FAILURE;
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
    case EPERM: // a firewall rule on this machine drops the request
        return ERROR_ACCESS_DENIED;
    default:
        return IP_GENERAL_FAILURE;
    }
}

namespace {

// A request dropped below the socket is tried again this many times at most,
// after pauses that start here and double each time: about 0.6 s in all.
constexpr int kDroppedTries = 8;
constexpr std::int64_t kFirstDropPauseNs = 5'000'000;

// Waits until the socket has room to send, or until `until`. Where poll
// returns for something else (a raw socket is also ready whenever its error
// queue holds a stamp), the try after it waits a millisecond, so that the
// wait never spins.
void WaitForRoom(int fd, std::int64_t until)
{
    pollfd p {fd, POLLOUT, 0};
    const timespec wait = Timespec(std::max<std::int64_t>(until - Now(CLOCK_MONOTONIC), 0));
    if (ppoll(&p, 1, &wait, nullptr) > 0 && !(p.revents & POLLOUT)) {
        const timespec pause = Timespec(1'000'000);
        clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
    }
}

} // namespace

std::uint32_t SendWhenRoom(
    int fd, std::int64_t timeoutNs, ExchangeTimes& times, const std::function<ssize_t()>& send)
{
    const std::int64_t roomUntil = Now(CLOCK_MONOTONIC) + timeoutNs;
    std::int64_t dropPause = kFirstDropPauseNs;
    for (int dropped = 0;;) {
        times.sentReal = Now(CLOCK_REALTIME);
        times.sentMonotonic = Now(CLOCK_MONOTONIC);
        if (send() >= 0)
            return IP_SUCCESS;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == ENOBUFS) {
            // Dropped below the socket: the queue of the device or of its
            // discipline is full (a saturated link, a shaper). The socket's
            // own buffer is empty, so a wait for room would return at once;
            // the queue may drain, so the request is tried again a few times.
            if (++dropped == kDroppedTries || times.sentMonotonic + dropPause >= roomUntil)
                return IP_NO_RESOURCES;
            const timespec pause = Timespec(dropPause);
            clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
            dropPause *= 2;
            continue;
        }
        // The socket's own send buffer is full: wait for room in it.
        if (error != EAGAIN && error != EWOULDBLOCK)
            return SendFailureStatus(error);
        if (times.sentMonotonic >= roomUntil)
            return IP_REQ_TIMED_OUT;
        WaitForRoom(fd, roomUntil);
    }
}

void AskForStamps(int fd, bool withPacketCopies)
{
    unsigned flags
        = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE;
    if (!withPacketCopies)
        flags |= SOF_TIMESTAMPING_OPT_TSONLY;
    const int on = 1;
    // Arrival stamps alone, where the kernel gives no more.
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) != 0)
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    if (withPacketCopies)
        setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
}

namespace {

// The software stamp of a SCM_TIMESTAMPING message: the first of its three.
std::optional<std::int64_t> SoftwareStamp(const cmsghdr* c)
{
    scm_timestamping stamps;
    std::memcpy(&stamps, CMSG_DATA(c), sizeof stamps);
    if (stamps.ts[0].tv_sec == 0 && stamps.ts[0].tv_nsec == 0)
        return std::nullopt;
    return Nanoseconds(stamps.ts[0]);
}

} // namespace

Arrival ReadArrival(msghdr& msg)
{
    Arrival arrival;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET)
            continue;
        if (c->cmsg_type == SCM_TIMESTAMPING && c->cmsg_len >= CMSG_LEN(sizeof(scm_timestamping))) {
            arrival.stamp = SoftwareStamp(c);
        } else if (c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            arrival.stamp = Nanoseconds(stamp);
        } else if (c->cmsg_type == SO_RXQ_OVFL && c->cmsg_len >= CMSG_LEN(sizeof(std::uint32_t))) {
            std::uint32_t drops;
            std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
            arrival.drops = drops;
        }
    }
    return arrival;
}

std::optional<std::int64_t> TransmitStamp(msghdr& msg)
{
    std::optional<std::int64_t> stamp;
    bool sent = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPING
            && c->cmsg_len >= CMSG_LEN(sizeof(scm_timestamping))) {
            stamp = SoftwareStamp(c);
        } else if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR
            && c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            sock_extended_err error;
            std::memcpy(&error, CMSG_DATA(c), sizeof error);
            sent = error.ee_origin == SO_EE_ORIGIN_TIMESTAMPING && error.ee_info == SCM_TSTAMP_SND;
        }
    }
    return sent ? stamp : std::nullopt;
}

RoundTrip MeasureRoundTrip(const ExchangeTimes& times, std::int64_t takenMonotonic)
{
    const std::int64_t elapsed = takenMonotonic - times.sentMonotonic;
    auto believable = [elapsed](std::int64_t t) { return t >= 0 && t <= elapsed; };
    if (times.arrivedStamp) {
        if (times.leftStamp && believable(*times.arrivedStamp - *times.leftStamp))
            return {*times.arrivedStamp - *times.leftStamp, true};
        if (believable(*times.arrivedStamp - times.sentReal))
            return {*times.arrivedStamp - times.sentReal, true};
    }
    return {std::max<std::int64_t>(elapsed, 0), false};
}

EchoReply AnswerReply(const PacketClass& answer)
{
    EchoReply reply;
    reply.answers = 1;
    reply.address = answer.source;
    reply.status = answer.status;
    reply.dataSize = static_cast<std::uint32_t>(answer.dataSize);
    const std::size_t kept = std::min(answer.data.size(), reply.data.size());
    std::copy_n(answer.data.begin(), kept, reply.data.begin());
    return reply;
}

EchoReply Timed(EchoReply reply, const ExchangeTimes& times, std::int64_t takenMonotonic,
    std::uint32_t timeoutMs)
{
    const std::int64_t timeoutNs = std::int64_t {timeoutMs} * 1'000'000;
    RoundTrip roundTrip = MeasureRoundTrip(times, takenMonotonic);
    if (!roundTrip.stamped) {
        // Without an arrival stamp the answer is known only to have been in
        // the socket when a read took it in, which at the deadline is just
        // after the timeout by construction: an answer read while its probe
        // still waited came in time.
        roundTrip.ns = std::min(roundTrip.ns, timeoutNs);
    } else if (roundTrip.ns > timeoutNs) {
        return NoAnswer(IP_REQ_TIMED_OUT);
    }
    reply.roundTripUs = static_cast<std::uint32_t>(roundTrip.ns / 1000);
    return reply;
}
