// The window thread's own parts of a probe, apart from the program:
//   tick   ordering and walking a snapshot of 10,000 host entries, with the
//          cap stopping the walk after 51 starts and with nothing stopping it,
//          the entries out of the cache as they are by the next tick;
//   channel  handing 60 waiting workers' results to the window thread.
// Prints key=value figures in microseconds (medians of the rounds).
#include "hosts/HostEntry.h"
#include "probe/ProbeChannel.h"
#include "probe/Scheduler.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

double ThreadCpuUs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Pushes the entries out of the cache, as the workers' and the event loop's
// work does between two ticks.
void EvictCache()
{
    static std::vector<char> junk(32 << 20);
    for (std::size_t i = 0; i < junk.size(); i += 64)
        ++junk[i];
}

double TickUs(const std::vector<HostEntry*>& snapshot, bool capped)
{
    std::vector<double> rounds;
    for (int r = 0; r < 21; ++r) {
        EvictCache();
        std::int32_t inFlight = 0;
        const auto start = std::chrono::steady_clock::now();
        RunScheduleTick(snapshot,
            {
                [&] { return inFlight; },
                [] { return 2'000'000'000u; },
                [&](HostEntry*) {
                    if (capped)
                        ++inFlight;
                },
            });
        rounds.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return Median(rounds);
}

// Window-thread CPU per result, and the whole process's, for rounds of
// `senders` workers that all wait for their result to be handled.
void ChannelUs(int senders, double* deliverUs)
{
    ProbeChannel channel;
    channel.Open([] {});
    std::atomic<int> round {0};
    std::atomic<bool> stop {false};
    std::vector<std::thread> workers;
    for (int i = 0; i < senders; ++i)
        workers.emplace_back([&] {
            for (int seen = 0;;) {
                while (round.load() == seen && !stop)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                if (stop)
                    return;
                seen = round.load();
                channel.Send({nullptr, 1, {}});
            }
        });
    std::vector<double> perResult;
    long handled = 0;
    for (int r = 1; r <= 200; ++r) {
        round = r;
        // Every worker is waiting before the batch is delivered, as after a
        // tick whose loopback probes have all come back.
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const double start = ThreadCpuUs();
        const long before = handled;
        while (handled < static_cast<long>(r) * senders)
            channel.Deliver([&](const ProbeResult&) { ++handled; });
        perResult.push_back((ThreadCpuUs() - start) / static_cast<double>(handled - before));
    }
    stop = true;
    channel.Close();
    for (std::thread& w : workers)
        w.join();
    *deliverUs = Median(perResult);
}

} // namespace

int main()
{
    // Entries lie apart on the heap as a group load leaves them, between the
    // rows' own blocks.
    std::mt19937 rng(1);
    std::vector<std::unique_ptr<HostEntry>> owned;
    std::vector<std::unique_ptr<char[]>> between;
    std::vector<HostEntry*> snapshot;
    for (int i = 0; i < 10000; ++i) {
        owned.push_back(std::make_unique<HostEntry>());
        between.push_back(std::make_unique<char[]>(512));
        owned.back()->row = i;
        owned.back()->lastDone = 1'000'000 + static_cast<std::int32_t>(rng() % 20000);
        snapshot.push_back(owned.back().get());
    }
    double deliverUs = 0;
    ChannelUs(60, &deliverUs);
    std::printf("tick_capped_us=%.0f tick_whole_walk_us=%.0f deliver_us_per_result=%.1f\n",
        TickUs(snapshot, true), TickUs(snapshot, false), deliverUs);
    return 0;
}
