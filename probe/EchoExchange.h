#pragma once

#include "probe/EchoLayer.h"
#include "probe/IcmpPacket.h"

#include <sys/socket.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <optional>

// What both of the echo layer's socket paths do alike: their clocks, how a
// failed send reads as a status, and how an answer is written into the reply.

// Room for the largest answer worth reading: IP header with options, ICMP
// header and 255 bytes of data, or an error quoting such a request. A longer
// packet is cut short, and an echo cut short still shows more data than any
// request carries.
constexpr std::size_t kReceiveBufferSize = 1024;

std::int64_t Nanoseconds(const timespec& t);
std::int64_t Now(clockid_t clock);

// A random number to start a process's identifiers from, so that processes
// probing at the same time keep apart.
std::uint32_t RandomSeed();

// The status for a request that the kernel refused to send, by its errno.
std::uint32_t SendFailureStatus(int error);

// Sets IcmpLastError and returns 0, the number of answers stored.
int FailEcho(std::uint32_t status);

// The kernel's arrival stamp of a received packet (SO_TIMESTAMPNS), on the
// real-time clock, when it carries one.
std::optional<std::int64_t> ArrivalStamp(msghdr& msg);

// When and how a request went out: the clocks read just before it was sent.
struct SentRequest
{
    std::int64_t real = 0;
    std::int64_t monotonic = 0;
};

// Writes the answer into the reply, its round trip from the send to its
// arrival stamp where the stamp is there and believable.
void StoreAnswer(EchoReply* reply, const PacketClass& answer, const SentRequest& sent,
    std::optional<std::int64_t> arrivedReal);
