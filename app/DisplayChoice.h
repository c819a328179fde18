#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The value of an environment variable, or nullptr when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// Where the window can be opened, decided from the session's environment
// before the window system is touched.
struct DisplayChoice
{
    std::string platform; // the Qt platforms to try, in order; empty: leave the choice to Qt
    std::string problem; // why no window can be opened; empty when one may be
    // What does not work when the window ends up as a native Wayland window;
    // empty when it cannot end up there or the user chose the platform.
    std::string notice;
};

// A platform the user chose (QT_QPA_PLATFORM) stands. Otherwise an X display
// (DISPLAY, Xwayland in a Wayland session too) is preferred: staying on top
// and snapping need a window system that lets a window set its stacking and
// learn its position, which X does and Wayland does not. Wayland serves, with
// a notice, where there is no X display or the one named cannot be opened;
// without either there is nothing to open the window on.
DisplayChoice ChooseDisplay(const EnvironmentLookup& environment);

// A message Qt gave while its window-system plugins started.
struct StartupMessage
{
    enum class Kind { Other, Warning, Critical, Fatal };
    Kind kind = Kind::Other;
    std::string category;
    std::string text;
};

// Qt ends the program after the n-th warning when QT_FATAL_WARNINGS is n, and
// after the n-th critical message when QT_FATAL_CRITICALS is n (a value that
// is not a number counts as 1). Counting as Qt does tells which message it is
// about to end the program after, so that the start still ends in one line.
class FatalMessageCountdown
{
public:
    explicit FatalMessageCountdown(const EnvironmentLookup& environment);
    // Counts one message; true when Qt ends the program after it.
    bool Count(StartupMessage::Kind kind);

private:
    int warnings_;
    int criticals_;
};

// The one line to print when the window system could not be opened after
// all, from what Qt said while it tried, the message that ended the start
// last. It names what the display plugins said, every one that was tried;
// failing that, Qt's first warning; failing that, its last word.
std::string UnusableDisplayMessage(
    const std::vector<StartupMessage>& messages, const EnvironmentLookup& environment);
