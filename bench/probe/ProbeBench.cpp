// kelvoran-bench-probe: CPU time and round-trip times of sequential probes.
//
//   kelvoran-bench-probe [--count N] [--interval MS] [--kind datagram|raw|both]
//                        [--threads N] [--netns] [HOST]
//
// --threads N runs each probe on a worker thread of its own, started as the
// program starts them, with up to N running at once: the probe's cost with the
// thread's but without the window's.
// HOST (127.0.0.1 by default) must be in 127.0.0.0/8 or in 198.18.0.0/15,
// where only test hosts made for the purpose live. --netns runs in a network
// namespace of its own with loopback up and datagram ICMP sockets allowed
// (needs root), so both socket kinds can be measured and nothing leaves.

#include "icmp/EchoLayer.h"
#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"
#include "icmp/Resolver.h"
#include "probe/WorkerThread.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

bool IsBenchTarget(std::uint32_t address)
{
    const std::uint32_t host = ntohl(address);
    return (host >> 24) == 127 || (host & 0xfffe0000u) == 0xc6120000u;
}

bool EnterOwnNamespace()
{
    if (unshare(CLONE_NEWNET) != 0) {
        std::perror("unshare(CLONE_NEWNET)");
        return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    request.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    const bool up = fd >= 0 && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    close(fd);
    const int range = open("/proc/sys/net/ipv4/ping_group_range", O_WRONLY | O_CLOEXEC);
    const char* all = "0 2147483647";
    const bool open = range >= 0 && write(range, all, std::strlen(all)) > 0;
    close(range);
    return up && open;
}

double CpuMicroseconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 + usage.ru_utime.tv_usec
        + usage.ru_stime.tv_usec;
}

// Runs `count` probes, each on a worker thread of its own, with at most
// `limit` running at once; collects the round-trip times of those that passed,
// in microseconds.
int ProbeOnThreads(const EchoLayer& echo, const char* host, int count, int limit,
    std::vector<std::uint32_t>& times)
{
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return running < limit; });
        ++running;
        lock.unlock();
        const bool started = StartWorkerThread([&] {
            const ProbeOutcome outcome = IcmpProbe(echo, host, 10, 5000, 32);
            std::lock_guard done(mutex);
            if (outcome.Answered())
                times.push_back(outcome.reply.roundTripUs);
            else
                ++failures;
            --running;
            finished.notify_one();
        });
        if (!started) {
            lock.lock();
            --running;
            ++failures;
        }
    }
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return running == 0; });
    return failures;
}

void Measure(IcmpSocketKind kind, const char* host, int count, int intervalMs, int threads)
{
    const char* name = kind == IcmpSocketKind::Datagram ? "datagram" : "raw";
    const std::unique_ptr<EchoLayer> layer = IcmpLibrary::MakeEcho(kind);
    const EchoLayer& echo = *layer;
    std::uint32_t failure = 0;
    const EchoHandle probe = echo.CreateHandle(&failure);
    if (probe == kInvalidEchoHandle) {
        std::printf("%-8s  cannot open this socket kind here\n", name);
        return;
    }
    echo.CloseHandle(probe);

    std::vector<std::uint32_t> times;
    int failures = 0;
    const double cpuStart = CpuMicroseconds();
    const auto wallStart = std::chrono::steady_clock::now();
    if (threads > 0)
        failures = ProbeOnThreads(echo, host, count, threads, times);
    for (int i = 0; threads == 0 && i < count; ++i) {
        const ProbeOutcome outcome = IcmpProbe(echo, host, 10, 5000, 32);
        if (outcome.Answered())
            times.push_back(outcome.reply.roundTripUs);
        else
            ++failures;
        if (intervalMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    const double cpu = CpuMicroseconds() - cpuStart;
    const double wall
        = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - wallStart)
              .count();
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (const std::uint32_t t : times)
        sum += t;
    std::printf("%-8s  %d probes to %s%s, %d failed; CPU %.1f us/probe, wall %.1f us/probe", name,
        count, host, threads > 0 ? " on threads" : "", failures, cpu / count, wall / count);
    // Whole milliseconds, cut, as the row shows them, then to the microsecond.
    if (!times.empty()) {
        const std::uint32_t median = times[times.size() / 2];
        std::printf("; RTT ms min %u median %u avg %.2f max %u", times.front() / 1000,
            median / 1000, sum / times.size() / 1000, times.back() / 1000);
        std::printf("; RTT us min %u median %u avg %.0f max %u", times.front(), median,
            sum / times.size(), times.back());
    }
    std::printf("; receive drops %u\n", echo.ReceiveDrops());
}

} // namespace

int main(int argc, char** argv)
{
    int count = 2000;
    int intervalMs = 0;
    std::string kinds = "both";
    int threads = 0;
    bool ownNamespace = false;
    const char* host = "127.0.0.1";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--count" && i + 1 < argc)
            count = std::clamp(std::atoi(argv[++i]), 1, 1000000);
        else if (arg == "--interval" && i + 1 < argc)
            intervalMs = std::clamp(std::atoi(argv[++i]), 0, 10000);
        else if (arg == "--kind" && i + 1 < argc)
            kinds = argv[++i];
        else if (arg == "--threads" && i + 1 < argc)
            threads = std::clamp(std::atoi(argv[++i]), 0, 1000);
        else if (arg == "--netns")
            ownNamespace = true;
        else if (arg[0] != '-')
            host = argv[i];
        else {
            std::fprintf(stderr,
                "usage: kelvoran-bench-probe [--count N] [--interval MS] "
                "[--kind datagram|raw|both] [--threads N] [--netns] [HOST]\n");
            return 2;
        }
    }
    const std::optional<std::uint32_t> address = ResolveHostText(host);
    if (!address || !IsBenchTarget(*address)) {
        std::fprintf(
            stderr, "kelvoran-bench-probe: %s is not in 127.0.0.0/8 or 198.18.0.0/15\n", host);
        return 2;
    }
    if (ownNamespace && !EnterOwnNamespace())
        return 1;
    if (kinds == "datagram" || kinds == "both")
        Measure(IcmpSocketKind::Datagram, host, count, intervalMs, threads);
    if (kinds == "raw" || kinds == "both")
        Measure(IcmpSocketKind::Raw, host, count, intervalMs, threads);
    return 0;
}
