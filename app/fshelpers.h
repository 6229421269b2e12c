// Thin helpers over the POSIX file-system calls: a find-first/find-next
// directory reader with an attribute word, path types, stat wrappers and the
// few file operations the commands need.  Failures are reported by result,
// except where a comment names an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <dirent.h>

// Longest path (with its NUL) the archiver handles.
inline constexpr size_t KOV_PATH_MAX = 4352;

// Attribute word of a find record.
inline constexpr uint32_t KOV_ATTR_DIRECTORY = 16;
inline constexpr uint32_t KOV_ATTR_REGULAR = 0x8000;
inline constexpr uint32_t KOV_ATTR_SYMLINK = 0xA000;

// Path types of GetPathType.
enum : int {
    KOV_PATH_DIRECTORY = 0,
    KOV_PATH_REGULAR = 1,
    KOV_PATH_SYMLINK = 3,
    KOV_PATH_DANGLING = 4,
    KOV_PATH_OTHER = 6,
    KOV_PATH_UNREACHABLE = 8,
};

// Last-error code meaning "no further entries".
inline constexpr int KOV_NO_MORE_FILES = 18;

// One listing; owned by the caller, filled by FindFirst and FindNext.
struct FindData {
    uint32_t attributes = 0;       // KOV_ATTR_* from lstat, 0 for other kinds
    std::string directory;         // directory part, always ending in "/"
    std::string pattern;           // last component of the listed path
    char name[KOV_PATH_MAX] = {};  // current entry name, NUL-terminated
    // Set once an entry of the current listing was lstat'ed: the directory
    // part resolves, so the kind the listing reports can stand in for lstat.
    bool directoryReached = false;
};

using FindHandle = DIR*;

// Opens a listing of the directory part of path and returns it positioned
// after the first entry whose name matches the last component; null when the
// directory cannot be opened or searched (errno EACCES) or nothing matches.
// The kind comes from lstat for the first matching entry, and afterwards from
// the listing itself when it tells one; entries gone since the listing are
// passed over.  Throws CStatExcept when a matching entry cannot be lstat'ed
// otherwise, CExcept (100) when directory and name reach KOV_PATH_MAX
// characters.
FindHandle FindFirst(const char* path, FindData& data);
// Reads on to the next matching entry; false at the end (errno 0) or on a
// read error (errno set).  Throws like FindFirst.
bool FindNext(FindHandle handle, FindData& data);
bool FindClose(FindHandle handle);

// One entry of a directory read whole.
struct FoundEntry {
    uint32_t attributes = 0;
    std::string name;
};

// Reads every entry of path's directory that matches its last component, in
// the order the system returns them, and closes the listing before returning,
// so a caller can recurse into the entries without keeping directories open.
// Returns false (entries empty) when FindFirst would return null.  endCode is
// GetLastErrorCode() at the end of the listing: KOV_NO_MORE_FILES when it
// ended normally.  Fills data.directory and data.pattern as FindFirst does.
// Throws like FindFirst.
bool FindAll(const char* path, FindData& data, std::vector<FoundEntry>& entries, int& endCode);

// errno, or KOV_NO_MORE_FILES when errno is 0.
int GetLastErrorCode();
// strerror(errno), or "" when errno is 0.
std::string GetErrnoText();

// lstat; attributes as in FindData.  false when lstat fails (attributes 0).
bool GetLinkAttributes(const char* path, uint32_t& attributes);
// true when lstat reports a link; false for an empty path.  Throws
// CAccessExcept when lstat fails.
bool IsSymbolicLink(const char* path);
// KOV_PATH_* following links; throws like IsSymbolicLink.
int GetPathType(const char* path);
bool PathExists(const char* path);
// The directory part of a path ("." when it has none) and its last component.
void SplitPath(const std::string& path, std::string& directory, std::string& base);
// Reads a whole regular file (opened without waiting, so a pipe named by
// mistake cannot hang the run) into bytes.
enum KovWholeFile { KOV_WHOLE_FILE_OK, KOV_WHOLE_FILE_NOT_OPENED, KOV_WHOLE_FILE_NOT_READ };
KovWholeFile ReadWholeFile(const char* path, std::string& bytes);
bool GetFileSize(const char* path, double& size);
// stat (followLinks) or lstat; sizeHigh and reserved set to 0, unused not
// written.  false when the call fails (outputs untouched).
bool GetFileInfo(const FindData* data, const char* path, uint32_t& mode, uint64_t& size, uint32_t& sizeHigh,
                 uint64_t& mtime, uint32_t& unused, uint32_t& reserved, bool followLinks);
// The mode, size and modification time GetFileInfo reports, from a stat
// result the caller already holds.
void FileInfoFromStat(const struct stat& st, uint32_t& mode, uint64_t& size, uint64_t& mtime);

// Sets access and modification time, then the permission bits (mode & 07777);
// leaves symbolic links (mode type 0xA000) alone.  Throws CChgDateExcept or
// CChgModExcept.
void SetFileModeAndTime(const char* path, uint32_t mode, uint64_t time);
// The same on the open descriptor of the regular file at path (which the
// exceptions name).
void SetDescriptorModeAndTime(int fd, const char* path, uint32_t mode, uint64_t time);
// mkdir 0755; true when created or already there.
bool CreateDirectory(const char* path);
bool RemoveFile(const char* path);
// Gives the file from (relative to dirFd) the name to, in one step that
// never replaces anything that has that name: the name from goes.  Where
// the file system has no such rename, a second link is made and from
// removed.  False with errno set (EEXIST when the name to is taken).
bool RenameWithoutReplacing(int dirFd, const char* from, const char* to);
// The same from one directory to another, for a directory as well: where
// the file system has neither such a rename nor second names (a directory
// never has a second name), the name is taken when nothing had it a moment
// before.
bool RenameToFreeName(int fromDirFd, const char* from, int toDirFd, const char* to);
// Calls visit with the name of each entry of the directory open as dirFd,
// "." and ".." left out, from the first on, until visit returns false.
// True when every name was visited; false, errno as the failure or visit
// left it, when the directory could not be read or visit stopped.
bool VisitDirectoryNames(int dirFd, const std::function<bool(const char* name)>& visit);
// Gives the open file fd, made without a name (O_TMPFILE), the name path
// (relative to dirFd), which must be free: by its descriptor where this
// process may, else through /proc.  False with errno set otherwise (EEXIST
// when something has the name, ENOENT when neither way is open).
bool LinkOpenFile(int fd, int dirFd, const char* path);
// Whether the file open as fd takes writes at its end only (append-only,
// chattr +a): no byte can be put in at a place of its own, nor can it be cut
// back.
bool TakesWritesAtItsEndOnly(int fd);
// Bytes available to an unprivileged user, -1.0 when statvfs fails.
double GetAvailableDiskSpace(const char* path);
// true when both paths lie on one file system; throws CExcept (100)
// "KOVZEF: statvfs returned error for " + path.
bool IsSameFileSystem(const char* pathA, const char* pathB);

// Hooks of the other platform's backup mode; always false here.
bool AcquireBackupPrivilege(const char* privilegeName);
bool RestoreUserInfo(const char* path, const void* data, std::string& message);
