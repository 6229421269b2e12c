// The manifest text: its header and entry lines written, the whole text
// parsed (the header keys, the body's entry lines, where the signature block
// begins), and the files a parsed manifest lists checked on disk.
//
// The text comes from archives and files of unknown origin: every field is
// bounded by the content and copied with a terminator, and nothing past the
// content's last byte is ever read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "krn/rscp/cpcodes.h"
#include "krn/rscp/cputf8local.h"
#include "krn/snt/smfint.h"

namespace {

constexpr const char kBodyLegend[] = "Body: Digest | Name-Length | Name\n";
// Longest algorithm name taken from a text; the known ones are far shorter.
constexpr std::size_t kMaxAlgorithmName = 32;
constexpr std::size_t kFileBlock = 65536;

// The value of each hexadecimal digit, kNotHex for every other byte: every
// entry line is read through it at each lookup, so it is a table.
constexpr uint8_t kNotHex = 0xFF;
constexpr std::array<uint8_t, 256> kHexValues = [] {
    std::array<uint8_t, 256> values{};
    values.fill(kNotHex);
    for (int i = 0; i < 10; ++i)
        values['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; ++i)
        values['a' + i] = values['A' + i] = static_cast<uint8_t>(10 + i);
    return values;
}();

int HexValue(char c)
{
    const uint8_t value = kHexValues[static_cast<uint8_t>(c)];
    return value == kNotHex ? -1 : value;
}

// Whether the count bytes at text are all hexadecimal digits.
bool AllHex(const char* text, std::size_t count)
{
    uint8_t any = 0;  // a digit's value has no bit of 0xF0
    for (std::size_t i = 0; i < count; ++i)
        any |= kHexValues[static_cast<uint8_t>(text[i])];
    return (any & 0xF0) == 0;
}

bool KeyIs(const char* key, std::size_t length, const char* word)
{
    return length == std::strlen(word) && std::memcmp(key, word, length) == 0;
}

void Replace(char** field, const char* text, std::size_t length)
{
    std::free(*field);
    *field = text != nullptr ? SmfCopy(text, length) : nullptr;
}

// Acts on a header line's key at the end of its value.  SMF_OK, or
// SMF_EINTERNAL for a value that cannot be taken.
int OnHeaderKey(ManifestContext* ctx, const char* key, std::size_t keyLength, const char* value,
                std::size_t valueLength)
{
    if (KeyIs(key, keyLength, "Hash")) {
        // A failure is recorded and leaves the file hash unset, so that the
        // first entry line fails.
        ManifestSetFileHash(ctx, value, valueLength, nullptr);
        return SMF_OK;
    }
    if (!KeyIs(key, keyLength, "Signature"))
        return SMF_OK;
    constexpr std::size_t kFormatLength = sizeof MANIFEST_FORMAT - 1;
    if (valueLength >= kFormatLength && std::memcmp(value, MANIFEST_FORMAT, kFormatLength) == 0)
        Replace(&ctx->signatureFormat, MANIFEST_FORMAT, kFormatLength);
    const char* comma = valueLength > 1 ? static_cast<const char*>(std::memchr(value + 1, ',', valueLength - 1))
                                        : nullptr;
    if (comma != nullptr) {
        const std::size_t nameLength = valueLength - static_cast<std::size_t>(comma + 1 - value);
        if (nameLength > kMaxAlgorithmName)
            return SMF_EINTERNAL;
        Replace(&ctx->signatureHash, comma + 1, nameLength);
    } else {
        const char* name = ctx->fileHashId != 0 ? haGetAlgName(ctx->fileHashId) : nullptr;
        Replace(&ctx->signatureHash, name, name != nullptr ? std::strlen(name) : 0);
    }
    return SMF_OK;
}

// Digests one listed file on disk and compares it with its entry line.
int CheckFile(ManifestContext* ctx, const ManifestEntry& entry)
{
    std::unique_ptr<char, decltype(&std::free)> path(SmfCopy(entry.name, entry.nameLength), &std::free);
    if (!path)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the name of >%s<",
                       SsfShownName(entry.name, entry.nameLength).c_str());
    // Listed names were converted from the local code page when the files
    // were packed; on disk they have their local names.
    const uint32_t converted = Utf8nToUcnCPInPlace(path.get(), uint32_t{entry.nameLength} + 1, nullptr, path.get());
    if (converted == RSCPENOMEM)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the name of >%s<",
                       SsfShownName(entry.name, entry.nameLength).c_str());
    if (converted != 0)
        return SmfFail(ctx, SMF_ECONV, "Error in Utf8nToUcnCP for >%s<",
                       SsfShownName(entry.name, entry.nameLength).c_str());
    // Not blocking on open: a listed name may lead to a pipe.
    const int fd = open(path.get(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        ctx->severity = SMF_SEV_ERROR;
        return SmfFail(ctx, SMF_EFILENOTFOUND, "Local File >%s< was not found. System error code %d. %s",
                       SsfShownName(entry.name, entry.nameLength).c_str(), error, std::strerror(error));
    }
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ctx->severity = SMF_SEV_ERROR;
        return SmfFail(ctx, SMF_EFILENOTFOUND, "Local File >%s< is not a regular file",
                       SsfShownName(entry.name, entry.nameLength).c_str());
    }
    haState_t digest;
    if (haInit(&digest, ctx->fileHashId) != HA_OK)
        return SmfFail(ctx, SMF_EDIGESTLIB, "Error in haInit, Hash AlgId %u", ctx->fileHashId);
    std::unique_ptr<char[]> block(new (std::nothrow) char[kFileBlock]);
    if (!block)
        return SmfFail(ctx, SMF_ENOMEM, "No memory to read >%s<", SsfShownName(entry.name, entry.nameLength).c_str());
    for (;;) {
        const ssize_t got = read(fd, block.get(), kFileBlock);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ctx->severity = SMF_SEV_ERROR;
            return SmfFail(ctx, SMF_EFILENOTFOUND, "Local File >%s< could not be read. System error code %d. %s",
                           SsfShownName(entry.name, entry.nameLength).c_str(), error, std::strerror(error));
        }
        if (got == 0)
            break;
        if (haUpdate(&digest, block.get(), static_cast<std::size_t>(got)) != HA_OK)
            return SmfFail(ctx, SMF_EDIGESTLIB, "Error in haUpdate");
    }
    if (haFinal(&digest) != HA_OK)
        return SmfFail(ctx, SMF_EDIGESTLIB, "Error in haFinal");
    if (!SmfDigestListed(ctx, entry.line, digest.digest)) {
        ctx->severity = SMF_SEV_ERROR;
        return SmfFail(ctx, SMF_EDIGEST, "Local File >%s< digest is different to manifest",
                       SsfShownName(entry.name, entry.nameLength).c_str());
    }
    return SMF_OK;
}

// The check-files pass over the recorded body.
int CheckFiles(ManifestContext* ctx)
{
    if (ctx->contentStart == nullptr || ctx->bodyStart == nullptr)
        return SMF_EINTERNAL;
    const char* textEnd = ctx->contentStart + ctx->contentLength;
    if (ctx->bodyStart < ctx->contentStart || ctx->bodyStart > textEnd)
        return SMF_EINTERNAL;
    const uint64_t room = static_cast<uint64_t>(textEnd - ctx->bodyStart);
    const char* end = ctx->bodyStart + (ctx->bodyLength < room ? ctx->bodyLength : room);
    for (const char* p = ctx->bodyStart; p < end && *p != '\n';) {
        ManifestEntry entry;
        if (ManifestParseEntryLine(ctx, p, end, nullptr, &entry) != 0)
            return SMF_EINTERNAL;
        const int rc = CheckFile(ctx, entry);
        if (rc != SMF_OK)
            return rc;
        p += entry.lineLength;
    }
    return SMF_OK;
}

}  // namespace

// ---- Hex --------------------------------------------------------------------

void SmfHexLower(const uint8_t* bytes, std::size_t count, char* out)
{
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
}

bool SmfHexDecode(const char* hex, std::size_t count, uint8_t* bytes)
{
    for (std::size_t i = 0; i < count; ++i) {
        const int high = HexValue(hex[2 * i]);
        const int low = HexValue(hex[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

bool SmfDigestListed(const ManifestContext* ctx, const char* line, const uint8_t* digest)
{
    uint8_t listed[HA_MAX_DIGEST];
    return SmfHexDecode(line, ctx->digestLength, listed) && std::memcmp(listed, digest, ctx->digestLength) == 0;
}

// ---- Writers ----------------------------------------------------------------

int SmfWriteHeader(ManifestContext* ctx)
{
    const char* hash = ctx->fileHashId != 0 ? haGetAlgName(ctx->fileHashId) : nullptr;
    if (ctx->contentStart == nullptr || hash == nullptr || ctx->signatureFormat == nullptr ||
        ctx->signatureHash == nullptr)
        return SMF_EINTERNAL;
    const std::size_t room = ctx->capacity != 0 ? ctx->capacity - 1 : MANIFEST_BUILTIN_TEXT - 1;
    const bool sameHash = std::strcmp(ctx->signatureHash, hash) == 0;
    const int n = sameHash
                      ? std::snprintf(ctx->contentStart, room + 1, "%s\n%s: %s\n%s: %s\n%s: %s\n%s\n", MANIFEST_MAGIC,
                                      "Version", "1.0", "Hash", hash, "Signature", ctx->signatureFormat, kBodyLegend)
                      : std::snprintf(ctx->contentStart, room + 1, "%s\n%s: %s\n%s: %s\n%s: %s,%s\n%s\n",
                                      MANIFEST_MAGIC, "Version", "1.0", "Hash", hash, "Signature", ctx->signatureFormat,
                                      ctx->signatureHash, kBodyLegend);
    if (n < 0 || static_cast<std::size_t>(n) > room)
        return SMF_EINTERNAL;
    ctx->mode = SMF_MODE_WRITE;
    ctx->contentLength = static_cast<uint64_t>(n);
    ctx->headerLength = static_cast<uint64_t>(n);
    ctx->bodyStart = ctx->contentStart + n;
    ctx->bodyLength = 0;
    ctx->entryCount = 0;
    return SMF_OK;
}

void SmfWriteEntry(ManifestContext* ctx, const uint8_t* digest, const char* name, uint32_t nameLength)
{
    char* out = ctx->contentStart + ctx->contentLength;
    const std::size_t hexLength = 2 * std::size_t{ctx->digestLength};
    SmfHexLower(digest, ctx->digestLength, out);
    out += hexLength;
    *out++ = ' ';
    const uint8_t length[2] = {static_cast<uint8_t>(nameLength >> 8), static_cast<uint8_t>(nameLength)};
    SmfHexLower(length, 2, out);
    out += 4;
    *out++ = ' ';
    std::memcpy(out, name, nameLength);
    out[nameLength] = '\n';
    const uint64_t lineLength = SmfEntryLineLength(ctx, nameLength);
    ctx->contentLength += lineLength;
    ctx->bodyLength += lineLength;
    ctx->entryCount += 1;
}

// ---- Parser -----------------------------------------------------------------

int ManifestParseEntryLine(const ManifestContext* ctx, const char* line, const char* end, uint64_t* consumed,
                           ManifestEntry* entry)
{
    if (ctx == nullptr || line == nullptr || end == nullptr || entry == nullptr || end < line)
        return 1;
    const std::size_t digestChars = 2 * std::size_t{ctx->digestLength};
    const std::size_t fixed = digestChars + 6;
    const std::size_t available = static_cast<std::size_t>(end - line);
    // No digest length means no file hash was set: no line can be read.
    if (digestChars == 0 || available < fixed + 1)
        return 1;
    if (!AllHex(line, digestChars))
        return 1;
    uint8_t length[2];
    if (line[digestChars] != ' ' || !SmfHexDecode(line + digestChars + 1, 2, length) || line[digestChars + 5] != ' ')
        return 1;
    const uint32_t nameLength = uint32_t{length[0]} << 8 | length[1];
    if (available < fixed + nameLength + 1 || line[fixed + nameLength] != '\n')
        return 1;
    const char* name = line + fixed;
    if (std::memchr(name, '\0', nameLength) != nullptr)
        return 1;
    entry->line = line;
    entry->name = name;
    entry->nameLength = nameLength;
    entry->lineLength = fixed + nameLength + 1;
    if (consumed != nullptr)
        *consumed += entry->lineLength;
    return 0;
}

int ManifestParse(ManifestContext* ctx, uint32_t* stateInOut, int checkFiles)
{
    ctx = SmfResolve(ctx);
    uint32_t state = stateInOut != nullptr ? *stateInOut : SMF_PARSE_MAGIC;
    auto finish = [&](uint32_t last, int rc) {
        ctx->parserState = last;
        if (stateInOut != nullptr)
            *stateInOut = last;
        return rc;
    };
    if (checkFiles && state == SMF_PARSE_BODY)
        return finish(SMF_PARSE_END, CheckFiles(ctx));

    // A walk that records positions always starts at the magic line.
    SmfIndexFree(ctx);
    ctx->bodyStart = nullptr;
    ctx->signatureStart = nullptr;
    ctx->headerLength = 0;
    ctx->bodyLength = 0;
    ctx->entryCount = 0;
    state = SMF_PARSE_MAGIC;
    const char* text = ctx->contentStart;
    const uint64_t length = text != nullptr ? ctx->contentLength : 0;
    const char* end = text + length;
    const uint32_t endState = checkFiles ? SMF_PARSE_END : SMF_PARSE_BODY;

    uint64_t lineStart = 0;
    uint64_t keyStart = 0;
    uint64_t keyLength = 0;
    uint64_t valueStart = 0;
    uint64_t i = 0;
    auto next = [&](uint64_t at) { return at < length ? text[at] : '\0'; };
    auto openBody = [&](uint64_t at) {
        ctx->headerLength = at;
        ctx->bodyStart = const_cast<char*>(text) + at;
        state = SMF_PARSE_BODY;
        i = at;
    };
    while (i < length && text[i] != '\0') {
        const char c = text[i];
        switch (state) {
        case SMF_PARSE_MAGIC:
            if (c == '\n') {
                const uint64_t lineLength = i - lineStart;
                if (lineLength != sizeof MANIFEST_MAGIC - 1 ||
                    std::memcmp(text + lineStart, MANIFEST_MAGIC, lineLength) != 0)
                    return finish(SMF_PARSE_NOT_MANIFEST, SMF_EINTERNAL);
                state = SMF_PARSE_LINE;
            }
            ++i;
            break;
        case SMF_PARSE_LINE:
            if (c == '\n') {
                // Two empty lines end a header that has no legend line; a
                // single one is passed over.
                if (next(i + 1) == '\n')
                    openBody(i + 1);
                else
                    ++i;
                break;
            }
            keyStart = i;
            state = SMF_PARSE_KEY;
            break;
        case SMF_PARSE_KEY:
            if (c == ':' && next(i + 1) == ' ') {
                keyLength = i - keyStart;
                valueStart = i + 2;
                state = SMF_PARSE_VALUE;
                i += 2;
                break;
            }
            // A line without ": " carries no key; it is passed over.
            if (c == '\n')
                state = SMF_PARSE_LINE;
            ++i;
            break;
        case SMF_PARSE_VALUE:
            if (c == '\n') {
                const char* key = text + keyStart;
                if (OnHeaderKey(ctx, key, keyLength, text + valueStart, i - valueStart) != SMF_OK)
                    return finish(SMF_PARSE_END, SMF_EINTERNAL);
                if (KeyIs(key, keyLength, "Body") && next(i + 1) == '\n') {
                    openBody(i + 2);
                    break;
                }
                state = SMF_PARSE_LINE;
            }
            ++i;
            break;
        case SMF_PARSE_BODY: {
            if (c == '\n') {
                ctx->bodyLength += 1;
                ++i;
                // One more empty line belongs to the body as well.
                if (next(i) == '\n') {
                    ctx->bodyLength += 1;
                    ++i;
                }
                ctx->signatureStart = const_cast<char*>(text) + i;
                return finish(endState, SMF_OK);
            }
            ManifestEntry entry;
            if (ManifestParseEntryLine(ctx, text + i, end, &ctx->bodyLength, &entry) != 0)
                return finish(SMF_PARSE_END, SMF_EINTERNAL);
            ctx->entryCount += 1;
            i += entry.lineLength;
            break;
        }
        default:
            return finish(state, SMF_EINTERNAL);
        }
    }
    return finish(state, SMF_OK);
}

int ManifestSetFileHash(ManifestContext* ctx, const char* name, std::size_t nameLength, const char* cname)
{
    ctx = SmfResolve(ctx);
    ctx->fileHashId = 0;
    ctx->digestLength = 0;
    const char* text = name;
    std::size_t length = nameLength;
    if (text == nullptr) {
        text = cname;
        length = cname != nullptr ? std::strlen(cname) : 0;
    } else {
        while (length != 0 && *text == ' ') {
            ++text;
            --length;
        }
    }
    if (text == nullptr || length > kMaxAlgorithmName) {
        SmfRecord(ctx, "Hash algorithm could not be parsed from manifest");
        return SMF_EDIGESTLIB;
    }
    // CRC-32 is a checksum, not a digest a manifest can rest on.
    const uint32_t id = haGetAlgId(text, length);
    if (id == 0 || id == HA_CRC32) {
        SmfRecord(ctx, "Invalid file hash algorithm supplied");
        return SMF_EDIGESTLIB;
    }
    haState_t probe;
    if (haInit(&probe, id) != HA_OK) {
        SmfRecord(ctx, "Initialization of HA failed");
        return SMF_EDIGESTLIB;
    }
    ctx->fileHashId = id;
    ctx->digestLength = probe.digestSize;
    return SMF_OK;
}

int ManifestSignatureBlock(ManifestContext* ctx, const char** base64, uint64_t* length)
{
    ctx = SmfResolve(ctx);
    constexpr std::size_t kBegin = sizeof MANIFEST_BEGIN_SIGNATURE;  // with its line feed
    constexpr std::size_t kEnd = sizeof MANIFEST_END_SIGNATURE - 1;
    const char* text = ctx->contentStart;
    const char* block = ctx->signatureStart;
    if (text == nullptr || block == nullptr || block < text)
        return SMF_EPARSE;
    const uint64_t offset = static_cast<uint64_t>(block - text);
    // The signed part is exactly what stands before the block.
    if (offset > ctx->contentLength || ctx->headerLength + ctx->bodyLength != offset)
        return SMF_EPARSE;
    const uint64_t rest = ctx->contentLength - offset;
    if (rest < kBegin + kEnd || std::memcmp(block, MANIFEST_BEGIN_SIGNATURE, kBegin - 1) != 0 ||
        block[kBegin - 1] != '\n' || std::memcmp(block + rest - kEnd, MANIFEST_END_SIGNATURE, kEnd) != 0)
        return SMF_EPARSE;
    if (base64 != nullptr)
        *base64 = block + kBegin;
    if (length != nullptr)
        *length = rest - kBegin - kEnd;
    return SMF_OK;
}
