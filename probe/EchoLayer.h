#pragma once

#include "probe/IcmpStatus.h"

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

// The one answer SendEcho hands back: an echo reply (status IP_SUCCESS) or an
// ICMP error about the request (status says which).
struct EchoReply
{
    std::uint32_t address = 0; // who answered, network byte order
    std::uint32_t status = IP_SUCCESS;
    std::uint32_t roundTripUs = 0; // microseconds, truncated
    std::uint32_t dataSize = 0; // bytes echoed; may be more than data has room for
    std::array<std::uint8_t, 255> data {}; // the first of them
};

using EchoHandle = int;
constexpr EchoHandle kInvalidEchoHandle = -1;

// What IcmpProbe sends through: open a handle, send one echo request and wait
// for exactly one answer to it or the timeout, close the handle. A handle
// serves one probe and is never shared. Failures set IcmpLastError.
class EchoLayer
{
public:
    virtual ~EchoLayer() = default;

    virtual EchoHandle CreateHandle() const = 0;
    // The number of answers stored in *reply: 1, or 0 on timeout or failure.
    virtual int SendEcho(EchoHandle handle, const EchoRequest& request, EchoReply* reply) const = 0;
    virtual void CloseHandle(EchoHandle handle) const = 0;
};
