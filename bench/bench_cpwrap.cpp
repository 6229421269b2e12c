// The conversion wrappers beside the engine on the same 4 KiB text: UTF-16
// (little-endian page, big-endian units) to ISO-8859-1 through the neutral
// form at an even and an odd address, one character a call, unit by unit;
// and the build of the flat table of the basic plane.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/cpbench.h"
#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cpflat.h"
#include "krn/rscp/cpwrap.h"

namespace {

using cpbench::Started;

rscpCObj_t Object(const char* in, const char* out)
{
    rscpCObj_t o = cpbench::Object(in, out);
    rscpCSetOwnCh(&o, 0);
    rscpCActivate(&o);
    return o;
}

constexpr size_t kChars = 2048;

// 2,048 Latin-1 characters as UTF-16 units, little-endian (big-endian when
// big), one byte after an odd start when odd.
std::vector<uint8_t> Units(bool big, bool odd)
{
    std::vector<uint8_t> u(odd + 2 * kChars);
    for (size_t i = 0; i < kChars; ++i) {
        const uint8_t c = uint8_t(0x20 + i % 0xD0);
        u[odd + 2 * i + (big ? 1 : 0)] = c;
    }
    return u;
}

typedef uint32_t (*Convert)(rscpCObj_t*, uint8_t**, uint8_t*, const uint8_t**, const uint8_t*);

void Run(benchmark::State& st, Convert fn, bool big, bool odd)
{
    if (!Started())
        return st.SkipWithError("no cache");
    rscpCObj_t o = Object("4103", "1100");
    const std::vector<uint8_t> in = Units(big, odd);
    std::vector<uint8_t> out(kChars);
    for (auto _ : st) {
        const uint8_t* s = in.data() + odd;
        uint8_t* d = out.data();
        if (fn(&o, &d, d + out.size(), &s, in.data() + in.size()) != 0)
            return st.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(d);
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(2 * kChars));
}

void BM_Engine(benchmark::State& st)
{
    Run(st, rscpCConvert, false, false);
}
void BM_Neutral(benchmark::State& st)
{
    Run(st, rscpCConvertNeutral, true, st.range(0) != 0);
}
void BM_Units(benchmark::State& st)
{
    Run(st, rscpCConvertUnits, false, false);
}

// The buffer converted by a call per character.
uint32_t OneCharLoop(rscpCObj_t* o, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src, const uint8_t* srcEnd)
{
    uint32_t rc = 0;
    while (rc == 0 && *src < srcEnd)
        rc = rscpCConvertOneChar(o, dst, dstEnd, src, srcEnd);
    return rc;
}

void BM_OneCharLoop(benchmark::State& st)
{
    Run(st, OneCharLoop, false, false);
}

void BM_BuildU2ToBytes(benchmark::State& st)
{
    if (!Started())
        return st.SkipWithError("no cache");
    rscpCObj_t o = Object("4103", "1100");
    o.method = 35;  // the UTF-16 method reads the same output pages
    std::vector<uint16_t> table(RSCP_FLAT_BMP_ENTRIES);
    for (auto _ : st)
        if (rscpBuildU2ToBytesTable(&o, table.data()) != 0)
            return st.SkipWithError("no table");
}

}  // namespace

BENCHMARK(BM_Engine);
BENCHMARK(BM_Neutral)->Arg(0)->Arg(1);
BENCHMARK(BM_Units);
BENCHMARK(BM_OneCharLoop);
BENCHMARK(BM_BuildU2ToBytes);
BENCHMARK_MAIN();
