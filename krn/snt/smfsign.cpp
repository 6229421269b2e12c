// Signing a manifest: the text of header and entry lines is signed by the
// crypto library as a detached PKCS#7 signature with the key of a PSE, the
// timestamp authority adds an RFC 3161 timestamp to it, and the stamped
// signature is appended in Base64 between the BEGIN and END lines.
#include <cstdlib>
#include <cstring>

#include "crypto/coding.h"
#include "crypto/ssfload.h"
#include "krn/snt/smfcrypto.h"
#include "krn/snt/smfint.h"
#include "krn/snt/smfutil.h"

namespace {

constexpr const char kSignerId[] = "<implicit>";
constexpr const char kDefaultSigningPse[] = "KOVvalidation";
constexpr const char kLibraryFormat[] = "PKCS7";
// Signed-data initial result of a signer entry, as the library expects it.
constexpr int kUndefinedResult = 28;
constexpr std::size_t kLineLength = 64;

// What ManifestSign holds from the library and the timestamp client; freed
// on every way out.
struct SignState {
    SsfFuncContext* fn;
    SsfSigRcpList* signers = nullptr;
    SsfSigRcpInfo* entry = nullptr;  // until it belongs to the list
    SsfOctetstring encoded = nullptr;
    SsfOctetstring signature = nullptr;
    uint32_t signatureLength = 0;
    SmfUtilTimestampRequestRec* request = nullptr;

    explicit SignState(SsfFuncContext* f)
        : fn(f)
    {
    }
    ~SignState()
    {
        ReleaseSigning();
        if (signature != nullptr)
            SsfLibDELSsfOctetstring(fn, &signature);
        SmfUtilFreeTimestampRequest(request);
    }
    void ReleaseSigning()
    {
        if (entry != nullptr)
            SsfLibDELSigRcpSsfInfo(fn, &entry);
        if (signers != nullptr)
            SsfLibDELSigRcpSsfInfoList(fn, &signers);
        if (encoded != nullptr)
            SsfLibDELSsfOctetstring(fn, &encoded);
    }
};

// A crypto-library failure while signing: the call's code (or the signer's
// own result) kept as the SSF code, the library's text as the message.
int CryptoFailure(ManifestContext* ctx, SsfFuncContext* fn, int callCode, int signerCode)
{
    const int ssf = signerCode != 0 ? signerCode : callCode;
    if (ctx->lastSsfRc == 0)
        ctx->lastSsfRc = ssf;
    if (ctx->lastErrorText == nullptr) {
        char* text = SmfCryptoLastErrorText(fn, 0, callCode, signerCode);
        SmfRecord(ctx, "%s", text != nullptr ? text : SsfErrorDescription(ssf));
        std::free(text);
    }
    MANIFEST_TRACE(2, "CreateManifestSignature failed with %s\n", SmfErrorName(SMF_ESSFLIB));
    return SmfStore(ctx, SMF_ESSFLIB);
}

// Steps of the library: signer entry and list, encoding, signature.
int CreateSignature(ManifestContext* ctx, SignState& st, const char* pse, const char* password)
{
    const char* format = std::strcmp(ctx->signatureFormat, MANIFEST_FORMAT) == 0 ? kLibraryFormat
                                                                                 : ctx->signatureFormat;
    int rc = SsfLibNEWSigRcpSsfInfo(st.fn, kSignerId, SmfLen(kSignerId), nullptr, 0, pse, SmfLen(pse), password,
                                    SmfLen(password), kUndefinedResult, &st.entry);
    if (rc == 0) {
        rc = SsfLibINSSigRcpSsfInfo(st.fn, st.entry, &st.signers);
        if (rc == 0)
            st.entry = nullptr;
    }
    if (rc != 0)
        return CryptoFailure(ctx, st.fn, rc, 0);
    if (ctx->contentLength > UINT32_MAX)
        return SmfFail(ctx, SMF_EINVARG, "Manifest of %llu bytes is too large to sign",
                       static_cast<unsigned long long>(ctx->contentLength));
    uint32_t encodedLength = 0;
    rc = SsfLibEncode(st.fn, format, SmfLen(format), reinterpret_cast<const unsigned char*>(ctx->contentStart),
                      static_cast<uint32_t>(ctx->contentLength), &st.encoded, &encodedLength);
    if (rc != 0)
        return CryptoFailure(ctx, st.fn, rc, 0);
    rc = SsfLibSign(st.fn, format, SmfLen(format), ctx->signatureHash, SmfLen(ctx->signatureHash), 1, 1, st.encoded,
                    encodedLength, st.signers, &st.signature, &st.signatureLength);
    if (rc != 0) {
        const int signer = st.signers != nullptr && st.signers->info != nullptr ? st.signers->info->result : 0;
        MANIFEST_TRACE(3, "SsfSign returned %d, signer result %d\n", rc, signer);
        return CryptoFailure(ctx, st.fn, rc, signer != kUndefinedResult ? signer : 0);
    }
    return SMF_OK;
}

// Appends text to the content; the caller made room.
void Append(ManifestContext* ctx, const char* text, std::size_t length)
{
    std::memcpy(ctx->contentStart + ctx->contentLength, text, length);
    ctx->contentLength += length;
}

// Appends the BEGIN line, the Base64 lines and the END line.
int AppendSignatureBlock(ManifestContext* ctx, const unsigned char* signature, uint32_t length)
{
    constexpr std::size_t kBegin = sizeof MANIFEST_BEGIN_SIGNATURE;  // with its line feed
    constexpr std::size_t kEnd = sizeof MANIFEST_END_SIGNATURE - 1;
    const uint64_t q = (uint64_t{length} + 4) / 3;
    if (!ManifestEnsureBuffer(ctx, ((q * 4 / 64) + q * 2) * 2 + 56))
        return SmfStore(ctx, SMF_EPARSE);
    Append(ctx, MANIFEST_BEGIN_SIGNATURE, kBegin - 1);
    Append(ctx, "\n", 1);
    std::size_t written = 0;
    for (int attempt = 0;; ++attempt) {
        // The buffer may have moved: the place to write follows the text.
        char* out = ctx->contentStart + ctx->contentLength;
        const uint64_t capacity = ctx->capacity != 0 ? ctx->capacity : MANIFEST_BUILTIN_TEXT;
        // Room for the END line and a terminator stays behind the lines.
        const uint64_t room = capacity - ctx->contentLength;
        const std::size_t cap = room > kEnd + 1 ? static_cast<std::size_t>(room - kEnd - 1) : 0;
        const int rc = coBase64Encode(signature, length, CO_MODE_SIGNATURE, kLineLength, "\n", out, cap, &written);
        if (rc == CO_OK)
            break;
        if (rc != CO_ESPACE || attempt != 0)
            return SmfFail(ctx, SMF_EENCODE, "Error in Base64 Encoder. Buffer too small");
        if (!ManifestEnsureBuffer(ctx, ctx->contentLength))
            return SmfStore(ctx, SMF_EPARSE);
    }
    ctx->contentLength += written;
    Append(ctx, MANIFEST_END_SIGNATURE, kEnd);
    ctx->contentStart[ctx->contentLength] = '\0';
    if (std::strlen(ctx->contentStart) != ctx->contentLength)
        return SmfFail(ctx, SMF_EINTERNAL, "Error in Signature Length Calculation");
    return SMF_OK;
}

// Hands the signed text to the caller's buffer when one is asked for.
int CopyOut(ManifestContext* ctx, char* output, uint64_t* outputLength)
{
    if (outputLength == nullptr)
        return SMF_OK;
    const uint64_t given = *outputLength;
    *outputLength = ctx->contentLength;
    if (given == 0)
        return SMF_OK;
    if (given < ctx->contentLength)
        return SmfFail(ctx, SMF_EINVARG, "Output buffer for manifest file too small");
    if (output == nullptr)
        return SmfFail(ctx, SMF_EINVARG, "Output buffer for manifest file is null");
    std::memcpy(output, ctx->contentStart, ctx->contentLength);
    return SMF_OK;
}

}  // namespace

int ManifestSign(ManifestContext* ctx, const char* pseName, const char* psePassword, const char* tsaUrl,
                 const char* proxyUrl, char* output, uint64_t* outputLength)
{
    ctx = SmfResolve(ctx);
    // A manifest of no file at all still signs its header.
    if (ctx->mode == SMF_MODE_NEW && ctx->contentLength == 0 && ctx->contentStart != nullptr &&
        SmfWriteHeader(ctx) != SMF_OK)
        return SmfFail(ctx, SMF_EINTERNAL, "WriteHeader of signed manifest failed");
    if (ctx->mode != SMF_MODE_WRITE || ctx->contentStart == nullptr)
        return SmfFail(ctx, SMF_EINTERNAL, "Manifest context is not ready to sign (read mode) ");
    if (!SmfInitialised() || ctx->signatureFormat == nullptr || ctx->signatureHash == nullptr)
        return SmfFail(ctx, SMF_ELIBRARY, "KOV Crypto Library could not be loaded");
    if (!ManifestEnsureBuffer(ctx, 52))
        return SmfStore(ctx, SMF_EPARSE);
    Append(ctx, "\n", 1);
    ctx->bodyLength += 1;

    const char* pse = pseName != nullptr && *pseName != '\0' ? pseName : kDefaultSigningPse;
    const char* password = psePassword != nullptr && *psePassword != '\0' ? psePassword : nullptr;
    SignState st(SmfCryptoFunctions());
    int rc = CreateSignature(ctx, st, pse, password);
    st.ReleaseSigning();
    if (rc != SMF_OK)
        return rc;

    if (tsaUrl == nullptr || *tsaUrl == '\0')
        return SmfFail(ctx, SMF_ETSA, "No Timestamp Authority set");
    st.request = SmfUtilCreateTimestampRequest();
    if (st.request == nullptr)
        return SmfFail(ctx, SMF_ESSFLIB, "TSA initialization method failed ");
    SmfUtilTimestampRequestRec* r = st.request;
    r->crypto = st.fn;
    r->signature = st.signature;
    r->signatureLength = st.signatureLength;
    r->format = kLibraryFormat;
    r->digestAlgorithm = ctx->signatureHash;
    r->pse = pse;
    r->psePassword = password;
    r->tsaUrl = tsaUrl;
    r->proxyUrl = proxyUrl != nullptr && *proxyUrl != '\0' ? proxyUrl : nullptr;
    if (SmfUtilTimestampRequest(r) != SMFUTIL_OK || r->stamped == nullptr) {
        const char* message = r->result != nullptr ? r->result->message : nullptr;
        // The library's code (an authority the PSE does not trust, say) is
        // kept as a verification would keep it.
        if (ctx->lastSsfRc == 0)
            ctx->lastSsfRc = r->cryptoRc;
        return SmfFail(ctx, SMF_ESIGNATURE, "%s",
                       message != nullptr ? message : "Timestamp request failed without a message");
    }
    rc = AppendSignatureBlock(ctx, r->stamped, r->stampedLength);
    if (rc != SMF_OK)
        return rc;
    return CopyOut(ctx, output, outputLength);
}
