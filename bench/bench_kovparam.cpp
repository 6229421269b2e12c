// Profile parameters: a lookup by name, and the whole initialisation from
// the compiled-in defaults (with the machine checks it runs).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include "flat/kovparam.h"
#include "flat/kovparam_seam.h"

namespace {

// The library's messages go to standard error; keep them out of the report.
struct QuietStderr {
    QuietStderr()
        : saved(dup(2))
    {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        close(null);
    }
    ~QuietStderr()
    {
        dup2(saved, 2);
        close(saved);
    }
    int saved;
};

void BM_GetByName(benchmark::State& state)
{
    QuietStderr quiet;
    kovparam_seam_reset();
    kovparam_get("KOVSYSTEM");
    const char* names[] = {"install/codepage/appl_server", "zcsa/system_language", "rsts/ccc/cachesize",
                           "ssl/GOST_plugin_filename", "no/such/parameter"};
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kovparam_get(names[i]));
        i = (i + 1) % 5;
    }
    kovparam_seam_reset();
}
BENCHMARK(BM_GetByName);

void BM_Initialise(benchmark::State& state)
{
    QuietStderr quiet;
    for (auto _ : state) {
        kovparam_seam_reset();
        benchmark::DoNotOptimize(kovparam_get("KOVSYSTEM"));
    }
    kovparam_seam_reset();
}
BENCHMARK(BM_Initialise);

}  // namespace

BENCHMARK_MAIN();
