#include "app/undorecord.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/archivelock.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"

namespace {

// Names longer than this are shortened in the record's name and told apart
// by a checksum of the whole name.
constexpr size_t kLongestPlainBase = 200;
// Bytes of the archive's head, and of the window before the run's first
// write, that the record's checksums cover: enough to tell archives apart,
// little to read whatever the archive's size.
constexpr uint64_t kFingerprintSpan = 64 * 1024;
// A record holds the bytes a signing run writes over, at most what the
// archive held then; a run killed after it cut the archive at its new end
// may leave it shorter than that by what its new manifest entry is shorter
// than the old one.  A larger record is none this program wrote.
constexpr uint64_t kShrinkAllowance = 16 << 20;

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
        std::snprintf(sum, sizeof sum, ".%08x", static_cast<unsigned>(UndoChecksum(base.data(), base.size())));
        name.append(base, 0, kLongestPlainBase - 20);
        name.append(sum);
    }
    name.append(".undo");
    return name;
}

// Where the record of an archive lives: the directory that holds the
// archive itself (a link to it is followed), opened, and the names.
struct Place {
    int dir = -1;
    std::string base, record, temp, shownRecord;
    ~Place()
    {
        if (dir >= 0)
            close(dir);
    }
};

// The place for the name path (relative to atFd); with archive, only when
// that name is the archive itself.
bool TryPlace(int atFd, const std::string& path, const struct stat* archive, Place& place)
{
    std::string directory, base;
    SplitPath(path, directory, base);
    if (base.empty())
        return false;
    const int dir = openat(atFd, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    struct stat st;
    if (archive != nullptr && (fstatat(dir, base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
                               st.st_dev != archive->st_dev || st.st_ino != archive->st_ino)) {
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
    if (!path.empty() && TryPlace(dirFd, path, &archive, place))
        return true;
    char link[40];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char real[PATH_MAX];
    const ssize_t n = readlink(link, real, sizeof real - 1);
    if (n <= 0 || real[0] != '/')
        return false;
    return TryPlace(AT_FDCWD, std::string(real, static_cast<size_t>(n)), &archive, place);
}

// A file at a record's names is used, or removed, only when it is this
// user's or the archive owner's: another user's file there is not this
// run's to judge, nor to follow.
bool OwnersFile(const struct stat& st, uid_t archiveOwner)
{
    return st.st_uid == geteuid() || st.st_uid == archiveOwner;
}

// Exactly n bytes of fd from offset on into bytes; false (errno set) when
// fewer are there.
bool ReadAt(int fd, uint64_t offset, size_t n, std::string& bytes)
{
    bytes.resize(n);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = pread(fd, &bytes[got], n - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            if (r == 0)
                errno = EIO;
            return false;
        }
        got += static_cast<size_t>(r);
    }
    return true;
}

// The checksums of the archive open as fd that a record keeps for a run
// whose first write is at writeAt: of its head and of the window before
// writeAt.
bool Fingerprint(int fd, uint64_t writeAt, uint32_t& head, uint32_t& window)
{
    std::string bytes;
    if (!ReadAt(fd, 0, static_cast<size_t>(std::min(writeAt, kFingerprintSpan)), bytes))
        return false;
    head = UndoChecksum(bytes.data(), bytes.size());
    const uint64_t from = writeAt > kFingerprintSpan ? writeAt - kFingerprintSpan : 0;
    if (!ReadAt(fd, from, static_cast<size_t>(writeAt - from), bytes))
        return false;
    window = UndoChecksum(bytes.data(), bytes.size());
    return true;
}

// How much older than its record an archive the run wrote into may seem:
// file systems keep coarser times than the clock (down to two seconds).
constexpr int64_t kTimeSlack = 3;

uint64_t Now()
{
    struct timespec now { };
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec > 0 ? static_cast<uint64_t>(now.tv_sec) : 0;
}

// What the archive at a record's name holds, as far as the record can tell.
enum class Judged {
    kOther,     // not what the record's run left: a copy, another archive
    kWhole,     // all the run wrote: its first bytes, which it writes last, are there
    kAsBefore,  // the archive as the run found it (nothing written, or put back)
    kTorn,      // the run's writes, cut short: zeros still stand in for its first bytes
};

// Whether the n bytes at offset of fd are the first n of expected.
bool SameBytesAt(int fd, uint64_t offset, const std::string& expected)
{
    constexpr size_t kPiece = 64 * 1024;
    std::string piece;
    for (size_t at = 0; at < expected.size(); at += kPiece) {
        const size_t n = std::min(kPiece, expected.size() - at);
        if (!ReadAt(fd, offset + at, n, piece) || std::memcmp(piece.data(), expected.data() + at, n) != 0)
            return false;
    }
    return true;
}

// Judges the archive open as fd against the record r of a killed run.  A
// run writes zeros where its first bytes go, then the rest of its bytes,
// puts those on storage, and writes its first bytes last; a put-back cuts
// the archive to its old length before it writes the old bytes back.  So
// the bytes where the run's writes start tell its states apart: its first
// bytes once all of its writes are there; the old bytes, in an archive of
// the old length, before it wrote or once it was put back; zeros, its first
// bytes as far as their writing got, or the old bytes as far as a put-back
// got, where it was killed in between -- an archive no reader takes.  Any
// other archive at the name (a copy, another archive) is none of these.
Judged Judge(int fd, const struct stat& archive, const UndoRecordFields& r)
{
    if (r.dev != static_cast<uint64_t>(archive.st_dev) || r.ino != static_cast<uint64_t>(archive.st_ino))
        return Judged::kOther;
    const uint64_t size = static_cast<uint64_t>(archive.st_size);
    uint32_t head = 0, window = 0;
    if (size < r.writeAt || !Fingerprint(fd, r.writeAt, head, window) || head != r.headCrc || window != r.windowCrc)
        return Judged::kOther;
    const size_t present = static_cast<size_t>(std::min<uint64_t>(r.first.size(), size - r.writeAt));
    std::string now;
    if (!ReadAt(fd, r.writeAt, present, now))
        return Judged::kOther;
    if (!r.first.empty() && now == r.first)
        return Judged::kWhole;
    if (size == r.oldLength && SameBytesAt(fd, r.writeAt, r.tail))
        return Judged::kAsBefore;
    // Each byte is one of the run's, a zero standing in for it, or an old
    // one; and not all are old ones, or the archive is longer or shorter
    // than the old one with nothing of the run's at its place.
    bool touched = false;
    for (size_t i = 0; i < present; ++i) {
        const bool old = i < r.tail.size() && now[i] == r.tail[i];
        if (!old && now[i] != '\0' && now[i] != r.first[i])
            return Judged::kOther;
        touched = touched || !old;
    }
    if (!touched)
        return Judged::kOther;
    // The run, or a put-back of it, wrote into the archive after its record
    // was written: an archive older than the record was put there with a
    // time of its own (a copy that keeps its time).
    if (r.time <= static_cast<uint64_t>(INT64_MAX) &&
        static_cast<int64_t>(archive.st_mtim.tv_sec) + kTimeSlack < static_cast<int64_t>(r.time))
        return Judged::kOther;
    return Judged::kTorn;
}

// What a record's name holds.
enum class Found { kNone, kForeign, kRefused, kRecord };

// Looks at the record at place for an archive of archiveOwner that is
// archiveSize bytes long, from its file's status first: only a regular file
// of this user or the archive's owner, with no other name and writable by
// nobody else, is read, and only when it is no longer than a record of that
// archive can be.  kRefused sets why.
Found LookAtRecord(const Place& place, uid_t archiveOwner, uint64_t archiveSize, UndoRecordFields& r, const char*& why)
{
    struct stat st;
    if (fstatat(place.dir, place.record.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Found::kNone : (why = "can not be read", Found::kRefused);
    if (!OwnersFile(st, archiveOwner))
        return Found::kForeign;
    if (S_ISLNK(st.st_mode)) {
        why = "is a link";
        return Found::kRefused;
    }
    const int fd = openat(place.dir, place.record.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat seen = st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        why = "can not be read";
        return Found::kRefused;
    }
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        close(fd);
        why = "changed while it was read";
        return Found::kRefused;
    }
    if (!OwnersFile(st, archiveOwner)) {
        close(fd);
        return Found::kForeign;
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        close(fd);
        why = "is not a plain file that only its owner can write";
        return Found::kRefused;
    }
    // The fixed fields first: they tell how long the record is, which must
    // be the file's length, and no longer than a record of this archive
    // can be.  Only then is the rest read.
    const uint64_t longest = kUndoRecordFixedBytes + archiveSize + kShrinkAllowance;
    std::string bytes;
    bool read = ReadAt(fd, 0, kUndoRecordLeadBytes, bytes);
    const uint64_t length = read ? UndoRecordLength(bytes) : 0;
    read = length != 0 && length <= longest && st.st_size >= 0 && static_cast<uint64_t>(st.st_size) == length;
    if (read) {
        // One byte more than the file holds tells a record that grows.
        read = ReadAt(fd, 0, static_cast<size_t>(length), bytes);
        char more = 0;
        read = read && pread(fd, &more, 1, st.st_size) == 0;
    }
    close(fd);
    if (!read || !DecodeUndoRecord(bytes, r) || r.base != place.base) {
        why = "is damaged";
        return Found::kRefused;
    }
    return Found::kRecord;
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

// The directory refuses new files: the run goes on without a record there.
bool NotWritable(int err)
{
    return err == EACCES || err == EPERM || err == EROFS;
}

[[noreturn]] void Refuse(const std::string& shown, const Place& place, const char* why)
{
    const std::string record = KovShown(place.shownRecord);
    throw CExcept("KOVZEF: can not restore archive " + KovShown(shown) + ": its undo record " + record + " " + why +
                      "; nothing was changed; check the archive, then remove " + record + " to go on",
                  100, false);
}

// Removes the record at place for sure (on storage); false, errno set,
// when it is still there.
bool RemoveRecord(const Place& place)
{
    return (unlinkat(place.dir, place.record.c_str(), 0) == 0 || errno == ENOENT) && SyncDirectory(place.dir);
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
    m_written = false;
    m_hasTail = false;
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
        st.st_nlink == 1 && OwnersFile(st, archive.st_uid))
        unlinkat(place.dir, place.temp.c_str(), 0);

    UndoRecordFields r;
    const char* why = nullptr;
    switch (LookAtRecord(place, archive.st_uid, static_cast<uint64_t>(archive.st_size), r, why)) {
    case Found::kNone:
    case Found::kForeign:
        return Restored::kNothing;
    case Found::kRefused:
        Refuse(shown, place, why);
    case Found::kRecord:
        break;
    }
    if (!ProcessGone(r.pid, r.start))
        throw ArchiveBusyExcept(shown);
    const Judged judged = Judge(lockFd, archive, r);
    if (judged == Judged::kTorn) {
        const int out = openat(place.dir, place.base.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        if (out < 0)
            throw CWriteExcept(shown);
        struct stat target;
        bool done = fstat(out, &target) == 0 && target.st_dev == archive.st_dev && target.st_ino == archive.st_ino;
        if (!done)
            errno = ESTALE;
        done = done && PutBackBytes(out, r.writeAt, r.tail, r.oldLength);
        const int err = errno;
        close(out);
        if (!done)
            throw CWriteExcept(shown, err);  // the record stays for the next run
    }
    const std::string record = KovShown(place.shownRecord);
    const std::string named = KovShown(shown);
    if (!RemoveRecord(place)) {
        // The next run would judge the record again; this one writes
        // nothing, so that no record is left behind that could undo it.
        const int err = errno;
        std::string what;
        switch (judged) {
        case Judged::kTorn:
            what = "archive " + named + " was restored as it was before a run that was killed, but its undo record ";
            break;
        case Judged::kAsBefore:
            what = "archive " + named + " is as it was before a run that was killed, but its undo record ";
            break;
        case Judged::kWhole:
            what = "archive " + named + " holds all that a run that was killed wrote into it, but its undo record ";
            break;
        case Judged::kOther:
            what = "archive " + named + " no longer matches its undo record ";
            break;
        }
        throw CExcept("KOVZEF: " + what + record + " could not be removed; nothing more was written; remove " + record +
                          " to go on",
                      4, true, err);
    }
    switch (judged) {
    case Judged::kTorn:
    case Judged::kAsBefore:
        log.Write("KOVZEF: archive " + named + " was restored as it was before a run that was killed");
        return Restored::kPutBack;
    case Judged::kWhole:
        log.Write("KOVZEF: archive " + named + " holds all that a run that was killed wrote into it; its undo record " +
                  record + " was removed");
        return Restored::kKept;
    case Judged::kOther:
        break;
    }
    // Another file was put at the name since (a copy, an archive a create
    // made): the record says nothing about it.
    log.Write("KOVZEF: the undo record " + record + " of archive " + named +
              " no longer matched the archive and was removed; the archive was left as it is");
    return Restored::kDropped;
}

void CUndoRecord::DropRecordOfMissingArchive(int dirFd, const std::string& path, const std::string& shown)
{
    Place place;
    if (path.empty() || !TryPlace(dirFd, path, nullptr, place))
        return;
    UndoRecordFields r;
    const char* why = nullptr;
    switch (LookAtRecord(place, geteuid(), 0, r, why)) {
    case Found::kNone:
    case Found::kForeign:
        return;
    case Found::kRefused:
        Refuse(shown, place, why);
    case Found::kRecord:
        break;
    }
    // The archive the killed run wrote into is gone: nothing to put back.
    if (ProcessGone(r.pid, r.start) && !RemoveRecord(place)) {
        const std::string record = KovShown(place.shownRecord);
        throw CExcept("KOVZEF: the undo record " + record + " of archive " + KovShown(shown) +
                          ", which is gone, could not be removed; nothing was written; remove " + record + " to go on",
                      4, true, errno);
    }
}

void CUndoRecord::Begin(int lockFd, int dirFd, const std::string& path, const std::string& shown, uint64_t oldLength)
{
    Forget();
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
}

void CUndoRecord::KeepTail(uint64_t offset, const std::string& bytes)
{
    if (!Active())
        return;
    // The record on storage could no longer put back what the run writes
    // over from here on.
    if (m_written || offset > m_oldLength || bytes.size() != m_oldLength - offset)
        throw CWriteExcept(m_shown, EINVAL);
    m_hasTail = true;
    m_tailOffset = offset;
    m_tail = bytes;
}

void CUndoRecord::Watch(CFileStream& stream)
{
    if (Active())
        stream.WatchFirstWrite(this, kFirstBytes);
}

bool CUndoRecord::BeforeFirstWrite(const void* bytes, size_t n)
{
    if (!Active() || m_written)
        return true;
    try {
        UndoRecordFields r;
        r.dev = static_cast<uint64_t>(m_dev);
        r.ino = static_cast<uint64_t>(m_ino);
        r.pid = static_cast<uint64_t>(getpid());
        r.start = StartTime(getpid());
        r.oldLength = m_oldLength;
        r.writeAt = m_hasTail ? m_tailOffset : m_oldLength;
        r.base = m_base;
        r.tail = m_tail;
        r.first.assign(static_cast<const char*>(bytes), std::min(n, kFirstBytes));
        r.time = Now();
        // The archive is as the run found it up to its first write.
        if (!Fingerprint(m_lockFd, r.writeAt, r.headCrc, r.windowCrc))
            return false;
        return Write(EncodeUndoRecord(r));
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
}

bool CUndoRecord::WithoutRecord()
{
    Forget();
    return true;
}

bool CUndoRecord::Fill(int fd, const std::string& bytes) const
{
    if (m_owner != geteuid() && fchown(fd, m_owner, m_group) != 0) {
        // The record stays this user's, which the next run of this user takes.
    }
    return WriteAll(fd, bytes.data(), bytes.size(), 0, false) && fsync(fd) == 0;
}

bool CUndoRecord::Write(const std::string& bytes)
{
    // Written as a file without a name, which takes the record's name once
    // whole and on storage, so that no other name is needed (one that
    // another user may hold in a shared directory).
    const int anonymous = openat(m_dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (anonymous >= 0) {
        if (!Fill(anonymous, bytes)) {
            const int err = errno;
            close(anonymous);
            errno = err;
            return false;
        }
        const bool named = LinkOpenFile(anonymous, m_dirFd, m_recordName.c_str());
        const int err = errno;
        close(anonymous);
        if (named) {
            m_written = true;
            return SyncDirectory(m_dirFd);
        }
        if (err == EEXIST || NotWritable(err))
            return WithoutRecord();  // the name is another user's
        if (err != ENOENT) {
            errno = err;
            return false;
        }
        // No way to name it (no /proc): under a name of its own below.
    } else if (NotWritable(errno)) {
        return WithoutRecord();  // a directory the run may not write to
    }

    // Written under another name and renamed: the record's name only ever
    // shows a whole record.  That name, left by a run killed meanwhile, is
    // taken over; another user's file there is left alone.
    struct stat st;
    if (fstatat(m_dirFd, m_tempName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || !OwnersFile(st, m_owner))
            return WithoutRecord();
        unlinkat(m_dirFd, m_tempName.c_str(), 0);
    }
    const int fd = openat(m_dirFd, m_tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return NotWritable(errno) || errno == EEXIST ? WithoutRecord() : false;
    bool done = Fill(fd, bytes);
    int err = errno;
    if (close(fd) != 0 && done) {
        done = false;
        err = errno;
    }
    // A record name that another user took meanwhile is never replaced.
    if (done && !RenameWithoutReplacing(m_dirFd, m_tempName.c_str(), m_recordName.c_str())) {
        err = errno;
        unlinkat(m_dirFd, m_tempName.c_str(), 0);
        if (err == EEXIST)
            return WithoutRecord();
        done = false;
    }
    if (!done) {
        unlinkat(m_dirFd, m_tempName.c_str(), 0);
        errno = err;
        return false;
    }
    m_written = true;
    return SyncDirectory(m_dirFd);
}

bool CUndoRecord::End(bool syncArchive)
{
    if (!Active() || !m_written) {
        Forget();
        return true;
    }
    if (syncArchive && m_lockFd >= 0 && fsync(m_lockFd) != 0 && errno != EINVAL)
        return false;
    if (unlinkat(m_dirFd, m_recordName.c_str(), 0) != 0 && errno != ENOENT)
        return false;
    // Were the removal lost, the next run would undo this one.
    if (!SyncDirectory(m_dirFd))
        return false;
    Forget();
    return true;
}

bool CUndoRecord::PutBackBytes(int fd, uint64_t offset, const std::string& bytes, uint64_t oldLength)
{
    // Cut first: an archive being put back never holds bytes past its old
    // end, so that one that does is none a put-back left.
    return ftruncate(fd, static_cast<off_t>(oldLength)) == 0 &&
           WriteAll(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset), true) && fsync(fd) == 0;
}

bool CUndoRecord::KilledRunLeftRecord(int fd)
{
    struct stat archive;
    Place place;
    if (fd < 0 || fstat(fd, &archive) != 0 || !S_ISREG(archive.st_mode) || !Locate(fd, archive, AT_FDCWD, "", place))
        return false;
    UndoRecordFields r;
    const char* why = nullptr;
    return LookAtRecord(place, archive.st_uid, static_cast<uint64_t>(archive.st_size), r, why) == Found::kRecord &&
           ProcessGone(r.pid, r.start) && Judge(fd, archive, r) == Judged::kTorn;
}
