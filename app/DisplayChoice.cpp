#include "app/DisplayChoice.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

constexpr std::string_view kVirtualDisplay = "or run it on a virtual display: xvfb-run kelvoran";
constexpr std::string_view kWaylandLimits
    = "it cannot stay on top of other windows or snap to the screen edges";

bool IsSet(const EnvironmentLookup& environment, const char* name)
{
    const char* value = environment(name);
    return value != nullptr && *value != '\0';
}

// As Qt reads the variable: unset or empty is 0, a number (C notation) is
// itself, anything else is 1.
int FatalCount(const EnvironmentLookup& environment, const char* name)
{
    if (!IsSet(environment, name))
        return 0;
    const char* value = environment(name);
    char* end = nullptr;
    const long count = std::strtol(value, &end, 0);
    return *end == '\0' ? static_cast<int>(count) : 1;
}

// The first line of a message, without its trailing stop.
std::string_view FirstLine(std::string_view text)
{
    std::string_view first = text.substr(0, text.find('\n'));
    while (!first.empty() && (first.back() == '.' || first.back() == ' '))
        first.remove_suffix(1);
    return first;
}

// A platform plugin's own word on the display: Qt's plugin messages
// ("qt.qpa.xcb: could not connect to display :5"), or another whose first
// line names the display ("Failed to create wl_display").
bool FromDisplayPlugin(const StartupMessage& message)
{
    if (message.kind == StartupMessage::Kind::Other)
        return false;
    if (message.category.starts_with("qt.qpa."))
        return true;
    std::string first(FirstLine(message.text));
    std::transform(first.begin(), first.end(), first.begin(),
        [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return first.find("display") != std::string::npos;
}

} // namespace

DisplayChoice ChooseDisplay(const EnvironmentLookup& environment)
{
    DisplayChoice choice;
    if (IsSet(environment, "QT_QPA_PLATFORM"))
        return choice;
    const bool wayland = IsSet(environment, "WAYLAND_DISPLAY");
    if (IsSet(environment, "DISPLAY")) {
        choice.platform = wayland ? "xcb;wayland" : "xcb";
        // A Wayland session's DISPLAY may name an X server that is gone.
        if (wayland)
            choice.notice = "kelvoran: a native Wayland window (the X display "
                + std::string(environment("DISPLAY"))
                + " could not be opened): " + std::string(kWaylandLimits);
        return choice;
    }
    if (wayland) {
        choice.platform = "wayland";
        choice.notice = "kelvoran: a native Wayland window (this session offers no X display): "
            + std::string(kWaylandLimits);
        return choice;
    }
    choice.problem = "kelvoran: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set); start it in a desktop session, "
        + std::string(kVirtualDisplay);
    return choice;
}

FatalMessageCountdown::FatalMessageCountdown(const EnvironmentLookup& environment)
    : warnings_(FatalCount(environment, "QT_FATAL_WARNINGS"))
    , criticals_(FatalCount(environment, "QT_FATAL_CRITICALS"))
{ }

bool FatalMessageCountdown::Count(StartupMessage::Kind kind)
{
    if (kind == StartupMessage::Kind::Fatal)
        return true;
    if (kind == StartupMessage::Kind::Other)
        return false;
    int& left = kind == StartupMessage::Kind::Warning ? warnings_ : criticals_;
    const int was = left;
    if (left != 0)
        --left;
    return was == 1;
}

std::string UnusableDisplayMessage(
    const std::vector<StartupMessage>& messages, const EnvironmentLookup& environment)
{
    std::string where;
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (!IsSet(environment, name))
            continue;
        where += where.empty() ? " (" : ", ";
        where += name;
        where += '=';
        where += environment(name);
    }
    if (!where.empty())
        where += ')';

    // Other warnings may come before the plugins' own, and the fatal text
    // only says that no plugin could be started.
    using Kind = StartupMessage::Kind;
    std::vector<std::string_view> reasons;
    for (const StartupMessage& m : messages) {
        if (FromDisplayPlugin(m))
            reasons.push_back(FirstLine(m.text));
    }
    const auto warning = std::find_if(messages.begin(), messages.end(),
        [](const auto& m) { return m.kind == Kind::Warning || m.kind == Kind::Critical; });
    if (reasons.empty() && warning != messages.end())
        reasons.push_back(FirstLine(warning->text));
    if (reasons.empty() && !messages.empty())
        reasons.push_back(FirstLine(messages.back().text));

    std::string line = "kelvoran: cannot open the window on the display" + where;
    std::string_view separator = ": ";
    for (const std::string_view reason : reasons) {
        if (reason.empty())
            continue;
        line += separator;
        line += reason;
        separator = "; ";
    }
    line += "; check that the display is running and that this user may use it, ";
    line += kVirtualDisplay;
    return line;
}
