#include "cron/CronExpression.h"

#include <benchmark/benchmark.h>

using namespace marrowbell;

namespace {

// Advances `after` through a week so that each search starts somewhere new.
void nextDate(benchmark::State& state, const char* text, const char* zoneName) {
    const CronExpression expression(text);
    const TimeZone zone = *TimeZone::named(zoneName);
    const Instant start = *zone.instant({2026, 3, 1, 0, 0});
    double offset = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(expression.nextDate(start + offset, zone));
        offset = offset > 7 * 86400 ? 0 : offset + 617.3;
    }
}

BENCHMARK_CAPTURE(nextDate, every15Minutes, "*/15 * * * *", "Europe/London");
BENCHMARK_CAPTURE(nextDate, weekdaysAt9, "0 9 * * 1-5", "America/New_York");
// Crosses the night the clocks jump past 02:30 (8 March in New York).
BENCHMARK_CAPTURE(nextDate, nightlyAt0230WithDaylightSaving, "30 2 * * *", "America/New_York");

void neverFires(benchmark::State& state) {
    const CronExpression expression("0 0 31 2 *");
    const TimeZone zone = *TimeZone::named("Europe/Berlin");
    for (auto _ : state)
        benchmark::DoNotOptimize(expression.nextDate(Instant{800000000}, zone));
}
BENCHMARK(neverFires)->Unit(benchmark::kMicrosecond);

void parse(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(CronExpression("*/15 9-17 1,15 * 1-5"));
}
BENCHMARK(parse);

} // namespace
