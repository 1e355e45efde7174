#pragma once

#include "dateutil/Clock.h"
#include "dateutil/Date.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unicode/locid.h>
#include <unicode/ucal.h>
#include <unicode/ustring.h>

// Pins the time zone, the locale and the clock for one test and restores them afterwards.
class DateFixture : public testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ"))
            m_savedZone = tz;
        m_savedLocale = icu::Locale::getDefault();
        pin("Europe/Berlin", "de_DE");
    }

    void TearDown() override {
        if (m_savedZone)
            setenv("TZ", m_savedZone->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(m_savedLocale, status);
        m_clock.reset();
    }

    static void pin(const char* zone, const char* locale) {
        setenv("TZ", zone, 1);
        tzset();
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale(locale), status);
        ASSERT_TRUE(U_SUCCESS(status));
    }

    // Seconds since 1970 of a wall-clock time in the pinned zone.
    static double wall(int year, int month, int day, int hour = 0, int minute = 0, double second = 0) {
        UChar zone[64];
        u_uastrncpy(zone, std::getenv("TZ"), 63);
        zone[63] = 0;
        UErrorCode status = U_ZERO_ERROR;
        UCalendar* cal = ucal_open(zone, -1, "en_US", UCAL_GREGORIAN, &status);
        ucal_clear(cal);
        ucal_setDateTime(cal, year, month - 1, day, hour, minute, 0, &status);
        const double ms = ucal_getMillis(cal, &status);
        ucal_close(cal);
        EXPECT_TRUE(U_SUCCESS(status));
        return ms / 1000.0 + second;
    }

    void setNow(double seconds) {
        m_clock.reset();
        m_clock.emplace(seconds);
    }

private:
    std::optional<std::string> m_savedZone;
    icu::Locale m_savedLocale;
    std::optional<dateutil::ScopedClock> m_clock;
};
