// Extraction ('x') and check ('d') of the entries of an old-format archive:
// each entry's data is one compressed stream, decompressed in 8 KiB steps and
// checked against the entry's size and checksum.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "cslib/cslib.h"
#include "cslib/crc32.h"
#include "oldformat/ofinternal.h"
#include "oldformat/shownname.h"

uint32_t oldArchiveFilesDone = 0;

namespace {

constexpr size_t kChunk = 8192;
constexpr uint64_t kArchiveLimit = 0x80000000ull;  // archives must stay under 2 GB
const char* const kSource = "iaxxozefl";

struct FileCloser {
    FILE* f = nullptr;
    ~FileCloser()
    {
        if (f)
            fclose(f);
    }
};

bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Creates the directories in front of the last component of the path: from
// the longest existing prefix on, each further one with mode 0755.
bool MakeParents(const std::string& path, OfError& error)
{
    std::vector<size_t> seps;
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/' && path[i - 1] != '/')
            seps.push_back(i);
    size_t first = seps.size();
    while (first > 0 && !Exists(path.substr(0, seps[first - 1])))
        --first;
    for (size_t k = first; k < seps.size(); ++k) {
        const std::string dir = path.substr(0, seps[k]);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
            OfSetError(error, OF_E_MKDIR, dir.c_str(), errno);
            return false;
        }
    }
    return true;
}

// A link to a directory at the entry's path is used, but its target's mode
// and time are not the entry's to change: linked is set and nothing else is
// done to it.
bool MakeDirectory(const OfEntry& e, OfError& error, bool& linked)
{
    struct stat st;
    linked = false;
    if (stat(e.target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        struct stat own;
        linked = lstat(e.target.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        if (!linked)
            chmod(e.target.c_str(), 0700);  // writable while its entries arrive
        return true;
    }
    if (mkdir(e.target.c_str(), 0700) != 0) {
        OfSetError(error, OF_E_MKDIR, e.target.c_str(), errno);
        return false;
    }
    return true;
}

// Opens the file of an entry for writing: made new, replacing what else is
// at its path (ClearEntryPath), or a device as it is.  Null with errno set
// on failure.
FILE* CreateFresh(const std::string& path)
{
    int fd = -1;
    switch (ClearEntryPath(path)) {
    case EntryPathState::kFree:
        fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        break;
    case EntryPathState::kDevice:
        fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        break;
    case EntryPathState::kFailed:
        break;
    }
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "w+b");
    if (!f) {
        const int err = errno;
        close(fd);
        errno = err;
    }
    return f;
}

bool FileChecksum(const std::string& path, uint32_t& crc)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    FileCloser closer{f};
    std::vector<uint8_t> buf(65536);
    crc = 0;
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
        crc = CsCrc32Update(crc, buf.data(), n);
    return !std::ferror(f);
}

// Complements the bytes of a chunk starting at stream position pos whose
// position is a multiple of 10, except the chunk's first byte.
void Unprotect(uint8_t* data, size_t n, uint64_t pos)
{
    for (uint64_t q = pos + 10 - pos % 10; q < pos + n; q += 10)
        data[q - pos] ^= 0xFF;
}

class Extractor {
public:
    Extractor(OfHandle& h, OfError& error)
        : h_(h),
          error_(error),
          write_(h.command == 'x')
    {
    }

    bool Run();

private:
    bool OpenArchive();
    bool File(const OfEntry& e);
    bool Decompress(const OfEntry& e, FILE* out, uint64_t& produced, uint32_t& crc);
    bool FinishDirectories();

    OfHandle& h_;
    OfError& error_;
    const bool write_;
    FileCloser archive_;
    uint64_t archiveSize_ = 0;
    std::vector<const OfEntry*> dirs_;
    uint8_t in_[2 * kChunk];
    uint8_t out_[kChunk];
};

bool Extractor::OpenArchive()
{
    if (archive_.f)
        return true;
    const std::string& name = h_.ArchiveName();
    archive_.f = std::fopen(name.c_str(), "rb");
    struct stat st;
    if (!archive_.f || fstat(fileno(archive_.f), &st) != 0) {
        OfSetError(error_, OF_E_SYSTEM, name.c_str(), errno);
        return false;
    }
    archiveSize_ = static_cast<uint64_t>(st.st_size);
    return true;
}

bool Extractor::Run()
{
    // Nothing is written for an archive that holds a name pointing outside
    // the extraction directory.
    // Nor for one that would write a file over the archive itself.
    if (write_) {
        struct stat self, st;
        const bool selfKnown = stat(h_.ArchiveName().c_str(), &self) == 0;
        bool leadingRemoved = false;
        for (const OfEntry& e : h_.entries) {
            if (!e.selected)
                continue;
            leadingRemoved = leadingRemoved || e.leadingRemoved;
            const bool overArchive = selfKnown && !e.IsDirectory() && stat(e.target.c_str(), &st) == 0 &&
                                     st.st_dev == self.st_dev && st.st_ino == self.st_ino;
            if (e.unsafe || overArchive) {
                OfSetError(error_, OF_E_FILENAME, e.name.c_str());
                return false;
            }
        }
        if (leadingRemoved)
            OfLogLine(h_, "KOVZEF: leading \"/\" and \"../\" removed from the entry names of " +
                              KovShown(h_.ArchiveName()));
    }
    for (const OfEntry& e : h_.entries) {
        if (!e.selected)
            continue;
        if (h_.verbose)
            std::printf("%c %s\n", h_.command, KovShown(e.name).c_str());
        if (write_ && !MakeParents(e.target, error_))
            return false;
        if (e.IsDirectory()) {
            if (write_) {
                bool linked = false;
                if (!MakeDirectory(e, error_, linked))
                    return false;
                if (!linked)
                    dirs_.push_back(&e);
            }
            continue;
        }
        if (h_.callback)
            h_.callback(h_.context, e.target.c_str(), e.size, static_cast<time_t>(e.mtime));
        if (!File(e))
            return false;
    }
    return FinishDirectories();
}

bool Extractor::File(const OfEntry& e)
{
    FileCloser out;
    if (write_) {
        out.f = CreateFresh(e.target);
        if (!out.f) {
            OfSetError(error_, OF_E_OPEN_WRITE, e.target.c_str(), errno);
            return false;
        }
    }
    uint64_t produced = 0;
    uint32_t crc = 0;
    if (e.csize == 0) {
        if (e.size != 0)
            return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;
    } else if (!Decompress(e, out.f, produced, crc)) {
        return false;
    }
    if (out.f) {
        FILE* f = out.f;
        out.f = nullptr;
        if (std::fclose(f) != 0) {
            OfSetError(error_, OF_E_SYSTEM, e.target.c_str(), errno);
            return false;
        }
    }
    if (produced != e.size)
        return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;
    ++oldArchiveFilesDone;

    if (h_.verify && e.checksum != 0 && crc != e.checksum) {
        uint32_t again = 0;
        if (!write_ || !FileChecksum(e.target, again) || again != e.checksum) {
            OfSetError(error_, OF_E_CHECKSUM, e.name.c_str());
            return false;
        }
    }
    if (write_) {
        struct utimbuf times;
        times.actime = times.modtime = static_cast<time_t>(e.mtime);
        if (utime(e.target.c_str(), &times) != 0) {
            OfSetError(error_, OF_E_FILE_DATE, e.target.c_str(), errno);
            return false;
        }
        if (chmod(e.target.c_str(), e.mode & 0777) != 0) {
            OfSetError(error_, OF_E_FILE_MODE, e.target.c_str(), errno);
            return false;
        }
    }
    return true;
}

bool Extractor::Decompress(const OfEntry& e, FILE* out, uint64_t& produced, uint32_t& crc)
{
    if (!OpenArchive())
        return false;
    const std::string& archive = h_.ArchiveName();
    if (archiveSize_ >= kArchiveLimit)
        return OfSetError(error_, OF_E_TOO_LARGE, nullptr), false;
    if (e.csize < 8 || fseeko(archive_.f, static_cast<off_t>(e.offset), SEEK_SET) != 0 ||
        std::fread(in_, 1, 8, archive_.f) != 8) {
        OfSetError(error_, OF_E_SYSTEM, archive.c_str(), std::ferror(archive_.f) ? errno : EIO);
        return false;
    }
    if (CsInitDecompr(in_, kSource, __LINE__) < 0)
        return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;

    const bool protectedData = h_.protectedKey.has_value();
    uint64_t remaining = e.csize - 8;
    uint64_t pos = 8;  // stream position of the next byte read
    size_t off = 0, avail = 0;
    int rc = 0;
    bool progress = true;
    for (;;) {
        // More input when the last step used up its input (and did not just
        // fill the output) or got nowhere with what it had.
        if ((avail == 0 && rc != CS_END_OUTBUFFER) || !progress) {
            // No compressed bytes left and no end of stream: the data are cut.
            if (remaining == 0 || avail > kChunk)
                return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;
            if (remaining > archiveSize_ - std::min(archiveSize_, e.offset + pos))
                return OfSetError(error_, OF_E_CORRUPT, archive.c_str()), false;
            std::memmove(in_, in_ + off, avail);
            off = 0;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, remaining));
            if (std::fread(in_ + avail, 1, n, archive_.f) != n) {
                OfSetError(error_, OF_E_SYSTEM, archive.c_str(), std::ferror(archive_.f) ? errno : EIO);
                return false;
            }
            if (protectedData)
                Unprotect(in_ + avail, n, pos);
            pos += n;
            remaining -= n;
            avail += n;
        }
        int32_t read = 0, written = 0;
        rc = CsDecompr(in_ + off, static_cast<int32_t>(avail), out_, static_cast<int32_t>(kChunk), 0, &read, &written,
                       kSource, __LINE__);
        if (rc < 0 || read < 0 || written < 0 || static_cast<size_t>(read) > avail ||
            static_cast<size_t>(written) > kChunk)
            return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;
        off += static_cast<size_t>(read);
        avail -= static_cast<size_t>(read);
        // More output than the entry's size announces: stop at once.
        if (static_cast<uint64_t>(written) > e.size - produced)
            return OfSetError(error_, OF_E_DECOMPRESS, nullptr), false;
        if (written > 0) {
            if (out && std::fwrite(out_, 1, static_cast<size_t>(written), out) != static_cast<size_t>(written)) {
                OfSetError(error_, OF_E_SYSTEM, e.target.c_str(), errno);
                return false;
            }
            crc = CsCrc32Update(crc, out_, static_cast<size_t>(written));
            produced += static_cast<uint64_t>(written);
        }
        if (rc == CS_END_OF_STREAM)
            return true;
        progress = read > 0 || written > 0;
    }
}

bool Extractor::FinishDirectories()
{
    // Deepest first, so that a directory made read-only does not block the
    // directories below it.
    auto depth = [](const OfEntry* e) { return std::count(e->target.begin(), e->target.end(), '/'); };
    std::stable_sort(dirs_.begin(), dirs_.end(),
                     [&](const OfEntry* a, const OfEntry* b) { return depth(a) > depth(b); });
    for (const OfEntry* e : dirs_) {
        struct utimbuf times;
        times.actime = times.modtime = static_cast<time_t>(e->mtime);
        if (utime(e->target.c_str(), &times) != 0) {
            OfSetError(error_, OF_E_DIR_DATE, e->target.c_str(), errno);
            return false;
        }
        if (chmod(e->target.c_str(), e->mode & 0777) != 0) {
            OfSetError(error_, OF_E_DIR_MODE, e->target.c_str(), errno);
            return false;
        }
    }
    return true;
}

}  // namespace

bool OfExtractEntries(OfHandle& h, OfError& error)
{
    Extractor x(h, error);
    return x.Run();
}
