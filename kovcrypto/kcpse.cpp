// Key stores (PSE): PKCS#12 files found by name or path and opened with
// their PIN, and the trust store their CA certificates make.
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/x509_vfy.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kovcrypto/kcinternal.h"

namespace kc {

namespace {

// A PKCS#12 file is a few kilobytes; anything far larger is not one.
constexpr long kMaxPseBytes = 4L << 20;

bool EndsWith(const std::string& s, const char* tail)
{
    const std::size_t n = std::strlen(tail);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[s.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

std::string PsePath(const std::string& name)
{
    if (name.find('/') != std::string::npos || EndsWith(name, ".pse") || EndsWith(name, ".p12"))
        return name;
    const char* dir = std::getenv("TELMIRDIR");
    std::string path = dir != nullptr && *dir != '\0' ? dir : ".";
    if (path.back() != '/')
        path += '/';
    return path + name + ".pse";
}

// Reads the whole file; rc 0, 23 (cannot be opened) or 24 (too large, unreadable).
int ReadPseFile(const std::string& path, std::vector<unsigned char>* bytes)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        const int e = errno;
        return Fail(SSF_API_UNKNOWN_PROFILE, "PSE \"%s\" cannot be opened: %s", path.c_str(), std::strerror(e));
    }
    unsigned char buf[16384];
    std::size_t n;
    int rc = SSF_API_OK;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        if (bytes->size() + n > static_cast<std::size_t>(kMaxPseBytes)) {
            rc = Fail(SSF_API_INVALID_PROFILE, "PSE \"%s\" is too large to be a key store", path.c_str());
            break;
        }
        bytes->insert(bytes->end(), buf, buf + n);
    }
    if (rc == SSF_API_OK && std::ferror(f))
        rc = Fail(SSF_API_INVALID_PROFILE, "PSE \"%s\" cannot be read", path.c_str());
    std::fclose(f);
    return rc;
}

void FreePkcs12(PKCS12* p)
{
    PKCS12_free(p);
}

}  // namespace

int OpenPse(const char* name, uint32_t nameLen, const char* pin, uint32_t pinLen, bool needKey, Pse* pse)
{
    if (name == nullptr || nameLen == 0)
        return Fail(SSF_API_UNKNOWN_PROFILE, "no PSE named");
    if (pin == nullptr && pinLen != 0)
        return Fail(SSF_API_INVALID_FUNCARGS, "PIN pointer is NULL with a length");
    const std::string nameText(name, nameLen);
    if (nameText.find('\0') != std::string::npos)
        return Fail(SSF_API_UNKNOWN_PROFILE, "PSE name holds a NUL byte");
    const std::string path = PsePath(nameText);

    std::vector<unsigned char> bytes;
    int rc = ReadPseFile(path, &bytes);
    if (rc != SSF_API_OK)
        return rc;
    const unsigned char* p = bytes.data();
    Owned<PKCS12, FreePkcs12> p12(d2i_PKCS12(nullptr, &p, static_cast<long>(bytes.size())));
    if (!p12)
        return Fail(SSF_API_INVALID_PROFILE, "PSE \"%s\" is not a PKCS#12 file", path.c_str());

    // The PIN as a C string, wiped when done.  A PIN with a NUL byte cannot be right.
    std::vector<char> pass(pinLen + 1, '\0');
    if (pinLen != 0)
        std::memcpy(pass.data(), pin, pinLen);
    struct Wipe {
        std::vector<char>& v;
        ~Wipe() { OPENSSL_cleanse(v.data(), v.size()); }
    } wipe{pass};
    if (std::memchr(pass.data(), '\0', pinLen) != nullptr)
        return Fail(SSF_API_INVALID_PASSWORD, "wrong PIN for PSE \"%s\"", path.c_str());

    // An empty PIN opens a file made without a password, whichever way its
    // maker encoded "no password".
    const char* usePass = pass.data();
    if (PKCS12_mac_present(p12.get())) {
        if (PKCS12_verify_mac(p12.get(), usePass, -1) != 1) {
            if (pinLen == 0 && PKCS12_verify_mac(p12.get(), nullptr, 0) == 1)
                usePass = nullptr;
            else
                return Fail(SSF_API_INVALID_PASSWORD, "wrong PIN for PSE \"%s\"", path.c_str());
        }
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* others = nullptr;
    if (PKCS12_parse(p12.get(), usePass, &key, &cert, &others) != 1)
        return Fail(SSF_API_INVALID_PROFILE, "PSE \"%s\" cannot be decoded", path.c_str());
    pse->key.reset(key);
    pse->cert.reset(cert);
    pse->others.reset(others != nullptr ? others : sk_X509_new_null());
    if (!pse->others)
        return Fail(SSF_API_NOMEMORY, "out of memory reading PSE \"%s\"", path.c_str());
    if (needKey && (!pse->key || !pse->cert))
        return Fail(SSF_API_NOCERTIFICATE, "PSE \"%s\" holds no private key with its certificate", path.c_str());
    return SSF_API_OK;
}

void AddTrustAnchors(X509_STORE* store, const Pse& pse)
{
    CertStack all = AllCerts(pse);
    for (int i = 0; all && i < sk_X509_num(all.get()); ++i) {
        X509* c = sk_X509_value(all.get(), i);
        if (X509_check_ca(c) != 0)
            X509_STORE_add_cert(store, c);
    }
    X509_STORE_set_flags(store, X509_V_FLAG_PARTIAL_CHAIN);
}

Store TrustStore(const Pse& pse)
{
    Store store(X509_STORE_new());
    if (store)
        AddTrustAnchors(store.get(), pse);
    return store;
}

CertStack AllCerts(const Pse& pse)
{
    CertStack all(sk_X509_new_null());
    if (!all)
        return all;
    auto push = [&](X509* c) {
        if (c != nullptr && X509_up_ref(c) == 1 && sk_X509_push(all.get(), c) <= 0)
            X509_free(c);
    };
    push(pse.cert.get());
    for (int i = 0; pse.others && i < sk_X509_num(pse.others.get()); ++i)
        push(sk_X509_value(pse.others.get(), i));
    return all;
}

int OpenTrust(const char* name, uint32_t nameLen, const char* pin, uint32_t pinLen, Trust* trust)
{
    const int rc = OpenPse(name, nameLen, pin, pinLen, false, &trust->pse);
    if (rc != SSF_API_OK)
        return rc;
    trust->store = TrustStore(trust->pse);
    trust->certs = AllCerts(trust->pse);
    if (!trust->store || !trust->certs)
        return Fail(SSF_API_NOMEMORY, "out of memory for the trust store");
    return SSF_API_OK;
}

int CheckChain(X509_STORE* store, X509* cert, STACK_OF(X509) * untrusted, std::time_t at, int purpose)
{
    StoreCtx ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, cert, untrusted) != 1)
        return X509_V_ERR_OUT_OF_MEM;
    if (at != 0)
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(ctx.get()), at);
    if (purpose != 0)
        X509_STORE_CTX_set_purpose(ctx.get(), purpose);
    if (X509_verify_cert(ctx.get()) == 1)
        return X509_V_OK;
    const int err = X509_STORE_CTX_get_error(ctx.get());
    return err == X509_V_OK ? X509_V_ERR_UNSPECIFIED : err;
}

}  // namespace kc
