// Start-up of the converter cache: one build of the 6,000,000-byte cache from
// the compiled-in store with its quality check, and the finish that releases
// it.  The C library is kept from recycling the block, so that every build
// gets fresh memory as the archiver's single start-up does.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include "krn/rscp/cpcache.h"

namespace {

void BM_StartUpAndFinish(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    for (auto _ : state) {
        benchmark::DoNotOptimize(rscpi_init(RSCP_ALL_ERRORS));
        rscpf_finish(RSCP_ALL_ERRORS);
    }
}
BENCHMARK(BM_StartUpAndFinish)->Unit(benchmark::kMicrosecond);

void Discard(const char*, int32_t, rscpeOutputFunc) { }

void BM_QualityCheckOfAFreshCache(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    rscpi_init(RSCP_ALL_ERRORS);
    uint32_t errors = 0, warnings = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(rscpqc_quality_check(Discard, nullptr, Discard, nullptr, 3, &errors, &warnings));
    rscpf_finish(RSCP_ALL_ERRORS);
}
BENCHMARK(BM_QualityCheckOfAFreshCache)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
