#include "icmp/RawEchoLayer.h"

#include "icmp/EchoExchange.h"
#include "icmp/IcmpPacket.h"
#include "icmp/IcmpSockets.h"
#include "icmp/RawReplyFilter.h"
#include "icmp/TagSpace.h"

#include <netinet/in.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

// The packets or stamps taken in with one call when several are waiting, and
// how many such calls one reading of the socket makes at most before it lets
// others in.
constexpr unsigned kBatch = 16;
constexpr int kReadRounds = 8;

// One probe waiting in Exchange, on its own thread's stack. Whoever reads the
// socket hands it its answer and stamps under the mutex and posts its
// semaphore after letting go of the mutex; whoever takes a waiter out of the
// map owns its outcome, and the waiter does not leave before the post it was
// promised.
struct Waiter
{
    enum class Outcome {
        Waiting,
        Answered,
        Failed,
    };

    EchoTag tag;
    ExchangeTimes times;
    EchoReply reply;
    std::int64_t taken = 0; // when the answer was read
    Outcome outcome = Outcome::Waiting;
    sem_t woken;

    Waiter() { sem_init(&woken, 0, 0); }
    ~Waiter() { sem_destroy(&woken); }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    std::uint32_t Key() const { return std::uint32_t {tag.identifier} << 16 | tag.sequence; }

    // Returns once the post has come; the semaphore is then no longer touched.
    void AwaitPost()
    {
        while (sem_wait(&woken) != 0 && errno == EINTR) { }
    }
};

void Post(const std::vector<Waiter*>& waiters)
{
    for (Waiter* w : waiters)
        sem_post(&w->woken);
}

timespec Timespec(std::int64_t ns)
{
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Errors that say the descriptor itself is no good: nothing will come of
// reading it again. Any other error is a socket error reported once in place
// of a packet (a raw socket gets one for ICMP errors about any raw ICMP
// traffic of the host) or a shortage that passes.
bool IsLasting(int error)
{
    return error == EBADF || error == ENOTSOCK || error == EFAULT || error == EINVAL;
}

// Room for one batch of packets or stamps, as recvmmsg fills it.
struct Batch
{
    std::array<std::array<std::uint8_t, kReceiveBufferSize>, kBatch> buffers;
    struct alignas(cmsghdr) Control
    {
        char bytes[kControlSize];
    };
    std::array<Control, kBatch> controls;
    std::array<sockaddr_in, kBatch> from;
    std::array<iovec, kBatch> iov;
    std::array<mmsghdr, kBatch> messages;

    void Prepare()
    {
        for (unsigned i = 0; i < kBatch; ++i) {
            iov[i] = {buffers[i].data(), buffers[i].size()};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &from[i];
            messages[i].msg_hdr.msg_namelen = sizeof from[i];
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls[i].bytes;
            messages[i].msg_hdr.msg_controllen = sizeof controls[i].bytes;
        }
    }
};

} // namespace

struct RawEchoLayer::Shared
{
    explicit Shared(bool withReader)
        : withReader(withReader)
    { }

    const bool withReader;
    std::mutex openMutex; // held while the socket is opened
    std::atomic<int> fd {-1};
    std::thread reader;
    std::atomic<bool> stopping {false};
    std::atomic<std::uint32_t> drops {0};

    // Held by whoever reads the socket until what was read is handed over,
    // so that a probe whose time is up finds in the socket, or in its hands,
    // everything that came before.
    std::mutex readMutex;
    Batch packets; // under readMutex, as the two below
    Batch stamps;
    std::vector<Waiter*> woken;

    std::mutex mutex; // guards all below
    bool failed = false;
    TagSpace tags {RandomSeed()};
    std::unordered_map<std::uint32_t, Waiter*> waiting;

    void Read(int socket);
    bool Drain(int socket);
    int ReadRound(int socket);
    int ReadStamps(int socket);
    void DeliverStamp(std::span<const std::uint8_t> copy, msghdr& msg);
    void DeliverPacket(std::span<const std::uint8_t> bytes, std::size_t arrived, std::uint32_t from,
        msghdr& msg, std::int64_t now, std::vector<Waiter*>& woken);
    void FailAll();
    Waiter::Outcome Withdraw(Waiter& waiter);
};

RawEchoLayer::RawEchoLayer(bool reader)
    : shared(std::make_unique<Shared>(reader))
{
    shared->woken.reserve(kBatch);
}

RawEchoLayer::~RawEchoLayer()
{
    const int fd = shared->fd.load();
    if (shared->reader.joinable()) {
        // Ends the reader's wait for a packet: a socket shut for reading is
        // always ready, and reads nothing.
        shared->stopping.store(true);
        shutdown(fd, SHUT_RD);
        shared->reader.join();
    }
    if (fd >= 0)
        close(fd);
}

void RawEchoLayer::CloseHandle(EchoHandle) const { }

std::uint32_t RawEchoLayer::ReceiveDrops() const
{
    return shared->drops.load(std::memory_order_relaxed);
}

EchoHandle RawEchoLayer::CreateHandle(std::uint32_t* failure) const
{
    if (const int fd = shared->fd.load(std::memory_order_acquire); fd >= 0)
        return fd;
    std::lock_guard lock(shared->openMutex);
    if (const int fd = shared->fd.load(std::memory_order_acquire); fd >= 0)
        return fd;

    const int fd = OpenRawIcmpSocket();
    if (fd < 0) {
        *failure = OpenFailureStatus(errno);
        return kInvalidEchoHandle;
    }
    AskForStamps(fd, true);
    // Room for the answers and stamps of a full round arriving while the
    // reader waits for a core; the kernel caps it at net.core.rmem_max.
    const int bytes = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    {
        std::lock_guard state(shared->mutex);
        // Without the filter the reader wakes for every ICMP packet of the
        // host, and still finds the right answers.
        AttachRawReplyFilter(fd, shared->tags.Identifier(), TagSpace::kPrefixMask);
    }
    // What came in before the filter was on answers nothing yet sent.
    std::uint8_t discard[kReceiveBufferSize];
    for (int left = 100000; left > 0 && recv(fd, discard, sizeof discard, MSG_DONTWAIT) >= 0;)
        --left;

    if (shared->withReader) {
        // Signals go to the program's other threads, never to the reader.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        try {
            shared->reader = std::thread([s = shared.get(), fd] { s->Read(fd); });
        } catch (const std::system_error&) {
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
            close(fd);
            *failure = IP_GENERAL_FAILURE;
            return kInvalidEchoHandle;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    shared->fd.store(fd, std::memory_order_release);
    return fd;
}

void RawEchoLayer::Shared::Read(int socket)
{
    while (!stopping.load(std::memory_order_relaxed)) {
        // Ready for an answer, and for a stamp on the error queue, which
        // poll reports whatever it is asked.
        pollfd p {socket, POLLIN, 0};
        const int ready = poll(&p, 1, -1);
        if (ready < 0 && (errno == EINTR || errno == ENOMEM))
            continue;
        if (ready < 0 || (p.revents & POLLNVAL)) {
            FailAll();
            return;
        }
        if (stopping.load(std::memory_order_relaxed))
            return;
        std::lock_guard read(readMutex);
        if (!Drain(socket)) {
            FailAll();
            return;
        }
    }
}

// Reads what the socket holds and hands each answer and stamp to its probe.
// False once the socket has failed for good. Under readMutex.
bool RawEchoLayer::Shared::Drain(int socket)
{
    for (int round = 0; round < kReadRounds; ++round) {
        const int read = ReadRound(socket);
        if (read < 0)
            return false;
        if (read < static_cast<int>(kBatch))
            break;
    }
    return true;
}

// One batch of packets, and the stamps of the requests that went out before
// them: a request's stamp is queued before its answer can come, so reading
// the stamps after the packets finds the stamp of every answer read, and
// hands it over first. The number of packets read, or -1 when the socket has
// failed for good.
int RawEchoLayer::Shared::ReadRound(int socket)
{
    packets.Prepare();
    // Cut short, a packet still tells its size, so that an answer too long
    // for the buffer is judged by its header.
    const int n
        = recvmmsg(socket, packets.messages.data(), kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    if (n < 0 && IsLasting(errno))
        return -1;
    const std::int64_t now = Now(CLOCK_MONOTONIC);
    for (int batches = 0; batches < kReadRounds; ++batches) {
        const int read = ReadStamps(socket);
        if (read < 0)
            return -1;
        if (read < static_cast<int>(kBatch))
            break;
    }
    if (n <= 0)
        return 0;
    woken.clear();
    {
        std::lock_guard lock(mutex);
        for (int i = 0; i < n; ++i) {
            const std::size_t arrived = packets.messages[i].msg_len;
            // Empty only once the socket is shut for reading.
            if (arrived == 0)
                continue;
            const std::span<const std::uint8_t> bytes(
                packets.buffers[i].data(), std::min(arrived, kReceiveBufferSize));
            DeliverPacket(bytes, arrived, packets.from[i].sin_addr.s_addr,
                packets.messages[i].msg_hdr, now, woken);
        }
    }
    Post(woken);
    return n;
}

// One batch from the error queue, handed over: the number of stamps read, or
// -1 when the socket has failed for good.
int RawEchoLayer::Shared::ReadStamps(int socket)
{
    stamps.Prepare();
    const int n
        = recvmmsg(socket, stamps.messages.data(), kBatch, MSG_DONTWAIT | MSG_ERRQUEUE, nullptr);
    if (n < 0)
        return IsLasting(errno) ? -1 : 0;
    std::lock_guard lock(mutex);
    for (int i = 0; i < n; ++i) {
        const std::span<const std::uint8_t> copy(stamps.buffers[i].data(),
            std::min<std::size_t>(stamps.messages[i].msg_len, kReceiveBufferSize));
        DeliverStamp(copy, stamps.messages[i].msg_hdr);
    }
    return n;
}

void RawEchoLayer::Shared::DeliverStamp(std::span<const std::uint8_t> copy, msghdr& msg)
{
    const std::optional<std::int64_t> left = TransmitStamp(msg);
    const std::optional<std::uint32_t> key = SentPacketEchoKey(copy);
    if (!left || !key)
        return;
    if (const auto it = waiting.find(*key); it != waiting.end())
        it->second->times.leftStamp = left;
}

void RawEchoLayer::Shared::DeliverPacket(std::span<const std::uint8_t> bytes, std::size_t arrived,
    std::uint32_t from, msghdr& msg, std::int64_t now, std::vector<Waiter*>& woken)
{
    const Arrival arrival = ReadArrival(msg);
    if (arrival.drops) {
        // The count only grows; packets read out of order carry older ones.
        std::uint32_t seen = drops.load(std::memory_order_relaxed);
        while (*arrival.drops > seen
            && !drops.compare_exchange_weak(seen, *arrival.drops, std::memory_order_relaxed)) { }
    }
    const std::optional<std::uint32_t> key = RawPacketEchoKey(bytes);
    if (!key)
        return;
    const auto it = waiting.find(*key);
    if (it == waiting.end())
        return;
    Waiter* waiter = it->second;
    const PacketClass answer
        = ClassifyIcmpPacket(bytes, arrived, IcmpSocketKind::Raw, from, waiter->tag);
    if (answer.verdict == PacketVerdict::NotOurs)
        return;
    waiter->reply = AnswerReply(answer);
    waiter->times.arrivedStamp = arrival.stamp;
    waiter->taken = now;
    waiter->outcome = Waiter::Outcome::Answered;
    waiting.erase(it);
    woken.push_back(waiter);
}

void RawEchoLayer::Shared::FailAll()
{
    std::vector<Waiter*> woken;
    {
        std::lock_guard lock(mutex);
        failed = true;
        for (const auto& [key, waiter] : waiting) {
            waiter->outcome = Waiter::Outcome::Failed;
            woken.push_back(waiter);
        }
        waiting.clear();
    }
    Post(woken);
}

// Takes the waiter out of the map unless an answer has done so; then its
// outcome is the reader's, and its post must be waited for.
Waiter::Outcome RawEchoLayer::Shared::Withdraw(Waiter& waiter)
{
    Waiter::Outcome outcome;
    {
        std::lock_guard lock(mutex);
        outcome = waiter.outcome;
        if (outcome == Waiter::Outcome::Waiting)
            waiting.erase(waiter.Key());
    }
    if (outcome != Waiter::Outcome::Waiting)
        waiter.AwaitPost();
    return outcome;
}

EchoReply RawEchoLayer::SendEcho(EchoHandle, const EchoRequest& request) const
{
    // The kernel refuses to send with a TTL of 0.
    if (request.ttl == 0)
        return NoAnswer(IP_BAD_OPTION);
    const int fd = shared->fd.load(std::memory_order_acquire);
    if (fd < 0)
        return NoAnswer(IP_GENERAL_FAILURE);

    const std::int64_t timeoutNs = std::int64_t {request.timeout} * 1'000'000;
    Waiter waiter;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->failed)
            return NoAnswer(IP_GENERAL_FAILURE);
        // The latest an answer can be waited for: room to send, then the
        // whole timeout.
        const std::int64_t now = Now(CLOCK_MONOTONIC);
        const std::optional<std::uint32_t> tag = shared->tags.Take(now, now + 2 * timeoutNs);
        if (!tag)
            return NoAnswer(IP_GENERAL_FAILURE);
        waiter.tag = {static_cast<std::uint16_t>(*tag >> 16), static_cast<std::uint16_t>(*tag),
            request.destination};
        // A tag still in use would mean a tag handed out twice; never wait
        // on one that another probe owns.
        if (!shared->waiting.emplace(*tag, &waiter).second)
            return NoAnswer(IP_GENERAL_FAILURE);
    }

    std::uint8_t packet[kMaxEchoRequestSize];
    const std::size_t size = BuildEchoRequest(
        packet, waiter.tag, std::span<const std::uint8_t>(request.data, request.dataSize));
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = request.destination;
    iovec iov {packet, size};
    // The TTL goes with each packet: the socket is everyone's.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] {};
    msghdr msg {};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* ttl = CMSG_FIRSTHDR(&msg);
    ttl->cmsg_level = IPPROTO_IP;
    ttl->cmsg_type = IP_TTL;
    ttl->cmsg_len = CMSG_LEN(sizeof(int));
    const int ttlValue = request.ttl;
    std::memcpy(CMSG_DATA(ttl), &ttlValue, sizeof ttlValue);

    // With the socket's send buffer full of others' requests, this one
    // waits for room, up to its timeout.
    const std::uint32_t sent = SendWhenRoom(
        fd, timeoutNs, waiter.times, [&] { return sendmsg(fd, &msg, MSG_DONTWAIT); });
    if (sent != IP_SUCCESS) {
        // Nothing went out, so no answer can have come.
        return NoAnswer(
            shared->Withdraw(waiter) == Waiter::Outcome::Failed ? IP_GENERAL_FAILURE : sent);
    }

    // Quick answers, as from loopback, are often in before the send returns:
    // the sender reads them itself rather than sleep until the reader wakes
    // it. Whoever reads last at the deadline takes in what came before it.
    // A reader kept busy by a stream of packets hands them over as it goes:
    // a probe whose time is up waits for it only a little, never unbounded.
    // (Tried again and again rather than with a timed lock, which the thread
    // sanitizer cannot follow.)
    auto drain = [this, fd](bool wait) {
        std::unique_lock read(shared->readMutex, std::defer_lock);
        if (!shared->withReader) {
            read.lock();
        } else {
            for (int tries = wait ? 50 : 1; !read.try_lock();) {
                if (--tries == 0)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (!shared->Drain(fd))
            shared->FailAll();
    };
    drain(false);
    const timespec until = Timespec(waiter.times.sentMonotonic + timeoutNs);
    Waiter::Outcome outcome = Waiter::Outcome::Waiting;
    for (;;) {
        if (sem_clockwait(&waiter.woken, CLOCK_MONOTONIC, &until) == 0) {
            // Taking the mutex makes what the reader wrote under it visible
            // here.
            std::lock_guard lock(shared->mutex);
            outcome = waiter.outcome;
            break;
        }
        if (errno == EINTR)
            continue;
        drain(true);
        outcome = shared->Withdraw(waiter);
        break;
    }
    switch (outcome) {
    case Waiter::Outcome::Answered: {
        std::lock_guard lock(shared->mutex);
        return Timed(waiter.reply, waiter.times, waiter.taken, request.timeout);
    }
    case Waiter::Outcome::Failed:
        return NoAnswer(IP_GENERAL_FAILURE);
    case Waiter::Outcome::Waiting:
        break;
    }
    return NoAnswer(IP_REQ_TIMED_OUT);
}
