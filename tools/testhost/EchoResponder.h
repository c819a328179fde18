#pragma once

#include "tools/testhost/HostBehaviour.h"

#include <cstdint>
#include <span>
#include <vector>

// One packet the test host is to send, IP header included.
struct OutgoingPacket
{
    std::uint32_t delayMs = 0;
    std::uint32_t destination = 0; // network byte order
    std::vector<std::uint8_t> bytes;
};

// Turns a received echo request (IP header first) into what the behaviour
// asks for. Anything that is not a well-formed echo request gets no answer.
std::vector<OutgoingPacket> AnswerEchoRequest(
    std::span<const std::uint8_t> request, const HostBehaviour& behaviour);
