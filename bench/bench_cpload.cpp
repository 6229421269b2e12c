// Code page loading.  The first entry name converted in a process needs the
// tables of both directions of "4110" (UTF-8) and "1100" (the local code
// page), with control codes and own characters (direction codes 10 and 26):
// loaded by the activation of the two converters in a fresh cache (the first
// benchmark, one iteration, as a fresh process meets it) and again and again
// into new caches.  The UTF-8
// rule alone, per lead byte and page and sequence by sequence, shows what
// entering it arithmetically saves.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cpobject.h"
#include "krn/rscp/cptable.h"

namespace {

rscpCpInfo_t* Row(const char* cp)
{
    return rscpFindCodePage(cp);
}

uint32_t LoadPair()
{
    uint32_t rc = 0;
    rc |= rscplcc__load_control_codes(10, Row("4110"));
    rc |= rscplcc__load_control_codes(26, Row("1100"));
    rc |= rscplcc__load_control_codes(10, Row("1100"));
    rc |= rscplcc__load_control_codes(26, Row("4110"));
    return rc;
}

// The converters of the first name, activated (which loads their tables) in
// a cache that has just been built.
void BM_FirstActivationOfThePairInAFreshProcess(benchmark::State& state)
{
    rscpi_init(RSCP_ALL_ERRORS);
    for (auto _ : state) {
        rscpCObj_t in, out;
        uint32_t rc = rscpCInit(&in, "4110", "1100", RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER);
        rc |= rscpCInit(&out, "1100", "4110", RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER);
        rscpCSetCtrlCodeCv(&in, 1);
        rscpCSetCtrlCodeCv(&out, 1);
        rc |= rscpCActivate(&in) | rscpCActivate(&out);
        benchmark::DoNotOptimize(rc);
    }
    rscpf_finish(RSCP_ALL_ERRORS);
}
BENCHMARK(BM_FirstActivationOfThePairInAFreshProcess)->Iterations(1)->Unit(benchmark::kMicrosecond);

void BM_PairIntoANewCache(benchmark::State& state)
{
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    for (auto _ : state) {
        state.PauseTiming();
        rscpi_init(RSCP_ALL_ERRORS);
        state.ResumeTiming();
        benchmark::DoNotOptimize(LoadPair());
        state.PauseTiming();
        rscpf_finish(RSCP_ALL_ERRORS);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PairIntoANewCache)->Unit(benchmark::kMicrosecond);

// Both directions of the UTF-8 rule into fresh tables of one load.
void Utf8Rule(benchmark::State& state, bool enumerate)
{
    rscpi_init(RSCP_ALL_ERRORS);
    rscpCpInfo_t* row = Row("4110");
    for (auto _ : state) {
        rscpsp__save_point(row);
        rscpLoad_t l{5, row, rscpmlAllocT1Now(), rscpmlAllocT2Now(), 5, 0, 0, 10, 0};
        uint32_t handled = 0;
        benchmark::DoNotOptimize(rscpUtf8RuleIn(l, 0, 0xFF, enumerate, &handled));
        l.mode = 21;
        benchmark::DoNotOptimize(rscpUtf8RuleOut(l, 0, 0x10FFFF, enumerate, &handled));
        rscprb__rollback_allocation(row, "benchmark");
    }
    rscpf_finish(RSCP_ALL_ERRORS);
}
void BM_Utf8RulePerLeadAndPage(benchmark::State& state)
{
    Utf8Rule(state, false);
}
void BM_Utf8RuleSequenceBySequence(benchmark::State& state)
{
    Utf8Rule(state, true);
}
BENCHMARK(BM_Utf8RulePerLeadAndPage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Utf8RuleSequenceBySequence)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
