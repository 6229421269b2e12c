// Unicode encoding-form converters (UTF-8 <-> UTF-16, strict members) on
// ASCII and on Japanese text, and the Shift-JIS -> EUC-JP buffer transform.
#include <benchmark/benchmark.h>

#include <vector>

#include "krn/rscp/cpjis.h"
#include "krn/rscp/cputf.h"

namespace {

// 4,096 bytes of UTF-8: plain ASCII, or three-byte characters.
std::vector<uint8_t> Utf8Text(bool ascii)
{
    std::vector<uint8_t> t;
    while (t.size() + 3 <= 4096) {
        if (ascii)
            t.push_back(uint8_t('a' + t.size() % 26));
        else
            t.insert(t.end(), {0xE6, 0xBC, uint8_t(0xA2 + t.size() % 16)});
    }
    return t;
}

void BM_Utf8ToUtf16(benchmark::State& st)
{
    const auto in = Utf8Text(st.range(0) != 0);
    std::vector<uint8_t> out(in.size() * 2);
    for (auto _ : st) {
        const uint8_t* s = in.data();
        uint8_t* d = out.data();
        benchmark::DoNotOptimize(
            rscpu86r_utf8_to_utf16(&s, in.data() + in.size(), &d, out.data() + out.size(), nullptr, nullptr));
    }
    st.SetBytesProcessed(int64_t(st.iterations() * in.size()));
}

void BM_Utf16ToUtf8(benchmark::State& st)
{
    const auto text = Utf8Text(st.range(0) != 0);
    std::vector<uint8_t> in(text.size() * 2);
    const uint8_t* s = text.data();
    uint8_t* d = in.data();
    rscpu86r_utf8_to_utf16(&s, text.data() + text.size(), &d, in.data() + in.size(), nullptr, nullptr);
    in.resize(size_t(d - in.data()));
    std::vector<uint8_t> out(text.size());
    for (auto _ : st) {
        const uint8_t* ss = in.data();
        uint8_t* dd = out.data();
        benchmark::DoNotOptimize(rscpu86r_utf16_to_utf8(&ss, in.data() + in.size(), &dd, out.data() + out.size()));
    }
    st.SetBytesProcessed(int64_t(st.iterations() * text.size()));
}

void BM_SjisToEuc(benchmark::State& st)
{
    std::vector<uint8_t> in;
    for (int i = 0; in.size() < 4096; ++i)
        in.insert(in.end(), {uint8_t(0x88 + i % 8), uint8_t(0x9F + i % 32), uint8_t('a' + i % 26)});
    std::vector<uint8_t> out(in.size() * 2);
    for (auto _ : st) {
        int32_t outLen = int32_t(out.size()), inLen = int32_t(in.size());
        benchmark::DoNotOptimize(rscpSjisToEucBuf(out.data(), &outLen, in.data(), &inLen));
    }
    st.SetBytesProcessed(int64_t(st.iterations() * in.size()));
}

}  // namespace

BENCHMARK(BM_Utf8ToUtf16)->Arg(1)->Arg(0);
BENCHMARK(BM_Utf16ToUtf8)->Arg(1)->Arg(0);
BENCHMARK(BM_SjisToEuc);
BENCHMARK_MAIN();
