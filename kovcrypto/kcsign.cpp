// Signing: a PKCS#7 (CMS) signature over the exact bytes, with the key and
// certificate of the signer's PSE.
#include <openssl/cms.h>
#include <openssl/x509.h>

#include <climits>

#include "kovcrypto/kcinternal.h"

using namespace kc;

namespace {

// The signer's failure: its result is set, the call reports signer errors.
int SignerFailed(SsfSigRcpInfo* signer, int result)
{
    signer->result = result;
    return SSF_API_SIGNER_ERRORS;
}

}  // namespace

extern "C" int SsfSign(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen, int detached,
                       int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
                       SsfOctetstring* signature, uint32_t* signatureLen)
{
    BeginCall();
    if (signature == nullptr || signatureLen == nullptr || signers == nullptr || signers->info == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfSign: no signer or no output given");
    *signature = nullptr;
    *signatureLen = 0;
    if (FormatKind(format, formatLen) != 1)
        return Fail(SSF_API_INVALID_FORMAT, "signatures are made in the format \"PKCS7\", not \"%s\"",
                    Text(format, formatLen).c_str());
    if (data == nullptr || dataLen == 0)
        return Fail(SSF_API_NODATA, "no data to sign");
    if (dataLen > INT_MAX)
        return Fail(SSF_API_INVALID_FUNCARGS, "more data than can be signed at once");
    const EVP_MD* md = nullptr;
    int rc = DigestByName(mdalg, mdalgLen, &md);
    if (rc != SSF_API_OK)
        return Fail(rc, "digest \"%s\" cannot be used for signing", Text(mdalg, mdalgLen).c_str());

    SsfSigRcpInfo* signer = signers->info;
    Pse pse;
    rc = OpenPse(signer->profile, signer->profileLen, signer->password, signer->passwordLen, true, &pse);
    if (rc != SSF_API_OK)
        return SignerFailed(signer, rc);
    X509* cert = pse.cert.get();
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) >= 0 || X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0) {
        Fail(SSF_API_CERT_EXPIRED, "signer certificate \"%s\" is not valid now (%s to %s)",
             QuotedNameText(X509_get_subject_name(cert)).c_str(), TimeText(X509_get0_notBefore(cert)).c_str(),
             TimeText(X509_get0_notAfter(cert)).c_str());
        return SignerFailed(signer, SSF_API_CERT_EXPIRED);
    }
    if (X509_check_private_key(cert, pse.key.get()) != 1) {
        Fail(SSF_API_NOCERTIFICATE, "the private key of the PSE does not belong to its certificate");
        return SignerFailed(signer, SSF_API_NOCERTIFICATE);
    }

    // Binary: the bytes are signed as they are, without line-end conversion.
    unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    if (detached)
        flags |= CMS_DETACHED;
    if (!includeCerts)
        flags |= CMS_NOCERTS;
    // The signer's own certificate goes in once, with the signer: a PSE that
    // also lists it among its other certificates must not make it a
    // duplicate, which the toolkit refuses.
    CertStack carried(sk_X509_new_null());
    if (!carried)
        return Fail(SSF_API_NOMEMORY, "out of memory for the certificates of the signature");
    for (int i = 0; includeCerts && i < sk_X509_num(pse.others.get()); ++i) {
        X509* other = sk_X509_value(pse.others.get(), i);
        if (X509_cmp(other, cert) != 0 && X509_up_ref(other) == 1 && sk_X509_push(carried.get(), other) <= 0)
            X509_free(other);
    }
    Cms cms(CMS_sign(nullptr, nullptr, carried.get(), nullptr, flags));
    if (!cms || CMS_add1_signer(cms.get(), cert, pse.key.get(), md, flags) == nullptr)
        return Fail(SSF_API_UNKNOWN_SECTK_ERROR, "the signature could not be set up");
    Bio in(BIO_new_mem_buf(data, static_cast<int>(dataLen)));
    if (!in || CMS_final(cms.get(), in.get(), nullptr, flags) != 1)
        return Fail(SSF_API_UNKNOWN_SECTK_ERROR, "the data could not be signed");
    unsigned char* der = nullptr;
    const int n = i2d_CMS_ContentInfo(cms.get(), &der);
    rc = EncodedOctets(n, der, "the signature", signature, signatureLen);
    if (rc == SSF_API_OK)
        signer->result = SSF_API_OK;
    return rc;
}
