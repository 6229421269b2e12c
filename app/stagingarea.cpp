#include "app/stagingarea.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

int CStagingArea::For(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string_view directory(path.data(), slash == std::string::npos ? 0 : slash + 1);
    if (m_fd >= 0 && directory == m_directory)
        return m_fd;
    Remove();
    std::string hidden;
    for (unsigned taken = 0;; ++taken) {
        hidden = StagedFileName(std::string(directory) + "staged", UnforeseenNumber());
        if (mkdir(hidden.c_str(), 0700) == 0)
            break;
        if (errno != EEXIST || taken >= 10)
            return -1;
    }
    const int fd = open(hidden.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    MarkTransient(fd, hidden.c_str() + directory.size());
    flock(fd, LOCK_EX | LOCK_NB);
    m_directory = directory;
    m_hidden = std::move(hidden);
    m_fd = fd;
    return m_fd;
}

void CStagingArea::Remove() noexcept
{
    if (m_fd < 0)
        return;
    if (unlinkat(AT_FDCWD, m_hidden.c_str(), AT_REMOVEDIR) != 0)
        UnmarkTransient(m_fd);
    close(m_fd);
    m_fd = -1;
    m_directory.clear();
    m_hidden.clear();
}
