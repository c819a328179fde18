#pragma once

#include "probe/IcmpStatus.h"

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

// One ICMP echo exchange with the host, a dotted IPv4 address or a name that
// is looked up anew on every call (its first IPv4 address is used): one
// request with the TTL and dataSize bytes of 'E', and up to timeout
// milliseconds of waiting for its answer. Returns 1 and fills *reply when a
// true echo came back; returns 0, leaves *reply untouched and says why in
// IcmpLastError (and who answered so in IcmpLastErrorSource) otherwise.
// Blocks the calling thread; safe on many at once.
int IcmpProbe(const char* host, ProbeReply* reply, std::uint8_t ttl, std::uint32_t timeout,
    std::uint8_t dataSize);

// The same through a given echo layer rather than the one IcmpLibrary loads.
int IcmpProbe(const EchoLayer& echo, const char* host, ProbeReply* reply, std::uint8_t ttl,
    std::uint32_t timeout, std::uint8_t dataSize);

// The tests an answer must pass, in this order: status success, dataSize
// bytes of data, every one 'E'. IP_SUCCESS when it passes, else the reason.
std::uint32_t JudgeEchoReply(const EchoReply& reply, std::uint8_t dataSize);
