#include "icmp/TagSpace.h"

#include <algorithm>

TagSpace::TagSpace(std::uint32_t seed, std::uint32_t blockSize)
    : prefix_(static_cast<std::uint8_t>(seed >> 24))
    , block_(static_cast<std::uint8_t>(seed >> 16))
    , blockSize_(std::clamp<std::uint32_t>(blockSize, 1, 0x10000))
    , position_((seed & 0xffff) % blockSize_)
{ }

std::uint16_t TagSpace::Identifier() const
{
    return static_cast<std::uint16_t>(prefix_ << 8 | block_);
}

std::optional<EchoKey> TagSpace::Take(std::int64_t now, std::int64_t deadline)
{
    if (position_ >= blockSize_) {
        std::size_t step = 1;
        while (step <= restsUntil_.size()
            && restsUntil_[static_cast<std::uint8_t>(block_ + step)] > now)
            ++step;
        if (step > restsUntil_.size())
            return std::nullopt;
        block_ = static_cast<std::uint8_t>(block_ + step);
        position_ = 0;
    }
    const std::uint16_t sequence = SpreadSequence(position_++);
    restsUntil_[block_] = std::max(restsUntil_[block_], deadline + kRestNs);
    return EchoKey {Identifier(), sequence};
}
