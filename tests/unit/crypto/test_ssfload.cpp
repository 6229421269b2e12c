// The crypto-library loader against the real library and its test variants
// (one without SsfGetTimeStampReq, one of an old patch level, one without a
// version record), and the whole signing road through the wrappers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "crypto/ssfload.h"
#include "crypto/ssfversiontext.h"
#include "tests/unit/kovcrypto/test_pki.h"
#include "trace/dptrc.h"

using namespace kctest;

namespace {

std::vector<std::string> g_info;
std::vector<std::string> g_errors;
void InfoSink(const char* text)
{
    g_info.emplace_back(text);
}
void ErrorSink(const char* text)
{
    g_errors.emplace_back(text);
}

struct Loaded {
    SsfFuncContext ctx{};
    int rc;
    explicit Loaded(const char* path, uint32_t version = SSF_INTERFACE_VERSION)
    {
        g_info.clear();
        g_errors.clear();
        rc = SsfLoad(path, &ctx, ErrorSink, InfoSink, version);
    }
    ~Loaded() { SsfUnload(&ctx); }
};

int PresentCount(const SsfFuncContext& ctx, int from, int to)
{
    int n = 0;
    for (int i = from; i <= to; ++i)
        n += ctx.present[i];
    return n;
}

// Owner of a buffer handed out by the loader.
struct Text {
    char* p = nullptr;
    uint32_t n = 0;
    ~Text() { std::free(p); }
    std::string str() const { return p != nullptr ? std::string(p, n) : std::string(); }
};

}  // namespace

TEST(SsfLoad, ResolvesTheTableAndReadsTheVersionRecord)
{
    Loaded lib(KOVCRYPTO_LIB);
    ASSERT_EQ(lib.rc, SSF_SUP_OK) << SsfSupRcName(lib.rc);
    EXPECT_TRUE(g_errors.empty());
    ASSERT_EQ(g_info.size(), 55u);
    EXPECT_EQ(g_info[0], std::string("\n===...SSF library ") + KOVCRYPTO_LIB + " loaded successfully.\n");
    EXPECT_EQ(g_info[1], "===...SsfVersion loaded successfully.\n");
    EXPECT_EQ(PresentCount(lib.ctx, 0, 41) + PresentCount(lib.ctx, 46, 57), 54);
    EXPECT_EQ(PresentCount(lib.ctx, 42, 45), 0);
    EXPECT_EQ(lib.ctx.slot[42], nullptr);

    g_info.clear();
    EXPECT_EQ(SsfLoad(KOVCRYPTO_LIB, &lib.ctx, ErrorSink, InfoSink, SSF_INTERFACE_VERSION), SSF_SUP_ALREADYLOADED);
    EXPECT_TRUE(g_info.empty());

    ASSERT_EQ(SsfSupGetVersionRecord(&lib.ctx), 1);
    uint32_t version = 0;
    uint32_t level = 0;
    EXPECT_EQ(SsfSupGetLibVersion(&lib.ctx, &version, &level), 0);
    EXPECT_EQ(version, 80501u);
    EXPECT_EQ(level, 35u);
    char buf[64];
    uint32_t cap = sizeof buf;
    ASSERT_EQ(SsfSupGetVersion(&lib.ctx, buf, &cap), 0);
    EXPECT_EQ(std::string(buf, cap).rfind("8.5.1 openssl-3.", 0), 0u) << buf;
    EXPECT_EQ(buf[cap - 1], ' ');
    cap = 10;
    EXPECT_EQ(SsfSupGetVersion(&lib.ctx, buf, &cap), 1);
    Text t;
    ASSERT_EQ(SsfSupGetLibraryVersionText(&lib.ctx, &t.p, &t.n), 0);
    EXPECT_EQ(t.str().rfind("KOVCRYPTOLIB 8.5.1 patch level 35 on OpenSSL 3.", 0), 0u) << t.str();
    Text v;
    ASSERT_EQ(SsfLibVersion(&lib.ctx, &v.p, &v.n), 0);
    EXPECT_EQ(v.str().rfind("KOVCRYPTOLIB Version 8.5.1 ", 0), 0u) << v.str();

    SsfUnload(&lib.ctx);
    EXPECT_EQ(lib.ctx.loaded, 0);
    EXPECT_EQ(lib.ctx.hdl, DL_NO_HDL);
    EXPECT_EQ(PresentCount(lib.ctx, 0, 57), 0);
    EXPECT_EQ(lib.ctx.slot[SSF_SLOT_SIGN], nullptr);
    EXPECT_EQ(SsfLibSign(&lib.ctx, "PKCS7", 5, "", 0, 1, 1, nullptr, 0, nullptr, nullptr, nullptr),
              SSF_API_SECTK_FUNCTION_NOT_AVAIL);
}

TEST(SsfLoad, VariantsVersionsAndHandles)
{
    {
        Loaded lib(KOVCRYPTO_NOTSREQ);
        EXPECT_EQ(lib.rc, SSF_SUP_NOTALLFUNCTIONS);
        EXPECT_TRUE(g_errors.empty());
        EXPECT_EQ(lib.ctx.present[SSF_FLAG_GETTIMESTAMPREQ], 0);
        EXPECT_EQ(lib.ctx.present[SSF_FLAG_ADDTIMESTAMPRESP], 1);
        EXPECT_NE(std::find(g_info.begin(), g_info.end(),
                            "===... could not load function SsfGetTimeStampReq from SSF library.\n"),
                  g_info.end());
        SsfOctetstring req = nullptr;
        uint32_t reqLen = 0;
        EXPECT_EQ(SsfLibGetTimeStampReq(&lib.ctx, "PKCS7", 5, "SHA256", 6, 1, nullptr, 0, &req, &reqLen),
                  SSF_API_SECTK_FUNCTION_NOT_AVAIL);
        EXPECT_EQ(SsfLibGetTimeStampReq(nullptr, "PKCS7", 5, "SHA256", 6, 1, nullptr, 0, &req, &reqLen),
                  SSF_API_NOSECTK);
    }
    {
        Loaded lib(KOVCRYPTO_OLDPATCH);
        uint32_t level = 0;
        EXPECT_EQ(SsfSupGetLibVersion(&lib.ctx, nullptr, &level), 0);
        EXPECT_EQ(level, 34u);
    }
    {
        // The record of the library unloaded before is forgotten.
        Loaded lib(KOVCRYPTO_NOVERSION);
        EXPECT_EQ(lib.rc, SSF_SUP_OK);
        EXPECT_EQ(SsfSupGetVersionRecord(&lib.ctx), 0);
        uint32_t version = 7;
        uint32_t level = 7;
        EXPECT_EQ(SsfSupGetLibVersion(&lib.ctx, &version, &level), 0);
        EXPECT_EQ(version, 7u);  // our version text is not of the older form
        EXPECT_EQ(level, 7u);
        EXPECT_EQ(SsfSupGetLibVersion(&lib.ctx, nullptr, nullptr), SSF_API_INVALID_FUNCARGS);
        Text t;
        ASSERT_EQ(SsfSupGetLibraryVersionText(&lib.ctx, &t.p, &t.n), 0);
        EXPECT_EQ(t.str().rfind("KOVCRYPTOLIB Version 8.5.1 ", 0), 0u);
        EXPECT_EQ(SsfSupGetLibraryVersionText(&lib.ctx, nullptr, nullptr), SSF_API_INVALID_FUNCARGS);
    }
    {
        Loaded lib(KOVCRYPTO_LIB, 0x102);
        EXPECT_EQ(lib.rc, SSF_SUP_OK);
        EXPECT_EQ(PresentCount(lib.ctx, 0, 37), 38);
        EXPECT_EQ(PresentCount(lib.ctx, 38, 57), 0);
    }
    {
        SsfFuncContext ctx{};
        EXPECT_EQ(SsfLoadV1(KOVCRYPTO_LIB, &ctx, nullptr, nullptr), SSF_SUP_OK);
        EXPECT_EQ(PresentCount(ctx, 0, 14), 15);
        EXPECT_EQ(PresentCount(ctx, 15, 57), 0);
        SsfUnload(&ctx);
    }
    {
        Loaded lib("/nonexistent/libkovcrypto.so");
        EXPECT_EQ(lib.rc, SSF_SUP_NOLIB);
        ASSERT_EQ(g_errors.size(), 1u);
        EXPECT_EQ(g_errors[0], "\n===...could not load SSF library /nonexistent/libkovcrypto.so .\n\n");
        EXPECT_EQ(lib.ctx.loaded, 0);
    }
    {
        // A path that would end the report's line and start one of its own
        // (and send control sequences to a terminal) is quoted as shown.
        Loaded lib("/nonexistent/x\x1b]0;T\x07\n===...SSF library forged.so");
        EXPECT_EQ(lib.rc, SSF_SUP_NOLIB);
        ASSERT_EQ(g_errors.size(), 1u);
        EXPECT_EQ(g_errors[0], "\n===...could not load SSF library /nonexistent/x\\x1b]0;T\\x07\\x0a===...SSF library "
                               "forged.so .\n\n");
    }
    {
        DL_HDL hdl = DL_NO_HDL;
        ASSERT_EQ(DlLoadLib(KOVCRYPTO_LIB, &hdl), DL_OK);
        SsfFuncContext ctx{};
        g_info.clear();
        EXPECT_EQ(SsfLoadWithHandle(hdl, "mine", &ctx, ErrorSink, InfoSink, SSF_INTERFACE_VERSION), SSF_SUP_OK);
        EXPECT_EQ(g_info[0], "\n===...caller-supplied DL_HDL for SSF Library (mine).\n");
        EXPECT_EQ(ctx.hdl, hdl);
        SsfUnload(&ctx);
        EXPECT_EQ(DlUnloadLib(&hdl), DLEINVAL);  // the context unloaded it
    }
    EXPECT_EQ(SsfLoad(KOVCRYPTO_LIB, nullptr, nullptr, nullptr, SSF_INTERFACE_VERSION), SSF_SUP_NOLIB);
    EXPECT_STREQ(SsfSupRcName(5), "SSF_SUP_NOTALLFUNCTIONS");
    EXPECT_STREQ(SsfSupRcName(7), "<unknown SUP RC>");
}

TEST(SsfLoad, SignTimestampVerifyAndRevocationThroughTheWrappers)
{
    const std::string pse = P("signer.p12");
    Loaded lib(KOVCRYPTO_LIB);
    ASSERT_EQ(lib.rc, SSF_SUP_OK);
    SsfFuncContext* ctx = &lib.ctx;
    ctx->copySignerId = 1;

    const std::string data = "manifest text\r\nwith both line ends\n";
    SsfSigRcpInfo* entry = nullptr;
    SsfSigRcpList* signers = nullptr;
    ASSERT_EQ(SsfLibNEWSigRcpSsfInfo(ctx, "<implicit>", 10, nullptr, 0, pse.data(), L(pse), "signpin", 7, 28, &entry),
              0);
    ASSERT_EQ(SsfLibINSSigRcpSsfInfo(ctx, entry, &signers), 0);
    SsfOctetstring encoded = nullptr;
    uint32_t encodedLen = 0;
    ASSERT_EQ(SsfLibEncode(ctx, "PKCS7", 5, U(data), L(data), &encoded, &encodedLen), 0);
    SsfOctetstring sig = nullptr;
    uint32_t sigLen = 0;
    ASSERT_EQ(SsfLibSign(ctx, "PKCS7", 5, "SHA256", 6, 1, 1, encoded, encodedLen, signers, &sig, &sigLen), 0);
    EXPECT_EQ(signers->info->result, 0);
    SsfLibDELSigRcpSsfInfoList(ctx, &signers);
    EXPECT_EQ(signers, nullptr);

    SsfOctetstring req = nullptr;
    uint32_t reqLen = 0;
    ASSERT_EQ(SsfLibGetTimeStampReq(ctx, "PKCS7", 5, "SHA256", 6, 1, sig, sigLen, &req, &reqLen), 0);
    const std::string reply = OpensslReply(std::string(reinterpret_cast<char*>(req), reqLen));
    SsfOctetstring stamped = nullptr;
    uint32_t stampedLen = 0;
    SsfSigRcpInfo* authority = nullptr;
    ASSERT_EQ(SsfLibAddTimeStampResp(ctx, "PKCS7", 5, sig, sigLen, req, reqLen, U(reply), L(reply), pse.data(), L(pse),
                                     "signpin", 7, &stamped, &stampedLen, &authority),
              0);
    EXPECT_EQ(std::string(authority->id, authority->idLen), "CN=KOV Test TSA, O=KOV Test, C=DE");
    SsfLibDELSigRcpSsfInfo(ctx, &authority);

    SsfSigRcpList* result = nullptr;
    SsfOctetstring content = nullptr;
    uint32_t contentLen = 0;
    ASSERT_EQ(SsfLibVerify(ctx, "PKCS7-TSTAMP", 12, 1, stamped, stampedLen, encoded, encodedLen, "KOVverify", 9,
                           nullptr, 0, &result, &content, &contentLen),
              0);
    ASSERT_NE(result, nullptr);
    ASSERT_NE(result->next, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(content), contentLen), data);

    SsfCertificate* cert = nullptr;
    ASSERT_EQ(SsfLibCertfromASN1(ctx, result->info->certificate, result->info->certificateLen, &cert), 0);
    SsfOctetstring issuer = nullptr;
    uint32_t issuerLen = 0;
    ASSERT_EQ(SsfLibParseCertificate(ctx, cert, "ISSUER", 6, &issuer, &issuerLen), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(issuer), issuerLen), "CN=KOV Test Root, O=KOV Test, C=DE");
    const std::string crl = Read(P("crl_current.pem"));
    SsfCrl** crls = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(SsfLibDecodeCrlArray(ctx, U(crl), L(crl), &crls, &count), 0);
    uint32_t reason = 0;
    SsfSigRcpInfo* check = nullptr;
    EXPECT_EQ(SsfLibCheckCertWithCrlArray(ctx, cert, crls, count, 1, "KOVverify", 9, nullptr, 0, result->info->time,
                                          result->info->timeLen, &reason, &check),
              0);
    EXPECT_EQ(reason, SSF_REVOCATION_REASON_NONE);
    SsfLibDELSigRcpSsfInfo(ctx, &check);
    SsfLibFreeCrlArray(ctx, &crls, count);
    SsfLibFreeCertificate(ctx, &cert);
    EXPECT_EQ(cert, nullptr);
    for (SsfOctetstring* o : {&issuer, &content, &stamped, &req, &sig, &encoded})
        SsfLibDELSsfOctetstring(ctx, o);
    SsfLibDELSigRcpSsfInfoList(ctx, &result);

    // A wrong PIN: the signer's code leads to the library's text, which never
    // holds the PIN.
    const std::string longId(600, 'i');
    ASSERT_EQ(SsfLibNEWSigRcpSsfInfo(ctx, longId.data(), L(longId), nullptr, 0, pse.data(), L(pse), "Secret-4711", 11,
                                     28, &entry),
              0);
    EXPECT_EQ(entry->idLen, 514u);
    ASSERT_EQ(SsfLibINSSigRcpSsfInfo(ctx, entry, &signers), 0);
    EXPECT_EQ(SsfLibSign(ctx, "PKCS7", 5, "SHA256", 6, 1, 1, U(data), L(data), signers, &sig, &sigLen),
              SSF_API_SIGNER_ERRORS);
    const int signerRc = signers->info->result;
    SsfLibDELSigRcpSsfInfoList(ctx, &signers);
    EXPECT_EQ(signerRc, SSF_API_INVALID_PASSWORD);
    int code = -1;
    Text t1, t2;
    ASSERT_EQ(SsfSupLastErrorInfo(ctx, signerRc, &code, &t1.p, &t1.n, &t2.p, &t2.n), 0);
    EXPECT_NE(t1.str().find("wrong PIN"), std::string::npos) << t1.str();
    EXPECT_EQ((t1.str() + t2.str()).find("Secret-4711"), std::string::npos);
    Text t3, t4;
    ASSERT_EQ(SsfSupLastErrorInfo(nullptr, SSF_API_SECTK_FUNCTION_NOT_AVAIL, &code, &t3.p, &t3.n, &t4.p, &t4.n), 0);
    EXPECT_EQ(t3.p, nullptr);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(SsfSupLastErrorInfo(nullptr, SSF_API_SIGNER_NOT_OK, &code, &t3.p, &t3.n, &t4.p, &t4.n), 1);
}

TEST(SsfLoad, EveryWrapperRefusesANullContextAndAnEmptySlot)
{
    SsfFuncContext empty{};
    for (SsfFuncContext* ctx : {static_cast<SsfFuncContext*>(nullptr), &empty}) {
        const int expected = ctx == nullptr ? SSF_API_NOSECTK : SSF_API_SECTK_FUNCTION_NOT_AVAIL;
        char* text = nullptr;
        uint32_t n = 0;
        SsfOctetstring o = nullptr;
        SsfSigRcpInfo* e = nullptr;
        SsfSigRcpList* l = nullptr;
        SsfCertificate* c = nullptr;
        SsfCrl** crls = nullptr;
        SsfProfile* prof = nullptr;
        const int rcs[] = {
            SsfLibVersion(ctx, &text, &n),
            SsfLibQueryProperties(ctx, "FIPS_140_2", 10, &text, &n),
            SsfLibSign(ctx, "PKCS7", 5, "", 0, 1, 1, nullptr, 0, nullptr, &o, &n),
            SsfLibVerify(ctx, "PKCS7", 5, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, &l, &o, &n),
            SsfLibEnvelope(ctx, "PKCS7", 5, nullptr, 0, nullptr, &o, &n),
            SsfLibDevelope(ctx, "PKCS7", 5, nullptr, 0, nullptr, &o, &n),
            SsfLibEncode(ctx, "PKCS7", 5, nullptr, 0, &o, &n),
            SsfLibDecode(ctx, "PKCS7", 5, nullptr, 0, &o, &n),
            SsfLibAddSign(ctx, "PKCS7", 5, "", 0, nullptr, 0, nullptr, 0, nullptr, &o, &n),
            SsfLibDigest(ctx, "", 0, nullptr, 0, &o, &n),
            SsfLibNEWSigRcpSsfInfo(ctx, "x", 1, nullptr, 0, nullptr, 0, nullptr, 0, 28, &e),
            SsfLibINSSigRcpSsfInfo(ctx, e, &l),
            SsfLibOpenProfile(ctx, "p", 1, nullptr, 0, &prof),
            SsfLibCloseProfile(ctx, &prof),
            SsfLibCreateProfile(ctx, "p", 1, nullptr, 0, nullptr, 0),
            SsfLibCertfromASN1(ctx, nullptr, 0, &c),
            SsfLibParseCertificate(ctx, c, "ISSUER", 6, &o, &n),
            SsfLibDecodeCrlArray(ctx, nullptr, 0, &crls, &n),
            SsfLibVerifyCRL(ctx, nullptr, nullptr, 0, nullptr, 0),
            SsfLibGetTimeStampReq(ctx, "PKCS7", 5, "", 0, 1, nullptr, 0, &o, &n),
            SsfLibAddTimeStampResp(ctx, "PKCS7", 5, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, &o, &n,
                                   &e),
            SsfLibCheckCertWithCrlArray(ctx, c, crls, 0, 1, nullptr, 0, nullptr, 0, nullptr, 0, &n, &e),
        };
        for (std::size_t i = 0; i < sizeof rcs / sizeof rcs[0]; ++i)
            EXPECT_EQ(rcs[i], expected) << "wrapper " << i;
        const int exRcs[] = {
            SsfLibSignEx(ctx, "PKCS7", 5, "", 0, 1, 1, nullptr, 0, nullptr, &o, &n, 0),
            SsfLibVerifyEx(ctx, "PKCS7", 5, 1, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, &l, &o, &n, 0),
            SsfLibEnvelopeEx(ctx, "PKCS7", 5, nullptr, 0, nullptr, &o, &n, 0),
            SsfLibDevelopeEx(ctx, "PKCS7", 5, nullptr, 0, nullptr, &o, &n, 0),
        };
        for (int rc : exRcs)
            EXPECT_EQ(rc, SSF_API_SECTK_FUNCTION_NOT_AVAIL);
        SsfLibDELSsfOctetstring(ctx, &o);
        SsfLibDELSigRcpSsfInfo(ctx, &e);
        SsfLibDELSigRcpSsfInfoList(ctx, &l);
        SsfLibFreeCertificate(ctx, &c);
        SsfLibFreeCrlArray(ctx, &crls, 0);
        uint32_t version = 0;
        EXPECT_EQ(SsfSupGetLibVersion(ctx, &version, nullptr), SSF_API_NOSECTK);
        EXPECT_EQ(SsfSupGetVersionRecord(ctx), 0);
        char buf[64];
        uint32_t cap = sizeof buf;
        EXPECT_EQ(SsfSupGetVersion(ctx, buf, &cap), 1);
        EXPECT_EQ(SsfSupGetLibraryVersionText(ctx, &text, &n), 1);
        SsfUnload(ctx);
    }
}

TEST(SsfLoad, CodeNames)
{
    EXPECT_STREQ(SsfErrorName(0), "SSF_API_OK");
    EXPECT_STREQ(SsfErrorName(337), "SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY");
    EXPECT_STREQ(SsfErrorDescription(336), "RFC3161 TimeStamp genTime is not \"fresh\" -- clock skew?");
    EXPECT_STREQ(SsfErrorDescription(16), "Security toolkit does not contain or provide requested API-function");
    EXPECT_STREQ(SsfErrorName(1000), "Unknown SSF-RC 0x000003e8");
    EXPECT_STREQ(SsfErrorDescription(14), "Unknown SSF-RC 0x0000000e");
    EXPECT_STREQ(SsfErrorName(-1), "Unknown SSF-RC 0xffffffff");
}

TEST(SsfLoad, VersionTextsOfTheOlderForm)
{
    EXPECT_EQ(ssfsup::RewriteVersionText("TELMIR toolkit for KOVTELMIRLIB Version 1.555.35 (build 7)"),
              "KOVTELMIRLIB Version 1.555.35");
    for (const char* same : {"TELMIR toolkit for KOVTELMIRLIB Version 1.555.35", "short TELMIR KOVTELMIRLIB",
                             "a plain text of more than thirty-one characters Version 1.2 x"})
        EXPECT_EQ(ssfsup::RewriteVersionText(same), same);

    const struct {
        const char* text;
        uint32_t version, level;
    } cases[] = {
        {"KOVTELMIRLIB TELMIR Version 1.555.35 (patch)", 555, 35},
        {"KOVTELMIRLIB TELMIR Version 1.555.35", 555, 0},  // no blank after the level
        {"KOVTELMIRLIB TELMIR Version 1.x.35 and more text", 0, 0},
        {"KOVTELMIRLIB TELMIR Version 1.9999999999.1 more", 0, 0},  // too many digits
        {"TELMIR Version 1.555.35 without the library name", 0, 0},
    };
    for (const auto& c : cases) {
        uint32_t version = 0;
        uint32_t level = 0;
        ssfsup::ParseVersionText(c.text, &version, &level);
        EXPECT_EQ(version, c.version) << c.text;
        EXPECT_EQ(level, c.level) << c.text;
    }
}

TEST(SsfLoad, DiagnosticHelpers)
{
    const std::string trace = TmpDir() + "/dump.trc";
    Shell("mkdir -p " + TmpDir());
    FILE* f = std::fopen(trace.c_str(), "w");
    ASSERT_NE(f, nullptr);
    DpTrcHdl oldTf = tf;
    const int32_t oldLevel = ct_level;
    tf = f;
    ct_level = 2;
    SsfSupTraceHexDump("0123456789ABCDEF\x01\x02xy", 20);
    SsfSigRcpInfo info{};
    info.id = const_cast<char*>("CN=Someone");
    info.idLen = 10;
    info.result = SSF_API_UNKNOWN_SIGNER;
    // The profile is the caller's key store path: shown on its line.
    info.profile = const_cast<char*>("k\n1. forged.p12");
    info.profileLen = 15;
    SsfSigRcpList list{&info, nullptr};
    SsfSupTraceSigRcpList(&list);
    ct_level = 1;
    SsfSupTraceHexDump("hidden", 6);
    tf = oldTf;
    ct_level = oldLevel;
    std::fclose(f);
    const std::string out = Read(trace);
    EXPECT_NE(out.find("00000000  30 31 32 33 34 35 36 37 38 39 41 42 43 44 45 46  0123456789ABCDEF\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("00000010  01 02 78 79" + std::string(36, ' ') + "  ..xy\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\n1. Signer/Recipient Security Information :\nId     : CN=Someone (10)\n"), std::string::npos);
    EXPECT_NE(out.find("Result : SSF_API_UNKNOWN_SIGNER\n"), std::string::npos);
    EXPECT_NE(out.find("Profile: k\\x0a1. forged.p12 (15)\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("hidden"), std::string::npos);

    const std::string file = TmpDir() + "/pairs.txt";
    Write(file, "* comment = no\n\n  key = value  \nk2=v=x\r\n" + std::string(300, 'a') + "=long\nnoequals\nlast= 1");
    std::vector<std::pair<std::string, std::string>> pairs;
    ASSERT_EQ(SsfSupReadNameValueFile(
                  file.c_str(),
                  [](const char* name, const char* value, void* p) {
                      static_cast<decltype(pairs)*>(p)->emplace_back(name, value);
                  },
                  &pairs),
              0);
    const decltype(pairs) expected = {{"KEY", "value"}, {"K2", "v=x"}, {"LAST", "1"}};
    EXPECT_EQ(pairs, expected);
    EXPECT_EQ(SsfSupReadNameValueFile("/nonexistent/file", nullptr, nullptr), -1);
}
