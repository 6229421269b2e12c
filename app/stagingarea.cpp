#include "app/stagingarea.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/fshelpers.h"
#include "app/stalefiles.h"

namespace {

// A number no archive can foresee, so that no entry is made to land in the
// area by its name.
unsigned UnforeseenNumber()
{
    static unsigned s_fallback = 0;
    unsigned n = 0;
    if (getrandom(&n, sizeof n, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof n))
        n = ++s_fallback;
    return n;
}

// Makes the file that stands for a staging area while the area is made
// (pledge, in the directory prefix names), marked before it has its name:
// a run killed before the area carries the mark itself leaves the pledge,
// which takes the empty area with it.  False (errno set) when it can not
// be made.
bool MakePledge(const std::string& prefix, const std::string& pledge)
{
    const int fd = open(prefix.empty() ? "." : prefix.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool made = MarkTransient(fd, pledge) && LinkOpenFile(fd, AT_FDCWD, pledge.c_str());
    const int err = errno;
    close(fd);
    errno = err;
    return made;
}

}  // namespace

int CStagingArea::For(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string_view directory(path.data(), slash == std::string::npos ? 0 : slash + 1);
    if (m_chosen && directory == m_directory)
        return m_fd;
    Remove();
    // Where none can be made, none is tried again for the files after.
    m_chosen = true;
    m_directory = directory;
    const std::string prefix(directory);
    for (unsigned taken = 0; taken < 10; ++taken) {
        const unsigned n = UnforeseenNumber();
        const std::string pledge = StagingAreaPledgeName(prefix, n);
        if (!MakePledge(prefix, pledge)) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        std::string hidden = StagingAreaName(prefix, n);
        const bool made = mkdir(hidden.c_str(), 0700) == 0;
        const int err = errno;
        const int fd = made ? open(hidden.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
        struct stat st;
        const bool own = fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && MarkTransient(fd, hidden);
        if (own)
            flock(fd, LOCK_EX | LOCK_NB);
        else if (made)
            rmdir(hidden.c_str());
        unlink(pledge.c_str());
        if (own) {
            m_hidden = std::move(hidden);
            m_fd = fd;
            return m_fd;
        }
        if (fd >= 0)
            close(fd);
        if (made || err != EEXIST)
            return -1;
    }
    return -1;
}

void CStagingArea::Remove() noexcept
{
    if (m_fd >= 0) {
        if (unlinkat(AT_FDCWD, m_hidden.c_str(), AT_REMOVEDIR) != 0)
            UnmarkTransient(m_fd);
        close(m_fd);
    }
    m_fd = -1;
    m_chosen = false;
    m_directory.clear();
    m_hidden.clear();
}
