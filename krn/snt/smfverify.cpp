// Verifying a signed manifest: the text is copied into the context and
// parsed, its Base64 signature decoded, and the crypto library verifies the
// detached signature over header and body with a verification profile,
// tells who signed it and, with revocation lists, whether the signer's or
// the timestamp authority's certificate was revoked.  Only a manifest whose
// signature verified has its listed files checked on disk.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "crypto/coding.h"
#include "crypto/ssfload.h"
#include "krn/snt/smfcrypto.h"
#include "krn/snt/smfint.h"

namespace {

constexpr const char kVerifyProfile[] = "KOVverify";
constexpr const char kValidationProfile[] = "KOVvalidation";
constexpr const char kSoftware[] = "KOV software";
constexpr const char kValidation[] = "KOV validation";
constexpr const char kExternal[] = "External";
constexpr const char kUnknownSigner[] = "Unknown signer";

const unsigned char* Bytes(const char* text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

// What one validation holds from the library; freed on every way out.
struct Held {
    SsfFuncContext* fn;
    SsfOctetstring encoded = nullptr;
    SsfSigRcpList* signers = nullptr;
    SsfCrl** crls = nullptr;
    uint32_t crlCount = 0;

    explicit Held(SsfFuncContext* f)
        : fn(f)
    {
    }
    ~Held()
    {
        ReleaseVerification();
        if (encoded != nullptr)
            SsfLibDELSsfOctetstring(fn, &encoded);
        if (crls != nullptr)
            SsfLibFreeCrlArray(fn, &crls, crlCount);
    }
    void ReleaseVerification()
    {
        if (signers != nullptr)
            SsfLibDELSigRcpSsfInfoList(fn, &signers);
    }
    const SsfSigRcpInfo* Signer() const { return signers != nullptr ? signers->info : nullptr; }
    const SsfSigRcpInfo* Authority() const
    {
        return signers != nullptr && signers->next != nullptr ? signers->next->info : nullptr;
    }
};

// A decoded certificate, freed with the library.
struct Certificate {
    SsfFuncContext* fn;
    SsfCertificate* cert = nullptr;
    explicit Certificate(SsfFuncContext* f)
        : fn(f)
    {
    }
    ~Certificate()
    {
        if (cert != nullptr)
            SsfLibFreeCertificate(fn, &cert);
    }
};

// The failing library call's code, to be kept as the SSF code.
struct Outcome {
    int smf = SMF_OK;
    int ssf = 0;
};

// Records the library's text of its last failure (or the fallback text).
void RecordLibraryText(ManifestContext* ctx, SsfFuncContext* fn, int code, const char* fallback)
{
    char* text = SmfCryptoLastErrorText(fn, 0, code, 0);
    SmfRecord(ctx, "%s", text != nullptr && *text != '\0' ? text : fallback);
    std::free(text);
}

struct Profile {
    const char* name;
    const char* password;
};

// Checks one certificate (signer or authority) against the lists.
Outcome CheckRevocation(ManifestContext* ctx, Held& held, const SsfSigRcpInfo* entry, const Profile& profile,
                        bool signer)
{
    const char* who = signer ? "Signer" : "TSA";
    Certificate cert(held.fn);
    int rc = SsfLibCertfromASN1(held.fn, entry->certificate, entry->certificateLen, &cert.cert);
    if (rc != 0) {
        SmfRecord(ctx, signer ? "Error in Signer Certificate Decode" : "Error in TSA Certificate Decoder");
        return {SMF_ESSFLIB, rc};
    }
    uint32_t reason = SSF_REVOCATION_REASON_NONE;
    SsfSigRcpInfo* result = nullptr;
    rc = SsfLibCheckCertWithCrlArray(held.fn, cert.cert, held.crls, held.crlCount, 1, profile.name,
                                     SmfLen(profile.name), profile.password, SmfLen(profile.password), entry->time,
                                     entry->timeLen, &reason, &result);
    if (result != nullptr)
        SsfLibDELSigRcpSsfInfo(held.fn, &result);
    if (rc == SSF_API_REVOCATION_CERT_REVOKED) {
        MANIFEST_TRACE(2, "Revocation Reason Code = %d\n", static_cast<int>(reason));
        RecordLibraryText(ctx, held.fn, rc, signer ? "Signer Certificate revoked" : "TSA Certificate revoked ");
        ctx->severity = SMF_SEV_ERROR;
        return {SMF_ECRL_REVOKED, rc};
    }
    if (rc == SSF_API_CRL_OUTDATED) {
        SmfRecord(ctx,
                  "The certificate revocation list for the %s certificate is outdated. Download the current "
                  "revocation list from its issuer's distribution point and use it.",
                  signer ? "signer" : "TSA");
        ctx->severity = SMF_SEV_WARNING;
        return {SMF_ECRL_OUTDATED, rc};
    }
    if (rc != 0) {
        RecordLibraryText(ctx, held.fn, rc,
                          signer ? "Error in Signer SsfCheckCertWithCrlArray"
                                 : "Error in TSA SsfCheckCertWithCrlArray");
        ctx->severity = SMF_SEV_WARNING;
        return {SMF_ECRL, rc};
    }
    if (reason != SSF_REVOCATION_REASON_NONE && reason != 8) {
        SmfRecord(ctx, signer ? "Signer Certificate revoked" : "TSA Certificate revoked ");
        MANIFEST_TRACE(2, "Revocation Reason Code = %d\n", static_cast<int>(reason));
        ctx->severity = SMF_SEV_ERROR;
        return {SMF_ECRL_REVOKED, SSF_API_REVOCATION_CERT_REVOKED};
    }
    MANIFEST_TRACE(3, "%s Certificate valid, not revoked\n", who);
    return {};
}

Outcome CheckRevocations(ManifestContext* ctx, Held& held, const unsigned char* crl, std::size_t crlLength,
                         const Profile& profile)
{
    const SsfSigRcpInfo* signer = held.Signer();
    const SsfSigRcpInfo* authority = held.Authority();
    if (signer == nullptr || signer->certificate == nullptr) {
        SmfRecord(ctx, "No signer information available.\n");
        return {SMF_EINVARG, 0};
    }
    if (authority == nullptr || authority->certificate == nullptr) {
        SmfRecord(ctx, "No TSA singing information available.\n");
        return {SMF_EINVARG, 0};
    }
    if (crlLength > UINT32_MAX) {
        SmfRecord(ctx, "Error in CRL Decode");
        return {SMF_ECRL, 0};
    }
    const int rc = SsfLibDecodeCrlArray(held.fn, crl, static_cast<uint32_t>(crlLength), &held.crls, &held.crlCount);
    if (rc != 0) {
        RecordLibraryText(ctx, held.fn, rc, "Error in CRL Decode");
        return {SMF_ECRL, rc};
    }
    Outcome o = CheckRevocation(ctx, held, signer, profile, true);
    if (o.smf == SMF_OK)
        o = CheckRevocation(ctx, held, authority, profile, false);
    return o;
}

// Copies a value into an out-parameter pair: a new buffer (malloc) takes
// the place of one that is too small.  false when memory ran out.
bool Hand(const ManifestOutText& out, const void* value, std::size_t length)
{
    if (out.buffer == nullptr || out.length == nullptr)
        return true;
    if (length >= UINT32_MAX)
        return false;
    if (*out.buffer == nullptr || *out.length < length + 1) {
        auto* grown = static_cast<char*>(std::malloc(length + 1));
        if (grown == nullptr)
            return false;
        *out.buffer = grown;
    }
    if (length != 0)
        std::memcpy(*out.buffer, value, length);
    (*out.buffer)[length] = '\0';
    *out.length = static_cast<uint32_t>(length);
    return true;
}

// Fills the out-parameters the caller asked for; the signer was checked
// to be there by the caller.
Outcome HandOut(ManifestContext* ctx, Held& held, const SsfSigRcpInfo& signer, const ManifestSignerOut& out)
{
    const SsfSigRcpInfo* authority = held.Authority();
    struct Item {
        const ManifestOutText& pair;
        const void* value;
        std::size_t length;
        const char* noMemory;
        const char* done;
    };
    const Item items[] = {
        {out.signerCertificate, signer.certificate, signer.certificateLen,
         "No memory available for signer certificate.", "Signer Certificate returned\n"},
        {out.signerId, signer.id, signer.idLen, "No memory available for signer Id.", "Signer Id returned\n"},
        {out.signingTime, signer.time, signer.timeLen, "No memory available for signing time.",
         "Signing Time returned\n"},
        {out.tsaId, authority != nullptr ? authority->id : nullptr, authority != nullptr ? authority->idLen : 0,
         "No memory available for TSA Id.", "TSA Id returned\n"},
        {out.tsaCertificate, authority != nullptr ? authority->certificate : nullptr,
         authority != nullptr ? authority->certificateLen : 0, "No memory available for TSA certificate.",
         "TSA Certificate returned\n"},
    };
    for (const Item& item : items) {
        if (item.pair.buffer == nullptr || item.pair.length == nullptr)
            continue;
        if (!Hand(item.pair, item.value, item.value != nullptr ? item.length : 0)) {
            SmfRecord(ctx, "%s", item.noMemory);
            return {SMF_ENOMEM, 0};
        }
        MANIFEST_TRACE(3, "%s", item.done);
    }
    if (out.signerIssuer.buffer == nullptr || out.signerIssuer.length == nullptr)
        return {};
    Certificate cert(held.fn);
    int rc = SsfLibCertfromASN1(held.fn, signer.certificate, signer.certificateLen, &cert.cert);
    if (rc != 0) {
        SmfRecord(ctx, "SsfCertfromASN1 failed");
        return {SMF_ESSFLIB, rc};
    }
    SsfOctetstring issuer = nullptr;
    uint32_t issuerLength = 0;
    rc = SsfLibParseCertificate(held.fn, cert.cert, "ISSUER", 6, &issuer, &issuerLength);
    if (rc != 0) {
        SmfRecord(ctx, "SsfParseCertificate failed");
        return {SMF_ESSFLIB, rc};
    }
    const bool handed = Hand(out.signerIssuer, issuer, issuerLength);
    SsfLibDELSsfOctetstring(held.fn, &issuer);
    if (!handed) {
        SmfRecord(ctx, "No memory available for signer issuer.");
        return {SMF_ENOMEM, 0};
    }
    MANIFEST_TRACE(3, "Signer Issuer returned\n");
    return {};
}

// The signature check proper; the caller does the bookkeeping of a failure.
Outcome Validate(ManifestContext* ctx, Held& held, const char* data, std::size_t dataLength,
                 const unsigned char* signature, std::size_t signatureLength, const char* pse, const char* password,
                 const unsigned char* crl, std::size_t crlLength, const ManifestSignerOut* out, int* signerResult)
{
    const char* format = ctx->signatureFormat != nullptr ? ctx->signatureFormat : MANIFEST_FORMAT;
    if (dataLength > UINT32_MAX || signatureLength > UINT32_MAX) {
        SmfRecord(ctx, "Manifest of %zu bytes is too large to verify", dataLength);
        return {SMF_EINVARG, 0};
    }
    uint32_t encodedLength = 0;
    int rc = SsfLibEncode(held.fn, format, SmfLen(format), Bytes(data), static_cast<uint32_t>(dataLength),
                          &held.encoded, &encodedLength);
    if (rc != 0)
        return {SMF_ESSFLIB, rc};
    MANIFEST_TRACE(3, "Encoded content byte buffer, call now SsfVerify \n");

    const bool external = pse != nullptr;
    Profile profile{external ? pse : kVerifyProfile, password};
    // The signed content is not asked back: it is the data, and a copy of
    // a large manifest would only cost memory.
    auto verify = [&] {
        return SsfLibVerify(held.fn, format, SmfLen(format), 1, signature, static_cast<uint32_t>(signatureLength),
                            held.encoded, encodedLength, profile.name, SmfLen(profile.name), password, SmfLen(password),
                            &held.signers, nullptr, nullptr);
    };
    rc = verify();
    if (!external && rc == SSF_API_SIGNER_ERRORS && held.Signer() != nullptr &&
        held.Signer()->result == SSF_API_UNKNOWN_SIGNER) {
        held.ReleaseVerification();
        profile.name = kValidationProfile;
        rc = verify();
        if (rc == 0) {
            ctx->signerCategory = kValidation;
            ctx->severity = SMF_SEV_LOGGABLE_WARNING;
        }
    } else if (rc == 0) {
        ctx->signerCategory = external ? kExternal : kSoftware;
    }
    const SsfSigRcpInfo* signer = held.Signer();
    *signerResult = signer != nullptr ? signer->result : 0;
    if (rc != 0) {
        ctx->signerCategory = kUnknownSigner;
        MANIFEST_TRACE(2, "SsfVerify failed with %d (%s)\n", rc, SsfErrorName(rc));
        const SsfSigRcpInfo* authority = held.Authority();
        if (signer == nullptr || authority == nullptr)
            MANIFEST_TRACE(3, " SsfVerify returned an invalid Signer List. Signer (%p), TSA (%p)\n",
                           static_cast<const void*>(signer), static_cast<const void*>(authority));
        else
            MANIFEST_TRACE(3, " SsfVerify returned the SignerList and signer_rc=%d,tsa_rc=%d\n", signer->result,
                           authority->result);
        if (rc != SSF_API_SIGNER_ERRORS) {
            MANIFEST_TRACE(3, " SSF Error %s\n", SsfErrorName(rc));
            ctx->severity = SMF_SEV_WARNING;
            return {SMF_ESSFLIB, rc};
        }
        MANIFEST_TRACE(3, " Signature invalid\n");
        ctx->severity = *signerResult == SSF_API_UNKNOWN_SIGNER ? SMF_SEV_WARNING : SMF_SEV_ERROR;
        return {SMF_ESIGNATURE, rc};
    }
    MANIFEST_TRACE(3, " SsfVerify returns %d [%s %d]\n", rc, ctx->signerCategory, *signerResult);
    if (signer == nullptr || signer->certificate == nullptr) {
        SmfRecord(ctx, "No signer information available.\n");
        return {SMF_ESSFLIB, 0};
    }
    if (crl != nullptr && crlLength != 0) {
        const Outcome o = CheckRevocations(ctx, held, crl, crlLength, profile);
        if (o.smf != SMF_OK)
            return o;
    }
    return out != nullptr ? HandOut(ctx, held, *signer, *out) : Outcome{};
}

}  // namespace

int ValidateManifestSignature(ManifestContext* ctx, const char* data, std::size_t dataLength,
                              const unsigned char* signature, std::size_t signatureLength, SsfFuncContext* fn,
                              const char* pseName, const char* psePassword, const unsigned char* crl,
                              std::size_t crlLength, const ManifestSignerOut* out)
{
    ctx = SmfResolve(ctx);
    const char* pse = pseName != nullptr && *pseName != '\0' ? pseName : nullptr;
    ctx->signerCategory = pse != nullptr ? kExternal : kValidation;
    int signerResult = 0;
    Held held(fn);
    const Outcome o = Validate(ctx, held, data, dataLength, signature, signatureLength, pse, psePassword, crl,
                               crlLength, out, &signerResult);
    if (o.smf == SMF_OK)
        return SMF_OK;
    // Whatever failed, the signer is not known.
    ctx->signerCategory = kUnknownSigner;
    SmfStore(ctx, o.smf);
    const int ssf = signerResult != 0 ? signerResult : o.ssf;
    if (ctx->lastSsfRc == 0)
        ctx->lastSsfRc = ssf;
    if (ctx->lastErrorText == nullptr) {
        if (ssf != 0)
            RecordLibraryText(ctx, fn, ssf, SsfErrorDescription(ssf));
        else
            SmfRecord(ctx, "%s", SmfErrorName(o.smf));
    }
    if (ctx->severity == SMF_SEV_OK)
        ctx->severity = SMF_SEV_WARNING;
    return o.smf;
}

int ManifestVerifyBuffer(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                         const char* psePassword, const unsigned char* crl, std::size_t crlLength, int loadBody,
                         const ManifestSignerOut* out)
{
    ctx = SmfResolve(ctx);
    // Nothing of an earlier verification may speak for this one.
    ctx->signerCategory = nullptr;
    if (text == nullptr || length == 0)
        return SmfFail(ctx, SMF_EINVARG, "No signed manifest file passed ");
    if (ctx->contentLength != 0 && ctx->contentStart == nullptr)
        return SmfFail(ctx, SMF_EINTERNAL, "No manifest context available ");

    SmfIndexFree(ctx);
    char* copy = ctx->builtinText;
    // A text in the context's own buffer (ManifestTextBuffer) stays where it is.
    if (length > MANIFEST_BUILTIN_TEXT && text == ctx->grownText && ctx->capacity > length) {
        copy = ctx->grownText;
    } else if (length > MANIFEST_BUILTIN_TEXT) {
        copy = static_cast<char*>(std::malloc(length + 1));
        if (copy == nullptr)
            return SmfFail(ctx, SMF_EINTERNAL, "Error in allocation memory for manifest file");
    }
    // The text may be the context's own: copy it before its buffer goes.
    std::memmove(copy, text, length);
    copy[length] = '\0';
    if (ctx->capacity != 0 && ctx->grownText != copy)
        std::free(ctx->grownText);
    ctx->grownText = copy != ctx->builtinText ? copy : nullptr;
    ctx->capacity = copy != ctx->builtinText ? length + 1 : 0;
    ctx->contentStart = copy;
    ctx->contentLength = length;
    ctx->mode = SMF_MODE_READ;
    ctx->parserState = SMF_PARSE_MAGIC;
    ctx->entryCount = 0;

    uint32_t state = SMF_PARSE_MAGIC;
    const char* base64 = nullptr;
    uint64_t base64Length = 0;
    if (ManifestParse(ctx, &state, 0) != SMF_OK || ctx->bodyStart == nullptr || ctx->signatureStart == nullptr ||
        ManifestSignatureBlock(ctx, &base64, &base64Length) != SMF_OK)
        return SmfFail(ctx, SMF_EPARSE, "Error in manifest parser");

    // The decoded signature is never longer than its Base64 text.
    std::unique_ptr<unsigned char, decltype(&std::free)> signature(
        static_cast<unsigned char*>(std::malloc(base64Length + 1)), &std::free);
    std::size_t signatureLength = 0;
    if (!signature || coBase64Decode(base64, base64Length, CO_MODE_SIGNATURE, CO_SKIP_INVALID, signature.get(),
                                     base64Length + 1, &signatureLength, nullptr) != CO_OK)
        return SmfFail(ctx, SMF_EDECODE, "Error in Base64 Decoder");

    int rc = ValidateManifestSignature(ctx, ctx->contentStart, ctx->headerLength + ctx->bodyLength, signature.get(),
                                       signatureLength, SmfCryptoFunctions(), pseName, psePassword, crl, crlLength,
                                       out);
    if (rc != SMF_OK) {
        if (ctx->severity == SMF_SEV_LOGGABLE_WARNING)
            MANIFEST_TRACE(3, "ValidateManifestSignature with validation returned with %s\n", SmfErrorName(rc));
        else
            MANIFEST_TRACE(2, "ValidateManifestSignature failed with %s\n", SmfErrorName(rc));
        // Files are looked at only for a manifest whose signature holds.
        return SmfStore(ctx, rc);
    }
    if (loadBody) {
        state = SMF_PARSE_BODY;
        rc = ManifestParse(ctx, &state, 1);
        if (rc != SMF_OK) {
            ctx->severity = SMF_SEV_ERROR;
            return SmfStore(ctx, rc);
        }
    }
    return SMF_OK;
}

char* ManifestTextBuffer(ManifestContext* ctx, std::size_t length)
{
    ctx = SmfResolve(ctx);
    SmfIndexFree(ctx);
    ctx->contentLength = 0;
    ctx->bodyStart = nullptr;
    ctx->signatureStart = nullptr;
    if (ctx->capacity > length)
        return ctx->contentStart = ctx->grownText;
    if (ctx->capacity != 0)
        std::free(ctx->grownText);
    ctx->grownText = nullptr;
    ctx->capacity = 0;
    ctx->contentStart = ctx->builtinText;
    if (length <= MANIFEST_BUILTIN_TEXT)
        return ctx->builtinText;
    if (length != SIZE_MAX)
        ctx->grownText = static_cast<char*>(std::malloc(length + 1));
    if (ctx->grownText == nullptr) {
        SmfFail(ctx, SMF_EINTERNAL, "Error in allocation memory for manifest file");
        return nullptr;
    }
    ctx->capacity = length + 1;
    ctx->contentStart = ctx->grownText;
    return ctx->grownText;
}

int ManifestVerify(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                   const char* psePassword, const unsigned char* crl, std::size_t crlLength, int loadBody,
                   int keepSigner)
{
    ctx = SmfResolve(ctx);
    std::free(ctx->signerSubject);
    std::free(ctx->signerIssuer);
    ctx->signerSubject = nullptr;
    ctx->signerIssuer = nullptr;
    if (!keepSigner)
        return ManifestVerifyBuffer(ctx, text, length, pseName, psePassword, crl, crlLength, loadBody, nullptr);
    uint32_t subjectLength = 0;
    uint32_t issuerLength = 0;
    ManifestSignerOut out{};
    out.signerId = {&ctx->signerSubject, &subjectLength};
    out.signerIssuer = {&ctx->signerIssuer, &issuerLength};
    return ManifestVerifyBuffer(ctx, text, length, pseName, psePassword, crl, crlLength, loadBody, &out);
}

int ManifestVerifyAndLoad(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                          const char* psePassword, const unsigned char* crl, std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, pseName, psePassword, crl, crlLength, 1, 1);
}

int ManifestVerifySignatureOnly(ManifestContext* ctx, const char* text, std::size_t length, const char* pseName,
                                const char* psePassword, const unsigned char* crl, std::size_t crlLength)
{
    return ManifestVerify(ctx, text, length, pseName, psePassword, crl, crlLength, 0, 1);
}
