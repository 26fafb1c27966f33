#include "commands/integer_rounding.h"

#include <cmath>
#include <limits>

namespace {

template <typename Integer> Integer toIntegerClamped(double value)
{
    if (std::isnan(value))
        return 0;
    const double rounded = roundHalfToEven(value);
    // Both limits are exact doubles, so the comparisons decide before any conversion.
    if (rounded <= std::numeric_limits<Integer>::min())
        return std::numeric_limits<Integer>::min();
    if (rounded >= std::numeric_limits<Integer>::max())
        return std::numeric_limits<Integer>::max();
    return static_cast<Integer>(rounded);
}

} // namespace

double roundHalfToEven(double value)
{
    if (!std::isfinite(value))
        return value;
    const double below = std::floor(value);
    const double fraction = value - below; // exact for doubles
    if (fraction < 0.5)
        return below;
    if (fraction > 0.5)
        return below + 1.0;
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

std::int16_t toInt16Clamped(double value)
{
    return toIntegerClamped<std::int16_t>(value);
}

std::int32_t toInt32Clamped(double value)
{
    return toIntegerClamped<std::int32_t>(value);
}
