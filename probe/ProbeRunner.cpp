#include "probe/ProbeRunner.h"

#include "hosts/HostEntry.h"
#include "icmp/IcmpProbe.h"
#include "probe/ProbeChannel.h"
#include "probe/Scheduler.h"

namespace {

// Every probe: TTL 10, 32 data bytes, 5 s to answer.
constexpr std::uint8_t kTtl = 10;
constexpr std::uint32_t kTimeoutMs = 5000;
constexpr std::uint8_t kDataSize = 32;

} // namespace

ProbeRunner::ProbeRunner(ProbeServices services)
    : services_(std::move(services))
    , channel_(std::make_shared<ProbeChannel>())
{ }

ProbeRunner::~ProbeRunner()
{
    Close();
}

void ProbeRunner::Open(Poster post, ResultHandler onResult)
{
    onResult_ = std::move(onResult);
    channel_->loadGeneration = 0;
    channel_->probesInFlight = 0;
    channel_->Open([this, post = std::move(post)] { post([this] { Deliver(); }); });
}

void ProbeRunner::Close()
{
    channel_->Close();
}

void ProbeRunner::BeginLoad()
{
    channel_->loadGeneration.fetch_add(1);
}

std::int32_t ProbeRunner::loadGeneration() const
{
    return channel_->loadGeneration.load();
}

std::int32_t ProbeRunner::probesInFlight() const
{
    return channel_->probesInFlight.load();
}

void ProbeRunner::Tick(const std::function<void(std::vector<HostEntry*>&)>& snapshot,
    const std::function<void(HostEntry*)>& started)
{
    // The walk reads the count before its first element and would stop there:
    // with thousands of hosts, many of them silent, the cap holds most ticks,
    // and those need no snapshot of thousands of entries.
    if (channel_->probesInFlight.load() > kMaxProbesInFlight)
        return;
    snapshot_.clear();
    snapshot(snapshot_);
    // A thread refused ends the walk as the cap does: the system would refuse
    // the rest of this tick's threads too, and trying each of thousands of
    // hosts ten times a second only burns the time it has left.
    bool refused = false;
    RunScheduleTick(snapshot_,
        {
            [this, &refused] {
                return refused ? kMaxProbesInFlight + 1 : channel_->probesInFlight.load();
            },
            services_.tick,
            [this, &refused, &started](HostEntry* entry) {
                if (Start(entry))
                    started(entry);
                else
                    refused = true;
            },
        });
}

bool ProbeRunner::Start(HostEntry* entry)
{
    entry->busy = 1;
    // The worker gets its own copy of the address, since the entry may be
    // freed by a group load while the worker runs, and the load generation of
    // this moment: a thread may begin running only after a load that came
    // later, and must not take that load's generation for its own.
    auto body = [channel = channel_, entry, generation = channel_->loadGeneration.load(),
                    name = entry->name,
                    echo = services_.echo] { RunProbe(channel, entry, generation, name, echo); };
    if (!services_.startThread(std::move(body))) {
        // No thread today: leave the host free, so that a later tick retries.
        entry->busy = 0;
        return false;
    }
    return true;
}

void ProbeRunner::RunProbe(const std::shared_ptr<ProbeChannel>& channel, HostEntry* entry,
    std::int32_t generation, const std::string& name, const std::shared_ptr<const EchoLayer>& echo)
{
    channel->probesInFlight.fetch_add(1);
    const ProbeOutcome outcome = echo ? IcmpProbe(*echo, name.c_str(), kTtl, kTimeoutMs, kDataSize)
                                      : IcmpProbe(name.c_str(), kTtl, kTimeoutMs, kDataSize);
    const bool current = generation == channel->loadGeneration.load();
    channel->Send({current ? entry : nullptr, generation, outcome});
    channel->probesInFlight.fetch_sub(1);
}

void ProbeRunner::Deliver()
{
    channel_->Deliver([this](const ProbeResult& result) {
        // The generation is tested again here, on the window thread, where
        // group loads happen: between the worker's test and this moment a
        // load may have freed the entry.
        const bool current
            = result.entry != nullptr && result.generation == channel_->loadGeneration.load();
        onResult_(current ? result.entry : nullptr, result.outcome);
    });
}
