// Entry names through the cached converters, as the archiver converts them:
// 100,000 names of a source tree (paths of 20 to 70 bytes, one in ten with
// Latin-1 letters) from UTF-8 into the local code page in place in a name
// buffer of 4,352 bytes, and from the local code page into UTF-8.  The
// counter "allocs" is the number of malloc calls per pass (the converters
// set themselves up in the first pass, which is not measured).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/cpcache.h"
#include "krn/rscp/cputf8local.h"

extern "C" void* __libc_malloc(size_t size);

namespace {

uint64_t g_mallocs = 0;

}  // namespace

// Every malloc of the process is counted.
extern "C" void* malloc(size_t size)
{
    ++g_mallocs;
    return __libc_malloc(size);
}

namespace {

constexpr int kNames = 100000;

std::vector<std::string> Names(bool utf8)
{
    const char* dirs[] = {"usr/include/", "linux/", "netfilter/", "sys/", "bits/", "c++/12/", "x86_64-linux-gnu/"};
    const char* stems[] = {"types",         "socket",  "xt_CONNMARK",          "stdio",
                           "unordered_map", "caf\xE9", "na\xEFve_r\xE9sum\xE9"};
    std::vector<std::string> out;
    uint32_t seed = 12345;
    for (int i = 0; i < kNames; ++i) {
        seed = seed * 1103515245 + 12345;
        std::string name = dirs[seed >> 8 & 3];
        name += dirs[(seed >> 12) % 7];
        const int stem = (seed >> 16) % 10 == 0 ? 5 + (seed >> 20) % 2 : (seed >> 20) % 5;
        name += stems[stem];
        name += '_';
        name += std::to_string(i);
        name += ".h";
        if (utf8) {
            std::string u;
            for (unsigned char c : name) {
                if (c < 0x80) {
                    u += char(c);
                } else {
                    u += char(0xC0 | c >> 6);
                    u += char(0x80 | (c & 0x3F));
                }
            }
            name = u;
        }
        out.push_back(name);
    }
    return out;
}

// Runs one pass to set the converters up, then measures passes; convert
// converts one name and returns its result code.
template <typename Convert>
void Passes(benchmark::State& state, bool utf8, Convert convert)
{
    rscpi_init(RSCP_ALL_ERRORS);
    const std::vector<std::string> names = Names(utf8);
    auto pass = [&] {
        uint32_t failures = 0;
        for (const std::string& name : names)
            failures += convert(name) != 0;
        return failures;
    };
    if (pass() != 0)
        state.SkipWithError("conversion failed");
    const uint64_t before = g_mallocs;
    for (auto _ : state)
        benchmark::DoNotOptimize(pass());
    state.counters["allocs"] = double(g_mallocs - before) / double(state.iterations());
    state.SetItemsProcessed(int64_t(state.iterations()) * kNames);
}

void BM_100kNamesFromUtf8InPlace(benchmark::State& state)
{
    static char buffer[4352];
    Passes(state, true, [](const std::string& name) {
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        uint32_t length = 0;
        return Utf8nToUcnCPInPlace(buffer, sizeof buffer, &length, buffer);
    });
}
BENCHMARK(BM_100kNamesFromUtf8InPlace)->Unit(benchmark::kMillisecond);

void BM_100kNamesToUtf8(benchmark::State& state)
{
    static char buffer[6 * 4352 + 1];
    Passes(state, false, [](const std::string& name) {
        uint32_t length = 0;
        return UcnToUtf8nCPStr(buffer, int32_t(6 * name.size() + 1), &length, name.c_str());
    });
}
BENCHMARK(BM_100kNamesToUtf8)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
