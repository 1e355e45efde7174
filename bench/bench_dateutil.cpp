// Cost of the calendar questions the status line asks, with the calendar's creation on its own:
// every question makes a fresh calendar, so that is the floor under each of them.
#include "dateutil/Clock.h"
#include "dateutil/Date.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

using dateutil::Date;

namespace {

const double kNow = 1'796'547'600; // 2026-12-06 09:00 UTC
const Date kEarlier(kNow - 30 * 3600);

void BM_CreateCalendar(benchmark::State& state) {
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Calendar> cal(icu::Calendar::createInstance(icu::TimeZone::detectHostTimeZone(),
                                                                         icu::Locale::getDefault(), status));
        benchmark::DoNotOptimize(cal.get());
    }
}
BENCHMARK(BM_CreateCalendar);

void BM_IsToday(benchmark::State& state) {
    dateutil::ScopedClock clock(kNow);
    for (auto _ : state)
        benchmark::DoNotOptimize(kEarlier.isToday());
}
BENCHMARK(BM_IsToday);

void BM_IsYesterday(benchmark::State& state) {
    dateutil::ScopedClock clock(kNow);
    for (auto _ : state)
        benchmark::DoNotOptimize(kEarlier.isYesterday());
}
BENCHMARK(BM_IsYesterday);

void BM_IsTodayAndIsYesterday(benchmark::State& state) {
    dateutil::ScopedClock clock(kNow);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kEarlier.isToday());
        benchmark::DoNotOptimize(kEarlier.isYesterday());
    }
}
BENCHMARK(BM_IsTodayAndIsYesterday);

void BM_DaysAfterDate(benchmark::State& state) {
    const Date now(kNow);
    for (auto _ : state)
        benchmark::DoNotOptimize(now.daysAfterDate(kEarlier));
}
BENCHMARK(BM_DaysAfterDate);

void BM_DateAtStartOfDay(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(kEarlier.dateAtStartOfDay());
}
BENCHMARK(BM_DateAtStartOfDay);

void BM_YearGetter(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(kEarlier.year());
}
BENCHMARK(BM_YearGetter);

} // namespace

int main(int argc, char** argv) {
    // A zone with daylight saving, as most users have; pinned so runs compare.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
