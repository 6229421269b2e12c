// Revocation lists of the crypto library: decoding and the check of a
// certificate, on lists made by the openssl command line.
#include <openssl/pem.h>

#include <vector>

#include "tests/unit/kovcrypto/kc_fixture.h"

using namespace kctest;

namespace {

std::string CertDer(const std::string& pem)
{
    FILE* f = std::fopen(P(pem).c_str(), "r");
    X509* x = f ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
    if (f)
        std::fclose(f);
    unsigned char* der = nullptr;
    const int n = x ? i2d_X509(x, &der) : 0;
    std::string s(reinterpret_cast<char*>(der), static_cast<std::size_t>(n > 0 ? n : 0));
    OPENSSL_free(der);
    X509_free(x);
    return s;
}

struct Crls {
    SsfCrl** list = nullptr;
    uint32_t count = 0;
    int rc = -1;
    explicit Crls(const std::string& bytes) { rc = SsfDecodeCrlArray(U(bytes), L(bytes), &list, &count); }
    ~Crls() { SsfFreeCrlArray(&list, count); }
};

struct Check {
    int rc = -1;
    uint32_t reason = 0;
    int entryResult = -1;
    std::string entryTime;
};

Check CheckCert(const std::string& certPem, const std::string& crlBytes, const std::string& profile,
                const std::string& pin = "", int checkCurrent = 1)
{
    Check c;
    const std::string der = CertDer(certPem);
    SsfCertificate* cert = nullptr;
    EXPECT_EQ(SsfCertfromASN1(U(der), L(der), &cert), 0) << certPem;
    Crls crls(crlBytes);
    EXPECT_EQ(crls.rc, 0);
    SsfSigRcpInfo* entry = nullptr;
    c.rc = SsfCheckCertWithCrlArray(cert, crls.list, crls.count, checkCurrent, profile.data(), L(profile), pin.data(),
                                    L(pin), "20250101000000Z", 15, &c.reason, &entry);
    if (entry != nullptr) {
        c.entryResult = entry->result;
        c.entryTime.assign(entry->time, entry->timeLen);
    }
    SsfDELSigRcpSsfInfo(&entry);
    SsfFreeCertificate(&cert);
    return c;
}

}  // namespace

TEST(KovCryptoCrl, DecodesPemAndDerListsAndRefusesOthers)
{
    const std::string current = Read(P("crl_current.pem"));
    const std::string other = Read(P("crl_other.pem"));
    ASSERT_EQ(Shell("openssl crl -in " + P("crl_current.pem") + " -outform DER -out " + TmpDir() + "/c.der"), 0);
    ASSERT_EQ(Shell("openssl crl -in " + P("crl_other.pem") + " -outform DER -out " + TmpDir() + "/o.der"), 0);
    const std::string der = Read(TmpDir() + "/c.der");
    const std::string der2 = Read(TmpDir() + "/o.der");

    const struct {
        const char* what;
        std::string bytes;
        int rc;
        uint32_t count;
    } cases[] = {
        {"one PEM", current, 0, 1},
        {"two PEM", "\n" + current + other, 0, 2},
        {"one DER", der, 0, 1},
        {"two DER", der + der2, 0, 2},
        {"DER with trailing bytes", der + "xy", SSF_API_BAD_CRL, 0},
        {"truncated DER", der.substr(0, der.size() - 3), SSF_API_BAD_CRL, 0},
        {"PEM, second damaged", current + other.substr(0, 60) + "!!!" + other.substr(63), SSF_API_BAD_CRL, 0},
        {"a certificate", Read(P("root/ca.pem")), SSF_API_BAD_CRL, 0},
        {"text", "no list here", SSF_API_BAD_CRL, 0},
        {"nothing", "", SSF_API_NODATA, 0},
    };
    for (const auto& c : cases) {
        Crls crls(c.bytes);
        EXPECT_EQ(crls.rc, c.rc) << c.what;
        EXPECT_EQ(crls.count, c.count) << c.what;
        EXPECT_EQ(crls.list == nullptr, c.count == 0) << c.what;
    }
}

TEST(KovCryptoCrl, CheckReportsEachState)
{
    const std::string current = Read(P("crl_current.pem"));
    const std::string outdated = Read(P("crl_outdated.pem"));
    const std::string other = Read(P("crl_other.pem"));
    const std::string forged = Read(P("crl_forged.pem"));
    const std::string trust = P("trust.p12");

    const struct {
        const char* what;
        const char* cert;
        std::string crls;
        std::string profile;
        int checkCurrent;
        int rc;
        uint32_t reason;
    } cases[] = {
        {"all clear", "root/signer.pem", current, trust, 1, 0, SSF_REVOCATION_REASON_NONE},
        {"revoked", "root/revoked.pem", current, trust, 1, SSF_API_REVOCATION_CERT_REVOKED, 1},
        {"outdated", "root/signer.pem", outdated, trust, 1, SSF_API_CRL_OUTDATED, SSF_REVOCATION_REASON_NONE},
        {"outdated, not asked", "root/signer.pem", outdated, trust, 0, 0, SSF_REVOCATION_REASON_NONE},
        {"revoked on an outdated list", "root/revoked.pem", outdated, trust, 1, SSF_API_REVOCATION_CERT_REVOKED, 1},
        {"newest list counts", "root/signer.pem", outdated + current, trust, 1, 0, SSF_REVOCATION_REASON_NONE},
        {"none from the issuer", "root/signer.pem", other, trust, 1, SSF_API_NO_CRL_FOR_CERT,
         SSF_REVOCATION_REASON_NONE},
        {"issuer's name, other key", "root/signer.pem", forged, trust, 1, SSF_API_CRL_SIGNATURE_NOT_VERIFIED,
         SSF_REVOCATION_REASON_NONE},
        {"forged beside the real one", "root/signer.pem", forged + current + other, trust, 1, 0,
         SSF_REVOCATION_REASON_NONE},
        {"issuer not in the PSE", "root/signer.pem", current, P("stranger.p12"), 1, SSF_API_BAD_CRLSIGNER_CERT,
         SSF_REVOCATION_REASON_NONE},
        {"the TSA", "root/tsa.pem", current, "KOVverify", 1, 0, SSF_REVOCATION_REASON_NONE},
    };
    for (const auto& c : cases) {
        const std::string pin = c.profile == P("stranger.p12") ? "pin" : "";
        const Check r = CheckCert(c.cert, c.crls, c.profile, pin, c.checkCurrent);
        EXPECT_EQ(r.rc, c.rc) << c.what << ": " << LastError(r.rc);
        EXPECT_EQ(r.reason, c.reason) << c.what;
        EXPECT_EQ(r.entryResult, c.rc) << c.what;
        EXPECT_EQ(r.entryTime.empty(), c.reason == SSF_REVOCATION_REASON_NONE) << c.what;
    }
    EXPECT_EQ(CheckCert("root/signer.pem", current, P("stranger.p12"), "wrong").rc, SSF_API_INVALID_PASSWORD);
}
