// fuzz-libs: kov_app
// Opens arbitrary bytes as an archive, lists every entry and tests its data
// (command d: nothing is written).  Every failure must be an exception of
// the application, never a crash, a hang or an overrun.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/options.h"

namespace {

std::string& ScratchPath()
{
    static std::string path;
    return path;
}

void RemoveScratchFile()
{
    unlink(ScratchPath().c_str());
}

std::string ScratchFile()
{
    std::string& path = ScratchPath();
    if (path.empty()) {
        char tmpl[] = "/tmp/kov_fuzz_arc_XXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0)
            close(fd);
        path = tmpl;
        std::atexit(RemoveScratchFile);
    }
    return path;
}

// Builds every line (so the listing code runs) and keeps none of them: a
// collecting log manager would grow with every input of a long run.
class CDropLogMan : public CLogMan {
public:
    void Write(const std::string&) override { }
    void Write(const CUserInfo& info) override { (void)info.GetText(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool init = [] {
        CApplication::Instance().SetLogMan(new CDropLogMan);
        COptions::Instance().commandCode = KOV_CMD_TEST;
        return true;
    }();
    (void)init;
    const std::string path = ScratchFile();
    FILE* f = fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    if (size)
        fwrite(data, 1, size, f);
    fclose(f);

    // The first byte chooses the name options, so their paths are fuzzed too.
    COptions& opt = COptions::Instance();
    opt.lowerCase = size > 0 && (data[0] & 1);
    opt.flat = size > 0 && (data[0] & 2);
    try {
        CArchiveFile archive(path, KOV_OPEN_READ);
        int count = 0;
        for (CDirEntry* e = archive.FirstEntry(); e && count < 10000; e = archive.NextEntry()) {
            e->PrintListing();
            e->ExtractOrTest(archive, false);
            archive.ReleaseEntry(e);
            ++count;
        }
    } catch (const CExcept&) {
    }
    return 0;
}
