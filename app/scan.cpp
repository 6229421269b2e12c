// Check-files command: every name of the file list that a create run would not
// find is written to "files.log".
#include "app/scan.h"

#include <sys/stat.h>

#include "app/application.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"

namespace {

const char kScanLog[] = "files.log";

// A name whose last component holds "*" or "?" stands for the entries it
// matches, as the create command expands it: present when the pattern
// matches anything at all.  Any other name must be reachable by stat,
// following links.
bool IsPresent(const std::string& name)
{
    const size_t slash = name.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (name.find_first_of("*?", start) != std::string::npos) {
        FindData data;
        FindHandle handle = FindFirst(name.c_str(), data);
        if (handle == nullptr)
            return false;
        FindClose(handle);
        return true;
    }
    struct stat st;
    return stat(name.c_str(), &st) == 0;
}

}  // namespace

void CScan::Execute()
{
    CApplication& app = CApplication::Instance();
    const COptions& options = COptions::Instance();
    CLogMan& log = app.GetLogMan();

    const int32_t target = log.OpenLogFile(kScanLog);
    if (target < 0)
        throw COpenExcept(kScanLog);
    log.WriteToLog(target, "# KOVZEF: list of missing files");
    log.WriteToLog(target, "# ==========================");

    bool missing = false;
    for (const std::string& name : options.fileList) {
        bool present = false;
        const int32_t status = app.GetExitStatus();
        try {
            present = IsPresent(name);
        } catch (const CExcept&) {
            // A matching entry that vanished before it could be examined is
            // not there to archive; the check itself has not failed.
            app.SetExitStatus(status);
        }
        if (!present) {
            log.WriteToLog(target, KovShown(name));
            missing = true;
        }
    }
    if (missing)
        log.Write(std::string("KOVZEF: some files are missing. See ") + kScanLog);
}
