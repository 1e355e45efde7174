// Shifts, distances and the conversions behind them: plain arithmetic on the seconds count.
#include "DateFixture.h"

#include <cmath>
#include <cstdint>
#include <limits>

using dateutil::Date;

namespace {

using DateShift = DateFixture;

TEST_F(DateShift, RelativeToNowUsesThePinnedClockAndFixedUnits) {
    const double now = wall(2026, 12, 6, 10, 15);
    setNow(now);
    EXPECT_EQ(Date::dateWithDaysFromNow(0).secondsSince1970(), now);
    EXPECT_EQ(Date::dateWithDaysBeforeNow(0).secondsSince1970(), now);
    EXPECT_EQ(Date::dateTomorrow().secondsSince1970(), now + 86400);
    EXPECT_EQ(Date::dateYesterday().secondsSince1970(), now - 86400);
    EXPECT_EQ(Date::dateWithHoursFromNow(2).secondsSince1970(), now + 7200);
    EXPECT_EQ(Date::dateWithHoursBeforeNow(2).secondsSince1970(), now - 7200);
    EXPECT_EQ(Date::dateWithMinutesFromNow(3).secondsSince1970(), now + 180);
    EXPECT_EQ(Date::dateWithMinutesBeforeNow(90).secondsSince1970(), now - 5400);

    const Date d(now);
    EXPECT_EQ(d.dateByAddingHours(24), d.dateByAddingDays(1));
    EXPECT_EQ(d.dateByAddingMinutes(60), d.dateByAddingHours(1));
    EXPECT_EQ(d.dateBySubtractingDays(1).secondsSince1970(), now - 86400);
    EXPECT_EQ(d.dateBySubtractingHours(1).secondsSince1970(), now - 3600);
    EXPECT_EQ(d.dateBySubtractingMinutes(90).secondsSince1970(), now - 5400);
}

TEST_F(DateShift, ADayIsAlways86400SecondsAcrossDaylightSaving) {
    // 29 March 2026 has 23 hours in Berlin: noon plus a day lands at 13:00 on the wall clock.
    const Date noon(wall(2026, 3, 28, 12));
    const Date next = noon.dateByAddingDays(1);
    EXPECT_EQ(next.secondsSince1970() - noon.secondsSince1970(), 86400);
    EXPECT_EQ(next.hour(), 13);
}

TEST_F(DateShift, HugeCountsNeverWrapIntoThePast) {
    const Date d(wall(2026, 1, 1));
    constexpr auto huge = std::numeric_limits<Date::Count>::max();
    EXPECT_GT(d.dateByAddingDays(huge).secondsSince1970(), d.secondsSince1970());
    EXPECT_LT(d.dateBySubtractingMinutes(huge).secondsSince1970(), d.secondsSince1970());
    // A count that fits gives exactly the integer product.
    const Date::Count big = Date::Count{1} << 40;
    EXPECT_EQ(d.dateByAddingHours(big).secondsSince1970(),
              d.secondsSince1970() + static_cast<double>(big * 3600));
}

TEST(DateDistance, TruncatesTowardZeroInBothDirections) {
    const Date base(1'000'000);
    const Date later(1'000'119), earlier(1'000'000 - 119);
    EXPECT_EQ(later.minutesAfterDate(base), 1);
    EXPECT_EQ(earlier.minutesAfterDate(base), -1);
    EXPECT_EQ(later.minutesBeforeDate(base), -1);
    EXPECT_EQ(earlier.minutesBeforeDate(base), 1);
    EXPECT_EQ(Date(1'000'000 - 7199).hoursAfterDate(base), -1);
    EXPECT_EQ(Date(1'000'000 - 86400 - 86399).daysAfterDate(base), -1);
    EXPECT_EQ(Date(1'000'000 + 86399).daysAfterDate(base), 0);
    EXPECT_EQ(Date(1'000'000 + 86400).daysAfterDate(base), 1);
    EXPECT_EQ(Date(1'000'000 + 86400).daysBeforeDate(base), -1);
}

TEST(DateDistance, SaturatesInsteadOfOverflowing) {
    constexpr auto maxInt = std::numeric_limits<Date::Integer>::max();
    constexpr auto minInt = std::numeric_limits<Date::Integer>::lowest();
    const Date zero(0);
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Date(inf).minutesAfterDate(zero), maxInt);
    EXPECT_EQ(Date(-inf).daysAfterDate(zero), minInt);
    EXPECT_EQ(Date(1e300).hoursBeforeDate(zero), minInt);
    EXPECT_EQ(Date(std::nan("")).daysAfterDate(zero), 0);
    EXPECT_EQ(Date(inf).daysAfterDate(Date(inf)), 0); // inf - inf is NaN
}

TEST(DateOrder, EqualMomentsAreBothEarlierAndLater) {
    const Date a(100), b(100), c(101);
    EXPECT_TRUE(a.isEarlierThanDate(b));
    EXPECT_TRUE(a.isLaterThanDate(b));
    EXPECT_TRUE(a.isEarlierThanDate(a));
    EXPECT_TRUE(a.isEarlierThanDate(c));
    EXPECT_FALSE(a.isLaterThanDate(c));
    EXPECT_FALSE(Date(std::nan("")).isEarlierThanDate(c));
    EXPECT_FALSE(Date(std::nan("")).isLaterThanDate(c));
}

} // namespace
