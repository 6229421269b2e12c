// fuzz-libs: kov_oldformat
// Arbitrary bytes as an old-format archive: listed verbosely, then tested
// (decompressed and checked without writing anything).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "oldformat/oldformat.h"

namespace {

std::string ArchivePath()
{
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/fuzz_oldformat_" + std::to_string(getpid()) + ".zef";
}

void Run(const char* command, const std::string& path)
{
    std::string cmd(command), f("-f"), name(path), prog("zef");
    char* argv[] = {prog.data(), cmd.data(), f.data(), name.data(), nullptr};
    uint32_t number = 0;
    char* message = nullptr;
    OldFormatRunOne(4, argv, nullptr, nullptr, nullptr, &number, &message);
    std::free(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = ArchivePath();
    static bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
    (void)quiet;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (size)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    Run("-tv", path);
    Run("-d", path);
    std::remove(path.c_str());
    return 0;
}
