// The signed-manifest interface as long as the crypto services are not part
// of this program: initialisation reports that the crypto library could not be
// loaded, every operation that needs it fails the same way, and the name
// tables, getters, context clearing and shutdown behave as they will later.
#include "krn/snt/manifest.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

const char kNoLibrary[] =
    "The cryptographic library libkovcrypto.so is not available in this build";

ManifestContext* s_defaultContext = nullptr;

ManifestContext* Resolve(ManifestContext* ctx)
{
    if (ctx)
        return ctx;
    if (!s_defaultContext)
        s_defaultContext = new ManifestContext();
    return s_defaultContext;
}

// Records the failure in the context (the first code wins) and returns it.
int Fail(ManifestContext* ctx, int code)
{
    ctx = Resolve(ctx);
    if (ctx->lastSmfRc == 0)
        ctx->lastSmfRc = code;
    ctx->severity = 3;
    if (!ctx->lastErrorText) {
        ctx->lastErrorText = static_cast<char*>(std::malloc(sizeof kNoLibrary));
        if (ctx->lastErrorText)
            std::snprintf(ctx->lastErrorText, sizeof kNoLibrary, "%s", kNoLibrary);
    }
    return code;
}

const char* const kSmfNames[] = {
    "SMF_OK", "SMF_ERROR", "SMF_ENOMEM", "SMF_EINVARG", "SMF_ENOTIMPL", "SMF_EINTERNAL",
    "SMF_EINIT", "SMF_EEOL", "SMF_ESIGNATURE", "SMF_ESSFLIB", "SMF_EDIGEST",
    "SMF_EDIGESTLIB", "SMF_ELIBRARY", "SMF_EENCODE", "SMF_EDECODE", "SMF_ECONV",
    "SMF_EPARSE", "SMF_EFILENOTFOUND", "SMF_EBODY_NOT_EQUAL", "SMF_ETSA", "SMF_ECRL",
    "SMF_ECRL_REVOKED", "SMF_ECRL_MISSING", "SMF_ECRL_OUTDATED", "SMF_ESIGNATURE_EXTERNAL",
    "SMF_ESIGNATURE_VALIDATION", "SMF_ESIGNATURE_UNKNOWN",
};

struct SsfName {
    int code;
    const char* name;
};

// Return codes of the crypto library, in ascending order.
const SsfName kSsfNames[] = {
    {0, "SSF_API_OK"},
    {1, "SSF_API_NOSECTK"},
    {2, "SSF_API_INVALID_FORMAT"},
    {3, "SSF_API_NODATA"},
    {4, "SSF_API_NOMEMORY"},
    {5, "SSF_API_SIGNER_ERRORS"},
    {6, "SSF_API_NORESULTLISTMEMORY"},
    {7, "SSF_API_UNKNOWN_PAB"},
    {8, "SSF_API_INVALID_PAB_PASSWORD"},
    {9, "SSF_API_RECIPIENT_ERRORS"},
    {10, "SSF_API_INVALID_MDALG"},
    {11, "SSF_API_ENCODE_FAILED"},
    {12, "SSF_API_DECODE_FAILED"},
    {13, "SSF_API_UNKNOWN_SECTK_ERROR"},
    {16, "SSF_API_SECTK_FUNCTION_NOT_AVAIL"},
    {17, "SSF_API_INVALID_FUNCARGS"},
    {18, "SSF_API_INTERNAL_BUG"},
    {19, "SSF_API_INSECURE_MDALG"},
    {20, "SSF_API_CERT_EXPIRED"},
    {21, "SSF_API_PROFILE_LOCKED"},
    {22, "SSF_API_UNKNOWN_SIGNER"},
    {23, "SSF_API_UNKNOWN_PROFILE"},
    {24, "SSF_API_INVALID_PROFILE"},
    {25, "SSF_API_INVALID_PASSWORD"},
    {26, "SSF_API_NOCERTIFICATE"},
    {27, "SSF_API_SIGNER_NOT_OK"},
    {28, "SSF_API_UNDEFINED_RESULT"},
    {29, "SSF_API_BAD_NAME"},
    {30, "SSF_API_ALG_MISMATCH"},
    {31, "SSF_API_REVOCATION_CERT_REVOKED"},
    {32, "SSF_API_REVOCATION_CHECK_FAILED"},
    {33, "SSF_API_REVOCATION_CHECK_ERROR"},
    {34, "SSF_API_REVOCATION_CERT_UNKNOWN"},
    {35, "SSF_API_REVOCATION_CERT_ON_HOLD"},
    {40, "SSF_API_BAD_CERT"},
    {41, "SSF_API_BAD_CRLSIGNER_CERT"},
    {42, "SSF_API_BAD_CRL"},
    {43, "SSF_API_NO_CRL_FOR_CERT"},
    {44, "SSF_API_CRL_OUTDATED"},
    {49, "SSF_API_CRL_SIGNATURE_NOT_VERIFIED"},
    {51, "SSF_AUX_NOMEMORY"},
    {52, "SSF_AUX_NOSIGRCPID"},
    {53, "SSF_AUX_NOSIGRCPINFO"},
    {54, "SSF_AUX_NOSIGRCPINFOLIST"},
    {81, "SSF_API_CHAINBUILD_ERROR"},
    {82, "SSF_API_CHAINPARSE_ERROR"},
    {201, "SSF_KRN_NOOP"},
    {202, "SSF_KRN_NOMEMORY"},
    {203, "SSF_KRN_OPINV"},
    {204, "SSF_KRN_NOSSFLIB"},
    {205, "SSF_KRN_SIGNER_LIST_ERROR"},
    {206, "SSF_KRN_RECIPIENT_ERROR"},
    {208, "SSF_KRN_INPUT_DATA_ERROR"},
    {209, "SSF_KRN_INVALID_PAR"},
    {210, "SSF_KRN_INVALID_PARLEN"},
    {256, "SSF_API_ERROR_DECODING_PKCS7"},
    {257, "SSF_API_ERROR_WRONG_PK"},
    {258, "SSF_API_ERROR_UPDATE_CERT"},
    {259, "SSF_API_ERROR_UPDATE_PKROOT"},
    {260, "SSF_API_ERROR_UPDATE_FCPATH"},
    {261, "SSF_API_ERROR_DECODING_X509"},
    {262, "SSF_API_ERROR_DECODING_BASE64"},
    {263, "SSF_API_ERROR_DECODING_PEM"},
    {264, "SSF_API_ERROR_VERIFY_CERT"},
    {265, "SSF_API_ERROR_DECODING_INPUT"},
    {272, "SSF_API_ERROR_READING_INPUT"},
    {273, "SSF_API_ERROR_NO_RESOURCES"},
    {274, "SSF_API_ERROR_INCOMPLETE_CERT_PATH"},
    {288, "SSF_API_ERROR_CREATE_KEYVALUE"},
    {289, "SSF_API_ERROR_UNSUPPORTED_KEYVALUE"},
    {290, "SSF_API_ERROR_PARSE_KEYVALUE"},
    {320, "SSF_API_ERROR_DECODING_TSTAMP_REQ"},
    {321, "SSF_API_ERROR_DECODING_TSTAMP_RESP"},
    {322, "SSF_API_ERROR_DECODING_TSTOKEN"},
    {323, "SSF_API_ERROR_DECODING_TSTINFO"},
    {324, "SSF_API_MISSING_TSTOKEN"},
    {325, "SSF_API_BAD_TSTOKEN"},
    {326, "SSF_API_BAD_TSTINFO"},
    {327, "SSF_API_WRONG_TSTAMP_RESP"},
    {328, "SSF_API_PKCS7_NO_SIGNEDDATA"},
    {329, "SSF_API_PKCS7_BAD_SIGNEDDATA"},
    {330, "SSF_API_BAD_TSA_CERT"},
    {331, "SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP"},
    {332, "SSF_API_PKCS7_SD_BAD_SIGNERINFO"},
    {333, "SSF_API_TSTAMP_FROM_THE_FUTURE"},
    {334, "SSF_API_TSTAMP_ONLY_WITH_SINGLE_SIGNER"},
    {335, "SSF_API_PKCS7_WITHOUT_TSTAMP"},
    {336, "SSF_API_TSTAMP_NOT_FRESH"},
    {337, "SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY"},
};

}  // namespace

int ManifestInit(ManifestContext* ctx, const char*, const char*, const char*, const char*)
{
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestOpenFile(ManifestContext* ctx, ManifestFile* file, const char*, std::size_t, int)
{
    if (!file)
        return SMF_EINVARG;
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestUpdateFile(ManifestFile* file, const void*, std::size_t)
{
    return file ? Fail(file->context, SMF_ELIBRARY) : SMF_EINVARG;
}

int ManifestCloseFile(ManifestFile* file)
{
    if (!file)
        return SMF_EINVARG;
    std::free(file->name);
    file->name = nullptr;
    file->nameLength = 0;
    return Fail(file->context, SMF_ELIBRARY);
}

int ManifestSign(ManifestContext* ctx, const char*, const char*, const char*, const char*, int, void*)
{
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestReadExternal(ManifestContext* ctx, const char*)
{
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestCompareExternal(ManifestContext* ctx, ManifestContext*)
{
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestVerify(ManifestContext* ctx, const char*, std::size_t, const char*, const char*,
                   const unsigned char*, std::size_t, int, int)
{
    return Fail(ctx, SMF_ELIBRARY);
}

int ManifestVerifyAndLoad(ManifestContext* ctx, const char* text, std::size_t length,
                          const char* keyStore, const char* password, const unsigned char* crl,
                          std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, keyStore, password, crl, crlLength, 1, 1);
}

int ManifestVerifySignatureOnly(ManifestContext* ctx, const char* text, std::size_t length,
                                const char* keyStore, const char* password,
                                const unsigned char* crl, std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, keyStore, password, crl, crlLength, 0, 1);
}

const char* ManifestGetLastError(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    return ctx->lastErrorText ? ctx->lastErrorText : "";
}

int ManifestGetSmfRc(ManifestContext* ctx)
{
    return Resolve(ctx)->lastSmfRc;
}

int ManifestGetSsfRc(ManifestContext* ctx)
{
    return Resolve(ctx)->lastSsfRc;
}

const char* ManifestGetSigner(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    if (ctx->signerCategory)
        return ctx->signerCategory;
    return ctx->lastSmfRc == 0 && ctx->lastSsfRc == 0 ? "NULL" : "Unknown signer";
}

const char* ManifestGetSubject(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    return ctx->signerSubject ? ctx->signerSubject : "NULL";
}

const char* ManifestGetIssuer(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    return ctx->signerIssuer ? ctx->signerIssuer : "NULL";
}

const char* ManifestGetContent(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    return ctx->contentStart ? ctx->contentStart : ctx->builtinText;
}

uint64_t ManifestGetContentLength(ManifestContext* ctx)
{
    return Resolve(ctx)->contentLength;
}

uint32_t ManifestGetFileCount(ManifestContext* ctx)
{
    return Resolve(ctx)->entryCount;
}

int ManifestClearContext(ManifestContext* ctx)
{
    ctx = Resolve(ctx);
    if (ctx->capacity != 0)
        std::free(ctx->grownText);
    ctx->grownText = nullptr;
    ctx->capacity = 0;
    if (ctx->contentStart != ctx->builtinText)
        ctx->contentStart = nullptr;
    for (char** p : {&ctx->lastErrorText, &ctx->signerSubject, &ctx->signerIssuer,
                     &ctx->signatureFormat, &ctx->signatureHash}) {
        std::free(*p);
        *p = nullptr;
    }
    return SMF_OK;
}

int ManifestShutdown()
{
    if (s_defaultContext) {
        ManifestClearContext(s_defaultContext);
        delete s_defaultContext;
        s_defaultContext = nullptr;
    }
    return SMF_OK;
}

const char* SmfErrorName(int code)
{
    if (code < 0 || code > SMF_ESIGNATURE_UNKNOWN)
        return "SMF_UNKNOWN_ERROR";
    return kSmfNames[code];
}

const char* SmfSsfErrorName(int code)
{
    std::size_t lo = 0, hi = sizeof kSsfNames / sizeof kSsfNames[0];
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kSsfNames[mid].code < code)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < sizeof kSsfNames / sizeof kSsfNames[0] && kSsfNames[lo].code == code)
        return kSsfNames[lo].name;
    static char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown SSF-RC 0x%08x", static_cast<unsigned>(code));
    return unknown;
}
