// Comparison of a manifest file given by the user (header and body, a
// signature block is not needed) with the archive's verified manifest: the
// same hash algorithm, the same files with the same digests, in any order.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "krn/snt/smfint.h"

namespace {

int Differ(ManifestContext* ctx, int code)
{
    ctx->severity = SMF_SEV_ERROR;
    return SmfStore(ctx, code);
}

bool SameHex(const char* a, const char* b, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Reads the whole regular file into a new buffer and ends it with an empty
// line.  SMF_OK or a recorded failure.
int ReadWhole(ManifestContext* ctx, const char* path, char** text, uint64_t* length)
{
    // Not blocking on open: the name may lead to a pipe.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        SmfRecord(ctx, "External manifest file >%s< could not be opened. System error code >%d< >%s<",
                  SsfShownName(path, std::strlen(path)).c_str(), error, std::strerror(error));
        return Differ(ctx, SMF_EFILENOTFOUND);
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        SmfRecord(ctx, "External manifest file >%s< is not a regular file",
                  SsfShownName(path, std::strlen(path)).c_str());
        return Differ(ctx, SMF_EINVARG);
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    char* buffer = size < SIZE_MAX - 2 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(size) + 2)) : nullptr;
    if (buffer == nullptr)
        return SmfFail(ctx, SMF_ENOMEM, "Not able to allocate memory for the buffer of external manifest file");
    uint64_t got = 0;
    while (got < size) {
        const ssize_t n = read(fd, buffer + got, static_cast<std::size_t>(size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            std::free(buffer);
            SmfRecord(ctx, "External manifest file >%s< could not be read. System error code >%d< >%s<",
                      SsfShownName(path, std::strlen(path)).c_str(), error, std::strerror(error));
            return Differ(ctx, SMF_EFILENOTFOUND);
        }
        if (n == 0)
            break;
        got += static_cast<uint64_t>(n);
    }
    // The text ends with an empty line, so that a text that stops right
    // after its last entry line still ends its body there.
    if (got != 0 && buffer[got - 1] != '\n')
        buffer[got++] = '\n';
    buffer[got++] = '\n';
    *text = buffer;
    *length = got;
    return SMF_OK;
}

// Entry-by-entry comparison once the bodies differ as bytes.
int CompareEntries(ManifestContext* internal, const ManifestContext* external)
{
    if (internal->entryCount == 0 && external->entryCount == 0) {
        SmfRecord(internal, "No manifest files found");
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    if (internal->entryCount != external->entryCount) {
        SmfRecord(internal, "Different size of files in the internal(%u) and external(%u) manifest",
                  internal->entryCount, external->entryCount);
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    const ManifestIndex* index = SmfIndex(internal);
    std::unique_ptr<bool[]> used(index != nullptr ? new (std::nothrow) bool[SmfIndexSlots(index)]() : nullptr);
    if (!used)
        return SmfFail(internal, SMF_ENOMEM, "No memory to compare the manifests");

    const std::size_t digestChars = 2 * std::size_t{internal->digestLength};
    const char* p = external->bodyStart;
    const char* end = external->bodyStart + external->bodyLength;
    uint32_t read = 0;
    while (read < external->entryCount && p < end && *p != '\n') {
        ManifestEntry entry;
        if (ManifestParseEntryLine(external, p, end, nullptr, &entry) != 0) {
            SmfRecord(internal, "The external manifest body could not be read");
            return Differ(internal, SMF_EBODY_NOT_EQUAL);
        }
        // Each internal line answers one external line only, so that a name
        // listed twice on one side and once on the other is a difference.
        std::size_t cursor = 0;
        std::size_t slot = 0;
        const char* line;
        do {
            line = SmfIndexNext(index, internal, entry.name, entry.nameLength, &cursor, &slot);
        } while (line != nullptr && used[slot]);
        if (line == nullptr) {
            SmfRecord(internal, "External file >%s< was not found in the internal manifest",
                      SsfShownName(entry.name, entry.nameLength).c_str());
            return Differ(internal, SMF_EFILENOTFOUND);
        }
        used[slot] = true;
        if (!SameHex(line, entry.line, digestChars)) {
            SmfRecord(internal, "External manifest file >%s< digest is different to internal manifest",
                      SsfShownName(entry.name, entry.nameLength).c_str());
            return Differ(internal, SMF_EDIGEST);
        }
        ++read;
        p += entry.lineLength;
    }
    if (read != internal->entryCount) {
        SmfRecord(internal, "The manifest content is not equal");
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    return SMF_OK;
}

}  // namespace

int ManifestCompareExternal(ManifestContext* internal, ManifestContext* external)
{
    internal = SmfResolve(internal);
    if (external == nullptr) {
        SmfRecord(internal, "Invalid null argument passed for the manifest handle");
        return Differ(internal, SMF_EINVARG);
    }
    if (internal->contentStart == nullptr || internal->bodyStart == nullptr) {
        SmfRecord(internal, "No manifest context available ");
        return Differ(internal, SMF_EINTERNAL);
    }
    if (external->contentStart == nullptr || external->bodyStart == nullptr) {
        SmfRecord(internal, "The external manifest body could not be read");
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    if (internal->fileHashId != external->fileHashId) {
        SmfRecord(internal, "The file hash algorithms are not equal");
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    const uint64_t i = internal->bodyLength;
    const uint64_t e = external->bodyLength;
    if (e < i || e > i + 2) {
        SmfRecord(internal, "Incompatible content length of the internal(%llu) and external(%llu) manifest",
                  static_cast<unsigned long long>(i), static_cast<unsigned long long>(e));
        return Differ(internal, SMF_EBODY_NOT_EQUAL);
    }
    if (std::memcmp(internal->bodyStart, external->bodyStart, static_cast<std::size_t>(i)) == 0)
        return SMF_OK;
    return CompareEntries(internal, external);
}

int ManifestReadExternal(ManifestContext* ctx, const char* path)
{
    ctx = SmfResolve(ctx);
    if (path == nullptr)
        return SmfFail(ctx, SMF_EINVARG, "Invalid null argument passed for the manifest file name");
    char* text = nullptr;
    uint64_t length = 0;
    int rc = ReadWhole(ctx, path, &text, &length);
    if (rc != SMF_OK)
        return rc;
    std::unique_ptr<ManifestContext> external(new (std::nothrow) ManifestContext());
    if (!external) {
        std::free(text);
        return SmfFail(ctx, SMF_ENOMEM, "Not able to allocate memory for the buffer of external manifest file");
    }
    external->contentStart = text;
    external->contentLength = length;
    uint32_t state = SMF_PARSE_MAGIC;
    rc = ManifestParse(external.get(), &state, 0);
    if (rc != SMF_OK || external->bodyStart == nullptr) {
        if (external->lastErrorText != nullptr)
            SmfRecord(ctx, "%s", external->lastErrorText);
        else
            SmfRecord(ctx, "Error while parsing the external manifest");
        rc = SmfStore(ctx, SMF_EPARSE);
    } else {
        rc = ManifestCompareExternal(ctx, external.get());
    }
    ManifestClearContext(external.get());
    std::free(text);
    return rc;
}
