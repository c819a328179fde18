#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The main window's log mode: which result changes go to the result log.
constexpr std::int32_t kLogOff = 0; // nothing is written
constexpr std::int32_t kLogFull = 1; // every change of a host's result
constexpr std::int32_t kLogByStatus = 2; // changes to or from "no reply" only

// The two File menu commands that switch the log mode.
enum class LogCommand {
    FullLog, // "Full log", ID_FULL_LOG
    LogByStatus, // "Log by status", ID_LOG_BY_STATUS
};

// The caption prefix of a mode: "[*]" for the full log, "[+]" for the log by
// status, nothing when logging is off. Three bytes, which is what switching a
// mode off removes again.
std::string_view LogModePrefix(std::int32_t logMode);

// The caption a group load sets: the prefix of the mode in force and a space,
// then "kelvoran : " and the group's name.
std::string GroupCaption(std::int32_t logMode, std::string_view group);

struct LogModeSwitch
{
    std::int32_t logMode;
    std::string caption; // bytes, as the window shows them
};

// What one of the two commands makes of the mode and the window caption: the
// command's mode is switched on (its prefix put in front, replacing the other
// mode's prefix) or, when it is on already, off (its prefix removed). The
// caption is edited byte-wise.
LogModeSwitch SwitchLogMode(LogCommand command, std::int32_t logMode, std::string_view caption);

// Whether the command's menu item carries a check mark in this mode.
bool IsLogCommandChecked(LogCommand command, std::int32_t logMode);

// The logging rule, applied to a host's new result before it becomes its
// previous result: whether ResultLog::WriteResultLog is called for it.
bool ShouldWriteResultLog(std::int32_t logMode, std::int32_t prevResult, std::int32_t result);
