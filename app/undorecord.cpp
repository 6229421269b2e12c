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

#include "app/archivefile.h"
#include "app/archivelock.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/stalefiles.h"
#include "cslib/crc32.h"

namespace {

// Names longer than this are shortened in the record's name and told apart
// by a checksum of the whole name.
constexpr size_t kLongestPlainBase = 200;
// Bytes of the archive's head, and of the window before the run's first
// write, that the record's checksums cover: enough to tell archives apart,
// little to read whatever the archive's size.
constexpr uint64_t kFingerprintSpan = 64 * 1024;
// Between those two, the record's spread checksum covers this many pieces
// of this size.
constexpr uint64_t kSpreadPieces = 16;
constexpr uint64_t kSpreadPiece = 4096;
// The bytes of a write reach storage a sector at a time, whatever a power
// loss keeps of the write: where the run's first bytes go, each sector
// holds zeros, the run's bytes or the old bytes whole.
constexpr uint64_t kSector = 512;
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
    // shownDir: how messages show the directory, "" or ending with "/".
    std::string base, record, temp, shownDir, shownRecord;
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
    place.shownDir = path.find('/') == std::string::npos ? "" : directory == "/" ? directory : directory + "/";
    place.shownRecord = place.shownDir + place.record;
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
// whose first write is at writeAt: of its head, of the window before
// writeAt, and of kSpreadPieces pieces spread evenly over what lies between
// (none where the two meet).  What they cover is read whatever the
// archive's size: a copy of the archive on another inode is told by them.
bool Fingerprint(int fd, uint64_t writeAt, uint32_t& head, uint32_t& window, uint32_t& spread)
{
    std::string bytes;
    const uint64_t headEnd = std::min(writeAt, kFingerprintSpan);
    if (!ReadAt(fd, 0, static_cast<size_t>(headEnd), bytes))
        return false;
    head = UndoChecksum(bytes.data(), bytes.size());
    const uint64_t from = writeAt > kFingerprintSpan ? writeAt - kFingerprintSpan : 0;
    if (!ReadAt(fd, from, static_cast<size_t>(writeAt - from), bytes))
        return false;
    window = UndoChecksum(bytes.data(), bytes.size());
    uint32_t reg = 0xFFFFFFFFu;
    if (from > headEnd) {
        const uint64_t span = from - headEnd;
        const uint64_t piece = std::min(kSpreadPiece, span);
        const uint64_t step = (span - piece) / (kSpreadPieces - 1);
        for (uint64_t k = 0; k < kSpreadPieces; ++k) {
            if (!ReadAt(fd, headEnd + step * k, static_cast<size_t>(piece), bytes))
                return false;
            reg = CsCrc32Update(reg, bytes.data(), bytes.size());
        }
    }
    spread = reg ^ 0xFFFFFFFFu;
    return true;
}

uint64_t Now()
{
    struct timespec now { };
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec > 0 ? static_cast<uint64_t>(now.tv_sec) : 0;
}

// A record as read from its file, which stays open: its fields but the
// bytes written over, which are read from the file where they are needed,
// so that no record costs more memory than a piece of it, whatever its
// length.
struct Record {
    UndoRecordFields fields;
    int fd = -1;
    uint64_t tailAt = 0;
    // The record's file is another user's (its name's, for one that could
    // not be opened).
    bool others = false;
    Record() = default;
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    ~Record()
    {
        if (fd >= 0)
            close(fd);
    }
    uint64_t TailLength() const { return fields.oldLength - fields.writeAt; }
    // n bytes of those written over, from offset on.
    bool ReadTail(uint64_t offset, size_t n, std::string& out) const { return ReadAt(fd, tailAt + offset, n, out); }
};

// What the archive at a record's name holds, as far as the record can tell
// (the table in undorecord.h).
enum class Judged {
    kOther,       // not what the record's run left: a copy, another archive
    kWhole,       // all the run wrote: its first bytes, which it writes last, are there
    kAsBefore,    // the archive as the run found it (nothing written, or put back)
    kTorn,        // the run's writes, cut short: zeros still stand in for its first bytes
    kUnreadable,  // the archive could not be read to tell (errno set)
};

// Whether the archive open as fd holds the bytes the record r's run wrote
// over, from the run's first write to the old end: 1 when it does, 0 when
// not, -1 (errno set) when either could not be read.
int SameTailAt(int fd, const Record& r)
{
    std::string now, old;
    for (uint64_t at = 0; at < r.TailLength(); at += old.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kUndoRecordPiece, r.TailLength() - at));
        if (!r.ReadTail(at, n, old) || !ReadAt(fd, r.fields.writeAt + at, n, now))
            return -1;
        if (now != old)
            return 0;
    }
    return 1;
}

// Judges the archive open as fd against the record of a killed run, by its
// bytes alone: the same bytes in another file (a copy put at the name, cp
// then mv, a copy renamed over it) are judged as in the run's own file, and
// no clock decides.  A run writes zeros where its first bytes go (on
// storage before any other of its bytes when it writes inside the old
// length), then the rest of its bytes, puts those on storage, and writes its
// first bytes last; a put-back puts zeros back over those first bytes and
// syncs them, cuts the archive to its old length and syncs that, then writes
// the old bytes back.  So the bytes where the run's writes start tell its
// states apart: its first bytes once all of its writes are there; the old
// bytes, in an archive of the old length, before it wrote or once it was put
// back; zeros, its first bytes as far as their writing got, or the old bytes
// as far as a put-back got, where it was killed in between -- an archive no
// reader takes.  A sector there that holds none of these whole, or bytes
// before the place that are not those the run found, tell another file.
Judged Judge(int fd, const struct stat& archive, const Record& record)
{
    const UndoRecordFields& r = record.fields;
    const uint64_t size = static_cast<uint64_t>(archive.st_size);
    if (size < r.writeAt)
        return Judged::kOther;
    uint32_t head = 0, window = 0, spread = 0;
    if (!Fingerprint(fd, r.writeAt, head, window, spread))
        return Judged::kUnreadable;
    // A record of an earlier layout holds no spread checksum: it is judged
    // by what it holds, as the release that wrote it judged it.
    if (head != r.headCrc || window != r.windowCrc || (UndoRecordHoldsSpread(r.version) && spread != r.spreadCrc))
        return Judged::kOther;
    const size_t present = static_cast<size_t>(std::min<uint64_t>(r.first.size(), size - r.writeAt));
    std::string now, old;
    if (!ReadAt(fd, r.writeAt, present, now) ||
        !record.ReadTail(0, static_cast<size_t>(std::min<uint64_t>(present, record.TailLength())), old))
        return Judged::kUnreadable;
    if (!r.first.empty() && now == r.first)
        return Judged::kWhole;
    const bool oldLength = size == r.oldLength;
    if (oldLength) {
        const int same = SameTailAt(fd, record);
        if (same < 0)
            return Judged::kUnreadable;
        if (same == 1)
            return Judged::kAsBefore;
    }
    // Each sector holds zeros standing in for the run's bytes, the run's, or
    // old bytes, or one of them up to some byte and another behind it (a
    // write cut short there); a sector that changes more often holds
    // another file's bytes.  A run that writes inside the old length has its
    // zeros there on storage before any other byte it writes: bytes behind
    // the old end tell of the run only when some byte before it does.
    // Otherwise a file put at the name that holds the old archive and more
    // behind its end (a backup copied back) would be cut back whenever its
    // first bytes there happened to be zeros or equal to the run's.
    constexpr unsigned kZero = 1, kRuns = 2, kOld = 4;
    const auto kinds = [&](size_t i) {
        return (now[i] == '\0' ? kZero : 0) | (now[i] == r.first[i] ? kRuns : 0) |
               (i < old.size() && now[i] == old[i] ? kOld : 0);
    };
    // Where the bytes from 'from' on stop being of kind.
    const auto runOf = [&](size_t from, size_t to, unsigned kind) {
        while (from < to && (kinds(from) & kind) != 0)
            ++from;
        return from;
    };
    bool touched = false;
    for (size_t from = 0; from < present;) {
        size_t to = std::min<size_t>(present, from + static_cast<size_t>(kSector - (r.writeAt + from) % kSector));
        if (from < old.size() && to > old.size())
            to = old.size();
        size_t split = from;
        for (unsigned kind : {kZero, kRuns, kOld})
            split = std::max(split, runOf(from, to, kind));
        if (split != to && runOf(split, to, kZero) != to && runOf(split, to, kRuns) != to &&
            runOf(split, to, kOld) != to)
            return Judged::kOther;
        const bool same = runOf(from, to, kOld) == to;
        if (!same && (from < old.size() || record.TailLength() == 0))
            touched = true;
        from = to;
    }
    // Nothing but old bytes at the place: an archive of the old length
    // holds a put-back that a power loss cut short after the old bytes' first
    // pages reached storage and before the rest did (the run's own zeros
    // reach storage before its other bytes); a longer or shorter one holds
    // nothing of the run's there.
    return touched || oldLength ? Judged::kTorn : Judged::kOther;
}

// What a record's name holds.
enum class Found { kNone, kForeign, kRefused, kRecord };

// Looks at the record at place for an archive of archiveOwner that is
// archiveSize bytes long, from its file's status first: only a regular file
// of this user or the archive's owner, with no other name and writable by
// nobody else, is read, and only when it is no longer than a record of that
// archive can be; it is read in pieces, and r keeps it open.  kRefused sets
// why.
Found LookAtRecord(const Place& place, uid_t archiveOwner, uint64_t archiveSize, Record& r, const char*& why)
{
    struct stat st;
    if (fstatat(place.dir, place.record.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? Found::kNone : (why = "can not be read", Found::kRefused);
    if (!OwnersFile(st, archiveOwner))
        return Found::kForeign;
    r.others = st.st_uid != geteuid();
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
    // can be.  Only then is the rest read, a piece at a time.
    r.fd = fd;
    const uint64_t longest = kUndoRecordFixedBytes + archiveSize + kShrinkAllowance;
    std::string lead;
    const uint64_t length = ReadAt(fd, 0, kUndoRecordLeadBytes, lead) ? UndoRecordLength(lead) : 0;
    const auto fromFile = [fd](uint64_t offset, size_t n, std::string& out) { return ReadAt(fd, offset, n, out); };
    char more = 0;
    // One byte more than the file holds tells a record that grows.
    if (length == 0 || length > longest || st.st_size < 0 || static_cast<uint64_t>(st.st_size) != length ||
        !DecodeUndoRecordFrom(fromFile, length, r.fields, r.tailAt) || pread(fd, &more, 1, st.st_size) != 0 ||
        r.fields.base != place.base) {
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

// Puts the archive open as fd back as it was before a run: its length cut
// to oldLength, then the length bytes the run wrote over, which read gives,
// at offset, and all on storage.  Where the run wrote over old bytes, the
// firstLength bytes at offset, where its first bytes may stand, are zeros on
// storage first: a put-back cut short after the cut would otherwise leave
// the run's first bytes in an archive of the old length, which reads as
// whole and is not.  The cut is on storage before any old byte goes back: a
// power loss that kept those bytes and dropped the cut would leave the
// killed run's bytes behind the old end, which no record judges as a
// put-back.  A run that wrote over nothing needs neither: its bytes all lie
// behind the cut.
bool PutBack(int fd, uint64_t offset, uint64_t length, const UndoRecordReader& read, uint64_t oldLength,
             size_t firstLength)
{
    if (oldLength > static_cast<uint64_t>(INT64_MAX)) {
        errno = EFBIG;
        return false;
    }
    if (length != 0 && firstLength != 0) {
        struct stat st;
        if (fstat(fd, &st) != 0)
            return false;
        const uint64_t size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
        const size_t n = size > offset ? static_cast<size_t>(std::min<uint64_t>(firstLength, size - offset)) : 0;
        const std::string zeros(n, '\0');
        if (!WriteAll(fd, zeros.data(), n, static_cast<off_t>(offset), true) || fdatasync(fd) != 0)
            return false;
    }
    if (ftruncate(fd, static_cast<off_t>(oldLength)) != 0 || (length != 0 && fsync(fd) != 0))
        return false;
    std::string piece;
    for (uint64_t at = 0; at < length; at += piece.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kUndoRecordPiece, length - at));
        if (!read(at, n, piece) || !WriteAll(fd, piece.data(), n, static_cast<off_t>(offset + at), true))
            return false;
    }
    return fsync(fd) == 0;
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

// Removes the record's fallback file name of dirFd that a killed run left:
// a regular file of this user or of the archive's owner, with no other
// name, that bears the mark of the file made under that name (see
// MarkTransient), or that a run was killed with before it bore it.
// Anything else there stays: a file the user named so, a copy of one,
// another user's.  Only runs that hold the archive's lock write under that
// name, and this one holds it.  True when the name is free.
bool RemoveLostTemp(int dirFd, const std::string& name, uid_t archiveOwner)
{
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat st, named;
    const bool lost = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && OwnersFile(st, archiveOwner) &&
                      LeftByKilledRun(fd, name);
    close(fd);
    return lost && fstatat(dirFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev &&
           named.st_ino == st.st_ino && unlinkat(dirFd, name.c_str(), 0) == 0;
}

// Adds the sentence note to failure's message, set off from its end.
void AddSentence(CExcept& failure, const std::string& note)
{
    const std::string& said = failure.GetMessage();
    failure.AddNote((said.empty() || said.back() == ' ' ? "" : said.back() == '.' ? " " : ". ") + note);
}

std::string UnusableNote(const Place& place)
{
    return "A run writing it may have been killed: its undo record " + KovShown(place.shownRecord) +
           ", which this user can not use, restores it at the next run of that record's owner that writes to it as " +
           KovShown(place.shownDir + place.base) + ".";
}

// What keeps the data of an archive that reads torn while its record can
// not be used, and what puts it back.
constexpr const char* kTornKeeps = "the entries before the tear still extract with -x, and a copy of the archive "
                                   "from before that run puts it back";

// What a reader of a torn archive is told of a record of this user's that
// is refused (why says how): never that another user's run restores it.
std::string RefusedNote(const Place& place, const char* why)
{
    return "A run writing it may have been killed: its undo record " + KovShown(place.shownRecord) + " " + why + "; " +
           kTornKeeps + ".";
}

// Refuses a record that can not be used (why says how); othersRecord: the
// record is another user's, whose next run judges the archive by it, so
// that this user is told what a reader is told: removing it would leave an
// archive it puts right torn for good.  A record of this user's is to be
// removed once the archive is checked, unless the archive reads torn
// (torn): what keeps its data is said then, removing it put nothing right.
[[noreturn]] void Refuse(const std::string& shown, const Place& place, const char* why, bool othersRecord, bool torn)
{
    const std::string record = KovShown(place.shownRecord);
    const std::string refused = "KOVZEF: can not restore archive " + KovShown(shown) + ": its undo record " + record +
                                " " + why + "; nothing was changed";
    if (!othersRecord && torn)
        throw CExcept(refused + "; the archive reads torn: a run writing it may have been killed; " + kTornKeeps, 100,
                      false);
    if (!othersRecord)
        throw CExcept(refused + "; check the archive, then remove " + record + " to go on", 100, false);
    CExcept refusal(refused, 100, false);
    AddSentence(refusal, UnusableNote(place));
    throw refusal;
}

// Removes the record at place for sure (on storage); false, errno set,
// when it is still there.
bool RemoveRecord(const Place& place)
{
    return (unlinkat(place.dir, place.record.c_str(), 0) == 0 || errno == ENOENT) && SyncDirectory(place.dir);
}

// What a reader of the torn archive open as fd learns from the record at
// place.
enum class Seen {
    kNothing,   // no record, or one of a run still going on or of other bytes
    kKilled,    // the record of a killed run whose writes are cut short there
    kUnusable,  // a record this user can not read or trust: another user's, say
    kRefused,   // a record of this user's that is refused (damaged, say): why says how
};

Seen Look(int fd, const struct stat& archive, const Place& place, const char*& why)
{
    Record r;
    switch (LookAtRecord(place, archive.st_uid, static_cast<uint64_t>(archive.st_size), r, why)) {
    case Found::kNone:
        return Seen::kNothing;
    case Found::kForeign:
        return Seen::kUnusable;
    case Found::kRefused:
        return r.others ? Seen::kUnusable : Seen::kRefused;
    case Found::kRecord:
        break;
    }
    return ProcessGone(r.fields.pid, r.fields.start) && Judge(fd, archive, r) == Judged::kTorn ? Seen::kKilled
                                                                                               : Seen::kNothing;
}

// Whether the archive open as fd reads as torn, as a reader would find it.
bool ReadsTorn(int fd)
{
    char path[40];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return ArchiveReadsTorn(path);
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
    m_writeAt = 0;
    m_first.clear();
}

CUndoRecord::Restored CUndoRecord::PutBackKilledRun(int lockFd, int dirFd, const std::string& path,
                                                    const std::string& shown, CLogMan& log)
{
    struct stat archive;
    Place place;
    if (lockFd < 0 || fstat(lockFd, &archive) != 0 || !Locate(lockFd, archive, dirFd, path, place))
        return Restored::kNothing;
    // What a run killed while it wrote its record under the fallback name
    // left: it had not written into the archive yet.
    RemoveLostTemp(place.dir, place.temp, archive.st_uid);

    Record r;
    const char* why = nullptr;
    switch (LookAtRecord(place, archive.st_uid, static_cast<uint64_t>(archive.st_size), r, why)) {
    case Found::kNone:
    case Found::kForeign:
        return Restored::kNothing;
    case Found::kRefused:
        Refuse(shown, place, why, r.others, !r.others && ReadsTorn(lockFd));
    case Found::kRecord:
        break;
    }
    if (!ProcessGone(r.fields.pid, r.fields.start))
        throw ArchiveBusyExcept(shown);
    const Judged judged = Judge(lockFd, archive, r);
    const int judgedErr = errno;
    const std::string record = KovShown(place.shownRecord);
    const std::string named = KovShown(shown);
    // The record stays while the archive reads as torn by it, or can not be
    // read to tell: only the record puts it right.
    if (judged == Judged::kUnreadable) {
        CReadExcept failure(shown, judgedErr);
        AddSentence(failure, "Its undo record " + record + " stays for the next run that writes to it.");
        throw failure;
    }
    if (judged == Judged::kTorn) {
        const int out = openat(place.dir, place.base.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        bool done = out >= 0;
        struct stat target;
        if (done && (fstat(out, &target) != 0 || target.st_dev != archive.st_dev || target.st_ino != archive.st_ino)) {
            done = false;
            errno = ESTALE;
        }
        const auto fromRecord = [&r](uint64_t offset, size_t n, std::string& bytes) {
            return r.ReadTail(offset, n, bytes);
        };
        done = done &&
               PutBack(out, r.fields.writeAt, r.TailLength(), fromRecord, r.fields.oldLength, r.fields.first.size());
        const int err = errno;
        if (out >= 0)
            close(out);
        if (!done) {
            CWriteExcept failure(shown, err);
            AddSentence(failure, "A run writing it was killed; its undo record " + record +
                                     " stays and restores it at the next run that writes to it.");
            throw failure;
        }
    }
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
        case Judged::kUnreadable:
            what = "archive " + named + " no longer matches its undo record ";
            break;
        }
        throw CExcept("KOVZEF: " + what + record + " could not be removed; nothing more was written; remove " + record +
                          " to go on",
                      4, true, err);
    }
    switch (judged) {
    case Judged::kTorn:
        log.Write("KOVZEF: archive " + named + " was restored as it was before a run that was killed");
        return Restored::kPutBack;
    case Judged::kAsBefore:
        log.Write("KOVZEF: archive " + named + " is as it was before a run that was killed; its undo record " + record +
                  " was removed");
        return Restored::kPutBack;
    case Judged::kWhole:
        log.Write("KOVZEF: archive " + named + " holds all that a run that was killed wrote into it; its undo record " +
                  record + " was removed");
        return Restored::kKept;
    case Judged::kOther:
    case Judged::kUnreadable:
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
    Record r;
    const char* why = nullptr;
    switch (LookAtRecord(place, geteuid(), 0, r, why)) {
    case Found::kNone:
    case Found::kForeign:
        return;
    case Found::kRefused:
        Refuse(shown, place, why, r.others, false);
    case Found::kRecord:
        break;
    }
    // The archive the killed run wrote into is gone: nothing to put back.
    if (ProcessGone(r.fields.pid, r.fields.start) && !RemoveRecord(place)) {
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
        if (!Fingerprint(m_lockFd, r.writeAt, r.headCrc, r.windowCrc, r.spreadCrc) || !Write(EncodeUndoRecord(r)))
            return false;
        m_writeAt = r.writeAt;
        m_first = std::move(r.first);
        return true;
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
    // taken over when it bears the mark of the file made under it; anything
    // else there (another user's file, one of the user's own) is left alone.
    if (!RemoveLostTemp(m_dirFd, m_tempName, m_owner))
        return WithoutRecord();
    // Marked as made under that name before it holds anything, and told
    // for a lost one by its sticky bit until then (where the file system
    // keeps no mark, a killed run's file stays for good).
    const int fd = MakeNamedTransient(m_dirFd, m_tempName.c_str(), 0600);
    if (fd < 0)
        return NotWritable(errno) || errno == EEXIST ? WithoutRecord() : false;
    bool done = Fill(fd, bytes);
    int err = errno;
    // A record name that another user took meanwhile is never replaced.
    if (done && !RenameWithoutReplacing(m_dirFd, m_tempName.c_str(), m_recordName.c_str())) {
        err = errno;
        unlinkat(m_dirFd, m_tempName.c_str(), 0);
        close(fd);
        if (err == EEXIST)
            return WithoutRecord();
        errno = err;
        return false;
    }
    // Named as the record, the mark no longer fits it.
    const bool named = done;
    if (named)
        UnmarkTransient(fd);
    if (close(fd) != 0 && done) {
        done = false;
        err = errno;
    }
    if (!done) {
        unlinkat(m_dirFd, named ? m_recordName.c_str() : m_tempName.c_str(), 0);
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
    // Zeros still standing in for the run's first bytes would leave the
    // archive torn for good once the record is gone: it stays for the put-back.
    std::string now;
    if (!ReadAt(m_lockFd, m_writeAt, m_first.size(), now))
        return false;
    if (now != m_first) {
        errno = EIO;
        return false;
    }
    return EndPutBack();
}

bool CUndoRecord::EndPutBack()
{
    if (!Active() || !m_written) {
        Forget();
        return true;
    }
    if (unlinkat(m_dirFd, m_recordName.c_str(), 0) != 0 && errno != ENOENT)
        return false;
    // Were the removal lost, the next run would undo this one.
    if (!SyncDirectory(m_dirFd))
        return false;
    Forget();
    return true;
}

bool CUndoRecord::PutBackBytes(int fd, uint64_t offset, const std::string& bytes, uint64_t oldLength,
                               size_t firstLength)
{
    const auto fromMemory = [&bytes](uint64_t at, size_t n, std::string& out) {
        out.assign(bytes, static_cast<size_t>(at), n);
        return true;
    };
    return PutBack(fd, offset, bytes.size(), fromMemory, oldLength, firstLength);
}

std::string CUndoRecord::TornArchiveNote(int fd, const std::string& path)
{
    struct stat archive;
    Place place;
    if (fd < 0 || fstat(fd, &archive) != 0 || !S_ISREG(archive.st_mode) || !Locate(fd, archive, AT_FDCWD, path, place))
        return {};
    const char* why = nullptr;
    switch (Look(fd, archive, place, why)) {
    case Seen::kKilled:
        return "A run writing it was killed; the next run that writes to it restores it.";
    case Seen::kUnusable:
        return UnusableNote(place);
    case Seen::kRefused:
        return RefusedNote(place, why);
    case Seen::kNothing:
        break;
    }
    // The record of the archive under another of its names in the same
    // directory (a second hard link), for which the next run through that
    // name puts it back.
    std::string note;
    VisitDirectoryNames(place.dir, [&](const char* entry) {
        const std::string name(entry);
        constexpr size_t kSuffix = sizeof ".undo" - 1;
        if (name.size() <= kSuffix + 1 || name[0] != '.' || name.compare(name.size() - kSuffix, kSuffix, ".undo") != 0)
            return true;
        const std::string base = name.substr(1, name.size() - kSuffix - 1);
        Place other;
        if (base == place.base || RecordNameFor(base) != name || !TryPlace(place.dir, base, &archive, other))
            return true;
        other.shownDir = place.shownDir;
        other.shownRecord = other.shownDir + other.record;
        switch (Look(fd, archive, other, why)) {
        case Seen::kKilled:
            note = "A run writing it was killed; the next run that writes to it as " +
                   KovShown(other.shownDir + other.base) + " restores it from its undo record " +
                   KovShown(other.shownRecord) + ".";
            return false;
        case Seen::kUnusable:
            note = UnusableNote(other);
            return false;
        case Seen::kRefused:
            note = RefusedNote(other, why);
            return false;
        case Seen::kNothing:
            return true;
        }
        return true;
    });
    return note;
}
