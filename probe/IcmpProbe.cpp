#include "probe/IcmpProbe.h"

#include "hosts/Resolver.h"
#include "probe/EchoLayer.h"
#include "probe/IcmpLibrary.h"

#include <algorithm>
#include <optional>

namespace {
constexpr std::uint8_t kDataByte = 0x45; // 'E'
}

int IcmpProbe(const char* host, ProbeReply* reply, std::uint8_t ttl, std::uint32_t timeout,
    std::uint8_t dataSize)
{
    if (!IcmpLibrary::Load()) {
        SetIcmpLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    return IcmpProbe(IcmpLibrary::Echo(), host, reply, ttl, timeout, dataSize);
}

int IcmpProbe(const EchoLayer& echo, const char* host, ProbeReply* reply, std::uint8_t ttl,
    std::uint32_t timeout, std::uint8_t dataSize)
{
    const std::optional<std::uint32_t> destination = ResolveHostText(host);
    if (!destination) {
        SetIcmpLastError(WSAHOST_NOT_FOUND);
        return 0;
    }
    const EchoHandle handle = echo.CreateHandle();
    if (handle == kInvalidEchoHandle)
        return 0;

    std::uint8_t data[255];
    std::fill_n(data, dataSize, kDataByte);
    const EchoRequest request {*destination, ttl, data, dataSize, timeout};
    EchoReply answer;
    bool passed = false;
    // With no answer, or more than one, the echo layer's reason stands.
    if (echo.SendEcho(handle, request, &answer) == 1) {
        const std::uint32_t status = JudgeEchoReply(answer, dataSize);
        SetIcmpLastError(status, status == IP_SUCCESS ? 0 : answer.address);
        passed = status == IP_SUCCESS;
    }
    echo.CloseHandle(handle);

    if (!passed)
        return 0;
    reply->replyAddress = answer.address;
    reply->roundTripTime = answer.roundTripUs / 1000;
    reply->roundTripUs = answer.roundTripUs;
    return 1;
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
