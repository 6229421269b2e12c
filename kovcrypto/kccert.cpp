// Certificates and revocation lists: decoding, fields, and the check of a
// certificate against the lists of its issuer.
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "kovcrypto/kcinternal.h"

struct SsfCertificate {
    kc::X509Ptr x509;
};
struct SsfCrl {
    kc::X509Crl crl;
};

using namespace kc;

namespace {

// More lists than any revocation file needs; beyond it the input is refused.
constexpr uint32_t kMaxCrls = 4096;

std::string Upper(const std::string& s)
{
    std::string u = s;
    for (char& c : u)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return u;
}

std::string SerialText(const X509* x)
{
    Owned<BIGNUM, BN_free> bn(ASN1_INTEGER_to_BN(X509_get0_serialNumber(x), nullptr));
    char* hex = bn ? BN_bn2hex(bn.get()) : nullptr;
    std::string s = hex != nullptr ? hex : "";
    OPENSSL_free(hex);
    return s;
}

bool StartsWithPem(const unsigned char* data, uint32_t len)
{
    uint32_t i = 0;
    while (i < len && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    static const char kBegin[] = "-----BEGIN";
    return len - i >= sizeof kBegin - 1 && std::memcmp(data + i, kBegin, sizeof kBegin - 1) == 0;
}

// The certificate of the PSE whose key signed the certificate, or NULL.
X509* FindIssuer(STACK_OF(X509) * certs, X509* cert)
{
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* c = sk_X509_value(certs, i);
        EVP_PKEY* key = X509_get0_pubkey(c);
        if (X509_NAME_cmp(X509_get_subject_name(c), X509_get_issuer_name(cert)) == 0 && key != nullptr &&
            X509_verify(cert, key) == 1)
            return c;
    }
    ERR_clear_error();
    return nullptr;
}

int RevocationReason(X509_REVOKED* rev)
{
    int crit = 0;
    ASN1_ENUMERATED* e = static_cast<ASN1_ENUMERATED*>(X509_REVOKED_get_ext_d2i(rev, NID_crl_reason, &crit, nullptr));
    const long r = e != nullptr ? ASN1_ENUMERATED_get(e) : 0;
    ASN1_ENUMERATED_free(e);
    return r < 0 || r > 10 ? 0 : static_cast<int>(r);
}

}  // namespace

extern "C" {

int SsfCertfromASN1(const unsigned char* der, uint32_t derLen, SsfCertificate** certificate)
{
    BeginCall();
    if (certificate == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfCertfromASN1: no output given");
    *certificate = nullptr;
    if (der == nullptr || derLen == 0)
        return Fail(SSF_API_NODATA, "no certificate given");
    const unsigned char* p = der;
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(derLen)));
    if (!x || p != der + derLen)
        return Fail(SSF_API_ERROR_DECODING_X509, "the certificate cannot be decoded");
    auto* c = new (std::nothrow) SsfCertificate;
    if (c == nullptr)
        return Fail(SSF_API_NOMEMORY, "out of memory for a certificate");
    c->x509 = std::move(x);
    *certificate = c;
    return SSF_API_OK;
}

int SsfCerttoASN1(const SsfCertificate* certificate, SsfOctetstring* der, uint32_t* derLen)
{
    BeginCall();
    if (certificate == nullptr || der == nullptr || derLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfCerttoASN1: no certificate or no output given");
    const std::string bytes = CertDer(certificate->x509.get());
    if (bytes.empty())
        return Fail(SSF_API_ENCODE_FAILED, "the certificate cannot be encoded");
    if (!MakeOctets(bytes.data(), bytes.size(), der, derLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for a certificate");
    return SSF_API_OK;
}

int SsfParseCertificate(const SsfCertificate* certificate, const char* field, uint32_t fieldLen, SsfOctetstring* value,
                        uint32_t* valueLen)
{
    BeginCall();
    if (certificate == nullptr || value == nullptr || valueLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfParseCertificate: no certificate or no output given");
    *value = nullptr;
    *valueLen = 0;
    const X509* x = certificate->x509.get();
    const std::string name = Upper(Text(field, fieldLen));
    std::string text;
    if (name == "SUBJECT")
        text = NameText(X509_get_subject_name(x));
    else if (name == "ISSUER")
        text = NameText(X509_get_issuer_name(x));
    else if (name == "SERIAL")
        text = SerialText(x);
    else if (name == "NOTBEFORE")
        text = TimeText(X509_get0_notBefore(x));
    else if (name == "NOTAFTER")
        text = TimeText(X509_get0_notAfter(x));
    else
        return Fail(SSF_API_INVALID_FUNCARGS, "unknown certificate field \"%s\"", Text(field, fieldLen).c_str());
    if (!MakeOctets(text.data(), text.size(), value, valueLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for a certificate field");
    return SSF_API_OK;
}

void SsfFreeCertificate(SsfCertificate** certificate)
{
    if (certificate != nullptr) {
        delete *certificate;
        *certificate = nullptr;
    }
}

void SsfFreeCrlArray(SsfCrl*** crls, uint32_t count)
{
    if (crls == nullptr || *crls == nullptr)
        return;
    for (uint32_t i = 0; i < count; ++i)
        delete (*crls)[i];
    std::free(*crls);
    *crls = nullptr;
}

int SsfDecodeCrlArray(const unsigned char* data, uint32_t dataLen, SsfCrl*** crls, uint32_t* count)
{
    BeginCall();
    if (crls == nullptr || count == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfDecodeCrlArray: no output given");
    *crls = nullptr;
    *count = 0;
    if (data == nullptr || dataLen == 0 || dataLen > INT_MAX)
        return Fail(SSF_API_NODATA, "no revocation list given");
    std::vector<X509Crl> found;
    if (StartsWithPem(data, dataLen)) {
        Bio bio(BIO_new_mem_buf(data, static_cast<int>(dataLen)));
        while (bio && found.size() <= kMaxCrls) {
            X509Crl crl(PEM_read_bio_X509_CRL(bio.get(), nullptr, nullptr, nullptr));
            if (!crl)
                break;
            found.push_back(std::move(crl));
        }
        // Only the end of the text may stop the reading.
        const unsigned long e = ERR_peek_last_error();
        if (e != 0 && !(ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == PEM_R_NO_START_LINE))
            return Fail(SSF_API_BAD_CRL, "revocation list %zu of the text cannot be decoded", found.size() + 1);
    } else {
        const unsigned char* p = data;
        const unsigned char* end = data + dataLen;
        while (p < end && found.size() <= kMaxCrls) {
            X509Crl crl(d2i_X509_CRL(nullptr, &p, end - p));
            if (!crl)
                return Fail(SSF_API_BAD_CRL, "revocation list %zu cannot be decoded", found.size() + 1);
            found.push_back(std::move(crl));
        }
    }
    if (found.empty())
        return Fail(SSF_API_BAD_CRL, "no revocation list found in the data");
    if (found.size() > kMaxCrls)
        return Fail(SSF_API_BAD_CRL, "more than %u revocation lists", kMaxCrls);
    auto** array = static_cast<SsfCrl**>(std::calloc(found.size(), sizeof(SsfCrl*)));
    if (array == nullptr)
        return Fail(SSF_API_NOMEMORY, "out of memory for revocation lists");
    for (std::size_t i = 0; i < found.size(); ++i) {
        array[i] = new (std::nothrow) SsfCrl;
        if (array[i] == nullptr) {
            SsfFreeCrlArray(&array, static_cast<uint32_t>(i));
            return Fail(SSF_API_NOMEMORY, "out of memory for revocation lists");
        }
        array[i]->crl = std::move(found[i]);
    }
    ERR_clear_error();
    *crls = array;
    *count = static_cast<uint32_t>(found.size());
    return SSF_API_OK;
}

int SsfCheckCertWithCrlArray(const SsfCertificate* certificate, SsfCrl* const* crls, uint32_t count, int checkCurrent,
                             const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                             const char* /*time*/, uint32_t /*timeLen*/, uint32_t* reason, SsfSigRcpInfo** entry)
{
    BeginCall();
    if (certificate == nullptr || reason == nullptr || (crls == nullptr && count != 0))
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfCheckCertWithCrlArray: no certificate or no output given");
    *reason = SSF_REVOCATION_REASON_NONE;
    if (entry != nullptr)
        *entry = nullptr;
    X509* cert = certificate->x509.get();
    const std::string subject = NameText(X509_get_subject_name(cert));
    std::string when;
    int rc = SSF_API_OK;

    std::vector<X509_CRL*> fromIssuer;
    for (uint32_t i = 0; i < count; ++i)
        if (crls[i] != nullptr &&
            X509_NAME_cmp(X509_CRL_get_issuer(crls[i]->crl.get()), X509_get_issuer_name(cert)) == 0)
            fromIssuer.push_back(crls[i]->crl.get());
    Pse pse;
    CertStack all;
    X509* issuer = nullptr;
    X509_CRL* newest = nullptr;
    if (fromIssuer.empty()) {
        rc = Fail(SSF_API_NO_CRL_FOR_CERT, "no revocation list from the issuer \"%s\"",
                  QuotedNameText(X509_get_issuer_name(cert)).c_str());
    } else if ((rc = OpenPse(profile, profileLen, password, passwordLen, false, &pse)) != SSF_API_OK) {
        // rc and message set
    } else if (!(all = AllCerts(pse)) || (issuer = FindIssuer(all.get(), cert)) == nullptr) {
        rc = Fail(SSF_API_BAD_CRLSIGNER_CERT, "the PSE does not hold the certificate of the issuer \"%s\"",
                  QuotedNameText(X509_get_issuer_name(cert)).c_str());
    } else {
        for (X509_CRL* crl : fromIssuer) {
            if (X509_CRL_verify(crl, X509_get0_pubkey(issuer)) != 1)
                continue;
            if (newest == nullptr ||
                ASN1_TIME_compare(X509_CRL_get0_lastUpdate(crl), X509_CRL_get0_lastUpdate(newest)) > 0)
                newest = crl;
        }
        if (newest == nullptr)
            rc = Fail(SSF_API_CRL_SIGNATURE_NOT_VERIFIED,
                      "no revocation list of the issuer \"%s\" has a valid signature",
                      QuotedNameText(X509_get_issuer_name(cert)).c_str());
    }
    if (newest != nullptr) {
        X509_REVOKED* rev = nullptr;
        const ASN1_TIME* next = X509_CRL_get0_nextUpdate(newest);
        if (X509_CRL_get0_by_cert(newest, &rev, cert) > 0 && rev != nullptr) {
            const int r = RevocationReason(rev);
            *reason = static_cast<uint32_t>(r);
            when = TimeText(X509_REVOKED_get0_revocationDate(rev));
            if (r == 6)
                rc = Fail(SSF_API_REVOCATION_CERT_ON_HOLD, "certificate \"%s\" is on hold since %s",
                          QuotedNameText(X509_get_subject_name(cert)).c_str(), when.c_str());
            else if (r != 8)  // 8: taken off the list
                rc = Fail(SSF_API_REVOCATION_CERT_REVOKED, "certificate \"%s\" is revoked since %s (reason %d)",
                          QuotedNameText(X509_get_subject_name(cert)).c_str(), when.c_str(), r);
        }
        if (rc == SSF_API_OK && checkCurrent && next != nullptr && X509_cmp_current_time(next) < 0)
            rc = Fail(SSF_API_CRL_OUTDATED,
                      "the revocation list of \"%s\" is outdated since %s; download and use a current one",
                      QuotedNameText(X509_CRL_get_issuer(newest)).c_str(), TimeText(next).c_str());
    }
    if (entry != nullptr) {
        *entry = NewEntry(subject, nullptr, when, rc);
        if (*entry == nullptr)
            return Fail(SSF_API_NOMEMORY, "out of memory for the revocation result");
    }
    return rc;
}

}  // extern "C"
