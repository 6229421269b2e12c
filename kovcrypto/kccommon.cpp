// Shared pieces of the crypto library: the per-thread last error, octet
// strings, names, times and signer entries.
#include <openssl/err.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kovcrypto/kcinternal.h"
#include "nls/utf8shown.h"

namespace kc {

namespace {

struct LastError {
    int rc = 0;
    int toolkitCode = 0;
    char text[512] = {};
    char text2[256] = {};
};
thread_local LastError t_last;

}  // namespace

void BeginCall()
{
    t_last.rc = 0;
    t_last.toolkitCode = 0;
    t_last.text[0] = '\0';
    t_last.text2[0] = '\0';
    ERR_clear_error();
}

int Fail(int rc, const char* format, ...)
{
    t_last.rc = rc;
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(t_last.text, sizeof t_last.text, format, ap);
    va_end(ap);
    const unsigned long e = ERR_peek_last_error();
    if (e != 0) {
        ERR_error_string_n(e, t_last.text2, sizeof t_last.text2);
        if (t_last.toolkitCode == 0)
            t_last.toolkitCode = static_cast<int>(e & 0x7fffffff);
    }
    ERR_clear_error();
    return rc;
}

int Recode(int rc)
{
    t_last.rc = rc;
    return rc;
}

void SetToolkitCode(int code)
{
    t_last.toolkitCode = code;
}

bool MakeOctets(const void* data, std::size_t length, SsfOctetstring* out, uint32_t* outLen)
{
    *out = nullptr;
    *outLen = 0;
    if (length > UINT32_MAX - 1)
        return false;
    auto* p = static_cast<unsigned char*>(std::malloc(length + 1));
    if (p == nullptr)
        return false;
    if (length != 0)
        std::memcpy(p, data, length);
    p[length] = 0;
    *out = p;
    *outLen = static_cast<uint32_t>(length);
    return true;
}

int EncodedOctets(int n, unsigned char* der, const char* what, SsfOctetstring* out, uint32_t* outLen)
{
    if (n <= 0) {
        OPENSSL_free(der);
        return Fail(SSF_API_ENCODE_FAILED, "%s could not be encoded", what);
    }
    const bool ok = MakeOctets(der, static_cast<std::size_t>(n), out, outLen);
    OPENSSL_free(der);
    return ok ? SSF_API_OK : Fail(SSF_API_NOMEMORY, "out of memory for %s", what);
}

char* DupText(const char* text, std::size_t length)
{
    auto* p = static_cast<char*>(std::malloc(length + 1));
    if (p == nullptr)
        return nullptr;
    if (length != 0)
        std::memcpy(p, text, length);
    p[length] = '\0';
    return p;
}

std::string Text(const char* text, uint32_t length)
{
    return text == nullptr ? std::string() : std::string(text, length);
}

int FormatKind(const char* format, uint32_t formatLen)
{
    const std::string f = Text(format, formatLen);
    if (f == "PKCS7")
        return 1;
    if (f == "PKCS7-TSTAMP")
        return 2;
    return 0;
}

int DigestByName(const char* name, uint32_t nameLen, const EVP_MD** md)
{
    std::string n;
    for (char c : Text(name, nameLen)) {
        if (c != '-')
            n += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    if (n.empty() || n == "SHA256")
        *md = EVP_sha256();
    else if (n == "SHA224")
        *md = EVP_sha224();
    else if (n == "SHA384")
        *md = EVP_sha384();
    else if (n == "SHA512")
        *md = EVP_sha512();
    else if (n == "MD5" || n == "SHA1")
        return SSF_API_INSECURE_MDALG;
    else
        return SSF_API_INVALID_MDALG;
    return SSF_API_OK;
}

bool TimeOf(const ASN1_TIME* t, std::time_t* out)
{
    struct tm tm { };
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1)
        return false;
    *out = timegm(&tm);
    return true;
}

std::string TimeText(const ASN1_TIME* t)
{
    struct tm tm { };
    if (t == nullptr || ASN1_TIME_to_tm(t, &tm) != 1)
        return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string NameText(const X509_NAME* name)
{
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || name == nullptr)
        return {};
    // RFC 2253 order and escaping, ", " between parts, UTF-8 kept as it is.
    const unsigned long flags = (XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK & ~ASN1_STRFLGS_ESC_MSB) | XN_FLAG_SEP_CPLUS_SPC;
    if (X509_NAME_print_ex(bio.get(), name, 0, flags) < 0)
        return {};
    char* data = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &data);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

std::string QuotedNameText(const X509_NAME* name)
{
    return KovShownUtf8(NameText(name));
}

std::string CertDer(X509* cert)
{
    unsigned char* der = nullptr;
    const int n = i2d_X509(cert, &der);
    if (n <= 0)
        return {};
    std::string s(reinterpret_cast<char*>(der), static_cast<std::size_t>(n));
    OPENSSL_free(der);
    return s;
}

SsfSigRcpInfo* NewEntry(const std::string& id, X509* cert, const std::string& time, int result)
{
    auto* e = static_cast<SsfSigRcpInfo*>(std::calloc(1, sizeof(SsfSigRcpInfo)));
    if (e == nullptr)
        return nullptr;
    e->result = result;
    e->id = DupText(id.data(), id.size());
    e->idLen = static_cast<uint32_t>(id.size());
    e->time = DupText(time.data(), time.size());
    e->timeLen = static_cast<uint32_t>(time.size());
    bool ok = e->id != nullptr && e->time != nullptr;
    if (ok && cert != nullptr) {
        const std::string der = CertDer(cert);
        e->certificate = reinterpret_cast<unsigned char*>(DupText(der.data(), der.size()));
        e->certificateLen = static_cast<uint32_t>(der.size());
        ok = e->certificate != nullptr && !der.empty();
    }
    if (!ok) {
        SsfDELSigRcpSsfInfo(&e);
        return nullptr;
    }
    return e;
}

bool Append(SsfSigRcpList** list, SsfSigRcpInfo* entry)
{
    if (entry == nullptr)
        return false;
    if (SsfINSSigRcpSsfInfo(entry, list) != SSF_API_OK) {
        SsfDELSigRcpSsfInfo(&entry);
        return false;
    }
    return true;
}

}  // namespace kc

using namespace kc;

extern "C" {

int SsfSecTKLastErrorInfo(int ssfRc, int* toolkitCode, const char** text, uint32_t* textLen, const char** text2,
                          uint32_t* text2Len)
{
    if (toolkitCode == nullptr || text == nullptr || textLen == nullptr || text2 == nullptr || text2Len == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    const bool match = ssfRc != 0 && ssfRc == t_last.rc;
    *toolkitCode = match ? t_last.toolkitCode : 0;
    *text = match ? t_last.text : "";
    *text2 = match ? t_last.text2 : "";
    *textLen = static_cast<uint32_t>(std::strlen(*text));
    *text2Len = static_cast<uint32_t>(std::strlen(*text2));
    return SSF_API_OK;
}

void SsfDELSsfOctetstring(SsfOctetstring* octets)
{
    if (octets != nullptr) {
        std::free(*octets);
        *octets = nullptr;
    }
}

int SsfNEWSigRcpSsfInfo(const char* id, uint32_t idLen, const char* reserved, uint32_t reservedLen, const char* profile,
                        uint32_t profileLen, const char* password, uint32_t passwordLen, int result,
                        SsfSigRcpInfo** entry)
{
    BeginCall();
    if (entry == nullptr || (id == nullptr && idLen != 0) || (reserved == nullptr && reservedLen != 0) ||
        (profile == nullptr && profileLen != 0) || (password == nullptr && passwordLen != 0))
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfNEWSigRcpSsfInfo: a text pointer is NULL with a length");
    *entry = nullptr;
    auto* e = static_cast<SsfSigRcpInfo*>(std::calloc(1, sizeof(SsfSigRcpInfo)));
    if (e == nullptr)
        return Fail(SSF_API_NOMEMORY, "out of memory for a signer entry");
    e->result = result;
    e->id = DupText(id, idLen);
    e->idLen = idLen;
    e->reserved = DupText(reserved, reservedLen);
    e->reservedLen = reservedLen;
    e->profile = DupText(profile, profileLen);
    e->profileLen = profileLen;
    e->password = DupText(password, passwordLen);
    e->passwordLen = passwordLen;
    e->time = DupText("", 0);
    if (e->id == nullptr || e->reserved == nullptr || e->profile == nullptr || e->password == nullptr ||
        e->time == nullptr) {
        SsfDELSigRcpSsfInfo(&e);
        return Fail(SSF_API_NOMEMORY, "out of memory for a signer entry");
    }
    *entry = e;
    return SSF_API_OK;
}

int SsfINSSigRcpSsfInfo(SsfSigRcpInfo* entry, SsfSigRcpList** list)
{
    if (entry == nullptr || list == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    auto* node = static_cast<SsfSigRcpList*>(std::calloc(1, sizeof(SsfSigRcpList)));
    if (node == nullptr)
        return SSF_API_NOMEMORY;
    node->info = entry;
    SsfSigRcpList** tail = list;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = node;
    return SSF_API_OK;
}

void SsfDELSigRcpSsfInfo(SsfSigRcpInfo** entry)
{
    if (entry == nullptr || *entry == nullptr)
        return;
    SsfSigRcpInfo* e = *entry;
    if (e->password != nullptr)
        OPENSSL_cleanse(e->password, e->passwordLen);
    std::free(e->id);
    std::free(e->reserved);
    std::free(e->profile);
    std::free(e->password);
    std::free(e->certificate);
    std::free(e->time);
    std::free(e);
    *entry = nullptr;
}

void SsfDELSigRcpSsfInfoList(SsfSigRcpList** list)
{
    if (list == nullptr)
        return;
    SsfSigRcpList* node = *list;
    while (node != nullptr) {
        SsfSigRcpList* next = node->next;
        SsfDELSigRcpSsfInfo(&node->info);
        std::free(node);
        node = next;
    }
    *list = nullptr;
}

int SsfEncode(const char* format, uint32_t formatLen, const unsigned char* data, uint32_t dataLen,
              SsfOctetstring* encoded, uint32_t* encodedLen)
{
    BeginCall();
    if (encoded == nullptr || encodedLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfEncode: no output given");
    *encoded = nullptr;
    *encodedLen = 0;
    if (FormatKind(format, formatLen) == 0)
        return Fail(SSF_API_INVALID_FORMAT, "unknown signature format \"%s\"", Text(format, formatLen).c_str());
    if (data == nullptr || dataLen == 0)
        return Fail(SSF_API_NODATA, "no data to encode");
    // The formats sign the bytes exactly as they are.
    if (!MakeOctets(data, dataLen, encoded, encodedLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for the encoded data");
    return SSF_API_OK;
}

int SsfDecode(const char* format, uint32_t formatLen, const unsigned char* encoded, uint32_t encodedLen,
              SsfOctetstring* data, uint32_t* dataLen)
{
    return SsfEncode(format, formatLen, encoded, encodedLen, data, dataLen);
}

}  // extern "C"
