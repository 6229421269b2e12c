#include "app/stagingdirectory.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/except.h"
#include "app/fshelpers.h"
#include "app/stalefiles.h"
#include "oldformat/shownname.h"

bool CStagingDirectory::Holds(const std::string& path) const
{
    const size_t length = m_directory.size();
    return m_fd >= 0 && path.size() > length + 1 && path[length] == '/' && path.compare(0, length, m_directory) == 0 &&
           path.find('/', length + 1) == std::string::npos;
}

bool CStagingDirectory::Begin(std::string directory, mode_t mode, mode_t writeBits)
{
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    // Made under its hidden name, never at its own: a directory that had
    // its name, even for a moment, may hold a file another run is writing
    // there (one without a name shows in no look at the directory), which
    // would go with this one when it is hidden.  It carries the sticky bit
    // until it bears the mark of that name (see MarkTransient), so that a
    // run killed in between leaves an empty directory the next
    // extraction's clean-up takes for a lost one, and it is locked while
    // this run lives, so that the next extraction here can tell it from
    // one a killed run left.  Only a directory (never what a link there
    // leads to) of this user is filled.
    static unsigned s_count = 0;
    for (unsigned taken = 0; taken < 100; ++taken) {
        std::string hidden = StagedFileName(directory, s_count++);
        if (mkdir(hidden.c_str(), S_ISVTX | 0700) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const int fd = open(hidden.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
            if (fd >= 0)
                close(fd);
            return false;
        }
        flock(fd, LOCK_EX | LOCK_NB);
        MarkTransient(fd, hidden);
        // The set-group-ID bit a parent passes on stays, as for a directory
        // made at its name: its files take that group.
        fchmod(fd, st.st_mode & 07777 & ~S_ISVTX);
        m_directory = std::move(directory);
        m_hidden = std::move(hidden);
        m_fd = fd;
        m_mode = mode;
        m_writeBits = writeBits & 0222;
        return true;
    }
    return false;
}

void CStagingDirectory::Finish()
{
    if (m_fd < 0)
        return;
    std::string failed = m_directory;
    std::string reason;
    // A directory at the name that another run holds locked takes its
    // files, or is hidden by it (see MoveFilesIntoTaken), a moment later.
    // How long this run waits for it, in steps of kBusyPause.
    constexpr int kBusyTries = 200;
    constexpr useconds_t kBusyPause = 10000;
    for (int tries = 0;; ++tries) {
        if (RenameToFreeName(AT_FDCWD, m_hidden.c_str(), AT_FDCWD, m_directory.c_str())) {
            // Through the open directory: a link put at its name meanwhile
            // leads nowhere this run set a mode.
            UnmarkTransient(m_fd);
            if (m_mode != 0)
                fchmod(m_fd, m_mode);
            Close();
            return;
        }
        if (errno != EEXIST)
            break;
        if (MoveFilesIntoTaken(failed, reason)) {
            rmdir(m_hidden.c_str());
            Close();
            return;
        }
        if (errno != EWOULDBLOCK || tries == kBusyTries)
            break;
        usleep(kBusyPause);
    }
    const int err = errno;
    // The files stay where they are, no longer marked as a run's own: the
    // next extraction here leaves them for the user, who is told where.
    UnmarkTransient(m_fd);
    CExcept failure("KOVZEF: could not open for writing " + KovShown(failed), 28, true, reason.empty() ? err : 0);
    failure.AddNote(reason + "; the verified files" + (failed == m_directory ? "" : " not moved there") +
                    " were left in " + KovShown(m_hidden));
    Close();
    throw failure;
}

std::string CStagingDirectory::FinishQuietly() noexcept
{
    try {
        Finish();
    } catch (const CExcept& failure) {
        Close();
        return failure.GetMessage();
    } catch (...) {
        Close();
    }
    return {};
}

bool CStagingDirectory::MoveFilesIntoTaken(std::string& failed, std::string& reason) const
{
    // Never through a link at the name: its files are not this run's.
    const int target = open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (target < 0)
        return false;
    // Nor into a directory that someone else may write, where anyone who
    // may could swap the verified files for others: only where this run
    // itself would let them (the mode it gives the directory, or what the
    // user's creation mask allows).
    struct stat taken;
    const bool known = fstat(target, &taken) == 0;
    const int err = errno;
    if (!known || taken.st_uid != geteuid() || (taken.st_mode & (S_IWGRP | S_IWOTH) & ~m_writeBits) != 0) {
        close(target);
        if (known)
            reason = "Others than this user may write it";
        errno = err;
        return false;
    }
    // Another run holds it while it moves its own files in, or to hide it
    // and fill it, as runs did that made their directory at its name:
    // files moved in then would be hidden with its own (EWOULDBLOCK).
    // Held while they move, so that no such run hides it meanwhile.
    if (flock(target, LOCK_EX | LOCK_NB) != 0) {
        const int busy = errno;
        close(target);
        errno = busy;
        return false;
    }
    const bool moved = VisitDirectoryNames(m_fd, [&](const char* name) {
        if (RenameToFreeName(m_fd, name, target, name))
            return true;
        // A file there is replaced, as one that was there would have been;
        // a directory or a device there is not.
        struct stat st;
        if (errno == EEXIST && fstatat(target, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode) &&
            !S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode) && renameat(m_fd, name, target, name) == 0)
            return true;
        failed = m_directory + "/" + name;
        return false;
    });
    const int moveErr = errno;
    close(target);
    errno = moveErr;
    return moved;
}

void CStagingDirectory::Close() noexcept
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    m_directory.clear();
    m_hidden.clear();
}
