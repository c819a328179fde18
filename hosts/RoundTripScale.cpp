#include "hosts/RoundTripScale.h"

#include <cmath>

namespace RoundTripScale {

namespace {
constexpr double kLevelsPerDecade = static_cast<double>(kTopLevel) / kDecades;
}

std::uint8_t LevelOf(std::uint32_t us)
{
    static const double bottom = std::log10(kBottomUs);
    if (us <= kBottomUs)
        return 0;
    if (us >= kTopUs)
        return kTopLevel;
    return static_cast<std::uint8_t>(std::lround((std::log10(us) - bottom) * kLevelsPerDecade));
}

std::uint32_t UsOf(std::uint8_t level)
{
    if (level >= kTopLevel)
        return kTopUs;
    return static_cast<std::uint32_t>(
        std::lround(kBottomUs * std::pow(10.0, level / kLevelsPerDecade)));
}

} // namespace RoundTripScale
