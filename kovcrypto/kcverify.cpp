// Verification of a signature with its timestamp against the trust anchors
// of a profile's PSE.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <climits>

#include "kovcrypto/kcinternal.h"

using namespace kc;

namespace {

// The signer result for a chain that does not verify.
int ChainResult(int err, bool stamped)
{
    switch (err) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return stamped ? SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP : SSF_API_CERT_EXPIRED;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return SSF_API_UNKNOWN_SIGNER;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
    case X509_V_ERR_INVALID_CA:
    case X509_V_ERR_PATH_LENGTH_EXCEEDED:
    case X509_V_ERR_KEYUSAGE_NO_CERTSIGN:
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY:
    case X509_V_ERR_SUBJECT_ISSUER_MISMATCH:
    case X509_V_ERR_AKID_SKID_MISMATCH:
    case X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH:
        return SSF_API_CHAINBUILD_ERROR;
    default:
        return SSF_API_ERROR_VERIFY_CERT;
    }
}

// The signing time the signer claims in its signed attributes, or "".
std::string ClaimedSigningTime(CMS_SignerInfo* si)
{
    const int idx = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    if (idx < 0)
        return {};
    const ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, idx), 0);
    if (t == nullptr || (t->type != V_ASN1_UTCTIME && t->type != V_ASN1_GENERALIZEDTIME))
        return {};
    return TimeText(reinterpret_cast<const ASN1_TIME*>(t->value.asn1_string));
}

struct Stamp {
    int result = SSF_API_OK;
    Token token;
    bool present = false;
};

// Checks the signer's timestamp: token, authority certificate, times.
void CheckStamp(CMS_SignerInfo* si, bool required, X509_STORE* store, STACK_OF(X509) * extra, Stamp* s)
{
    const std::string der = AttachedToken(si);
    s->present = !der.empty();
    if (!s->present) {
        if (required)
            s->result = Fail(SSF_API_PKCS7_WITHOUT_TSTAMP, "the signature carries no timestamp");
        return;
    }
    s->result = DecodeToken(reinterpret_cast<const unsigned char*>(der.data()), der.size(), &s->token);
    if (s->result == SSF_API_OK)
        s->result = CheckToken(&s->token, si, extra);
    if (s->result != SSF_API_OK)
        return;
    s->result = CheckAuthority(s->token, store, extra);
}

}  // namespace

extern "C" int SsfVerify(const char* format, uint32_t formatLen, int detached, const unsigned char* signature,
                         uint32_t signatureLen, const unsigned char* data, uint32_t dataLen, const char* profile,
                         uint32_t profileLen, const char* password, uint32_t passwordLen, SsfSigRcpList** signers,
                         SsfOctetstring* content, uint32_t* contentLen)
{
    BeginCall();
    if (signers == nullptr || (content != nullptr) != (contentLen != nullptr))
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfVerify: no signer list given");
    *signers = nullptr;
    if (content != nullptr) {
        *content = nullptr;
        *contentLen = 0;
    }
    const int kind = FormatKind(format, formatLen);
    if (kind == 0)
        return Fail(SSF_API_INVALID_FORMAT, "unknown signature format \"%s\"", Text(format, formatLen).c_str());
    if (detached && (data == nullptr || dataLen == 0))
        return Fail(SSF_API_NODATA, "no signed data given for a detached signature");
    if (dataLen > INT_MAX)
        return Fail(SSF_API_INVALID_FUNCARGS, "more data than can be verified at once");
    Cms cms;
    CMS_SignerInfo* si = nullptr;
    int rc = ParseSignature(signature, signatureLen, &cms, &si);
    if (rc != SSF_API_OK)
        return rc;
    Trust trust;
    rc = OpenTrust(profile, profileLen, password, passwordLen, &trust);
    if (rc != SSF_API_OK)
        return rc;
    X509_STORE* store = trust.store.get();
    STACK_OF(X509)* extra = trust.certs.get();

    // The signature over the data, with the signer's certificate as found in
    // the signature or the PSE; its chain is checked below.
    X509* signerCert = nullptr;
    if (CMS_set1_signers_certs(cms.get(), extra, 0) >= 0)
        CMS_SignerInfo_get0_algs(si, nullptr, &signerCert, nullptr, nullptr);
    // The data reaches the toolkit through a buffering BIO: a bare memory BIO
    // would be copied into one that the toolkit loses when the signature
    // names a digest it does not know.
    Bio in;
    if (detached) {
        Bio mem(BIO_new_mem_buf(data, static_cast<int>(dataLen)));
        in.reset(BIO_new(BIO_f_buffer()));
        if (!mem || !in)
            return Fail(SSF_API_NOMEMORY, "out of memory verifying the signature");
        BIO_push(in.get(), mem.release());
    }
    // The content is collected only when the caller asks for it and the
    // signature carries it; a detached one's content is the caller's data.
    const bool collect = content != nullptr && !detached;
    Bio out(collect ? BIO_new(BIO_s_mem()) : nullptr);
    if (collect && !out)
        return Fail(SSF_API_NOMEMORY, "out of memory verifying the signature");
    // The timestamp first: its time is the time the chain is checked at, and
    // a failure of the signer itself is then the call's last error.
    Stamp stamp;
    CheckStamp(si, kind == 2, store, extra, &stamp);
    const bool stamped = stamp.present && stamp.result == SSF_API_OK;
    const std::string signingTime = stamped ? stamp.token.timeText : ClaimedSigningTime(si);

    const unsigned flags = CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY | (detached ? CMS_DETACHED : 0u);
    int signerResult = SSF_API_OK;
    if (signerCert == nullptr)
        signerResult = Fail(SSF_API_NOCERTIFICATE,
                            "the signer's certificate is neither in the signature nor in the PSE");
    else if (CMS_verify(cms.get(), extra, nullptr, in.get(), out.get(), flags) != 1)
        signerResult = Fail(SSF_API_SIGNER_NOT_OK, "the signature does not verify over the data");

    if (signerResult == SSF_API_OK) {
        CertStack untrusted = ChainCerts(cms.get(), extra);
        const std::time_t at = stamped ? stamp.token.time : 0;
        const int err = CheckChain(store, signerCert, untrusted.get(), at, 0);
        if (err != X509_V_OK) {
            SetToolkitCode(err);
            signerResult = Fail(ChainResult(err, stamped), "the certificate of signer \"%s\" does not verify%s: %s",
                                QuotedNameText(X509_get_subject_name(signerCert)).c_str(),
                                stamped ? " at the timestamp's time" : "", X509_verify_cert_error_string(err));
        }
    }
    // A bad or missing timestamp fails the signer too.
    if (signerResult == SSF_API_OK && stamp.result != SSF_API_OK)
        signerResult = stamp.result;

    SsfSigRcpList* list = nullptr;
    const std::string signerName = signerCert ? NameText(X509_get_subject_name(signerCert)) : std::string();
    bool ok = Append(&list, NewEntry(signerName, signerCert, signingTime, signerResult));
    if (ok && (kind == 2 || stamp.present)) {
        X509* tsa = stamp.token.signer;
        ok = Append(&list, NewEntry(tsa ? NameText(X509_get_subject_name(tsa)) : std::string(), tsa,
                                    stamp.token.timeText, stamp.present ? stamp.result : SSF_API_MISSING_TSTOKEN));
    }
    if (ok && content != nullptr) {
        char* bytes = nullptr;
        const long n = detached ? static_cast<long>(dataLen) : BIO_get_mem_data(out.get(), &bytes);
        ok = MakeOctets(detached ? static_cast<const void*>(data) : bytes, static_cast<std::size_t>(n < 0 ? 0 : n),
                        content, contentLen);
    }
    if (!ok) {
        SsfDELSigRcpSsfInfoList(&list);
        return Fail(SSF_API_NOMEMORY, "out of memory for the verification result");
    }
    *signers = list;
    return signerResult == SSF_API_OK ? SSF_API_OK : SSF_API_SIGNER_ERRORS;
}
