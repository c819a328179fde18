#include "app/DisplayChoice.h"

#include "tests/support/RowName.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ChoiceRow
{
    const char* name;
    std::map<std::string, std::string> environment;
    std::string platform;
    bool problem;
    bool notice;
};

void PrintTo(const ChoiceRow& row, std::ostream* os)
{
    *os << row.name;
}

class DisplayChoiceRows : public testing::TestWithParam<ChoiceRow>
{ };

TEST_P(DisplayChoiceRows, Choose)
{
    const ChoiceRow& row = GetParam();
    const DisplayChoice choice = ChooseDisplay([&row](const char* name) -> const char* {
        const auto it = row.environment.find(name);
        return it == row.environment.end() ? nullptr : it->second.c_str();
    });
    EXPECT_EQ(choice.platform, row.platform);
    EXPECT_EQ(!choice.problem.empty(), row.problem) << choice.problem;
    EXPECT_EQ(!choice.notice.empty(), row.notice) << choice.notice;
}

INSTANTIATE_TEST_SUITE_P(Sessions, DisplayChoiceRows,
    testing::Values(
        ChoiceRow {"Wayland session: X, Wayland with a notice where X fails",
            {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, "xcb;wayland", false, true},
        ChoiceRow {"X only: nothing to fall back on", {{"DISPLAY", ":0"}}, "xcb", false, false},
        ChoiceRow {"user's own platform stands",
            {{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
            "", false, false},
        ChoiceRow {"Wayland only: native, with a notice", {{"WAYLAND_DISPLAY", "wayland-0"}},
            "wayland", false, true},
        ChoiceRow {"empty values count as unset",
            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, "", true, false},
        ChoiceRow {"nothing: no display", {}, "", true, false}),
    RowName());

using Kind = StartupMessage::Kind;

// What the one line gives as the reason.
std::string Reasons(const std::vector<StartupMessage>& messages)
{
    const std::string line = UnusableDisplayMessage(messages, [](const char*) { return nullptr; });
    const std::size_t from = line.find("on the display: ") + 16;
    return line.substr(from, line.find("; check") - from);
}

// The display plugins' own words, each tried plugin's, whatever came first;
// failing them, Qt's last word. The fatal text's list of plugins names one
// with "display" in it.
TEST(UnusableDisplay, NamesWhatTheDisplayPluginsSaid)
{
    const StartupMessage fatal {Kind::Fatal, "default",
        "no Qt platform plugin could be initialized.\n\nAvailable: vkkhrdisplay, xcb"};
    const StartupMessage x {Kind::Warning, "qt.qpa.xcb", "could not connect to display :55"};
    EXPECT_EQ(Reasons({{Kind::Warning, "", "QStandardPaths: wrong permissions"}, x, fatal}),
        "could not connect to display :55");
    EXPECT_EQ(Reasons({x, {Kind::Other, "qt.qpa.plugin", "Could not load the plugin \"xcb\""},
                  {Kind::Critical, "", "Failed to create wl_display (No such file)"}, fatal}),
        "could not connect to display :55; Failed to create wl_display (No such file)");
    EXPECT_EQ(Reasons({fatal}), "no Qt platform plugin could be initialized");
}

// QT_FATAL_WARNINGS=n ends the program after the n-th warning; criticals
// count apart.
TEST(FatalMessageCountdown, CountsAsQtDoes)
{
    const std::pair<const char*, int> rows[] = {{nullptr, 0}, {"1", 1}, {"3", 3}, {"yes", 1}};
    for (const auto& [value, fatalAt] : rows) {
        SCOPED_TRACE(std::string("QT_FATAL_WARNINGS ") + (value ? value : "unset"));
        FatalMessageCountdown countdown([value](const char* name) {
            return std::string_view(name) == "QT_FATAL_WARNINGS" ? value : nullptr;
        });
        int fatal = 0;
        for (int i = 1; i <= 4 && fatal == 0; ++i) {
            EXPECT_FALSE(countdown.Count(Kind::Critical));
            fatal = countdown.Count(Kind::Warning) ? i : 0;
        }
        EXPECT_EQ(fatal, fatalAt);
    }
}

struct ProgramRun
{
    int exitStatus = -1; // -1 when ended by a signal
    int signal = 0;
    std::string errorOutput;
};

// Runs the built program with DISPLAY and QT_FATAL_WARNINGS set as given
// (unset when null) and no other display or platform variable.
ProgramRun RunProgram(const char* display, const char* fatalWarnings)
{
    ProgramRun run;
    int err[2];
    if (pipe(err) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(err[1], STDERR_FILENO);
        close(err[0]);
        unsetenv("QT_QPA_PLATFORM");
        unsetenv("WAYLAND_DISPLAY");
        for (const auto& [name, value] :
            {std::pair {"DISPLAY", display}, {"QT_FATAL_WARNINGS", fatalWarnings}}) {
            if (value != nullptr)
                setenv(name, value, 1);
            else
                unsetenv(name);
        }
        execl(KELVORAN_PROGRAM, KELVORAN_PROGRAM, static_cast<char*>(nullptr));
        _exit(127);
    }
    close(err[1]);
    char buffer[512];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;)
        run.errorOutput.append(buffer, static_cast<std::size_t>(n));
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        run.exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    return run;
}

// Without a display the program says why in one line and ends with status 1:
// no abort, no core dump, also where Qt's warnings are made fatal.
TEST(ProgramWithoutDisplay, OneLineAndStatusOne)
{
    int unused = 97;
    struct stat st;
    for (std::string socket;; ++unused) {
        socket = "/tmp/.X11-unix/X";
        socket += std::to_string(unused);
        if (stat(socket.c_str(), &st) != 0)
            break;
    }
    std::string unreachable = ":";
    unreachable += std::to_string(unused);
    const std::pair<const char*, const char*> runs[]
        = {{nullptr, nullptr}, {unreachable.c_str(), nullptr}, {unreachable.c_str(), "1"}};
    for (const auto& [display, fatalWarnings] : runs) {
        SCOPED_TRACE(display ? display : "DISPLAY unset");
        SCOPED_TRACE(fatalWarnings ? "QT_FATAL_WARNINGS=1" : "");
        const ProgramRun run = RunProgram(display, fatalWarnings);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.errorOutput.rfind("kelvoran: ", 0), 0u) << run.errorOutput;
        EXPECT_EQ(run.errorOutput.find('\n'), run.errorOutput.size() - 1) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find("xvfb-run"), std::string::npos) << run.errorOutput;
    }
}

} // namespace
