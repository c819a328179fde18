#include "icmp/RawEchoLayer.h"

#include "icmp/EchoExchange.h"
#include "icmp/IcmpPacket.h"
#include "icmp/IcmpSockets.h"
#include "icmp/RawReplyFilter.h"
#include "icmp/TagSpace.h"
#include "icmp/WaiterTable.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

namespace {

using Outcome = WaiterTable::Outcome;

// The packets or stamps taken in with one call when several are waiting, and
// how many such calls the reader makes at most before it lets others in.
constexpr unsigned kBatch = 16;
constexpr int kReadRounds = 8;

// Every packet in a socket's queues, received or on the error queue, is
// charged to its receive buffer with at least its sk_buff and shared info:
// more than this many bytes. So the queues never hold more packets than the
// buffer's size over this.
constexpr int kLeastPacketCharge = 512;

// Reads at a deadline that may fail without reading anything (a shortage of
// memory) before the probe is judged on what it has.
constexpr int kFailedReadsAtDeadline = 8;

// Errors that say the descriptor itself is no good: nothing will come of
// reading it again. Any other error is a shortage that passes: the ICMP
// errors that reach the socket come as packets, for the kernel sets no
// socket error on a raw socket that is neither connected nor asks for
// IP_RECVERR, as this one.
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

    std::span<const std::uint8_t> Bytes(int i) const
    {
        return {buffers[i].data(), std::min<std::size_t>(messages[i].msg_len, kReceiveBufferSize)};
    }
};

// One request as sendmsg takes it on the shared socket: the packet, where it
// goes, and its TTL as ancillary data, since the socket's own is everyone's.
class RawRequest
{
public:
    RawRequest(const EchoTag& tag, const EchoRequest& request)
    {
        iov_ = {packet_,
            BuildEchoRequest(
                packet_, tag, std::span<const std::uint8_t>(request.data, request.dataSize))};
        to_.sin_family = AF_INET;
        to_.sin_addr.s_addr = request.destination;
        msg_.msg_name = &to_;
        msg_.msg_namelen = sizeof to_;
        msg_.msg_iov = &iov_;
        msg_.msg_iovlen = 1;
        msg_.msg_control = control_;
        msg_.msg_controllen = sizeof control_;
        cmsghdr* ttl = CMSG_FIRSTHDR(&msg_);
        ttl->cmsg_level = IPPROTO_IP;
        ttl->cmsg_type = IP_TTL;
        ttl->cmsg_len = CMSG_LEN(sizeof(int));
        const int value = request.ttl;
        std::memcpy(CMSG_DATA(ttl), &value, sizeof value);
    }
    RawRequest(const RawRequest&) = delete;
    RawRequest& operator=(const RawRequest&) = delete;

    const msghdr* Message() const { return &msg_; }

private:
    std::uint8_t packet_[kMaxEchoRequestSize];
    sockaddr_in to_ {};
    iovec iov_ {};
    alignas(cmsghdr) char control_[CMSG_SPACE(sizeof(int))] {};
    msghdr msg_ {};
};

// What one round of reading the socket found.
struct Round
{
    bool failed = false; // the socket has failed for good
    int packets = 0;
    bool emptied = false; // the receive queue was found empty
    bool shortage = false; // a read failed for a shortage that passes
};

// How the reader's share of reading ended.
enum class Reading {
    Done,
    Short, // for a shortage of memory: to be tried again after a pause
    Failed, // the socket has failed for good
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
    std::size_t capacity = 0; // the most packets the queues can hold; set before fd
    std::thread reader;
    std::atomic<bool> stopping {false};
    std::atomic<std::uint32_t> drops {0};
    WaiterTable table {RandomSeed()};

    // Held by whoever reads the socket until what was read is handed over,
    // so that a probe whose time is up finds in the socket, or in its hands,
    // everything that came before.
    std::mutex readMutex;
    Batch packets; // under readMutex, as stamps
    Batch stamps;
    // How far the reading has come: the packets read and handed over, and
    // when the latest read began that found the receive queue empty.
    std::atomic<std::uint64_t> packetsRead {0};
    std::atomic<std::int64_t> emptiedAt {0};

    void Read(int socket);
    void ReadIfFree(int socket);
    void ReadThrough(int socket, std::int64_t lookedAt);
    Reading Drain(int socket);
    Round ReadRound(int socket);
    bool ReadStamps(int socket);
    void HandOverPackets(int count, std::int64_t taken);
    void CountDrops(const Arrival& arrival);
};
RawEchoLayer::RawEchoLayer(bool reader)
    : shared(std::make_unique<Shared>(reader))
{ }

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

namespace {

// Readies a new raw socket for the layer, and the most packets its queues can
// hold.
std::size_t PrepareSocket(int fd, std::uint16_t identifier)
{
    AskForStamps(fd, true);
    // No IP_RECVERR: with it the kernel would say when a queue below the
    // socket dropped a request, but it would also queue every ICMP error
    // about any ICMP of the host on this socket, past its filter. Without it
    // such a drop reads as sent, and the probe times out.
    // Room for the answers and stamps of a full round arriving while the
    // reader waits for a core; the kernel caps it at net.core.rmem_max.
    int bytes = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    socklen_t length = sizeof bytes;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0)
        bytes = 1 << 21;
    // Without the filter the reader wakes for every ICMP packet of the host,
    // and still finds the right answers.
    AttachRawReplyFilter(fd, identifier, TagSpace::kPrefixMask);
    // What came in before the filter was on answers nothing yet sent.
    std::uint8_t discard[kReceiveBufferSize];
    for (int left = 100000; left > 0 && recv(fd, discard, sizeof discard, MSG_DONTWAIT) >= 0;)
        --left;
    return static_cast<std::size_t>(bytes) / kLeastPacketCharge + 1;
}

// Starts `body` on a thread that takes no signals: they go to the program's
// other threads.
bool StartReader(std::thread& reader, std::function<void()> body)
{
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        reader = std::thread(std::move(body));
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

} // namespace

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
    shared->capacity = PrepareSocket(fd, shared->table.Identifier());
    if (shared->withReader
        && !StartReader(shared->reader, [s = shared.get(), fd] { s->Read(fd); })) {
        close(fd);
        *failure = IP_GENERAL_FAILURE;
        return kInvalidEchoHandle;
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
        if (ready < 0 && errno == EINTR)
            continue;
        if ((ready < 0 && errno != ENOMEM) || (p.revents & POLLNVAL)) {
            table.FailAll();
            return;
        }
        if (stopping.load(std::memory_order_relaxed))
            return;
        std::unique_lock read(readMutex);
        const Reading reading = ready < 0 ? Reading::Short : Drain(socket);
        if (reading == Reading::Failed) {
            table.FailAll();
            return;
        }
        // A shortage of memory passes: a pause, so that the reader never
        // spins meanwhile.
        if (reading == Reading::Short) {
            read.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

// Reads what the socket holds, a few rounds at most, unless another reads it
// already; without a reader, waits for that one.
void RawEchoLayer::Shared::ReadIfFree(int socket)
{
    std::unique_lock read(readMutex, std::defer_lock);
    if (!withReader)
        read.lock();
    else if (!read.try_lock())
        return;
    if (Drain(socket) == Reading::Failed)
        table.FailAll();
}

// At a probe's deadline: returns once everything that reached the socket by
// `lookedAt` has been read and handed over, which is so when a read begun at
// or after it found the receive queue empty, or once as many packets were
// read after it as the queues can hold, for they are first in, first out.
// While the reader holds the socket, the probe waits for it and asks again
// every millisecond; else it reads itself. Bound: no more than `capacity`
// packets are read for it, nor more than kFailedReadsAtDeadline reads that
// fail, whichever reads them.
void RawEchoLayer::Shared::ReadThrough(int socket, std::int64_t lookedAt)
{
    const std::uint64_t readBefore = packetsRead.load(std::memory_order_acquire);
    auto through = [&] {
        return emptiedAt.load(std::memory_order_acquire) >= lookedAt
            || packetsRead.load(std::memory_order_acquire) - readBefore >= capacity;
    };
    std::unique_lock read(readMutex, std::defer_lock);
    if (!withReader)
        read.lock();
    while (!read.owns_lock() && !through() && !read.try_lock())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    for (int failed = 0; read.owns_lock() && !through() && failed < kFailedReadsAtDeadline;) {
        const Round round = ReadRound(socket);
        if (round.failed) {
            table.FailAll();
            return;
        }
        if (round.packets == 0 && !round.emptied)
            ++failed;
    }
}

// The reader's share: a few rounds, until one finds less than a batch.
// Under readMutex.
Reading RawEchoLayer::Shared::Drain(int socket)
{
    for (int rounds = 0; rounds < kReadRounds; ++rounds) {
        const Round round = ReadRound(socket);
        if (round.failed)
            return Reading::Failed;
        if (round.packets < static_cast<int>(kBatch))
            return round.shortage ? Reading::Short : Reading::Done;
    }
    return Reading::Done;
}

// One batch of packets, then the stamps of the requests that left before
// them, until the error queue is empty: a request's stamp is queued before its
// answer can come, so every answer read has its stamp handed over with it.
// Under readMutex.
Round RawEchoLayer::Shared::ReadRound(int socket)
{
    packets.Prepare();
    const std::int64_t startedAt = Now(CLOCK_MONOTONIC);
    // Cut short, a packet still tells its size, so that an answer too long
    // for the buffer is judged by its header.
    const int n
        = recvmmsg(socket, packets.messages.data(), kBatch, MSG_DONTWAIT | MSG_TRUNC, nullptr);
    const int error = errno;
    if (n < 0 && IsLasting(error))
        return {true};
    const std::int64_t taken = Now(CLOCK_MONOTONIC);
    if (!ReadStamps(socket))
        return {true};
    if (n > 0) {
        HandOverPackets(n, taken);
        packetsRead.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_release);
    }
    const bool emptied = n < 0 && (error == EAGAIN || error == EWOULDBLOCK);
    if (emptied) {
        std::int64_t seen = emptiedAt.load(std::memory_order_relaxed);
        while (startedAt > seen
            && !emptiedAt.compare_exchange_weak(seen, startedAt, std::memory_order_release)) { }
    }
    return {false, std::max(n, 0), emptied, n < 0 && !emptied};
}

// The error queue, in batches until it is empty, each stamp handed to its
// probe: no more entries than the queues can hold. False when the socket has
// failed for good.
bool RawEchoLayer::Shared::ReadStamps(int socket)
{
    for (std::size_t read = 0; read < capacity;) {
        stamps.Prepare();
        const int n = recvmmsg(
            socket, stamps.messages.data(), kBatch, MSG_DONTWAIT | MSG_ERRQUEUE, nullptr);
        if (n < 0)
            return !IsLasting(errno);
        WaiterTable::HandOff handOff(table);
        for (int i = 0; i < n; ++i) {
            const std::optional<std::int64_t> left = TransmitStamp(stamps.messages[i].msg_hdr);
            const std::optional<EchoKey> key = SentPacketEchoKey(stamps.Bytes(i));
            if (left && key)
                handOff.Stamp(*key, *left);
        }
        if (n < static_cast<int>(kBatch))
            break;
        read += static_cast<std::size_t>(n);
    }
    return true;
}

void RawEchoLayer::Shared::HandOverPackets(int count, std::int64_t taken)
{
    WaiterTable::HandOff handOff(table);
    for (int i = 0; i < count; ++i) {
        msghdr& msg = packets.messages[i].msg_hdr;
        const std::size_t arrived = packets.messages[i].msg_len;
        // Empty only once the socket is shut for reading.
        if (arrived == 0)
            continue;
        const Arrival arrival = ReadArrival(msg);
        CountDrops(arrival);
        const std::span<const std::uint8_t> bytes = packets.Bytes(i);
        const std::optional<EchoKey> key = RawPacketEchoKey(bytes);
        const EchoTag* tag = key ? handOff.Waiting(*key) : nullptr;
        if (tag == nullptr)
            continue;
        const PacketClass answer = ClassifyIcmpPacket(
            bytes, arrived, IcmpSocketKind::Raw, packets.from[i].sin_addr.s_addr, *tag);
        if (answer.verdict != PacketVerdict::NotOurs)
            handOff.Answer(*key, AnswerReply(answer), arrival.stamp, taken);
    }
}

void RawEchoLayer::Shared::CountDrops(const Arrival& arrival)
{
    if (!arrival.drops)
        return;
    // The count only grows; packets read out of order carry older ones.
    std::uint32_t seen = drops.load(std::memory_order_relaxed);
    while (*arrival.drops > seen
        && !drops.compare_exchange_weak(seen, *arrival.drops, std::memory_order_relaxed)) { }
}

EchoReply RawEchoLayer::SendEcho(EchoHandle, const EchoRequest& request) const
{
    // The kernel refuses to send with a TTL of 0.
    if (request.ttl == 0)
        return NoAnswer(IP_BAD_OPTION);
    const int fd = shared->fd.load(std::memory_order_acquire);
    if (fd < 0)
        return NoAnswer(IP_GENERAL_FAILURE);
    WaiterTable& table = shared->table;

    // The latest an answer can be waited for: room to send, then the whole
    // timeout.
    const std::int64_t timeoutNs = std::int64_t {request.timeout} * 1'000'000;
    const std::int64_t now = Now(CLOCK_MONOTONIC);
    WaiterTable::Waiter waiter;
    if (const std::uint32_t entered
        = table.Enter(waiter, request.destination, now, now + 2 * timeoutNs);
        entered != IP_SUCCESS)
        return NoAnswer(entered);

    // With the socket's send buffer full of others' requests, this one waits
    // for room, up to its timeout.
    const RawRequest packet(waiter.tag, request);
    const std::uint32_t sent = SendWhenRoom(
        fd, timeoutNs, waiter.times, [&] { return sendmsg(fd, packet.Message(), MSG_DONTWAIT); });
    if (sent != IP_SUCCESS) {
        // Nothing went out, so no answer can have come.
        return NoAnswer(table.Withdraw(waiter) == Outcome::Failed ? IP_GENERAL_FAILURE : sent);
    }

    // Quick answers, as from loopback, are often in before the send returns:
    // the sender reads them itself rather than sleep until the reader wakes
    // it. When its time is up, what reached the socket before then counts,
    // whoever reads it.
    shared->ReadIfFree(fd);
    Outcome outcome = table.Await(waiter, waiter.times.sentMonotonic + timeoutNs);
    if (outcome == Outcome::Waiting) {
        shared->ReadThrough(fd, Now(CLOCK_MONOTONIC));
        outcome = table.Withdraw(waiter);
    }
    switch (outcome) {
    case Outcome::Answered:
        return Timed(waiter.reply, waiter.times, waiter.taken, request.timeout);
    case Outcome::Failed:
        return NoAnswer(IP_GENERAL_FAILURE);
    case Outcome::Waiting:
        break;
    }
    return NoAnswer(IP_REQ_TIMED_OUT);
}
