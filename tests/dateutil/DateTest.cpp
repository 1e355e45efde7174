// Shifts, distances and order: plain arithmetic on the seconds count.
#include "DateFixture.h"

#include <cmath>
#include <limits>

using dateutil::Date;

namespace {

using DateShift = DateFixture;

TEST_F(DateShift, EveryShiftMovesByItsFixedUnit) {
    const double now = wall(2026, 3, 28, 12); // the next day has only 23 hours in Berlin
    setNow(now);
    const Date d(now);
    const std::pair<Date, double> cases[] = {
        {Date::dateWithDaysFromNow(0), 0},      {Date::dateWithDaysBeforeNow(2), -172800},
        {Date::dateTomorrow(), 86400},          {Date::dateYesterday(), -86400},
        {Date::dateWithHoursFromNow(2), 7200},  {Date::dateWithHoursBeforeNow(2), -7200},
        {Date::dateWithMinutesFromNow(3), 180}, {Date::dateWithMinutesBeforeNow(90), -5400},
        {d.dateByAddingDays(1), 86400},         {d.dateBySubtractingDays(1), -86400},
        {d.dateByAddingHours(24), 86400},       {d.dateBySubtractingHours(1), -3600},
        {d.dateByAddingMinutes(60), 3600},      {d.dateBySubtractingMinutes(90), -5400},
    };
    for (const auto& [date, offset] : cases)
        EXPECT_EQ(date.secondsSince1970() - now, offset);
    // A day is 86400 s across the change to summer time: the wall clock moves on by an hour.
    EXPECT_EQ(d.dateByAddingDays(1).hour(), 13);
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

TEST(DateDistance, TruncatesTowardZeroAndSaturates) {
    const Date base(1'000'000);
    const auto at = [](double offset) { return Date(1'000'000 + offset); };
    EXPECT_EQ(at(119).minutesAfterDate(base), 1);
    EXPECT_EQ(at(-119).minutesAfterDate(base), -1);
    EXPECT_EQ(at(119).minutesBeforeDate(base), -1);
    EXPECT_EQ(at(-7199).hoursAfterDate(base), -1);
    EXPECT_EQ(at(-7199).hoursBeforeDate(base), 1);
    EXPECT_EQ(at(86399).daysAfterDate(base), 0);
    EXPECT_EQ(at(86400).daysAfterDate(base), 1);
    EXPECT_EQ(at(-172799).daysAfterDate(base), -1);
    EXPECT_EQ(at(86400).daysBeforeDate(base), -1);

    constexpr auto inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(Date(inf).minutesAfterDate(base), std::numeric_limits<Date::Integer>::max());
    EXPECT_EQ(Date(1e300).hoursBeforeDate(base), std::numeric_limits<Date::Integer>::lowest());
    EXPECT_EQ(Date(std::nan("")).daysAfterDate(base), 0);
    EXPECT_EQ(Date(inf).daysAfterDate(Date(inf)), 0); // inf - inf is NaN
}

} // namespace
