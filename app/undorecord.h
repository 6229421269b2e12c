// The undo record of a run that writes into an existing archive (append,
// merge, signing): a hidden file beside the archive, ".<name>.undo", that
// holds what puts the archive back as it was before the run -- its old
// length and the bytes the run writes over (the old manifest entry of a
// signing run) -- and what tells the bytes that run left from any other
// file put at the archive's name since: checksums of the archive's bytes
// before the run's first write as the run found them (its first 64 KiB,
// the 64 KiB right before that offset, and 16 pieces of 4 KiB spread
// evenly between: see Fingerprint), and the first bytes the run writes
// there (up to kFirstBytes).  The record goes on storage right before the
// run's first write into the archive (the archive stream hands over those
// first bytes) and is removed when the run ends, whether it succeeded or
// failed cleanly.  Those first bytes are the last the stream puts in, once
// all else it wrote is on storage; zeros stand in for them until then, so
// that an archive whose run was cut short reads as torn, and no other run
// appends to it.  A put-back (of a run that failed, or of a killed one)
// puts zeros back over those first bytes and syncs them before it cuts the
// archive to its old length, syncs the cut, then writes the old bytes back
// and syncs them.  A record whose process is gone was left by a run killed
// outright (SIGKILL, the out-of-memory killer, a power loss); the next run
// that locks the archive judges the archive at the record's name by it,
// before it goes on, by the archive's bytes alone, whatever its inode (a
// copy put at the name, cp then mv, is judged as the run's own file):
//
//   W: the offset of the run's first write, O: the old length, F: the run's
//   first bytes (f of them), T: the old bytes from W to O (none for a run
//   that only adds behind the old end); "at W": the bytes from W on, as far
//   as f and the archive's end allow, a sector (512 bytes of the file) at a
//   time.
//
//   bytes before W    length     at W                            judged, and what the run does
//   ---------------   --------   -----------------------------   ------------------------------------
//   not as found      any        any                             another file: left as it is, record goes
//   (or length < W)
//   as found          any        F, all f bytes                  whole: kept, record goes
//   as found          O          T, and T up to O                as before: left so, record goes
//   as found          any        each sector zeros, F or T, or   torn (killed between zeros and F, a
//                                one of them and another behind  copy of that, a put-back cut short
//                                it; some sector before O not T  before its old bytes): put back,
//                                (or any byte, when T is empty)  then the record goes
//   as found          O          T, but not T up to O            torn (a put-back cut short within
//                                                                its old bytes): put back, record goes
//   as found          not O      T, up to the end or O           another file (the old archive with
//                                                                more behind it, a backup): left as
//                                                                it is, record goes
//   as found          any        a sector that is none of these  another file: left as it is, record goes
//   can not be read                                              record kept, the run refused (5)
//   as found          any        torn as above, but the archive  record kept, the run refused (4)
//                                can not be written to
//
// "As found" is told by the record's checksums (those of a record of the
// earlier layout, which the two releases before this one wrote, hold no
// spread checksum: its head and window tell).  The inode is no column:
// each row holds for the run's own file and for a copy on another alike.
// Nor is the archive's time (a file server may set it by its own clock, a
// copy gets a time of its own): the killed run's zeros at its place, behind
// the bytes it found there, are that run's in whatever file holds them.
// The record lives beside the name the run was given (beside the file a
// symbolic link there leads to): a run through another hard link of the
// archive does not see it and fails on the torn archive, changing nothing;
// only a run through the same name puts the archive back.
// The states each step leaves: before the zeros, as before; after them and
// until the first bytes are whole, torn (a power loss keeps any sectors of
// what was not synced); then whole.  A put-back: zeros over the first
// bytes, torn; after its cut, torn; as its old bytes go in, torn; then as
// before.  So the record goes only once the archive is known whole or put
// back, or holds another file; the refusals name the record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

#include "app/filestream.h"
#include "app/undorecordformat.h"

class CLogMan;

class CUndoRecord : public IFirstWrite {
public:
    // How many of the run's first bytes the record keeps.
    static constexpr size_t kFirstBytes = kUndoFirstBytes;

    CUndoRecord() = default;
    // Closes the directory; a record still there stays (a run that could
    // not end cleanly leaves it for the next one).
    ~CUndoRecord() override;
    CUndoRecord(const CUndoRecord&) = delete;
    CUndoRecord& operator=(const CUndoRecord&) = delete;

    enum class Restored { kNothing, kPutBack, kKept, kDropped };
    // Under the archive's lock (lockFd: the locked archive, path: its name
    // relative to dirFd, shown: its name in messages), for the record of a
    // run that wrote into the archive and was killed: when the archive
    // holds that run's writes cut short, puts it back from the record, and
    // when it is as the run found it, leaves it so (kPutBack); when it holds
    // all the run wrote, keeps it (kKept); when it holds anything else,
    // leaves it as it is (kDropped) -- as the table above has it.  In each
    // case the record goes and one line says so through log; a record that
    // can not be removed ends the run (CExcept, status 4), so that it writes
    // nothing a later look at the record could undo.  A torn archive that
    // can not be put back, or an archive that can not be read, keeps its
    // record (CWriteExcept, 4; CReadExcept, 5; both name the record).  A name
    // another user holds is left alone and never used (kNothing).  A record
    // that is damaged or that others may have written is refused (CExcept,
    // status 100): one of this user's saying which file to remove once the
    // archive is checked, or, while the archive reads torn, what keeps its
    // data and what puts it back instead; one of another user's (that this
    // user can not read, say) saying what a reader is told, that its owner's
    // next run restores the archive.  One whose process still runs means
    // another run (status 6).  Each leaves everything as it was.  A file at
    // the record's fallback name (".<name>.undo.new") goes only when it
    // bears the mark of a killed run's (see MarkTransient).
    static Restored PutBackKilledRun(int lockFd, int dirFd, const std::string& path, const std::string& shown,
                                     CLogMan& log);
    // The same for a name that holds no archive (before a run makes one):
    // the record of a killed run goes without a word, a refused one or one
    // that can not be removed throws as above before anything is made.
    static void DropRecordOfMissingArchive(int dirFd, const std::string& path, const std::string& shown);

    // Readies the record of a run about to write into the locked archive
    // (old length oldLength); nothing is written yet.  Where there is no
    // place for a record the run goes on without one.  (An append-only
    // archive, which neither first bytes put in last nor a put-back could
    // reach, is refused before.)
    void Begin(int lockFd, int dirFd, const std::string& path, const std::string& shown, uint64_t oldLength);
    // A run that will write over the end of the archive from offset on
    // (bytes: what stands there up to the old end) records those bytes
    // too; before its first write only (CWriteExcept after it).
    void KeepTail(uint64_t offset, const std::string& bytes);
    // Has stream, open on the archive, hand this record the run's first
    // bytes before they reach the archive (nothing without a record).
    void Watch(CFileStream& stream);
    // Puts the record on storage, with the first n of bytes and the
    // archive's checksums.  Where the directory takes no file, or another
    // user holds the record's name, the run goes on without a record.
    // False, errno set, when the record could not be written.
    bool BeforeFirstWrite(const void* bytes, size_t n) override;
    // Only a run with a record on storage has its first bytes put in last:
    // without one, zeros left by a killed run would stay for good.
    bool FirstBytesLast() const override { return m_written; }
    // The run has ended and the archive holds all its writes: removes the
    // record and puts its removal on storage.  syncArchive: the archive's
    // own bytes are put on storage first.  The record stays, false with
    // errno set, while the archive does not show the run's first bytes (only
    // the record could put such an archive back), and when it could not be
    // removed for sure; true, doing nothing, when none was written.
    bool End(bool syncArchive);
    // The same once the archive was put back as it was (PutBackBytes).
    bool EndPutBack();
    bool Active() const { return m_dirFd >= 0; }
    // Lets go of the record without removing it (as the destructor does).
    void Forget();

    // For a run reading the archive open as fd (named path, "" when not
    // known) that met the end of its data too early, or zeros where an entry
    // should begin: the sentence that tells of the record beside the archive
    // that puts it right, where one is found -- a killed run's record that
    // the archive fits, beside this name or another name of the archive in
    // its directory, a record another user's run uses, or one of this
    // user's that is refused (then what keeps the data); empty when there
    // is none.
    static std::string TornArchiveNote(int fd, const std::string& path);

    // Puts an archive open as fd (for writing) back as it was before a run:
    // where the run wrote over bytes, zeros over its firstLength first bytes
    // at offset, then its length cut to oldLength, then the bytes it wrote
    // over at offset, and all on storage, each step before the next (see the
    // table above).  False, errno set, when any step fails.
    static bool PutBackBytes(int fd, uint64_t offset, const std::string& bytes, uint64_t oldLength, size_t firstLength);
    // How many first bytes of the run the record on storage holds (0 when
    // none is written): what a put-back of the run puts zeros over first.
    size_t FirstBytesOnRecord() const { return m_written ? m_first.size() : 0; }

private:
    // Gives the record's name to a whole record of bytes, on storage.
    bool Write(const std::string& bytes);
    // Writes bytes into the new record file fd and puts them on storage.
    bool Fill(int fd, const std::string& bytes) const;
    // No record for this run after all: true.
    bool WithoutRecord();

    int m_dirFd = -1;
    int m_lockFd = -1;
    bool m_written = false;
    bool m_hasTail = false;
    std::string m_recordName;
    std::string m_tempName;
    std::string m_base;
    std::string m_shown;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
    uint64_t m_oldLength = 0;
    uint64_t m_tailOffset = 0;
    std::string m_tail;
    // Where the run's first bytes go, and those bytes, once on record.
    uint64_t m_writeAt = 0;
    std::string m_first;
};
