#include "log/LogMode.h"

#include "hosts/ResultValue.h"

namespace {

constexpr std::string::size_type kPrefixBytes = 3;

std::string WithoutPrefix(std::string_view caption)
{
    // The caption starts with the prefix of the mode in force; a shorter one
    // (set by someone else) loses what it has instead of failing.
    return std::string(
        caption.substr(caption.size() < kPrefixBytes ? caption.size() : kPrefixBytes));
}

std::int32_t ModeOf(LogCommand command)
{
    return command == LogCommand::FullLog ? kLogFull : kLogByStatus;
}

} // namespace

std::string_view LogModePrefix(std::int32_t logMode)
{
    switch (logMode) {
    case kLogFull:
        return "[*]";
    case kLogByStatus:
        return "[+]";
    default:
        return "";
    }
}

std::string GroupCaption(std::int32_t logMode, std::string_view group)
{
    std::string caption(LogModePrefix(logMode));
    if (!caption.empty())
        caption += ' ';
    caption += "kelvoran : ";
    caption += group;
    return caption;
}

LogModeSwitch SwitchLogMode(LogCommand command, std::int32_t logMode, std::string_view caption)
{
    const std::int32_t mode = ModeOf(command);
    if (logMode == mode)
        return {kLogOff, WithoutPrefix(caption)};
    const bool otherModeOn = logMode == kLogFull || logMode == kLogByStatus;
    std::string rest = otherModeOn ? WithoutPrefix(caption) : std::string(caption);
    return {mode, std::string(LogModePrefix(mode)) + rest};
}

bool IsLogCommandChecked(LogCommand command, std::int32_t logMode)
{
    return logMode == ModeOf(command);
}

bool ShouldWriteResultLog(std::int32_t logMode, std::int32_t prevResult, std::int32_t result)
{
    if (prevResult == result)
        return false;
    switch (logMode) {
    case kLogFull:
        return true;
    case kLogByStatus:
        return prevResult == kResultNoReply || result == kResultNoReply;
    default:
        return false;
    }
}
