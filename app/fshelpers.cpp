#include "app/fshelpers.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utime.h>

#include "app/except.h"
#include "app/wildcard.h"

namespace {

uint32_t AttributesFromMode(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return KOV_ATTR_DIRECTORY;
    case S_IFREG:
        return KOV_ATTR_REGULAR;
    case S_IFLNK:
        return KOV_ATTR_SYMLINK;
    default:
        return 0;
    }
}

// The attribute word for a kind a directory listing reports; false when the
// listing does not tell the kind.
bool AttributesFromDirentType(unsigned char type, uint32_t& attributes)
{
    switch (type) {
    case DT_UNKNOWN:
        return false;
    case DT_DIR:
        attributes = KOV_ATTR_DIRECTORY;
        return true;
    case DT_REG:
        attributes = KOV_ATTR_REGULAR;
        return true;
    case DT_LNK:
        attributes = KOV_ATTR_SYMLINK;
        return true;
    default:
        attributes = 0;
        return true;
    }
}

// Splits a listed path into the directory to open and the name pattern.
// The results are built as new strings and moved in: assigning literals in
// place trips a false overlap warning of the optimiser.
void SplitFindPath(const std::string& path, std::string& dir, std::string& pattern)
{
    std::string d, p;
    if (path == "..") {
        d = std::string("..");
        p = std::string("*");
    } else if (path == "*" || path == "." || path == "/") {
        d = std::string(path == "/" ? "/" : ".");
        p = std::string("*");
    } else {
        const size_t k = path.rfind('/');
        if (k == std::string::npos) {
            d = std::string(".");
            p = path;
        } else {
            p = path.substr(k + 1);
            d = k >= 2 ? path.substr(0, k) : path.substr(0, 1);
        }
    }
    dir = std::move(d);
    pattern = std::move(p);
}

// Reads on to the next entry of the stream matching data.pattern and fills
// data.attributes and data.name.  errno is 0 at a normal end.
bool ReadMatching(DIR* dir, FindData& data)
{
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(dir);
        if (entry == nullptr)
            return false;
        if (!MatchWildcard(entry->d_name, data.pattern.c_str()))
            continue;
        const size_t nameLen = std::strlen(entry->d_name);
        const size_t fullLen = data.directory.size() + nameLen;
        if (fullLen >= KOV_PATH_MAX)
            throw CExcept("KOVZEF: name too long " + KovShown(data.directory + entry->d_name), 100, true);
        // Once one lstat of this listing succeeded, the others can only
        // fail by races, so the kind the listing reports is used instead of
        // a call per entry.  Paths the system refuses by length still go
        // through lstat, which reports them.
        uint32_t attributes = 0;
        if (!data.directoryReached || fullLen >= PATH_MAX || !AttributesFromDirentType(entry->d_type, attributes)) {
            std::string full = data.directory;
            full.append(entry->d_name, nameLen);
            if (!GetLinkAttributes(full.c_str(), attributes)) {
                if (errno == ENOENT)
                    continue;  // gone since it was listed
                // A directory that can be read but not searched: its names
                // are there, the files behind them are not.
                if (errno == EACCES && !data.directoryReached)
                    return false;
                throw CStatExcept(full);
            }
            data.directoryReached = true;
        }
        data.attributes = attributes;
        std::memcpy(data.name, entry->d_name, nameLen + 1);
        errno = 0;
        return true;
    }
}

// How many read errors in a row a listing tolerates before it gives up.
constexpr int kMaxReadRetries = 3;

}  // namespace

FindHandle FindFirst(const char* path, FindData& data)
{
    std::string dirPart, pattern;
    SplitFindPath(path != nullptr ? path : "", dirPart, pattern);
    DIR* dir = opendir(dirPart.c_str());
    if (dir == nullptr)
        return nullptr;
    if (dirPart.back() != '/')
        dirPart += '/';
    data.directory = std::move(dirPart);
    data.pattern = std::move(pattern);
    data.directoryReached = false;
    try {
        if (!ReadMatching(dir, data)) {
            const int saved = errno;
            closedir(dir);
            errno = saved;
            return nullptr;
        }
    } catch (...) {
        closedir(dir);
        throw;
    }
    return dir;
}

bool FindNext(FindHandle handle, FindData& data)
{
    errno = 0;
    if (handle == nullptr) {
        errno = EBADF;
        return false;
    }
    return ReadMatching(handle, data);
}

bool FindClose(FindHandle handle)
{
    return handle != nullptr && closedir(handle) == 0;
}

bool FindAll(const char* path, FindData& data, std::vector<FoundEntry>& entries, int& endCode)
{
    entries.clear();
    endCode = KOV_NO_MORE_FILES;
    FindHandle handle = FindFirst(path, data);
    if (handle == nullptr)
        return false;
    try {
        entries.push_back({data.attributes, data.name});
        int failures = 0;
        for (;;) {
            if (FindNext(handle, data)) {
                failures = 0;
                entries.push_back({data.attributes, data.name});
                continue;
            }
            endCode = GetLastErrorCode();
            if (endCode == KOV_NO_MORE_FILES || ++failures >= kMaxReadRetries)
                break;
        }
    } catch (...) {
        FindClose(handle);
        throw;
    }
    FindClose(handle);
    errno = endCode == KOV_NO_MORE_FILES ? 0 : endCode;
    return true;
}

int GetLastErrorCode()
{
    return errno == 0 ? KOV_NO_MORE_FILES : errno;
}

std::string GetErrnoText()
{
    const int e = errno;
    return e == 0 ? std::string() : std::string(std::strerror(e));
}

bool GetLinkAttributes(const char* path, uint32_t& attributes)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        attributes = 0;
        return false;
    }
    attributes = AttributesFromMode(st.st_mode);
    return true;
}

bool IsSymbolicLink(const char* path)
{
    if (path == nullptr || *path == '\0')
        return false;
    struct stat st;
    if (lstat(path, &st) != 0)
        throw CAccessExcept(path);
    return S_ISLNK(st.st_mode);
}

int GetPathType(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return IsSymbolicLink(path) ? KOV_PATH_DANGLING : KOV_PATH_UNREACHABLE;
    if (S_ISREG(st.st_mode))
        return KOV_PATH_REGULAR;
    if (S_ISLNK(st.st_mode))
        return KOV_PATH_SYMLINK;
    if (S_ISDIR(st.st_mode))
        return KOV_PATH_DIRECTORY;
    return KOV_PATH_OTHER;
}

bool PathExists(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0;
}

void SplitPath(const std::string& path, std::string& directory, std::string& base)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        directory.assign(1, '.');
        base = path;
        return;
    }
    // The root keeps its one slash.
    directory.assign(path, 0, slash == 0 ? 1 : slash);
    base.assign(path, slash + 1);
}

KovWholeFile ReadWholeFile(const char* path, std::string& bytes)
{
    bytes.clear();
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return KOV_WHOLE_FILE_NOT_OPENED;
    struct stat st;
    KovWholeFile result = KOV_WHOLE_FILE_OK;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result = KOV_WHOLE_FILE_NOT_READ;
    } else {
        char block[65536];
        for (;;) {
            const ssize_t got = read(fd, block, sizeof block);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                result = KOV_WHOLE_FILE_NOT_READ;
                break;
            }
            if (got == 0)
                break;
            bytes.append(block, static_cast<size_t>(got));
        }
    }
    close(fd);
    return result;
}

bool GetFileSize(const char* path, double& size)
{
    struct stat st;
    if (stat(path, &st) != 0)
        return false;
    size = static_cast<double>(st.st_size);
    return true;
}

bool GetFileInfo(const FindData* /*data*/, const char* path, uint32_t& mode, uint64_t& size, uint32_t& sizeHigh,
                 uint64_t& mtime, uint32_t& /*unused*/, uint32_t& reserved, bool followLinks)
{
    struct stat st;
    if ((followLinks ? stat(path, &st) : lstat(path, &st)) != 0)
        return false;
    FileInfoFromStat(st, mode, size, mtime);
    sizeHigh = 0;
    reserved = 0;
    return true;
}

void FileInfoFromStat(const struct stat& st, uint32_t& mode, uint64_t& size, uint64_t& mtime)
{
    mode = static_cast<uint32_t>(st.st_mode);
    size = static_cast<uint64_t>(st.st_size);
    mtime = static_cast<uint64_t>(st.st_mtime);
}

void SetFileModeAndTime(const char* path, uint32_t mode, uint64_t time)
{
    if ((mode & 0xF000u) == KOV_ATTR_SYMLINK)
        return;
    struct utimbuf times;
    times.actime = static_cast<time_t>(time);
    times.modtime = static_cast<time_t>(time);
    if (utime(path, &times) != 0)
        throw CChgDateExcept(path);
    if (chmod(path, static_cast<mode_t>(mode & 07777u)) != 0)
        throw CChgModExcept(path);
}

void SetDescriptorModeAndTime(int fd, const char* path, uint32_t mode, uint64_t time)
{
    if ((mode & 0xF000u) == KOV_ATTR_SYMLINK)
        return;
    struct timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(time);
    times[0].tv_nsec = times[1].tv_nsec = 0;
    if (futimens(fd, times) != 0)
        throw CChgDateExcept(path);
    if (fchmod(fd, static_cast<mode_t>(mode & 07777u)) != 0)
        throw CChgModExcept(path);
}

bool CreateDirectory(const char* path)
{
    return mkdir(path, 0755) == 0 || errno == EEXIST;
}

bool RemoveFile(const char* path)
{
    return std::remove(path) == 0;
}

namespace {

// RenameWithoutReplacing between two directories.
bool RenameBetweenWithoutReplacing(int fromDirFd, const char* from, int toDirFd, const char* to)
{
    if (renameat2(fromDirFd, from, toDirFd, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    if (linkat(fromDirFd, from, toDirFd, to, 0) != 0)
        return false;
    unlinkat(fromDirFd, from, 0);
    return true;
}

}  // namespace

bool RenameWithoutReplacing(int dirFd, const char* from, const char* to)
{
    return RenameBetweenWithoutReplacing(dirFd, from, dirFd, to);
}

bool RenameToFreeName(int fromDirFd, const char* from, int toDirFd, const char* to)
{
    if (RenameBetweenWithoutReplacing(fromDirFd, from, toDirFd, to))
        return true;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    struct stat st;
    if (fstatat(toDirFd, to, &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
        errno = EEXIST;
        return false;
    }
    return renameat(fromDirFd, from, toDirFd, to) == 0;
}

bool VisitDirectoryNames(int dirFd, const std::function<bool(const char* name)>& visit)
{
    const int listed = dup(dirFd);
    DIR* dir = listed >= 0 ? fdopendir(listed) : nullptr;
    if (dir == nullptr) {
        if (listed >= 0)
            close(listed);
        return false;
    }
    // The copy shares its offset with dirFd, which an earlier listing moved.
    rewinddir(dir);
    bool all = true;
    while (const dirent* found = readdir(dir)) {
        const char* name = found->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        if (!visit(name)) {
            all = false;
            break;
        }
    }
    const int err = errno;
    closedir(dir);
    errno = err;
    return all;
}

bool LinkOpenFile(int fd, int dirFd, const char* path)
{
    static bool byDescriptorRefused = false;
    if (!byDescriptorRefused) {
        if (linkat(fd, "", dirFd, path, AT_EMPTY_PATH) == 0)
            return true;
        if (errno != ENOENT && errno != EPERM)
            return false;
    }
    char proc[48];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, proc, dirFd, path, AT_SYMLINK_FOLLOW) != 0)
        return false;
    byDescriptorRefused = true;
    return true;
}

double GetAvailableDiskSpace(const char* path)
{
    struct statvfs fs;
    if (statvfs(path, &fs) != 0)
        return -1.0;
    // Blocks available to unprivileged users, counted in fragment units;
    // some file systems leave the fragment size 0.
    const unsigned long unit = fs.f_frsize != 0 ? fs.f_frsize : fs.f_bsize;
    return static_cast<double>(unit) * static_cast<double>(fs.f_bavail);
}

bool IsSameFileSystem(const char* pathA, const char* pathB)
{
    struct statvfs a, b;
    if (statvfs(pathA, &a) != 0)
        throw CExcept("KOVZEF: statvfs returned error for " + KovShown(pathA), 100, true);
    if (statvfs(pathB, &b) != 0)
        throw CExcept("KOVZEF: statvfs returned error for " + KovShown(pathB), 100, true);
    return std::memcmp(&a.f_fsid, &b.f_fsid, sizeof a.f_fsid) == 0;
}

bool AcquireBackupPrivilege(const char* /*privilegeName*/)
{
    return false;
}

bool RestoreUserInfo(const char* /*path*/, const void* /*data*/, std::string& /*message*/)
{
    return false;
}

bool TakesWritesAtItsEndOnly(int fd)
{
    int attributes = 0;
    return ioctl(fd, FS_IOC_GETFLAGS, &attributes) == 0 && (attributes & FS_APPEND_FL) != 0;
}
