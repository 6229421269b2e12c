// The undo record of a run that writes into an existing archive (append,
// merge, signing): a hidden file beside the archive, ".<name>.undo", that
// holds what puts the archive back as it was before the run -- its old
// length, whether the run created it, and the bytes the run writes over (the
// old manifest entry of a signing run).  The record is on storage before the
// run's first write and is removed when the run ends, whether it succeeded
// or failed cleanly.  A record whose process is gone was left by a run killed
// outright (SIGKILL, the out-of-memory killer, a power loss); the next run
// that locks the archive puts the archive back from it before it goes on.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

class CLogMan;

class CUndoRecord {
public:
    CUndoRecord() = default;
    // Closes the directory; a record still there stays (a run that could
    // not end cleanly leaves it for the next one).
    ~CUndoRecord();
    CUndoRecord(const CUndoRecord&) = delete;
    CUndoRecord& operator=(const CUndoRecord&) = delete;

    enum class Restored { kNothing, kPutBack, kRemoved };
    // Under the archive's lock (lockFd: the locked archive, path: its name
    // relative to dirFd, shown: its name in messages): when a run that wrote
    // into the archive was killed, puts the archive back from its record
    // (kPutBack), or removes it when that run had created it (kRemoved; the
    // caller then locks the name again), and writes one line through log.
    // A record left for a file that no longer has the name is removed.  A
    // record that is damaged or not this user's is refused (CExcept, status
    // 100) and one whose process still runs means another run (status 6);
    // both leave everything as it was.
    static Restored PutBackKilledRun(int lockFd, int dirFd, const std::string& path, const std::string& shown,
                                     CLogMan& log);

    // Before the run's first write into the locked archive: writes the
    // record (old length, created by this run) and puts it on storage.
    // Where the directory takes no file the run goes on without one; other
    // failures throw CWriteExcept naming shown, with nothing written.
    void Begin(int lockFd, int dirFd, const std::string& path, const std::string& shown, uint64_t oldLength,
               bool created);
    // A run about to write over the end of the archive from offset on
    // (bytes: what stands there up to the old end) records those bytes
    // first.  CWriteExcept when that fails.
    void KeepTail(uint64_t offset, const std::string& bytes);
    // The run has ended and the archive holds what it should (the run's
    // writes, or the archive as it was): removes the record and puts its
    // removal on storage.  syncArchive: the archive's own bytes are put on
    // storage first.  False (errno set) when the record could not be
    // removed for sure; true, doing nothing, without a record.
    bool End(bool syncArchive);
    bool Active() const { return m_dirFd >= 0; }
    // Lets go of the record without removing it (as the destructor does).
    void Forget();

    // For a run reading the archive open as fd that met the end of its data
    // too early: true when a killed run's record of this archive is there,
    // so that the next run that writes into the archive will put it back.
    static bool KilledRunLeftRecord(int fd);

    // Puts an archive open as fd (for writing) back as it was before a run:
    // the bytes it wrote over at offset, its length cut to oldLength, and
    // all on storage.  False, errno set, when any step fails.
    static bool PutBackBytes(int fd, uint64_t offset, const std::string& bytes, uint64_t oldLength);

private:
    void Write(bool replace);

    int m_dirFd = -1;
    int m_lockFd = -1;
    std::string m_recordName;
    std::string m_tempName;
    std::string m_base;
    std::string m_shown;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
    uint64_t m_oldLength = 0;
    bool m_created = false;
    uint64_t m_tailOffset = 0;
    std::string m_tail;
};
