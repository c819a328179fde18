// The steps of one probe and their order, through a scripted echo layer.

#include "icmp/IcmpProbe.h"
#include "icmp/EchoLayer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr EchoHandle kHandle = 7;

EchoReply TrueEcho(std::uint8_t size = 32)
{
    EchoReply reply;
    reply.answers = 1;
    reply.status = IP_SUCCESS;
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
    EchoReply answer = TrueEcho();

    mutable std::string calls;
    mutable EchoRequest request;
    mutable std::vector<std::uint8_t> data;

    EchoHandle CreateHandle(std::uint32_t* failure) const override
    {
        calls += "create ";
        if (createFails) {
            *failure = ERROR_TOO_MANY_OPEN_FILES;
            return kInvalidEchoHandle;
        }
        return kHandle;
    }

    EchoReply SendEcho(EchoHandle handle, const EchoRequest& r) const override
    {
        calls += handle == kHandle ? "send " : "send-on-wrong-handle ";
        request = r;
        data.assign(r.data, r.data + r.dataSize);
        return answer;
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
    std::uint32_t status;
    std::uint32_t source;
    const char* calls;
};

constexpr std::uint32_t kRouter = 0x020012c6; // 198.18.0.2

TEST(IcmpProbeSteps, EachOutcomeOfTheEchoLayerGivesItsResult)
{
    const StepRow rows[] = {
        {"true echo", [](ScriptedEcho&) {}, IP_SUCCESS, 0, "create send close"},
        {"no reply in time", [](ScriptedEcho& e) { e.answer = NoAnswer(IP_REQ_TIMED_OUT); },
            IP_REQ_TIMED_OUT, 0, "create send close"},
        {"not sent", [](ScriptedEcho& e) { e.answer = NoAnswer(IP_DEST_NET_UNREACHABLE); },
            IP_DEST_NET_UNREACHABLE, 0, "create send close"},
        {"two replies", [](ScriptedEcho& e) { e.answer.answers = 2; }, IP_GENERAL_FAILURE, 0,
            "create send close"},
        {"ICMP error from a router",
            [](ScriptedEcho& e) {
                e.answer.status = IP_TTL_EXPIRED_TRANSIT;
                e.answer.address = kRouter;
            },
            IP_TTL_EXPIRED_TRANSIT, kRouter, "create send close"},
        {"short echo", [](ScriptedEcho& e) { e.answer.dataSize = 31; }, ERROR_UNEXP_NET_ERR,
            TrueEcho().address, "create send close"},
        {"no handle", [](ScriptedEcho& e) { e.createFails = true; }, ERROR_TOO_MANY_OPEN_FILES, 0,
            "create "},
    };
    for (const StepRow& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedEcho echo;
        row.script(echo);
        const ProbeOutcome outcome = IcmpProbe(echo, "198.18.0.10", 10, 5000, 32);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_EQ(outcome.source, row.source);
        EXPECT_EQ(echo.calls, row.calls);
        const ProbeReply reply = outcome.reply;
        if (row.status == IP_SUCCESS) {
            EXPECT_EQ(reply.replyAddress, echo.answer.address);
            EXPECT_EQ(reply.roundTripTime, 12u) << "whole milliseconds, cut";
            EXPECT_EQ(reply.roundTripUs, echo.answer.roundTripUs);
        } else {
            EXPECT_EQ(reply.replyAddress, 0u);
            EXPECT_EQ(reply.roundTripTime, 0u);
        }
    }
}

TEST(IcmpProbeSteps, SendsOneRequestAsAsked)
{
    for (const std::uint8_t size : {32, 0, 255}) {
        ScriptedEcho echo;
        echo.answer = TrueEcho(size);
        ASSERT_TRUE(IcmpProbe(echo, "127.1", 10, 5000, size).Answered());
        EXPECT_EQ(echo.request.destination, 0x0100007fu);
        EXPECT_EQ(echo.request.ttl, 10);
        EXPECT_EQ(echo.request.timeout, 5000u);
        EXPECT_EQ(echo.data, std::vector<std::uint8_t>(size, 'E'));
    }
}

} // namespace
