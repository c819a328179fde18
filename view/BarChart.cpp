#include "view/BarChart.h"

#include "hosts/RoundTripScale.h"

#include <algorithm>

double BarChart::LevelY(double level) const
{
    return Bottom() - level / RoundTripScale::kTopLevel * kHeight;
}

double BarChart::AnswerTop(std::uint8_t level) const
{
    return std::min(LevelY(level), Bottom() - kLeast);
}

double BarChart::MissTop(double share) const
{
    return std::min(Bottom() - share * kHeight, Bottom() - kLeast);
}
