// Signing and verifying manifests with the crypto library built beside the
// program, the test PKI of its own tests and a loopback timestamp authority
// (`openssl ts -reply`).  Oracles: `openssl cms -verify` on our signatures,
// signatures of `openssl cms -sign` verified here; hostile cases: changed
// text and signature, expired, revoked and unknown signers, revocation lists
// that are outdated, foreign or forged, and timestamps for other data.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "crypto/coding.h"
#include "krn/snt/smfint.h"
#include "krn/snt/smfutil.h"
#include "tests/unit/kovcrypto/foreign_token.h"
#include "tests/unit/krn/manifest_fixture.h"
#include "tests/unit/smfutil/tsa_fixture.h"

using namespace smftest;
using kctest::P;
using kctest::Shell;

namespace {

const Files kFiles = {{"a.txt", "abc"}, {"dir/b.bin", std::string("\0\x01\xff\n\r", 5)}, {"empty", ""}};

std::string Base64Block(const std::string& der)
{
    std::string lines(coBase64EncodedLength(der.size(), 64, 1), '\0');
    size_t n = 0;
    EXPECT_EQ(coBase64Encode(der.data(), der.size(), CO_MODE_SIGNATURE, 64, "\n", lines.data(), lines.size(), &n), 0);
    return std::string(MANIFEST_BEGIN_SIGNATURE) + "\n" + lines + MANIFEST_END_SIGNATURE;
}

// The signed part and the decoded signature of a signed text.
std::pair<std::string, std::string> Split(const std::string& text)
{
    const size_t at = text.find(MANIFEST_BEGIN_SIGNATURE);
    const size_t b64 = at + sizeof MANIFEST_BEGIN_SIGNATURE;
    const size_t end = text.rfind(MANIFEST_END_SIGNATURE);
    std::string der(end - b64, '\0');
    size_t n = 0;
    EXPECT_EQ(coBase64Decode(text.data() + b64, end - b64, CO_MODE_SIGNATURE, CO_SKIP_SPACE, der.data(), der.size(), &n,
                             nullptr),
              0);
    der.resize(n);
    return {text.substr(0, at), der};
}

std::string OpensslSign(const std::string& who, const std::string& data)
{
    kctest::Write(P("sign-in"), data);
    EXPECT_EQ(Shell("openssl cms -sign -binary -in " + P("sign-in") + " -signer " + P(who + ".pem") + " -inkey " +
                    P(who + ".key") + " -outform DER -out " + P("sign-out.der")),
              0);
    return kctest::Read(P("sign-out.der"));
}

class Signing : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TELMIRDIR", (kctest::Pki() + "/psedir").c_str(), 1);
        ASSERT_EQ(ManifestInit(ctx.get(), KOVCRYPTO_LIB, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
        url = "http://127.0.0.1:" + tsa.Port() + "/tsa";
    }
    static void TearDownTestSuite() { ManifestShutdown(); }

    // Packs the files into a fresh context and signs them.
    int Sign(const Files& files, const char* pse = "signer.p12", const char* pin = "signpin",
             std::string* text = nullptr, const char* tsaUrl = "")
    {
        Ctx c;
        EXPECT_EQ(ManifestInit(c.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
        EXPECT_EQ(Pack(c.get(), files), 0);
        const std::string pseText = pse != nullptr && *pse != '\0' && *pse != '/' ? P(pse) : (pse ? pse : "");
        const int rc = ManifestSign(c.get(), pse != nullptr && *pse != '\0' ? pseText.c_str() : pse, pin,
                                    *tsaUrl != '\0' ? tsaUrl : url.c_str(), nullptr, nullptr, nullptr);
        if (text != nullptr)
            *text = Text(c.get());
        lastError = ManifestGetLastError(c.get());
        lastSsf = ManifestGetSsfRc(c.get());
        return rc;
    }
    // The signature stamped by the loopback authority.
    std::string Stamp(const std::string& signature)
    {
        SmfUtilTimestampRequestRec* r = SmfUtilCreateTimestampRequest();
        r->crypto = SmfCryptoFunctions();
        r->signature = kctest::U(signature);
        r->signatureLength = kctest::L(signature);
        r->format = "PKCS7";
        r->digestAlgorithm = "SHA256";
        r->tsaUrl = url.c_str();
        EXPECT_EQ(SmfUtilTimestampRequest(r), 0);
        std::string stamped(reinterpret_cast<char*>(r->stamped), r->stampedLength);
        SmfUtilFreeTimestampRequest(r);
        return stamped;
    }
    int Verify(const std::string& text, const char* pse = nullptr, const std::string& crl = "", int loadBody = 0)
    {
        return ManifestVerify(ctx.get(), text.data(), text.size(), pse, nullptr, kctest::U(crl), crl.size(), loadBody,
                              1);
    }

    Ctx ctx;
    tsatest::Server tsa{{"tsa", "--ts-config", P("ts.cnf")}};
    std::string url;
    std::string lastError;
    int lastSsf = 0;
};

}  // namespace

TEST_F(Signing, SignedManifestsVerifyHereAndWithOpenssl)
{
    std::string text;
    ASSERT_EQ(Sign(kFiles, "signer.p12", "signpin", &text), 0) << lastError;
    const auto [signedPart, der] = Split(text);
    // The signed part is header, entry lines and the empty line that ends
    // the body; the block's lines hold 64 characters.
    EXPECT_EQ(signedPart.substr(signedPart.size() - 7), "empty\n\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - sizeof MANIFEST_END_SIGNATURE), std::string("\n") + MANIFEST_END_SIGNATURE);
    EXPECT_EQ(text.find('\n', signedPart.size() + sizeof MANIFEST_BEGIN_SIGNATURE) -
                  (signedPart.size() + sizeof MANIFEST_BEGIN_SIGNATURE),
              64u);
    kctest::Write(P("mf-data"), signedPart);
    kctest::Write(P("mf-sig.der"), der);
    EXPECT_EQ(Shell("openssl cms -verify -binary -inform DER -in " + P("mf-sig.der") + " -content " + P("mf-data") +
                    " -CAfile " + P("root/ca.pem") + " -out /dev/null"),
              0);
    EXPECT_EQ(Shell("openssl cms -cmsout -print -inform DER -in " + P("mf-sig.der") +
                    " | grep -q id-smime-aa-timeStampToken"),
              0);

    // The profile of the verifier decides the signer's category.
    EXPECT_EQ(Verify(text), 0) << ManifestGetLastError(ctx.get());
    EXPECT_STREQ(ManifestGetSigner(ctx.get()), "KOV software");
    EXPECT_STREQ(ManifestGetSubject(ctx.get()), "CN=KOV Test Signer, O=KOV Test, C=DE");
    EXPECT_STREQ(ManifestGetIssuer(ctx.get()), "CN=KOV Test Root, O=KOV Test, C=DE");
    EXPECT_EQ(ManifestGetFileCount(ctx.get()), 3u);
    const std::string trust = P("trust.p12");
    EXPECT_EQ(Verify(text, trust.c_str()), 0);
    EXPECT_STREQ(ManifestGetSigner(ctx.get()), "External");

    // A signature of openssl over the same text, stamped by the authority.
    ASSERT_EQ(Shell("openssl cms -sign -binary -in " + P("mf-data") + " -signer " + P("root/signer.pem") + " -inkey " +
                    P("root/signer.key") + " -outform DER -out " + P("ossl.der")),
              0);
    const std::string ossl = kctest::Read(P("ossl.der"));
    const std::string stamped = Stamp(ossl);
    ASSERT_FALSE(stamped.empty());
    EXPECT_EQ(Verify(signedPart + Base64Block(stamped)), 0) << ManifestGetLastError(ctx.get());
    // Without its timestamp the same signature is refused.
    EXPECT_EQ(Verify(signedPart + Base64Block(ossl)), SMF_ESIGNATURE);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), SSF_API_PKCS7_WITHOUT_TSTAMP);
}

TEST_F(Signing, TamperedTextsAndSignaturesFailAndTheSignerIsUnknown)
{
    std::string text;
    ASSERT_EQ(Sign(kFiles, "signer.p12", "signpin", &text), 0) << lastError;
    std::string other;
    ASSERT_EQ(Sign({{"a.txt", "abd"}}, "signer.p12", "signpin", &other), 0) << lastError;
    const auto [signedPart, der] = Split(text);
    const auto [otherPart, otherDer] = Split(other);

    struct Case {
        const char* what;
        std::string text;
        int rc;
    };
    std::string flipped = text;
    flipped[signedPart.size() - 3] ^= 1;  // the last header-or-body byte but the line feeds
    // One bit of the signature flipped: a byte set to a fixed value stayed
    // as it was whenever it held that value already.
    std::string changedDer = der;
    changedDer[der.size() / 2] ^= 1;
    std::string badSignature = signedPart + Base64Block(changedDer);
    const Case cases[] = {
        {"changed text", flipped, SMF_ESIGNATURE},
        {"changed signature", badSignature, SMF_ESSFLIB},
        {"signature of another text", signedPart + Base64Block(otherDer), SMF_ESIGNATURE},
        {"no block", signedPart, SMF_EPARSE},
        {"bytes after the block", text + "\n", SMF_EPARSE},
        {"cut Base64", signedPart + MANIFEST_BEGIN_SIGNATURE + "\nQUJDQ\n" + MANIFEST_END_SIGNATURE, SMF_EDECODE},
    };
    for (const Case& k : cases) {
        // An earlier success on the same context must not speak for this one.
        ASSERT_EQ(Verify(text), 0);
        ASSERT_STREQ(ManifestGetSigner(ctx.get()), "KOV software");
        const int rc = Verify(k.text);
        EXPECT_TRUE(rc == k.rc || (k.rc == SMF_ESSFLIB && rc == SMF_ESIGNATURE)) << k.what << " " << rc;
        EXPECT_EQ(ManifestGetSmfRc(ctx.get()), rc) << k.what;
        EXPECT_STREQ(ManifestGetSigner(ctx.get()), "Unknown signer") << k.what;
        EXPECT_STREQ(ManifestGetSubject(ctx.get()), "NULL") << k.what;
        EXPECT_NE(std::string(ManifestGetLastError(ctx.get())), "") << k.what;
        ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    }
    ASSERT_EQ(Verify(flipped), SMF_ESIGNATURE);
    EXPECT_EQ(ManifestGetSeverity(ctx.get()), SMF_SEV_ERROR);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), SSF_API_SIGNER_NOT_OK);
}

TEST_F(Signing, SignersAndRevocationListsDecideTheOutcome)
{
    std::string good, revoked;
    ASSERT_EQ(Sign(kFiles, "signer.p12", "signpin", &good), 0) << lastError;
    ASSERT_EQ(Sign(kFiles, "revoked.p12", "pin", &revoked), 0) << lastError;
    const std::string current = kctest::Read(P("crl_current.pem"));
    struct Case {
        const char* what;
        const std::string& text;
        std::string crl;
        int rc;
        int ssf;
    };
    const Case cases[] = {
        {"not revoked", good, current, SMF_OK, 0},
        {"revoked", revoked, current, SMF_ECRL_REVOKED, SSF_API_REVOCATION_CERT_REVOKED},
        {"no list given", revoked, "", SMF_OK, 0},
        {"outdated list", good, kctest::Read(P("crl_outdated.pem")), SMF_ECRL_OUTDATED, SSF_API_CRL_OUTDATED},
        {"list of another issuer", good, kctest::Read(P("crl_other.pem")), SMF_ECRL, SSF_API_NO_CRL_FOR_CERT},
        {"forged list", good, kctest::Read(P("crl_forged.pem")), SMF_ECRL, SSF_API_CRL_SIGNATURE_NOT_VERIFIED},
        {"no list at all", good, "not a list", SMF_ECRL, SSF_API_BAD_CRL},
    };
    for (const Case& k : cases) {
        ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
        EXPECT_EQ(Verify(k.text, nullptr, k.crl), k.rc) << k.what << ": " << ManifestGetLastError(ctx.get());
        EXPECT_EQ(ManifestGetSsfRc(ctx.get()), k.ssf) << k.what;
        EXPECT_STREQ(ManifestGetSigner(ctx.get()), k.rc == 0 ? "KOV software" : "Unknown signer") << k.what;
    }
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    ASSERT_EQ(Verify(revoked, nullptr, current), SMF_ECRL_REVOKED);
    EXPECT_NE(std::string(ManifestGetLastError(ctx.get())).find("(reason 1)"), std::string::npos)
        << ManifestGetLastError(ctx.get());
    EXPECT_EQ(ManifestGetSeverity(ctx.get()), SMF_SEV_ERROR);

    // Signing with a key that cannot sign, or without an authority.
    EXPECT_EQ(Sign(kFiles, "signer.p12", "wrong"), SMF_ESSFLIB);
    EXPECT_EQ(lastSsf, SSF_API_INVALID_PASSWORD);
    EXPECT_EQ(Sign(kFiles, "expired.p12", "pin"), SMF_ESSFLIB);
    EXPECT_EQ(lastSsf, SSF_API_CERT_EXPIRED);
    EXPECT_EQ(Sign(kFiles, "signer.p12", "signpin", nullptr, "http://127.0.0.1:1/"), SMF_ESIGNATURE);
    Ctx c;
    ASSERT_EQ(ManifestInit(c.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
    ASSERT_EQ(Pack(c.get(), kFiles), 0);
    EXPECT_EQ(ManifestSign(c.get(), P("signer.p12").c_str(), "signpin", "", nullptr, nullptr, nullptr), SMF_ETSA);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "No Timestamp Authority set");

    // Signers the verifier's anchors do not accept: expired at the time of
    // the timestamp, and of a stranger hierarchy.
    const std::string signedPart = Split(good).first;
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    EXPECT_EQ(Verify(signedPart + Base64Block(Stamp(OpensslSign("root/expired", signedPart)))), SMF_ESIGNATURE);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP);
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    EXPECT_EQ(Verify(signedPart + Base64Block(Stamp(OpensslSign("other/stranger", signedPart)))), SMF_ESIGNATURE);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), SSF_API_UNKNOWN_SIGNER);
    EXPECT_EQ(ManifestGetSeverity(ctx.get()), SMF_SEV_WARNING);

    // A timestamp token taken from the signature of another text.
    const std::string mine = OpensslSign("root/signer", signedPart);
    std::string otherText;
    ASSERT_EQ(Sign({{"x", "y"}}, "signer.p12", "signpin", &otherText), 0);
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    EXPECT_EQ(Verify(signedPart + Base64Block(kctest::WithForeignToken(mine, Split(otherText).second))),
              SMF_ESIGNATURE);
    EXPECT_EQ(ManifestGetSsfRc(ctx.get()), SSF_API_BAD_TSTINFO);
}

TEST_F(Signing, TheValidationProfileIsTheFallbackOfTheVerifyProfile)
{
    std::string text;
    ASSERT_EQ(Sign(kFiles, "signer.p12", "signpin", &text), 0) << lastError;
    const std::string dir = kctest::TmpDir() + "/fallback";
    ASSERT_EQ(Shell("rm -rf " + dir + " && mkdir -p " + dir + " && openssl pkcs12 -export -nokeys -in " +
                    P("other/ca.pem") + " -passout pass: -out " + dir + "/KOVverify.pse && cp " + P("trust.p12") + " " +
                    dir + "/KOVvalidation.pse"),
              0);
    setenv("TELMIRDIR", dir.c_str(), 1);
    EXPECT_EQ(Verify(text), 0) << ManifestGetLastError(ctx.get());
    EXPECT_STREQ(ManifestGetSigner(ctx.get()), "KOV validation");
    EXPECT_EQ(ctx->severity, SMF_SEV_LOGGABLE_WARNING);
    // The default signing PSE is the validation profile.
    setenv("TELMIRDIR", (kctest::Pki() + "/psedir").c_str(), 1);
    std::string byDefault;
    ASSERT_EQ(Sign(kFiles, "", "", &byDefault), 0) << lastError;
    EXPECT_EQ(Verify(byDefault), 0);
}

TEST_F(Signing, OnlyAVerifiedManifestHasItsFilesCheckedOnDisk)
{
    const std::string dir = kctest::TmpDir() + "/files";
    mkdir(dir.c_str(), 0755);
    kctest::Write(dir + "/a.txt", "abc");
    kctest::Write(dir + "/b.txt", "second");
    std::string text;
    ASSERT_EQ(Sign({{dir + "/a.txt", "abc"}, {dir + "/b.txt", "second"}}, "signer.p12", "signpin", &text), 0);
    EXPECT_EQ(ManifestVerifyAndLoad(ctx.get(), text.data(), text.size(), nullptr, nullptr, nullptr, 0), 0);
    kctest::Write(dir + "/b.txt", "changed");
    EXPECT_EQ(ManifestVerifyAndLoad(ctx.get(), text.data(), text.size(), nullptr, nullptr, nullptr, 0), SMF_EDIGEST);
    EXPECT_EQ(ManifestGetSeverity(ctx.get()), SMF_SEV_ERROR);
    // A changed text whose signature fails never reaches the files.
    std::string flipped = text;
    flipped[Split(text).first.size() - 3] ^= 1;
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    EXPECT_EQ(ManifestVerifyAndLoad(ctx.get(), flipped.data(), flipped.size(), nullptr, nullptr, nullptr, 0),
              SMF_ESIGNATURE);
    EXPECT_EQ(std::string(ManifestGetLastError(ctx.get())).find("Local File"), std::string::npos);
}

TEST_F(Signing, EveryListedFileIsAnsweredOnceWhileExtracting)
{
    std::string text;
    const Files files = {{"a.txt", "abc"}, {"b.txt", "bb"}, {"a.txt", "abc"}};
    ASSERT_EQ(Sign(files, "signer.p12", "signpin", &text), 0);
    // All files, in another order: complete.
    ASSERT_EQ(Verify(text), 0);
    EXPECT_EQ(Check(ctx.get(), "b.txt", "bb"), 0);
    EXPECT_EQ(Check(ctx.get(), "a.txt", "abc"), 0);
    EXPECT_EQ(Check(ctx.get(), "a.txt", "abc"), 0);
    EXPECT_EQ(ManifestCheckAllListed(ctx.get()), 0);
    // A file missing from what was checked.
    ASSERT_EQ(Verify(text), 0);
    EXPECT_EQ(Check(ctx.get(), "a.txt", "abc"), 0);
    EXPECT_EQ(Check(ctx.get(), "a.txt", "abc"), 0);
    EXPECT_EQ(ManifestCheckAllListed(ctx.get()), SMF_EBODY_NOT_EQUAL);
    EXPECT_NE(std::string(ManifestGetLastError(ctx.get())).find("1 of 3 listed files were not checked, first >b.txt<"),
              std::string::npos)
        << ManifestGetLastError(ctx.get());
    // A file more often than it is listed, and one not listed at all.
    ManifestInit(ctx.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256");
    ASSERT_EQ(Verify(text), 0);
    EXPECT_EQ(Check(ctx.get(), "b.txt", "bb"), 0);
    EXPECT_EQ(Check(ctx.get(), "b.txt", "bb"), SMF_EFILENOTFOUND);
    EXPECT_EQ(Check(ctx.get(), "c.txt", ""), SMF_EFILENOTFOUND);
    // A write-mode manifest has nothing to answer.
    Ctx w;
    ASSERT_EQ(ManifestInit(w.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
    ASSERT_EQ(Pack(w.get(), files), 0);
    EXPECT_EQ(ManifestCheckAllListed(w.get()), 0);
}

TEST_F(Signing, TextsAroundTheBuiltInBufferAndTheOutputBuffer)
{
    // Entry lines just below the built-in buffer: the signature block moves
    // the text to the heap while it is written.
    Files many;
    for (int i = 0; many.size() < 820; ++i)
        many.push_back({"file-" + std::to_string(i), std::to_string(i)});
    std::string text;
    ASSERT_EQ(Sign(many, "signer.p12", "signpin", &text), 0) << lastError;
    ASSERT_GT(text.size(), MANIFEST_BUILTIN_TEXT);
    ASSERT_LT(Split(text).first.size(), MANIFEST_BUILTIN_TEXT);
    EXPECT_EQ(Verify(text), 0) << ManifestGetLastError(ctx.get());
    EXPECT_NE(ctx->grownText, nullptr);
    EXPECT_EQ(ManifestGetFileCount(ctx.get()), 820u);
    EXPECT_EQ(Check(ctx.get(), "file-819", "819"), 0);
    // The text put into the context's own buffer is verified where it is
    // (the archive's manifest is then held once); a changed byte still fails.
    for (const bool changed : {false, true}) {
        char* own = ManifestTextBuffer(ctx.get(), text.size());
        ASSERT_NE(own, nullptr);
        std::memcpy(own, text.data(), text.size());
        // A digest digit of the first entry line.
        char& digit = own[text.find("\n\n") + 2];
        if (changed)
            digit = digit == '0' ? '1' : '0';
        EXPECT_EQ(ManifestVerify(ctx.get(), own, text.size(), nullptr, nullptr, nullptr, 0, 0, 1),
                  changed ? SMF_ESIGNATURE : SMF_OK)
            << ManifestGetLastError(ctx.get());
        EXPECT_EQ(ctx->contentStart, own);
        if (!changed) {
            EXPECT_EQ(Check(ctx.get(), "file-819", "819"), 0);
        }
    }

    // A manifest of no file still signs its header.
    Ctx empty;
    ASSERT_EQ(ManifestInit(empty.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
    uint64_t length = 0;
    ASSERT_EQ(ManifestSign(empty.get(), P("signer.p12").c_str(), "signpin", url.c_str(), nullptr, nullptr, &length), 0);
    EXPECT_EQ(length, ManifestGetContentLength(empty.get()));
    const std::string signedEmpty = Text(empty.get());
    EXPECT_EQ(Verify(signedEmpty), 0);
    EXPECT_EQ(ManifestGetFileCount(ctx.get()), 0u);
    // Signing a read-mode context changes nothing.
    EXPECT_EQ(ManifestSign(ctx.get(), nullptr, nullptr, url.c_str(), nullptr, nullptr, nullptr), SMF_EINTERNAL);
    EXPECT_EQ(Text(ctx.get()), signedEmpty);

    Ctx c;
    ASSERT_EQ(ManifestInit(c.get(), nullptr, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0);
    ASSERT_EQ(Pack(c.get(), kFiles), 0);
    char small[10];
    length = sizeof small;
    EXPECT_EQ(ManifestSign(c.get(), P("signer.p12").c_str(), "signpin", url.c_str(), nullptr, small, &length),
              SMF_EINVARG);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "Output buffer for manifest file too small");
    EXPECT_EQ(length, ManifestGetContentLength(c.get()));
}
