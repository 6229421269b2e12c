// Activation and single characters over a started converter cache: an
// activation served from the activation cache beside the first one after a
// reorganisation (tables already loaded), and one code point encoded through
// the output tables of ISO-8859-1 and of UTF-8.
#include <benchmark/benchmark.h>

#include "bench/cpbench.h"
#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpencode.h"

namespace {

using cpbench::Object;
using cpbench::Started;

void BM_ActivateCached(benchmark::State& st)
{
    if (!Started())
        return st.SkipWithError("no cache");
    rscpCObj_t o = Object("4110", "1100");
    rscpCActivate(&o);
    for (auto _ : st) {
        o = Object("4110", "1100");
        benchmark::DoNotOptimize(rscpCActivate(&o));
    }
}

void BM_ActivateUncached(benchmark::State& st)
{
    if (!Started())
        return st.SkipWithError("no cache");
    rscpCObj_t o = Object("4110", "1100");
    rscpCActivate(&o);
    for (auto _ : st) {
        rscpActivationCacheReset();
        o = Object("4110", "1100");
        benchmark::DoNotOptimize(rscpCActivate(&o));
    }
}

void BM_EncodeU4(benchmark::State& st)
{
    if (!Started())
        return st.SkipWithError("no cache");
    rscpCObj_t o = Object("1100", st.range(0) ? "4110" : "1100");
    rscpCSetDoFilter(&o, 1);
    rscpCActivate(&o);
    uint8_t buf[8];
    uint32_t cp = 0x20;
    for (auto _ : st) {
        uint8_t* p = buf;
        benchmark::DoNotOptimize(rscpCEncodeU4(&o, &p, buf + sizeof buf, cp));
        cp = cp == 0xFF ? 0x20 : cp + 1;
    }
}

}  // namespace

BENCHMARK(BM_ActivateCached);
BENCHMARK(BM_ActivateUncached);
BENCHMARK(BM_EncodeU4)->Arg(0)->Arg(1);
BENCHMARK_MAIN();
