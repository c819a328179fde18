#include "app/DisplayChoice.h"

namespace {

constexpr std::string_view kVirtualDisplay = "or run it on a virtual display: xvfb-run kelvoran";

bool IsSet(const EnvironmentLookup& environment, const char* name)
{
    const char* value = environment(name);
    return value != nullptr && *value != '\0';
}

} // namespace

DisplayChoice ChooseDisplay(const EnvironmentLookup& environment)
{
    DisplayChoice choice;
    if (IsSet(environment, "QT_QPA_PLATFORM"))
        return choice;
    if (IsSet(environment, "DISPLAY")) {
        choice.platform = "xcb";
        return choice;
    }
    if (IsSet(environment, "WAYLAND_DISPLAY")) {
        choice.platform = "wayland";
        choice.notice = "kelvoran: a native Wayland window (this session offers no X display): "
                        "it cannot stay on top of other windows or snap to the screen edges";
        return choice;
    }
    choice.problem = "kelvoran: no display to open the window on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set); start it in a desktop session, "
        + std::string(kVirtualDisplay);
    return choice;
}

std::string UnusableDisplayMessage(std::string_view reason, const EnvironmentLookup& environment)
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
    std::string line = "kelvoran: cannot open the window on the display" + where;
    // The reason is the first line of what the plugin said, without its
    // trailing stop.
    std::string_view first = reason.substr(0, reason.find('\n'));
    while (!first.empty() && (first.back() == '.' || first.back() == ' '))
        first.remove_suffix(1);
    if (!first.empty()) {
        line += ": ";
        line += first;
    }
    line += "; check that the display is running and that this user may use it, ";
    line += kVirtualDisplay;
    return line;
}
