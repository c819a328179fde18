#include "log/ResultLogLine.h"

#include "hosts/ResultValue.h"

namespace {

constexpr std::string::size_type kNameWidth = 16;

std::string Strftime(const char* format, const std::tm& localTime)
{
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, format, &localTime);
    return std::string(text, n);
}

std::string TimeField(const std::tm& localTime)
{
    std::string field = "[";
    field += Strftime("%H:%M:%S", localTime);
    field += "] ";
    return field;
}

} // namespace

std::string ResultLogFileName(const std::tm& localTime)
{
    return Strftime("kelvoran.%Y%m%d", localTime);
}

std::string FormatResultLogLine(
    const std::tm& localTime, std::string_view name, std::int32_t result)
{
    std::string line = TimeField(localTime);
    line += name;
    if (name.size() < kNameWidth)
        line.append(kNameWidth - name.size(), ' ');
    line += ' ';
    line += ResultText(result);
    line += '\n';
    return line;
}

std::string FormatDroppedLinesLine(const std::tm& localTime, std::uint64_t dropped)
{
    return TimeField(localTime) + std::to_string(dropped)
        + (dropped == 1 ? " earlier line" : " earlier lines")
        + " dropped: the result log could not be written\n";
}
