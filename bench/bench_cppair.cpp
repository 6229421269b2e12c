// Charset names, the pair filter and the status dump: cost per call of a
// remembered name, a name found by scanning the table and an unknown one; of
// the filter's verdicts (a table pair, a pair across character sets, a pair
// the unification groups decide); of a whole status dump of a fresh cache.
#include <benchmark/benchmark.h>

#include <cstring>

#include "krn/rscp/cpcharset.h"
#include "krn/rscp/cpf1.h"
#include "krn/rscp/cpinfo.h"

namespace {

void Quiet(const char*, int32_t) { }

void BM_CharsetName(benchmark::State& state, const char* name)
{
    rscpe_set_output_func(Quiet, 1);
    char cp[4];
    for (auto _ : state) {
        benchmark::DoNotOptimize(rscpcpn_cp_of_charset_name(cp, name, -2));
        benchmark::DoNotOptimize(cp);
    }
}
BENCHMARK_CAPTURE(BM_CharsetName, remembered, "UTF-8");
BENCHMARK_CAPTURE(BM_CharsetName, unknown, "latin1");

// Two names that take turns, so the last hit never answers: a table scan.
void BM_CharsetNameScanned(benchmark::State& state)
{
    const char* names[2] = {"windows_1257", "KOI8_R"};
    char cp[4];
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(rscpcpn_cp_of_charset_name(cp, names[i ^= 1], -2));
        benchmark::DoNotOptimize(cp);
    }
}
BENCHMARK(BM_CharsetNameScanned);

void BM_PairFilter(benchmark::State& state, const char* source, const char* destination)
{
    const uint8_t* table = nullptr;
    const char* name = nullptr;
    for (auto _ : state)
        benchmark::DoNotOptimize(rscpf1__check_pair(source, destination, &table, &name, 1));
}
BENCHMARK_CAPTURE(BM_PairFilter, table, "0120", "1100");
BENCHMARK_CAPTURE(BM_PairFilter, acrossSets, "8000", "8400");
BENCHMARK_CAPTURE(BM_PairFilter, unification, "6200", "8004");
BENCHMARK_CAPTURE(BM_PairFilter, lastRows, "6700", "6600");

void BM_StatusDump(benchmark::State& state)
{
    rscpi_init(RSCP_ALL_ERRORS);
    for (auto _ : state)
        benchmark::DoNotOptimize(rscpcs_cache_status(0xFFFF, Quiet, 0));
    rscpf_finish(RSCP_ALL_ERRORS);
}
BENCHMARK(BM_StatusDump);

}  // namespace

BENCHMARK_MAIN();
