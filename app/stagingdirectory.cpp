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

bool CStagingDirectory::Begin(const std::string& directory, mode_t mode)
{
    static unsigned s_count = 0;
    std::string hidden;
    for (unsigned taken = 0;; ++taken) {
        hidden = StagedFileName(directory, s_count++);
        if (RenameToFreeName(AT_FDCWD, directory.c_str(), AT_FDCWD, hidden.c_str()))
            break;
        if (errno != EEXIST || taken >= 100)
            return false;
    }
    // Only a directory is filled (never what a link there leads to), and it
    // is locked while this run lives, so that the next extraction here can
    // tell it from one a killed run left.
    const int fd = open(hidden.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        RenameToFreeName(AT_FDCWD, hidden.c_str(), AT_FDCWD, directory.c_str());
        return false;
    }
    flock(fd, LOCK_EX | LOCK_NB);
    m_directory = directory;
    m_hidden = std::move(hidden);
    m_fd = fd;
    m_mode = mode;
    return true;
}

void CStagingDirectory::Finish()
{
    if (m_fd < 0)
        return;
    if (RenameToFreeName(AT_FDCWD, m_hidden.c_str(), AT_FDCWD, m_directory.c_str())) {
        if (m_mode != 0)
            chmod(m_directory.c_str(), m_mode);
        Close();
        return;
    }
    std::string failed = m_directory;
    if (errno == EEXIST && MoveFilesIntoTaken(failed)) {
        rmdir(m_hidden.c_str());
        Close();
        return;
    }
    const int err = errno;
    Close();
    throw CExcept("KOVZEF: could not open for writing " + KovShown(failed), 28, true, err);
}

void CStagingDirectory::FinishQuietly() noexcept
{
    try {
        Finish();
    } catch (...) {
        Close();
    }
}

bool CStagingDirectory::MoveFilesIntoTaken(std::string& failed) const
{
    // Never through a link at the name: its files are not this run's.
    const int target = open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (target < 0)
        return false;
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
    const int err = errno;
    close(target);
    errno = err;
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
