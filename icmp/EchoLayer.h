#pragma once

#include "icmp/IcmpStatus.h"

#include <array>
#include <cstdint>

// One echo request as the probe hands it down; the destination is in network
// byte order, the timeout in milliseconds.
struct EchoRequest
{
    std::uint32_t destination = 0;
    std::uint8_t ttl = 0;
    const std::uint8_t* data = nullptr;
    std::uint8_t dataSize = 0;
    std::uint32_t timeout = 0;
};

// What SendEcho hands back: the one answer, an echo reply (status IP_SUCCESS)
// or an ICMP error about the request (status says which); or, with no answer,
// why there is none (IP_REQ_TIMED_OUT, or why the request could not be sent).
struct EchoReply
{
    int answers = 0; // 1 when an answer is stored here, else 0
    std::uint32_t status = IP_REQ_TIMED_OUT;
    std::uint32_t address = 0; // who answered, network byte order
    std::uint32_t roundTripUs = 0; // microseconds, truncated
    std::uint32_t dataSize = 0; // bytes echoed; may be more than data has room for
    std::array<std::uint8_t, 255> data {}; // the first of them
};

// No answer, and why.
inline EchoReply NoAnswer(std::uint32_t status)
{
    EchoReply reply;
    reply.status = status;
    return reply;
}

using EchoHandle = int;
constexpr EchoHandle kInvalidEchoHandle = -1;

// What IcmpProbe sends through: open a handle, send one echo request and wait
// for exactly one answer to it or the timeout, close the handle. A handle
// serves one probe and is never shared.
class EchoLayer
{
public:
    virtual ~EchoLayer() = default;

    // A handle, or kInvalidEchoHandle with *failure saying why.
    virtual EchoHandle CreateHandle(std::uint32_t* failure) const = 0;
    virtual EchoReply SendEcho(EchoHandle handle, const EchoRequest& request) const = 0;
    virtual void CloseHandle(EchoHandle handle) const = 0;

    // Answers the kernel dropped for want of room in a receive queue, where
    // the layer's sockets count them.
    virtual std::uint32_t ReceiveDrops() const { return 0; }
};
