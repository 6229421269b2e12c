// Digest throughput: one whole digest (start, feed, finish) of a 16 KiB
// message per iteration, for every algorithm, and the two SHA-256 block paths.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "crypto/hablocks.h"
#include "crypto/hadigest.h"

namespace {

std::vector<uint8_t> Data(size_t n)
{
    std::mt19937 gen(1);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

void BM_Digest(benchmark::State& state, uint32_t id)
{
    const auto data = Data(static_cast<size_t>(state.range(0)));
    haState_t st;
    for (auto _ : state) {
        haDigest(&st, data.data(), data.size(), id, 0, 0);
        benchmark::DoNotOptimize(st.digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_Sha256Blocks(benchmark::State& state, void (*blocks)(uint32_t*, const uint8_t*, size_t))
{
    if (blocks == haSha256BlocksShaNi && !haSha256HasShaInstructions()) {
        state.SkipWithError("no SHA instructions");
        return;
    }
    const auto data = Data(16384);
    uint32_t h[8] = {};
    for (auto _ : state) {
        blocks(h, data.data(), data.size() / 64);
        benchmark::DoNotOptimize(h);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 16384);
}

BENCHMARK_CAPTURE(BM_Digest, sha256, HA_SHA256)->Arg(16384)->Arg(64);
BENCHMARK_CAPTURE(BM_Digest, sha1, HA_SHA1)->Arg(16384);
BENCHMARK_CAPTURE(BM_Digest, sha512, HA_SHA512)->Arg(16384);
BENCHMARK_CAPTURE(BM_Digest, md5, HA_MD5)->Arg(16384);
BENCHMARK_CAPTURE(BM_Digest, crc32, HA_CRC32)->Arg(16384);
BENCHMARK_CAPTURE(BM_Sha256Blocks, portable, haSha256BlocksPortable);
BENCHMARK_CAPTURE(BM_Sha256Blocks, sha_instructions, haSha256BlocksShaNi);

}  // namespace

BENCHMARK_MAIN();
