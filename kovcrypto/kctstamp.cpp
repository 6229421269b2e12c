// RFC 3161 timestamps of a signature: the request for the signer's signature
// value, the authority's reply attached as the signer's unsigned attribute,
// and the checks of a token shared with verification.
//
// Test builds define KOVCR_TEST_OMIT_TSREQ to leave SsfGetTimeStampReq out.
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "kovcrypto/kcinternal.h"

namespace kc {

int ParseSignature(const unsigned char* signature, uint32_t signatureLen, Cms* cms, CMS_SignerInfo** si)
{
    if (signature == nullptr || signatureLen == 0)
        return Fail(SSF_API_NODATA, "no signature given");
    const unsigned char* p = signature;
    cms->reset(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(signatureLen)));
    if (!*cms || p != signature + signatureLen)
        return Fail(SSF_API_ERROR_DECODING_PKCS7, "the signature is not a DER PKCS#7 structure");
    if (OBJ_obj2nid(CMS_get0_type(cms->get())) != NID_pkcs7_signed)
        return Fail(SSF_API_PKCS7_NO_SIGNEDDATA, "the PKCS#7 structure is not signed data");
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms->get());
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1)
        return Fail(SSF_API_TSTAMP_ONLY_WITH_SINGLE_SIGNER, "the signature must have exactly one signer, it has %d",
                    infos == nullptr ? 0 : sk_CMS_SignerInfo_num(infos));
    *si = sk_CMS_SignerInfo_value(infos, 0);
    return SSF_API_OK;
}

bool SignatureValueDigest(CMS_SignerInfo* si, const EVP_MD* md, unsigned char* out, unsigned* outLen)
{
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(si);
    return value != nullptr && md != nullptr &&
           EVP_Digest(value->data, static_cast<std::size_t>(value->length), out, outLen, md, nullptr) == 1;
}

std::string AttachedToken(CMS_SignerInfo* si)
{
    const int idx = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1);
    if (idx < 0)
        return {};
    const ASN1_TYPE* t = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(si, idx), 0);
    if (t == nullptr || t->type != V_ASN1_SEQUENCE || t->value.sequence == nullptr || t->value.sequence->length <= 0)
        return std::string(1, '\0');  // present but not a token: fails to decode
    return std::string(reinterpret_cast<const char*>(t->value.sequence->data),
                       static_cast<std::size_t>(t->value.sequence->length));
}

int DecodeToken(const unsigned char* der, std::size_t derLen, Token* token)
{
    const unsigned char* p = der;
    token->cms.reset(derLen == 0 ? nullptr : d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(derLen)));
    if (!token->cms || p != der + derLen || OBJ_obj2nid(CMS_get0_type(token->cms.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(token->cms.get())) != NID_id_smime_ct_TSTInfo)
        return Fail(SSF_API_ERROR_DECODING_TSTOKEN, "the timestamp token cannot be decoded");
    ASN1_OCTET_STRING** content = CMS_get0_content(token->cms.get());
    if (content == nullptr || *content == nullptr)
        return Fail(SSF_API_ERROR_DECODING_TSTINFO, "the timestamp token has no contents");
    const unsigned char* q = (*content)->data;
    token->info.reset(d2i_TS_TST_INFO(nullptr, &q, (*content)->length));
    if (!token->info || !TimeOf(TS_TST_INFO_get_time(token->info.get()), &token->time))
        return Fail(SSF_API_ERROR_DECODING_TSTINFO, "the contents of the timestamp token cannot be decoded");
    token->timeText = TimeText(TS_TST_INFO_get_time(token->info.get()));
    return SSF_API_OK;
}

int CheckToken(Token* token, CMS_SignerInfo* si, STACK_OF(X509) * extra)
{
    CMS_ContentInfo* cms = token->cms.get();
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1)
        return Fail(SSF_API_BAD_TSTOKEN, "the timestamp token must have exactly one signer");
    X509* signer = nullptr;
    if (CMS_set1_signers_certs(cms, extra, 0) >= 0)
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, 0), nullptr, &signer, nullptr, nullptr);
    if (signer == nullptr)
        return Fail(SSF_API_BAD_TSA_CERT, "the timestamp token carries no certificate of its authority");
    if (CMS_verify(cms, extra, nullptr, nullptr, nullptr, CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1)
        return Fail(SSF_API_BAD_TSTOKEN, "the signature of the timestamp token does not verify");
    token->signer = signer;
    if (X509_check_purpose(signer, X509_PURPOSE_TIMESTAMP_SIGN, 0) != 1)
        return Fail(SSF_API_BAD_TSA_CERT,
                    "the certificate of timestamp authority \"%s\" lacks the critical "
                    "timeStamping usage",
                    QuotedNameText(X509_get_subject_name(signer)).c_str());

    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(token->info.get());
    const X509_ALGOR* alg = imprint == nullptr ? nullptr : TS_MSG_IMPRINT_get_algo(imprint);
    const ASN1_OCTET_STRING* stamped = imprint == nullptr ? nullptr : TS_MSG_IMPRINT_get_msg(imprint);
    const EVP_MD* md = alg == nullptr ? nullptr : EVP_get_digestbyobj(alg->algorithm);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digestLen = 0;
    if (stamped == nullptr || !SignatureValueDigest(si, md, digest, &digestLen) ||
        static_cast<unsigned>(stamped->length) != digestLen || std::memcmp(stamped->data, digest, digestLen) != 0)
        return Fail(SSF_API_BAD_TSTINFO, "the timestamp token stamps other data than this signature");
    return SSF_API_OK;
}

CertStack ChainCerts(CMS_ContentInfo* cms, STACK_OF(X509) * extra)
{
    CertStack all(CMS_get1_certs(cms));
    if (!all)
        all.reset(sk_X509_new_null());
    for (int i = 0; all && extra != nullptr && i < sk_X509_num(extra); ++i) {
        X509* c = sk_X509_value(extra, i);
        if (X509_up_ref(c) == 1 && sk_X509_push(all.get(), c) <= 0)
            X509_free(c);
    }
    return all;
}

int CheckAuthority(const Token& token, X509_STORE* store, STACK_OF(X509) * extra)
{
    // A timestamp may be this far ahead of our clock before it counts as one
    // from the future.
    constexpr std::time_t kClockSkewSeconds = 300;
    X509* tsa = token.signer;
    const std::string tsaName = QuotedNameText(X509_get_subject_name(tsa));
    if (token.time > std::time(nullptr) + kClockSkewSeconds)
        return Fail(SSF_API_TSTAMP_FROM_THE_FUTURE, "the timestamp's time %s lies in the future",
                    token.timeText.c_str());
    std::time_t notBefore = 0;
    std::time_t notAfter = 0;
    if (!TimeOf(X509_get0_notBefore(tsa), &notBefore) || !TimeOf(X509_get0_notAfter(tsa), &notAfter) ||
        token.time < notBefore || token.time > notAfter)
        return Fail(SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY,
                    "the timestamp's time %s is outside the validity of authority \"%s\"", token.timeText.c_str(),
                    tsaName.c_str());
    CertStack untrusted = ChainCerts(token.cms.get(), extra);
    const int err = CheckChain(store, tsa, untrusted.get(), token.time, X509_PURPOSE_TIMESTAMP_SIGN);
    if (err == X509_V_OK)
        return SSF_API_OK;
    SetToolkitCode(err);
    return Fail(SSF_API_BAD_TSA_CERT, "the certificate of timestamp authority \"%s\" is not trusted: %s",
                tsaName.c_str(), X509_verify_cert_error_string(err));
}

}  // namespace kc

using namespace kc;

namespace {

#ifndef KOVCR_TEST_OMIT_TSREQ
void FreeImprint(TS_MSG_IMPRINT* m)
{
    TS_MSG_IMPRINT_free(m);
}
void FreeAlgor(X509_ALGOR* a)
{
    X509_ALGOR_free(a);
}
#endif

bool SameImprint(TS_MSG_IMPRINT* a, TS_MSG_IMPRINT* b)
{
    const X509_ALGOR* aa = TS_MSG_IMPRINT_get_algo(a);
    const X509_ALGOR* ba = TS_MSG_IMPRINT_get_algo(b);
    return aa != nullptr && ba != nullptr && OBJ_cmp(aa->algorithm, ba->algorithm) == 0 &&
           ASN1_STRING_cmp(TS_MSG_IMPRINT_get_msg(a), TS_MSG_IMPRINT_get_msg(b)) == 0;
}

// Only printable 7-bit characters of the authority's own status text go into a message.
std::string StatusText(TS_STATUS_INFO* status)
{
    std::string out;
    const STACK_OF(ASN1_UTF8STRING)* texts = TS_STATUS_INFO_get0_text(status);
    for (int i = 0; texts != nullptr && i < sk_ASN1_UTF8STRING_num(texts) && out.size() < 200; ++i) {
        const ASN1_UTF8STRING* s = sk_ASN1_UTF8STRING_value(texts, i);
        out += out.empty() ? ": \"" : " \"";
        for (int k = 0; k < s->length && out.size() < 200; ++k)
            out += s->data[k] >= 0x20 && s->data[k] < 0x7f ? static_cast<char>(s->data[k]) : '?';
        out += '"';
    }
    return out;
}

}  // namespace

extern "C" {

#ifndef KOVCR_TEST_OMIT_TSREQ
int SsfGetTimeStampReq(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen, int certReq,
                       const unsigned char* signature, uint32_t signatureLen, SsfOctetstring* request,
                       uint32_t* requestLen)
{
    BeginCall();
    if (request == nullptr || requestLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfGetTimeStampReq: no output given");
    *request = nullptr;
    *requestLen = 0;
    if (FormatKind(format, formatLen) == 0)
        return Fail(SSF_API_INVALID_FORMAT, "unknown signature format \"%s\"", Text(format, formatLen).c_str());
    const EVP_MD* md = nullptr;
    int rc = DigestByName(mdalg, mdalgLen, &md);
    if (rc != SSF_API_OK)
        return Fail(rc, "digest \"%s\" cannot be used for a timestamp", Text(mdalg, mdalgLen).c_str());
    Cms cms;
    CMS_SignerInfo* si = nullptr;
    rc = ParseSignature(signature, signatureLen, &cms, &si);
    if (rc != SSF_API_OK)
        return rc;

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned digestLen = 0;
    uint64_t nonce = 0;
    TsReq req(TS_REQ_new());
    Owned<TS_MSG_IMPRINT, FreeImprint> imprint(TS_MSG_IMPRINT_new());
    Owned<X509_ALGOR, FreeAlgor> alg(X509_ALGOR_new());
    AsnInt nonceInt(ASN1_INTEGER_new());
    if (!req || !imprint || !alg || !nonceInt || !SignatureValueDigest(si, md, digest, &digestLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for the timestamp request");
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&nonce), sizeof nonce) != 1)
        return Fail(SSF_API_UNKNOWN_SECTK_ERROR, "no random nonce for the timestamp request");
    nonce = (nonce >> 1) | 1;  // positive and never 0
    X509_ALGOR_set_md(alg.get(), md);
    if (TS_REQ_set_version(req.get(), 1) != 1 || TS_MSG_IMPRINT_set_algo(imprint.get(), alg.get()) != 1 ||
        TS_MSG_IMPRINT_set_msg(imprint.get(), digest, static_cast<int>(digestLen)) != 1 ||
        TS_REQ_set_msg_imprint(req.get(), imprint.get()) != 1 || ASN1_INTEGER_set_uint64(nonceInt.get(), nonce) != 1 ||
        TS_REQ_set_nonce(req.get(), nonceInt.get()) != 1 || TS_REQ_set_cert_req(req.get(), certReq ? 1 : 0) != 1)
        return Fail(SSF_API_NOMEMORY, "out of memory for the timestamp request");
    unsigned char* der = nullptr;
    const int n = i2d_TS_REQ(req.get(), &der);
    return EncodedOctets(n, der, "the timestamp request", request, requestLen);
}
#endif

int SsfAddTimeStampResp(const char* format, uint32_t formatLen, const unsigned char* signature, uint32_t signatureLen,
                        const unsigned char* request, uint32_t requestLen, const unsigned char* reply,
                        uint32_t replyLen, const char* profile, uint32_t profileLen, const char* password,
                        uint32_t passwordLen, SsfOctetstring* stamped, uint32_t* stampedLen, SsfSigRcpInfo** authority)
{
    BeginCall();
    if (stamped == nullptr || stampedLen == nullptr || authority == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfAddTimeStampResp: no output given");
    *stamped = nullptr;
    *stampedLen = 0;
    *authority = nullptr;
    if (FormatKind(format, formatLen) == 0)
        return Fail(SSF_API_INVALID_FORMAT, "unknown signature format \"%s\"", Text(format, formatLen).c_str());
    Cms cms;
    CMS_SignerInfo* si = nullptr;
    int rc = ParseSignature(signature, signatureLen, &cms, &si);
    if (rc != SSF_API_OK)
        return rc;

    const unsigned char* p = request;
    TsReq req(request == nullptr || requestLen == 0 ? nullptr : d2i_TS_REQ(nullptr, &p, static_cast<long>(requestLen)));
    if (!req || p != request + requestLen)
        return Fail(SSF_API_ERROR_DECODING_TSTAMP_REQ, "the timestamp request cannot be decoded");
    p = reply;
    TsResp resp(reply == nullptr || replyLen == 0 ? nullptr : d2i_TS_RESP(nullptr, &p, static_cast<long>(replyLen)));
    if (!resp || p != reply + replyLen)
        return Fail(SSF_API_ERROR_DECODING_TSTAMP_RESP, "the timestamp reply cannot be decoded");
    TS_STATUS_INFO* status = TS_RESP_get_status_info(resp.get());
    const long granted = status == nullptr ? -1 : ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(status));
    if (granted != TS_STATUS_GRANTED && granted != TS_STATUS_GRANTED_WITH_MODS)
        return Fail(SSF_API_WRONG_TSTAMP_RESP, "the timestamp authority did not grant the request (status %ld)%s",
                    granted, status == nullptr ? "" : StatusText(status).c_str());
    PKCS7* tokenP7 = TS_RESP_get_token(resp.get());
    if (tokenP7 == nullptr)
        return Fail(SSF_API_MISSING_TSTOKEN, "the timestamp reply carries no token");
    unsigned char* tokenDer = nullptr;
    const int tokenLen = i2d_PKCS7(tokenP7, &tokenDer);
    if (tokenLen <= 0)
        return Fail(SSF_API_ERROR_DECODING_TSTOKEN, "the timestamp token cannot be encoded");
    const std::string der(reinterpret_cast<char*>(tokenDer), static_cast<std::size_t>(tokenLen));
    OPENSSL_free(tokenDer);

    Token token;
    rc = DecodeToken(reinterpret_cast<const unsigned char*>(der.data()), der.size(), &token);
    if (rc != SSF_API_OK)
        return rc;
    const ASN1_INTEGER* askedNonce = TS_REQ_get_nonce(req.get());
    const ASN1_INTEGER* gotNonce = TS_TST_INFO_get_nonce(token.info.get());
    if (askedNonce != nullptr && (gotNonce == nullptr || ASN1_INTEGER_cmp(askedNonce, gotNonce) != 0))
        return Fail(SSF_API_WRONG_TSTAMP_RESP, "the timestamp reply does not answer this request (nonce)");
    if (!SameImprint(TS_REQ_get_msg_imprint(req.get()), TS_TST_INFO_get_msg_imprint(token.info.get())))
        return Fail(SSF_API_WRONG_TSTAMP_RESP, "the timestamp reply does not answer this request (imprint)");
    rc = CheckToken(&token, si, nullptr);
    if (rc == SSF_API_BAD_TSTINFO)
        return Fail(SSF_API_WRONG_TSTAMP_RESP, "the timestamp request was not made for this signature");
    if (rc != SSF_API_OK)
        return rc;
    // With a profile, the authority must be one its PSE trusts, as a
    // verification with that PSE would demand: a stamp that can never
    // verify is refused before it becomes part of a signature.
    if (profile != nullptr && profileLen != 0) {
        Trust trust;
        rc = OpenTrust(profile, profileLen, password, passwordLen, &trust);
        if (rc == SSF_API_OK)
            rc = CheckAuthority(token, trust.store.get(), trust.certs.get());
        if (rc != SSF_API_OK)
            return rc;
    }

    // The token replaces any earlier one as the signer's unsigned attribute.
    for (int idx; (idx = CMS_unsigned_get_attr_by_NID(si, NID_id_smime_aa_timeStampToken, -1)) >= 0;)
        X509_ATTRIBUTE_free(CMS_unsigned_delete_attr(si, idx));
    if (CMS_unsigned_add1_attr_by_NID(si, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, der.data(),
                                      static_cast<int>(der.size())) != 1)
        return Fail(SSF_API_NOMEMORY, "out of memory attaching the timestamp");
    unsigned char* out = nullptr;
    const int n = i2d_CMS_ContentInfo(cms.get(), &out);
    rc = EncodedOctets(n, out, "the timestamped signature", stamped, stampedLen);
    if (rc != SSF_API_OK)
        return rc;
    SsfSigRcpInfo* entry = NewEntry(NameText(X509_get_subject_name(token.signer)), token.signer, token.timeText,
                                    SSF_API_OK);
    if (entry == nullptr) {
        SsfDELSsfOctetstring(stamped);
        *stampedLen = 0;
        return Fail(SSF_API_NOMEMORY, "out of memory for the timestamped signature");
    }
    *authority = entry;
    return SSF_API_OK;
}

}  // extern "C"
