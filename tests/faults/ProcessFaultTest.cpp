// Runs the fault driver (FaultDriver.cpp) and judges what it printed, how it
// ended and how long its end took.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

struct DriverRun
{
    int status = -1;
    std::string output;
    std::string errors;
    // From the first output line starting with `mark` to the process's end.
    double secondsAfterMark = -1;

    // The key=value pairs of the output line starting with `word`.
    std::map<std::string, double> Line(const std::string& word) const
    {
        std::istringstream lines(output);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string first;
            fields >> first;
            if (first != word)
                continue;
            std::map<std::string, double> values;
            for (std::string field; fields >> field;) {
                const std::size_t equals = field.find('=');
                if (equals != std::string::npos)
                    values[field.substr(0, equals)] = std::atof(field.c_str() + equals + 1);
            }
            return values;
        }
        return {};
    }
};

// Runs the driver with the arguments, killing it after timeoutSeconds.
DriverRun RunDriver(
    const std::vector<std::string>& args, const std::string& mark, int timeoutSeconds)
{
    DriverRun run;
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(out[0]);
        close(err[0]);
        std::vector<char*> argv {const_cast<char*>(FAULT_DRIVER)};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(FAULT_DRIVER, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Clock::time_point markAt {};
    const Clock::time_point end = Clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            run.errors += "\n(killed: took too long)";
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
                continue;
            }
            (i == 0 ? run.output : run.errors).append(buffer, static_cast<std::size_t>(n));
            if (i == 0 && markAt == Clock::time_point {}
                && ("\n" + run.output).find("\n" + mark) != std::string::npos)
                markAt = Clock::now();
        }
    }
    for (pollfd& p : fds) {
        if (p.fd >= 0)
            close(p.fd);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (markAt != Clock::time_point {})
        run.secondsAfterMark = std::chrono::duration<double>(Clock::now() - markAt).count();
    return run;
}

std::string Describe(const DriverRun& run)
{
    return "status " + std::to_string(run.status) + "\n--- output:\n" + run.output + "--- errors:\n"
        + run.errors;
}

} // namespace

// 2,500 hosts that answer and 2,500 that never do; the window closed 7 s
// after the load, 2 s into the first probes, with every probe slot held by a
// silent host.
TEST(ProcessFaults, FiveThousandHostsHalfSilentClosedAfterSevenSecondsExitWithinASecond)
{
    const DriverRun run = RunDriver({"exit", "5000", "7000"}, "exit", 60 * KELVORAN_SLOWDOWN);
    if (run.status == 77)
        GTEST_SKIP() << "needs root to make a network namespace";
    EXPECT_EQ(run.status, 0) << Describe(run);
    EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << Describe(run);
    const auto at = run.Line("exit");
    ASSERT_EQ(at.at("rows"), 5000) << Describe(run);
    EXPECT_GT(at.at("shown"), 0) << "no host answered before the close";
    EXPECT_GT(at.at("waiting"), 50) << "the close came with fewer probes waiting than meant";
    ASSERT_GE(run.secondsAfterMark, 0) << Describe(run);
    EXPECT_LT(run.secondsAfterMark, 1.0 * KELVORAN_SLOWDOWN) << Describe(run);
    std::printf(
        "exit with %.0f probes waiting took %.3f s\n", at.at("waiting"), run.secondsAfterMark);
}

// The limit on the processes of the program's user: first no worker thread
// can start, then a few, then any number.
TEST(ProcessFaults, WorkerThreadsRefusedByTheProcessLimitThenAllowedAgain)
{
    constexpr int kHosts = 1000;
    const DriverRun run
        = RunDriver({"threads", std::to_string(kHosts)}, "", 90 * KELVORAN_SLOWDOWN);
    if (run.status == 77)
        GTEST_SKIP() << "needs root to make a network namespace and a user of its own";
    ASSERT_EQ(run.status, 0) << Describe(run);
    EXPECT_EQ(run.errors.find("Sanitizer"), std::string::npos) << Describe(run);
    std::printf("%s", run.output.c_str());

    const auto none = run.Line("none");
    ASSERT_FALSE(none.empty()) << Describe(run);
    EXPECT_GT(none.at("refused"), 0) << "the limit refused no thread";
    EXPECT_EQ(none.at("refused"), none.at("attempts"));
    // A refused thread ends the tick: no more than one attempt every 100 ms,
    // not one for every due host.
    EXPECT_LE(none.at("attempts"), none.at("ms") / 100 + 3);
    EXPECT_EQ(none.at("shown"), 0);
    // A host whose thread did not start is neither marked nor held busy.
    EXPECT_EQ(none.at("most_marked"), 0);
    EXPECT_EQ(none.at("most_busy"), 0);
    // The window goes on answering.
    EXPECT_LT(none.at("gap_ms"), 300 * KELVORAN_SLOWDOWN);

    const auto few = run.Line("few");
    ASSERT_FALSE(few.empty()) << Describe(run);
    EXPECT_GT(few.at("refused"), 0);
    EXPECT_LE(few.at("refused"), few.at("ms") / 100 + 3);
    EXPECT_GT(few.at("shown"), 0) << "no host probed while a few threads could start";
    EXPECT_LT(few.at("gap_ms"), 300 * KELVORAN_SLOWDOWN);

    // With room again every host is probed and no mark is left behind.
    const auto plenty = run.Line("plenty");
    ASSERT_FALSE(plenty.empty()) << Describe(run);
    EXPECT_EQ(plenty.at("shown"), kHosts);
    EXPECT_EQ(plenty.at("marked"), 0);
    EXPECT_EQ(plenty.at("busy"), 0);
    EXPECT_EQ(plenty.at("refused"), 0);
    EXPECT_LT(plenty.at("ms"), 10000 * KELVORAN_SLOWDOWN);
}
