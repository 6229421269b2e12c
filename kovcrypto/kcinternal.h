// Shared pieces of the crypto library: owners of toolkit objects, the
// per-thread last error, octet strings, digest names, times and key stores.
#pragma once

#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "kovcrypto/ssfapi.h"

namespace kc {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using Bio = Owned<BIO, BIO_free_all>;
using Cms = Owned<CMS_ContentInfo, CMS_ContentInfo_free>;
using X509Ptr = Owned<X509, X509_free>;
using X509Crl = Owned<X509_CRL, X509_CRL_free>;
using Store = Owned<X509_STORE, X509_STORE_free>;
using StoreCtx = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using PKey = Owned<EVP_PKEY, EVP_PKEY_free>;
using TsReq = Owned<TS_REQ, TS_REQ_free>;
using TsResp = Owned<TS_RESP, TS_RESP_free>;
using TstInfo = Owned<TS_TST_INFO, TS_TST_INFO_free>;
using AsnInt = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using MdCtx = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;

inline void FreeCertStack(STACK_OF(X509) * s)
{
    sk_X509_pop_free(s, X509_free);
}
using CertStack = Owned<STACK_OF(X509), FreeCertStack>;

// ---- Last error of the calling thread --------------------------------------

// Starts a library call: forgets the thread's last error and the toolkit's
// error queue.
void BeginCall();
// Records a failure with its SSF code and message (printf-style; never pass a
// PIN).  The toolkit's most recent error, if any, becomes the second text.
// Returns rc, so that a failure reads "return Fail(rc, ...)".
int Fail(int rc, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Gives the recorded failure another code (its texts stay); returns it.
int Recode(int rc);
// Records the toolkit's certificate-check code with the failure.
void SetToolkitCode(int code);

// ---- Octet strings ---------------------------------------------------------

// A new octet string holding the bytes (and a NUL after them); NULL when out
// of memory or the length does not fit 32 bits.
bool MakeOctets(const void* data, std::size_t length, SsfOctetstring* out, uint32_t* outLen);
char* DupText(const char* text, std::size_t length);

// Hands n bytes the toolkit encoded at der (n <= 0: the encoding failed)
// over as an octet string and frees der; rc 0, 11 or 4.
int EncodedOctets(int n, unsigned char* der, const char* what, SsfOctetstring* out, uint32_t* outLen);

// ---- Names, formats and times ------------------------------------------------

// The text as a std::string; NULL gives "".
std::string Text(const char* text, uint32_t length);
// The format named: 1 "PKCS7", 2 "PKCS7-TSTAMP", 0 any other.
int FormatKind(const char* format, uint32_t formatLen);
// The digest for a name (see the interface); rc 0, 10 unknown, 19 insecure.
int DigestByName(const char* name, uint32_t nameLen, const EVP_MD** md);
// "YYYYMMDDhhmmssZ" of a toolkit time, "" when it cannot be read.
std::string TimeText(const ASN1_TIME* t);
// Seconds since the epoch of a toolkit time; false when it cannot be read.
bool TimeOf(const ASN1_TIME* t, std::time_t* out);
// "CN=..., O=..., C=..." of a name.
std::string NameText(const X509_NAME* name);
// NameText as a report quotes it: a certificate's name is its maker's text,
// so its controls and broken UTF-8 are written as "\xNN".
std::string QuotedNameText(const X509_NAME* name);
// DER of a certificate ("" when it cannot be encoded).
std::string CertDer(X509* cert);

// ---- Signer entries ----------------------------------------------------------

// A new library-made entry: id, certificate (may be NULL), time, result.
SsfSigRcpInfo* NewEntry(const std::string& id, X509* cert, const std::string& time, int result);
// Appends an entry; false (entry freed) when out of memory.
bool Append(SsfSigRcpList** list, SsfSigRcpInfo* entry);

// ---- Key stores ------------------------------------------------------------

struct Pse {
    PKey key;          // private key, or none
    X509Ptr cert;      // the key's certificate, or none
    CertStack others;  // every other certificate of the file
};

// Opens the PSE named (see the interface) with its PIN.  rc 0, or 23 not
// found, 24 not a readable PKCS#12 file, 25 wrong PIN, 17 bad argument;
// needKey: 26 when it holds no key with its certificate.
int OpenPse(const char* name, uint32_t nameLen, const char* pin, uint32_t pinLen, bool needKey, Pse* pse);
// Adds the CA certificates of the PSE to the store as trust anchors (also
// those that are not self-signed).
void AddTrustAnchors(X509_STORE* store, const Pse& pse);
// A new store whose trust anchors are the CA certificates of the PSE.
Store TrustStore(const Pse& pse);
// Every certificate of the PSE (its own first) as a new stack.
CertStack AllCerts(const Pse& pse);
// The trust of a verification profile: its PSE opened without need of a
// key, the store of its anchors and all its certificates.  rc as OpenPse,
// or 4 when memory ran out.
struct Trust {
    Pse pse;
    Store store;
    CertStack certs;
};
int OpenTrust(const char* name, uint32_t nameLen, const char* pin, uint32_t pinLen, Trust* trust);

// Verifies a certificate's chain at the given time (now when 0) against the
// store, with the untrusted certificates and, when purpose is not 0, that
// purpose.  Returns the toolkit's check code (X509_V_OK when it verifies).
int CheckChain(X509_STORE* store, X509* cert, STACK_OF(X509) * untrusted, std::time_t at, int purpose);

// ---- Signatures and timestamp tokens ---------------------------------------

// Decodes a DER signature that must be signed data with exactly one signer:
// rc 0, 256 (not decodable), 328 (not signed data), 334 (not one signer).
int ParseSignature(const unsigned char* signature, uint32_t signatureLen, Cms* cms, CMS_SignerInfo** si);
// The digest of the signer's signature value: what a timestamp stamps.
bool SignatureValueDigest(CMS_SignerInfo* si, const EVP_MD* md, unsigned char* out, unsigned* outLen);
// The DER timestamp token attached to the signer, or an empty string.
std::string AttachedToken(CMS_SignerInfo* si);

struct Token {
    Cms cms;
    TstInfo info;
    X509* signer = nullptr;  // the authority's certificate, owned by cms
    std::time_t time = 0;    // its time
    std::string timeText;
};
// Decodes a DER token: rc 0, 322 (not a token), 323 (its contents undecodable).
int DecodeToken(const unsigned char* der, std::size_t derLen, Token* token);
// Checks that the token is signed by a certificate it carries (or one of the
// extra ones) that has the critical timeStamping usage, and that it stamps
// this signer's signature value: rc 0, 325 bad signature, 330 no or unfit
// certificate, 326 other data.
int CheckToken(Token* token, CMS_SignerInfo* si, STACK_OF(X509) * extra);
// The certificates a chain may be built from: those the structure carries
// and the extra ones, as a new stack.
CertStack ChainCerts(CMS_ContentInfo* cms, STACK_OF(X509) * extra);
// Checks the authority of a token that passed CheckToken against the trust
// anchors of store: its time may not lie ahead of our clock, must lie in
// the authority's validity, and its chain must verify at that time for
// timestamping: rc 0, 340 future, 341 outside the validity, 330 untrusted.
int CheckAuthority(const Token& token, X509_STORE* store, STACK_OF(X509) * extra);

}  // namespace kc
