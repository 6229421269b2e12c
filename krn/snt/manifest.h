// The signed-manifest module: a text that lists, for every file of an
// archive, the digest of its content and its name, under a short header that
// names the algorithms, followed by a detached signature block.
//
// The archiver calls, in this order: ManifestInit; per packed or extracted
// file ManifestOpenFile, ManifestUpdateFile for each data block and
// ManifestCloseFile; ManifestSign once after packing, or one of the verify
// operations and ManifestReadExternal when checking; the getters and name
// functions for its messages; ManifestClearContext when a context is dropped;
// ManifestShutdown at exit.
//
// Every operation returns an SMF code (0 success) and never throws.  A NULL
// context means the module's static default context.  Failures are kept in
// the context: the first SMF code, the crypto library's code and every
// message, joined by line feeds.  Texts handed out by getters belong to the
// module or the context.
#pragma once

#include <cstddef>
#include <cstdint>

#include "crypto/hadigest.h"

struct ManifestIndex;
struct SsfFuncContext;

enum : int {
    SMF_OK = 0,
    SMF_ERROR = 1,  // a second error was recorded while one was already recorded
    SMF_ENOMEM = 2,
    SMF_EINVARG = 3,
    SMF_ENOTIMPL = 4,
    SMF_EINTERNAL = 5,  // unparsable text, wrong mode, empty content
    SMF_EINIT = 6,
    SMF_EEOL = 7,  // end of the body reached while looking up an entry
    SMF_ESIGNATURE = 8,
    SMF_ESSFLIB = 9,
    SMF_EDIGEST = 10,     // a file digest differs from the manifest
    SMF_EDIGESTLIB = 11,  // digest failure, invalid hash algorithm
    SMF_ELIBRARY = 12,    // crypto library not loaded, not accepted, or too old
    SMF_EENCODE = 13,
    SMF_EDECODE = 14,
    SMF_ECONV = 15,            // a name could not be converted to UTF-8
    SMF_EPARSE = 16,           // the text could not be parsed, or a buffer could not grow
    SMF_EFILENOTFOUND = 17,    // a file is not in the manifest, or not on disk
    SMF_EBODY_NOT_EQUAL = 18,  // an external manifest differs from the internal one
    SMF_ETSA = 19,
    SMF_ECRL = 20,
    SMF_ECRL_REVOKED = 21,
    SMF_ECRL_MISSING = 22,
    SMF_ECRL_OUTDATED = 23,
    SMF_ESIGNATURE_EXTERNAL = 24,
    SMF_ESIGNATURE_VALIDATION = 25,
    SMF_ESIGNATURE_UNKNOWN = 26,
};

// Severities.
enum : uint32_t {
    SMF_SEV_OK = 0,
    SMF_SEV_LOGGABLE_WARNING = 1,
    SMF_SEV_WARNING = 2,
    SMF_SEV_ERROR = 3,
};

// Context modes.
enum : uint8_t {
    SMF_MODE_NEW = 0,
    SMF_MODE_WRITE = 1,  // header written, entry lines being added
    SMF_MODE_READ = 2,   // a text was handed in for verification
};

// Parser states (ManifestParse).
enum : uint32_t {
    SMF_PARSE_MAGIC = 0,
    SMF_PARSE_VALUE = 1,
    SMF_PARSE_LINE = 2,
    SMF_PARSE_KEY = 3,
    SMF_PARSE_BODY = 4,
    SMF_PARSE_END = 5,
    SMF_PARSE_NOT_MANIFEST = 6,
};

// Size of the text buffer built into every context.
inline constexpr std::size_t MANIFEST_BUILTIN_TEXT = 65536;
// Longest file name an entry line can carry (its length field is 16 bits).
inline constexpr std::size_t MANIFEST_MAX_NAME = 65535;

inline constexpr const char MANIFEST_MAGIC[] = "KOV-MANIFEST";
inline constexpr const char MANIFEST_FORMAT[] = "PKCS7-TSTAMP";
inline constexpr const char MANIFEST_BEGIN_SIGNATURE[] = "-----BEGIN SIGNATURE-----";
inline constexpr const char MANIFEST_END_SIGNATURE[] = "-----END SIGNATURE-----";

// The signed-manifest context.  Callers zero-fill it (value-initialise) before
// first use and release its dynamic members with ManifestClearContext.
struct ManifestContext {
    // One byte more than the text may use, so that the byte after a full
    // buffer can still be looked at.
    char builtinText[MANIFEST_BUILTIN_TEXT + 1];
    char* grownText;         // heap buffer once the text outgrew builtinText, else NULL
    char* contentStart;      // first byte of the manifest text
    char* bodyStart;         // first entry line
    char* signatureStart;    // first byte after the body's empty line(s)
    uint64_t capacity;       // size of grownText, 0 while builtinText is used
    uint64_t headerLength;   // bytes of the header lines including the empty line
    uint64_t bodyLength;     // bytes of the entry lines and the empty line(s) after them
    uint64_t contentLength;  // bytes of manifest text
    uint32_t fileHashId;     // digest id of the per-file digests, 0 = none
    uint32_t severity;
    int32_t lastSsfRc;      // crypto library code of the first failure that had one
    int32_t lastSmfRc;      // first code recorded since the context was set up
    uint32_t digestLength;  // bytes of one file digest
    uint8_t mode;
    uint32_t parserState;
    uint32_t entryCount;         // entry lines written or parsed
    const char* signerCategory;  // constant text, or NULL
    char* signerSubject;
    char* signerIssuer;
    char* signatureFormat;
    char* signatureHash;  // canonical name of the signature digest algorithm
    char* lastErrorText;
    ManifestIndex* nameIndex;  // entry lines by name, built on the first look-up
};

// The per-file digest record, owned by the caller and cleared by
// ManifestOpenFile.
struct ManifestFile {
    char* name;                // UTF-8 (backslashes replaced by slashes when written), NUL-terminated
    uint32_t nameLength;       // 0 when the record is closed
    uint64_t byteCount;        // bytes fed by ManifestUpdateFile
    const char* entryLine;     // read mode: the matching entry line
    ManifestContext* context;  // the owning context (the default one for NULL)
    haState_t digest;
};

// One parsed entry line.
struct ManifestEntry {
    const char* line;  // first byte of the line (its digest)
    const char* name;
    uint32_t nameLength;
    uint64_t lineLength;  // bytes of the line including its line feed
};

// ---- Module life cycle ------------------------------------------------------

// Sets the context up (clearing it whole) and, once per process, loads the
// crypto library (NULL or "" means "libkovcrypto.so"), then checks it and
// sets the algorithms.  The archiver passes "SHA256", "PKCS7-TSTAMP",
// "SHA256" unless told otherwise; NULL names take those defaults.
int ManifestInit(ManifestContext* ctx, const char* cryptoLibrary, const char* fileHash, const char* signatureFormat,
                 const char* signatureHash);
// Clears the default context and unloads the crypto library.  Returns 0.
int ManifestShutdown();
// Frees what the context holds; the context stays usable.  Returns 0.
int ManifestClearContext(ManifestContext* ctx);

// ---- Getters ----------------------------------------------------------------

int ManifestGetSmfRc(ManifestContext* ctx);
int ManifestGetSsfRc(ManifestContext* ctx);
// The error text, or "" when none.
const char* ManifestGetLastError(ManifestContext* ctx);
// The severity when an error text is recorded, else 0.
uint32_t ManifestGetSeverity(ManifestContext* ctx);
const char* ManifestGetSeverityName(ManifestContext* ctx);
const char* ManifestGetSignatureHash(ManifestContext* ctx);
const char* ManifestGetSignatureFormat(ManifestContext* ctx);
// Never NULL: "NULL" when no signature was read and no code is stored.
const char* ManifestGetSigner(ManifestContext* ctx);
const char* ManifestGetSubject(ManifestContext* ctx);
const char* ManifestGetIssuer(ManifestContext* ctx);
// The manifest text, its length and its number of entries; NULL / 0 (and
// the code SMF_EINTERNAL recorded) while the context holds no text.
uint32_t ManifestGetFileCount(ManifestContext* ctx);
uint64_t ManifestGetContentLength(ManifestContext* ctx);
const char* ManifestGetContent(ManifestContext* ctx);
// Canonical name of the file hash, or NULL (recorded) when none is set.
const char* ManifestGetFileHash(ManifestContext* ctx);
// Forgets a recorded error that carries no crypto code and an SMF code of 5
// or less; the severity stays.
void ManifestDropMinorError(ManifestContext* ctx);

// "SMF_OK" .. "SMF_ESIGNATURE_UNKNOWN"; "SMF_UNKNOWN_ERROR" for other codes.
const char* SmfErrorName(int code);
// Name of a crypto-library return code.
const char* SmfSsfErrorName(int code);

// ---- Manifest text ----------------------------------------------------------

// Parses the context's content (start and length set by the caller).  state
// holds the parser state in and out (NULL: start at 0).  With checkFiles 0
// the positions, algorithms and entry count are recorded; with checkFiles 1
// and state SMF_PARSE_BODY every listed file is opened, digested and
// compared.  The parser never reads past the content.
int ManifestParse(ManifestContext* ctx, uint32_t* state, int checkFiles);
// Parses the entry line at line (the text ends at end) with the digest length
// of the context's file hash: 0 and the entry filled, or 1 when the line is
// malformed or does not end before end.  consumed (when not NULL) grows by
// the line's bytes.
int ManifestParseEntryLine(const ManifestContext* ctx, const char* line, const char* end, uint64_t* consumed,
                           ManifestEntry* entry);
// Sets the context's file hash from a name given with a length, or from a
// NUL-terminated one when name is NULL.  0, or SMF_EDIGESTLIB (recorded) for
// an unknown name or one that is no manifest hash (CRC-32).
int ManifestSetFileHash(ManifestContext* ctx, const char* name, std::size_t nameLength, const char* cname);
// The Base64 text of the signature block of a parsed signed text: the
// block's BEGIN line must stand at the signature part and its END line end
// the text.  0 with the text between them, else SMF_EPARSE.
int ManifestSignatureBlock(ManifestContext* ctx, const char** base64, uint64_t* length);

// ---- Per-file digests -------------------------------------------------------

// Starts the digest of one file under its name (local code page, converted to
// UTF-8 inside); a new context gets its header and becomes a write-mode
// manifest, a read-mode context looks the name up.  partialSearch 1 also
// matches names that end in the other at a "/" boundary.
int ManifestOpenFile(ManifestContext* ctx, ManifestFile* file, const char* name, std::size_t nameLength,
                     int partialSearch);
// A length of 0 with NULL data is allowed (empty files).
int ManifestUpdateFile(ManifestFile* file, const void* data, std::size_t length);
// Finishes the digest: write mode adds the entry line, read mode compares it
// with the listed digest.  Always releases the record's name.
int ManifestCloseFile(ManifestFile* file);
// Sets the record's entry line: 0, SMF_EEOL or SMF_EFILENOTFOUND when the
// name is not listed, SMF_EINTERNAL without entries.
int ManifestFindEntry(ManifestContext* ctx, ManifestFile* file, int partialSearch);
// 1 when the text buffer has room for that many more bytes (grown if need
// be), 0 when it cannot grow.
int ManifestEnsureBuffer(ManifestContext* ctx, uint64_t bytes);
// Read mode, after every file was checked: 0 when each entry line was
// answered by one ManifestOpenFile by exact name, else SMF_EBODY_NOT_EQUAL
// naming the first line that was not (a file missing from what was
// checked).  A file opened by exact name more often than its name is listed
// already failed its open with SMF_EFILENOTFOUND.  Other modes: 0.
int ManifestCheckAllListed(ManifestContext* ctx);

// Read mode: 1 when the name (local code page, looked up as ManifestOpenFile
// does) is listed and a line of it was not answered by a file yet, else 0.
// A name that cannot be taken (a NUL in it, no conversion, too long) answers
// 0 and leaves its failure recorded, as ManifestOpenFile would; otherwise it
// records nothing in the context.
int ManifestNameUnanswered(ManifestContext* ctx, const char* name, std::size_t nameLength);
// Read mode: 1 when the name (looked up as ManifestOpenFile does) is listed,
// whether a file answered it or not, else 0.  Records nothing in the
// context: a name that cannot be taken is not listed.
int ManifestNameListed(ManifestContext* ctx, const char* name, std::size_t nameLength);

// ---- External comparison ----------------------------------------------------

// Reads the manifest file at path and compares it with the context's
// verified manifest.
int ManifestReadExternal(ManifestContext* ctx, const char* path);
// Compares two parsed manifests: algorithms, body length, then names and
// digests (in any order).
int ManifestCompareExternal(ManifestContext* internal, ManifestContext* external);

// ---- Signing and verification -----------------------------------------------

// Signs the write-mode manifest (a context without files gets its header
// first): appends the empty line that ends the body, has the crypto library
// sign header and body with the PSE (NULL or "": "KOVvalidation") and PIN
// (used only when not empty), has the timestamp authority at tsaUrl
// (required: SMF_ETSA without it) stamp the signature, through the proxy
// when one is given, and appends the Base64 signature block.  The signed
// text stays in the context; with outputLength it is also copied to output
// (*outputLength 0 only asks for the length).  SMF_ESSFLIB for a library
// failure (its code kept as the SSF code), SMF_ESIGNATURE when the
// timestamp could not be had.
int ManifestSign(ManifestContext* ctx, const char* pseName, const char* psePassword, const char* tsaUrl,
                 const char* proxyUrl, char* output, uint64_t* outputLength);

// An optional out-parameter: a buffer and its size in, the value's length
// out.  A buffer smaller than the value and its terminator is replaced by a
// new one (malloc) that the caller frees.
struct ManifestOutText {
    char** buffer;
    uint32_t* length;
};
// What a verification can hand out about the signer and the timestamp
// authority; unset pairs are skipped.
struct ManifestSignerOut {
    ManifestOutText signerCertificate;  // DER
    ManifestOutText signerId;           // subject name
    ManifestOutText signerIssuer;
    ManifestOutText signingTime;  // "YYYYMMDDhhmmssZ"
    ManifestOutText tsaId;
    ManifestOutText tsaCertificate;  // DER
};

// Verifies a signed manifest text: copies it into the context (read mode),
// parses it, decodes its signature and validates it.  Without a PSE the
// profile "KOVverify" decides ("KOV software"), falling back to
// "KOVvalidation" ("KOV validation", a loggable warning) when the first
// knows no anchor for the signer; with a PSE that PSE does ("External").
// A CRL of length 0 skips the revocation checks.  Only when the signature
// holds and loadBody is 1 is every listed file checked on disk.  After any
// failure the signer is "Unknown signer".  keepSigner 1 keeps the signer's
// subject and issuer for ManifestGetSubject and ManifestGetIssuer.
int ManifestVerify(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                   const char* psePassword, const unsigned char* crl, std::size_t crlLength, int loadBody,
                   int keepSigner);
int ManifestVerifyAndLoad(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                          const char* psePassword, const unsigned char* crl, std::size_t crlLength);
int ManifestVerifySignatureOnly(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                                const char* psePassword, const unsigned char* crl, std::size_t crlLength);
// A buffer of the context for a manifest text of length bytes, which the
// caller fills and then verifies with this buffer as the text: the text is
// then held once, in place, instead of once by the caller and once by the
// context.  Any text the context held goes; NULL when memory ran out (the
// failure is recorded).
char* ManifestTextBuffer(ManifestContext* ctx, std::size_t length);
// The common core of the three, with the out-parameters (may be NULL).
int ManifestVerifyBuffer(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                         const char* psePassword, const unsigned char* crl, std::size_t crlLength, int loadBody,
                         const ManifestSignerOut* out);
// Validates a detached signature over the signed data with the crypto
// library's functions fn: the signer category, the revocation checks and the
// out-parameters (may be NULL).
int ValidateManifestSignature(ManifestContext* ctx, const char* data, std::size_t dataLength,
                              const unsigned char* signature, std::size_t signatureLength, SsfFuncContext* fn,
                              const char* pseName, const char* psePassword, const unsigned char* crl,
                              std::size_t crlLength, const ManifestSignerOut* out);
