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
// asks for, sinceStartMs after the test host started (a flapping host's phase
// counts from then). Anything that is not a well-formed echo request gets no
// answer.
std::vector<OutgoingPacket> AnswerEchoRequest(std::span<const std::uint8_t> request,
    const HostBehaviour& behaviour, std::uint64_t sinceStartMs = 0);

// The n-th packet of a flood of ICMP that answers nothing the target asked:
// echo replies with identifiers and sequences drawn at random, the same with
// a damaged checksum or odd data, message types nobody waits for, messages
// cut short, errors about requests the target never sent, echo requests.
std::vector<std::uint8_t> FloodIcmp(std::uint64_t n);

// Wraps an ICMP message in an IP header from source to destination (network
// byte order), leaving the message's checksum as it is.
OutgoingPacket IpPacket(
    std::uint32_t source, std::uint32_t destination, std::vector<std::uint8_t> icmp);
