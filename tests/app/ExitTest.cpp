#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {

struct ExitRun
{
    int status = -1;
    double secondsAfterExit = -1;
    std::string output;
};

// Runs the driver; measures from its "exit" line to the end of its process.
ExitRun RunDriver(int hosts, int waiting)
{
    ExitRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        const std::string h = std::to_string(hosts), w = std::to_string(waiting);
        execl(EXIT_DRIVER, EXIT_DRIVER, h.c_str(), w.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    Clock::time_point exitAt {};
    char buffer[256];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) {
        run.output.append(buffer, static_cast<std::size_t>(n));
        if (exitAt == Clock::time_point {} && run.output.find("exit") != std::string::npos)
            exitAt = Clock::now();
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (exitAt != Clock::time_point {})
        run.secondsAfterExit = std::chrono::duration<double>(Clock::now() - exitAt).count();
    return run;
}

} // namespace

TEST(ProcessExit, PromptWithFiftyProbesWaitingForSilentHosts)
{
    const ExitRun run = RunDriver(80, 50);
    if (run.status == 77)
        GTEST_SKIP() << "needs root to make a network namespace";
    EXPECT_EQ(run.status, 0) << run.output;
    ASSERT_GE(run.secondsAfterExit, 0) << run.output;
    EXPECT_LT(run.secondsAfterExit, 1.0 * KELVORAN_SLOWDOWN) << run.output;
    std::printf("exit took %.3f s\n", run.secondsAfterExit);
}
