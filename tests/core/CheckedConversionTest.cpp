#include "core/CheckedConversion.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(CheckedConversion, TruncatesTowardZeroAndRefusesWhatDoesNotFit) {
    using varnel::truncatedOrNone;
    EXPECT_EQ(truncatedOrNone<int>(37.9), 37);
    EXPECT_EQ(truncatedOrNone<int>(-37.9), -37);
    EXPECT_EQ(truncatedOrNone<std::int32_t>(2147483647.9), 2147483647);
    EXPECT_EQ(truncatedOrNone<std::int32_t>(2147483648.0), std::nullopt);
    EXPECT_EQ(truncatedOrNone<std::int32_t>(-2147483648.9), -2147483647 - 1);
    EXPECT_EQ(truncatedOrNone<std::int32_t>(-2147483649.0), std::nullopt);
    // 2^63 is the first double above INT64_MAX; -2^63 is exactly INT64_MIN.
    EXPECT_EQ(truncatedOrNone<std::int64_t>(std::ldexp(1.0, 63)), std::nullopt);
    EXPECT_EQ(truncatedOrNone<std::int64_t>(-std::ldexp(1.0, 63)),
              std::numeric_limits<std::int64_t>::lowest());
    EXPECT_EQ(truncatedOrNone<std::uint32_t>(-0.5), 0u);
    EXPECT_EQ(truncatedOrNone<std::uint32_t>(-1.0), std::nullopt);
    EXPECT_EQ(truncatedOrNone<int>(std::nan("")), std::nullopt);
    EXPECT_EQ(truncatedOrNone<int>(std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(CheckedConversion, SaturatesAtTheBoundsAndMapsNaNToZero) {
    using varnel::saturatingTruncate;
    EXPECT_EQ(saturatingTruncate<std::int32_t>(-1e10), std::numeric_limits<std::int32_t>::lowest());
    EXPECT_EQ(saturatingTruncate<std::int64_t>(std::ldexp(1.0, 63)),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(saturatingTruncate<std::int64_t>(std::nan("")), 0);
}

} // namespace
