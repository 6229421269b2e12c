// Interface of the crypto library "libkovcrypto.so": signing and verification
// of detached PKCS#7 (CMS) signatures with RFC 3161 timestamps, certificates,
// revocation lists, and the library's version record and last-error query.
//
// The program loads the library at run time and resolves these functions by
// name; it never links them.  Everything here is plain C.
//
// Conventions
// - Every function that can fail returns an SSF code (0 success, the codes
//   below).  The details of the last failure of the calling thread are kept
//   for SsfSecTKLastErrorInfo; they never contain a PIN or password.
// - Lengths are 32-bit byte counts; texts are passed with their length and
//   need no terminator.
// - Buffers the library hands out (SsfOctetstring, signer entries and lists,
//   certificates, CRL arrays) are given back through the library's own free
//   functions.  Every octet string carries one NUL byte after its length, so
//   a text may be read as a C string.
// - Key stores (PSE) are PKCS#12 files opened with their PIN; an empty PIN
//   opens a file without a password.  A PSE name that holds a "/" or ends in
//   ".pse" or ".p12" is a path; any other name N means the file N.pse in the
//   directory named by the environment variable TELMIRDIR (the current
//   directory when it is unset or empty).  The verification profiles
//   "KOVverify" and "KOVvalidation" are such names.
// - For verification a PSE supplies the trust anchors: the CA certificates it
//   holds.  A PKCS#12 file with certificates and no key is a valid
//   verification PSE.
// - Signature formats: "PKCS7" (a timestamp is checked when present) and
//   "PKCS7-TSTAMP" (a timestamp is required).  Digest names: "SHA256" (the
//   default for an empty name), "SHA224", "SHA384", "SHA512", with or without
//   the hyphen, letters in any case; "MD5" and "SHA1" are refused as insecure.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// ---- SSF codes -------------------------------------------------------------

enum {
    SSF_API_OK = 0,
    SSF_API_NOSECTK = 1,
    SSF_API_INVALID_FORMAT = 2,
    SSF_API_NODATA = 3,
    SSF_API_NOMEMORY = 4,
    SSF_API_SIGNER_ERRORS = 5,
    SSF_API_NORESULTLISTMEMORY = 6,
    SSF_API_UNKNOWN_PAB = 7,
    SSF_API_INVALID_PAB_PASSWORD = 8,
    SSF_API_RECIPIENT_ERRORS = 9,
    SSF_API_INVALID_MDALG = 10,
    SSF_API_ENCODE_FAILED = 11,
    SSF_API_DECODE_FAILED = 12,
    SSF_API_UNKNOWN_SECTK_ERROR = 13,
    SSF_API_SECTK_FUNCTION_NOT_AVAIL = 16,
    SSF_API_INVALID_FUNCARGS = 17,
    SSF_API_INTERNAL_BUG = 18,
    SSF_API_INSECURE_MDALG = 19,
    SSF_API_CERT_EXPIRED = 20,
    SSF_API_PROFILE_LOCKED = 21,
    SSF_API_UNKNOWN_SIGNER = 22,
    SSF_API_UNKNOWN_PROFILE = 23,
    SSF_API_INVALID_PROFILE = 24,
    SSF_API_INVALID_PASSWORD = 25,
    SSF_API_NOCERTIFICATE = 26,
    SSF_API_SIGNER_NOT_OK = 27,
    SSF_API_UNDEFINED_RESULT = 28,
    SSF_API_BAD_NAME = 29,
    SSF_API_ALG_MISMATCH = 30,
    SSF_API_REVOCATION_CERT_REVOKED = 31,
    SSF_API_REVOCATION_CHECK_FAILED = 32,
    SSF_API_REVOCATION_CHECK_ERROR = 33,
    SSF_API_REVOCATION_CERT_UNKNOWN = 34,
    SSF_API_REVOCATION_CERT_ON_HOLD = 35,
    SSF_API_BAD_CERT = 40,
    SSF_API_BAD_CRLSIGNER_CERT = 41,
    SSF_API_BAD_CRL = 42,
    SSF_API_NO_CRL_FOR_CERT = 43,
    SSF_API_CRL_OUTDATED = 44,
    SSF_API_CRL_SIGNATURE_NOT_VERIFIED = 49,
    SSF_AUX_NOMEMORY = 51,
    SSF_AUX_NOSIGRCPID = 52,
    SSF_AUX_NOSIGRCPINFO = 53,
    SSF_AUX_NOSIGRCPINFOLIST = 54,
    SSF_API_CHAINBUILD_ERROR = 81,
    SSF_API_CHAINPARSE_ERROR = 82,
    SSF_KRN_NOOP = 201,
    SSF_KRN_NOMEMORY = 202,
    SSF_KRN_OPINV = 203,
    SSF_KRN_NOSSFLIB = 204,
    SSF_KRN_SIGNER_LIST_ERROR = 205,
    SSF_KRN_RECIPIENT_ERROR = 206,
    SSF_KRN_INPUT_DATA_ERROR = 208,
    SSF_KRN_INVALID_PAR = 209,
    SSF_KRN_INVALID_PARLEN = 210,
    SSF_API_ERROR_DECODING_PKCS7 = 256,
    SSF_API_ERROR_WRONG_PK = 257,
    SSF_API_ERROR_UPDATE_CERT = 258,
    SSF_API_ERROR_UPDATE_PKROOT = 259,
    SSF_API_ERROR_UPDATE_FCPATH = 260,
    SSF_API_ERROR_DECODING_X509 = 261,
    SSF_API_ERROR_DECODING_BASE64 = 262,
    SSF_API_ERROR_DECODING_PEM = 263,
    SSF_API_ERROR_VERIFY_CERT = 264,
    SSF_API_ERROR_DECODING_INPUT = 265,
    SSF_API_ERROR_READING_INPUT = 272,
    SSF_API_ERROR_NO_RESOURCES = 273,
    SSF_API_ERROR_INCOMPLETE_CERT_PATH = 274,
    SSF_API_ERROR_CREATE_KEYVALUE = 288,
    SSF_API_ERROR_UNSUPPORTED_KEYVALUE = 289,
    SSF_API_ERROR_PARSE_KEYVALUE = 290,
    SSF_API_ERROR_DECODING_TSTAMP_REQ = 320,
    SSF_API_ERROR_DECODING_TSTAMP_RESP = 321,
    SSF_API_ERROR_DECODING_TSTOKEN = 322,
    SSF_API_ERROR_DECODING_TSTINFO = 323,
    SSF_API_MISSING_TSTOKEN = 324,
    SSF_API_BAD_TSTOKEN = 325,
    SSF_API_BAD_TSTINFO = 326,
    SSF_API_WRONG_TSTAMP_RESP = 327,
    SSF_API_PKCS7_NO_SIGNEDDATA = 328,
    SSF_API_PKCS7_BAD_SIGNEDDATA = 329,
    SSF_API_BAD_TSA_CERT = 330,
    SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP = 331,
    SSF_API_PKCS7_SD_BAD_SIGNERINFO = 332,
    SSF_API_TSTAMP_FROM_THE_FUTURE = 333,
    SSF_API_TSTAMP_ONLY_WITH_SINGLE_SIGNER = 334,
    SSF_API_PKCS7_WITHOUT_TSTAMP = 335,
    SSF_API_TSTAMP_NOT_FRESH = 336,
    SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY = 337,
};

// ---- Data types ------------------------------------------------------------

// Bytes allocated by the library; free with SsfDELSsfOctetstring.
typedef unsigned char* SsfOctetstring;

// One signer (or timestamp authority) entry.  Entries made by the caller with
// SsfNEWSigRcpSsfInfo describe whom to sign as; entries made by the library
// report what it found.  Every text is NUL-terminated after its length.
typedef struct SsfSigRcpInfo {
    char* id;        // signer identifier: "<implicit>" (the PSE's own
    uint32_t idLen;  //   certificate) or the subject name found
    char* reserved;  // second identifier, kept as given
    uint32_t reservedLen;
    char* profile;  // PSE name or path
    uint32_t profileLen;
    char* password;  // PIN of the PSE; wiped when the entry is freed
    uint32_t passwordLen;
    int result;                  // SSF code for this entry (28: not yet known)
    unsigned char* certificate;  // DER certificate found, or NULL
    uint32_t certificateLen;
    char* time;        // "YYYYMMDDhhmmssZ": the timestamp's time, else the
    uint32_t timeLen;  //   signing time the signature claims; or empty
} SsfSigRcpInfo;

// A list of entries, first to last.
typedef struct SsfSigRcpList {
    SsfSigRcpInfo* info;
    struct SsfSigRcpList* next;
} SsfSigRcpList;

typedef struct SsfCertificate SsfCertificate;  // a decoded certificate
typedef struct SsfCrl SsfCrl;                  // a decoded revocation list

// Version record, owned by the library (kovcr_get_version).
typedef struct KovCrVersion {
    uint32_t major;
    uint32_t minor;
    uint32_t patch;
    uint32_t patchLevel;
    const char* build;           // build text: the toolkit it was built on
    uint32_t size;               // sizeof(KovCrVersion)
    uint32_t interfaceVersion;   // highest function-table version offered (0x103)
    const char* libraryVersion;  // "KOVCRYPTOLIB <major>.<minor>.<patch> patch level <n> ..."
    const char* toolkitVersion;  // the toolkit version it runs on
    const char* reserved;        // NULL
} KovCrVersion;

// Revocation reason reported for a certificate that no list names.
#define SSF_REVOCATION_REASON_NONE 0xFFFFu

#define KOVCR_EXPORT __attribute__((visibility("default")))

// ---- Library life cycle and diagnostics ------------------------------------

// Starts and ends the library's use; both return 0.  Neither is required.
KOVCR_EXPORT int kovcr_init(void);
KOVCR_EXPORT int kovcr_done(void);
// Hands out the library's constant version record.  0, or 17 for a NULL out.
KOVCR_EXPORT int kovcr_get_version(const KovCrVersion** record);
// The last failure of the calling thread when it ended with ssfRc: the
// toolkit's own error code, the library's message and the toolkit's error
// text (both owned by the library, valid until the thread's next call).  For
// any other code both texts are empty and the code 0.  Returns 0, or 17 when
// an out is NULL.
KOVCR_EXPORT int SsfSecTKLastErrorInfo(int ssfRc, int* toolkitCode, const char** text, uint32_t* textLen,
                                       const char** text2, uint32_t* text2Len);

// "KOVCRYPTOLIB Version <major>.<minor>.<patch> ..." as an octet string.
KOVCR_EXPORT int SsfVersion(SsfOctetstring* version, uint32_t* versionLen);
// The value of a property as an octet string: "FIPS_140_2" is "1" when the
// toolkit runs in FIPS mode, else "0".  Other names: 17.
KOVCR_EXPORT int SsfQueryProperties(const char* name, uint32_t nameLen, SsfOctetstring* value, uint32_t* valueLen);

// ---- Octet strings and signer entries --------------------------------------

// Frees an octet string and sets the pointer to NULL.
KOVCR_EXPORT void SsfDELSsfOctetstring(SsfOctetstring* octets);
// A new entry with copies of the texts given (each may be NULL with length 0)
// and the initial result.
KOVCR_EXPORT int SsfNEWSigRcpSsfInfo(const char* id, uint32_t idLen, const char* reserved, uint32_t reservedLen,
                                     const char* profile, uint32_t profileLen, const char* password,
                                     uint32_t passwordLen, int result, SsfSigRcpInfo** entry);
// Appends the entry to the list (which then owns it); *list may be NULL.
KOVCR_EXPORT int SsfINSSigRcpSsfInfo(SsfSigRcpInfo* entry, SsfSigRcpList** list);
// Frees one entry (wiping its password) and sets the pointer to NULL.
KOVCR_EXPORT void SsfDELSigRcpSsfInfo(SsfSigRcpInfo** entry);
// Frees the list with all its entries and sets the pointer to NULL.
KOVCR_EXPORT void SsfDELSigRcpSsfInfoList(SsfSigRcpList** list);

// ---- Signing and verification ----------------------------------------------

// The data as the format signs it: for "PKCS7" and "PKCS7-TSTAMP" the bytes
// unchanged (binary: no line-end conversion).  Zero bytes: 3.
KOVCR_EXPORT int SsfEncode(const char* format, uint32_t formatLen, const unsigned char* data, uint32_t dataLen,
                           SsfOctetstring* encoded, uint32_t* encodedLen);
KOVCR_EXPORT int SsfDecode(const char* format, uint32_t formatLen, const unsigned char* encoded, uint32_t encodedLen,
                           SsfOctetstring* data, uint32_t* dataLen);

// Signs the data ("PKCS7" only) as the first entry of the signer list: its
// profile is the PSE holding the key and certificate, its password the PIN.
// detached 1: the signature does not carry the data; includeCerts 1: the
// signature carries the signer's certificate and the PSE's other
// certificates.  The signer's result is set (0, or why it could not sign:
// 23 unknown PSE, 24 unreadable PSE, 25 wrong PIN, 26 no key or certificate,
// 20 certificate not valid now); any such failure returns 5.
KOVCR_EXPORT int SsfSign(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen, int detached,
                         int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
                         SsfOctetstring* signature, uint32_t* signatureLen);

// Verifies a signature over the data (detached 1) or over the content it
// carries (detached 0), with the CA certificates of the profile's PSE as
// trust anchors, at the timestamp's time when the signature carries a valid
// timestamp, else now.  Returns 0 when all is well, 5 when the signer or its
// timestamp failed (see the entries), or the call's failure (256 not
// PKCS#7, 328 not signed data, 334 not exactly one signer, 23/24/25 the
// profile).  With 0 or 5 the list holds the signer entry first and, for
// "PKCS7-TSTAMP" or when a timestamp is present, the timestamp authority's
// entry second.  Signer results: 27 bad signature, 26 no certificate,
// 22 no trust anchor for the chain, 81 broken chain, 20 expired (no
// timestamp), 331 expired at the timestamp's time, 264 other chain
// failures, or the timestamp's result.  Timestamp results: 335 no
// timestamp, 322/323 undecodable token, 325 bad token signature, 326 the
// token is for other data, 330 authority's certificate not trusted or
// without the critical timeStamping usage, 333 time in the future,
// 337 time outside the authority's certificate validity.  The content out
// (may be NULL) receives a copy of the signed data.
KOVCR_EXPORT int SsfVerify(const char* format, uint32_t formatLen, int detached, const unsigned char* signature,
                           uint32_t signatureLen, const unsigned char* data, uint32_t dataLen, const char* profile,
                           uint32_t profileLen, const char* password, uint32_t passwordLen, SsfSigRcpList** signers,
                           SsfOctetstring* content, uint32_t* contentLen);

// ---- Timestamps (RFC 3161) -------------------------------------------------

// A DER timestamp request whose message imprint is the digest (mdalg) of the
// signer's signature value, with a random nonce; certReq 1 asks the
// authority for its certificate.
KOVCR_EXPORT int SsfGetTimeStampReq(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                                    int certReq, const unsigned char* signature, uint32_t signatureLen,
                                    SsfOctetstring* request, uint32_t* requestLen);
// Checks the authority's reply against the request and the signature
// (granted status, same nonce and imprint, a token signed by a certificate
// with the critical timeStamping usage) and returns the signature with the
// token attached as the unsigned attribute for timestamp tokens (replacing
// an earlier one), and a new entry for the authority (subject, certificate,
// time).  A reply that is not granted, or does not answer this request for
// this signature: 327; undecodable request, reply or token: 320, 321, 322.
// With a profile (PSE and its password) the authority must also be trusted
// by it, as verification with that PSE checks it: a time ahead of the clock
// 340, outside the authority's validity 341, a chain to none of the PSE's
// anchors 330; the PSE's own errors as OpenPse.  Without one, trust in the
// authority is left to verification.
KOVCR_EXPORT int SsfAddTimeStampResp(const char* format, uint32_t formatLen, const unsigned char* signature,
                                     uint32_t signatureLen, const unsigned char* request, uint32_t requestLen,
                                     const unsigned char* reply, uint32_t replyLen, const char* profile,
                                     uint32_t profileLen, const char* password, uint32_t passwordLen,
                                     SsfOctetstring* stamped, uint32_t* stampedLen, SsfSigRcpInfo** authority);

// ---- Certificates and revocation lists -------------------------------------

KOVCR_EXPORT int SsfCertfromASN1(const unsigned char* der, uint32_t derLen, SsfCertificate** certificate);
KOVCR_EXPORT int SsfCerttoASN1(const SsfCertificate* certificate, SsfOctetstring* der, uint32_t* derLen);
// A field of the certificate as text: "SUBJECT" or "ISSUER" (names in the
// form "CN=..., O=..., C=..."), "SERIAL" (hex), "NOTBEFORE" and "NOTAFTER"
// ("YYYYMMDDhhmmssZ").  Letters in any case.  Other fields: 17.
KOVCR_EXPORT int SsfParseCertificate(const SsfCertificate* certificate, const char* field, uint32_t fieldLen,
                                     SsfOctetstring* value, uint32_t* valueLen);
KOVCR_EXPORT void SsfFreeCertificate(SsfCertificate** certificate);

// Decodes one or more revocation lists, PEM (concatenated) or one DER list.
// Nothing decodable: 42.
KOVCR_EXPORT int SsfDecodeCrlArray(const unsigned char* data, uint32_t dataLen, SsfCrl*** crls, uint32_t* count);
KOVCR_EXPORT void SsfFreeCrlArray(SsfCrl*** crls, uint32_t count);
// Checks the certificate against the newest list of its issuer whose
// signature verifies with the issuer's certificate from the profile's PSE.
// Returns 0 (not revoked), 31 revoked, 35 on hold, 43 no list from the
// issuer, 49 no list of the issuer has a valid signature, 41 the issuer's
// certificate is not in the PSE, 44 the list is out of date (only with
// checkCurrent 1; a revocation it names is reported first), 23/24/25 the
// profile.  The reason out is the list's reason code of a revoked
// certificate (0 when the list gives none), else SSF_REVOCATION_REASON_NONE.
// The entry out (may be NULL) names the certificate's subject, its result
// and, when revoked, the revocation time.  The time argument is accepted and
// not used: a certificate that a list names counts as revoked whatever the
// date.
KOVCR_EXPORT int SsfCheckCertWithCrlArray(const SsfCertificate* certificate, SsfCrl* const* crls, uint32_t count,
                                          int checkCurrent, const char* profile, uint32_t profileLen,
                                          const char* password, uint32_t passwordLen, const char* time,
                                          uint32_t timeLen, uint32_t* reason, SsfSigRcpInfo** entry);

// ---- Functions this library does not provide -------------------------------
// Exported so that the whole function table resolves; each returns
// SSF_API_SECTK_FUNCTION_NOT_AVAIL (16) and touches nothing.  The argument
// lists are those the program's wrappers pass.

typedef struct SsfProfile SsfProfile;
KOVCR_EXPORT int SsfEnvelope(const char* format, uint32_t formatLen, const unsigned char* data, uint32_t dataLen,
                             SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen);
KOVCR_EXPORT int SsfDevelope(const char* format, uint32_t formatLen, const unsigned char* envelope,
                             uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen);
KOVCR_EXPORT int SsfAddSign(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                            const unsigned char* signature, uint32_t signatureLen, const unsigned char* data,
                            uint32_t dataLen, SsfSigRcpList* signers, SsfOctetstring* result, uint32_t* resultLen);
KOVCR_EXPORT int SsfDigest(const char* mdalg, uint32_t mdalgLen, const unsigned char* data, uint32_t dataLen,
                           SsfOctetstring* digest, uint32_t* digestLen);
KOVCR_EXPORT int SsfOpenProfile(const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                                SsfProfile** handle);
KOVCR_EXPORT int SsfCloseProfile(SsfProfile** handle);
KOVCR_EXPORT int SsfCreateProfile(const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                                  const char* subject, uint32_t subjectLen);
KOVCR_EXPORT int SsfSignEx(const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen, int detached,
                           int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
                           SsfOctetstring* signature, uint32_t* signatureLen, uint32_t options);
KOVCR_EXPORT int SsfVerifyEx(const char* format, uint32_t formatLen, int detached, const unsigned char* signature,
                             uint32_t signatureLen, const unsigned char* data, uint32_t dataLen, const char* profile,
                             uint32_t profileLen, const char* password, uint32_t passwordLen, SsfSigRcpList** signers,
                             SsfOctetstring* content, uint32_t* contentLen, uint32_t options);
KOVCR_EXPORT int SsfEnvelopeEx(const char* format, uint32_t formatLen, const unsigned char* data, uint32_t dataLen,
                               SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen,
                               uint32_t options);
KOVCR_EXPORT int SsfDevelopeEx(const char* format, uint32_t formatLen, const unsigned char* envelope,
                               uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen,
                               uint32_t options);
KOVCR_EXPORT int SsfVerifyCRL(const SsfCrl* crl, const char* profile, uint32_t profileLen, const char* password,
                              uint32_t passwordLen);
// Table rows without an argument list of their own (nobody calls them).
KOVCR_EXPORT int SsfRemoveProfile(void);
KOVCR_EXPORT int SsfGetOwnCertificate(void);
KOVCR_EXPORT int SsfGetCertificate(void);
KOVCR_EXPORT int SsfPutCertificate(void);
KOVCR_EXPORT int SsfRemoveCertificate(void);
KOVCR_EXPORT int SsfGetCertificateList(void);
KOVCR_EXPORT int SsfEnumCertificateList(void);
KOVCR_EXPORT int SsfFreeCertificateList(void);
KOVCR_EXPORT int SsfGetCertificateRequest(void);
KOVCR_EXPORT int SsfPutCertificateResponse(void);
KOVCR_EXPORT int kovtelmir_parseobject(void);
KOVCR_EXPORT int kov_secin(void);
KOVCR_EXPORT int kov_create_memory_PSE(void);
KOVCR_EXPORT int kov_delete_memory_PSE(void);
KOVCR_EXPORT int kov_load_memory_PSE(void);
KOVCR_EXPORT int kov_save_memory_PSE(void);
KOVCR_EXPORT int SsfParseCRL(void);
KOVCR_EXPORT int SsfFreeCrlList(void);
KOVCR_EXPORT int SsfGetCrlDpArrayFromCert(void);
KOVCR_EXPORT int SsfFreeCrlDpArray(void);

#ifdef __cplusplus
}
#endif
