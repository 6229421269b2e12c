// Per-file digests: a file's bytes are fed into a digest while the archiver
// packs it (the manifest gains the file's entry line) or extracts it (the
// digest is compared with the file's entry line), and the text buffer grows
// as entry lines are added.
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpcodes.h"
#include "krn/rscp/cputf8local.h"
#include "krn/snt/smfint.h"

namespace {

// Releases a record after a failure or at its close.
void Release(ManifestFile* file)
{
    std::free(file->name);
    file->name = nullptr;
    file->nameLength = 0;
}

// Converts the name (local code page) into the record's UTF-8 name, with
// slashes for backslashes when an entry line is written (writing).  A name
// looked up in a manifest read back is taken as it stands: "d\\a.txt" is
// another file than the "d/a.txt" that was signed.  SMF_OK, SMF_ENOMEM or
// SMF_ECONV, recorded in the context unless quiet.
int TakeName(ManifestContext* ctx, ManifestFile* file, const char* name, std::size_t nameLength, bool writing,
             bool quiet = false)
{
    if (std::memchr(name, '\0', nameLength) != nullptr)
        return quiet ? SMF_ECONV : SmfFail(ctx, SMF_ECONV, "Error in UcnToUtf8nCP");
    const std::size_t size = 3 * nameLength + 3;
    file->name = static_cast<char*>(std::malloc(size));
    if (file->name == nullptr)
        return quiet ? SMF_ENOMEM : SmfFail(ctx, SMF_ENOMEM, "No Memory for ManifestOpenFile");
    char* end = file->name;
    const char* source = name;
    const uint32_t rc = UcnToUtf8nCP(nullptr, &end, file->name + size - 1, &source, name + nameLength);
    *end = '\0';
    const std::size_t written = static_cast<std::size_t>(end - file->name);
    if (rc == RSCPENOMEM)
        return quiet ? SMF_ENOMEM : SmfFail(ctx, SMF_ENOMEM, "No Memory for ManifestOpenFile");
    if (rc != 0) {
        MANIFEST_TRACE(0, "Error in UcnToUtf8nCP %d\n", rc);
        return quiet ? SMF_ECONV : SmfFail(ctx, SMF_ECONV, "Error in UcnToUtf8nCP");
    }
    for (std::size_t i = 0; writing && i < written; ++i)
        if (file->name[i] == '\\')
            file->name[i] = '/';
    // The entry line's length field holds 16 bits.
    if (written > MANIFEST_MAX_NAME)
        return quiet ? SMF_EINVARG
                     : SmfFail(ctx, SMF_EINVARG, "File name of %zu bytes is too long for the manifest (at most %zu)",
                               written, MANIFEST_MAX_NAME);
    file->nameLength = static_cast<uint32_t>(written);
    return SMF_OK;
}

// Whether the shorter name is the end of the longer one, starting the longer
// one or right after a "/" in it.
bool EndsAtBoundary(const char* a, uint32_t aLength, const char* b, uint32_t bLength)
{
    const char* longer = aLength >= bLength ? a : b;
    const char* shorter = aLength >= bLength ? b : a;
    const uint32_t longLength = aLength >= bLength ? aLength : bLength;
    const uint32_t shortLength = aLength >= bLength ? bLength : aLength;
    if (shortLength == 0)
        return false;
    const uint32_t skip = longLength - shortLength;
    if (skip != 0 && longer[skip - 1] != '/')
        return false;
    return std::memcmp(longer + skip, shorter, shortLength) == 0;
}

// Entry-by-entry search for the partial match, or for an exact match when
// the index cannot be had.
int ScanEntries(ManifestContext* ctx, ManifestFile* file, int partialSearch)
{
    const char* end = ctx->contentStart + ctx->contentLength;
    const char* p = ctx->bodyStart;
    for (uint32_t n = 0; n < ctx->entryCount; ++n) {
        ManifestEntry entry;
        if (ManifestParseEntryLine(ctx, p, end, nullptr, &entry) != 0)
            return SMF_EFILENOTFOUND;
        const bool exact = entry.nameLength == file->nameLength &&
                           std::memcmp(entry.name, file->name, file->nameLength) == 0;
        if (exact || (partialSearch && EndsAtBoundary(entry.name, entry.nameLength, file->name, file->nameLength))) {
            file->entryLine = entry.line;
            return SMF_OK;
        }
        p += entry.lineLength;
        if (p >= end || *p == '\n')
            return SMF_EEOL;
    }
    return SMF_EFILENOTFOUND;
}

// Whether the record's entry line still lies in the context's text.
bool EntryLineValid(const ManifestContext* ctx, const ManifestFile* file)
{
    const char* text = ctx->contentStart;
    return text != nullptr && file->entryLine >= text &&
           static_cast<uint64_t>(file->entryLine - text) + 2 * uint64_t{ctx->digestLength} <= ctx->contentLength;
}

// Notes that a file answered the record's entry line, so that a manifest
// can tell whether every line it lists was answered once.  A line answered
// twice means a file occurs more often than the manifest lists it.
int MarkEntryLine(ManifestContext* ctx, const ManifestFile* file)
{
    ManifestIndex* index = SmfIndex(ctx);
    ManifestEntry entry;
    if (index == nullptr ||
        ManifestParseEntryLine(ctx, file->entryLine, ctx->contentStart + ctx->contentLength, nullptr, &entry) != 0)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the name index of the manifest");
    std::size_t cursor = 0;
    std::size_t slot = 0;
    const char* line;
    do {
        line = SmfIndexNext(index, ctx, entry.name, entry.nameLength, &cursor, &slot);
    } while (line != nullptr && line != file->entryLine);
    const int marked = line != nullptr ? SmfIndexMark(index, slot) : -1;
    if (marked < 0)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the name index of the manifest");
    if (marked == 0) {
        return SmfFail(ctx, SMF_EFILENOTFOUND, "File >%s< occurs more often than the manifest lists it",
                       SsfShownName(file->name, file->nameLength).c_str());
    }
    return SMF_OK;
}

}  // namespace

int ManifestCheckAllListed(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    if (ctx->mode != SMF_MODE_READ || ctx->entryCount == 0)
        return SMF_OK;
    const ManifestIndex* index = SmfIndex(ctx);
    if (index == nullptr)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the name index of the manifest");
    const uint32_t matched = SmfIndexMatchedCount(index);
    if (matched >= ctx->entryCount)
        return SMF_OK;
    ManifestEntry entry;
    const char* line = SmfIndexFirstUnmarked(index, ctx);
    if (line == nullptr ||
        ManifestParseEntryLine(ctx, line, ctx->contentStart + ctx->contentLength, nullptr, &entry) != 0)
        return SmfFail(ctx, SMF_EBODY_NOT_EQUAL, "The manifest content is not equal");
    ctx->severity = SMF_SEV_ERROR;
    return SmfFail(ctx, SMF_EBODY_NOT_EQUAL,
                   "The manifest content is not equal: %u of %u listed files were not checked, first >%s<",
                   ctx->entryCount - matched, ctx->entryCount, SsfShownName(entry.name, entry.nameLength).c_str());
}

namespace {

// Looks the name up as ManifestOpenFile does: 1 when a line of it is listed
// (with onlyUnanswered, one that no file answered yet), else 0.  Without the
// index nothing can be told: 1, so that the caller refuses rather than
// passes.  quiet: a name that can not be taken is not recorded.
int NameListed(ManifestContext* ctx, const char* name, std::size_t nameLength, bool onlyUnanswered, bool quiet)
{
    ctx = SmfResolve(ctx);
    if (ctx->mode != SMF_MODE_READ || ctx->entryCount == 0 || name == nullptr || nameLength == 0 ||
        nameLength > (SIZE_MAX - 3) / 3)
        return 0;
    ManifestFile probe{};
    if (TakeName(ctx, &probe, name, nameLength, false, quiet) != SMF_OK) {
        Release(&probe);
        return 0;
    }
    const ManifestIndex* index = SmfIndex(ctx);
    int listed = index == nullptr ? 1 : 0;
    std::size_t cursor = 0;
    std::size_t slot = 0;
    while (index != nullptr && listed == 0 &&
           SmfIndexNext(index, ctx, probe.name, probe.nameLength, &cursor, &slot) != nullptr)
        listed = onlyUnanswered && SmfIndexMarked(index, slot) ? 0 : 1;
    Release(&probe);
    return listed;
}

}  // namespace

int ManifestNameUnanswered(ManifestContext* ctx, const char* name, std::size_t nameLength)
{
    return NameListed(ctx, name, nameLength, true, false);
}

int ManifestNameListed(ManifestContext* ctx, const char* name, std::size_t nameLength)
{
    return NameListed(ctx, name, nameLength, false, true);
}

int ManifestEnsureBuffer(ManifestContext* ctx, uint64_t bytes)
{
    if (ctx == nullptr)
        return 0;
    const uint64_t capacity = ctx->capacity != 0 ? ctx->capacity : MANIFEST_BUILTIN_TEXT;
    if (bytes > 0 && capacity > bytes + ctx->contentLength)
        return 1;
    const uint64_t limit = UINT64_MAX / 4;
    if (bytes > limit || capacity > limit) {
        SmfRecord(ctx, "No memory allocated for manifest buffer");
        return 0;
    }
    const uint64_t size = bytes + 2 * capacity;
    char* old = ctx->contentStart;
    char* grown;
    if (ctx->capacity != 0 && ctx->grownText != nullptr && old == ctx->grownText) {
        grown = static_cast<char*>(std::realloc(ctx->grownText, size));
    } else {
        grown = static_cast<char*>(std::malloc(size));
        if (grown != nullptr && old != nullptr && ctx->contentLength != 0)
            std::memcpy(grown, old, ctx->contentLength);
        if (grown != nullptr && old == ctx->builtinText)
            ctx->builtinText[0] = '\0';
        if (grown != nullptr && ctx->capacity != 0)
            std::free(ctx->grownText);
    }
    if (grown == nullptr) {
        SmfRecord(ctx, "No memory allocated for manifest buffer");
        return 0;
    }
    // Positions move with the text.
    if (old != nullptr) {
        if (ctx->bodyStart != nullptr)
            ctx->bodyStart = grown + (ctx->bodyStart - old);
        if (ctx->signatureStart != nullptr)
            ctx->signatureStart = grown + (ctx->signatureStart - old);
    }
    ctx->grownText = grown;
    ctx->contentStart = grown;
    ctx->capacity = size;
    return 1;
}

int ManifestFindEntry(ManifestContext* ctx, ManifestFile* file, int partialSearch)
{
    if (ctx == nullptr || file == nullptr || ctx->entryCount == 0 || file->name == nullptr ||
        ctx->bodyStart == nullptr || ctx->contentStart == nullptr)
        return SMF_EINTERNAL;
    const char* end = ctx->contentStart + ctx->contentLength;
    if (ctx->bodyStart >= end || *ctx->bodyStart == '\n')
        return SMF_EEOL;
    const ManifestIndex* index = partialSearch ? nullptr : SmfIndex(ctx);
    if (index == nullptr)
        return ScanEntries(ctx, file, partialSearch);
    // A name listed more than once: the first line no file answered yet.
    std::size_t cursor = 0;
    std::size_t slot = 0;
    const char* first = SmfIndexNext(index, ctx, file->name, file->nameLength, &cursor, &slot);
    if (first == nullptr)
        return SMF_EFILENOTFOUND;
    for (const char* line = first; line != nullptr;
         line = SmfIndexNext(index, ctx, file->name, file->nameLength, &cursor, &slot)) {
        if (!SmfIndexMarked(index, slot)) {
            file->entryLine = line;
            return SMF_OK;
        }
    }
    file->entryLine = first;
    return SMF_OK;
}

int ManifestOpenFile(ManifestContext* ctx, ManifestFile* file, const char* name, std::size_t nameLength,
                     int partialSearch)
{
    ctx = SmfResolve(ctx);
    if (file == nullptr) {
        if (ctx->lastErrorText == nullptr)
            SmfRecord(ctx, "Manifest context handle null");
        return SmfStore(ctx, SMF_EINVARG);
    }
    std::free(file->name);
    std::memset(static_cast<void*>(file), 0, sizeof *file);
    if (name == nullptr || nameLength == 0 || nameLength > (SIZE_MAX - 3) / 3) {
        if (ctx->lastErrorText == nullptr)
            SmfRecord(ctx, "Invalid empty input file name passed");
        return SmfStore(ctx, SMF_EINVARG);
    }
    // The first file of an empty context starts the text being written.
    const bool writing = ctx->contentLength == 0 || ctx->mode == SMF_MODE_WRITE;
    int rc = TakeName(ctx, file, name, nameLength, writing);
    if (rc == SMF_OK && haInit(&file->digest, ctx->fileHashId) != HA_OK) {
        MANIFEST_TRACE(0, "Error in haInit %d, Hash AlgId %u\n", HA_EALG, ctx->fileHashId);
        rc = SmfFail(ctx, SMF_EDIGESTLIB, "Error in haInit");
    }
    if (rc == SMF_OK) {
        file->context = ctx;
        if (ctx->contentLength == 0) {
            if (SmfWriteHeader(ctx) != SMF_OK)
                rc = SmfFail(ctx, SMF_EINTERNAL, "WriteHeader of signed manifest failed");
        } else if (ctx->mode != SMF_MODE_WRITE) {
            rc = ManifestFindEntry(ctx, file, partialSearch);
            if (rc != SMF_OK) {
                rc = SmfFail(ctx, SMF_EFILENOTFOUND, "File%s>%s< was not found in manifest",
                             partialSearch ? " (partial search) " : "",
                             SsfShownName(file->name, file->nameLength).c_str());
            } else if (!partialSearch) {
                rc = MarkEntryLine(ctx, file);
            }
        }
    }
    if (rc != SMF_OK) {
        std::memset(static_cast<void*>(&file->digest), 0, sizeof file->digest);
        Release(file);
        file->context = nullptr;
        return SmfStore(ctx, rc);
    }
    return SMF_OK;
}

int ManifestUpdateFile(ManifestFile* file, const void* data, std::size_t length)
{
    if (file == nullptr) {
        MANIFEST_TRACE(0, "Manifest (update) context handle null.\n");
        return SMF_EINVARG;
    }
    ManifestContext* ctx = file->context;
    if (ctx == nullptr)
        return SMF_OK;
    if (file->nameLength == 0 || file->name == nullptr)
        return SmfFail(ctx, SMF_EFILENOTFOUND, "File (update) (name is null) not found in manifest");
    const int rc = haUpdate(&file->digest, data, length);
    if (rc != HA_OK) {
        MANIFEST_TRACE(0, "Error in haUpdate %d\n", rc);
        SmfFail(ctx, SMF_EDIGESTLIB, "Error in haUpdate");
        std::memset(static_cast<void*>(&file->digest), 0, sizeof file->digest);
        Release(file);
        file->byteCount = 0;
        return SMF_EDIGESTLIB;
    }
    file->byteCount += length;
    return SMF_OK;
}

int ManifestCloseFile(ManifestFile* file)
{
    if (file == nullptr) {
        MANIFEST_TRACE(0, "Manifest (close) context handle null.\n");
        return SMF_EINVARG;
    }
    ManifestContext* ctx = SmfResolve(file->context);
    if (file->nameLength == 0 || file->name == nullptr) {
        MANIFEST_TRACE(2, "File not found in manifest\n");
        Release(file);
        return SmfFail(ctx, SMF_EFILENOTFOUND, "File (close) (name is null) not found in manifest");
    }
    int rc = SMF_OK;
    const int final = haFinal(&file->digest);
    if (final != HA_OK) {
        MANIFEST_TRACE(0, "Error in haFinal %d\n", final);
        rc = SmfFail(ctx, SMF_EDIGESTLIB, "Error in haFinal");
    } else if (ctx->mode == SMF_MODE_WRITE) {
        if (ctx->contentStart == nullptr) {
            rc = SmfFail(ctx, SMF_EINTERNAL, "Write entry in manifest for file >%s< failed",
                         SsfShownName(file->name, file->nameLength).c_str());
        } else if (!ManifestEnsureBuffer(ctx, SmfEntryLineLength(ctx, file->nameLength) + 1)) {
            rc = SmfStore(ctx, SMF_EPARSE);
        } else {
            SmfWriteEntry(ctx, file->digest.digest, file->name, file->nameLength);
        }
    } else if (ctx->contentLength == 0 || !EntryLineValid(ctx, file)) {
        rc = SmfFail(ctx, SMF_EINTERNAL, "Write entry in manifest for file >%s< failed",
                     SsfShownName(file->name, file->nameLength).c_str());
    } else if (!SmfDigestListed(ctx, file->entryLine, file->digest.digest)) {
        ctx->severity = SMF_SEV_ERROR;
        rc = SmfFail(ctx, SMF_EDIGEST, "Digest of file >%s< is not correct",
                     SsfShownName(file->name, file->nameLength).c_str());
    }
    Release(file);
    return SmfStore(ctx, rc);
}
