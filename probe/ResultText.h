#pragma once

#include <cstdint>
#include <string>

// What the "Time" column shows for a result value: "N/A" for no valid reply,
// else the time with "%ld ms".
std::string ResultText(std::int32_t result);

// The mark in the first column while a host's probe runs: U+221A in the
// locale's encoding.
const std::string& InFlightMark();
