// Manifest contexts and the module's life cycle: the default context, error
// recording, the trace file of the module, loading and checking the crypto
// library, the getters and the names of the codes.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "crypto/ssfload.h"
#include "krn/snt/smfint.h"
#include "krn/snt/smfutil.h"
#include "nls/kovstr.h"
#include "trace/ctrc.h"

namespace {

// Lowest patch level of the crypto library that signs software.
constexpr uint32_t kMinPatchLevel = 35;
constexpr const char kDefaultLibrary[] = "libkovcrypto.so";
constexpr const char kDefaultHash[] = "SHA256";
constexpr const char kTraceFile[] = "dev_kovmanifest.trc";

ManifestContext g_defaultContext;
SsfFuncContext g_functions{};
bool g_initialised = false;
// The path the library was loaded from, for the SSL layer of HTTPS timestamps.
char g_libraryPath[4096] = "";

const char* const kSmfNames[] = {
    "SMF_OK",
    "SMF_ERROR",
    "SMF_ENOMEM",
    "SMF_EINVARG",
    "SMF_ENOTIMPL",
    "SMF_EINTERNAL",
    "SMF_EINIT",
    "SMF_EEOL",
    "SMF_ESIGNATURE",
    "SMF_ESSFLIB",
    "SMF_EDIGEST",
    "SMF_EDIGESTLIB",
    "SMF_ELIBRARY",
    "SMF_EENCODE",
    "SMF_EDECODE",
    "SMF_ECONV",
    "SMF_EPARSE",
    "SMF_EFILENOTFOUND",
    "SMF_EBODY_NOT_EQUAL",
    "SMF_ETSA",
    "SMF_ECRL",
    "SMF_ECRL_REVOKED",
    "SMF_ECRL_MISSING",
    "SMF_ECRL_OUTDATED",
    "SMF_ESIGNATURE_EXTERNAL",
    "SMF_ESIGNATURE_VALIDATION",
    "SMF_ESIGNATURE_UNKNOWN",
};

// A new text of the formatted message, or NULL.
__attribute__((format(printf, 1, 0))) char* Format(const char* format, va_list ap)
{
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, format, ap);
    char* text = n >= 0 ? static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1)) : nullptr;
    if (text != nullptr)
        std::vsnprintf(text, static_cast<std::size_t>(n) + 1, format, again);
    va_end(again);
    return text;
}

void RecordText(ManifestContext* ctx, const char* message)
{
    if (ct_level > 0) {
        DpTrcLockAcquire();
        DpTrcSaveLoc(__FILE__, __LINE__);
        DpTrcErr(tf, "%s\n", message);
        DpTrcLockRelease();
    }
    if (ctx->lastErrorText == nullptr) {
        ctx->lastErrorText = SmfCopy(message, std::strlen(message));
    } else {
        const std::size_t old = std::strlen(ctx->lastErrorText);
        const std::size_t add = std::strlen(message);
        auto* joined = static_cast<char*>(std::malloc(old + add + 2));
        if (joined != nullptr) {
            std::memcpy(joined, ctx->lastErrorText, old);
            joined[old] = '\n';
            std::memcpy(joined + old + 1, message, add + 1);
            std::free(ctx->lastErrorText);
            ctx->lastErrorText = joined;
        }
        if (ctx->lastSmfRc == SMF_OK)
            ctx->lastSmfRc = SMF_ERROR;
    }
    if (ctx->severity == SMF_SEV_OK)
        ctx->severity = SMF_SEV_WARNING;
}

// Records the formatted message (nothing when memory ran out).
__attribute__((format(printf, 2, 0))) void RecordFormatted(ManifestContext* ctx, const char* format, va_list ap)
{
    char* message = Format(format, ap);
    if (message == nullptr)
        return;
    RecordText(ctx, message);
    std::free(message);
}

void ErrorSink(const char* text)
{
    MANIFEST_TRACE(0, "%s", text);
}
void InfoSink(const char* text)
{
    MANIFEST_TRACE(2, "%s", text);
}

// Opens the module's trace file when the process has none and the
// environment asks for one.
void OpenTraceFileIfAsked()
{
    FILE* open = nullptr;
    if (CTrcGetParam(nullptr, CTP_FILEPTR, &open) == 0)
        return;
    const char* value = std::getenv("KOVMANIFEST_TRACELEVEL");
    int level = 0;
    if (value == nullptr || std::sscanf(value, "%d", &level) != 1 || level < 1 || level > 3)
        return;
    tf = CTrcInitFile(kTraceFile, 1, level);
}

// Frees the context's owned members and zero-fills it.
void Wipe(ManifestContext* ctx)
{
    ManifestClearContext(ctx);
    std::memset(static_cast<void*>(ctx), 0, sizeof *ctx);
}

// Loads and checks the crypto library once per process.
int LoadLibrary(ManifestContext* ctx, const char* path)
{
    if (!g_initialised) {
        if (path == nullptr || *path == '\0')
            path = kDefaultLibrary;
        const std::string shown = SsfShownName(path, std::strlen(path));
        MANIFEST_TRACE(2, "SMF: Load Ssf Crypto Library  >%s< \n", shown.c_str());
        std::memset(static_cast<void*>(&g_functions), 0, sizeof g_functions);
        g_functions.hdl = DL_NO_HDL;
        const int rc = SsfLoad(path, &g_functions, ErrorSink, InfoSink, SSF_INTERFACE_VERSION);
        if (rc == SSF_SUP_NOTALLFUNCTIONS) {
            MANIFEST_TRACE(2, "SMF: Crypto Library >%s< could not load all functions.\n", shown.c_str());
        } else if (rc != SSF_SUP_OK) {
            MANIFEST_TRACE(2, "SMF: Couldn't load Crypto Library %s.\n", shown.c_str());
            if (g_functions.loaded)
                SsfUnload(&g_functions);
            return SmfFail(ctx, SMF_ELIBRARY, "KOV Crypto Library could not be loaded");
        }
        g_initialised = true;
        strcpy_sR(g_libraryPath, sizeof g_libraryPath, path);
    }
    if (!SsfSupGetVersionRecord(&g_functions))
        return SmfFail(ctx, SMF_ELIBRARY, "Manifest verification library must be KOVCRYPTOLIB");
    uint32_t patchLevel = 0;
    if (SsfSupGetLibVersion(&g_functions, nullptr, &patchLevel) != 0 || patchLevel < kMinPatchLevel)
        return SmfFail(ctx, SMF_ELIBRARY,
                       "KOVCRYPTOLIB patch level for software signatures must be %u but it is %u. "
                       "Please update.",
                       kMinPatchLevel, patchLevel);
    return SMF_OK;
}

bool HasText(const ManifestContext* ctx)
{
    return ctx->contentStart != nullptr && ctx->contentLength != 0;
}

}  // namespace

// ---- Internals --------------------------------------------------------------

ManifestContext* SmfResolve(ManifestContext* ctx)
{
    return ctx != nullptr ? ctx : &g_defaultContext;
}

SsfFuncContext* SmfCryptoFunctions()
{
    return &g_functions;
}

bool SmfInitialised()
{
    return g_initialised;
}

const char* SmfCryptoLibraryPath()
{
    return g_initialised && g_libraryPath[0] ? g_libraryPath : nullptr;
}

void SmfRecord(ManifestContext* ctx, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    RecordFormatted(SmfResolve(ctx), format, ap);
    va_end(ap);
}

int SmfStore(ManifestContext* ctx, int code)
{
    ctx = SmfResolve(ctx);
    if (code != SMF_OK && ctx->lastSmfRc == SMF_OK)
        ctx->lastSmfRc = code;
    return code;
}

int SmfFail(ManifestContext* ctx, int code, const char* format, ...)
{
    va_list ap;
    va_start(ap, format);
    RecordFormatted(SmfResolve(ctx), format, ap);
    va_end(ap);
    return SmfStore(ctx, code);
}

void SmfTraceAt(const char* file, int line, int level, const char* format, ...)
{
    if (level == 0 ? ct_level < 1 : ct_level < level)
        return;
    va_list ap;
    va_start(ap, format);
    DpTrcLockAcquire();
    DpTrcSaveLoc(file, line);
    if (level == 0)
        DpTrcErrV(tf, format, ap);
    else
        DpTrcV(tf, format, ap);
    DpTrcLockRelease();
    va_end(ap);
}

char* SmfCopy(const char* text, std::size_t length)
{
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy != nullptr) {
        if (length != 0)
            std::memcpy(copy, text, length);
        copy[length] = '\0';
    }
    return copy;
}

// ---- Life cycle -------------------------------------------------------------

int ManifestInit(ManifestContext* ctx, const char* cryptoLibrary, const char* fileHash, const char* signatureFormat,
                 const char* signatureHash)
{
    OpenTraceFileIfAsked();
    SmfUtilSetTraceFile(tf);
    if (!g_initialised)
        Wipe(&g_defaultContext);
    ctx = SmfResolve(ctx);
    Wipe(ctx);
    ctx->severity = SMF_SEV_WARNING;
    ctx->contentStart = ctx->builtinText;

    int rc = LoadLibrary(ctx, cryptoLibrary);
    if (rc != SMF_OK)
        return rc;

    if (fileHash != nullptr) {
        if (ManifestSetFileHash(ctx, nullptr, 0, fileHash) != SMF_OK) {
            MANIFEST_TRACE(0, "SMF: Signature Hash  >%s< is invalid (HA)\n", fileHash);
            return SmfStore(ctx, SMF_EDIGESTLIB);
        }
    } else {
        MANIFEST_TRACE(2, "SMF: No file hash algorithm supplied, use default\n");
        ManifestSetFileHash(ctx, nullptr, 0, kDefaultHash);
    }

    uint32_t signatureId = HA_SHA256;
    if (signatureHash != nullptr) {
        signatureId = haGetAlgId(signatureHash, std::strlen(signatureHash));
        // A checksum signs nothing: CRC-32 is no signature hash.
        if (signatureId == 0 || signatureId == HA_CRC32) {
            MANIFEST_TRACE(0, "SMF: Signature Hash  >%s< is invalid (SSF)\n", signatureHash);
            return SmfFail(ctx, SMF_EDIGESTLIB, "Invalid signature hash algorithm supplied");
        }
    } else {
        MANIFEST_TRACE(2, "SMF: No signature hash algorithm supplied, use default\n");
    }
    const char* canonical = haGetAlgName(signatureId);
    ctx->signatureHash = SmfCopy(canonical, std::strlen(canonical));

    if (signatureFormat != nullptr && std::strcmp(signatureFormat, MANIFEST_FORMAT) != 0) {
        MANIFEST_TRACE(0, "SMF: Format must be %s ", MANIFEST_FORMAT);
        return SmfFail(ctx, SMF_EINVARG, "Invalid SSF format supplied (must be PKCS7-TSTAMP)");
    }
    ctx->signatureFormat = SmfCopy(MANIFEST_FORMAT, sizeof MANIFEST_FORMAT - 1);
    if (ctx->signatureHash == nullptr || ctx->signatureFormat == nullptr)
        return SmfFail(ctx, SMF_ENOMEM, "No memory for the manifest context");

    MANIFEST_TRACE(2, "SMF: File Hash-Alg   >%s< \n", fileHash != nullptr ? fileHash : kDefaultHash);
    MANIFEST_TRACE(2, "SMF: Signature Hash  >%s< \n", signatureHash != nullptr ? signatureHash : kDefaultHash);
    MANIFEST_TRACE(2, "SMF: Signature Format>%s< \n", ctx->signatureFormat);
    return SMF_OK;
}

int ManifestShutdown()
{
    if (g_initialised) {
        ManifestClearContext(&g_defaultContext);
        SsfUnload(&g_functions);
        g_initialised = false;
        g_libraryPath[0] = '\0';
    }
    return SMF_OK;
}

int ManifestClearContext(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    SmfIndexFree(ctx);
    if (ctx->capacity != 0) {
        // The text goes with its buffer: no position may point into it.
        if (ctx->contentStart == ctx->grownText) {
            ctx->contentStart = nullptr;
            ctx->bodyStart = nullptr;
            ctx->signatureStart = nullptr;
            ctx->contentLength = 0;
            ctx->headerLength = 0;
            ctx->bodyLength = 0;
            ctx->entryCount = 0;
        }
        std::free(ctx->grownText);
    }
    ctx->grownText = nullptr;
    ctx->capacity = 0;
    for (char** p :
         {&ctx->lastErrorText, &ctx->signerSubject, &ctx->signerIssuer, &ctx->signatureFormat, &ctx->signatureHash}) {
        std::free(*p);
        *p = nullptr;
    }
    return SMF_OK;
}

// ---- Getters ----------------------------------------------------------------

int ManifestGetSmfRc(ManifestContext* ctx)
{
    return SmfResolve(ctx)->lastSmfRc;
}

int ManifestGetSsfRc(ManifestContext* ctx)
{
    return SmfResolve(ctx)->lastSsfRc;
}

const char* ManifestGetLastError(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    return ctx->lastErrorText != nullptr ? ctx->lastErrorText : "";
}

uint32_t ManifestGetSeverity(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    return ctx->lastErrorText != nullptr ? ctx->severity : SMF_SEV_OK;
}

const char* ManifestGetSeverityName(ManifestContext* ctx)
{
    switch (SmfResolve(ctx)->severity) {
    case SMF_SEV_OK:
        return "OK";
    case SMF_SEV_LOGGABLE_WARNING:
        return "LOGGABLE_WARNING";
    case SMF_SEV_ERROR:
        return "ERROR";
    default:
        return "WARNING";
    }
}

const char* ManifestGetSignatureHash(ManifestContext* ctx)
{
    return SmfResolve(ctx)->signatureHash;
}

const char* ManifestGetSignatureFormat(ManifestContext* ctx)
{
    return SmfResolve(ctx)->signatureFormat;
}

void ManifestDropMinorError(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    if (ctx->lastErrorText != nullptr && ctx->lastSsfRc == 0 && ctx->lastSmfRc <= SMF_EINTERNAL) {
        std::free(ctx->lastErrorText);
        ctx->lastErrorText = nullptr;
        ctx->lastSmfRc = SMF_OK;
    }
}

namespace {

// Whether nothing was read that a signer could be told from.
bool NothingRead(const ManifestContext* ctx)
{
    return ctx->signatureStart == nullptr && ctx->lastSsfRc == 0 && ctx->lastSmfRc == SMF_OK;
}

// The signer's subject or issuer: "NULL" when nothing was read, or when the
// name is missing (which is recorded).
const char* SignerName(ManifestContext* ctx, char* ManifestContext::*field, const char* missing)
{
    ctx = SmfResolve(ctx);
    ManifestDropMinorError(ctx);
    if (NothingRead(ctx))
        return "NULL";
    if (ctx->*field == nullptr) {
        SmfRecord(ctx, "%s", missing);
        return "NULL";
    }
    return ctx->*field;
}

// The context when it holds a text; else NULL, with the failure recorded.
ManifestContext* WithText(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    ManifestDropMinorError(ctx);
    if (HasText(ctx))
        return ctx;
    SmfFail(ctx, SMF_EINTERNAL, "Empty manifest content");
    return nullptr;
}

}  // namespace

const char* ManifestGetSigner(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    ManifestDropMinorError(ctx);
    if (NothingRead(ctx))
        return "NULL";
    return ctx->signerCategory != nullptr ? ctx->signerCategory : "Unknown signer";
}

const char* ManifestGetSubject(ManifestContext* ctx)
{
    return SignerName(ctx, &ManifestContext::signerSubject,
                      "No subject name available, because an error occurred before");
}

const char* ManifestGetIssuer(ManifestContext* ctx)
{
    return SignerName(ctx, &ManifestContext::signerIssuer,
                      "No issuer name available, because an error occurred before");
}

uint32_t ManifestGetFileCount(ManifestContext* ctx)
{
    ctx = WithText(ctx);
    return ctx != nullptr ? ctx->entryCount : 0;
}

uint64_t ManifestGetContentLength(ManifestContext* ctx)
{
    ctx = WithText(ctx);
    return ctx != nullptr ? ctx->contentLength : 0;
}

const char* ManifestGetContent(ManifestContext* ctx)
{
    ctx = WithText(ctx);
    return ctx != nullptr ? ctx->contentStart : nullptr;
}

const char* ManifestGetFileHash(ManifestContext* ctx)
{
    ctx = SmfResolve(ctx);
    ManifestDropMinorError(ctx);
    const char* name = ctx->fileHashId != 0 ? haGetAlgName(ctx->fileHashId) : nullptr;
    if (name == nullptr)
        SmfFail(ctx, SMF_EINTERNAL, "No file hash available");
    return name;
}

// ---- Names ------------------------------------------------------------------

const char* SmfErrorName(int code)
{
    if (code < 0 || code > SMF_ESIGNATURE_UNKNOWN)
        return "SMF_UNKNOWN_ERROR";
    return kSmfNames[code];
}

const char* SmfSsfErrorName(int code)
{
    return SsfErrorName(code);
}
