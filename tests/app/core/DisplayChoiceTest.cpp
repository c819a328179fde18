#include "app/DisplayChoice.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ChoiceRow
{
    const char* what;
    std::map<std::string, std::string> environment;
    std::string platform;
    bool problem;
    bool notice;
};

void PrintTo(const ChoiceRow& row, std::ostream* os)
{
    *os << row.what;
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
    testing::Values(ChoiceRow {"Wayland session with Xwayland: X",
                        {{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, "xcb", false, false},
        ChoiceRow {"user's own platform stands",
            {{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
            "", false, false},
        ChoiceRow {"Wayland only: native, with a notice", {{"WAYLAND_DISPLAY", "wayland-0"}},
            "wayland", false, true},
        ChoiceRow {"empty values count as unset",
            {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}, "", true, false},
        ChoiceRow {"nothing: no display", {}, "", true, false}));

struct ProgramRun
{
    int exitStatus = -1; // -1 when ended by a signal
    int signal = 0;
    std::string errorOutput;
};

// Runs the built program with DISPLAY set as given (unset when null) and no
// other display or platform variable.
ProgramRun RunProgram(const char* display)
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
        if (display != nullptr)
            setenv("DISPLAY", display, 1);
        else
            unsetenv("DISPLAY");
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
// no abort, no core dump.
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
    for (const char* display : {static_cast<const char*>(nullptr), unreachable.c_str()}) {
        SCOPED_TRACE(display ? display : "DISPLAY unset");
        const ProgramRun run = RunProgram(display);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(run.errorOutput.rfind("kelvoran: ", 0), 0u) << run.errorOutput;
        EXPECT_EQ(run.errorOutput.find('\n'), run.errorOutput.size() - 1) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find("xvfb-run"), std::string::npos) << run.errorOutput;
    }
}

} // namespace
