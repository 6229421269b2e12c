#include "app/undorecord.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/archivelock.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "cslib/crc32.h"

namespace {

// Layout of a record, little endian: magic, the archive's device and inode,
// the writing process and its start time, the archive's old length, the
// offset and length of the bytes written over, whether the run created the
// archive, the length and bytes of the archive's name, the bytes written
// over, and a CRC-32 of all that.
constexpr char kMagic[8] = {'K', 'O', 'V', 'U', 'N', 'D', 'O', '1'};
constexpr size_t kFixedSize = 8 + 7 * 8 + 1 + 2;
constexpr size_t kCrcSize = 4;
// Names longer than this are shortened in the record's name and told apart
// by a checksum of the whole name.
constexpr size_t kLongestPlainBase = 200;

struct Record {
    uint64_t dev = 0, ino = 0, pid = 0, start = 0, oldLength = 0, tailOffset = 0, tailLength = 0;
    bool created = false;
    std::string base;
    std::string tail;
};

void Put(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint64_t Get(const std::string& in, size_t at, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<size_t>(i)]);
    return value;
}

uint32_t Checksum(const char* data, size_t n)
{
    return CsCrc32Update(0xFFFFFFFFu, data, n) ^ 0xFFFFFFFFu;
}

std::string Encode(const Record& r)
{
    std::string out(kMagic, sizeof kMagic);
    out.reserve(kFixedSize + r.base.size() + r.tail.size() + kCrcSize);
    for (uint64_t v : {r.dev, r.ino, r.pid, r.start, r.oldLength, r.tailOffset, uint64_t{r.tail.size()}})
        Put(out, v, 8);
    Put(out, r.created ? 1 : 0, 1);
    Put(out, r.base.size(), 2);
    out += r.base;
    out += r.tail;
    Put(out, Checksum(out.data(), out.size()), 4);
    return out;
}

// A whole record, with its lengths and checksum right, or false.
bool Decode(const std::string& in, Record& r)
{
    if (in.size() < kFixedSize + kCrcSize || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0)
        return false;
    const size_t body = in.size() - kCrcSize;
    if (Get(in, body, 4) != Checksum(in.data(), body))
        return false;
    uint64_t* fields[] = {&r.dev, &r.ino, &r.pid, &r.start, &r.oldLength, &r.tailOffset, &r.tailLength};
    size_t at = sizeof kMagic;
    for (uint64_t* field : fields) {
        *field = Get(in, at, 8);
        at += 8;
    }
    const uint64_t created = Get(in, at, 1);
    const uint64_t nameLength = Get(in, at + 1, 2);
    at += 3;
    if (created > 1 || nameLength == 0 || nameLength > body - at || r.tailLength != body - at - nameLength)
        return false;
    r.created = created == 1;
    r.base = in.substr(at, nameLength);
    r.tail = in.substr(at + nameLength, r.tailLength);
    return true;
}

// The start time of a process (clock ticks after boot), 0 when unknown: a
// process number used again by another process is told apart by it.
uint64_t StartTime(pid_t pid)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* f = std::fopen(path, "re");
    if (f == nullptr)
        return 0;
    char text[1024];
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // The fields after the command name, which ends with the last ")": the
    // start time is the 20th of them.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr)
        return 0;
    for (int field = 0; field < 20; ++field) {
        p = std::strchr(p + 1, ' ');
        if (p == nullptr)
            return 0;
    }
    return std::strtoull(p + 1, nullptr, 10);
}

bool ProcessGone(uint64_t pid, uint64_t start)
{
    if (pid == 0 || pid > INT_MAX)
        return true;
    const pid_t p = static_cast<pid_t>(pid);
    if (kill(p, 0) != 0 && errno == ESRCH)
        return true;
    const uint64_t now = StartTime(p);
    return start != 0 && now != 0 && now != start;
}

std::string RecordNameFor(const std::string& base)
{
    std::string name(1, '.');
    if (base.size() <= kLongestPlainBase) {
        name.append(base);
    } else {
        char sum[16];
        std::snprintf(sum, sizeof sum, ".%08x", static_cast<unsigned>(Checksum(base.data(), base.size())));
        name.append(base, 0, kLongestPlainBase - 20);
        name.append(sum);
    }
    name.append(".undo");
    return name;
}

// Where the record of the archive open as fd lives: the directory that holds
// the archive itself (a link to it is followed), opened, and the names.
struct Place {
    int dir = -1;
    std::string base, record, temp, shownRecord;
    ~Place()
    {
        if (dir >= 0)
            close(dir);
    }
};

bool TryPlace(int atFd, const std::string& path, const struct stat& archive, Place& place)
{
    std::string directory, base;
    SplitPath(path, directory, base);
    if (base.empty())
        return false;
    const int dir = openat(atFd, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    struct stat st;
    if (fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_dev != archive.st_dev || st.st_ino != archive.st_ino) {
        close(dir);
        return false;
    }
    place.dir = dir;
    place.base = base;
    place.record = RecordNameFor(base);
    place.temp = place.record + ".new";
    place.shownRecord = path.find('/') == std::string::npos ? place.record : directory + "/" + place.record;
    return true;
}

// The name given (relative to dirFd) when it names the archive itself, else
// the name the system knows the open archive by.
bool Locate(int fd, const struct stat& archive, int dirFd, const std::string& path, Place& place)
{
    if (!path.empty() && TryPlace(dirFd, path, archive, place))
        return true;
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char real[PATH_MAX];
    const ssize_t n = readlink(link, real, sizeof real - 1);
    if (n <= 0 || real[0] != '/')
        return false;
    return TryPlace(AT_FDCWD, std::string(real, static_cast<size_t>(n)), archive, place);
}

// The whole record file, or false.
bool ReadRecord(int fd, std::string& bytes)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    bytes.clear();
    char block[65536];
    for (;;) {
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(block, static_cast<size_t>(got));
    }
}

bool WriteAll(int fd, const char* data, size_t n, off_t at, bool positioned)
{
    while (n != 0) {
        const ssize_t put = positioned ? pwrite(fd, data, n, at) : write(fd, data, n);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = EIO;
            return false;
        }
        data += put;
        n -= static_cast<size_t>(put);
        at += put;
    }
    return true;
}

bool SyncDirectory(int dir)
{
    return fsync(dir) == 0 || errno == EINVAL || errno == EROFS;
}

[[noreturn]] void Refuse(const std::string& shown, const Place& place, const char* why)
{
    throw CExcept("KOVZEF: can not restore archive " + KovShown(shown) + ": its undo record " +
                      KovShown(place.shownRecord) + " " + why + "; nothing was changed",
                  100, false);
}

}  // namespace

CUndoRecord::~CUndoRecord()
{
    Forget();
}

void CUndoRecord::Forget()
{
    if (m_dirFd >= 0)
        close(m_dirFd);
    m_dirFd = -1;
    m_lockFd = -1;
    m_tailOffset = 0;
    m_tail.clear();
}

CUndoRecord::Restored CUndoRecord::PutBackKilledRun(int lockFd, int dirFd, const std::string& path,
                                                    const std::string& shown, CLogMan& log)
{
    struct stat archive;
    Place place;
    if (lockFd < 0 || fstat(lockFd, &archive) != 0 || !Locate(lockFd, archive, dirFd, path, place))
        return Restored::kNothing;
    // What a run killed while it wrote its record left: it had not written
    // into the archive yet.
    struct stat st;
    if (fstatat(place.dir, place.temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        (st.st_uid == geteuid() || st.st_uid == archive.st_uid))
        unlinkat(place.dir, place.temp.c_str(), 0);

    const int fd = openat(place.dir, place.record.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return Restored::kNothing;
        Refuse(shown, place, errno == ELOOP ? "is a link" : "can not be read");
    }
    struct stat own;
    std::string bytes;
    const bool read = fstat(fd, &own) == 0 && ReadRecord(fd, bytes);
    close(fd);
    if (!read)
        Refuse(shown, place, "can not be read");
    // Only a record of this user, or of the archive's owner, that nobody
    // else can have written: it says what to write into the archive.
    if (!S_ISREG(own.st_mode) || own.st_nlink != 1 || (own.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
        (own.st_uid != geteuid() && own.st_uid != archive.st_uid))
        Refuse(shown, place, "is not this user's");
    Record r;
    if (!Decode(bytes, r) || r.base != place.base)
        Refuse(shown, place, "is damaged");
    if (!ProcessGone(r.pid, r.start))
        throw ArchiveBusyExcept(shown);
    if (r.dev != static_cast<uint64_t>(archive.st_dev) || r.ino != static_cast<uint64_t>(archive.st_ino)) {
        // Made for a file that no longer has this name (a create put a new
        // archive in its place): nothing of it applies.
        unlinkat(place.dir, place.record.c_str(), 0);
        SyncDirectory(place.dir);
        return Restored::kNothing;
    }
    const std::string line = "KOVZEF: archive " + KovShown(shown) +
                             " was restored as it was before a run that was killed";
    if (r.created) {
        // The killed run made the file: without it the archive is as it was.
        if (unlinkat(place.dir, place.base.c_str(), 0) != 0 && errno != ENOENT)
            throw CWriteExcept(shown);
        if (!SyncDirectory(place.dir))
            throw CWriteExcept(shown);
        unlinkat(place.dir, place.record.c_str(), 0);
        SyncDirectory(place.dir);
        log.Write(line);
        return Restored::kRemoved;
    }
    // The runs only add behind the old end or write over the bytes they
    // keep; an archive shorter than that was changed by something else.
    const uint64_t size = static_cast<uint64_t>(archive.st_size);
    const uint64_t untouchedUpTo = r.tailLength != 0 ? r.tailOffset : r.oldLength;
    if ((r.tailLength != 0 && r.tailOffset + r.tailLength != r.oldLength) || size < untouchedUpTo ||
        r.oldLength > static_cast<uint64_t>(INT64_MAX))
        Refuse(shown, place, "does not match the archive");
    const int out = openat(place.dir, place.base.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (out < 0)
        throw CWriteExcept(shown);
    struct stat target;
    bool done = fstat(out, &target) == 0 && target.st_dev == archive.st_dev && target.st_ino == archive.st_ino;
    if (!done)
        errno = ESTALE;
    done = done && PutBackBytes(out, r.tailOffset, r.tail, r.oldLength);
    const int err = errno;
    close(out);
    if (!done)
        throw CWriteExcept(shown, err);  // the record stays for the next run
    unlinkat(place.dir, place.record.c_str(), 0);
    SyncDirectory(place.dir);
    log.Write(line);
    return Restored::kPutBack;
}

void CUndoRecord::Begin(int lockFd, int dirFd, const std::string& path, const std::string& shown, uint64_t oldLength,
                        bool created)
{
    struct stat archive;
    Place place;
    if (lockFd < 0 || fstat(lockFd, &archive) != 0 || !Locate(lockFd, archive, dirFd, path, place))
        return;  // no place for a record: the run goes on as without one
    m_dirFd = place.dir;
    place.dir = -1;
    m_lockFd = lockFd;
    m_recordName = place.record;
    m_tempName = place.temp;
    m_base = place.base;
    m_shown = shown;
    m_dev = archive.st_dev;
    m_ino = archive.st_ino;
    m_owner = archive.st_uid;
    m_group = archive.st_gid;
    m_oldLength = oldLength;
    m_created = created;
    Write(false);
}

void CUndoRecord::KeepTail(uint64_t offset, const std::string& bytes)
{
    if (!Active())
        return;
    m_tailOffset = offset;
    m_tail = bytes;
    Write(true);
}

void CUndoRecord::Write(bool replace)
{
    Record r;
    r.dev = static_cast<uint64_t>(m_dev);
    r.ino = static_cast<uint64_t>(m_ino);
    r.pid = static_cast<uint64_t>(getpid());
    r.start = StartTime(getpid());
    r.oldLength = m_oldLength;
    r.tailOffset = m_tailOffset;
    r.created = m_created;
    r.base = m_base;
    r.tail = m_tail;
    const std::string bytes = Encode(r);

    // Written under another name and renamed: the record's name only ever
    // shows a whole record.
    unlinkat(m_dirFd, m_tempName.c_str(), 0);
    const int fd = openat(m_dirFd, m_tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int err = errno;
        if (!replace && (err == EACCES || err == EPERM || err == EROFS)) {
            // A directory the run may not write to: it goes on as it always
            // did, without a record.
            close(m_dirFd);
            m_dirFd = -1;
            return;
        }
        throw CWriteExcept(m_shown, err);
    }
    if (m_owner != geteuid() && fchown(fd, m_owner, m_group) != 0) {
        // The record stays this user's, which the next run of this user takes.
    }
    bool done = WriteAll(fd, bytes.data(), bytes.size(), 0, false) && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && done) {
        done = false;
        err = errno;
    }
    if (done) {
        if (replace) {
            done = renameat(m_dirFd, m_tempName.c_str(), m_dirFd, m_recordName.c_str()) == 0;
        } else {
            // A file of that name that appeared meanwhile is never replaced.
            done = renameat2(m_dirFd, m_tempName.c_str(), m_dirFd, m_recordName.c_str(), RENAME_NOREPLACE) == 0;
            if (!done && (errno == EINVAL || errno == ENOSYS)) {
                done = linkat(m_dirFd, m_tempName.c_str(), m_dirFd, m_recordName.c_str(), 0) == 0;
                const int linkError = errno;
                unlinkat(m_dirFd, m_tempName.c_str(), 0);
                errno = linkError;
            }
        }
        err = errno;
    }
    done = done && SyncDirectory(m_dirFd);
    if (!done) {
        err = errno != 0 ? errno : err;
        unlinkat(m_dirFd, m_tempName.c_str(), 0);
        if (!replace) {
            close(m_dirFd);
            m_dirFd = -1;
        }
        throw CWriteExcept(m_shown, err);
    }
}

bool CUndoRecord::End(bool syncArchive)
{
    if (!Active())
        return true;
    if (syncArchive && m_lockFd >= 0 && fsync(m_lockFd) != 0 && errno != EINVAL)
        return false;
    if (unlinkat(m_dirFd, m_recordName.c_str(), 0) != 0 && errno != ENOENT)
        return false;
    // Were the removal lost, the next run would undo this one.
    if (!SyncDirectory(m_dirFd))
        return false;
    close(m_dirFd);
    m_dirFd = -1;
    return true;
}

bool CUndoRecord::PutBackBytes(int fd, uint64_t offset, const std::string& bytes, uint64_t oldLength)
{
    return WriteAll(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset), true) &&
           ftruncate(fd, static_cast<off_t>(oldLength)) == 0 && fsync(fd) == 0;
}

bool CUndoRecord::KilledRunLeftRecord(int fd)
{
    struct stat archive;
    Place place;
    if (fd < 0 || fstat(fd, &archive) != 0 || !S_ISREG(archive.st_mode) || !Locate(fd, archive, AT_FDCWD, "", place))
        return false;
    const int rfd = openat(place.dir, place.record.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (rfd < 0)
        return false;
    std::string bytes;
    const bool read = ReadRecord(rfd, bytes);
    close(rfd);
    Record r;
    return read && Decode(bytes, r) && r.base == place.base && r.dev == static_cast<uint64_t>(archive.st_dev) &&
           r.ino == static_cast<uint64_t>(archive.st_ino) && ProcessGone(r.pid, r.start);
}
