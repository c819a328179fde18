#pragma once

#include "icmp/IcmpPacket.h"

#include <array>
#include <cstdint>
#include <optional>

// The keys of the shared raw socket's requests. The identifier's high byte is the
// same for all requests of the socket, which lets the socket's filter drop
// most foreign traffic; its low byte numbers 256 blocks of sequences, used one
// after the other: 16.7 million tags before the first comes round again. A
// block is taken up again only once it has rested a minute after the deadline
// of the last request that carried one of its keys, so an answer that comes
// after its probe gave up finds nobody. Within a block the sequences are
// spread (SpreadSequence). Times are passed in; not safe on many threads at
// once.
class TagSpace
{
public:
    static constexpr std::int64_t kRestNs = 60'000'000'000;
    static constexpr std::uint16_t kPrefixMask = 0xff00;

    // Where the space starts: the prefix, the block and the position in it,
    // from the seed's bytes. Blocks of fewer sequences make the space come
    // round sooner, for tests.
    explicit TagSpace(std::uint32_t seed, std::uint32_t blockSize = 0x10000);

    // The identifier the next key carries.
    std::uint16_t Identifier() const;

    // The next key, for a request whose answer is waited for until
    // `deadline`; none while every block rests, which takes more than
    // 280,000 requests a second.
    std::optional<EchoKey> Take(std::int64_t now, std::int64_t deadline);

private:
    std::uint8_t prefix_;
    std::uint8_t block_;
    std::uint32_t blockSize_;
    std::uint32_t position_;
    std::array<std::int64_t, 256> restsUntil_ {};
};
