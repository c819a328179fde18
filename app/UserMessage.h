#pragma once

#include <cstdint>

// Requests to the main window, told apart by a four-character code whose
// bytes, from the most significant down, are the code's letters.
constexpr std::uint32_t FourCharCode(const char (&code)[5])
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16)
        | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8)
        | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// A probe result is ready (the entry, or 0 when its group was replaced).
constexpr std::uint32_t DISP = FourCharCode("DISP");
// The list was re-sorted: renumber every entry's row.
constexpr std::uint32_t SORT = FourCharCode("SORT");
// Look up a host entry by its exact dotted address text.
constexpr std::uint32_t HOST = FourCharCode("HOST");

static_assert(DISP == 0x44495350 && SORT == 0x534F5254 && HOST == 0x484F5354);
