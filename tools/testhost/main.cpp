// kelvoran-testhost: answers ICMP echo requests for test addresses in a
// network namespace whose kernel does not (net.ipv4.icmp_echo_ignore_all=1),
// each address with a behaviour of its own. Needs CAP_NET_RAW. Prints "ready"
// once it listens and ends by itself after --lifetime seconds. A flooding
// address, once asked, floods the asker (itself a test address) until then.
//
//   kelvoran-testhost [--lifetime SECONDS] [--report-holds] ADDRESS=BEHAVIOUR...

#include "tools/testhost/EchoResponder.h"
#include "tools/testhost/HostBehaviour.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

// Nanoseconds: a delay must not come out short by the part of a millisecond
// that a coarser clock would drop.
std::int64_t Now(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec t {};
    clock_gettime(clock, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// When the request reached this namespace, on the real-time clock, as the
// kernel stamped it on arrival; the time this program takes to get to it
// must not lengthen a delay.
std::int64_t ArrivalStamp(msghdr& msg)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return static_cast<std::int64_t>(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec;
        }
    }
    return Now(CLOCK_REALTIME);
}

// With --report-holds, a line on standard output for each answer held back:
// "held ADDRESS FROM TO", nanoseconds from the request's arrival to the
// clock just before and just after the answer was sent, so that a test can
// tell this program's own lateness from the prober's. Never blocks: lines
// nobody reads are dropped.
void ReportHold(const OutgoingPacket& packet, std::int64_t arrived, std::int64_t before)
{
    const std::int64_t after = Now(CLOCK_REALTIME);
    char from[INET_ADDRSTRLEN] = "?";
    if (packet.bytes.size() >= 20)
        inet_ntop(AF_INET, packet.bytes.data() + 12, from, sizeof from);
    char line[96];
    const int n = std::snprintf(line, sizeof line, "held %s %lld %lld\n", from,
        static_cast<long long>(before - arrived), static_cast<long long>(after - arrived));
    if (write(STDOUT_FILENO, line, static_cast<std::size_t>(n)) < 0) { }
}

struct Pending
{
    std::int64_t arrived; // real-time clock
    std::int64_t due;
    OutgoingPacket packet;
};

// Unrelated ICMP to one prober, sent in bursts every few milliseconds from
// all the test addresses in turn, on a thread of its own in the ordinary
// class until the end. The prober's kernel handles each packet on the
// sending thread, which costs most of a core: sent from the real-time main
// thread, answers would wait behind the bursts and for the real-time budget
// the flood spends, until requests were dropped from the full listening
// socket.
void Flood(std::uint32_t target, std::uint32_t perSecond, std::vector<std::uint32_t> sources,
    std::int64_t end)
{
    constexpr std::int64_t kBurstNs = 5'000'000;
    const sched_param ordinary {};
    sched_setscheduler(0, SCHED_OTHER, &ordinary);
    const int sender = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    const std::uint64_t burst
        = std::max<std::uint64_t>(std::uint64_t {perSecond} * kBurstNs / 1'000'000'000, 1);
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = target;
    std::uint64_t sent = 0;
    for (std::int64_t next = Now(); sender >= 0 && next < end;) {
        for (std::uint64_t i = 0; i < burst; ++i, ++sent) {
            const OutgoingPacket packet
                = IpPacket(sources[sent % sources.size()], target, FloodIcmp(sent));
            sendto(sender, packet.bytes.data(), packet.bytes.size(), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        // After a stall the flood goes on at its rate rather than catching up.
        next = std::max(next + kBurstNs, Now() - kBurstNs);
        const timespec wake {
            static_cast<time_t>(next / 1'000'000'000), static_cast<long>(next % 1'000'000'000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr);
    }
    if (sender >= 0)
        close(sender);
}

int Usage(const char* why)
{
    std::fprintf(stderr,
        "kelvoran-testhost: %s\nusage: kelvoran-testhost [--lifetime SECONDS] "
        "[--report-holds] ADDRESS=BEHAVIOUR...\n(addresses in 198.18.0.0/15)\n",
        why);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    long lifetimeSeconds = 120;
    bool reportHolds = false;
    std::map<std::uint32_t, HostBehaviour> hosts;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--lifetime" && i + 1 < argc) {
            lifetimeSeconds = std::strtol(argv[++i], nullptr, 10);
            if (lifetimeSeconds <= 0 || lifetimeSeconds > 3600)
                return Usage("lifetime must be 1 to 3600 seconds");
            continue;
        }
        if (arg == "--report-holds") {
            reportHolds = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        in_addr address {};
        if (equals == std::string::npos
            || inet_pton(AF_INET, arg.substr(0, equals).c_str(), &address) != 1)
            return Usage(("not ADDRESS=BEHAVIOUR: " + arg).c_str());
        if (!IsTestHostAddress(address.s_addr))
            return Usage(("not a test address: " + arg).c_str());
        const std::optional<HostBehaviour> behaviour = ParseHostBehaviour(arg.substr(equals + 1));
        if (!behaviour)
            return Usage(("unknown behaviour: " + arg).c_str());
        hosts[address.s_addr] = *behaviour;
    }
    if (hosts.empty())
        return Usage("no addresses");

    const int listener = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int sender = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (listener < 0 || sender < 0) {
        std::perror("kelvoran-testhost: raw socket");
        return 1;
    }
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Answer when due even while the tests keep both cores busy: wake for a
    // delayed answer on time rather than up to 50 us later, and ahead of
    // ordinary processes. The loop always blocks, so the real-time class
    // cannot starve anything; without the right to it, timing is looser.
    prctl(PR_SET_TIMERSLACK, 1UL);
    const sched_param priority {sched_get_priority_min(SCHED_FIFO)};
    sched_setscheduler(0, SCHED_FIFO, &priority);
    std::puts("ready");
    std::fflush(stdout);
    if (reportHolds)
        fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);

    const std::int64_t start = Now();
    const std::int64_t end = start + lifetimeSeconds * 1'000'000'000;
    std::vector<std::uint32_t> addresses;
    for (const auto& [address, behaviour] : hosts)
        addresses.push_back(address);
    std::jthread flood;
    std::vector<Pending> pending;
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
        const std::int64_t now = Now();
        if (now >= end)
            return 0;
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->due > now) {
                ++it;
                continue;
            }
            sockaddr_in to {};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = it->packet.destination;
            const std::int64_t before = Now(CLOCK_REALTIME);
            sendto(sender, it->packet.bytes.data(), it->packet.bytes.size(), 0,
                reinterpret_cast<const sockaddr*>(&to), sizeof to);
            if (reportHolds && it->packet.delayMs != 0)
                ReportHold(it->packet, it->arrived, before);
            it = pending.erase(it);
        }
        std::int64_t wake = end;
        for (const Pending& p : pending)
            wake = std::min(wake, p.due);
        const std::int64_t left = std::max<std::int64_t>(wake - Now(), 0);
        const timespec wait {
            static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        pollfd p {listener, POLLIN, 0};
        if (ppoll(&p, 1, &wait, nullptr) <= 0)
            continue;
        iovec iov {buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr msg {};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        const ssize_t n = recvmsg(listener, &msg, MSG_DONTWAIT);
        if (n < 20)
            continue;
        std::uint32_t destination;
        std::memcpy(&destination, buffer.data() + 16, 4);
        const auto host = hosts.find(destination);
        if (host == hosts.end())
            continue;
        const std::int64_t arrived = ArrivalStamp(msg);
        const std::int64_t received
            = Now() - std::max<std::int64_t>(Now(CLOCK_REALTIME) - arrived, 0);
        const std::span<const std::uint8_t> request(buffer.data(), static_cast<std::size_t>(n));
        std::uint32_t asker;
        std::memcpy(&asker, buffer.data() + 12, 4);
        const std::size_t headerSize = (buffer[0] & 0x0fu) * 4u;
        if (host->second.kind == HostBehaviour::Flood && !flood.joinable()
            && IsTestHostAddress(asker) && headerSize < static_cast<std::size_t>(n)
            && buffer[headerSize] == 8)
            flood = std::jthread(Flood, asker, host->second.value, addresses, end);
        for (OutgoingPacket& packet : AnswerEchoRequest(
                 request, host->second, static_cast<std::uint64_t>(received - start) / 1'000'000))
            pending.push_back(
                {arrived, received + std::int64_t {packet.delayMs} * 1'000'000, std::move(packet)});
    }
}
