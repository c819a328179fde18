#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// The text of the result log. All times are local times already broken down.

// "kelvoran." and the date as eight digits, e.g. "kelvoran.20091231".
std::string ResultLogFileName(const std::tm& localTime);

// One logged result: "[09:05:03] 10.0.0.1         12 ms\n", or "... N/A\n" for
// no reply (-1). The name is padded to 16 characters so the values line up.
std::string FormatResultLogLine(
    const std::tm& localTime, std::string_view name, std::int32_t result);

// Stands where lines had to be dropped because the log could not be written
// for too long: "[09:05:03] 25 earlier lines dropped: the result log could not be written\n".
std::string FormatDroppedLinesLine(const std::tm& localTime, std::uint64_t dropped);
