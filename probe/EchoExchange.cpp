#include "probe/EchoExchange.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

std::uint32_t RandomSeed()
{
    std::uint32_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed)
        seed = static_cast<std::uint32_t>(Now(CLOCK_MONOTONIC))
            ^ static_cast<std::uint32_t>(getpid());
    return seed;
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

int FailEcho(std::uint32_t status)
{
    SetIcmpLastError(status);
    return 0;
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

namespace {

// The kernel stamps each packet as it arrives, so the time a busy thread
// takes to get round to reading it does not count. Its stamps are on the
// real-time clock, which can be set while we wait; the monotonic measure
// then stands in.
std::uint32_t RoundTripMicroseconds(
    const SentRequest& sent, std::optional<std::int64_t> arrivedReal)
{
    const std::int64_t elapsed = Now(CLOCK_MONOTONIC) - sent.monotonic;
    std::int64_t roundTrip = elapsed;
    if (arrivedReal) {
        const std::int64_t stamped = *arrivedReal - sent.real;
        if (stamped >= 0 && stamped <= elapsed)
            roundTrip = stamped;
    }
    return static_cast<std::uint32_t>(std::max<std::int64_t>(roundTrip, 0) / 1'000);
}

} // namespace

void StoreAnswer(EchoReply* reply, const PacketClass& answer, const SentRequest& sent,
    std::optional<std::int64_t> arrivedReal)
{
    reply->address = answer.source;
    reply->status = answer.status;
    reply->roundTripUs = RoundTripMicroseconds(sent, arrivedReal);
    reply->dataSize = static_cast<std::uint32_t>(answer.data.size());
    const std::size_t kept = std::min(answer.data.size(), reply->data.size());
    std::copy_n(answer.data.begin(), kept, reply->data.begin());
}
