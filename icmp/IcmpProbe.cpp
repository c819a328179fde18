#include "icmp/IcmpProbe.h"

#include "icmp/EchoLayer.h"
#include "icmp/IcmpLibrary.h"
#include "icmp/Resolver.h"

#include <algorithm>
#include <optional>

namespace {
constexpr std::uint8_t kDataByte = 0x45; // 'E'
}

ProbeOutcome IcmpProbe(
    const char* host, std::uint8_t ttl, std::uint32_t timeout, std::uint8_t dataSize)
{
    if (!IcmpLibrary::Load())
        return {ERROR_MOD_NOT_FOUND};
    return IcmpProbe(IcmpLibrary::Echo(), host, ttl, timeout, dataSize);
}

ProbeOutcome IcmpProbe(const EchoLayer& echo, const char* host, std::uint8_t ttl,
    std::uint32_t timeout, std::uint8_t dataSize)
{
    const std::optional<std::uint32_t> destination = ResolveHostText(host);
    if (!destination)
        return {WSAHOST_NOT_FOUND};
    std::uint32_t failure = IP_GENERAL_FAILURE;
    const EchoHandle handle = echo.CreateHandle(&failure);
    if (handle == kInvalidEchoHandle)
        return {failure};

    std::uint8_t data[255];
    std::fill_n(data, dataSize, kDataByte);
    const EchoReply answer = echo.SendEcho(handle, {*destination, ttl, data, dataSize, timeout});
    echo.CloseHandle(handle);

    // With no answer, or more than one, the echo layer's reason stands.
    if (answer.answers != 1)
        return {answer.answers == 0 ? answer.status : IP_GENERAL_FAILURE};
    const std::uint32_t status = JudgeEchoReply(answer, dataSize);
    if (status != IP_SUCCESS)
        return {status, answer.address};
    return {IP_SUCCESS, 0, {answer.address, answer.roundTripUs / 1000, answer.roundTripUs}};
}

std::uint32_t JudgeEchoReply(const EchoReply& reply, std::uint8_t dataSize)
{
    if (reply.status != IP_SUCCESS)
        return reply.status;
    if (reply.dataSize != dataSize)
        return ERROR_UNEXP_NET_ERR;
    const auto first = reply.data.begin();
    if (std::find_if(first, first + dataSize, [](std::uint8_t b) { return b != kDataByte; })
        != first + dataSize)
        return ERROR_UNEXP_NET_ERR;
    return IP_SUCCESS;
}
