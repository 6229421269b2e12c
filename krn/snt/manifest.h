// The signed-manifest interface: per-file digests while an archive is packed
// or read, signing of the manifest text, and verification of signatures,
// external manifests and revocation lists.
//
// Every operation returns an SMF code (0 success).  A null context means the
// module's default context.  Until the crypto services are built into this
// program, ManifestInit reports that the crypto library could not be loaded
// (SMF_ELIBRARY) and every operation that needs it fails the same way.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
    SMF_OK = 0,
    SMF_ERROR = 1,
    SMF_ENOMEM = 2,
    SMF_EINVARG = 3,
    SMF_ENOTIMPL = 4,
    SMF_EINTERNAL = 5,
    SMF_EINIT = 6,
    SMF_EEOL = 7,
    SMF_ESIGNATURE = 8,
    SMF_ESSFLIB = 9,
    SMF_EDIGEST = 10,
    SMF_EDIGESTLIB = 11,
    SMF_ELIBRARY = 12,
    SMF_EENCODE = 13,
    SMF_EDECODE = 14,
    SMF_ECONV = 15,
    SMF_EPARSE = 16,
    SMF_EFILENOTFOUND = 17,
    SMF_EBODY_NOT_EQUAL = 18,
    SMF_ETSA = 19,
    SMF_ECRL = 20,
    SMF_ECRL_REVOKED = 21,
    SMF_ECRL_MISSING = 22,
    SMF_ECRL_OUTDATED = 23,
    SMF_ESIGNATURE_EXTERNAL = 24,
    SMF_ESIGNATURE_VALIDATION = 25,
    SMF_ESIGNATURE_UNKNOWN = 26,
};

// Size of the text buffer built into every context.
inline constexpr std::size_t MANIFEST_BUILTIN_TEXT = 65536;

// The signed-manifest context.  Callers zero-fill it (value-initialise) before
// first use and release its dynamic members with ManifestClearContext.
struct ManifestContext {
    char builtinText[MANIFEST_BUILTIN_TEXT];
    char* grownText;             // heap buffer once the text outgrew builtinText
    char* contentStart;          // first byte of the manifest text
    char* bodyStart;             // first entry line
    char* signatureStart;        // first byte after the body's empty line
    uint64_t capacity;           // size of grownText, 0 while builtinText is used
    uint64_t headerLength;
    uint64_t bodyLength;
    uint64_t contentLength;      // bytes of manifest text
    uint32_t fileHashId;
    uint32_t severity;
    int32_t lastSsfRc;
    int32_t lastSmfRc;
    uint32_t digestLength;
    uint8_t mode;                // 0 new, 1 write, 2 read (a manifest was read in)
    uint32_t parserState;
    uint32_t entryCount;
    const char* signerCategory;
    char* signerSubject;
    char* signerIssuer;
    char* signatureFormat;
    char* signatureHash;
    char* lastErrorText;
};

// Largest digest any supported algorithm yields (SHA-512).
inline constexpr std::size_t MANIFEST_MAX_DIGEST = 64;

// The per-file digest record; callers zero-fill it.
struct ManifestFile {
    char* name;                  // UTF-8 name, owned
    uint32_t nameLength;         // 0 when the record is closed
    uint64_t byteCount;
    const char* entryLine;       // read mode: the matching entry line
    ManifestContext* context;
    uint32_t digestId;
    uint32_t digestLength;
    unsigned char digest[MANIFEST_MAX_DIGEST];
    unsigned char state[256];    // running digest state
};

int ManifestInit(ManifestContext* ctx, const char* cryptoLibrary, const char* fileHash,
                 const char* signatureFormat, const char* signatureHash);
int ManifestOpenFile(ManifestContext* ctx, ManifestFile* file, const char* name,
                     std::size_t nameLength, int partialSearch);
int ManifestUpdateFile(ManifestFile* file, const void* data, std::size_t length);
int ManifestCloseFile(ManifestFile* file);
int ManifestSign(ManifestContext* ctx, const char* keyStore, const char* password,
                 const char* timestampUrl, const char* proxy, int flags, void* reserved);
int ManifestReadExternal(ManifestContext* ctx, const char* fileName);
int ManifestCompareExternal(ManifestContext* ctx, ManifestContext* other);
int ManifestVerify(ManifestContext* ctx, const char* text, std::size_t length,
                   const char* keyStore, const char* password,
                   const unsigned char* crl, std::size_t crlLength,
                   int loadBody, int keepSigner);
int ManifestVerifyAndLoad(ManifestContext* ctx, const char* text, std::size_t length,
                          const char* keyStore, const char* password,
                          const unsigned char* crl, std::size_t crlLength);
int ManifestVerifySignatureOnly(ManifestContext* ctx, const char* text, std::size_t length,
                                const char* keyStore, const char* password,
                                const unsigned char* crl, std::size_t crlLength);

// The last error text recorded in the context, "" when none.
const char* ManifestGetLastError(ManifestContext* ctx);
int ManifestGetSmfRc(ManifestContext* ctx);
int ManifestGetSsfRc(ManifestContext* ctx);
// Never null: "NULL" when nothing was read.
const char* ManifestGetSigner(ManifestContext* ctx);
const char* ManifestGetSubject(ManifestContext* ctx);
const char* ManifestGetIssuer(ManifestContext* ctx);
// The manifest text and its length (after signing, or as read in).
const char* ManifestGetContent(ManifestContext* ctx);
uint64_t ManifestGetContentLength(ManifestContext* ctx);
uint32_t ManifestGetFileCount(ManifestContext* ctx);

// Frees what the context holds; the context stays usable.  Returns 0.
int ManifestClearContext(ManifestContext* ctx);
// Clears the default context and unloads the crypto library.  Returns 0.
int ManifestShutdown();

// "SMF_OK" .. "SMF_ESIGNATURE_UNKNOWN"; "SMF_UNKNOWN_ERROR" for other codes.
const char* SmfErrorName(int code);
// Name of a crypto-library return code; "Unknown SSF-RC 0x%08x" for others.
const char* SmfSsfErrorName(int code);
