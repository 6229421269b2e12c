// The program's own standard output as the archive of a run.
#include "app/stdoutarchive.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <initializer_list>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/koxformat.h"

namespace {

// The pipe ends that stand in for closed standard descriptors, by identity,
// one for each of descriptors 1 and 2: both closed, each gets a pipe of its
// own.
struct Held {
    bool holding = false;
    dev_t dev = 0;
    ino_t ino = 0;
};
Held s_held[STDERR_FILENO + 1];

bool IsClosed(int fd)
{
    return fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// The descriptor fd (1 or 2), closed, becomes a copy of the read end of a pipe
// whose write end is gone.
void HoldWithPipe(int fd)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return;
    // Either end may itself have taken a closed standard number.
    if (ends[0] != fd && dup3(ends[0], fd, O_CLOEXEC) != fd) {
        close(ends[0]);
        if (ends[1] != fd)
            close(ends[1]);
        return;
    }
    if (ends[0] != fd)
        close(ends[0]);
    if (ends[1] != fd)
        close(ends[1]);
    struct stat held;
    if (fstat(fd, &held) == 0)
        s_held[fd] = {true, held.st_dev, held.st_ino};
}

}  // namespace

void HoldClosedStandardDescriptors()
{
    const int saved = errno;
    for (int fd : {STDOUT_FILENO, STDERR_FILENO})
        if (IsClosed(fd))
            HoldWithPipe(fd);
    errno = saved;
}

bool IsStandardOutput(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    const int saved = errno;
    struct stat named, held;
    const bool same = stat(name, &named) == 0 && fstat(STDOUT_FILENO, &held) == 0 && named.st_dev == held.st_dev &&
                      named.st_ino == held.st_ino;
    errno = saved;
    return same;
}

namespace {

// Whether dir (a resolved path) is the descriptor directory of this
// process or of one of its threads: "/proc/PID/fd", "/proc/PID/task/TID/fd".
bool IsOwnDescriptorDirectory(const std::string& dir)
{
    const std::string own = "/proc/" + std::to_string(getpid());
    if (dir == own + "/fd")
        return true;
    const std::string tasks = own + "/task/";
    if (dir.size() <= tasks.size() + 3 || dir.compare(0, tasks.size(), tasks) != 0 ||
        dir.compare(dir.size() - 3, 3, "/fd") != 0)
        return false;
    const std::string tid = dir.substr(tasks.size(), dir.size() - 3 - tasks.size());
    return tid.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool NamesStandardOutput(const char* name)
{
    if (name == nullptr || name[0] == '\0')
        return false;
    const int saved = errno;
    std::string path = name;
    bool named = false;
    // Each step resolves the directory part and looks at the last
    // component: descriptor 1 of our own descriptor directory ends the
    // search, a link is followed, anything else is a plain name.
    for (int hops = 0; hops < 40; ++hops) {
        const size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        if (base.empty() || base == "." || base == "..")
            break;
        char real[PATH_MAX];
        if (realpath(dir.c_str(), real) == nullptr)
            break;
        const std::string resolved = real;
        if (base == "1" && IsOwnDescriptorDirectory(resolved)) {
            named = true;
            break;
        }
        const std::string full = (resolved == "/" ? "" : resolved) + "/" + base;
        char target[PATH_MAX];
        const ssize_t n = readlink(full.c_str(), target, sizeof target - 1);
        if (n <= 0)
            break;
        target[n] = '\0';
        path = target[0] == '/' ? std::string(target) : resolved + "/" + target;
    }
    errno = saved;
    return named;
}

bool StandardOutputOpen()
{
    const int saved = errno;
    struct stat held;
    const Held& out = s_held[STDOUT_FILENO];
    const bool opened = fstat(STDOUT_FILENO, &held) == 0 &&
                        !(out.holding && held.st_dev == out.dev && held.st_ino == out.ino);
    errno = saved;
    return opened;
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

void EndFailedStandardOutputArchive()
{
    const int saved = errno;
    // Zeros in an entry header's place are what readers take for a torn
    // archive; where a file's next data block was due, the two zeros of a
    // block type that is none refuse it just the same.
    const char zeros[KOX_ENTRY_HEADER_SIZE] = {};
    size_t done = 0;
    while (done < sizeof zeros) {
        const ssize_t put = write(STDOUT_FILENO, zeros + done, sizeof zeros - done);
        if (put > 0)
            done += static_cast<size_t>(put);
        else if (put == 0 || errno != EINTR)
            break;
    }
    errno = saved;
}
