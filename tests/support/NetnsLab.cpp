#include "tests/support/NetnsLab.h"

#include "tests/support/DnsGuard.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>

namespace {

constexpr const char* kPrefix = "kvp-";
constexpr const char* kNamespaceDir = "/run/netns/";
// The host side's link address, known in advance for permanent neighbours.
constexpr const char* kHostLinkAddress = "02:00:c6:12:00:02";

std::vector<char*> Argv(std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

// Runs a command and collects its output.
int Run(std::vector<std::string> args, std::string* output = nullptr)
{
    std::vector<char*> argv = Argv(args);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        dup2(pipeFds[1], STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return -1;
    if (output != nullptr)
        *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Ip(const std::vector<std::string>& args)
{
    std::vector<std::string> command {"ip"};
    command.insert(command.end(), args.begin(), args.end());
    std::string output;
    if (Run(command, &output) == 0)
        return "";
    std::string line;
    for (const std::string& a : command)
        line += a + " ";
    return line + "failed: " + output;
}

int OpenNamespace(const std::string& name)
{
    return open((kNamespaceDir + name).c_str(), O_RDONLY | O_CLOEXEC);
}

// Writes a sysctl of the named namespace from a child process that joins it:
// /proc/sys/net shows the namespace of whoever opens it.
bool WriteSysctl(const std::string& name, const char* path, const char* value)
{
    const int fd = OpenNamespace(name);
    if (fd < 0)
        return false;
    const std::size_t length = std::strlen(value);
    const pid_t pid = fork();
    if (pid == 0) {
        if (setns(fd, CLONE_NEWNET) != 0)
            _exit(1);
        const int out = open(path, O_WRONLY | O_CLOEXEC);
        _exit(out >= 0 && write(out, value, length) == static_cast<ssize_t>(length) ? 0 : 1);
    }
    close(fd);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

// Namespaces left by test processes that died before cleaning up.
void RemoveStaleNamespaces()
{
    DIR* dir = opendir(kNamespaceDir);
    if (dir == nullptr)
        return;
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(kPrefix, 0) != 0)
            continue;
        const long pid = std::strtol(name.c_str() + std::strlen(kPrefix), nullptr, 10);
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            stale.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : stale)
        Ip({"netns", "delete", name});
}

bool CanCreateNetworkNamespace()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(unshare(CLONE_NEWNET) == 0 ? 0 : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)
        && WEXITSTATUS(status) == 0;
}

} // namespace

std::string NetnsLab::WhyUnavailable()
{
    if (geteuid() != 0)
        return "needs root to create network namespaces; run the tests as root (CI does)";
    if (Run({"ip", "-V"}) != 0)
        return "needs iproute2's ip (apt-get install iproute2)";
    if (!CanCreateNetworkNamespace())
        return "this machine does not allow creating network namespaces";
    return "";
}

NetnsLab::~NetnsLab()
{
    LeaveProber();
    if (testHostPid > 0) {
        kill(testHostPid, SIGTERM);
        waitpid(testHostPid, nullptr, 0);
    }
    if (holdReports >= 0)
        close(holdReports);
    if (!prober.empty())
        Ip({"netns", "delete", prober});
    if (!host.empty())
        Ip({"netns", "delete", host});
}

std::string NetnsLab::Start(
    const std::vector<std::string>& hosts, int lifetimeSeconds, bool reportHolds)
{
    RemoveStaleNamespaces();
    const std::string pid = std::to_string(getpid());
    proberLink = "kvp" + pid + "p";
    const std::string hostLink = "kvp" + pid + "h";
    if (std::string error = Ip({"netns", "add", kPrefix + pid + "-prober"}); !error.empty())
        return error;
    prober = kPrefix + pid + "-prober";
    if (std::string error = Ip({"netns", "add", kPrefix + pid + "-host"}); !error.empty())
        return error;
    host = kPrefix + pid + "-host";

    std::vector<std::vector<std::string>> steps {
        {"-n", prober, "link", "set", "lo", "up"},
        {"-n", host, "link", "set", "lo", "up"},
        {"link", "add", proberLink, "netns", prober, "type", "veth", "peer", "name", hostLink,
            "address", kHostLinkAddress, "netns", host},
        {"-n", prober, "addr", "add", "198.18.0.1/24", "dev", proberLink},
        {"-n", host, "addr", "add", "198.18.0.2/24", "dev", hostLink},
    };
    addresses = {"198.18.0.2"};
    for (const std::string& entry : hosts) {
        const std::string address = entry.substr(0, entry.find('='));
        steps.push_back({"-n", host, "addr", "add", address + "/32", "dev", hostLink});
        addresses.push_back(address);
    }
    steps.push_back({"-n", prober, "link", "set", proberLink, "up"});
    steps.push_back({"-n", host, "link", "set", hostLink, "up"});
    for (const std::vector<std::string>& step : steps) {
        if (std::string error = Ip(step); !error.empty())
            return error;
    }
    if (!WriteSysctl(host, "/proc/sys/net/ipv4/icmp_echo_ignore_all", "1"))
        return "cannot switch off the host namespace's echo replies";

    return StartTestHost(hosts, lifetimeSeconds, reportHolds);
}

std::string NetnsLab::StartTestHost(
    const std::vector<std::string>& hosts, int lifetimeSeconds, bool reportHolds)
{
    // Ends by itself, by default well after any test process would have been
    // stopped.
    std::vector<std::string> args {
        KELVORAN_TESTHOST, "--lifetime", std::to_string(lifetimeSeconds)};
    if (reportHolds)
        args.push_back("--report-holds");
    args.insert(args.end(), hosts.begin(), hosts.end());
    std::vector<char*> argv = Argv(args);
    const int namespaceFd = OpenNamespace(host);
    int pipeFds[2];
    if (namespaceFd < 0 || pipe2(pipeFds, O_CLOEXEC) != 0)
        return "cannot open the host namespace";
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent || setns(namespaceFd, CLONE_NEWNET) != 0)
            _exit(126);
        dup2(pipeFds[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(namespaceFd);
    close(pipeFds[1]);
    testHostPid = pid;
    std::string said;
    pollfd p {pipeFds[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        said.append(buffer, static_cast<std::size_t>(n));
    }
    if (said != "ready\n") {
        close(pipeFds[0]);
        return "the test host " KELVORAN_TESTHOST " did not start";
    }
    if (reportHolds && fcntl(pipeFds[0], F_SETFL, O_NONBLOCK) == 0)
        holdReports = pipeFds[0];
    else
        close(pipeFds[0]);
    return "";
}

std::vector<NetnsLab::Hold> NetnsLab::HeldAnswers(const std::string& address)
{
    char buffer[4096];
    ssize_t n;
    while (holdReports >= 0 && (n = read(holdReports, buffer, sizeof buffer)) > 0)
        unreadReports.append(buffer, static_cast<std::size_t>(n));
    std::vector<Hold> holds;
    std::size_t end;
    while ((end = unreadReports.find('\n')) != std::string::npos) {
        char from[32];
        Hold hold {};
        if (std::sscanf(
                unreadReports.c_str(), "held %31s %lld %lld", from, &hold.fromNs, &hold.toNs)
                == 3
            && from == address)
            holds.push_back(hold);
        unreadReports.erase(0, end + 1);
    }
    return holds;
}

std::string NetnsLab::SetProberQueue(const std::string& discipline)
{
    if (discipline.empty())
        return Run({"tc", "-n", prober, "qdisc", "del", "dev", proberLink, "root"}) == 0
            ? ""
            : "cannot remove the prober's queue";
    for (const std::string& address : addresses) {
        if (std::string error = Ip({"-n", prober, "neigh", "replace", address, "lladdr",
                kHostLinkAddress, "dev", proberLink, "nud", "permanent"});
            !error.empty())
            return error;
    }
    std::vector<std::string> command {
        "tc", "-n", prober, "qdisc", "replace", "dev", proberLink, "root"};
    for (std::size_t at = 0, end; at < discipline.size(); at = end + 1) {
        end = std::min(discipline.find(' ', at), discipline.size());
        command.push_back(discipline.substr(at, end - at));
    }
    std::string output;
    return Run(command, &output) == 0 ? "" : "tc qdisc replace " + discipline + " failed: " + output;
}

bool NetnsLab::EnterProber()
{
    const int target = OpenNamespace(prober);
    if (target < 0)
        return false;
    if (previousNamespace < 0)
        previousNamespace = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const bool entered = previousNamespace >= 0 && setns(target, CLONE_NEWNET) == 0;
    close(target);
    return entered;
}

void NetnsLab::LeaveProber()
{
    if (previousNamespace < 0)
        return;
    setns(previousNamespace, CLONE_NEWNET);
    close(previousNamespace);
    previousNamespace = -1;
}

bool NetnsLab::SetPingGroupRange(bool open)
{
    return WriteSysctl(
        prober, "/proc/sys/net/ipv4/ping_group_range", open ? "0 2147483647" : "1 0");
}

namespace {

constexpr const char* kWithoutNameServer = "KELVORAN_WITHOUT_NAME_SERVER";
constexpr const char* kResolverConfig
    = "# kelvoran test: no name server can be reached from here\nnameserver 127.0.0.1\n";
constexpr int kCannotIsolate = 77;

bool SameNamespace(const char* a, const char* b)
{
    struct stat sa
    { };
    struct stat sb
    { };
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}

void Skip(const std::string& why)
{
    GTEST_SKIP() << why;
}

[[noreturn]] void ExecWithoutNameServer(char* const* argv, char* const* envp)
{
    if (!LeaveEveryNameServerBehind(kResolverConfig, "hosts: files dns\n"))
        _exit(kCannotIsolate);
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

bool InProcessWithoutNameServer()
{
    if (std::getenv(kWithoutNameServer) != nullptr) {
        const bool isolated = !SameNamespace("/proc/self/ns/net", "/proc/1/ns/net")
            && ReadWholeFile("/etc/resolv.conf") == kResolverConfig;
        EXPECT_TRUE(isolated) << kWithoutNameServer << " is set, but this process is not alone";
        return isolated;
    }
    if (geteuid() != 0) {
        Skip("needs root for namespaces of its own, where no name server can be reached");
        return false;
    }

    // Everything the child needs is made before the fork: after it, in a
    // process with threads, only system calls are safe until the exec.
    const testing::TestInfo& test = *testing::UnitTest::GetInstance()->current_test_info();
    std::vector<std::string> args {std::filesystem::read_symlink("/proc/self/exe").string(),
        std::string("--gtest_filter=") + test.test_suite_name() + "." + test.name()};
    std::vector<std::string> environment {std::string(kWithoutNameServer) + "=1"};
    for (char** e = environ; *e != nullptr; ++e)
        environment.emplace_back(*e);
    std::vector<char*> argv = Argv(args);
    std::vector<char*> envp = Argv(environment);

    const pid_t pid = fork();
    if (pid == 0)
        ExecWithoutNameServer(argv.data(), envp.data());
    int status = 0;
    const bool waited = pid > 0 && waitpid(pid, &status, 0) == pid;
    if (waited && WIFEXITED(status) && WEXITSTATUS(status) == kCannotIsolate)
        Skip("this machine does not let a process have namespaces of its own");
    else if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ADD_FAILURE() << "the test failed in its process without a name server (status " << status
                      << "; its output is above)";
    return false;
}
