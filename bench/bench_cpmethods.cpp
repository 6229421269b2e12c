// Buffers of 64 KiB through the conversion engine by the methods without
// character tables (UTF-8 <-> UTF-16, the byte swap) and the multi-byte
// methods (Shift-JIS -> EUC-JP by arithmetic, ISO-2022-JP -> Shift-JIS with
// its shift state, EUC-JP -> Latin-1 with characters tunnelled or
// substituted), each beside the table walk of the same pair where there is
// one.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpconvert.h"

namespace {

// 64 KiB of text: Japanese characters (Shift-JIS pairs 0x889F...) with an
// ASCII letter after every fourth one, or plain ASCII.
std::vector<uint8_t> Sjis()
{
    std::vector<uint8_t> t;
    for (int i = 0; t.size() < 65536; ++i) {
        t.push_back(uint8_t(0x88 + i % 8));
        t.push_back(uint8_t(0x9F + i % 32));
        if (i % 4 == 0)
            t.push_back(uint8_t('a' + i % 26));
    }
    return t;
}

// Converts text once from one code page to another (method forced unless 0).
std::vector<uint8_t> Through(const char* in, const char* out, const std::vector<uint8_t>& text, int32_t method = 0)
{
    rscpCObj_t o;
    rscpCInit(&o, in, out, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER);
    rscpCSetCtrlCodeCv(&o, RSCPCTRL_TRY);
    rscpCActivate(&o);
    if (method != 0)
        o.method = method;
    std::vector<uint8_t> result(4 * text.size() + 16);
    const uint8_t* s = text.data();
    uint8_t* d = result.data();
    rscpCConvert(&o, &d, result.data() + result.size(), &s, text.data() + text.size());
    result.resize(size_t(d - result.data()));
    return result;
}

const std::vector<uint8_t>& Text(const char* cp)
{
    static std::vector<uint8_t> texts[4];
    static const char* names[4] = {"8000", "4110", "8100", "8200"};
    for (int i = 0; i < 4; ++i)
        if (std::string(cp) == names[i]) {
            if (texts[i].empty())
                texts[i] = i == 0 ? Sjis() : Through("8000", cp, Sjis());
            return texts[i];
        }
    static std::vector<uint8_t> ascii(65536, 'a');
    return ascii;
}

void Engine(benchmark::State& st, const char* in, const char* out, const std::vector<uint8_t>& text, int32_t method)
{
    rscpi_init(RSCP_ALL_ERRORS);
    rscpCObj_t o;
    rscpCInit(&o, in, out, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER);
    rscpCSetCtrlCodeCv(&o, RSCPCTRL_TRY);
    if (rscpCActivate(&o) != 0)
        st.SkipWithError("activation failed");
    if (method != 0)
        o.method = method;
    std::vector<uint8_t> dst(4 * text.size() + 16);
    for (auto _ : st) {
        const uint8_t* s = text.data();
        uint8_t* d = dst.data();
        if (rscpCConvert(&o, &d, dst.data() + dst.size(), &s, text.data() + text.size()) != 0)
            st.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(d);
    }
    st.SetBytesProcessed(int64_t(st.iterations() * text.size()));
    st.counters["method"] = o.method;
}

void BM_Utf8ToUtf16(benchmark::State& st)
{
    Engine(st, "4110", "4103", Text("4110"), int32_t(st.range(0)));
}
BENCHMARK(BM_Utf8ToUtf16)->Arg(0)->Arg(4);
void BM_Utf16ToUtf8(benchmark::State& st)
{
    static const std::vector<uint8_t> text = Through("4110", "4103", Text("4110"));
    Engine(st, "4103", "4110", text, int32_t(st.range(0)));
}
BENCHMARK(BM_Utf16ToUtf8)->Arg(0)->Arg(4);
void BM_Utf16Swap(benchmark::State& st)
{
    static const std::vector<uint8_t> text = Through("4110", "4103", Text("4110"));
    Engine(st, "4103", "4102", text, int32_t(st.range(0)));
}
BENCHMARK(BM_Utf16Swap)->Arg(0)->Arg(4);
void BM_Utf16ToLatin1(benchmark::State& st)
{
    static const std::vector<uint8_t> text = Through("4110", "4102", Text("ascii"));
    Engine(st, "4102", "1100", text, int32_t(st.range(0)));
}
BENCHMARK(BM_Utf16ToLatin1)->Arg(4)->Arg(33);
void BM_SjisToEuc(benchmark::State& st)
{
    Engine(st, "8000", "8100", Text("8000"), int32_t(st.range(0)));
}
BENCHMARK(BM_SjisToEuc)->Arg(0)->Arg(4);
void BM_JisToSjis(benchmark::State& st)
{
    Engine(st, "8200", "8000", Text("8200"), 0);
}
BENCHMARK(BM_JisToSjis);
void BM_EucToLatin1(benchmark::State& st)
{
    Engine(st, "8100", "1100", Text("8100"), 0);
}
BENCHMARK(BM_EucToLatin1);

}  // namespace

BENCHMARK_MAIN();
