#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Host text to IPv4 address: the literal forms that inet_addr accepts (short
// forms such as 10.1 included) first; otherwise an IPv4-only name lookup that
// takes the first address. Safe to call from many threads at once.
// The address is in network byte order.
std::optional<std::uint32_t> ResolveHostText(const char* text);

// "%d.%d.%d.%d" of the four bytes of an address in network byte order.
std::string DottedAddress(std::uint32_t networkOrder);
