#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How the test host answers echo requests to one of its addresses.
struct HostBehaviour
{
    enum Kind {
        Echo, // answer normally
        Delay, // answer after `value` ms
        Silent, // never answer
        Corrupt, // answer with one data byte changed
        Short, // answer with the last data byte left off
        Twice, // answer twice
        From, // answer from the address `other`
        Unreachable, // destination unreachable with code `value`, from `other` if set
        Exceeded, // time exceeded in transit, from `other` if set
        Hops, // time exceeded when the request's TTL is below `value`, else answer
        Noise, // first replies to other requests, then the answer after 20 ms
        BadChecksum, // answer with a damaged checksum
        Flap, // answer for `value` ms, then stay silent for `off` ms, and again
        Flood, // never answer; once asked, flood the asker with `value` packets/s
        Long, // answer with `value` bytes of data, the request's repeated
    };
    Kind kind = Echo;
    std::uint32_t value = 0;
    std::uint32_t other = 0; // network byte order
    std::uint32_t off = 0;
};

// "echo", "delay:150", "silent", "corrupt", "short", "twice", "from:198.18.0.2",
// "unreach:1", "exceeded", "hops:10", "noise", "badsum", "flap:20000:15000",
// "flood:20000", "long:1400"; "unreach:1:198.18.0.2" and "exceeded:198.18.0.2" send the
// error from that address, as a router on the way would.
std::optional<HostBehaviour> ParseHostBehaviour(const std::string& text);

// Test hosts live only in 198.18.0.0/15, the range set aside for such tests.
bool IsTestHostAddress(std::uint32_t networkOrder);
