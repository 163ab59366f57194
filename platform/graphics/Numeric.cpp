#include "Numeric.h"

#include <cfenv>
#include <limits>

std::int64_t Round(Extended x)
{
    if (std::isnan(x))
        return 0;
    constexpr Extended limit = static_cast<Extended>(std::numeric_limits<std::int64_t>::max());
    if (x >= limit)
        return std::numeric_limits<std::int64_t>::max();
    if (x < -limit)
        return std::numeric_limits<std::int64_t>::min();
    Extended floor = std::floor(x);
    Extended diff = x - floor;
    auto result = static_cast<std::int64_t>(floor);
    if (diff > 0.5L || (diff == 0.5L && (result & 1) != 0))
        ++result;
    return result;
}

std::int64_t Trunc(Extended x)
{
    if (std::isnan(x))
        return 0;
    constexpr Extended limit = static_cast<Extended>(std::numeric_limits<std::int64_t>::max());
    if (x >= limit)
        return std::numeric_limits<std::int64_t>::max();
    if (x <= -limit - 1) // -2^63
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(x);
}

std::int32_t MulDiv(std::int32_t number, std::int32_t numerator, std::int32_t denominator)
{
    if (denominator == 0)
        return -1;
    std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    bool negative = (product < 0) != (denominator < 0);
    std::uint64_t p = product < 0 ? 0 - static_cast<std::uint64_t>(product) : static_cast<std::uint64_t>(product);
    std::uint64_t d = denominator < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(denominator))
                                      : static_cast<std::uint64_t>(denominator);
    std::uint64_t q = (p + d / 2) / d;
    if (q > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + (negative ? 1u : 0u))
        return -1;
    return negative ? static_cast<std::int32_t>(0 - static_cast<std::int64_t>(q)) : static_cast<std::int32_t>(q);
}
