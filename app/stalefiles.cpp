#include "app/stalefiles.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "app/fshelpers.h"

namespace {

constexpr std::string_view kStagedSuffix = ".part";
// What a staging area and its pledge are named after (see StagingAreaName).
constexpr std::string_view kAreaBase = "staged";
constexpr std::string_view kPledgeBase = "staged-area";
// The extended attribute of the mark (see MarkTransient).
constexpr const char* kTransientMark = "user.kovzef.transient";

// The last component of path, the name a file is made under.
std::string_view LastComponent(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The value of the mark of the inode ino made under name: the number, a "/"
// (which no name holds) and the name.
std::string TransientMarkValue(ino_t ino, std::string_view name)
{
    std::string value = std::to_string(ino);
    value += '/';
    value += name;
    return value;
}

// Whether the file open as fd (st its status) carries the mark that fits its
// inode and its name.
bool CarriesTransientMark(int fd, const struct stat& st, std::string_view name)
{
    const std::string expected = TransientMarkValue(st.st_ino, name);
    char found[320];
    if (expected.size() > sizeof found)
        return false;
    const ssize_t length = fgetxattr(fd, kTransientMark, found, sizeof found);
    return length == static_cast<ssize_t>(expected.size()) &&
           expected.compare(0, expected.size(), found, expected.size()) == 0;
}

// Whether the file open as fd (st its status) is one a run made under its
// name and was killed with before it bore the mark (see MakeNamedTransient;
// a staging directory is made so too): an empty regular file, or a
// directory, with the sticky bit, without the mark, on a file system that
// keeps the mark, whose modification and status change times are still one
// moment, as creation gives them.  An extracted or copied file has its
// time set apart from its status change; a file system without the mark
// judges none.  Such a directory goes only while it is empty.
bool KilledBeforeItsMark(int fd, const struct stat& st)
{
    return (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && st.st_size == 0)) && (st.st_mode & S_ISVTX) != 0 &&
           st.st_mtim.tv_sec == st.st_ctim.tv_sec && st.st_mtim.tv_nsec == st.st_ctim.tv_nsec &&
           fgetxattr(fd, kTransientMark, nullptr, 0) < 0 && errno == ENODATA;
}

// Takes the decimal number that ends text, written as "%u" writes it (no
// leading zero) and at most limit, off text.
bool TakeTrailingNumber(std::string_view& text, unsigned long limit, unsigned long& value)
{
    size_t start = text.size();
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9')
        --start;
    const std::string_view digits = text.substr(start);
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && digits.size() > 1))
        return false;
    value = 0;
    for (char c : digits)
        value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > limit)
        return false;
    text.remove_suffix(digits.size());
    return true;
}

}  // namespace

pid_t StaleFileOwner(std::string_view name, std::string_view suffix, unsigned long maxN, std::string_view& head)
{
    if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix)
        return 0;
    std::string_view rest = name.substr(0, name.size() - suffix.size());
    unsigned long n = 0, pid = 0;
    if (!TakeTrailingNumber(rest, maxN, n) || rest.empty() || rest.back() != '-')
        return 0;
    rest.remove_suffix(1);
    if (!TakeTrailingNumber(rest, INT32_MAX, pid) || pid == 0 || rest.empty() || rest.back() != '.')
        return 0;
    rest.remove_suffix(1);
    head = rest;
    return static_cast<pid_t>(pid);
}

namespace {

// Whether someone holds a lock on the open file fd: a whole-file lock
// (flock), or a record lock (fcntl, lockf) on any byte of it.  The
// whole-file lock is taken for a moment, as a holder's own try would; a
// record lock is only asked about, which disturbs no holder.  A lock that
// can not be asked about counts as held.
bool HeldLocked(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return true;
    struct flock probe { };
    // Asks whether a write lock over the whole file would be refused.
    auto ask = [fd, &probe](int command) {
        probe = {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        return fcntl(fd, command, &probe) == 0;
    };
    // The lock of a file description answers for every holder, this
    // process's own record locks included; kernels without it answer by
    // the lock of a process, which sees every other process's.
    if (!ask(F_OFD_GETLK) && (errno != EINVAL || !ask(F_GETLK)))
        return true;
    return probe.l_type != F_UNLCK;
}

// Whether the file name of directory dirFd is one a staging directory
// holds: a regular file of this user with no other name, which nobody holds
// locked, and which keep does not spare.
bool LostStagedFile(int dirFd, const char* name, const LostFileKeeper& keep)
{
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        st.st_uid != geteuid() || (keep && keep(st)))
        return false;
    const int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat opened;
    const bool lost = fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev &&
                      !HeldLocked(fd);
    close(fd);
    return lost;
}

// Removes the lost staging directory name of dirFd, open on fd, with the
// files it holds: only when it holds nothing but what a staging directory
// ever holds, none of it is in use and keep spares none of it (a file
// there may be the archive a run reads).
void RemoveLostDirectory(int dirFd, const char* name, int fd, const LostFileKeeper& keep)
{
    if (!VisitDirectoryNames(fd, [fd, &keep](const char* file) { return LostStagedFile(fd, file, keep); }))
        return;
    VisitDirectoryNames(fd, [fd](const char* file) {
        unlinkat(fd, file, 0);
        return true;
    });
    unlinkat(dirFd, name, AT_REMOVEDIR);
}

// After the lost pledge name of a staging area (see StagingAreaName) went
// from directory dirFd: removes the area it stood for when that is an empty
// directory of this user that nobody holds locked (its run was killed
// before the area carried the mark itself).
void RemovePledgedArea(int dirFd, std::string_view name)
{
    // ".staged-area.PID-N.part" stands for ".staged.PID-N.part".
    if (name.size() <= kPledgeBase.size() + 2 || name[0] != '.' || name.substr(1, kPledgeBase.size()) != kPledgeBase ||
        name[kPledgeBase.size() + 1] != '.')
        return;
    std::string area(1, '.');
    area.append(kAreaBase).append(name.substr(kPledgeBase.size() + 1));
    const int fd = openat(dirFd, area.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && !HeldLocked(fd))
        unlinkat(dirFd, area.c_str(), AT_REMOVEDIR);  // only while it is empty
    close(fd);
}

// Removes the file name of directory dirFd, made by process pid, when it is
// a lost one; with directories set, a lost staging directory goes too, with
// the files it holds.
void RemoveIfLost(int dirFd, const char* name, pid_t pid, bool directories, const LostFileKeeper& keep)
{
    if (pid == getpid() || kill(pid, 0) == 0 || errno != ESRCH)
        return;
    const int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st;
    // Only a file of this user: another user's file of that name is not
    // this run's to judge, whoever runs it (one left by a run for another
    // user under the superuser has that user as owner and goes with that
    // user's next run).  A file with a second link is someone's file; one
    // without the mark of the run that made it under this name may be
    // anyone's, but for an empty one that a run killed before it bore the
    // mark left as it was made.
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && !(keep && keep(st))) {
        const bool marked = CarriesTransientMark(fd, st, name);
        if (S_ISREG(st.st_mode)) {
            if ((marked || KilledBeforeItsMark(fd, st)) && st.st_nlink == 1 && !HeldLocked(fd) &&
                unlinkat(dirFd, name, 0) == 0 && directories && marked)
                RemovePledgedArea(dirFd, name);
        } else if (directories && S_ISDIR(st.st_mode) && !HeldLocked(fd)) {
            if (marked)
                RemoveLostDirectory(dirFd, name, fd, keep);
            else if (KilledBeforeItsMark(fd, st))
                unlinkat(dirFd, name, AT_REMOVEDIR);  // only while it is empty
        }
    }
    close(fd);
}

// RemoveLostFiles, with directories of those names as well.
void RemoveLost(int dirFd, const std::string& directory, const std::function<pid_t(std::string_view)>& owner,
                bool directories, const LostFileKeeper& keep)
{
    const int fd = openat(dirFd, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return;
    }
    while (const dirent* found = readdir(dir)) {
        if (found->d_type != DT_REG && found->d_type != DT_UNKNOWN && (!directories || found->d_type != DT_DIR))
            continue;
        if (const pid_t pid = owner(found->d_name); pid != 0)
            RemoveIfLost(dirfd(dir), found->d_name, pid, directories, keep);
    }
    closedir(dir);
}

}  // namespace

void RemoveLostFiles(int dirFd, const std::string& directory, const std::function<pid_t(std::string_view)>& owner,
                     const LostFileKeeper& keep)
{
    RemoveLost(dirFd, directory, owner, false, keep);
}

void RemoveLostStagedFiles(int dirFd, const std::string& directory, const LostFileKeeper& keep)
{
    RemoveLost(dirFd, directory, StagedFileOwner, true, keep);
}

pid_t StagedFileOwner(std::string_view name)
{
    // ".NAME" before the numbers, NAME of at least one byte.
    std::string_view head;
    const pid_t pid = name.starts_with('.') ? StaleFileOwner(name, kStagedSuffix, UINT32_MAX, head) : 0;
    return head.size() >= 2 ? pid : 0;
}

std::string StagingAreaName(const std::string& directoryPrefix, unsigned n)
{
    return StagedFileName(std::string(directoryPrefix).append(kAreaBase), n);
}

std::string StagingAreaPledgeName(const std::string& directoryPrefix, unsigned n)
{
    return StagedFileName(std::string(directoryPrefix).append(kPledgeBase), n);
}

std::string StagedFileName(const std::string& path, unsigned n)
{
    const size_t slash = path.rfind('/');
    const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    // The process never forks: its number is asked once, not per file.
    static const unsigned s_pid = static_cast<unsigned>(getpid());
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%u-%u", s_pid, n);
    return path.substr(0, baseStart) + "." + path.substr(baseStart, 200) + suffix + std::string(kStagedSuffix);
}

bool MarkTransient(int fd, std::string_view path)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return false;
    const std::string value = TransientMarkValue(st.st_ino, LastComponent(path));
    return fsetxattr(fd, kTransientMark, value.data(), value.size(), 0) == 0;
}

bool LeftByKilledRun(int fd, std::string_view path)
{
    struct stat st;
    return fstat(fd, &st) == 0 && (CarriesTransientMark(fd, st, LastComponent(path)) || KilledBeforeItsMark(fd, st));
}

void UnmarkTransient(int fd)
{
    fremovexattr(fd, kTransientMark);
}

void UnmarkTransient(const char* path)
{
    lremovexattr(path, kTransientMark);
}

int MakeNamedTransient(int dirFd, const char* path, mode_t mode)
{
    const int fd = openat(dirFd, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC,
                          (mode & 0777) | S_ISVTX);
    if (fd < 0)
        return -1;
    MarkTransient(fd, path);
    // The sticky bit goes once the file bears the mark, or could not bear
    // it (it then stays like a file the user made).  Where it can not go,
    // the file is one the mark alone tells, once it holds anything.
    struct stat st;
    if (fstat(fd, &st) == 0 && fchmod(fd, st.st_mode & 0777) != 0) {
        // As said.
    }
    return fd;
}
