#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A host's result value: the round-trip time of its latest probe in whole
// milliseconds, or one of these.
constexpr std::int32_t kResultNoReply = -1; // no valid reply came back
constexpr std::int32_t kResultNotProbed = -2; // no probe has ended yet

// How the "Time" column and the result log show a result value: "N/A" for
// no valid reply, else the time with "%ld ms".
std::string ResultText(std::int32_t result);

// The mark in the first column while a host's probe runs: U+221A in the
// locale's encoding, a '?' where the encoding lacks it. These are the bytes
// the row holds; the list shows them as kInFlightMarkUtf8 in every locale.
const std::string& InFlightMark();
constexpr std::string_view kInFlightMarkUtf8 = "\xE2\x88\x9A";
// The mark, and its column, in words, as assistive technology reads them.
constexpr std::string_view kInFlightMarkWords = "probing";
