#pragma once

#include <cmath>
#include <concepts>
#include <limits>
#include <optional>

// The one place where a double becomes an integer. A plain cast of NaN, an infinity or a value outside
// the target's range is undefined behaviour; these helpers never perform such a cast.
namespace varnel {

// The value truncated toward zero, or nothing when it is NaN, infinite or does not fit in Int.
template <std::integral Int>
constexpr std::optional<Int> truncatedOrNone(double value) {
    if (std::isnan(value))
        return std::nullopt;
    const double t = std::trunc(value);
    // 2^digits is the first value above Int's maximum; it is exact in a double for every Int
    // up to 64 bits, whereas the maximum itself may not be.
    const double above = std::ldexp(1.0, std::numeric_limits<Int>::digits);
    const double lowest = static_cast<double>(std::numeric_limits<Int>::lowest());
    if (!(t < above) || t < lowest)
        return std::nullopt;
    return static_cast<Int>(t);
}

// The value truncated toward zero, saturated at Int's bounds; NaN gives 0.
template <std::integral Int>
constexpr Int saturatingTruncate(double value) {
    if (std::isnan(value))
        return 0;
    if (const auto t = truncatedOrNone<Int>(value))
        return *t;
    return value > 0 ? std::numeric_limits<Int>::max() : std::numeric_limits<Int>::lowest();
}

} // namespace varnel
