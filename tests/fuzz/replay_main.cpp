// Runs a libFuzzer entry point over every file of the directories (or files)
// named on the command line, so that saved crash inputs stay regression tests
// in builds without libFuzzer.  A missing directory is not an error: a target
// may have no saved inputs yet.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static void runFile(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    int count = 0;
    // The empty input is always worth one run.
    LLVMFuzzerTestOneInput(nullptr, 0);
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::recursive_directory_iterator(p))
                if (e.is_regular_file()) {
                    runFile(e.path());
                    ++count;
                }
        } else if (fs::is_regular_file(p, ec)) {
            runFile(p);
            ++count;
        }
    }
    std::printf("replayed %d saved inputs\n", count);
    return 0;
}
