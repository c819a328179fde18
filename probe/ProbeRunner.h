#pragma once

#include "probe/WorkerThread.h"
#include "tick/TickCount.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class EchoLayer;
class ProbeChannel;
struct HostEntry;
struct ProbeOutcome;

// What probing needs of the outside world, passed in so that tests can drive it.
struct ProbeServices
{
    TickSource tick = GetTickCount;
    // What probes send through: the one IcmpLibrary loads when empty. The
    // workers share it, for they may outlive the window.
    std::shared_ptr<const EchoLayer> echo;
    ThreadStarter startThread = StartWorkerThread;
};

// The probe loop: a timer tick on the window thread starts a probe on a worker
// thread of its own, which runs the echo exchange and hands the result back to
// the window thread, where it is delivered to the window.
//
// The runner belongs to the window; what the workers share with it (the load
// generation, the count of probes in flight, the channel back) is reference-
// counted, so that a worker still waiting for its echo when the window closes
// still finds it, and its result is refused. Workers never touch an entry: they
// take a copy of its address when they are started and hand the pointer back
// with the outcome, and the window thread drops results of replaced groups.
// The runner writes nothing of an entry but its busy flag at the start: what
// a result does to its host is booked by the window (BookResult).
class ProbeRunner
{
public:
    // Runs a call on the window thread, later, from its event loop. Called from
    // worker threads. Calls must not run once the runner is gone (a call
    // posted to the window's own event queue goes with the window).
    using Poster = std::function<void(std::function<void()> call)>;
    // A result for the window: the entry and its probe's outcome, or a null
    // entry when a group load has replaced the entry's group since its probe
    // started.
    using ResultHandler = std::function<void(HostEntry* entry, const ProbeOutcome& outcome)>;

    explicit ProbeRunner(ProbeServices services = {});
    ~ProbeRunner();
    ProbeRunner(const ProbeRunner&) = delete;
    ProbeRunner& operator=(const ProbeRunner&) = delete;

    // Results are delivered from now on, one call to onResult each.
    void Open(Poster post, ResultHandler onResult);
    // No result is delivered any more. Workers still waiting to hand one over
    // return at once; those still probing are turned away when they end.
    void Close();

    // One scheduler tick over a snapshot of the rows' entries, which
    // `snapshot` puts into the vector it is given: the due ones are marked
    // busy and started, each on its own thread, while the cap allows;
    // `started` is called for each that started. A thread the system refuses
    // leaves its entry free and ends the walk.
    void Tick(const std::function<void(std::vector<HostEntry*>&)>& snapshot,
        const std::function<void(HostEntry*)>& started);

    // A group load begins: results of probes started before it are dropped.
    void BeginLoad();
    std::int32_t loadGeneration() const;
    std::int32_t probesInFlight() const;

    // The tick count by the services' clock.
    std::uint32_t Now() const { return services_.tick(); }

private:
    bool Start(HostEntry* entry);
    void Deliver();
    static void RunProbe(const std::shared_ptr<ProbeChannel>& channel, HostEntry* entry,
        std::int32_t generation, const std::string& name,
        const std::shared_ptr<const EchoLayer>& echo);

    ProbeServices services_;
    std::shared_ptr<ProbeChannel> channel_;
    std::vector<HostEntry*> snapshot_; // kept from tick to tick
    ResultHandler onResult_;
};
