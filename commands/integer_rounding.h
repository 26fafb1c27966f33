#pragma once

#include <cstdint>

// Rounds to the nearest integer, halves to the even neighbour (2.5 gives 2, 3.5 gives 4,
// -0.5 gives 0), independently of the floating-point rounding mode. NaN and infinities are
// returned unchanged.
double roundHalfToEven(double value);

// Rounds half to even, then clamps into the target's range: the boxes accept any text, and a
// counter or interval out of range must neither wrap around nor invoke undefined behaviour.
// NaN gives 0.
std::int16_t toInt16Clamped(double value);
std::int32_t toInt32Clamped(double value);
