// 16-bit string scanning and UTF-8 conversion: strlenU16 and the bounded copy
// beside a unit-by-unit loop, and the converters in both directions, on
// texts of 16 and 4,096 units; one formatted line beside snprintf.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

#include "i18n/kovu16/u16_printf.h"
#include "i18n/kovu16/u16_str.h"
#include "i18n/kovu16/u16_utf8.h"

namespace {

std::vector<KOV_UTF16> text(size_t n, KOV_UTF16 unit)
{
    std::vector<KOV_UTF16> v(n, unit);
    v.push_back(0);
    return v;
}

size_t plain_len(const KOV_UTF16* s)
{
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

void BM_strlenU16(benchmark::State& st)
{
    const auto t = text(static_cast<size_t>(st.range(0)), 'a');
    for (auto _ : st)
        benchmark::DoNotOptimize(strlenU16(t.data()));
    st.SetBytesProcessed(st.iterations() * st.range(0) * 2);
}

void BM_unitLoop(benchmark::State& st)
{
    const auto t = text(static_cast<size_t>(st.range(0)), 'a');
    for (auto _ : st) {
        benchmark::DoNotOptimize(t.data());
        benchmark::DoNotOptimize(plain_len(t.data()));
    }
    st.SetBytesProcessed(st.iterations() * st.range(0) * 2);
}

void BM_strcpy_sU16(benchmark::State& st)
{
    const auto t = text(static_cast<size_t>(st.range(0)), 'a');
    std::vector<KOV_UTF16> d(t.size());
    for (auto _ : st)
        benchmark::DoNotOptimize(strcpy_sU16(d.data(), d.size(), t.data()));
    st.SetBytesProcessed(st.iterations() * st.range(0) * 2);
}

void BM_U16ToUtf8(benchmark::State& st)
{
    const auto t = text(static_cast<size_t>(st.range(0)), static_cast<KOV_UTF16>(st.range(1)));
    std::vector<char> d(3 * t.size());
    for (auto _ : st)
        benchmark::DoNotOptimize(U16ToUtf8Str(d.data(), t.data(), d.size()));
    st.SetBytesProcessed(st.iterations() * st.range(0) * 2);
}

void BM_Utf8ToU16(benchmark::State& st)
{
    const auto t = text(static_cast<size_t>(st.range(0)), static_cast<KOV_UTF16>(st.range(1)));
    std::vector<char> u8(3 * t.size());
    U16ToUtf8Str(u8.data(), t.data(), u8.size());
    std::vector<KOV_UTF16> d(t.size());
    for (auto _ : st)
        benchmark::DoNotOptimize(Utf8ToU16Str(d.data(), u8.data(), d.size()));
    st.SetBytesProcessed(st.iterations() * st.range(0) * 2);
}

// A line of a typical trace: integers, a string and a float, beside snprintf.
void BM_snprintfCountU16(benchmark::State& st)
{
    const KOV_UTF16 fmt[] = {'%', 'd', ' ', '%', '-', '8', 's', ' ', '%', '#', 'x', ' ', '%', '5', '.', '2', 'f', 0};
    const KOV_UTF16 name[] = {'e', 'n', 't', 'r', 'y', 0};
    KOV_UTF16 out[64];
    for (auto _ : st)
        benchmark::DoNotOptimize(snprintfCountU16(out, 64, fmt, 12345, name, 255u, 3.14159));
}

void BM_snprintf8(benchmark::State& st)
{
    char out[64];
    for (auto _ : st)
        benchmark::DoNotOptimize(snprintf(out, 64, "%d %-8s %#x %5.2f", 12345, "entry", 255u, 3.14159));
}

BENCHMARK(BM_snprintfCountU16);
BENCHMARK(BM_snprintf8);

BENCHMARK(BM_strlenU16)->Arg(16)->Arg(4096);
BENCHMARK(BM_unitLoop)->Arg(16)->Arg(4096);
BENCHMARK(BM_strcpy_sU16)->Arg(16)->Arg(4096);
BENCHMARK(BM_U16ToUtf8)->Args({4096, 'a'})->Args({4096, 0x20AC});
BENCHMARK(BM_Utf8ToU16)->Args({4096, 'a'})->Args({4096, 0x20AC});

}  // namespace

BENCHMARK_MAIN();
