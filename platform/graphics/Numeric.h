#pragma once
// Numeric helpers with the rounding rules the image routines rely on.

#include <cmath>
#include <cstdint>

// Extended precision is the platform's long double (80-bit on x86-64).
using Extended = long double;

// Rounds to the nearest integer, halves to even.
std::int64_t Round(Extended x);
// Truncates toward zero.
std::int64_t Trunc(Extended x);

// Stores a value in single precision, as an assignment to a Single does.
inline float StoreSingle(Extended x) { return static_cast<float>(x); }

// Multiplies two 32-bit values into 64 bits and divides by a third, rounding
// half away from zero; a zero divisor or a result outside 32 bits gives -1.
std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator);
