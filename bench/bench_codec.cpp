// Codec throughput against zlib and libdeflate on the same data: a tar of the
// C header tree (or the file named by KOV_BENCH_CORPUS) cut into 64 KiB
// chunks, each its own stream as the archive stores them; and the coder on
// all-zero and on random chunks, the extremes a file system hands it.
// Prints the ratios at the end.
#include "cslib/crc32.h"
#include "cslib/cslib.h"
#include "cslib/huff.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kChunk = 65536;
constexpr int32_t kOutSize = 65542 + 65536;  // room for incompressible chunks too

Bytes LoadCorpus()
{
    if (const char* path = std::getenv("KOV_BENCH_CORPUS")) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    char tmpl[] = "/tmp/kov_bench_corpus_XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0)
        return {};
    close(fd);
    const std::string cmd = std::string("tar -cf ") + tmpl + " -C / usr/include 2>/dev/null";
    if (std::system(cmd.c_str()) != 0)
        std::fprintf(stderr, "warning: tar reported an error\n");
    std::ifstream f(tmpl, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(tmpl);
    return data;
}

struct Corpus {
    Bytes data;
    Bytes zeros;                 // 32 MiB of zero bytes
    Bytes random;                // 8 MiB of random bytes
    std::vector<Bytes> ours;     // our streams, deterministic preamble
    std::vector<Bytes> oursRaw;  // the same with header and preamble removed (zlib can read them)
    size_t oursSize = 0, zlibSize = 0;
};

struct Area {
    void* p;
    explicit Area(size_t n)
        : p(std::malloc(n))
    {
    }
    ~Area() { std::free(p); }
};

size_t OurCompressChunk(void* area, const uint8_t* in, size_t n, uint8_t* out, Bytes* keep)
{
    int32_t rd = 0, wr = 0;
    int rc = CsHuffCompress(area, true, 2, false, static_cast<int32_t>(n), in, static_cast<int32_t>(n), out, kOutSize,
                            &rd, &wr, true);
    size_t total = static_cast<size_t>(wr);
    if (keep)
        keep->assign(out, out + wr);
    while (rc == CS_END_OUTBUFFER || rc == CS_END_INBUFFER) {
        const int32_t used = rd;
        rc = CsHuffCompress(area, false, 2, false, static_cast<int32_t>(n), in + used, static_cast<int32_t>(n) - used,
                            out, kOutSize, &rd, &wr, true);
        total += static_cast<size_t>(wr);
        if (keep)
            keep->insert(keep->end(), out, out + wr);
    }
    if (rc != CS_END_OF_STREAM)
        std::abort();
    return total;
}

size_t ZlibCompressChunk(z_stream* zs, const uint8_t* in, size_t n, uint8_t* out)
{
    deflateReset(zs);
    zs->next_in = const_cast<uint8_t*>(in);
    zs->avail_in = static_cast<uInt>(n);
    zs->next_out = out;
    zs->avail_out = kOutSize;
    if (deflate(zs, Z_FINISH) != Z_STREAM_END)
        std::abort();
    return static_cast<size_t>(kOutSize) - zs->avail_out;
}

const Corpus& GetCorpus()
{
    static Corpus* c = [] {
        auto* k = new Corpus;
        k->data = LoadCorpus();
        Area area(CsHuffComprStateSize());
        Bytes out(kOutSize);
        z_stream zs{};
        deflateInit2(&zs, 4, Z_DEFLATED, -14, 8, Z_DEFAULT_STRATEGY);
        for (size_t pos = 0; pos < k->data.size(); pos += kChunk) {
            const size_t n = std::min(kChunk, k->data.size() - pos);
            Bytes s;
            k->oursSize += OurCompressChunk(area.p, k->data.data() + pos, n, out.data(), &s);
            k->zlibSize += ZlibCompressChunk(&zs, k->data.data() + pos, n, out.data());
            // Drop the header and the 2-bit preamble (count 0).
            Bytes raw(s.size() - 8);
            for (size_t i = 8; i < s.size(); ++i)
                raw[i - 8] = static_cast<uint8_t>((s[i] >> 2) | (i + 1 < s.size() ? s[i + 1] << 6 : 0));
            k->ours.push_back(std::move(s));
            k->oursRaw.push_back(std::move(raw));
        }
        deflateEnd(&zs);
        k->zeros.assign(32u << 20, 0);
        k->random.resize(8u << 20);
        std::mt19937_64 gen(1);
        for (size_t i = 0; i < k->random.size(); i += 8) {
            const uint64_t v = gen();
            std::memcpy(k->random.data() + i, &v, 8);
        }
        return k;
    }();
    return *c;
}

// Level 2 over one of the data sets, chunk by chunk.
void OurCompress(benchmark::State& state, const Bytes& data)
{
    Area area(CsHuffComprStateSize());
    Bytes out(kOutSize);
    for (auto _ : state) {
        for (size_t pos = 0; pos < data.size(); pos += kChunk)
            benchmark::DoNotOptimize(
                OurCompressChunk(area.p, data.data() + pos, std::min(kChunk, data.size() - pos), out.data(), nullptr));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void BM_OurCompressLevel2(benchmark::State& state)
{
    OurCompress(state, GetCorpus().data);
}
void BM_OurCompressZeros(benchmark::State& state)
{
    OurCompress(state, GetCorpus().zeros);
}
void BM_OurCompressRandom(benchmark::State& state)
{
    OurCompress(state, GetCorpus().random);
}

void BM_LibdeflateCompressLevel2(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    Bytes out(kOutSize);
    libdeflate_compressor* lc = libdeflate_alloc_compressor(2);
    for (auto _ : state) {
        for (size_t pos = 0; pos < c.data.size(); pos += kChunk)
            benchmark::DoNotOptimize(libdeflate_deflate_compress(
                lc, c.data.data() + pos, std::min(kChunk, c.data.size() - pos), out.data(), kOutSize));
    }
    libdeflate_free_compressor(lc);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void BM_ZlibCompressLevel4(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    Bytes out(kOutSize);
    z_stream zs{};
    deflateInit2(&zs, 4, Z_DEFLATED, -14, 8, Z_DEFAULT_STRATEGY);
    for (auto _ : state) {
        for (size_t pos = 0; pos < c.data.size(); pos += kChunk)
            benchmark::DoNotOptimize(
                ZlibCompressChunk(&zs, c.data.data() + pos, std::min(kChunk, c.data.size() - pos), out.data()));
    }
    deflateEnd(&zs);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void BM_OurDecompress(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    Area area(CsHuffDecomprStateSize());
    Bytes out(kOutSize);
    for (auto _ : state) {
        for (const Bytes& s : c.ours) {
            int32_t rd, wr;
            if (CsHuffDecompress(area.p, true, s.data(), static_cast<int32_t>(s.size()), out.data(), kOutSize, &rd,
                                 &wr) != CS_END_OF_STREAM)
                std::abort();
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void BM_ZlibInflate(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    Bytes out(kOutSize);
    z_stream zs{};
    inflateInit2(&zs, -14);
    for (auto _ : state) {
        for (const Bytes& s : c.oursRaw) {
            inflateReset(&zs);
            zs.next_in = const_cast<uint8_t*>(s.data());
            zs.avail_in = static_cast<uInt>(s.size());
            zs.next_out = out.data();
            zs.avail_out = kOutSize;
            if (inflate(&zs, Z_FINISH) != Z_STREAM_END)
                std::abort();
            benchmark::DoNotOptimize(out.data());
        }
    }
    inflateEnd(&zs);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void BM_LibdeflateDecompress(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    Bytes out(kOutSize);
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    for (auto _ : state) {
        for (const Bytes& s : c.oursRaw) {
            size_t got = 0;
            if (libdeflate_deflate_decompress(ld, s.data(), s.size(), out.data(), kOutSize, &got) != LIBDEFLATE_SUCCESS)
                std::abort();
            benchmark::DoNotOptimize(out.data());
        }
    }
    libdeflate_free_decompressor(ld);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

void BM_Crc32(benchmark::State& state)
{
    const Corpus& c = GetCorpus();
    uint32_t reg = 0;
    for (auto _ : state) {
        for (size_t pos = 0; pos < c.data.size(); pos += kChunk)
            reg = CsCrc32Update(reg, c.data.data() + pos, std::min(kChunk, c.data.size() - pos));
        benchmark::DoNotOptimize(reg);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.data.size()));
}

BENCHMARK(BM_OurCompressLevel2)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibCompressLevel4)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibdeflateCompressLevel2)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_OurCompressZeros)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OurCompressRandom)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_OurDecompress)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_LibdeflateDecompress)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Crc32)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output plus a record of each run's throughput for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end())
                rate[r.benchmark_name()] = it->second.value;
        }
    }
    std::map<std::string, double> rate;
};

double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// How many times faster side b runs than side a over chunks 0..count-1: the
// two take turns every 16 chunks (1 MiB), each turn timed by the thread's
// CPU clock, and the result is the median of the per-turn ratios over three
// passes.  On a shared machine separate runs drift apart by several per
// cent; turns this short see the same drift on both sides.
template <typename A, typename B>
double PairedRatio(size_t count, A a, B b)
{
    constexpr size_t kTurn = 16;
    std::vector<double> ratios;
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t g = 0; g + kTurn <= count; g += kTurn) {
            double t[2];
            for (int side = 0; side < 2; ++side) {
                const bool first = ((g / kTurn + static_cast<size_t>(pass)) & 1) != 0;
                const bool isB = side == 0 ? first : !first;
                const double t0 = ThreadSeconds();
                for (size_t i = g; i < g + kTurn; ++i)
                    isB ? b(i) : a(i);
                t[isB] = ThreadSeconds() - t0;
            }
            ratios.push_back(t[0] / t[1]);
        }
    }
    if (ratios.empty())
        return 0;
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

void PrintPairedRatios(const Corpus& c)
{
    Area coder(CsHuffComprStateSize()), decoder(CsHuffDecomprStateSize());
    Bytes out(kOutSize);
    z_stream zs{};
    deflateInit2(&zs, 4, Z_DEFLATED, -14, 8, Z_DEFAULT_STRATEGY);
    z_stream zi{};
    inflateInit2(&zi, -14);
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    auto chunkLen = [&](size_t i) { return std::min(kChunk, c.data.size() - i * kChunk); };
    const double coder4 = PairedRatio(
        c.ours.size(), [&](size_t i) { ZlibCompressChunk(&zs, c.data.data() + i * kChunk, chunkLen(i), out.data()); },
        [&](size_t i) { OurCompressChunk(coder.p, c.data.data() + i * kChunk, chunkLen(i), out.data(), nullptr); });
    auto ourDecode = [&](size_t i) {
        int32_t rd, wr;
        const Bytes& s = c.ours[i];
        if (CsHuffDecompress(decoder.p, true, s.data(), static_cast<int32_t>(s.size()), out.data(), kOutSize, &rd,
                             &wr) != CS_END_OF_STREAM)
            std::abort();
    };
    const double inflateRatio = PairedRatio(
        c.ours.size(),
        [&](size_t i) {
            inflateReset(&zi);
            zi.next_in = const_cast<uint8_t*>(c.oursRaw[i].data());
            zi.avail_in = static_cast<uInt>(c.oursRaw[i].size());
            zi.next_out = out.data();
            zi.avail_out = kOutSize;
            if (inflate(&zi, Z_FINISH) != Z_STREAM_END)
                std::abort();
        },
        ourDecode);
    const double libdeflateRatio = PairedRatio(
        c.ours.size(),
        [&](size_t i) {
            size_t got = 0;
            if (libdeflate_deflate_decompress(ld, c.oursRaw[i].data(), c.oursRaw[i].size(), out.data(), kOutSize,
                                              &got) != LIBDEFLATE_SUCCESS)
                std::abort();
        },
        ourDecode);
    libdeflate_free_decompressor(ld);
    inflateEnd(&zi);
    deflateEnd(&zs);
    std::printf("ratio coder level 2 / zlib level 4, paired: %.2f (goal >= 1.5)\n", coder4);
    std::printf("ratio decoder / zlib inflate, paired:       %.2f (goal >= 2.0)\n", inflateRatio);
    std::printf("ratio decoder / libdeflate, paired:         %.2f (goal >= 1.0)\n", libdeflateRatio);
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const Corpus& c = GetCorpus();
    if (c.data.empty()) {
        std::fprintf(stderr, "no corpus\n");
        return 1;
    }
    std::printf("corpus %zu bytes in %zu chunks; level-2 output %zu bytes, zlib level-4 output %zu bytes (%+.2f%%)\n",
                c.data.size(), c.ours.size(), c.oursSize, c.zlibSize,
                100.0 * (static_cast<double>(c.oursSize) / static_cast<double>(c.zlibSize) - 1.0));
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    auto get = [&](const char* prefix) {
        for (auto& [name, v] : rep.rate)
            if (name.rfind(prefix, 0) == 0)
                return v;
        return 0.0;
    };
    const double oc = get("BM_OurCompressLevel2"), zc = get("BM_ZlibCompressLevel4");
    const double lc = get("BM_LibdeflateCompressLevel2");
    const double od = get("BM_OurDecompress"), zd = get("BM_ZlibInflate"), crc = get("BM_Crc32");
    const double ld = get("BM_LibdeflateDecompress");
    const double oz = get("BM_OurCompressZeros"), orr = get("BM_OurCompressRandom");
    if (zc > 0 && zd > 0) {
        std::printf("ratio coder level 2 / zlib level 4:        %.2f (goal >= 1.5)\n", oc / zc);
        std::printf("ratio decoder / zlib inflate:              %.2f (goal >= 2.0)\n", od / zd);
    }
    if (lc > 0 && ld > 0) {
        std::printf("ratio coder level 2 / libdeflate level 2:  %.2f\n", oc / lc);
        std::printf("ratio decoder / libdeflate:                %.2f (goal >= 1.0)\n", od / ld);
    }
    if (oz > 0 && orr > 0)
        std::printf("coder on all-zero chunks %.0f MB/s, on random chunks %.0f MB/s\n", oz / 1e6, orr / 1e6);
    if (crc > 0)
        std::printf("CRC-32: %.2f GB/s (goal >= 2)\n", crc / 1e9);
    PrintPairedRatios(c);
    benchmark::Shutdown();
    return 0;
}
