// Per-file digests of a manifest: packing N empty files (each adds an entry
// line), and checking N files against a parsed manifest (each is looked up
// by name).  Items per second must not fall as N grows; the look-up by
// partial name, which walks the entry lines, is shown beside it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "krn/snt/manifest.h"

namespace {

constexpr char kEmptySha256[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

std::vector<std::string> Names(size_t n)
{
    std::vector<std::string> names;
    char name[64];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "src/dir%03zu/file-%07zu.dat", i % 997, i);
        names.emplace_back(name);
    }
    return names;
}

std::string Text(const std::vector<std::string>& names)
{
    std::string text =
        "KOV-MANIFEST\nVersion: 1.0\nHash: SHA256\nSignature: PKCS7-TSTAMP\nBody: Digest | Name-Length | Name\n\n";
    char length[8];
    for (const std::string& name : names) {
        std::snprintf(length, sizeof length, " %04zx ", name.size());
        text += kEmptySha256 + std::string(length) + name + "\n";
    }
    return text + "\n";
}

struct Context {
    std::unique_ptr<ManifestContext> c{new ManifestContext()};
    ~Context() { ManifestClearContext(c.get()); }
};

int CheckOne(ManifestContext* ctx, const std::string& name, int partial)
{
    ManifestFile f{};
    int rc = ManifestOpenFile(ctx, &f, name.data(), name.size(), partial);
    if (rc == 0)
        ManifestUpdateFile(&f, nullptr, 0);
    if (rc == 0)
        rc = ManifestCloseFile(&f);
    return rc;
}

void BM_Pack(benchmark::State& state)
{
    const auto names = Names(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        Context ctx;
        ManifestSetFileHash(ctx.c.get(), nullptr, 0, "SHA256");
        ctx.c->signatureFormat = strdup("PKCS7-TSTAMP");
        ctx.c->signatureHash = strdup("SHA256");
        ctx.c->contentStart = ctx.c->builtinText;
        for (const std::string& name : names)
            if (CheckOne(ctx.c.get(), name, 0) != 0)
                state.SkipWithError("pack failed");
        benchmark::DoNotOptimize(ctx.c->contentLength);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void Check(benchmark::State& state, int partial)
{
    const auto names = Names(static_cast<size_t>(state.range(0)));
    std::string text = Text(names);
    for (auto _ : state) {
        Context ctx;
        ctx.c->contentStart = text.data();
        ctx.c->contentLength = text.size();
        uint32_t parserState = 0;
        ManifestParse(ctx.c.get(), &parserState, 0);
        for (size_t i = names.size(); i-- > 0;)
            if (CheckOne(ctx.c.get(), names[i], partial) != 0)
                state.SkipWithError("check failed");
        ctx.c->contentStart = nullptr;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_CheckByName(benchmark::State& state)
{
    Check(state, 0);
}
void BM_CheckByPartialName(benchmark::State& state)
{
    Check(state, 1);
}

}  // namespace

BENCHMARK(BM_Pack)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckByName)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckByPartialName)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
