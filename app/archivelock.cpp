#include "app/archivelock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/except.h"

CExcept ArchiveBusyExcept(const std::string& path)
{
    return CExcept("KOVZEF: archive " + KovShown(path) + " is being written by another run; nothing was changed", 6,
                   false);
}

bool CArchiveLock::Acquire(int dirFd, const std::string& path, bool create)
{
    // A create that puts a new file in the archive's place while this run
    // waits for the lock leaves it holding the lock of a file that no longer
    // has the name: the name is locked again, a few times at most.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const bool created = LockOnce(dirFd, path, create);
        struct stat named, held;
        if (m_fd < 0 || (fstatat(dirFd, path.c_str(), &named, 0) == 0 && fstat(m_fd, &held) == 0 &&
                         named.st_dev == held.st_dev && named.st_ino == held.st_ino))
            return created;
        Release();
    }
    throw ArchiveBusyExcept(path);
}

bool CArchiveLock::LockOnce(int dirFd, const std::string& path, bool create)
{
    Release();
    struct stat st;
    bool created = false;
    int fd = -1;
    if (fstatat(dirFd, path.c_str(), &st, 0) != 0) {
        if (errno != ENOENT || !create)
            return false;  // the command's own open reports it
        fd = openat(dirFd, path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
        if (fd < 0 && errno != EEXIST)
            throw COpenExcept(path);
    } else if (!S_ISREG(st.st_mode)) {
        return false;
    }
    if (fd < 0) {
        // Opened without following a swap of the file for a fifo in between.
        fd = openat(dirFd, path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            throw COpenExcept(path);
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return false;
        }
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        close(fd);
        if (created)
            unlinkat(dirFd, path.c_str(), 0);
        if (err == EWOULDBLOCK)
            throw ArchiveBusyExcept(path);
        throw COpenExcept(path, err);
    }
    m_fd = fd;
    return created;
}

void CArchiveLock::Release()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}
