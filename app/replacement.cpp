#include "app/replacement.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fshelpers.h"

namespace {

// Reads a decimal number written without leading zeros (as "%u" writes it)
// that is at most limit; advances text past it.
bool ParsePlainNumber(const char*& text, long long limit, long long& value)
{
    const char* p = text;
    if (*p == '0' && !(p[1] >= '0' && p[1] <= '9')) {
        value = 0;
        text = p + 1;
        return true;
    }
    if (*p < '1' || *p > '9')
        return false;
    value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > limit)
            return false;
    }
    text = p;
    return true;
}

// "<pid>-<attempt>.new": the end of the name of a run's new file, exactly
// as the run names it; the first number is the process that made it.  Any
// other form (leading zeros, say) is not this program's file.
bool ParseReplacementSuffix(const char* text, pid_t& pid)
{
    long long value = 0, attempt = 0;
    if (!ParsePlainNumber(text, INT32_MAX, value) || value == 0 || *text++ != '-' ||
        !ParsePlainNumber(text, kReplacementAttempts - 1, attempt) || std::strcmp(text, ".new") != 0)
        return false;
    pid = static_cast<pid_t>(value);
    return true;
}

}  // namespace

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

void RemoveStaleReplacements(int dirFd, const std::string& directory, const std::string& base)
{
    const int fd = openat(dirFd, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    const std::string prefix = "." + base + ".";
    while (const dirent* found = readdir(dir)) {
        const char* name = found->d_name;
        pid_t pid = 0;
        if (std::strncmp(name, prefix.c_str(), prefix.size()) != 0 ||
            !ParseReplacementSuffix(name + prefix.size(), pid) || pid == getpid() || kill(pid, 0) == 0 ||
            errno != ESRCH)
            continue;
        const int temp = openat(dirfd(dir), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (temp < 0)
            continue;
        struct stat st;
        // Only a file of this user: another user's file of that name is not
        // this run's to judge, whoever runs it (one left by a create of
        // another user's archive under the superuser has that user as owner
        // and goes with that user's next run).
        if (fstat(temp, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
            flock(temp, LOCK_EX | LOCK_NB) == 0)
            unlinkat(dirfd(dir), name, 0);
        close(temp);
    }
    closedir(dir);
}

void RemoveStaleReplacementsOf(int dirFd, const char* name)
{
    std::string finalName, directory, base;
    if (ReplacementPlace(dirFd, name, true, finalName, directory, base) ||
        ReplacementPlace(dirFd, name, false, finalName, directory, base))
        RemoveStaleReplacements(dirFd, directory, base);
}
