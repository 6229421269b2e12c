// Consistency checks of the parsed command line, run once before any command:
// first what the chosen command needs, then which options go with it.
#include <cerrno>

#include "app/except.h"
#include "app/options.h"

namespace {

[[noreturn]] void Fail(const char* message, uint32_t code, bool appendSystemError)
{
    throw CExcept(message, code, appendSystemError);
}

}  // namespace

void COptions::Check()
{
    COptions& o = COptions::Instance();
    const int32_t k = o.commandCode;

    switch (k) {
    case KOV_CMD_CREATE:
        if (o.fileList.empty() && o.includeFile == nullptr && o.renameFile == nullptr)
            Fail("KOVZEF: no files given for archiving", 29, true);
        if (o.renameFile != nullptr && o.includeFile == nullptr)
            o.AddRenamedFiles();
        break;
    case KOV_CMD_EXTRACT:
        if (o.GetArchiveList().empty())
            Fail("KOVZEF: no archives specified for extracting", 29, true);
        break;
    case KOV_CMD_SIGN:
        if (o.GetArchiveList().empty())
            Fail("KOVZEF: no archives specified for extracting", 29, true);
        if (!o.fileList.empty() || o.includeFile != nullptr)
            Fail("KOVZEF: additionally files are not allowed for signing an archive", 20, false);
        break;
    case KOV_CMD_APPEND:
        if (o.fileList.empty() && o.includeFile == nullptr)
            Fail("KOVZEF: no files specified for appending", 29, true);
        break;
    case KOV_CMD_MERGE:
        if (o.verify || o.sign)
            Fail("KOVZEF: no signatures supported for merging", 53, false);
        break;
    case KOV_CMD_SCAN:
        if (o.fileList.empty() && o.includeFile == nullptr)
            Fail("KOVZEF: no files specified for scanning", 29, true);
        break;
    case KOV_CMD_MANIFEST:
        if (o.GetArchiveList().empty() && o.externalManifest == nullptr)
            Fail("KOVZEF: no manifest specified", 20, false);
        break;
    case KOV_CMD_NONE:
        Fail("KOVZEF: please specify a command (one of -c, -x, -t, -d, -a, -m, -l, -S, -M)", 21, true);
    default:
        break;  // d and t need nothing
    }

    // Building the archive list may have left the error of a directory it
    // could not list; the option combinations below concern no system call,
    // so their messages must not show it.
    errno = 0;
    if (o.changeDir != nullptr && o.absolutePaths)
        Fail("KOVZEF: don't use both P-option and C-option", 22, true);
    if (o.changeDir != nullptr && k != KOV_CMD_CREATE)
        Fail("KOVZEF: use C-option only with create (-c)", 23, true);
    if (o.renameFile != nullptr && k != KOV_CMD_CREATE && k != KOV_CMD_APPEND)
        Fail("KOVZEF: use T-option only with create (-c) or append (-a)", 24, true);
    if (o.excludeFile != nullptr && k != KOV_CMD_CREATE && k != KOV_CMD_APPEND && k != KOV_CMD_SCAN)
        Fail("KOVZEF: use X-option only with create (-c), append (-a) or scan (-l)", 25, true);
    if (o.extractDir != nullptr && k != KOV_CMD_EXTRACT && k != KOV_CMD_LIST)
        Fail("KOVZEF: use R-option only with extract (-x) or list content (-t)", 26, true);
    if (o.spaceCheck && k != KOV_CMD_LIST)
        Fail("KOVZEF: use s-option only with list content (-t)", 31, true);
    if (o.lowerCase && k != KOV_CMD_EXTRACT)
        Fail("KOVZEF: use -lower only with extract (-x)", 46, true);
}
