// The steps of one probe and their order, through a scripted echo layer.

#include "probe/IcmpProbe.h"
#include "probe/EchoLayer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr EchoHandle kHandle = 7;
constexpr std::uint32_t kEarlierError = 777;
constexpr ProbeReply kUntouched {0xdeadbeef, 0xdeadbeef, 0xdeadbeef};

EchoReply TrueEcho(std::uint8_t size = 32)
{
    EchoReply reply;
    reply.address = 0x0a0012c6;
    reply.roundTripUs = 12'345;
    reply.dataSize = size;
    reply.data.fill(0x45);
    return reply;
}

// Plays the part of the echo layer as told, and notes what it was asked.
class ScriptedEcho : public EchoLayer
{
public:
    bool createFails = false;
    int count = 1;
    EchoReply answer = TrueEcho();
    std::uint32_t layerError = IP_REQ_TIMED_OUT;

    mutable std::string calls;
    mutable EchoRequest request;
    mutable std::vector<std::uint8_t> data;

    EchoHandle CreateHandle() const override
    {
        calls += "create ";
        if (createFails) {
            SetIcmpLastError(ERROR_TOO_MANY_OPEN_FILES);
            return kInvalidEchoHandle;
        }
        return kHandle;
    }

    int SendEcho(EchoHandle handle, const EchoRequest& r, EchoReply* reply) const override
    {
        calls += handle == kHandle ? "send " : "send-on-wrong-handle ";
        request = r;
        data.assign(r.data, r.data + r.dataSize);
        if (count == 0)
            SetIcmpLastError(layerError);
        else
            *reply = answer;
        return count;
    }

    void CloseHandle(EchoHandle handle) const override
    {
        calls += handle == kHandle ? "close" : "close-wrong-handle";
    }
};

struct StepRow
{
    const char* name;
    void (*script)(ScriptedEcho&);
    int result;
    std::uint32_t lastError;
    std::uint32_t lastErrorSource;
    const char* calls;
};

constexpr std::uint32_t kRouter = 0x020012c6; // 198.18.0.2

TEST(IcmpProbeSteps, EachOutcomeOfTheEchoLayerGivesItsResult)
{
    const StepRow rows[] = {
        {"true echo", [](ScriptedEcho&) {}, 1, IP_SUCCESS, 0, "create send close"},
        {"no reply in time", [](ScriptedEcho& e) { e.count = 0; }, 0, IP_REQ_TIMED_OUT, 0,
            "create send close"},
        {"two replies", [](ScriptedEcho& e) { e.count = 2; }, 0, kEarlierError, 1,
            "create send close"},
        {"ICMP error from a router",
            [](ScriptedEcho& e) {
                e.answer.status = IP_TTL_EXPIRED_TRANSIT;
                e.answer.address = kRouter;
            },
            0, IP_TTL_EXPIRED_TRANSIT, kRouter, "create send close"},
        {"short echo", [](ScriptedEcho& e) { e.answer.dataSize = 31; }, 0, ERROR_UNEXP_NET_ERR,
            TrueEcho().address, "create send close"},
        {"no handle", [](ScriptedEcho& e) { e.createFails = true; }, 0, ERROR_TOO_MANY_OPEN_FILES,
            0, "create "},
    };
    for (const StepRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedEcho echo;
        row.script(echo);
        SetIcmpLastError(kEarlierError, 1);
        ProbeReply reply = kUntouched;
        EXPECT_EQ(IcmpProbe(echo, "198.18.0.10", &reply, 10, 5000, 32), row.result);
        EXPECT_EQ(IcmpLastError(), row.lastError);
        EXPECT_EQ(IcmpLastErrorSource(), row.lastErrorSource);
        EXPECT_EQ(echo.calls, row.calls);
        if (row.result == 1) {
            EXPECT_EQ(reply.replyAddress, echo.answer.address);
            EXPECT_EQ(reply.roundTripTime, 12u) << "whole milliseconds, cut";
            EXPECT_EQ(reply.roundTripUs, echo.answer.roundTripUs);
        } else {
            EXPECT_EQ(reply.replyAddress, kUntouched.replyAddress);
            EXPECT_EQ(reply.roundTripTime, kUntouched.roundTripTime);
            EXPECT_EQ(reply.roundTripUs, kUntouched.roundTripUs);
        }
    }
}

TEST(IcmpProbeSteps, SendsOneRequestAsAsked)
{
    for (const std::uint8_t size : {32, 0, 255}) {
        ScriptedEcho echo;
        echo.answer = TrueEcho(size);
        ProbeReply reply = kUntouched;
        ASSERT_EQ(IcmpProbe(echo, "127.1", &reply, 10, 5000, size), 1);
        EXPECT_EQ(echo.request.destination, 0x0100007fu);
        EXPECT_EQ(echo.request.ttl, 10);
        EXPECT_EQ(echo.request.timeout, 5000u);
        EXPECT_EQ(echo.data, std::vector<std::uint8_t>(size, 'E'));
    }
}

} // namespace
