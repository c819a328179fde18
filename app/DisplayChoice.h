#pragma once

#include <functional>
#include <string>
#include <string_view>

// The value of an environment variable, or nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// Where the window can be opened, decided from the session's environment
// before the window system is touched.
struct DisplayChoice
{
    std::string platform; // the Qt platform to ask for; empty: leave the choice to Qt
    std::string problem; // why no window can be opened; empty when one may be
    std::string notice; // what does not work on the chosen platform; empty when all does
};

// A platform the user chose (QT_QPA_PLATFORM) stands. Otherwise an X display
// (DISPLAY, Xwayland in a Wayland session too) is preferred: staying on top
// and snapping need a window system that lets a window set its stacking and
// learn its position, which X does and Wayland does not. Without an X display
// a Wayland one serves, with a notice; without either there is nothing to open
// the window on.
DisplayChoice ChooseDisplay(const EnvironmentLookup& environment);

// The one line to print when the window system could not be opened after
// all; `reason` is what the window system's plugin said.
std::string UnusableDisplayMessage(std::string_view reason, const EnvironmentLookup& environment);
