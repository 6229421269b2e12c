#include "app/replacement.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

#include "app/fshelpers.h"
#include "app/stalefiles.h"

bool ReplacementPlace(int dirFd, const char* name, bool followLink, std::string& finalName, std::string& directory,
                      std::string& base)
{
    finalName = name;
    struct stat lst;
    if (followLink && fstatat(dirFd, name, &lst, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(lst.st_mode)) {
        // A link to an archive is kept: the file it leads to is replaced.
        char* resolved = realpath(name, nullptr);
        if (!resolved)
            return false;
        finalName = resolved;
        free(resolved);
    }
    SplitPath(finalName, directory, base);
    if (base.size() > 200)
        base.resize(200);
    return true;
}

void RemoveStaleReplacements(int dirFd, const std::string& directory, const std::string& base,
                             const LostFileKeeper& keep)
{
    const std::string head = "." + base;
    RemoveLostFiles(
        dirFd, directory,
        [&head](std::string_view name) -> pid_t {
            std::string_view found;
            const pid_t pid = StaleFileOwner(name, ".new", kReplacementAttempts - 1, found);
            return found == head ? pid : 0;
        },
        keep);
}

void RemoveStaleReplacementsOf(int dirFd, const char* name, const LostFileKeeper& keep)
{
    std::string finalName, directory, base;
    if (ReplacementPlace(dirFd, name, true, finalName, directory, base) ||
        ReplacementPlace(dirFd, name, false, finalName, directory, base))
        RemoveStaleReplacements(dirFd, directory, base, keep);
}
