// The date toolkit in a pinned zone, locale and clock: shifts and distances on the seconds count, and the
// calendar questions (days, weeks, years, components).
#include "dateutil/Date.h"

#include "dateutil/Clock.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <unicode/locid.h>

using dateutil::Date;

namespace {

// Pins the time zone, the locale and the clock for each test. (ctest runs every test in a process of its
// own, and every test here that asks the calendar pins them first: nothing needs restoring.)
class DateFixture : public testing::Test {
protected:
    void SetUp() override { pin("Europe/Berlin", "de_DE"); }

    static void pin(const char* zone, const char* locale) {
        setenv("TZ", zone, 1);
        tzset();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

    // Seconds since 1970 of a wall-clock time in the pinned zone.
    static double wall(int year, int month, int day, int hour = 0, int minute = 0, double second = 0) {
        std::tm tm{};
        tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day, tm.tm_hour = hour,
        tm.tm_min = minute;
        tm.tm_isdst = -1;
        return static_cast<double>(std::mktime(&tm)) + second;
    }

    void setNow(double seconds) { m_clock.emplace(seconds); }

private:
    std::optional<dateutil::ScopedClock> m_clock;
};

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
}

TEST_F(DateShift, HugeCountsNeverWrap) {
    const Date d(wall(2026, 1, 1));
    constexpr auto huge = std::numeric_limits<Date::Count>::max();
    EXPECT_DOUBLE_EQ(d.dateByAddingDays(huge).secondsSince1970(), d.secondsSince1970() + huge * Date::kDay);
    EXPECT_DOUBLE_EQ(d.dateBySubtractingMinutes(huge).secondsSince1970(),
                     d.secondsSince1970() - huge * Date::kMinute);
}

TEST(DateOrder, EqualMomentsAreBothEarlierAndLaterAndNaNIsNeither) {
    const Date a(1'000'000), b(1'000'000.5), nan(std::nan(""));
    const struct {
        Date date, other;
        bool earlier, later;
    } cases[] = {{a, b, true, false},
                 {b, a, false, true},
                 {a, a, true, true},
                 {nan, a, false, false},
                 {a, nan, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.date.isEarlierThanDate(c.other), c.earlier) << c.date.secondsSince1970();
        EXPECT_EQ(c.date.isLaterThanDate(c.other), c.later) << c.date.secondsSince1970();
    }
}

TEST(DateDistance, TruncatesTowardZeroAndSaturates) {
    const Date base(1'000'000);
    const auto at = [](double offset) { return Date(1'000'000 + offset); };
    constexpr auto inf = std::numeric_limits<double>::infinity();
    constexpr auto max = std::numeric_limits<Date::Integer>::max(),
                   min = std::numeric_limits<Date::Integer>::lowest();
    // clang-format off
    const std::pair<Date::Integer, Date::Integer> cases[] = {
        {at(119).minutesAfterDate(base), 1},     {at(-119).minutesAfterDate(base), -1},
        {at(119).minutesBeforeDate(base), -1},   {at(-7199).hoursAfterDate(base), -1},
        {at(-7199).hoursBeforeDate(base), 1},    {at(86399).daysAfterDate(base), 0},
        {at(86400).daysAfterDate(base), 1},      {at(-172799).daysAfterDate(base), -1},
        {at(86400).daysBeforeDate(base), -1},    {Date(inf).minutesAfterDate(base), max},
        {Date(1e300).hoursBeforeDate(base), min}, {Date(std::nan("")).daysAfterDate(base), 0},
        {Date(inf).daysAfterDate(Date(inf)), 0}, // inf - inf is NaN
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
}

using Calendar = DateFixture;

TEST_F(Calendar, TodayCoversTheWholeCalendarDay) {
    setNow(wall(2026, 12, 6, 15, 0));
    EXPECT_TRUE(Date(wall(2026, 12, 6, 0, 0, 0)).isToday());
    EXPECT_TRUE(Date(wall(2026, 12, 6, 23, 59, 59)).isToday());
    EXPECT_FALSE(Date(wall(2026, 12, 5, 23, 59, 59)).isToday());
    EXPECT_FALSE(Date(wall(2026, 11, 6, 15)).isToday() || Date(wall(2025, 12, 6, 15)).isToday());
    EXPECT_TRUE(Date(wall(2026, 12, 5, 0, 0, 0)).isYesterday());
    EXPECT_TRUE(Date(wall(2026, 12, 7, 23, 0, 0)).isTomorrow());
    EXPECT_FALSE(Date(wall(2026, 12, 6, 23, 59, 59)).isTomorrow() || Date(wall(2026, 12, 8)).isTomorrow());
    EXPECT_TRUE(Date::now().isThisWeek());
}

TEST_F(Calendar, YesterdayFollowsTheMomentOneDayBackAroundDaylightSaving) {
    // 30 March 2026, 00:30: the day before was 23 hours long, so "now - 86400 s" is 28 March.
    setNow(wall(2026, 3, 30, 0, 30));
    EXPECT_TRUE(Date(wall(2026, 3, 28, 12)).isYesterday());
    EXPECT_FALSE(Date(wall(2026, 3, 29, 12)).isYesterday());

    // 25 October 2026, 23:30: a 25-hour day, so "now - 86400 s" still falls on the same day.
    setNow(wall(2026, 10, 25, 23, 30));
    const Date morning(wall(2026, 10, 25, 10));
    EXPECT_TRUE(morning.isToday());
    EXPECT_TRUE(morning.isYesterday());
}

TEST_F(Calendar, StartOfDayIsTheFirstMomentOfTheDay) {
    const Date midnight(wall(2026, 6, 1));
    EXPECT_EQ(midnight.dateAtStartOfDay(), midnight);
    EXPECT_EQ(Date(wall(2026, 6, 1, 23, 59, 59.5)).dateAtStartOfDay(), midnight);

    // Beirut jumps from 00:00 to 01:00 on 29 March 2026: the day starts at 01:00 (22:00 UTC).
    pin("UTC", "en_US");
    const double beirutStart = wall(2026, 3, 28, 22);
    pin("Asia/Beirut", "en_US");
    EXPECT_EQ(Date(beirutStart + 12 * 3600).dateAtStartOfDay().secondsSince1970(), beirutStart);

    // Havana turns 01:00 back to 00:00 on 1 November 2026: the first of the two midnights counts.
    pin("UTC", "en_US");
    const double firstMidnight = wall(2026, 11, 1, 4); // 00:00 at UTC-4
    pin("America/Havana", "en_US");
    EXPECT_EQ(Date(firstMidnight + 2 * 3600).dateAtStartOfDay().secondsSince1970(), firstMidnight);
    EXPECT_EQ(Date(firstMidnight + 14 * 3600).dateAtStartOfDay().secondsSince1970(), firstMidnight);
}

TEST_F(Calendar, SameWeekIsSymmetricAndBoundedByOneWeek) {
    // Monday 7 December 2026 00:00 to the following Sunday: ISO week 50 in de_DE.
    const Date monday(wall(2026, 12, 7));
    const Date sunday(monday.secondsSince1970() + 604799);
    EXPECT_TRUE(monday.isSameWeekAsDate(sunday));
    EXPECT_TRUE(sunday.isSameWeekAsDate(monday));
    EXPECT_FALSE(monday.isSameWeekAsDate(Date(monday.secondsSince1970() + 604800)));

    // Week 50 of 2025 has the same number but lies a year away.
    const Date lastYear(wall(2025, 12, 10));
    ASSERT_EQ(lastYear.week(), monday.week());
    EXPECT_FALSE(monday.isSameWeekAsDate(lastYear));
    EXPECT_FALSE(lastYear.isSameWeekAsDate(monday));

    setNow(wall(2026, 12, 9, 12));
    EXPECT_TRUE(Date(wall(2026, 12, 16, 8)).isNextWeek());
    EXPECT_TRUE(Date(wall(2026, 12, 1, 8)).isLastWeek());
    // This week, and the weeks after next and before last, are neither.
    for (const Date d : {Date(wall(2026, 12, 10, 8)), Date(wall(2026, 12, 21)), Date(wall(2026, 11, 29, 23))})
        EXPECT_FALSE(d.isNextWeek() || d.isLastWeek());
}

TEST_F(Calendar, WeekNumbersFollowTheLocale) {
    const double newYear2027 = wall(2027, 1, 1, 12); // a Friday
    const double sunday = wall(2026, 1, 4, 12);
    pin("Europe/Berlin", "de_DE");
    EXPECT_EQ(Date(newYear2027).week(), 53); // ISO: the week belongs to 2026
    EXPECT_EQ(Date(sunday).week(), 1);
    pin("Europe/Berlin", "en_US");
    EXPECT_EQ(Date(newYear2027).week(), 1);
    EXPECT_EQ(Date(sunday).week(), 2); // weeks start on Sunday
}

TEST_F(Calendar, NextAndLastYearCompareCalendarYears) {
    setNow(wall(2026, 12, 31, 23, 59));
    EXPECT_TRUE(Date(wall(2027, 1, 1)).isNextYear());
    EXPECT_FALSE(Date(wall(2026, 1, 1)).isNextYear());
    setNow(wall(2026, 1, 1, 0, 1));
    EXPECT_TRUE(Date(wall(2025, 12, 31, 23, 59)).isLastYear());
    EXPECT_FALSE(Date(wall(2024, 12, 31)).isLastYear());
    EXPECT_TRUE(Date(wall(2026, 7, 1)).isThisYear());
}

TEST_F(Calendar, GettersReadTheCalendarFields) {
    // A Tuesday (weekday 3), the third of its kind in the month, in ISO week 51.
    const Date d(wall(2026, 12, 15, 9, 8, 7.75));
    EXPECT_EQ((std::array{d.year(), d.month(), d.day(), d.hour(), d.minute(), d.seconds(), d.week(),
                          d.weekday(), d.nthWeekday()}),
              (std::array<Date::Integer, 9>{2026, 12, 15, 9, 8, 7, 51, 3, 3}));
    EXPECT_EQ(Date(wall(2026, 12, 29)).nthWeekday(), 5);

    setNow(wall(2026, 12, 6, 10, 29, 59));
    EXPECT_EQ(d.nearestHour(), 10);
    setNow(wall(2026, 12, 6, 10, 30));
    EXPECT_EQ(d.nearestHour(), 11);
    EXPECT_EQ(Date(0).nearestHour(), 11); // answers for now, whatever the date
    setNow(wall(2026, 12, 6, 23, 30));
    EXPECT_EQ(d.nearestHour(), 0);
}

TEST_F(Calendar, OffsetSplitsTheDifferenceIntoUnits) {
    const Date from(wall(2025, 1, 10, 8));
    const Date to(wall(2026, 3, 27, 10, 5, 9));
    EXPECT_EQ(to.componentsWithOffsetFromDate(from), (dateutil::DateComponents{1, 2, 3, 2, 5, 9, 2, 0, 0}));
    // Noon to noon across either daylight-saving change is one calendar day, of 23 or 25 hours.
    for (const auto& [day, next] : {std::pair(Date(wall(2026, 3, 28, 12)), Date(wall(2026, 3, 29, 12))),
                                    std::pair(Date(wall(2026, 10, 24, 12)), Date(wall(2026, 10, 25, 12)))})
        EXPECT_EQ(next.componentsWithOffsetFromDate(day), (dateutil::DateComponents{0, 0, 1}));
}

// Every date the calendar accepts gets right answers, up to the edge of its range, both ways.
TEST_F(Calendar, AnswersAreRightUpToTheEdgeOfTheRange) {
    pin("UTC", "en_US");
    constexpr double range = Date::kCalendarRange, year = 365.2425 * 86400;
    constexpr double cycle = 400 * year; // a whole number of days
    const double edge = std::floor(range / cycle) * cycle;
    EXPECT_EQ(Date(edge).componentsWithOffsetFromDate(Date(0)),
              (dateutil::DateComponents{static_cast<std::ptrdiff_t>(edge / cycle) * 400}));
    EXPECT_EQ(Date(edge + 5.5 * 3600).dateAtStartOfDay(), Date(edge));
    EXPECT_EQ(Date(-edge + 5.5 * 3600).dateAtStartOfDay(), Date(-edge));
    // Between any two points of a grid over the range: the years their distance makes (Julian years
    // before 1582 differ by less than the tolerance).
    for (int i = -4; i <= 4; ++i)
        for (int j = -4; j <= 4; ++j) {
            const double from = i * range / 4, to = j * range / 4, years = (to - from) / year;
            EXPECT_NEAR(Date(to).componentsWithOffsetFromDate(Date(from)).year, years,
                        1e-4 * std::fabs(years) + 1)
                << from << " to " << to;
        }
}

TEST_F(Calendar, DatesWithoutAMomentHaveNoCalendarFields) {
    setNow(wall(2026, 12, 6, 12));
    const double beyond = std::nextafter(Date::kCalendarRange, HUGE_VAL);
    for (const double bad :
         {std::numeric_limits<double>::infinity(), -1e300, beyond, -beyond, 1.5e14, std::nan("")}) {
        const Date d(bad);
        EXPECT_FALSE(d.isValid());
        EXPECT_FALSE(d.isToday() || d.isEqualToDateIgnoringTime(d) || d.isSameWeekAsDate(d) ||
                     d.isSameYearAsDate(d));
        EXPECT_EQ(d.components(), dateutil::DateComponents{});
        EXPECT_EQ(d.componentsWithOffsetFromDate(Date::now()), dateutil::DateComponents{});
        EXPECT_THAT(d.dateAtStartOfDay().secondsSince1970(), testing::NanSensitiveDoubleEq(bad));
    }
}

TEST_F(Calendar, EveryDayOfALongRangeRoundTrips) {
    // Ten years of days at an odd time, through both daylight-saving changes of each year.
    double t = wall(2020, 1, 1, 13, 37, 11);
    for (int i = 0; i < 3700; ++i, t += 86400) {
        const Date d(t);
        const Date start = d.dateAtStartOfDay();
        ASSERT_LE(start.secondsSince1970(), t);
        ASSERT_GT(start.secondsSince1970(), t - 86400 - 3600);
        ASSERT_EQ(start.dateAtStartOfDay(), start);
        ASSERT_TRUE(start.isEqualToDateIgnoringTime(d));
        ASSERT_EQ(start.hour(), 0);
    }
}

} // namespace
