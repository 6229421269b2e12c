#include "app/merge.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/archivelock.h"
#include "app/archivefile.h"
#include "app/cmdsignature.h"
#include "app/compressstrategy.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/options.h"
#include "app/replacement.h"
#include "app/stdoutarchive.h"
#include "app/stopsignal.h"
#include "app/undorecord.h"

namespace {

// Both archives must be KOX archives of the version this program writes:
// the copied entries are read with the target's block rules.
void RequireCurrentArchive(CArchiveFile& archive, const std::string& name)
{
    if (!archive.ReadArchiveHeader() || std::memcmp(archive.GetVersion(), KOX_VERSION_201, sizeof KOX_VERSION_201) != 0)
        throw CExcept("KOVZEF: can not merge " + KovShown(name) + ", which is no KOX archive of version 2.01", 1,
                      false);
}

// Refuses a signed archive: appending would invalidate its signature, and
// a manifest in the middle of an archive would sign only part of it.
void RefuseSigned(CArchiveFile& archive)
{
    CheckManifestPresence(archive, false, "KOVZEF: signed archives must not be merged", 53);
}

}  // namespace

void CMerge::Execute()
{
    COptions& options = m_application.GetOptions();
    const std::vector<std::string> archives = options.GetArchiveList();
    if (archives.size() != 2)
        throw CExcept("KOVZEF: merging only supported for exactly two archives", 100, true, 0);
    const std::string& source = archives[0];
    const std::string& target = archives[1];
    // A name of standard output while it is closed leads to what stands in
    // for it: refused before anything is opened, as a create refuses it.
    if (IsStandardOutput(target.c_str()) && !StandardOutputOpen())
        throw COpenExcept(target, EBADF);

    // The target is locked before it is looked at: its length is what a
    // failed merge cuts it back to.  A run killed while it wrote into the
    // target is undone first.
    CArchiveLock targetLock;
    targetLock.Acquire(AT_FDCWD, target, false);
    if (targetLock.Held()) {
        // An append-only target could not be cut back when the merge fails.
        if (TakesWritesAtItsEndOnly(targetLock.Fd()))
            throw COpenExcept(target, EPERM);
        CUndoRecord::PutBackKilledRun(targetLock.Fd(), AT_FDCWD, target, target, m_application.GetLogMan());
    }
    // Declared before the target's stream, which hands it the merge's first
    // bytes as long as it is open.
    CUndoRecord undo;
    CArchiveFile sourceArchive(source, KOV_OPEN_READ);
    CArchiveFile targetArchive(target, KOV_OPEN_READ);
    RequireCurrentArchive(targetArchive, target);
    RequireCurrentArchive(sourceArchive, source);
    RefuseSigned(targetArchive);
    RefuseSigned(sourceArchive);
    // What killed runs of the target left beside it goes, but for the
    // source, whatever its name.
    struct stat sourceStat;
    FILE* sourceHandle = sourceArchive.Stream().Handle();
    const bool sourceKnown = sourceHandle != nullptr && fstat(fileno(sourceHandle), &sourceStat) == 0;
    RemoveStaleReplacementsOf(AT_FDCWD, target.c_str(), [&](const struct stat& st) {
        return sourceKnown && st.st_dev == sourceStat.st_dev && st.st_ino == sourceStat.st_ino;
    });

    struct stat targetStat;
    if (stat(target.c_str(), &targetStat) != 0)
        throw CStatExcept(target);
    const off_t originalLength = targetStat.st_size;
    if (targetLock.Held())
        undo.Begin(targetLock.Fd(), AT_FDCWD, target, target, static_cast<uint64_t>(originalLength));

    targetArchive.Open(target, KOV_OPEN_APPEND | KOV_OPEN_CREATE | KOV_OPEN_READ);
    undo.Watch(targetArchive.Stream());
    CFileStream& in = sourceArchive.Stream();
    CFileStream& out = targetArchive.Stream();
    if (!in.IsOpen())
        throw COpenExcept(source, in.LastError());
    if (!out.IsOpen())
        throw COpenExcept(target, out.LastError());

    try {
        double size = 0.0;
        if (!GetFileSize(source.c_str(), size))
            throw CExcept("KOVZEF: can't get size of file " + KovShown(source), 100, true);
        if (!in.Seek(KOX_ARCHIVE_HEADER_SIZE))
            throw CExcept("KOVZEF: can't move file pointer in " + KovShown(source), 100, true);

        uint8_t* buffer = CTransferBuffers::Instance().Input();
        uint64_t remaining = static_cast<uint64_t>(size) - KOX_ARCHIVE_HEADER_SIZE;
        while (remaining != 0) {
            StopIfRequested();
            const size_t n = static_cast<size_t>(std::min<uint64_t>(CTransferBuffers::kBlockSize, remaining));
            size_t got = 0;
            if (!in.Read(buffer, n, &got) || got != n)
                throw CReadExcept(source);
            size_t written = 0;
            if (!out.Write(buffer, n, &written) || written != n)
                throw CWriteExcept(target);
            remaining -= n;
        }
        StopIfRequested();
        targetArchive.SyncAndClose();
        // The copy is whole and on storage: nothing to undo any more.
        if (!undo.End(false))
            throw CWriteExcept(target);
    } catch (...) {
        // A merge that fails part-way leaves the target as it was.
        const int saved = errno;
        targetArchive.Stream().Close();
        const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
        // Cut back and on storage before the record that could undo the
        // merge goes; otherwise the record stays for the next run.
        const bool cut = fd >= 0 &&
                         CUndoRecord::PutBackBytes(fd, 0, std::string(), static_cast<uint64_t>(originalLength), 0);
        if (fd >= 0)
            close(fd);
        // When the record can not be removed either, nothing more can be
        // done; the original failure is reported.
        if (cut)
            undo.EndPutBack();
        errno = saved;
        throw;
    }
}
