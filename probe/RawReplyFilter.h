#pragma once

#include <cstdint>

// A raw ICMP socket receives every ICMP packet that reaches the host. This
// socket filter lets through only echo replies with the identifier and ICMP
// errors that quote a request with it, so that unrelated traffic costs no
// wake-up. It only thins the stream: what passes is still checked in full.
bool AttachRawReplyFilter(int fd, std::uint16_t identifier);
