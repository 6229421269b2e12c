// fuzz-libs: kov_app
// Feeds arbitrary bytes to the list-file readers (-A, -X, -T), the file-list
// preparation, the -f archive-name splitter and the wildcard matcher.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "app/except.h"
#include "app/options.h"
#include "app/wildcard.h"

namespace {

std::string ScratchFile()
{
    return "/tmp/kov_fuzz_listfiles_" + std::to_string(getpid()) + ".lst";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes = size != 0 ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
    const std::string path = ScratchFile();
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

    COptions::DestroyInstance();
    COptions& o = COptions::Instance();
    o.includeFile = path.c_str();
    o.excludeFile = path.c_str();
    o.renameFile = path.c_str();
    try {
        o.ReadListFiles();
        for (const std::string& name : o.fileList) {
            if (name.empty() || name == "#")
                __builtin_trap();  // blank and comment lines carry no name
        }
        o.ReadRenameFile();
        o.AddRenamedFiles();
        o.PrepareFileList();
    } catch (const CExcept&) {
    }

    // The archive-name value, without wildcard expansion over the disk: a
    // value with "*" or "?" would list the working directory.
    std::string value = bytes.substr(0, bytes.find('\0'));
    for (char& c : value) {
        if (c == '*' || c == '?')
            c = '_';
    }
    COptions::DestroyInstance();
    COptions& a = COptions::Instance();
    a.archiveName = value.c_str();
    a.GetArchiveList();
    COptions::DestroyInstance();

    // Name and pattern split at the first NUL.
    const size_t split = bytes.find('\0');
    if (split != std::string::npos) {
        const std::string name = bytes.substr(0, split);
        const std::string pattern = bytes.substr(split + 1);
        MatchWildcard(name.c_str(), pattern.c_str());
    }

    std::remove(path.c_str());
    return 0;
}
