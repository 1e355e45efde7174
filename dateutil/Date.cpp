#include "dateutil/Date.h"

#include "core/CheckedConversion.h"
#include "dateutil/Clock.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

namespace dateutil {
namespace {

using CalendarPtr = std::unique_ptr<icu::Calendar>;

// The user's calendar as it stands now: the host's time zone (looked up again on every call, so a
// change of zone applies at once) and the default locale's calendar system and week rules.
CalendarPtr currentCalendar() {
    UErrorCode status = U_ZERO_ERROR;
    CalendarPtr calendar(icu::Calendar::createInstance(icu::TimeZone::detectHostTimeZone(),
                                                       icu::Locale::getDefault(), status));
    if (U_FAILURE(status))
        return nullptr;
    // Of two repeated wall times take the first; a skipped one moves on to the first that exists.
    calendar->setRepeatedWallTimeOption(UCAL_WALLTIME_FIRST);
    calendar->setSkippedWallTimeOption(UCAL_WALLTIME_NEXT_VALID);
    return calendar;
}

// A fresh calendar set to the given date, or none when the date cannot be placed.
CalendarPtr calendarAt(const Date& date) {
    if (!date.isValid())
        return nullptr;
    CalendarPtr calendar = currentCalendar();
    if (!calendar)
        return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    calendar->setTime(date.secondsSince1970() * 1000.0, status);
    return U_SUCCESS(status) ? std::move(calendar) : nullptr;
}

std::optional<std::int32_t> field(icu::Calendar& calendar, UCalendarDateFields which) {
    UErrorCode status = U_ZERO_ERROR;
    const std::int32_t value = calendar.get(which, status);
    if (U_FAILURE(status))
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> fieldOf(const Date& date, UCalendarDateFields which) {
    const CalendarPtr calendar = calendarAt(date);
    return calendar ? field(*calendar, which) : std::nullopt;
}

std::optional<DateComponents> split(const Date& date) {
    const CalendarPtr calendar = calendarAt(date);
    if (!calendar)
        return std::nullopt;
    DateComponents c;
    const auto read = [&](std::ptrdiff_t& out, UCalendarDateFields which, int offset = 0) {
        const auto value = field(*calendar, which);
        out = value ? *value + offset : 0;
        return value.has_value();
    };
    // ICU counts months from 0.
    const bool ok = read(c.year, UCAL_YEAR) && read(c.month, UCAL_MONTH, 1) && read(c.day, UCAL_DATE) &&
                    read(c.hour, UCAL_HOUR_OF_DAY) && read(c.minute, UCAL_MINUTE) &&
                    read(c.second, UCAL_SECOND) && read(c.week, UCAL_WEEK_OF_YEAR) &&
                    read(c.weekday, UCAL_DAY_OF_WEEK) && read(c.weekdayOrdinal, UCAL_DAY_OF_WEEK_IN_MONTH);
    return ok ? std::optional(c) : std::nullopt;
}

// count x unit without the wrap-around of unsigned arithmetic: the exact integer product where it fits,
// otherwise the product in doubles.
double spanSeconds(Date::Count count, double unit) {
    const auto wholeUnit = static_cast<Date::Count>(unit);
    if (count <= std::numeric_limits<Date::Count>::max() / wholeUnit)
        return static_cast<double>(count * wholeUnit);
    return static_cast<double>(count) * unit;
}

Date::Integer wholeUnits(double seconds, double unit) {
    return varnel::saturatingTruncate<Date::Integer>(seconds / unit);
}

} // namespace

Date Date::now() {
    return Date(currentSeconds());
}

bool Date::isValid() const {
    return std::isfinite(m_seconds) && std::fabs(m_seconds) <= kCalendarRange;
}

Date Date::dateWithDaysFromNow(Count days) {
    return now().dateByAddingDays(days);
}
Date Date::dateWithDaysBeforeNow(Count days) {
    return now().dateBySubtractingDays(days);
}
Date Date::dateTomorrow() {
    return dateWithDaysFromNow(1);
}
Date Date::dateYesterday() {
    return dateWithDaysBeforeNow(1);
}
Date Date::dateWithHoursFromNow(Count hours) {
    return now().dateByAddingHours(hours);
}
Date Date::dateWithHoursBeforeNow(Count hours) {
    return now().dateBySubtractingHours(hours);
}
Date Date::dateWithMinutesFromNow(Count minutes) {
    return now().dateByAddingMinutes(minutes);
}
Date Date::dateWithMinutesBeforeNow(Count minutes) {
    return now().dateBySubtractingMinutes(minutes);
}

Date Date::dateByAddingDays(Count days) const {
    return Date(m_seconds + spanSeconds(days, kDay));
}
Date Date::dateBySubtractingDays(Count days) const {
    return Date(m_seconds - spanSeconds(days, kDay));
}
Date Date::dateByAddingHours(Count hours) const {
    return Date(m_seconds + spanSeconds(hours, kHour));
}
Date Date::dateBySubtractingHours(Count hours) const {
    return Date(m_seconds - spanSeconds(hours, kHour));
}
Date Date::dateByAddingMinutes(Count minutes) const {
    return Date(m_seconds + spanSeconds(minutes, kMinute));
}
Date Date::dateBySubtractingMinutes(Count minutes) const {
    return Date(m_seconds - spanSeconds(minutes, kMinute));
}

Date Date::dateAtStartOfDay() const {
    const CalendarPtr calendar = calendarAt(*this);
    if (!calendar)
        return *this;
    // Clearing the time fields of the receiver's own calendar keeps its era, year and day as they are;
    // rebuilding from the split fields could resolve the day through the week fields instead.
    calendar->set(UCAL_HOUR_OF_DAY, 0);
    calendar->set(UCAL_MINUTE, 0);
    calendar->set(UCAL_SECOND, 0);
    calendar->set(UCAL_MILLISECOND, 0);
    UErrorCode status = U_ZERO_ERROR;
    const UDate start = calendar->getTime(status);
    return U_SUCCESS(status) ? Date(start / 1000.0) : *this;
}

Date::Integer Date::nearestHour() const {
    return fieldOf(Date(currentSeconds() + 1800), UCAL_HOUR_OF_DAY).value_or(0);
}

bool Date::isEqualToDateIgnoringTime(const Date& other) const {
    const auto mine = split(*this);
    const auto theirs = split(other);
    return mine && theirs && mine->year == theirs->year && mine->month == theirs->month &&
           mine->day == theirs->day;
}

bool Date::isToday() const {
    return isEqualToDateIgnoringTime(now());
}
bool Date::isTomorrow() const {
    return isEqualToDateIgnoringTime(dateTomorrow());
}
bool Date::isYesterday() const {
    return isEqualToDateIgnoringTime(dateYesterday());
}

bool Date::isSameWeekAsDate(const Date& other) const {
    const auto mine = split(*this);
    const auto theirs = split(other);
    if (!mine || !theirs || mine->week != theirs->week)
        return false;
    // The week number repeats every year; the distance keeps another year's week from matching.
    return std::fabs(timeIntervalSinceDate(other)) < kWeek;
}

bool Date::isThisWeek() const {
    return isSameWeekAsDate(now());
}
bool Date::isNextWeek() const {
    return isSameWeekAsDate(Date(currentSeconds() + kWeek));
}
bool Date::isLastWeek() const {
    return isSameWeekAsDate(Date(currentSeconds() - kWeek));
}

bool Date::isSameYearAsDate(const Date& other) const {
    const auto mine = fieldOf(*this, UCAL_YEAR);
    const auto theirs = fieldOf(other, UCAL_YEAR);
    return mine && theirs && *mine == *theirs;
}

bool Date::isThisYear() const {
    return isSameYearAsDate(now());
}

bool Date::isNextYear() const {
    const auto mine = fieldOf(*this, UCAL_YEAR);
    const auto present = fieldOf(now(), UCAL_YEAR);
    return mine && present && *mine == std::int64_t{*present} + 1;
}

bool Date::isLastYear() const {
    const auto mine = fieldOf(*this, UCAL_YEAR);
    const auto present = fieldOf(now(), UCAL_YEAR);
    return mine && present && *mine == std::int64_t{*present} - 1;
}

// Written as "not after" and "not before" so that equal moments answer true for both, and a date
// without a moment (NaN) answers false for both.
bool Date::isEarlierThanDate(const Date& other) const {
    return m_seconds <= other.m_seconds;
}
bool Date::isLaterThanDate(const Date& other) const {
    return m_seconds >= other.m_seconds;
}

DateComponents Date::componentsWithOffsetFromDate(const Date& other) const {
    DateComponents c;
    if (!isValid())
        return c;
    const CalendarPtr calendar = calendarAt(other);
    if (!calendar)
        return c;
    const UDate end = m_seconds * 1000.0;
    // Each difference advances the calendar by what it counted, so later units hold the remainder.
    UErrorCode status = U_ZERO_ERROR;
    const auto diff = [&](std::ptrdiff_t& out, UCalendarDateFields which) {
        out = calendar->fieldDifference(end, which, status);
    };
    diff(c.year, UCAL_YEAR);
    diff(c.month, UCAL_MONTH);
    diff(c.week, UCAL_WEEK_OF_YEAR);
    diff(c.day, UCAL_DATE);
    diff(c.hour, UCAL_HOUR_OF_DAY);
    diff(c.minute, UCAL_MINUTE);
    diff(c.second, UCAL_SECOND);
    return U_SUCCESS(status) ? c : DateComponents{};
}

Date::Integer Date::minutesAfterDate(const Date& other) const {
    return wholeUnits(timeIntervalSinceDate(other), kMinute);
}
Date::Integer Date::minutesBeforeDate(const Date& other) const {
    return wholeUnits(other.timeIntervalSinceDate(*this), kMinute);
}
Date::Integer Date::hoursAfterDate(const Date& other) const {
    return wholeUnits(timeIntervalSinceDate(other), kHour);
}
Date::Integer Date::hoursBeforeDate(const Date& other) const {
    return wholeUnits(other.timeIntervalSinceDate(*this), kHour);
}
Date::Integer Date::daysAfterDate(const Date& other) const {
    return wholeUnits(timeIntervalSinceDate(other), kDay);
}
Date::Integer Date::daysBeforeDate(const Date& other) const {
    return wholeUnits(other.timeIntervalSinceDate(*this), kDay);
}

DateComponents Date::components() const {
    return split(*this).value_or(DateComponents{});
}

Date::Integer Date::hour() const {
    return components().hour;
}
Date::Integer Date::minute() const {
    return components().minute;
}
Date::Integer Date::seconds() const {
    return components().second;
}
Date::Integer Date::day() const {
    return components().day;
}
Date::Integer Date::month() const {
    return components().month;
}
Date::Integer Date::week() const {
    return components().week;
}
Date::Integer Date::weekday() const {
    return components().weekday;
}
Date::Integer Date::nthWeekday() const {
    return components().weekdayOrdinal;
}
Date::Integer Date::year() const {
    return components().year;
}

} // namespace dateutil
