// The application object: run preparation, command dispatch, clean-up of a
// failed create or append, and the list of inaccessible files.
#include "app/application.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <new>
#include <stdexcept>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/command.h"
#include "app/create.h"
#include "app/extract.h"
#include "app/libraryprinter.h"
#include "app/merge.h"
#include "app/replacement.h"
#include "app/type.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/scan.h"
#include "app/signatureverify.h"
#include "app/stalefiles.h"
#include "app/statistics.h"
#include "app/stdoutarchive.h"
#include "app/stopsignal.h"
#include "krn/snt/manifest.h"

bool g_abandonArchive = false;

namespace {

CApplication* s_instance = nullptr;

// The dispatch table.  Codes 1 and 5 share one object, so do 2 and 3;
// code 8 is the signing run of the create command.
std::unique_ptr<CCommand> MakeCommand(int32_t code, CApplication& app)
{
    switch (code) {
    case KOV_CMD_CREATE:
        return std::make_unique<CCreate>(app);
    case KOV_CMD_APPEND:
        return std::make_unique<CCreate>(app);
    case KOV_CMD_TEST:
        return std::make_unique<CExtract>(app);
    case KOV_CMD_EXTRACT:
        return std::make_unique<CExtract>(app);
    case KOV_CMD_LIST:
        return std::make_unique<CType>(app);
    case KOV_CMD_MERGE:
        return std::make_unique<CMerge>(app);
    case KOV_CMD_SCAN:
        return std::make_unique<CScan>();
    case KOV_CMD_SIGN:
        return std::make_unique<CCreate>(app);  // the signing run
    case KOV_CMD_MANIFEST:
        return std::make_unique<CSignatureVerify>(app);
    default:
        throw CExcept("KOVZEF: no valid command given", 21, false);
    }
}

// The runs of the create command: create, append and sign-only.
bool RunsCreate(uint32_t code)
{
    return code == KOV_CMD_CREATE || code == KOV_CMD_APPEND || code == KOV_CMD_SIGN;
}

bool WritesArchive(uint32_t code)
{
    return RunsCreate(code) || code == KOV_CMD_MERGE;
}

// Puts the directory that holds path on storage, so that a name made or
// replaced in it survives a crash.  True when done or when the directory
// cannot be opened for it or its file system keeps no such state; false
// with errno set when the system reports an error.
bool SyncDirectoryOf(int dirFd, const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const int fd = openat(dirFd, directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool ok = fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
    const int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

}  // namespace

CApplication& CApplication::Instance()
{
    if (!s_instance)
        s_instance = new CApplication();
    return *s_instance;
}

void CApplication::Destroy()
{
    CApplication* app = s_instance;
    s_instance = nullptr;
    delete app;
}

CApplication::CApplication()
    : m_options(&COptions::Instance()),
      m_statistics(new CStatistics())
{
}

CApplication::~CApplication()
{
    RemoveLibraryPrinter();
    ManifestShutdown();
    delete m_statistics;
    delete[] m_archiveName;
    delete m_logMan;
    ReleaseArchivePath();
    COptions::DestroyInstance();
}

int32_t CApplication::RunGuarded(const std::function<void()>& body)
{
    // Built up front, so that reporting an allocation failure needs no allocation.
    static const std::string kNoMemory("KOVZEF: can not allocate new memory");
    CApplication& app = Instance();
    try {
        body();
    } catch (CExcept& e) {
        app.GetLogMan().Write(e);
    } catch (std::out_of_range&) {
        app.GetLogMan().Write("string: out_of_range-exception");
        app.SetExitStatus(33);
    } catch (std::length_error&) {
        app.GetLogMan().Write("string: length_error");
        app.SetExitStatus(34);
    } catch (std::bad_alloc&) {
        app.GetLogMan().Write(kNoMemory);
        app.SetExitStatus(2);
    } catch (...) {
        app.GetLogMan().Write("KOVZEF: unexpected exception thrown");
        app.SetExitStatus(32);
    }
    return Instance().GetExitStatus();
}

CLogMan& CApplication::GetLogMan()
{
    if (!m_logMan)
        m_logMan = new CConsoleLogMan();
    return *m_logMan;
}

void CApplication::SetLogMan(CLogMan* logMan)
{
    delete SwapLogMan(logMan);
}

CLogMan* CApplication::SwapLogMan(CLogMan* logMan)
{
    CLogMan* old = m_logMan;
    m_logMan = logMan;
    return old;
}

void CApplication::Run()
{
    const time_t start = std::time(nullptr);
    InstallLibraryPrinter();

    // Each stage starts from a clear errno, so that a message which appends
    // the system error text never shows the error of an unrelated earlier call.
    errno = 0;
    PrepareOutput();
    errno = 0;
    if (PutBackWithoutAdding())
        return;
    errno = 0;
    InitArchiveName();
    errno = 0;
    m_options->PrepareFileList();

    m_commandCode = static_cast<uint32_t>(m_options->commandCode);
    if (RunsCreate(m_commandCode))
        FixArchivePath();
    errno = 0;
    Dispatch();

    if (m_options->statistics) {
        m_statistics->SetElapsed(static_cast<int64_t>(std::time(nullptr) - start));
        GetLogMan().Write(*m_statistics);
    }
}

void CApplication::Dispatch()
{
    std::unique_ptr<CCommand> command = MakeCommand(static_cast<int32_t>(m_commandCode), *this);
    if (WritesArchive(m_commandCode))
        InstallStopSignalHandlers();
    if (!RunsCreate(m_commandCode)) {
        command->Execute();
        return;
    }
    try {
        command->Execute();
        StopIfRequested();
    } catch (CInvalManifestExcept&) {
        if (!KeepsArchiveOfFailedSigning())
            RemoveArchive();
        else
            KeepArchive();
        throw;
    } catch (CInvalSignatureExcept&) {
        if (!KeepsArchiveOfFailedSigning())
            RemoveArchive();
        else
            KeepArchive();
        throw;
    } catch (...) {
        // Any other failure (a write or read error, a compression error in
        // the middle of an entry, a link loop, a stop signal) must leave
        // neither a half-written archive nor a half-written entry behind the
        // archive's earlier entries.
        RemoveArchive();
        throw;
    }
    if (m_filesInaccessible) {
        if (m_options->redirectOutput)
            GetLogMan().Write("KOVZEF: some files could not be accessed (see KOVZEF.log for details)");
        m_exitStatus = 44;
        if (!m_options->ignoreInaccessible)
            RemoveArchive();
    }
    try {
        CommitArchive();
    } catch (...) {
        RemoveArchive();
        throw;
    }
    // Every entry the run meant to write is in it: what else failed (one
    // stored name for two files) leaves the archive whole.
    m_archiveWhole = !m_filesInaccessible;
}

bool CApplication::KeepsArchiveOfFailedSigning() const
{
    return m_options->ignoreInaccessible;
}

void CApplication::KeepArchive()
{
    try {
        CommitArchive(false);
    } catch (CExcept&) {
        RemoveArchive();  // the failure being reported is the run's own
    }
}

void CApplication::PrepareOutput()
{
    if (m_options->redirectOutput) {
        // Open the file first and put it in place of standard output only
        // then, so that a failure leaves standard output as it was.  A link
        // at the name (one an archive extracted here may have planted) is not
        // followed: the run fails to redirect rather than cut a file elsewhere.
        const int fd = open("kovzef_output", O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        bool redirected = false;
        if (fd >= 0) {
            std::fflush(stdout);
            if (fd == STDOUT_FILENO) {
                redirected = true;  // standard output was closed; the file took its place
            } else {
                redirected = dup2(fd, STDOUT_FILENO) >= 0;
                close(fd);
            }
        }
        if (!redirected)
            GetLogMan().Write("KOVZEF: could not redirect stdout to file kovzef_output");
        else
            ChooseMessageStream(*m_options);
        // The run goes on after a failed redirection: its error must not show
        // up in the messages of the list files read next.
        errno = 0;
    }
    m_options->ReadListFiles();
    m_options->ReadRenameFile();
}

bool CApplication::PutBackWithoutAdding()
{
    // The checks of the command line refuse an append with no names (29)
    // before any other: nothing else decides first.
    const COptions& o = *m_options;
    if (o.commandCode != KOV_CMD_APPEND || !o.fileList.empty() || o.includeFile != nullptr)
        return false;
    const char* name = o.archiveName ? o.archiveName : KOV_DEFAULT_ARCHIVE;
    if (name[0] == '\0')
        return false;
    // An archive another run holds, or none to lock (no regular file), is
    // left to the refusal.
    CArchiveLock lock;
    const int32_t status = m_exitStatus;
    try {
        lock.Acquire(AT_FDCWD, name, false);
    } catch (const CExcept&) {
        m_exitStatus = status;
        return false;
    }
    if (!lock.Held())
        return false;
    switch (CUndoRecord::PutBackKilledRun(lock.Fd(), AT_FDCWD, name, name, GetLogMan())) {
    case CUndoRecord::Restored::kPutBack:
    case CUndoRecord::Restored::kKept:
        return true;
    case CUndoRecord::Restored::kNothing:
    case CUndoRecord::Restored::kDropped:
        break;
    }
    return false;
}

void CApplication::InitArchiveName()
{
    m_options->Check();

    delete[] m_archiveName;
    m_archiveName = nullptr;
    m_archiveName = new char[KOV_PATH_BUFFER]();
    const char* name = m_options->archiveName ? m_options->archiveName : KOV_DEFAULT_ARCHIVE;
    const std::size_t len = strnlen(name, KOV_PATH_BUFFER - 1);
    std::memcpy(m_archiveName, name, len);
}

void CApplication::ChooseMessageStream(const COptions& options)
{
    const uint32_t code = static_cast<uint32_t>(options.commandCode);
    const char* written = options.archiveName;
    // A merge writes into the second archive of its list.
    if (code == KOV_CMD_MERGE && written != nullptr) {
        for (const char* c = written; *c != '\0'; ++c)
            if (*c == ',' || *c == ' ' || (*c >= '\t' && *c <= '\r'))
                written = c + 1;
    }
    if (WritesArchive(code) && IsStandardOutput(written))
        CConsoleLogMan::UseStandardError();
}

void CApplication::ReleaseArchivePath()
{
    const int dirFd = m_archiveDirFd >= 0 ? m_archiveDirFd : AT_FDCWD;
    if (!m_archiveTempName.empty())
        unlinkat(dirFd, m_archiveTempName.c_str(), 0);  // a run that never got to its end
    DropTempName();
    m_archiveFinalName.clear();
    m_undo.Forget();
    m_archiveLock.Release();
    if (m_archiveDirFd >= 0)
        close(m_archiveDirFd);
    m_archiveDirFd = -1;
    m_archiveExisted = false;
    m_archiveForeign = false;
    m_archiveToStdout = false;
    m_archiveBegun = false;
    m_archiveCommitted = false;
    m_archiveWhole = false;
}

// Fixes where the archive of this run lives before any command can change the
// working directory, and notes whether it exists already (and as what).
void CApplication::FixArchivePath()
{
    ReleaseArchivePath();
    m_archiveAppend = m_options->commandCode == KOV_CMD_APPEND;
    // A name of descriptor 1 while it is closed leads to what stands in
    // for it (HoldClosedStandardDescriptors): refused before anything is
    // opened.
    if (IsStandardOutput(m_archiveName) && !StandardOutputOpen())
        throw COpenExcept(m_archiveName, EBADF);
    const bool toStdout = NamesStandardOutput(m_archiveName);
    m_archiveDirFd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int dirFd = m_archiveDirFd >= 0 ? m_archiveDirFd : AT_FDCWD;
    if (!m_archiveName || !m_archiveName[0])
        return;
    const bool create = m_options->commandCode == KOV_CMD_CREATE;
    if (create && toStdout) {
        // Written where descriptor 1 stands, like a pipe: never replaced,
        // cut, locked or removed.
        m_archiveToStdout = true;
        m_archiveForeign = true;
        return;
    }
    struct stat st;
    bool found = false;
    if (create) {
        found = fstatat(dirFd, m_archiveName, &st, 0) == 0;
    } else {
        // Locked before its length is taken: that length is what a failed
        // run cuts the archive back to.  A file that got the name after the
        // lock found none is locked in its turn.
        for (int attempt = 0;; ++attempt) {
            LockArchive(dirFd);
            found = fstatat(dirFd, m_archiveName, &st, 0) == 0;
            if (!found || !S_ISREG(st.st_mode) || m_archiveLock.Held())
                break;
            if (attempt == 2)
                throw ArchiveBusyExcept(m_archiveName);
        }
    }
    // What killed runs of the archive left beside it goes first (nothing
    // is made beside a device or pipe).
    if (!found || S_ISREG(st.st_mode))
        RemoveStaleReplacementsOf(dirFd, m_archiveName);
    if (!found) {
        if (create)
            ReserveReplacement(nullptr);
        else if (m_archiveAppend)
            StartNewArchive(dirFd);
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        m_archiveForeign = true;
        return;
    }
    m_archiveExisted = true;
    m_archiveOldSize = static_cast<long long>(st.st_size);
    m_archiveDev = st.st_dev;
    m_archiveIno = st.st_ino;
    m_archiveOldMtimeSec = static_cast<long long>(st.st_mtim.tv_sec);
    m_archiveOldMtimeNsec = static_cast<long long>(st.st_mtim.tv_nsec);
    if (create) {
        ReserveReplacement(&st);
        // No new file beside it: the run writes the archive itself, and
        // must not do so while another run writes into it.  A record of a
        // killed run would no longer fit what it writes.
        if (m_archiveTempName.empty())
            LockArchive(dirFd);
        return;
    }
    if (!m_archiveLock.Held())
        return;
    // An append-only file (chattr +a) could neither be cut back when the
    // run fails or is stopped nor be put back after a kill: refused before
    // anything is written, as opening it to write in place is refused.
    if (TakesWritesAtItsEndOnly(m_archiveLock.Fd()))
        throw COpenExcept(m_archiveName, EPERM);
    if (st.st_size == 0 && m_archiveAppend && toStdout) {
        // The empty file open as standard output gets the archive where
        // descriptor 1 stands, as a create writes it: a new file in its
        // place would leave what the shell writes after the run in the old
        // one.  It stays locked while the run writes.
        m_archiveToStdout = true;
        m_archiveForeign = true;
        return;
    }
    if (st.st_size == 0 && m_archiveAppend) {
        // An empty file becomes an archive as a missing one does, the new
        // file taking its mode and owner.
        ReserveReplacement(&st);
        if (!m_archiveTempName.empty())
            return;
    }
    // What a run killed outright would need undone, put on storage right
    // before its first write (WatchArchiveWrites).
    m_undo.Begin(m_archiveLock.Fd(), dirFd, m_archiveName, m_archiveName, static_cast<uint64_t>(st.st_size));
}

void CApplication::StartNewArchive(int dirFd)
{
    // A record left beside the name is of no archive any more; one that
    // can not be used stops the run before anything is made.
    CUndoRecord::DropRecordOfMissingArchive(dirFd, m_archiveName, m_archiveName);
    struct stat lst;
    if (fstatat(dirFd, m_archiveName, &lst, AT_SYMLINK_NOFOLLOW) != 0)
        ReserveReplacement(nullptr);
    if (!m_archiveTempName.empty())
        return;
    // No new file can be made beside the name, or a link that leads nowhere
    // has it: the run makes the archive itself, as it always did.
    if (!m_archiveLock.Acquire(dirFd, m_archiveName, true))
        throw ArchiveBusyExcept(m_archiveName);  // another run's archive got the name meanwhile
}

void CApplication::LockArchive(int dirFd)
{
    m_archiveLock.Acquire(dirFd, m_archiveName, false);
    if (m_archiveLock.Held())
        CUndoRecord::PutBackKilledRun(m_archiveLock.Fd(), dirFd, m_archiveName, m_archiveName, GetLogMan());
}

void CApplication::WatchArchiveWrites(CFileStream& stream)
{
    m_undo.Watch(stream);
}

bool CApplication::WritesNewArchive() const
{
    return !m_archiveTempName.empty();
}

// Creates the new file of a create run (or of an append that starts an
// archive) in the archive's directory, with the mode (and, where allowed,
// the owner) the archive has, so that putting it in place changes nothing
// but the contents.  A link to an archive is kept: the file it leads to is
// replaced.  Where no new file can be made (a directory that is not
// writable) the run writes the archive itself, as it always did.
void CApplication::ReserveReplacement(const struct stat* existing)
{
    const int dirFd = m_archiveDirFd >= 0 ? m_archiveDirFd : AT_FDCWD;
    std::string finalName, directory, base;
    if (!ReplacementPlace(dirFd, m_archiveName, existing != nullptr, finalName, directory, base))
        return;
    const std::string prefix = directory == "." ? std::string() : directory + "/";
    // Made without a name, marked as this run's and locked while the run
    // lives (so that the next run of the archive can tell it from one a
    // killed run left behind), and named only then: a run killed at any
    // moment leaves no file unless it bears the mark.  Where the file
    // system makes no file without a name, it is made by its name, in a
    // form the next run tells for a lost one until it bears the mark.
    int fd = openat(dirFd, directory.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return;
    bool unnamed = fd >= 0;
    if (unnamed && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Only the clean-up of a later run is less sure of it.
    }
    std::string temp;
    for (unsigned attempt = 0;; ++attempt) {
        if (attempt == kReplacementAttempts) {
            if (fd >= 0)
                close(fd);
            return;
        }
        char suffix[40];
        std::snprintf(suffix, sizeof suffix, ".%u-%u.new", static_cast<unsigned>(getpid()), attempt);
        const std::string hidden = "." + base + suffix;
        temp = prefix + hidden;
        if (unnamed) {
            MarkTransient(fd, hidden);
            if (LinkOpenFile(fd, dirFd, temp.c_str()))
                break;
            if (errno == EEXIST)
                continue;
            // Neither way to name it is open to this user (no /proc), or
            // the file system names no such file: made by its name.
            close(fd);
            fd = -1;
            unnamed = false;
        }
        fd = MakeNamedTransient(dirFd, temp.c_str(), 0666);
        if (fd >= 0) {
            if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
                // As above.
            }
            break;
        }
        if (errno != EEXIST)
            return;
    }
    if (existing) {
        if (existing->st_uid != geteuid() || existing->st_gid != getegid()) {
            if (fchown(fd, existing->st_uid, existing->st_gid) != 0) {
                // Only the owner changes; the run goes on as the archive's writer.
            }
        }
        if (fchmod(fd, existing->st_mode & 07777) != 0) {
            // The new file keeps the mode of a new archive.
        }
    }
    m_archiveTempFd = fd;
    m_archiveTempName = temp;
    m_archiveFinalName = finalName;
}

void CApplication::DropTempName()
{
    m_archiveTempName.clear();
    if (m_archiveTempFd >= 0)
        close(m_archiveTempFd);
    m_archiveTempFd = -1;
}

std::string CApplication::GetArchiveWriteName() const
{
    return m_archiveTempName.empty() ? std::string(GetArchiveName()) : m_archiveTempName;
}

bool CApplication::IsReplacedArchive(const struct stat& st) const
{
    return m_archiveExisted && !m_archiveTempName.empty() &&
           static_cast<unsigned long long>(st.st_dev) == m_archiveDev &&
           static_cast<unsigned long long>(st.st_ino) == m_archiveIno;
}

void CApplication::CommitArchive(bool archiveSynced)
{
    const int dirFd = m_archiveDirFd >= 0 ? m_archiveDirFd : AT_FDCWD;
    // The name this run gave the archive: the new file's, put in place of
    // the old archive, or the archive's own when the run made that file.
    std::string named;
    if (!m_archiveTempName.empty()) {
        if (m_options->commandCode == KOV_CMD_CREATE) {
            // An append, merge or signing run may be writing into the
            // archive this file replaces; its entries would be lost with it.
            if (!m_archiveLock.Held())
                m_archiveLock.Acquire(dirFd, m_archiveFinalName, false);
            if (renameat(dirFd, m_archiveTempName.c_str(), dirFd, m_archiveFinalName.c_str()) != 0)
                throw CWriteExcept(m_archiveFinalName);
        } else {
            PlaceNewArchive(dirFd);
        }
        UnmarkTransient(m_archiveTempFd);
        DropTempName();
        named = m_archiveFinalName;
    } else if (m_archiveName && m_archiveName[0] && !m_archiveExisted && !m_archiveForeign) {
        struct stat st;
        if (fstatat(dirFd, m_archiveName, &st, 0) == 0 && S_ISREG(st.st_mode))
            named = m_archiveName;
    }
    // The run's writes are whole and stay: nothing to undo any more.
    if (!m_undo.End(!archiveSynced))
        throw CWriteExcept(GetArchiveName());
    if (named.empty())
        return;
    // The archive is whole from here on, whatever the directory does: a
    // failure reported now leaves it in place.
    m_archiveCommitted = true;
    const bool synced = SyncDirectoryOf(dirFd, named);
    const int err = errno;
    // The lock a create took guarded the file it replaced, which no run can
    // reach any more: other creates need not wait for this one's end.
    if (m_options->commandCode == KOV_CMD_CREATE)
        m_archiveLock.Release();
    if (!synced)
        throw CWriteExcept(named, err);
}

void CApplication::PlaceNewArchive(int dirFd)
{
    const char* from = m_archiveTempName.c_str();
    const char* to = m_archiveFinalName.c_str();
    if (!m_archiveExisted) {
        // Never in place of an archive another run put there meanwhile.
        if (RenameWithoutReplacing(dirFd, from, to))
            return;
        if (errno == EEXIST)
            throw ArchiveBusyExcept(GetArchiveName());
        throw CWriteExcept(m_archiveFinalName);
    }
    // In place of the empty file, which this run holds locked, only while
    // that file has the name and is empty still.
    struct stat named, held;
    if (!m_archiveLock.Held() || fstatat(dirFd, to, &named, 0) != 0 || fstat(m_archiveLock.Fd(), &held) != 0 ||
        named.st_dev != held.st_dev || named.st_ino != held.st_ino || named.st_size != 0)
        throw ArchiveBusyExcept(GetArchiveName());
    if (renameat(dirFd, from, dirFd, to) != 0)
        throw CWriteExcept(m_archiveFinalName);
}

void CApplication::RemoveArchive()
{
    if (!m_archiveName || !m_archiveName[0] || m_archiveCommitted)
        return;
    // A record stays while the archive could not be put back: the next run
    // tries again from it.
    // When the record can not be removed either, nothing more can be done;
    // the run reports its own failure.
    if (PutBackArchive())
        m_undo.EndPutBack();
}

bool CApplication::PutBackArchive()
{
    const int dirFd = m_archiveDirFd >= 0 ? m_archiveDirFd : AT_FDCWD;
    if (!m_archiveTempName.empty()) {
        // The archive itself was never touched.
        unlinkat(dirFd, m_archiveTempName.c_str(), 0);
        DropTempName();
        return true;
    }
    if (m_archiveForeign)
        return true;  // a device, pipe or directory named as archive is never removed
    if (m_options->commandCode != KOV_CMD_CREATE && !m_archiveLock.Held())
        return true;  // another run's archive
    struct stat st;
    if (fstatat(dirFd, m_archiveName, &st, 0) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (!m_archiveExisted) {
        // The file did not exist before this run: it is the half-written archive.
        return unlinkat(dirFd, m_archiveName, 0) == 0 || errno == ENOENT;
    }
    const bool sameFile = st.st_dev == m_archiveDev && st.st_ino == m_archiveIno;
    const bool untouched = sameFile && static_cast<long long>(st.st_size) == m_archiveOldSize &&
                           static_cast<long long>(st.st_mtim.tv_sec) == m_archiveOldMtimeSec &&
                           static_cast<long long>(st.st_mtim.tv_nsec) == m_archiveOldMtimeNsec;
    if (!sameFile || untouched)
        return true;  // not the file this run wrote, or the run never wrote to it
    if (m_archiveAppend || m_commandCode == KOV_CMD_SIGN) {
        // The archive was there before: drop what this run appended, keep
        // the rest, and put back what it wrote over.
        // Nothing more can be done when this fails; the run reports its own
        // failure.
        const int fd = openat(dirFd, m_archiveName, O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return false;
        // On storage before the record that could undo it goes.
        const bool done = CUndoRecord::PutBackBytes(fd, m_overwrittenOffset, m_overwrittenTail,
                                                    static_cast<uint64_t>(m_archiveOldSize),
                                                    m_undo.FirstBytesOnRecord());
        close(fd);
        return done;
    }
    // A create run that could not write beside the archive rewrote it: the
    // old content is gone already.  What it wrote is not the archive it was
    // asked for: removed, or, where the directory keeps the name (one this
    // user may not write, which is why the run wrote in place), left empty,
    // which no reader takes for an archive.  Cut short at an entry's end it
    // would read as a whole one.
    if (unlinkat(dirFd, m_archiveName, 0) == 0 || errno == ENOENT)
        return true;
    const int fd = openat(dirFd, m_archiveName, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat now;
    const bool emptied = fstat(fd, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino &&
                         ftruncate(fd, 0) == 0 && fsync(fd) == 0;
    close(fd);
    return emptied;
}

void CApplication::EndStandardOutputArchive(int status)
{
    if (status != 0 && m_archiveToStdout && m_archiveBegun && !m_archiveWhole)
        EndFailedStandardOutputArchive();
}

void CApplication::KeepOverwrittenTail(uint64_t offset, std::string bytes)
{
    m_overwrittenOffset = offset;
    m_overwrittenTail = bytes;
    m_undo.KeepTail(offset, m_overwrittenTail);
}

void CApplication::ReportInaccessible(const std::string& name, const std::string& detail)
{
    if (!m_inaccessibleSeen) {
        m_inaccessibleSeen = true;
        m_inaccessibleToLog = m_options->redirectOutput;
    }
    m_filesInaccessible = true;
    if (m_inaccessibleToLog) {
        if (m_inaccessibleLogPending) {
            const int32_t index = GetLogMan().OpenLogFile("kovzef.log");
            if (index < 0)
                throw COpenExcept("kovzef.log");
            m_inaccessibleLog = index;
            m_inaccessibleLogPending = false;
            GetLogMan().WriteToLog(index, "# List of inaccessible files");
            GetLogMan().WriteToLog(index, "# ==========================");
        }
        GetLogMan().WriteToLog(m_inaccessibleLog, KovShown(name));
    } else {
        std::string line = "KOVZEF: file '";
        KovAppendShown(line, name);
        line += "' is inaccessible";
        if (!detail.empty())
            line += " (" + detail + ")";
        GetLogMan().Write(line);
    }
    if (!m_options->ignoreInaccessible)
        g_abandonArchive = true;
}

bool CApplication::IsListed(const std::string& name) const
{
    const std::vector<std::string>& excludes = m_options->excludeList;
    if (excludes.empty())
        return false;
    // The list is fixed once the list files are read; index it on first use.
    if (m_excludeIndexSize != excludes.size()) {
        m_excludeIndex.clear();
        m_excludeIndex.insert(excludes.begin(), excludes.end());
        m_excludeIndexSize = excludes.size();
    }
    return m_excludeIndex.count(name) != 0;
}
