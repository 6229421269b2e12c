// fuzz-libs: kov_flat
// Feeds arbitrary bytes to the profile-parameter library as an instance
// profile and a default profile (split at the first NUL byte), then reads
// values back: line parsing, substitution, composition and the checks.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "flat/kovparam.h"
#include "flat/kovparam_seam.h"
#include "krn/runt/oscheck_seam.h"

namespace {

std::string g_root;

void WriteFile(const std::string& path, const char* data, size_t size)
{
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
}

void SetUpOnce()
{
    if (!g_root.empty())
        return;
    // The library's messages go to the stderr stream; the sanitizers write to
    // the descriptor itself and stay visible.
    if (FILE* null = std::fopen("/dev/null", "w"))
        stderr = null;
    g_root = "/tmp/kov_fuzz_kovparam_" + std::to_string(getpid());
    for (const char* dir :
         {"", "/tmp", "/usr", "/usr/kov", "/usr/kov/FZ", "/usr/kov/FZ/SYS", "/usr/kov/FZ/SYS/profile"})
        mkdir((g_root + dir).c_str(), 0700);
    LINSeamSetMemorySizes(16384, 32768, 16384);
    std::atexit([] { std::filesystem::remove_all(g_root); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetUpOnce();
    const char* bytes = reinterpret_cast<const char*>(data);
    const char* nul = size ? static_cast<const char*>(std::memchr(bytes, 0, size)) : nullptr;
    size_t first = nul ? static_cast<size_t>(nul - bytes) : size;
    std::string inst = g_root + "/inst.pfl";
    WriteFile(inst, bytes, first);
    WriteFile(g_root + "/usr/kov/FZ/SYS/profile/DEFAULT.PFL", nul ? nul + 1 : "", nul ? size - first - 1 : 0);

    kovparam_seam_reset();
    kovparam_seam_set_root(g_root.c_str());
    std::string pf = "pf=" + inst;
    char prog[] = "fuzz";
    char name[] = "name=FZ";
    char* argv[] = {prog, pf.data(), name, nullptr};
    kovargv(3, argv);

    int64_t n;
    for (int i = 0; i < kovparam_count(); ++i) {
        const KovParamRecord* rec = kovparam_get_record_at(i);
        if (!rec)
            break;
        kovparam_get_number(rec->name, &n);
        kovparam_get_bool(rec->name);
        const char* v = rec->effective;
        char path[1024];
        if (v)
            kovparam_compose_path(v, "x", nullptr, path, sizeof path);
    }
    const char *a, *b, *c;
    kovparam_iter_start("D");
    while (kovparam_iter_next(&a, &b, &c) != 0) {
    }
    kovparam_seam_reset();
    return 0;
}
