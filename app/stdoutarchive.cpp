// The program's own standard output as the archive of a run.
#include "app/stdoutarchive.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool SpellsStandardOutput(const char* name)
{
    if (name == nullptr)
        return false;
    if (std::strcmp(name, "/dev/stdout") == 0 || std::strcmp(name, "/dev/fd/1") == 0 ||
        std::strcmp(name, "/proc/self/fd/1") == 0)
        return true;
    // The process's own number stands for "self" too; another process's
    // standard output is a file like any other.
    char own[40];
    std::snprintf(own, sizeof own, "/proc/%ld/fd/1", static_cast<long>(getpid()));
    return std::strcmp(name, own) == 0;
}

bool IsStandardOutput(const char* name)
{
    if (!SpellsStandardOutput(name))
        return false;
    struct stat named, held;
    return stat(name, &named) == 0 && fstat(STDOUT_FILENO, &held) == 0 && named.st_dev == held.st_dev &&
           named.st_ino == held.st_ino;
}

bool StandardOutputOpen()
{
    return fcntl(STDOUT_FILENO, F_GETFD) != -1;
}

int DuplicateStandardOutput()
{
    // One that takes no writes is told as write(2) would tell it.
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags != -1 && (flags & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
    }
    return fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}
