#pragma once

#include <cstddef>

namespace dateutil {

// A calendar split of a date, or of the difference between two dates. Fields of units that were not
// asked for are 0. month is 1-12, weekday 1-7 with 1 for Sunday in the Gregorian calendar.
struct DateComponents {
    std::ptrdiff_t year = 0;
    std::ptrdiff_t month = 0;
    std::ptrdiff_t day = 0;
    std::ptrdiff_t hour = 0;
    std::ptrdiff_t minute = 0;
    std::ptrdiff_t second = 0;
    std::ptrdiff_t week = 0;
    std::ptrdiff_t weekday = 0;
    std::ptrdiff_t weekdayOrdinal = 0;

    friend bool operator==(const DateComponents&, const DateComponents&) = default;
};

// An immutable moment: a count of seconds since 1970-01-01 00:00:00 UTC, with fractions.
//
// Shifts are plain arithmetic on that count (a day is always 86400 s, across daylight-saving changes
// too); only the calendar operations consult the current calendar, which is made afresh for every
// request from the host's current time zone and the default locale. "Now" is dateutil::currentSeconds().
//
// A date the calendar cannot place (NaN, an infinity, or more than kCalendarRange seconds, about 1.9
// million years, from 1970) has no calendar fields: every yes/no test about it answers false, every
// getter 0, a calendar difference is all zeros, and dateAtStartOfDay returns the date itself. Every
// date that isValid() accepts gets correct calendar answers.
class Date {
public:
    using Count = std::size_t;      // unsigned, machine word wide
    using Integer = std::ptrdiff_t; // signed, machine word wide

    static constexpr double kMinute = 60;
    static constexpr double kHour = 3600;
    static constexpr double kDay = 86400;
    static constexpr double kWeek = 604800;
    // How far from 1970, either way, the calendar places dates. ICU finds a difference of years by
    // trying 1, 2, 4, ... years from the start and goes wrong once a try passes about 5.8 million years
    // from 1970 (its day numbers are 32-bit); within 2^21 years (6.6e13 s) either way no try gets there.
    static constexpr double kCalendarRange = 6e13;

    constexpr explicit Date(double secondsSince1970)
        : m_seconds(secondsSince1970) {}
    static Date now();

    constexpr double secondsSince1970() const { return m_seconds; }
    // Seconds from other to this date: positive when this one is later.
    constexpr double timeIntervalSinceDate(const Date& other) const { return m_seconds - other.m_seconds; }
    // Whether the calendar can place this date (see above).
    bool isValid() const;

    friend constexpr bool operator==(const Date&, const Date&) = default;

    // Dates relative to now.
    static Date dateWithDaysFromNow(Count days);
    static Date dateWithDaysBeforeNow(Count days);
    static Date dateTomorrow();
    static Date dateYesterday();
    static Date dateWithHoursFromNow(Count hours);
    static Date dateWithHoursBeforeNow(Count hours);
    static Date dateWithMinutesFromNow(Count minutes);
    static Date dateWithMinutesBeforeNow(Count minutes);

    // Shifted dates.
    Date dateByAddingDays(Count days) const;
    Date dateBySubtractingDays(Count days) const;
    Date dateByAddingHours(Count hours) const;
    Date dateBySubtractingHours(Count hours) const;
    Date dateByAddingMinutes(Count minutes) const;
    Date dateBySubtractingMinutes(Count minutes) const;
    // 00:00:00 of this date's calendar day; on a day whose midnight does not exist, its first moment.
    Date dateAtStartOfDay() const;
    // The hour (0-23) of the present moment rounded half up. It answers for now, whatever the date.
    Integer nearestHour() const;

    // Same day, week and year.
    bool isEqualToDateIgnoringTime(const Date& other) const;
    bool isToday() const;
    bool isTomorrow() const;
    bool isYesterday() const;
    // Same week number and less than one week (604800 s) apart.
    bool isSameWeekAsDate(const Date& other) const;
    bool isThisWeek() const;
    bool isNextWeek() const;
    bool isLastWeek() const;
    bool isSameYearAsDate(const Date& other) const;
    bool isThisYear() const;
    bool isNextYear() const;
    bool isLastYear() const;

    // Order; both answer true for equal moments.
    bool isEarlierThanDate(const Date& other) const;
    bool isLaterThanDate(const Date& other) const;

    // The calendar difference from other to this date, in years, months, weeks, days, hours, minutes and
    // seconds (weekday and weekdayOrdinal stay 0).
    DateComponents componentsWithOffsetFromDate(const Date& other) const;
    // Whole periods of fixed length, truncated toward zero; saturated at Integer's bounds, NaN gives 0.
    Integer minutesAfterDate(const Date& other) const;
    Integer minutesBeforeDate(const Date& other) const;
    Integer hoursAfterDate(const Date& other) const;
    Integer hoursBeforeDate(const Date& other) const;
    Integer daysAfterDate(const Date& other) const;
    Integer daysBeforeDate(const Date& other) const;

    // Calendar fields of this date in the current calendar.
    Integer hour() const;
    Integer minute() const;
    Integer seconds() const;
    Integer day() const;
    Integer month() const;
    Integer week() const;
    Integer weekday() const;
    Integer nthWeekday() const;
    Integer year() const;

    // The full split that the getters read from, in one calendar request.
    DateComponents components() const;

private:
    double m_seconds;
};

} // namespace dateutil
