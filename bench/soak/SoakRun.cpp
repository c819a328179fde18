// Soak run: the real program (window, scheduler, workers, real ICMP, the
// result log in the working directory) for a given time, with 1,000 loopback
// hosts and namespace test hosts, some of which flap: they answer, fall
// silent and answer again on a fixed schedule. It watches the process and
// the window, then reads the log, and says whether
//   - resident memory and the thread count stay flat after a warm-up,
//   - no row keeps its in-flight mark longer than a probe's timeout and a
//     margin,
//   - every flap shows in the log, in both log modes: the first half of the
//     run in Full log, the second half in Log by status (written to a folder
//     of its own, so that each mode's lines stand apart),
//   - no log line tells of a change that did not happen (a loopback or a
//     steady host that seemed to stop answering, a flapping host out of
//     phase).
// Needs root (network namespaces); exit status 77 without it, 1 when a check
// fails, 0 when all pass.
//
//   kelvoran-soak [--seconds N] [--hosts N] [--warmup S] [--samples FILE] [--raw]
//
// --seconds: 600 by default, at least 80. --samples: one line a second of
// memory, threads, probes in flight and marks, as CSV.
// --raw closes ping_group_range in the prober's namespace, so that probes go
// through raw sockets; by default they use datagram sockets.
#include "app/HostApp.h"
#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "icmp/IcmpLibrary.h"
#include "icmp/IcmpProbe.h"
#include "res/ResourceIds.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/NetnsLab.h"
#include "tests/support/ProcessUsage.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAction>
#include <QApplication>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

// A host that answers for on ms, then not for off ms, from the test host's
// start on. Each phase is long enough to be seen: an answer phase holds a
// probe even when the host was silent before (probes then come every 10 s),
// a silent phase holds one of a host that answered (every 5 s).
struct Flapper
{
    const char* address;
    int onMs;
    int offMs;
};
constexpr Flapper kFlappers[] = {
    {"198.18.0.20", 13000, 8000},
    {"198.18.0.21", 15000, 15000},
    {"198.18.0.22", 20000, 10000},
};
// Hosts that never change: what the log says of them must never change.
constexpr const char* kSteady[][2] = {
    {"198.18.0.10", "echo"},
    {"198.18.0.11", "delay:150"},
    {"198.18.0.12", "silent"},
};

constexpr double kProbeTimeoutS = 5.0;
// A probe's mark lasts its timeout, plus the thread's start and the result's
// way back to the window, plus the sampling step.
constexpr double kMarkMarginS = 1.5 * KELVORAN_SLOWDOWN;
// A result is logged at most a timeout and a tick after its request left;
// log times are whole seconds.
constexpr double kLogLagS = kProbeTimeoutS + 1.0 + 0.5 * KELVORAN_SLOWDOWN;

std::atomic<bool> stopRequested {false};

struct Options
{
    int seconds = 600;
    int hosts = 1000;
    int warmup = -1;
    std::string samples;
    bool raw = false;
};

struct Sample
{
    double t; // seconds since the load
    double rssMib;
    long threads;
    int inFlight;
    int marked;
    double longestMark; // seconds, of the marks standing now
};

struct LogLine
{
    double t; // seconds since the load, from the line's own time
    std::string host;
    std::int32_t value; // -1: N/A
};

// Reads a folder's result logs in day order; line times become seconds since
// `start` (a wall-clock time), counting on across midnight.
std::vector<LogLine> ReadLogs(const std::string& folder, std::time_t start)
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("kelvoran.", 0) == 0 && name != "kelvoran.ini")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    std::tm startLocal {};
    localtime_r(&start, &startLocal);
    const int startOfDay = startLocal.tm_hour * 3600 + startLocal.tm_min * 60 + startLocal.tm_sec;
    std::vector<LogLine> lines;
    int days = 0;
    int previous = -1;
    for (const std::string& file : files) {
        std::ifstream in(file);
        for (std::string text; std::getline(in, text);) {
            int h = 0, m = 0, s = 0;
            char host[32] = {};
            char value[32] = {};
            if (std::sscanf(text.c_str(), "[%d:%d:%d] %31s %31s", &h, &m, &s, host, value) != 5)
                continue;
            const int ofDay = h * 3600 + m * 60 + s;
            if (previous >= 0 && ofDay < previous - 3600)
                ++days;
            previous = ofDay;
            lines.push_back({static_cast<double>(ofDay + days * 86400 - startOfDay), host,
                std::string(value) == "N/A" ? -1 : std::atoi(value)});
        }
    }
    return lines;
}

// Least-squares slope of y over t.
double Slope(const std::vector<double>& t, const std::vector<double>& y)
{
    const double n = static_cast<double>(t.size());
    double st = 0, sy = 0, stt = 0, sty = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        st += t[i];
        sy += y[i];
        stt += t[i] * t[i];
        sty += t[i] * y[i];
    }
    const double d = n * stt - st * st;
    return d == 0 ? 0 : (n * sty - st * sy) / d;
}

class Soak
{
public:
    explicit Soak(const Options& options)
        : options_(options)
    { }

    int Run(int argc, char** argv);

private:
    void Tick();
    void SwitchToLogByStatus();
    bool CheckFlat();
    bool CheckMarks();
    bool CheckLog(
        const char* mode, const std::vector<LogLine>& lines, double from, double to, bool byStatus);
    // Whether host answers at time t (seconds since the load), and when the
    // phase around t began and ends.
    bool Answers(const Flapper& f, double t) const;
    double Seconds() const;

    Options options_;
    CMainFrame* frame_ = nullptr;
    SteadyClock::time_point load_ {};
    double flapOrigin_ = 0; // the test host's start, in seconds since the load
    std::time_t wallAtLoad_ = 0;
    double switchAt_ = 0;
    bool switched_ = false;
    std::vector<Sample> samples_;
    std::vector<double> markSince_; // per row; < 0 when not marked
    double longestMark_ = 0;
    double nextSample_ = 0;
    double nextReport_ = 0;
    double reportEvery_ = 60;
    std::shared_ptr<std::atomic<long>> probes_ = std::make_shared<std::atomic<long>>(0);
    long probesAtReport_ = 0;
    double reportedAt_ = 0;
};

double Soak::Seconds() const
{
    return std::chrono::duration<double>(SteadyClock::now() - load_).count();
}

bool Soak::Answers(const Flapper& f, double t) const
{
    const double period = (f.onMs + f.offMs) / 1000.0;
    const double phase = std::fmod(t - flapOrigin_, period);
    return phase < f.onMs / 1000.0;
}

int Soak::Run(int argc, char** argv)
{
    if (const std::string why = NetnsLab::WhyUnavailable(); !why.empty()) {
        std::fprintf(stderr, "kelvoran-soak: skipped: %s\n", why.c_str());
        return 77;
    }
    std::vector<std::string> labHosts;
    std::string group = "[Soak]\n";
    for (int i = 0; i < options_.hosts; ++i)
        group += "127.6." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1) + "\n";
    for (const auto& [address, behaviour] : kSteady) {
        labHosts.push_back(std::string(address) + "=" + behaviour);
        group += std::string(address) + " " + behaviour + "\n";
    }
    for (const Flapper& f : kFlappers) {
        labHosts.push_back(std::string(f.address) + "=flap:" + std::to_string(f.onMs) + ":"
            + std::to_string(f.offMs));
        group += std::string(f.address) + " flaps\n";
    }

    NetnsLab lab;
    if (const std::string error = lab.Start(labHosts, options_.seconds + 120); !error.empty()) {
        std::fprintf(stderr, "kelvoran-soak: %s\n", error.c_str());
        return 1;
    }
    const SteadyClock::time_point flapStart = SteadyClock::now();
    if (!lab.SetPingGroupRange(!options_.raw) || !lab.EnterProber()) {
        std::fprintf(stderr, "kelvoran-soak: cannot enter the prober's namespace\n");
        return 1;
    }

    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication qapp(argc, argv);
    TempDir dir;
    dir.write("kelvoran.ini", group);
    mkdir(dir.file("status").c_str(), 0755);

    // The real probe, counted on its way.
    CMainFrame::Services services;
    services.echo = std::make_shared<const ObservedEcho>(
        [probes = probes_](std::uint32_t, const EchoReply&) { ++*probes; });
    CHostApp app(SocketLayerWorks, services);
    WhenModal([](QWidget* dialog) {
        for (int key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Down, Qt::Key_Return})
            PressKey(dialog, key);
    });
    if (!app.InitInstance())
        return 1;
    frame_ = app.MainWindow();
    // Full log from the first result on.
    frame_->CommandAction(ID_FULL_LOG)->trigger();
    const int rows = options_.hosts + static_cast<int>(std::size(kSteady) + std::size(kFlappers));
    if (!WaitUntil([&] { return frame_->hostList->GetItemCount() == rows; }, 30000)) {
        std::fprintf(stderr, "kelvoran-soak: the group did not load\n");
        return 1;
    }
    load_ = SteadyClock::now();
    wallAtLoad_ = std::time(nullptr);
    flapOrigin_ = std::chrono::duration<double>(flapStart - load_).count();
    switchAt_ = options_.seconds / 2.0;
    markSince_.assign(static_cast<std::size_t>(rows), -1);
    if (options_.warmup < 0)
        options_.warmup = std::min(60, options_.seconds / 4);
    reportEvery_ = options_.seconds >= 300 ? 60 : 10;
    std::printf("soak: %d s, %d loopback and %zu namespace hosts (%zu flapping), warm-up %d s\n",
        options_.seconds, options_.hosts, std::size(kSteady) + std::size(kFlappers),
        std::size(kFlappers), options_.warmup);
    std::printf("%8s %9s %8s %9s %7s %12s %9s\n", "t/s", "rss/MiB", "threads", "in-flight",
        "marked", "longest √/s", "probes/s");
    std::fflush(stdout);

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        Tick();
        if (Seconds() >= options_.seconds || stopRequested) {
            watch.stop();
            frame_->CommandAction(ID_APP_EXIT)->trigger();
        }
    });
    watch.start(200);
    app.Run();
    const double ran = Seconds();
    const char* kind = IcmpLibrary::Kind() == IcmpSocketKind::Raw ? "raw" : "datagram";

    std::printf("ran %.0f s over %s sockets, %ld probes\n", ran, kind, probes_->load());
    if (!options_.samples.empty()) {
        std::ofstream out(options_.samples);
        out << "t_s,rss_mib,threads,in_flight,marked,longest_mark_s\n";
        for (const Sample& s : samples_)
            out << s.t << ',' << s.rssMib << ',' << s.threads << ',' << s.inFlight << ','
                << s.marked << ',' << s.longestMark << '\n';
    }
    bool ok = CheckFlat();
    ok = CheckMarks() && ok;
    const double end = std::min(ran, static_cast<double>(options_.seconds));
    ok = CheckLog("Full log", ReadLogs(dir.path(), wallAtLoad_), 0, switchAt_, false) && ok;
    ok = CheckLog("Log by status", ReadLogs(dir.file("status"), wallAtLoad_), switchAt_, end, true)
        && ok;
    if (LiveHostEntries() != 0) {
        std::printf("FAIL: %ld host entries live after the window closed\n", LiveHostEntries());
        ok = false;
    }
    if (stopRequested) {
        std::printf("stopped early\n");
        ok = false;
    }
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

void Soak::SwitchToLogByStatus()
{
    // From here on the log goes to a folder of its own: the window writes its
    // log into the working directory.
    std::filesystem::current_path("status");
    frame_->CommandAction(ID_LOG_BY_STATUS)->trigger();
    switched_ = true;
}

void Soak::Tick()
{
    const double now = Seconds();
    if (!switched_ && now >= switchAt_)
        SwitchToLogByStatus();
    int marked = 0;
    double longest = 0;
    for (int row = 0; row < frame_->hostList->GetItemCount(); ++row) {
        const auto* entry = reinterpret_cast<HostEntry*>(frame_->hostList->GetItemData(row));
        if (entry == nullptr)
            continue;
        // By entry order, which sorting does not change.
        double& since = markSince_[static_cast<std::size_t>(entry->order)];
        if (frame_->hostList->GetItemText(row, 0) != InFlightMark()) {
            since = -1;
            continue;
        }
        if (since < 0)
            since = now;
        ++marked;
        longest = std::max(longest, now - since);
    }
    longestMark_ = std::max(longestMark_, longest);
    if (now < nextSample_)
        return;
    nextSample_ += 1;
    samples_.push_back({now, ProcessStatus("VmRSS") / 1024.0, ProcessStatus("Threads"),
        frame_->probesInFlight(), marked, longest});
    if (now >= nextReport_) {
        nextReport_ += reportEvery_;
        const Sample& s = samples_.back();
        const long probes = probes_->load();
        std::printf("%8.0f %9.1f %8ld %9d %7d %12.1f %9.0f\n", s.t, s.rssMib, s.threads, s.inFlight,
            s.marked, s.longestMark, (probes - probesAtReport_) / std::max(s.t - reportedAt_, 1.0));
        probesAtReport_ = probes;
        reportedAt_ = s.t;
        std::fflush(stdout);
    }
}

bool Soak::CheckFlat()
{
    std::vector<double> t, rss, threads;
    double peakThreads = 0;
    for (const Sample& s : samples_) {
        if (s.t < options_.warmup)
            continue;
        t.push_back(s.t);
        rss.push_back(s.rssMib);
        threads.push_back(static_cast<double>(s.threads));
        peakThreads = std::max(peakThreads, static_cast<double>(s.threads));
    }
    if (t.size() < 10) {
        std::printf("FAIL: too few samples after the warm-up\n");
        return false;
    }
    const double span = t.back() - t.front();
    const double rssGrowth = Slope(t, rss) * span;
    const double threadGrowth = Slope(t, threads) * span;
    double meanThreads = 0;
    for (double n : threads)
        meanThreads += n / static_cast<double>(threads.size());
    std::printf("after the warm-up (%.0f s): rss %.1f -> %.1f MiB, trend %+.2f MiB over the run; "
                "threads mean %.1f, peak %.0f, trend %+.1f\n",
        span, rss.front(), rss.back(), rssGrowth, meanThreads, peakThreads, threadGrowth);
    bool ok = true;
#if !KELVORAN_SANITIZED
    // Sanitizers hold freed memory back for a while by design, so only an
    // unsanitized build can tell growth from their quarantine.
    if (rssGrowth > 2.0 + 0.02 * rss.front()) {
        std::printf("FAIL: resident memory grows\n");
        ok = false;
    }
#endif
    if (threadGrowth > 10 + 0.25 * meanThreads) {
        std::printf("FAIL: the thread count grows\n");
        ok = false;
    }
    return ok;
}

bool Soak::CheckMarks()
{
    const double limit = kProbeTimeoutS + kMarkMarginS;
    std::printf("longest-standing in-flight mark: %.1f s (limit %.1f s)\n", longestMark_, limit);
    if (longestMark_ > limit) {
        std::printf("FAIL: a mark stood longer than a probe can take\n");
        return false;
    }
    return true;
}

bool Soak::CheckLog(
    const char* mode, const std::vector<LogLine>& lines, double from, double to, bool byStatus)
{
    bool ok = true;
    std::map<std::string, std::vector<const LogLine*>> byHost;
    for (const LogLine& line : lines)
        byHost[line.host].push_back(&line);
    std::printf("%s, %.0f s to %.0f s: %zu lines\n", mode, from, to, lines.size());

    // Hosts that never change: loopback and steady namespace hosts.
    for (const auto& [host, hostLines] : byHost) {
        bool flapper = false;
        for (const Flapper& f : kFlappers)
            flapper = flapper || host == f.address;
        if (flapper)
            continue;
        const bool silent = host == kSteady[2][0];
        for (const LogLine* line : hostLines) {
            if ((line->value < 0) != silent) {
                std::printf("FAIL: %s logged as %s at %.0f s\n", host.c_str(),
                    line->value < 0 ? "not answering" : "answering", line->t);
                ok = false;
            }
        }
        // In Log by status a host that never changes has nothing to log.
        if (byStatus && !hostLines.empty()) {
            std::printf(
                "FAIL: %s has %zu lines in Log by status\n", host.c_str(), hostLines.size());
            ok = false;
        }
    }

    for (const Flapper& f : kFlappers) {
        const std::vector<const LogLine*>& hostLines = byHost[f.address];
        // Every line tells of the phase its probe fell in: an answer comes
        // at once, no answer is known a timeout later.
        int strays = 0;
        for (const LogLine* line : hostLines) {
            bool fits = false;
            for (double t = line->t - kLogLagS; t <= line->t + 1.0 && !fits; t += 0.25)
                fits = Answers(f, t) == (line->value >= 0);
            strays += fits ? 0 : 1;
        }
        // Every phase that starts and ends inside this part of the run has
        // its line, with the phase's status.
        const double period = (f.onMs + f.offMs) / 1000.0;
        int phases = 0;
        int logged = 0;
        for (double start = flapOrigin_; start < to; start += period) {
            const double bounds[3] = {start, start + f.onMs / 1000.0, start + period};
            for (int p = 0; p < 2; ++p) {
                const double s = bounds[p];
                const double e = bounds[p + 1];
                if (s < from + 1.0 || e + kLogLagS > to)
                    continue;
                ++phases;
                const bool answering = p == 0;
                const bool found
                    = std::any_of(hostLines.begin(), hostLines.end(), [&](const LogLine* line) {
                          return (line->value >= 0) == answering && line->t >= s - 1.0
                              && line->t <= e + kLogLagS;
                      });
                logged += found ? 1 : 0;
                if (!found)
                    std::printf("  %s: no line for its %s phase %.0f s to %.0f s\n", f.address,
                        answering ? "answering" : "silent", s, e);
            }
        }
        // Every line is a change: of the value in Full log, of the status in
        // Log by status.
        int repeats = 0;
        for (std::size_t i = 1; i < hostLines.size(); ++i) {
            const LogLine& a = *hostLines[i - 1];
            const LogLine& b = *hostLines[i];
            repeats += byStatus ? (a.value >= 0) == (b.value >= 0) : a.value == b.value;
        }
        std::printf("  %s (flap %d/%d ms): %d of %d phases logged, %zu lines, %d out of phase%s\n",
            f.address, f.onMs, f.offMs, logged, phases, hostLines.size(), strays,
            repeats > 0 ? ", lines that change nothing" : "");
        if (phases == 0 || logged != phases || strays > 0 || repeats > 0)
            ok = false;
    }
    if (!ok)
        std::printf("FAIL: %s\n", mode);
    return ok;
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue)
            options.seconds = std::atoi(argv[++i]);
        else if (arg == "--hosts" && hasValue)
            options.hosts = std::atoi(argv[++i]);
        else if (arg == "--warmup" && hasValue)
            options.warmup = std::atoi(argv[++i]);
        else if (arg == "--samples" && hasValue)
            options.samples = argv[++i];
        else if (arg == "--raw")
            options.raw = true;
        else {
            std::fprintf(stderr,
                "usage: kelvoran-soak [--seconds N] [--hosts N] [--warmup S] [--samples FILE] "
                "[--raw]\n");
            std::exit(2);
        }
    }
    // Bounded: at most a day; at least long enough for each half to see a
    // whole phase of every flapping host.
    options.seconds = std::clamp(options.seconds, 80, 86400);
    options.hosts = std::clamp(options.hosts, 0, 60000); // what 127.6.0.0/16 holds
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    std::signal(SIGINT, [](int) { stopRequested = true; });
    std::signal(SIGTERM, [](int) { stopRequested = true; });
    Soak soak(options);
    return soak.Run(argc, argv);
}
