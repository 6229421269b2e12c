// Shared set-up of the crypto library's tests: short forms of the library's
// calls on the test PKI.
#pragma once

#include <gtest/gtest.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/ts.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "kovcrypto/ssfapi.h"
#include "tests/unit/kovcrypto/test_pki.h"

namespace kctest {

struct Octets {
    SsfOctetstring p = nullptr;
    uint32_t n = 0;
    ~Octets() { SsfDELSsfOctetstring(&p); }
    std::string str() const { return p != nullptr ? std::string(reinterpret_cast<char*>(p), n) : std::string(); }
};

// The library's last error text for the code.
inline std::string LastError(int rc)
{
    int code = 0;
    const char* t1 = nullptr;
    const char* t2 = nullptr;
    uint32_t n1 = 0;
    uint32_t n2 = 0;
    EXPECT_EQ(SsfSecTKLastErrorInfo(rc, &code, &t1, &n1, &t2, &n2), 0);
    return std::string(t1, n1) + " | " + std::string(t2, n2);
}

// Signs the data with the PSE; the signer's result goes to *result.
inline int Sign(const std::string& pse, const std::string& pin, const std::string& data, std::string* sig,
                int* result = nullptr, const std::string& md = "SHA256", const std::string& format = "PKCS7")
{
    SsfSigRcpInfo* e = nullptr;
    EXPECT_EQ(SsfNEWSigRcpSsfInfo("<implicit>", 10, nullptr, 0, pse.data(), L(pse), pin.data(), L(pin), 28, &e), 0);
    SsfSigRcpList* list = nullptr;
    EXPECT_EQ(SsfINSSigRcpSsfInfo(e, &list), 0);
    Octets out;
    const int rc = SsfSign(format.data(), L(format), md.data(), L(md), 1, 1, U(data), L(data), list, &out.p, &out.n);
    if (result != nullptr)
        *result = list->info->result;
    SsfDELSigRcpSsfInfoList(&list);
    *sig = out.str();
    return rc;
}

inline int Request(const std::string& sig, std::string* req, const std::string& md = "SHA256")
{
    Octets o;
    const int rc = SsfGetTimeStampReq("PKCS7", 5, md.data(), L(md), 1, U(sig), L(sig), &o.p, &o.n);
    *req = o.str();
    return rc;
}

// Without a PSE the authority is not judged, so that stamps verification
// must refuse can be made.
inline int Attach(const std::string& sig, const std::string& req, const std::string& reply, std::string* stamped,
                  std::string* authority = nullptr, const std::string& pse = "", const std::string& pin = "")
{
    Octets o;
    SsfSigRcpInfo* a = nullptr;
    const int rc = SsfAddTimeStampResp("PKCS7", 5, U(sig), L(sig), U(req), L(req), U(reply), L(reply),
                                       pse.empty() ? nullptr : pse.data(), L(pse), pin.empty() ? nullptr : pin.data(),
                                       L(pin), &o.p, &o.n, &a);
    if (authority != nullptr && a != nullptr)
        *authority = std::string(a->id, a->idLen);
    SsfDELSigRcpSsfInfo(&a);
    *stamped = o.str();
    return rc;
}

// A reply of an authority whose clock reads `when` (seconds since the epoch),
// made with the toolkit itself: `openssl ts` always stamps the current time.
inline std::string ReplyAt(const std::string& req, long when, const std::string& ca = "root",
                           const std::string& tsa = "oldtsa")
{
    FILE* fc = std::fopen(P(ca + "/" + tsa + ".pem").c_str(), "r");
    FILE* fk = std::fopen(P(ca + "/" + tsa + ".key").c_str(), "r");
    X509* cert = fc ? PEM_read_X509(fc, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY* key = fk ? PEM_read_PrivateKey(fk, nullptr, nullptr, nullptr) : nullptr;
    if (fc)
        std::fclose(fc);
    if (fk)
        std::fclose(fk);
    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    ASN1_OBJECT* policy = OBJ_txt2obj("1.2.3.4.1", 1);
    TS_RESP_CTX_set_signer_cert(ctx, cert);
    TS_RESP_CTX_set_signer_key(ctx, key);
    TS_RESP_CTX_set_def_policy(ctx, policy);
    TS_RESP_CTX_add_md(ctx, EVP_sha256());
    TS_RESP_CTX_set_time_cb(
        ctx,
        [](TS_RESP_CTX*, void* data, long* sec, long* usec) {
            *sec = *static_cast<long*>(data);
            *usec = 0;
            return 1;
        },
        &when);
    BIO* in = BIO_new_mem_buf(req.data(), static_cast<int>(req.size()));
    TS_RESP* resp = TS_RESP_create_response(ctx, in);
    unsigned char* der = nullptr;
    const int n = resp ? i2d_TS_RESP(resp, &der) : 0;
    std::string out = n > 0 ? std::string(reinterpret_cast<char*>(der), static_cast<std::size_t>(n)) : "";
    OPENSSL_free(der);
    TS_RESP_free(resp);
    BIO_free(in);
    ASN1_OBJECT_free(policy);
    TS_RESP_CTX_free(ctx);
    X509_free(cert);
    EVP_PKEY_free(key);
    return out;
}

// Request, reply of `openssl ts -reply` and attachment in one.
inline std::string Stamped(const std::string& sig, const std::string& options = "")
{
    std::string req, stamped;
    EXPECT_EQ(Request(sig, &req), 0);
    EXPECT_EQ(Attach(sig, req, OpensslReply(req, options), &stamped), 0);
    return stamped;
}

struct Verdict {
    int rc = -1;
    int signer = -1;
    int tsa = -1;
    int entries = 0;
    std::string signerId, tsaId, time, content, signerCert;
};

inline Verdict Verify(const std::string& sig, const std::string& data, const std::string& profile,
                      const std::string& pin = "", const std::string& format = "PKCS7-TSTAMP")
{
    Verdict v;
    SsfSigRcpList* list = nullptr;
    Octets content;
    v.rc = SsfVerify(format.data(), L(format), 1, U(sig), L(sig), U(data), L(data), profile.data(), L(profile),
                     pin.data(), L(pin), &list, &content.p, &content.n);
    v.content = content.str();
    for (SsfSigRcpList* n = list; n != nullptr; n = n->next, ++v.entries) {
        const SsfSigRcpInfo* e = n->info;
        if (v.entries == 0) {
            v.signer = e->result;
            v.signerId.assign(e->id, e->idLen);
            v.time.assign(e->time, e->timeLen);
            if (e->certificate)
                v.signerCert.assign(reinterpret_cast<char*>(e->certificate), e->certificateLen);
        } else {
            v.tsa = e->result;
            v.tsaId.assign(e->id, e->idLen);
        }
    }
    SsfDELSigRcpSsfInfoList(&list);
    return v;
}

}  // namespace kctest
