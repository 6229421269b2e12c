// The application object: a process-wide singleton that owns the log manager,
// the options, the archive name, the run statistics and the exit status,
// prepares a run and dispatches on the command code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>

#include "app/archivelock.h"
#include "app/undorecord.h"

struct stat;

class CFileStream;
class CLogMan;
class COptions;
class CStatistics;

// Size of the archive name buffer and of the working-directory text.
inline constexpr std::size_t KOV_PATH_BUFFER = 4352;

// Set when an inaccessible input file spoils the archive being written (no
// option i); the entry writer then adds no further entries.
extern bool g_abandonArchive;

class CApplication {
public:
    // The one application object, built on first use.
    static CApplication& Instance();
    // Destroys the application object (main does so just before returning).
    static void Destroy();

    // Runs body inside the program's handlers: a CExcept prints its text (its
    // code is the status already), string range and length errors print their
    // line with status 33 or 34, an allocation failure 2, anything else 32.
    // Returns the exit status then held by the application object.
    static int32_t RunGuarded(const std::function<void()>& body);

    // Prepares the run and executes one command; throws what the command throws.
    void Run();
    // With -e redirects standard output to "kovzef_output"; reads the list files.
    void PrepareOutput();
    // Runs the consistency checks, then fills the archive name buffer.
    void InitArchiveName();
    // An append with no names to add (which the checks refuse with 29)
    // puts the archive back from the undo record of a run that was killed
    // while it wrote into it, adding nothing: true when that record was
    // judged and went with the archive put back, found as before or whole
    // (the run then ends with 0), false when there was nothing to judge, it
    // fitted another file, or the archive could not be locked (the checks
    // then refuse the run as before).  A record that is refused, or an
    // archive that can not be read or put back, fails as for any writing run.
    bool PutBackWithoutAdding();
    // Sends every message to standard error when the parsed command line
    // writes its archive to the file open as the program's standard output
    // (whatever name leads to it), where they would become part of the
    // archive.  Asked again once -e has put another file there.
    void ChooseMessageStream(const COptions& options);
    // Notes where the archive of this run lives and whether (and as what) it
    // exists already; called for create, append and signing before the
    // command runs.  Append and signing lock the archive first (CArchiveLock),
    // put it back from the undo record of a run that was killed while it
    // wrote into it, and ready their own record (CUndoRecord); a create that
    // names a regular file or nothing, and an append that finds no archive
    // or an empty file, reserve a new file beside it, which the run writes
    // and which takes the archive's name only when the run succeeds.  Every
    // such run first removes the new files that killed runs of the archive
    // left behind.  A create whose archive is the program's own standard
    // output (a name that leads to the file open as descriptor 1), and an
    // append that finds there the empty file open as standard output, write
    // to that descriptor as it stands, and nothing else; a name of standard
    // output while it is closed is refused (COpenExcept).
    void FixArchivePath();
    // Undoes the archive file of a failed create, append or signing run:
    // removes the new file of a create, or cuts an archive that existed
    // before an append or signing run back to its earlier length and puts
    // back the bytes the run wrote over (KeepOverwrittenTail), then removes
    // the run's undo record.  The path was fixed at the start of the run, so
    // a later change of directory does not matter.  Reports nothing.
    void RemoveArchive();
    // Puts the new file of a successful create (or of an append that started
    // the archive) in the archive's place and the directory entry of a new
    // archive on storage (the archive's bytes were synced when it was
    // closed); CWriteExcept when that fails, after which the archive stays
    // as it is.
    // The undo record of an append or signing run is removed then;
    // archiveSynced tells whether the run put its archive on storage.
    void CommitArchive(bool archiveSynced = true);
    // Whether a failed signature step (CInvalManifestExcept,
    // CInvalSignatureExcept) keeps the archive with what the run wrote
    // (option i) instead of undoing the run.
    bool KeepsArchiveOfFailedSigning() const;
    // A signing run that writes over the end of the existing archive (its
    // old manifest entry) keeps those bytes here first, so that a failed
    // run puts them back when it cuts the archive to its old length; they
    // go into the run's undo record too (CWriteExcept when that fails).
    void KeepOverwrittenTail(uint64_t offset, std::string bytes);
    // The file the create or append run opens: the new file beside the
    // archive, or the archive itself.
    std::string GetArchiveWriteName() const;
    // True when an append writes a new archive beside the name (there was
    // none, or an empty file) instead of the archive itself.
    bool WritesNewArchive() const;
    // True when the create run (or an append that starts an archive in the
    // empty file open as standard output) writes its archive to standard
    // output, on a copy of descriptor 1 instead of a file it opens by name.
    bool WritesStandardOutput() const { return m_archiveToStdout; }
    // The run has begun its archive: its header is written.
    void NoteArchiveBegun() { m_archiveBegun = true; }
    // Called once the run is over, with its exit status: a run that failed
    // after it began its archive on standard output, and did not write all
    // it meant to (a file it could not read, a failed signing, a stop
    // signal, a write error), ends the stream with bytes every reader
    // refuses (EndFailedStandardOutputArchive), since what it wrote can not
    // be taken back.  A run whose archive is whole (it ends with 47 for one
    // stored name of two files) leaves the stream whole.
    void EndStandardOutputArchive(int status);
    // Has the stream, open on the archive this run writes into, put the
    // run's undo record on storage right before its first write.
    void WatchArchiveWrites(CFileStream& stream);
    // True for the archive that the new file of this create run replaces.
    bool IsReplacedArchive(const struct stat& st) const;
    // Reports one input file that could not be read while archiving.
    void ReportInaccessible(const std::string& name, const std::string& detail = std::string());
    // True when the name is one of the exclude list (-X).
    bool IsListed(const std::string& name) const;

    // The installed log manager; a console one when none was installed yet.
    CLogMan& GetLogMan();
    CLogMan* GetLogManPtr() const { return m_logMan; }
    // Installs a new log manager and deletes the previous one.
    void SetLogMan(CLogMan* logMan);
    // Installs a log manager and hands back the previous one, not deleting it.
    CLogMan* SwapLogMan(CLogMan* logMan);
    COptions& GetOptions() { return *m_options; }
    uint32_t GetCommandCode() const { return m_commandCode; }
    // The archive name (NUL-terminated; empty before InitArchiveName).
    const char* GetArchiveName() const { return m_archiveName ? m_archiveName : ""; }
    CStatistics& GetStatistics() { return *m_statistics; }
    bool FilesInaccessible() const { return m_filesInaccessible; }
    int32_t GetExitStatus() const { return m_exitStatus; }
    void SetExitStatus(int32_t status) { m_exitStatus = status; }

    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

private:
    CApplication();
    ~CApplication();

    void Dispatch();
    void ReleaseArchivePath();
    // Locks the archive, when there is one, and puts it back from the record
    // of a killed run.
    void LockArchive(int dirFd);
    // An append that finds no archive: readies a new file beside the name
    // (or, where none can be made, the archive itself, locked).
    void StartNewArchive(int dirFd);
    // Gives the new file of an append the archive's name; ArchiveBusyExcept
    // when another run's archive (or anything but the empty file it
    // replaces) has the name by now.
    void PlaceNewArchive(int dirFd);
    // The undoing of RemoveArchive; false when the archive could not be put
    // back as it was.
    bool PutBackArchive();
    void ReserveReplacement(const struct stat* existing);
    void DropTempName();
    // Puts the new file of a create in place where the run keeps its archive
    // despite its failure (option i); otherwise removes it.
    void KeepArchive();

    CLogMan* m_logMan = nullptr;
    COptions* m_options = nullptr;
    uint32_t m_commandCode = 0;
    char* m_archiveName = nullptr;
    CStatistics* m_statistics = nullptr;
    bool m_filesInaccessible = false;
    int32_t m_inaccessibleLog = -1;
    int32_t m_exitStatus = 0;

    // Where the archive of this run lives, fixed before any change of directory.
    int m_archiveDirFd = -1;           // directory the archive name is relative to
    bool m_archiveExisted = false;     // a regular file was there before the command ran
    bool m_archiveForeign = false;     // something else was there (device, pipe, ...)
    bool m_archiveToStdout = false;    // the run writes it to descriptor 1
    bool m_archiveBegun = false;       // its header is written
    bool m_archiveAppend = false;      // the run appends to it
    bool m_archiveCommitted = false;   // it has its final name and content
    bool m_archiveWhole = false;       // it holds every entry the run meant to write
    long long m_archiveOldSize = 0;    // its length then
    uint64_t m_overwrittenOffset = 0;  // where the run writes over old bytes
    std::string m_overwrittenTail;     // those bytes
    unsigned long long m_archiveDev = 0, m_archiveIno = 0;
    long long m_archiveOldMtimeSec = 0, m_archiveOldMtimeNsec = 0;
    CArchiveLock m_archiveLock;      // held by runs that write into the archive
    CUndoRecord m_undo;              // what a killed run of this kind would need undone
    std::string m_archiveFinalName;  // the name the new file takes
    std::string m_archiveTempName;   // that new file while the run writes it
    int m_archiveTempFd = -1;        // holds its lock while the run lives

    // Inaccessible-files report: whether the first report was seen, the copy
    // of -e taken then, and whether "kovzef.log" still has to be opened.
    bool m_inaccessibleSeen = false;
    bool m_inaccessibleToLog = false;
    bool m_inaccessibleLogPending = true;

    // Exclude list as a set, rebuilt when the list's size changes.
    mutable std::unordered_set<std::string> m_excludeIndex;
    mutable std::size_t m_excludeIndexSize = 0;
};
