#include "probe/RawEchoSocket.h"

#include "probe/EchoExchange.h"
#include "probe/IcmpPacket.h"
#include "probe/IcmpSockets.h"
#include "probe/RawReplyFilter.h"

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

// How long an identifier and sequence rest after the deadline of the last
// request that carried them. Routers drop what they cannot pass on within a
// second or so; an answer a minute late is beyond any real network.
constexpr std::int64_t kRestNs = 60'000'000'000;

// The packets the reader takes in with one call when several are waiting.
constexpr unsigned kBatch = 16;

// The identifier and sequence of the requests, as one number (identifier in
// the high half). The identifier's high byte is the same for all requests of
// the socket, which lets the socket's filter drop most foreign traffic; its low
// byte numbers 256 blocks of 65,536 sequences each, used one after the other:
// 16.7 million tags before the first comes round again, and a block is taken
// up again only after its rest. Within a block the sequences are spread by a
// multiplicative hash, so that neighbouring probes' tags differ in no simple
// way (an answer with a sequence off by one is not another probe's answer).
class TagSpace
{
public:
    explicit TagSpace(std::uint32_t seed)
        : prefix(static_cast<std::uint8_t>(seed >> 24))
        , block(static_cast<std::uint8_t>(seed >> 16))
        , position(seed & 0xffff)
    { }

    std::uint16_t Identifier() const { return static_cast<std::uint16_t>(prefix << 8 | block); }
    static constexpr std::uint16_t kPrefixMask = 0xff00;

    // The next tag, for a request whose owner waits until the deadline; none
    // when every block is resting, which takes over 280,000 requests a second.
    std::optional<std::uint32_t> Take(std::int64_t now, std::int64_t deadline)
    {
        if (position > 0xffff) {
            std::size_t step = 1;
            while (step <= restsUntil.size()
                && restsUntil[static_cast<std::uint8_t>(block + step)] > now)
                ++step;
            if (step > restsUntil.size())
                return std::nullopt;
            block = static_cast<std::uint8_t>(block + step);
            position = 0;
        }
        const auto sequence = static_cast<std::uint16_t>(position++ * 0x79b1u);
        restsUntil[block] = std::max(restsUntil[block], deadline + kRestNs);
        return std::uint32_t {Identifier()} << 16 | sequence;
    }

private:
    std::uint8_t prefix;
    std::uint8_t block;
    std::uint32_t position;
    std::array<std::int64_t, 256> restsUntil {};
};

// One probe waiting in Exchange, on its own thread's stack. The reader hands
// it its outcome under the mutex and posts its semaphore after letting go of
// the mutex; whoever takes a waiter out of the map owns its outcome, and the
// waiter does not leave before the post it was promised.
struct Waiter
{
    enum class Outcome {
        Waiting,
        Answered,
        Failed,
    };

    EchoTag tag;
    SentRequest sent;
    EchoReply* reply = nullptr;
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

} // namespace

struct RawEchoSocket::Shared
{
    std::mutex openMutex; // held while the socket is opened
    std::atomic<int> fd {-1};
    std::thread reader;
    std::atomic<bool> stopping {false};

    std::mutex mutex; // guards all below
    bool failed = false;
    TagSpace tags {RandomSeed()};
    std::unordered_map<std::uint32_t, Waiter*> waiting;

    void Read(int socket);
    void Deliver(std::span<const std::uint8_t> bytes, std::uint32_t from,
        std::optional<std::int64_t> arrived, std::vector<Waiter*>& woken);
    void FailAll();
    Waiter::Outcome Withdraw(Waiter& waiter);
};

RawEchoSocket::RawEchoSocket()
    : shared(std::make_unique<Shared>())
{ }

RawEchoSocket::~RawEchoSocket()
{
    const int fd = shared->fd.load();
    if (shared->reader.joinable()) {
        // Ends the reader's wait for a packet: a receive on a socket shut for
        // reading returns at once.
        shared->stopping.store(true);
        shutdown(fd, SHUT_RD);
        shared->reader.join();
    }
    if (fd >= 0)
        close(fd);
}

int RawEchoSocket::Open()
{
    if (const int fd = shared->fd.load(std::memory_order_acquire); fd >= 0)
        return fd;
    std::lock_guard lock(shared->openMutex);
    if (const int fd = shared->fd.load(std::memory_order_acquire); fd >= 0)
        return fd;

    const int fd = OpenRawIcmpSocket();
    if (fd < 0) {
        SetIcmpLastError(
            errno == EMFILE || errno == ENFILE ? ERROR_TOO_MANY_OPEN_FILES : IP_GENERAL_FAILURE);
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Room for the answers of a full round arriving while the reader waits
    // for a core; the kernel caps it at net.core.rmem_max.
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
        SetIcmpLastError(IP_GENERAL_FAILURE);
        return -1;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    shared->fd.store(fd, std::memory_order_release);
    return fd;
}

void RawEchoSocket::Shared::Read(int socket)
{
    std::array<std::array<std::uint8_t, kReceiveBufferSize>, kBatch> buffers;
    struct alignas(cmsghdr) Control
    {
        char bytes[CMSG_SPACE(sizeof(timespec)) + 64];
    };
    std::array<Control, kBatch> controls;
    std::array<sockaddr_in, kBatch> from;
    std::array<iovec, kBatch> iov;
    std::array<mmsghdr, kBatch> messages;
    std::vector<Waiter*> woken;
    woken.reserve(kBatch);
    while (!stopping.load(std::memory_order_relaxed)) {
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
        // Waits for the first packet, then takes what else is there.
        const int n = recvmmsg(socket, messages.data(), kBatch, MSG_WAITFORONE, nullptr);
        if (n < 0) {
            if (IsLasting(errno)) {
                FailAll();
                return;
            }
            if (errno == ENOMEM || errno == ENOBUFS)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        {
            std::lock_guard lock(mutex);
            for (int i = 0; i < n; ++i) {
                // Empty only once the socket is shut for reading.
                if (messages[i].msg_len == 0)
                    continue;
                Deliver(std::span<const std::uint8_t>(buffers[i].data(), messages[i].msg_len),
                    from[i].sin_addr.s_addr, ArrivalStamp(messages[i].msg_hdr), woken);
            }
        }
        Post(woken);
        woken.clear();
    }
}

void RawEchoSocket::Shared::Deliver(std::span<const std::uint8_t> bytes, std::uint32_t from,
    std::optional<std::int64_t> arrived, std::vector<Waiter*>& woken)
{
    const std::optional<std::uint32_t> key = RawPacketEchoKey(bytes);
    if (!key)
        return;
    const auto it = waiting.find(*key);
    if (it == waiting.end())
        return;
    Waiter* waiter = it->second;
    const PacketClass answer = ClassifyIcmpPacket(bytes, IcmpSocketKind::Raw, from, waiter->tag);
    if (answer.verdict == PacketVerdict::NotOurs)
        return;
    StoreAnswer(waiter->reply, answer, waiter->sent, arrived);
    waiter->outcome = Waiter::Outcome::Answered;
    waiting.erase(it);
    woken.push_back(waiter);
}

void RawEchoSocket::Shared::FailAll()
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

// Takes the waiter out of the map unless the reader has done so; then its
// outcome is the reader's, and its post must be waited for.
Waiter::Outcome RawEchoSocket::Shared::Withdraw(Waiter& waiter)
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

int RawEchoSocket::Exchange(const EchoRequest& request, EchoReply* reply)
{
    // The kernel refuses to send with a TTL of 0.
    if (request.ttl == 0)
        return FailEcho(IP_BAD_OPTION);
    const int fd = shared->fd.load(std::memory_order_acquire);
    if (fd < 0)
        return FailEcho(IP_GENERAL_FAILURE);

    Waiter waiter;
    waiter.reply = reply;
    std::int64_t deadline = 0;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->failed)
            return FailEcho(IP_GENERAL_FAILURE);
        waiter.sent = {Now(CLOCK_REALTIME), Now(CLOCK_MONOTONIC)};
        deadline = waiter.sent.monotonic + std::int64_t {request.timeout} * 1'000'000;
        const std::optional<std::uint32_t> tag = shared->tags.Take(waiter.sent.monotonic, deadline);
        if (!tag)
            return FailEcho(IP_GENERAL_FAILURE);
        waiter.tag = {static_cast<std::uint16_t>(*tag >> 16), static_cast<std::uint16_t>(*tag),
            request.destination};
        // A tag still in use would mean a tag handed out twice; never wait
        // on one that another probe owns.
        if (!shared->waiting.emplace(*tag, &waiter).second)
            return FailEcho(IP_GENERAL_FAILURE);
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

    // Never blocks in the send: with the socket's send buffer full of
    // others' requests, this one waits for room until its deadline.
    for (;;) {
        if (sendmsg(fd, &msg, MSG_DONTWAIT) >= 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        const bool full = error == EAGAIN || error == EWOULDBLOCK;
        const std::int64_t left = deadline - Now(CLOCK_MONOTONIC);
        if (full && left > 0) {
            pollfd p {fd, POLLOUT, 0};
            const timespec wait = Timespec(std::min<std::int64_t>(left, 10'000'000));
            ppoll(&p, 1, &wait, nullptr);
            continue;
        }
        switch (shared->Withdraw(waiter)) {
        case Waiter::Outcome::Answered: // cannot be, with nothing sent
            return 1;
        case Waiter::Outcome::Failed:
            return FailEcho(IP_GENERAL_FAILURE);
        case Waiter::Outcome::Waiting:
            break;
        }
        return FailEcho(full ? IP_REQ_TIMED_OUT : SendFailureStatus(error));
    }

    const timespec until = Timespec(deadline);
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
        outcome = shared->Withdraw(waiter);
        break;
    }
    switch (outcome) {
    case Waiter::Outcome::Answered:
        return 1;
    case Waiter::Outcome::Failed:
        return FailEcho(IP_GENERAL_FAILURE);
    case Waiter::Outcome::Waiting:
        break;
    }
    return FailEcho(IP_REQ_TIMED_OUT);
}
