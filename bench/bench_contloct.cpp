// Cost of one continuous local time conversion beside the C library's.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <ctime>

#include "krn/rstr/contloct.h"

namespace {

void Zone()
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
}

void BM_ContLoctLocaltimeR(benchmark::State& state)
{
    Zone();
    const time_t now = std::time(nullptr);
    time_t t = now;
    struct tm tm;
    ContLoctLocaltimeR(&t, &tm);  // first call builds the interval cache
    for (auto _ : state) {
        benchmark::DoNotOptimize(ContLoctLocaltimeR(&t, &tm));
        t = now + ((t - now + 7) & 0xffff);  // the time stamps of the next 18 hours
    }
}
BENCHMARK(BM_ContLoctLocaltimeR);

void BM_localtime_r(benchmark::State& state)
{
    Zone();
    time_t t = std::time(nullptr);
    struct tm tm;
    for (auto _ : state) {
        benchmark::DoNotOptimize(localtime_r(&t, &tm));
        t += 7;
    }
}
BENCHMARK(BM_localtime_r);

void BM_localtime(benchmark::State& state)
{
    Zone();
    time_t t = std::time(nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(localtime(&t));
        t += 7;
    }
}
BENCHMARK(BM_localtime);

}  // namespace

BENCHMARK_MAIN();
