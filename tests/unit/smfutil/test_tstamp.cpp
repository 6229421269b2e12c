// Whole timestamp requests: the crypto library built beside the program
// makes the request for a signature that `openssl cms -sign` made, a loopback
// authority answers with `openssl ts -reply`, and the library merges the
// reply; the stamped signature must verify with a timestamp required.  A
// rejecting authority, a library without the timestamp functions and a
// missing URL end in the codes and messages the manifest reports.  Over
// HTTPS the authority sits behind `openssl s_server`, reached directly or
// through a CONNECT tunnel, with and without a client certificate.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "krn/snt/smfutil.h"
#include "tests/unit/smfutil/trace_capture.h"
#include "tests/unit/smfutil/tsa_fixture.h"

namespace {

using kctest::P;
using kctest::Shell;
using tsatest::Server;

class TsRequest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_EQ(SsfLoad(KOVCRYPTO_LIB, &ctx_, nullptr, nullptr, SSF_INTERFACE_VERSION), SSF_SUP_OK);
        ASSERT_EQ(Shell("cd '" + kctest::Pki() +
                        "' && printf 'manifest text' > mf && openssl cms -sign -binary "
                        "-in mf -signer root/signer.pem -inkey root/signer.key -outform DER -out mf.p7s"),
                  0);
        signature_ = kctest::Read(P("mf.p7s"));
        ASSERT_FALSE(signature_.empty());
        // An authority that takes SHA-512 imprints only rejects ours.
        std::string config = kctest::Read(P("ts.cnf"));
        const size_t at = config.find("digests = ");
        ASSERT_NE(at, std::string::npos);
        config.replace(at, config.find('\n', at) - at, "digests = sha512");
        kctest::Write(P("ts-reject.cnf"), config);
    }
    static void TearDownTestSuite() { SsfUnload(&ctx_); }

    struct Outcome {
        int rc;
        std::string stamped;
        std::string message;
    };
    static Outcome Run(const std::string& url, SsfFuncContext* ctx = &ctx_, const char* proxy = nullptr)
    {
        SmfUtilTimestampRequestRec* r = SmfUtilCreateTimestampRequest();
        EXPECT_NE(r, nullptr);
        r->crypto = ctx;
        r->signature = kctest::U(signature_);
        r->signatureLength = kctest::L(signature_);
        r->format = "PKCS7";
        r->digestAlgorithm = "SHA256";
        // The signer's key store judges the authority too.
        const std::string pse = P("signer.p12");
        r->pse = pse.c_str();
        r->psePassword = "signpin";
        r->tsaUrl = url.empty() ? nullptr : url.c_str();
        r->proxyUrl = proxy;
        Outcome o;
        o.rc = SmfUtilTimestampRequest(r);
        EXPECT_EQ(o.rc, r->result->result);
        if (r->stamped)
            o.stamped.assign(reinterpret_cast<char*>(r->stamped), r->stampedLength);
        o.message = r->result->message ? r->result->message : "";
        SmfUtilFreeTimestampRequest(r);
        return o;
    }
    // The library's verification with a timestamp required: 0 and both
    // entries (signer, authority) without fault.
    static int VerifyStamped(const std::string& stamped)
    {
        const std::string data = kctest::Read(P("mf"));
        const std::string trust = P("trust.p12");
        SsfSigRcpList* list = nullptr;
        const int rc = SsfLibVerify(&ctx_, "PKCS7-TSTAMP", 12, 1, kctest::U(stamped), kctest::L(stamped),
                                    kctest::U(data), kctest::L(data), trust.c_str(), kctest::L(trust), "", 0, &list,
                                    nullptr, nullptr);
        SsfLibDELSigRcpSsfInfoList(&ctx_, &list);
        return rc;
    }

    static SsfFuncContext ctx_;
    static std::string signature_;
};

SsfFuncContext TsRequest::ctx_{};
std::string TsRequest::signature_;

TEST_F(TsRequest, StampedSignatureVerifiesWithATimestampRequired)
{
    EXPECT_NE(VerifyStamped(signature_), 0);  // no timestamp yet
    Server tsa({"tsa", "--ts-config", P("ts.cnf")});
    Server proxy({"proxy"});
    TraceCapture trace(3);
    const std::string proxyUrl = "http://127.0.0.1:" + proxy.Port();
    for (const char* via : {static_cast<const char*>(nullptr), proxyUrl.c_str()}) {
        const Outcome o = Run("http://127.0.0.1:" + tsa.Port() + "/tsa", &ctx_, via);
        ASSERT_EQ(o.rc, 0) << o.message;
        EXPECT_GT(o.stamped.size(), signature_.size());
        EXPECT_EQ(VerifyStamped(o.stamped), 0);
        EXPECT_EQ(o.message, "");
    }
    const std::string t = trace.Text();
    EXPECT_NE(t.find("Timestamp signer info: RcpId = \"CN=KOV Test TSA"), std::string::npos) << t;
    EXPECT_EQ(t.find("signpin"), std::string::npos);
    EXPECT_NE(t.find("Signature PSE Password  : <Present>"), std::string::npos);
}

TEST_F(TsRequest, RejectionsAndMissingPiecesEndInTheirCodes)
{
    Server rejecting({"tsa", "--ts-config", P("ts-reject.cnf")});
    const Outcome rejected = Run("http://127.0.0.1:" + rejecting.Port() + "/");
    EXPECT_EQ(rejected.rc, 12);
    EXPECT_NE(rejected.message.find("SsfLibAddTimeStampResp() == 327"), std::string::npos) << rejected.message;
    EXPECT_NE(rejected.message.find("SSF_API_WRONG_TSTAMP_RESP"), std::string::npos) << rejected.message;
    EXPECT_TRUE(rejected.stamped.empty());

    const Outcome noUrl = Run("");
    EXPECT_EQ(noUrl.rc, 2);
    EXPECT_NE(noUrl.message.find("URL for host not given"), std::string::npos);

    // A context without the timestamp functions (nothing loaded).
    SsfFuncContext empty{};
    const Outcome noFunction = Run("http://127.0.0.1:1/", &empty);
    EXPECT_EQ(noFunction.rc, 12);
    EXPECT_EQ(noFunction.message, "KOVCRYPTOLIB does not contain function \"SsfGetTimeStampReq()\"");
}

// Runs in a directory of its own, which holds the default client PSE
// "./KOVSSL.pse" when the test puts one there.
class TsRequestHttps : public TsRequest {
protected:
    void SetUp() override
    {
        dir_ = kctest::TmpDir() + "/https";
        ASSERT_EQ(Shell("rm -rf '" + dir_ + "' && mkdir -p '" + dir_ + "'"), 0);
        ASSERT_NE(getcwd(old_, sizeof old_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        unsetenv("KOVMANIFEST_SSL_PSE");
    }
    void TearDown() override
    {
        unsetenv("KOVMANIFEST_SSL_PSE");
        EXPECT_EQ(chdir(old_), 0);
    }
    static Server Tsa(bool clientCert = false)
    {
        std::vector<std::string> args = {"https", "--ts-config",       P("ts.cnf"), "--cert", P("root/server.pem"),
                                         "--key", P("root/server.key")};
        if (clientCert) {
            args.push_back("--client-ca");
            args.push_back(P("root/ca.pem"));
        }
        return Server(args);
    }
    std::string dir_;
    char old_[4096];
};

TEST_F(TsRequestHttps, DirectlyAndThroughATunnel)
{
    ASSERT_EQ(Shell("cp '" + P("trust.p12") + "' KOVSSL.pse"), 0);
    {
        Server tsa = Tsa();
        const Outcome o = Run("https://127.0.0.1:" + tsa.Port() + "/tsa");
        ASSERT_EQ(o.rc, 0) << o.message;
        EXPECT_EQ(VerifyStamped(o.stamped), 0);
        EXPECT_EQ(tsa.File("request-1").substr(0, 45), "POST /tsa HTTP/1.0\r\nUser-Agent: KOV\r\nAccept-E");
    }
    {
        Server tsa = Tsa();
        Server proxy({"proxy"});
        const std::string proxyUrl = "http://127.0.0.1:" + proxy.Port();
        const Outcome o = Run("https://localhost:" + tsa.Port() + "/", &ctx_, proxyUrl.c_str());
        ASSERT_EQ(o.rc, 0) << o.message;
        EXPECT_EQ(VerifyStamped(o.stamped), 0);
        EXPECT_EQ(proxy.File("proxy-1"), "CONNECT localhost:" + tsa.Port() + " HTTP/1.0");
    }
    {
        // The client PSE named by the environment presents its certificate
        // and wants the server's name checked.
        setenv("KOVMANIFEST_SSL_PSE", "KOVvalidation", 1);
        Server tsa = Tsa(true);
        const Outcome o = Run("https://localhost:" + tsa.Port() + "/");
        ASSERT_EQ(o.rc, 0) << o.message;
        EXPECT_EQ(VerifyStamped(o.stamped), 0);
    }
}

TEST_F(TsRequestHttps, UntrustedServersAndMissingCredentials)
{
    {
        Server tsa = Tsa();
        const Outcome o = Run("https://localhost:" + tsa.Port() + "/");
        EXPECT_EQ(o.rc, 9);
        EXPECT_NE(o.message.find("KovSSLInit() == -5 (SSSLERR_PSE_ERROR)"), std::string::npos) << o.message;
    }
    ASSERT_EQ(Shell("openssl pkcs12 -export -nokeys -in '" + P("other/ca.pem") + "' -passout pass: -out KOVSSL.pse"),
              0);
    {
        Server tsa = Tsa();
        const Outcome o = Run("https://localhost:" + tsa.Port() + "/");
        EXPECT_EQ(o.rc, 9);
        EXPECT_NE(o.message.find("KovSSLSessionStart() == -12 (SSSLERR_SERVER_CERT)"), std::string::npos) << o.message;
    }
}

}  // namespace
