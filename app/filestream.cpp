#include "app/filestream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CFileStream::~CFileStream()
{
    // Bytes held back go out as every other buffered byte does.
    if (m_firstWrite != nullptr && (m_file || m_fd >= 0))
        ReleaseHeld(false);
    if (m_file)
        fclose(m_file);
    if (m_fd >= 0)
        close(m_fd);
}

bool CFileStream::Read(void* buffer, size_t length, size_t* count)
{
    *count = 0;
    if (m_fd >= 0) {
        // As fread: until the length is there, the end of the file or an error.
        auto* bytes = static_cast<uint8_t*>(buffer);
        while (*count < length) {
            const ssize_t got = read(m_fd, bytes + *count, length - *count);
            if (got > 0) {
                *count += static_cast<size_t>(got);
            } else if (got == 0) {
                break;
            } else if (errno != EINTR) {
                m_lastError = errno;
                return false;
            }
        }
        return true;
    }
    if (!m_file) {
        m_lastError = EBADF;
        return false;
    }
    if (!FlushWriteBehind())
        return false;
    if (length == 0)
        return true;
    const off64_t at = m_head.empty() ? -1 : ftello64(m_file);
    size_t got = fread(buffer, 1, length, m_file);
    *count = got;
    if (at >= 0) [[unlikely]]
        OverlayHead(static_cast<uint64_t>(at), buffer, got);
    if (got == length)
        return true;
    if (ferror(m_file)) {
        m_lastError = errno ? errno : EIO;
        clearerr(m_file);
        return false;
    }
    return true;  // end of file
}

bool CFileStream::Write(const void* buffer, size_t length, size_t* count)
{
    if (m_writeBehind != nullptr) {
        const bool queued = m_writeBehind->Append(buffer, length);
        *count = queued ? length : 0;
        return queued;
    }
    return WriteThrough(buffer, length, count);
}

bool CFileStream::WriteThrough(const void* buffer, size_t length, size_t* count)
{
    if (m_firstWrite != nullptr || m_refusedError != 0) [[unlikely]]
        return HoldThrough(buffer, length, count);
    *count = 0;
    if (m_fd >= 0) {
        if (length == 0)
            return true;
        if (!PassHole())
            return false;
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        while (*count < length) {
            const ssize_t put = write(m_fd, bytes + *count, length - *count);
            if (put > 0)
                *count += static_cast<size_t>(put);
            else if (put == 0 || errno != EINTR)
                return false;
        }
        return true;
    }
    if (!m_file)
        return false;
    if (length == 0)
        return true;
    size_t put = fwrite(buffer, 1, length, m_file);
    *count = put;
    return put == length;
}

void CFileStream::WatchFirstWrite(IFirstWrite* watcher, size_t bytes)
{
    m_firstWrite = watcher;
    m_holdLimit = bytes;
    m_held.clear();
    m_held.reserve(bytes);
}

bool CFileStream::HoldThrough(const void* buffer, size_t length, size_t* count)
{
    *count = 0;
    if (m_refusedError != 0) {
        m_lastError = m_refusedError;
        errno = m_refusedError;
        return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    const size_t take = std::min(length, m_holdLimit - m_held.size());
    m_held.insert(m_held.end(), bytes, bytes + take);
    if (m_held.size() < m_holdLimit) {
        *count = length;
        return true;
    }
    if (!ReleaseHeld(true))
        return false;
    size_t rest = 0;
    const bool ok = WriteThrough(bytes + take, length - take, &rest);
    *count = take + rest;
    return ok;
}

void CFileStream::ForgetFirstWrite()
{
    // What the file open so far still holds back goes to it first.
    if (m_firstWrite != nullptr && (m_file || m_fd >= 0))
        ReleaseHeld(false);
    m_firstWrite = nullptr;
    m_held.clear();
    m_head.clear();
    m_cutBeforeHead = false;
    m_refusedError = 0;
}

bool CFileStream::ReleaseHeld(bool evenNone)
{
    if (m_firstWrite == nullptr)
        return m_refusedError == 0;
    if (m_held.empty() && !evenNone)
        return true;
    IFirstWrite* watcher = m_firstWrite;
    m_firstWrite = nullptr;
    std::vector<uint8_t> held;
    held.swap(m_held);
    if (!watcher->BeforeFirstWrite(held.data(), held.size())) {
        m_refusedError = errno != 0 ? errno : EIO;
        m_lastError = m_refusedError;
        errno = m_refusedError;
        return false;
    }
    if (m_file != nullptr && !held.empty() && watcher->FirstBytesLast())
        return StandInForHead(held);
    size_t put = 0;
    if (WriteThrough(held.data(), held.size(), &put) && put == held.size())
        return true;
    m_lastError = errno != 0 ? errno : EIO;
    return false;
}

bool CFileStream::StandInForHead(std::vector<uint8_t>& held)
{
    // The held bytes start at the end of a file opened to append (nothing
    // went into it since it was opened), else where the stream stands.
    const int fd = fileno(m_file);
    const int flags = fcntl(fd, F_GETFL);
    off64_t at = -1;
    struct stat64 st { };
    if (flags >= 0 && fflush(m_file) == 0 && fstat64(fd, &st) == 0)
        at = (flags & O_APPEND) != 0 ? st.st_size : ftello64(m_file);
    const std::vector<uint8_t> zeros(held.size(), 0);
    size_t put = 0;
    // Zeros written over bytes the file holds reach storage before any
    // other byte of the stream: a power loss may keep any of its pages and
    // drop others, and the old bytes where the stream's bytes begin, next
    // to bytes of its own behind them, would pass for a file it never
    // touched.  Zeros behind the old end need no such care: a page of them
    // that a power loss drops reads as zeros all the same, or the file ends
    // before it.
    const bool inside = at < st.st_size;
    if (at < 0 || !WriteThrough(zeros.data(), zeros.size(), &put) || put != zeros.size() ||
        (inside && (fflush(m_file) != 0 || fdatasync(fd) != 0))) {
        m_lastError = errno != 0 ? errno : EIO;
        return false;
    }
    m_head.swap(held);
    m_headAt = static_cast<uint64_t>(at);
    return true;
}

bool CFileStream::PutHead()
{
    const int fd = fileno(m_file);
    struct stat64 st { };
    if (fstat64(fd, &st) != 0)
        return false;
    // Whatever the stream wrote behind the first bytes is on storage before
    // they are, and so is a cut made meanwhile (of the old bytes the run's
    // did not reach): a file that shows them holds all of it, and nothing
    // else behind it, whatever a power loss keeps.
    if ((static_cast<uint64_t>(st.st_size) > m_headAt + m_head.size() || m_cutBeforeHead) && fdatasync(fd) != 0)
        return false;
    m_cutBeforeHead = false;
    // A file opened to append would take the bytes at its end.
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || ((flags & O_APPEND) != 0 && fcntl(fd, F_SETFL, flags & ~O_APPEND) != 0))
        return false;
    size_t done = 0;
    while (done < m_head.size()) {
        const ssize_t put = pwrite64(fd, m_head.data() + done, m_head.size() - done,
                                     static_cast<off64_t>(m_headAt + done));
        if (put > 0)
            done += static_cast<size_t>(put);
        else if (put == 0 || errno != EINTR)
            return false;
    }
    m_head.clear();
    return true;
}

void CFileStream::OverlayHead(uint64_t offset, void* buffer, size_t length) const
{
    const uint64_t from = std::max(offset, m_headAt);
    const uint64_t to = std::min(offset + length, m_headAt + m_head.size());
    if (from < to)
        std::memcpy(static_cast<uint8_t*>(buffer) + (from - offset), m_head.data() + (from - m_headAt), to - from);
}

void CFileStream::Open(const char* path, uint32_t mode)
{
    const char* text = nullptr;
    const int fd = OpenDescriptor(path, mode, &text);
    if (fd < 0)
        return;
    m_file = fdopen(fd, text);
    if (!m_file) {
        m_lastError = errno;
        close(fd);
    }
}

void CFileStream::OpenDirect(const char* path, uint32_t mode)
{
    const char* text = nullptr;
    const int fd = OpenDescriptor(path, mode, &text);
    if (fd < 0)
        return;
    m_fd = fd;
}

void CFileStream::AdoptDirect(int fd, bool regular)
{
    if (m_file || m_fd >= 0)
        Close();
    ForgetFirstWrite();
    m_holeAhead = 0;
    m_fd = fd;
    m_regular = regular;
}

void CFileStream::OpenOn(int fd)
{
    if (m_file || m_fd >= 0)
        Close();
    ForgetFirstWrite();
    m_holeAhead = 0;
    if (fd < 0) {
        m_lastError = errno != 0 ? errno : EBADF;
        return;
    }
    // Not "a", which would switch on appending for every holder of the
    // descriptor.
    m_file = fdopen(fd, "w");
    if (!m_file) {
        m_lastError = errno;
        close(fd);
    }
}

bool CFileStream::CreateNew(const char* path)
{
    if (m_file || m_fd >= 0)
        Close();
    ForgetFirstWrite();
    m_holeAhead = 0;
    const int fd = open64(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_lastError = errno;
        return false;
    }
    m_fd = fd;
    m_regular = true;
    return true;
}

bool CFileStream::WriteZeros(const void* zeros, size_t n, size_t* count)
{
    if (m_fd < 0 || !m_regular || m_writeBehind != nullptr)
        return Write(zeros, n, count);
    m_holeAhead += n;
    *count = n;
    return true;
}

bool CFileStream::CloseHole()
{
    if (m_fd < 0 || m_holeAhead == 0)
        return true;
    const off64_t at = lseek64(m_fd, static_cast<off64_t>(m_holeAhead), SEEK_CUR);
    if (at < 0 || ftruncate64(m_fd, at) != 0) {
        m_lastError = errno;
        return false;
    }
    m_holeAhead = 0;
    return true;
}

bool CFileStream::PassHole()
{
    if (m_holeAhead == 0)
        return true;
    if (lseek64(m_fd, static_cast<off64_t>(m_holeAhead), SEEK_CUR) < 0)
        return false;
    m_holeAhead = 0;
    return true;
}

int CFileStream::OpenDescriptor(const char* path, uint32_t mode, const char** textOut)
{
    ForgetFirstWrite();
    if (m_file) {
        fclose(m_file);
        m_file = nullptr;
    }
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    m_holeAhead = 0;
    const char* text = nullptr;
    if (mode & KOV_OPEN_APPEND)
        text = "a";
    else if (mode & KOV_OPEN_CREATE)
        text = "w";
    else if (mode & KOV_OPEN_READ)
        text = "r";
    else if (mode & KOV_OPEN_UPDATE)
        text = "r+";
    if (!text || !path) {
        m_lastError = EINVAL;
        return -1;
    }
    // Opened without blocking, so that a fifo never waits for its other
    // end: one to read from is refused (archives and files are read with
    // seeks and known sizes), one to write to fails at once when nobody
    // reads it.
    int flags = O_RDONLY;
    if (text[0] == 'a')
        flags = O_WRONLY | O_CREAT | O_APPEND;
    else if (text[0] == 'w')
        flags = O_WRONLY | O_CREAT | O_TRUNC;
    else if (text[1] == '+')
        flags = O_RDWR;
    const int fd = open64(path, flags | O_NONBLOCK, 0666);
    if (fd < 0) {
        m_lastError = errno;
        return -1;
    }
    // On a regular file O_NONBLOCK changes nothing, so it stays set and the
    // open costs no further calls; anything else gets blocking reads and
    // writes back (F_SETFL changes only the status flags, of which the open
    // set O_APPEND and O_NONBLOCK).
    struct stat64 st { };
    int err = 0;
    if (fstat64(fd, &st) != 0)
        err = errno;
    else if (S_ISREG(st.st_mode))
        err = 0;
    else if ((flags & O_ACCMODE) != O_WRONLY && S_ISFIFO(st.st_mode))
        err = ESPIPE;
    else if (fcntl(fd, F_SETFL, flags & O_APPEND) != 0)
        err = errno;
    if (err != 0) {
        m_lastError = err;
        close(fd);
        return -1;
    }
    *textOut = text;
    m_regular = S_ISREG(st.st_mode);
    return fd;
}

bool CFileStream::SetUnbuffered()
{
    if (m_fd >= 0)
        return true;
    if (!m_file)
        return false;
    return setvbuf(m_file, nullptr, _IONBF, 0) == 0;
}

bool CFileStream::SetBufferSize(size_t size)
{
    if (!m_file || size == 0)
        return false;
    std::unique_ptr<char[]> buffer(new char[size]);
    if (setvbuf(m_file, buffer.get(), _IOFBF, size) != 0)
        return false;
    m_stdioBuffer = std::move(buffer);
    return true;
}

bool CFileStream::Seek(uint64_t offset)
{
    if (!m_file || offset > static_cast<uint64_t>(INT64_MAX) || !FlushWriteBehind())
        return false;
    return fseeko64(m_file, static_cast<off64_t>(offset), SEEK_SET) == 0;
}

bool CFileStream::SeekEnd()
{
    if (!m_file || !FlushWriteBehind())
        return false;
    return fseeko64(m_file, 0, SEEK_END) == 0;
}

bool CFileStream::Tell(uint64_t* offset)
{
    if (!m_file || !FlushWriteBehind())
        return false;
    off64_t pos = ftello64(m_file);
    if (pos < 0)
        return false;
    *offset = static_cast<uint64_t>(pos);
    return true;
}

bool CFileStream::MoveFlPtr(int64_t count)
{
    if (count < 0 || !m_file || !FlushWriteBehind())
        return false;
    if (count == 0)
        return !ferror(m_file);
    return fseeko64(m_file, static_cast<off64_t>(count), SEEK_CUR) == 0;
}

bool CFileStream::Truncate()
{
    if (!m_file || !ReleaseHeld(true))
        return false;
    uint64_t pos = 0;
    if (!Tell(&pos))
        return false;
    if (fflush(m_file) != 0 || ftruncate64(fileno(m_file), static_cast<off64_t>(pos)) != 0)
        return false;
    // The first bytes, put in last, follow the cut on storage (PutHead).
    m_cutBeforeHead = !m_head.empty();
    return true;
}

bool CFileStream::Close()
{
    if (m_fd >= 0) {
        // A hole at the end still counts: the file gets its full size.
        bool ok = ReleaseHeld(false) && CloseHole();
        const int err = m_lastError;
        m_holeAhead = 0;
        if (close(m_fd) != 0 && ok) {
            ok = false;
            m_lastError = errno ? errno : EIO;
        } else if (!ok) {
            m_lastError = err;
        }
        m_fd = -1;
        return ok;
    }
    if (!m_file)
        return true;
    errno = 0;
    int rc = FlushWriteBehind() ? 0 : EOF;
    if (rc != 0) {
        m_lastError = errno ? errno : EIO;
        fclose(m_file);
        m_file = nullptr;
        return false;
    }
    rc = fclose(m_file);
    m_file = nullptr;
    if (rc == 0)
        return true;
    m_lastError = errno ? errno : EIO;
    return false;
}

bool CFileStream::Sync()
{
    errno = 0;
    if (!FlushWriteBehind() || (m_file && fflush(m_file) != 0) || !CloseHole() || (!m_head.empty() && !PutHead())) {
        m_lastError = errno ? errno : EIO;
        return false;
    }
    const int fd = m_file ? fileno(m_file) : m_fd;
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    if (fsync(fd) == 0)
        return true;
    m_lastError = errno;
    return false;
}

bool CFileStream::BackupRead(void*, size_t, size_t* count)
{
    *count = 0;
    return false;
}

bool CFileStream::BackupWrite(const void*, size_t, size_t* count)
{
    *count = 0;
    return false;
}

bool CFileStream::BackupEnd()
{
    return false;
}

// ---- CBufferedStream -------------------------------------------------------

bool CBufferedStream::Read(void* buffer, size_t length, size_t* count)
{
    *count = 0;
    if (!m_hasReadPosition)
        return false;
    size_t left = m_buffer.size() - m_readPosition;
    size_t n = length < left ? length : left;
    if (n)
        memcpy(buffer, m_buffer.data() + m_readPosition, n);
    m_readPosition += n;
    *count = n;
    return true;
}

bool CBufferedStream::Write(const void* buffer, size_t length, size_t* count)
{
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    if (length > m_limit - m_buffer.size()) {
        *count = 0;
        m_limitReached = true;
        return false;
    }
    if (length)
        m_buffer.insert(m_buffer.end(), p, p + length);
    *count = length;
    return true;
}

void CBufferedStream::SetReadPosition(size_t offset)
{
    m_hasReadPosition = true;
    m_readPosition = offset < m_buffer.size() ? offset : m_buffer.size();
}

void CBufferedStream::Clear()
{
    m_buffer.clear();
    m_hasReadPosition = false;
    m_readPosition = 0;
    m_limit = SIZE_MAX;
    m_limitReached = false;
}

void CBufferedStream::SetLimit(size_t limit, size_t expected)
{
    m_limit = limit < m_buffer.size() ? m_buffer.size() : limit;
    m_limitReached = false;
    m_buffer.reserve(expected < m_limit ? expected : m_limit);
}

// ---- CNullStream -----------------------------------------------------------

bool CNullStream::Read(void*, size_t length, size_t* count)
{
    *count = length;
    return true;
}

bool CNullStream::Write(const void*, size_t length, size_t* count)
{
    *count = length;
    return true;
}
