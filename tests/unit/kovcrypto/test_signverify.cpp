// Signing, timestamps and verification of the crypto library, with the
// openssl command line as the independent side of every round trip.
#include <openssl/cms.h>
#include <openssl/evp.h>

#include "tests/unit/kovcrypto/foreign_token.h"
#include "tests/unit/kovcrypto/kc_fixture.h"

using namespace kctest;

namespace {

// Line ends of both kinds, NUL and high bytes: binary mode must keep them all.
const char kHead[] = "line one\r\nline two\n\0\xff\x80 end\r";
const std::string kData = std::string(kHead, sizeof kHead - 1) + std::string(3000, 'x');

std::string OpensslSign(const std::string& ca, const std::string& who, const std::string& data,
                        const std::string& extra = "")
{
    Write(TmpDir() + "/data.bin", data);
    EXPECT_EQ(Shell("openssl cms -sign -binary -in " + TmpDir() + "/data.bin -signer " + P(ca + "/" + who + ".pem") +
                    " -inkey " + P(ca + "/" + who + ".key") + " " + extra + " -outform DER -out " + TmpDir() +
                    "/ossl.der"),
              0);
    return Read(TmpDir() + "/ossl.der");
}

int OpensslVerify(const std::string& sig, const std::string& data)
{
    Write(TmpDir() + "/sig.der", sig);
    Write(TmpDir() + "/data.bin", data);
    return Shell("openssl cms -verify -binary -inform DER -in " + TmpDir() + "/sig.der -content " + TmpDir() +
                 "/data.bin -CAfile " + P("root/ca.pem") + " -out /dev/null");
}

// The same signature carrying the token of another one.
std::string Hex(const unsigned char* p, unsigned n)
{
    std::string s;
    char b[3];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

}  // namespace

TEST(KovCryptoSign, OurSignaturesVerifyWithOpensslAndBack)
{
    std::string sig;
    int result = -1;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig, &result), 0) << LastError(result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(OpensslVerify(sig, kData), 0);
    EXPECT_NE(OpensslVerify(sig, kData.substr(1)), 0);

    std::string authority;
    std::string req, stamped;
    ASSERT_EQ(Request(sig, &req), 0);
    ASSERT_EQ(Attach(sig, req, OpensslReply(req), &stamped, &authority), 0) << LastError(327);
    EXPECT_EQ(authority, "CN=KOV Test TSA, O=KOV Test, C=DE");
    EXPECT_EQ(OpensslVerify(stamped, kData), 0);  // the token is an unsigned attribute

    Verdict v = Verify(stamped, kData, P("trust.p12"));
    EXPECT_EQ(v.rc, 0) << LastError(v.signer);
    EXPECT_EQ(v.signer, 0);
    EXPECT_EQ(v.tsa, 0);
    EXPECT_EQ(v.entries, 2);
    EXPECT_EQ(v.signerId, "CN=KOV Test Signer, O=KOV Test, C=DE");
    EXPECT_EQ(v.tsaId, "CN=KOV Test TSA, O=KOV Test, C=DE");
    EXPECT_EQ(v.content, kData);
    ASSERT_EQ(v.time.size(), 15u);
    EXPECT_EQ(v.time.back(), 'Z');

    // The issuer as the manifest reads it from the signer's certificate.
    SsfCertificate* cert = nullptr;
    ASSERT_EQ(SsfCertfromASN1(U(v.signerCert), L(v.signerCert), &cert), 0);
    Octets issuer;
    ASSERT_EQ(SsfParseCertificate(cert, "ISSUER", 6, &issuer.p, &issuer.n), 0);
    EXPECT_EQ(issuer.str(), "CN=KOV Test Root, O=KOV Test, C=DE");
    SsfFreeCertificate(&cert);
    EXPECT_EQ(cert, nullptr);

    // Stamping again replaces the token rather than adding a second one.
    std::string twice = Stamped(stamped);
    EXPECT_LT(twice.size(), stamped.size() + 200);
    EXPECT_EQ(Verify(twice, kData, P("trust.p12")).rc, 0);
}

TEST(KovCryptoSign, APseThatAlsoListsItsOwnCertificateSigns)
{
    ASSERT_EQ(Shell("cat " + P("root/signer.pem") + " " + P("root/ca.pem") + " > " + TmpDir() + "/chain.pem && " +
                    "openssl pkcs12 -export -inkey " + P("root/signer.key") + " -in " + P("root/signer.pem") +
                    " -certfile " + TmpDir() + "/chain.pem -passout pass:pin -out " + TmpDir() + "/twice.p12"),
              0);
    std::string sig;
    int result = -1;
    ASSERT_EQ(Sign(TmpDir() + "/twice.p12", "pin", kData, &sig, &result), 0) << LastError(result);
    EXPECT_EQ(OpensslVerify(sig, kData), 0);
}

TEST(KovCryptoSign, OpensslSignaturesVerifyHere)
{
    const std::string sig = OpensslSign("root", "signer", kData);
    Verdict v = Verify(sig, kData, P("trust.p12"), "", "PKCS7");
    EXPECT_EQ(v.rc, 0) << LastError(v.signer);
    EXPECT_EQ(v.entries, 1);
    EXPECT_EQ(v.time.size(), 15u);  // the signing time it claims

    v = Verify(sig, kData, P("trust.p12"));  // the timestamp format requires one
    EXPECT_EQ(v.rc, SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(v.signer, SSF_API_PKCS7_WITHOUT_TSTAMP);
    EXPECT_EQ(v.tsa, SSF_API_MISSING_TSTOKEN);

    const std::string stamped = Stamped(sig);
    EXPECT_EQ(Verify(stamped, kData, P("trust.p12")).rc, 0);
    v = Verify(stamped, kData.substr(0, kData.size() - 1) + "y", P("trust.p12"));
    EXPECT_EQ(v.rc, SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(v.signer, SSF_API_SIGNER_NOT_OK);
}

TEST(KovCryptoStamp, RequestStampsTheSignatureValue)
{
    std::string sig, req;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig), 0);
    ASSERT_EQ(Request(sig, &req), 0);
    Write(TmpDir() + "/q.tsq", req);
    EXPECT_EQ(
        Shell("openssl ts -query -in " + TmpDir() + "/q.tsq -text 2>/dev/null | grep -q 'Certificate required: yes'"),
        0);
    EXPECT_EQ(Shell("openssl ts -query -in " + TmpDir() + "/q.tsq -text 2>/dev/null | grep -q 'Nonce: 0x'"), 0);

    // The authority's reply, checked by openssl against our request and
    // against the digest of the signature value computed here.
    const std::string reply = OpensslReply(req);
    Write(TmpDir() + "/r.tsr", reply);
    const std::string verifyReply = "openssl ts -verify -in " + TmpDir() + "/r.tsr -CAfile " + P("root/ca.pem") +
                                    " -untrusted " + P("root/tsa.pem");
    EXPECT_EQ(Shell(verifyReply + " -queryfile " + TmpDir() + "/q.tsq"), 0);
    const unsigned char* p = U(sig);
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, L(sig));
    const ASN1_OCTET_STRING* value = CMS_SignerInfo_get0_signature(
        sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms), 0));
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned mdLen = 0;
    EVP_Digest(value->data, static_cast<std::size_t>(value->length), md, &mdLen, EVP_sha256(), nullptr);
    CMS_ContentInfo_free(cms);
    EXPECT_EQ(Shell(verifyReply + " -digest " + Hex(md, mdLen)), 0);

    // Replies that do not answer this request for this signature.
    std::string out, sig2, req2;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", "other data", &sig2), 0);
    ASSERT_EQ(Request(sig2, &req2), 0);
    EXPECT_EQ(Attach(sig, req, OpensslReply(req2), &out), SSF_API_WRONG_TSTAMP_RESP);
    EXPECT_EQ(Attach(sig, req2, OpensslReply(req2), &out), SSF_API_WRONG_TSTAMP_RESP);
    ASSERT_EQ(Request(sig, &req2, "SHA224"), 0);  // a digest the authority does not accept
    EXPECT_EQ(Attach(sig, req2, OpensslReply(req2), &out), SSF_API_WRONG_TSTAMP_RESP);
    EXPECT_NE(LastError(SSF_API_WRONG_TSTAMP_RESP).find("did not grant"), std::string::npos);
    EXPECT_EQ(Attach(sig, req, "garbage", &out), SSF_API_ERROR_DECODING_TSTAMP_RESP);
    EXPECT_EQ(Attach(sig, "garbage", reply, &out), SSF_API_ERROR_DECODING_TSTAMP_REQ);
    EXPECT_TRUE(out.empty());

    // With the signer's PSE, a stamp of an authority it does not trust (which
    // no verification would accept) is refused when attached; it used to be
    // attached, and every archive signed with it failed verification later.
    EXPECT_EQ(Attach(sig, req, reply, &out, nullptr, P("signer.p12"), "signpin"), 0);
    EXPECT_FALSE(out.empty());
    const std::string stranger = OpensslReply(req, "-signer " + P("other/strangertsa.pem") + " -inkey " +
                                                       P("other/strangertsa.key"));
    EXPECT_EQ(Attach(sig, req, stranger, &out), 0);
    EXPECT_EQ(Attach(sig, req, stranger, &out, nullptr, P("signer.p12"), "signpin"), SSF_API_BAD_TSA_CERT);
    EXPECT_NE(LastError(SSF_API_BAD_TSA_CERT).find("KOV Stranger TSA"), std::string::npos);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(Attach(sig, req, reply, &out, nullptr, P("signer.p12"), "nope"), SSF_API_INVALID_PASSWORD);
}

TEST(KovCryptoVerify, EachFailureHasItsCode)
{
    std::string sig, req;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig), 0);
    const std::string good = Stamped(sig);
    const std::string trust = P("trust.p12");

    struct Case {
        const char* what;
        std::string sig;
        std::string profile;
        std::string format;
        int rc, signer, tsa;
    };
    std::string stranger, forged, expiredOld, expiredLate, future, outsideTsa, strangerTsa;
    ASSERT_EQ(Sign(P("stranger.p12"), "pin", kData, &stranger), 0);
    ASSERT_EQ(Sign(P("forged.p12"), "pin", kData, &forged), 0);
    const std::string expired = OpensslSign("root", "expired", kData);
    std::string stamped;
    ASSERT_EQ(Request(expired, &req), 0);
    ASSERT_EQ(Attach(expired, req, ReplyAt(req, 1591000000), &expiredOld), 0);   // 2020-06-01
    ASSERT_EQ(Attach(expired, req, ReplyAt(req, 1641000000), &expiredLate), 0);  // 2022-01-01
    ASSERT_EQ(Request(sig, &req), 0);
    ASSERT_EQ(Attach(sig, req, ReplyAt(req, std::time(nullptr) + 86400), &future), 0);
    ASSERT_EQ(Attach(sig, req, ReplyAt(req, 1591000000, "root", "tsa"), &outsideTsa), 0);
    const std::string lastByteFlipped = good.substr(0, good.size() - 1) + static_cast<char>(good.back() ^ 1);
    std::string other;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", "other data", &other), 0);
    Write(TmpDir() + "/data.bin", kData);
    ASSERT_EQ(Shell("openssl cms -data_create -binary -in " + TmpDir() + "/data.bin -outform DER -out " + TmpDir() +
                    "/plain.der"),
              0);
    const std::string plainData = Read(TmpDir() + "/plain.der");

    const Case cases[] = {
        {"good", good, trust, "PKCS7-TSTAMP", 0, 0, 0},
        {"unknown root", Stamped(stranger), trust, "PKCS7-TSTAMP", 5, SSF_API_UNKNOWN_SIGNER, 0},
        {"forged chain", Stamped(forged), trust, "PKCS7-TSTAMP", 5, SSF_API_CHAINBUILD_ERROR, 0},
        {"expired, no stamp", expired, trust, "PKCS7", 5, SSF_API_CERT_EXPIRED, -1},
        {"expired, stamped in time", expiredOld, trust, "PKCS7-TSTAMP", 0, 0, 0},
        {"expired before stamp", expiredLate, trust, "PKCS7-TSTAMP", 5, SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP, 0},
        {"stamp from the future", future, trust, "PKCS7-TSTAMP", 5, SSF_API_TSTAMP_FROM_THE_FUTURE,
         SSF_API_TSTAMP_FROM_THE_FUTURE},
        {"stamp outside TSA validity", outsideTsa, trust, "PKCS7-TSTAMP", 5, SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY,
         SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY},
        {"untrusted TSA",
         Stamped(sig, "-signer " + P("other/strangertsa.pem") + " -inkey " + P("other/strangertsa.key")), trust,
         "PKCS7-TSTAMP", 5, SSF_API_BAD_TSA_CERT, SSF_API_BAD_TSA_CERT},
        {"token of other data", WithForeignToken(sig, Stamped(other)), trust, "PKCS7-TSTAMP", 5, SSF_API_BAD_TSTINFO,
         SSF_API_BAD_TSTINFO},
        {"token signature broken", lastByteFlipped, trust, "PKCS7-TSTAMP", 5, SSF_API_BAD_TSTOKEN, SSF_API_BAD_TSTOKEN},
        {"wrong PIN", good, P("signer.p12"), "PKCS7-TSTAMP", SSF_API_INVALID_PASSWORD, -1, -1},
        {"right PIN", good, P("signer.p12"), "PKCS7-TSTAMP", 0, 0, 0},
        {"no such PSE", good, P("none.p12"), "PKCS7-TSTAMP", SSF_API_UNKNOWN_PROFILE, -1, -1},
        {"PSE not PKCS#12", good, P("crl_current.pem"), "PKCS7-TSTAMP", SSF_API_INVALID_PROFILE, -1, -1},
        {"trailing bytes", good + "x", trust, "PKCS7-TSTAMP", SSF_API_ERROR_DECODING_PKCS7, -1, -1},
        {"not PKCS#7", Read(P("psedir/KOVverify.pse")), trust, "PKCS7", SSF_API_ERROR_DECODING_PKCS7, -1, -1},
        {"not signed data", plainData, trust, "PKCS7", SSF_API_PKCS7_NO_SIGNEDDATA, -1, -1},
        {"two signers",
         OpensslSign("root", "signer", kData, "-signer " + P("root/revoked.pem") + " -inkey " + P("root/revoked.key")),
         trust, "PKCS7", SSF_API_TSTAMP_ONLY_WITH_SINGLE_SIGNER, -1, -1},
        {"bad format", good, trust, "PKCS7-X", SSF_API_INVALID_FORMAT, -1, -1},
    };
    for (const Case& c : cases) {
        const std::string pin = c.profile == P("signer.p12") ? (std::string(c.what) == "right PIN" ? "signpin" : "nope")
                                                             : "";
        const Verdict v = Verify(c.sig, kData, c.profile, pin, c.format);
        EXPECT_EQ(v.rc, c.rc) << c.what << ": " << LastError(v.rc == 5 ? v.signer : v.rc);
        EXPECT_EQ(v.signer, c.signer) << c.what;
        EXPECT_EQ(v.tsa, c.tsa) << c.what;
        if (v.rc == 5) {
            EXPECT_NE(LastError(v.signer).find_first_not_of(" |"), std::string::npos) << c.what;
        }
    }
    EXPECT_EQ(LastError(SSF_API_INVALID_PASSWORD), " | ");  // only the last failure is kept
    Verify(good, kData, P("signer.p12"), "Secret-4711");
    EXPECT_EQ(LastError(SSF_API_INVALID_PASSWORD).find("Secret-4711"), std::string::npos);
    EXPECT_NE(LastError(SSF_API_INVALID_PASSWORD).find("wrong PIN"), std::string::npos);
}

TEST(KovCryptoSign, SignerFailuresAndNamedProfiles)
{
    std::string sig;
    int result = -1;
    EXPECT_EQ(Sign(P("signer.p12"), "Secret-4711", kData, &sig, &result), SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(result, SSF_API_INVALID_PASSWORD);
    EXPECT_EQ(LastError(result).find("Secret-4711"), std::string::npos);
    EXPECT_TRUE(sig.empty());
    EXPECT_EQ(Sign(P("absent.p12"), "", kData, &sig, &result), SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(result, SSF_API_UNKNOWN_PROFILE);
    EXPECT_EQ(Sign(P("trust.p12"), "", kData, &sig, &result), SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(result, SSF_API_NOCERTIFICATE);
    EXPECT_EQ(Sign(P("expired.p12"), "pin", kData, &sig, &result), SSF_API_SIGNER_ERRORS);
    EXPECT_EQ(result, SSF_API_CERT_EXPIRED);
    EXPECT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig, &result, "MD5"), SSF_API_INSECURE_MDALG);
    EXPECT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig, &result, "WHIRL"), SSF_API_INVALID_MDALG);
    EXPECT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig, &result, "SHA256", "PKCS7-TSTAMP"), SSF_API_INVALID_FORMAT);

    // Names without a path are PSE files in TELMIRDIR; an empty PIN opens a
    // file without a password.
    ASSERT_EQ(Sign("KOVvalidation", "", kData, &sig, &result, "sha-512"), 0) << LastError(result);
    const std::string stamped = Stamped(sig);
    EXPECT_EQ(Verify(stamped, kData, "KOVverify").rc, 0);
    ASSERT_EQ(Sign(P("stranger.p12"), "pin", kData, &sig), 0);
    const Verdict v = Verify(Stamped(sig), kData, "KOVverify");
    EXPECT_EQ(v.signer, SSF_API_UNKNOWN_SIGNER);
    EXPECT_EQ(Verify(stamped, kData, "KOVnothing").rc, SSF_API_UNKNOWN_PROFILE);
}

TEST(KovCryptoVerify, DamagedSignaturesFailCleanly)
{
    std::string sig;
    ASSERT_EQ(Sign(P("signer.p12"), "signpin", kData, &sig), 0);
    const std::string good = Stamped(sig);
    for (std::size_t n = 0; n < good.size(); ++n) {
        const Verdict v = Verify(good.substr(0, n), kData, P("trust.p12"));
        ASSERT_TRUE(v.rc == SSF_API_NODATA || v.rc == SSF_API_ERROR_DECODING_PKCS7) << n << ": " << v.rc;
        ASSERT_EQ(v.entries, 0);
    }
    // Flipped bits: whatever the verdict, a failure of the signer names it.
    for (std::size_t i = 0; i < good.size(); i += 11) {
        std::string bad = good;
        bad[i] = static_cast<char>(bad[i] ^ (1 << (i % 8)));
        const Verdict v = Verify(bad, kData, P("trust.p12"));
        const bool judged = v.rc == 0 || v.rc == SSF_API_SIGNER_ERRORS;
        ASSERT_EQ(v.entries, judged ? 2 : 0) << i;
        ASSERT_EQ(v.rc == SSF_API_SIGNER_ERRORS, judged && v.signer != 0) << i;
    }
}
