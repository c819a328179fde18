#pragma once

#include "icmp/IcmpStatus.h"

#include <cstdint>

class EchoLayer;
struct EchoReply;

// What a successful probe hands back.
struct ProbeReply
{
    std::uint32_t replyAddress; // who answered, network byte order
    std::uint32_t roundTripTime; // whole milliseconds, truncated
    std::uint32_t roundTripUs; // the same to the microsecond, truncated
};

// What one probe came to, as one value: a true echo (IP_SUCCESS) and its
// reply, or why it failed and who said so.
struct ProbeOutcome
{
    std::uint32_t status = IP_GENERAL_FAILURE;
    // Who sent the answer that failed the probe (network byte order): the
    // router or host whose ICMP error it was, or the host whose reply was
    // damaged. 0 when no answer came, or when this machine's own stack gave
    // up: a status such as "net unreachable" then means that the request was
    // never sent.
    std::uint32_t source = 0;
    ProbeReply reply {}; // only for a true echo

    bool Answered() const { return status == IP_SUCCESS; }
};

// One ICMP echo exchange with the host, a dotted IPv4 address or a name that
// is looked up anew on every call (its first IPv4 address is used): one
// request with the TTL and dataSize bytes of 'E', and up to timeout
// milliseconds of waiting for its answer. Blocks the calling thread; safe on
// many at once.
ProbeOutcome IcmpProbe(
    const char* host, std::uint8_t ttl, std::uint32_t timeout, std::uint8_t dataSize);

// The same through a given echo layer rather than the one IcmpLibrary loads.
ProbeOutcome IcmpProbe(const EchoLayer& echo, const char* host, std::uint8_t ttl,
    std::uint32_t timeout, std::uint8_t dataSize);

// The tests an answer must pass, in this order: status success, dataSize
// bytes of data, every one 'E'. IP_SUCCESS when it passes, else the reason.
std::uint32_t JudgeEchoReply(const EchoReply& reply, std::uint8_t dataSize);
