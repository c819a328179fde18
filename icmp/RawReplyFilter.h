#pragma once

#include <cstdint>

// A raw ICMP socket receives every ICMP packet that reaches the host. This
// socket filter lets through only echo replies whose identifier agrees with
// the given one in the bits of the mask, and ICMP errors that quote a request
// whose identifier does, so that unrelated traffic costs no wake-up. It only
// thins the stream: what passes is still checked in full.
bool AttachRawReplyFilter(int fd, std::uint16_t identifier, std::uint16_t mask = 0xffff);
