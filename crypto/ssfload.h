// Loader of the crypto library ("libkovcrypto.so" or a path the caller
// gives): its functions resolved by name through the dynamic loader into a
// caller-owned function context, one wrapper per function, the library's
// version record and last error, and the names and texts of its codes.
//
// The library's types and codes are in kovcrypto/ssfapi.h.  A function the
// library does not export leaves its slot empty; calling through an empty
// slot returns SSF_API_SECTK_FUNCTION_NOT_AVAIL (16) and a NULL context
// SSF_API_NOSECTK (1), for every wrapper (the freeing ones do nothing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "dl/dlux.h"
#include "kovcrypto/ssfapi.h"

inline constexpr int SSF_SLOT_COUNT = 57;
inline constexpr int SSF_FLAG_COUNT = 58;

// Function slots.  The present flag of a slot has the same number, except
// for the rows named in SsfFlag.
enum SsfSlot : int {
    SSF_SLOT_VERSION = 0,
    SSF_SLOT_QUERYPROPERTIES = 1,
    SSF_SLOT_SIGN = 2,
    SSF_SLOT_VERIFY = 3,
    SSF_SLOT_ENVELOPE = 4,
    SSF_SLOT_DEVELOPE = 5,
    SSF_SLOT_ENCODE = 6,
    SSF_SLOT_DECODE = 7,
    SSF_SLOT_ADDSIGN = 8,
    SSF_SLOT_DIGEST = 9,
    SSF_SLOT_DELOCTETSTRING = 10,
    SSF_SLOT_NEWSIGRCPINFO = 11,
    SSF_SLOT_INSSIGRCPINFO = 12,
    SSF_SLOT_DELSIGRCPINFO = 13,
    SSF_SLOT_DELSIGRCPINFOLIST = 14,
    SSF_SLOT_OPENPROFILE = 15,
    SSF_SLOT_CLOSEPROFILE = 16,
    SSF_SLOT_CREATEPROFILE = 17,
    SSF_SLOT_REMOVEPROFILE = 18,
    SSF_SLOT_GETOWNCERTIFICATE = 19,
    SSF_SLOT_GETCERTIFICATE = 20,
    SSF_SLOT_PUTCERTIFICATE = 21,
    SSF_SLOT_REMOVECERTIFICATE = 22,
    SSF_SLOT_FREECERTIFICATE = 23,
    SSF_SLOT_GETCERTIFICATELIST = 24,
    SSF_SLOT_ENUMCERTIFICATELIST = 25,
    SSF_SLOT_FREECERTIFICATELIST = 26,
    SSF_SLOT_CERTFROMASN1 = 27,
    SSF_SLOT_CERTTOASN1 = 28,
    SSF_SLOT_PARSECERTIFICATE = 29,
    SSF_SLOT_GETCERTIFICATEREQUEST = 30,
    SSF_SLOT_PUTCERTIFICATERESPONSE = 31,
    SSF_SLOT_PARSEOBJECT = 32,
    SSF_SLOT_SECIN = 33,
    SSF_SLOT_CREATEMEMORYPSE = 34,
    SSF_SLOT_DELETEMEMORYPSE = 35,
    SSF_SLOT_LOADMEMORYPSE = 36,
    SSF_SLOT_SAVEMEMORYPSE = 37,
    SSF_SLOT_SIGNEX = 38,
    SSF_SLOT_VERIFYEX = 39,
    SSF_SLOT_ENVELOPEEX = 40,
    SSF_SLOT_DEVELOPEEX = 41,
    SSF_SLOT_DECODECRLARRAY = 45,
    SSF_SLOT_FREECRLARRAY = 46,
    SSF_SLOT_VERIFYCRL = 47,
    SSF_SLOT_PARSECRL = 48,
    SSF_SLOT_FREECRLLIST = 49,
    SSF_SLOT_GETTIMESTAMPREQ = 50,
    SSF_SLOT_ADDTIMESTAMPRESP = 51,
    SSF_SLOT_GETCRLDPARRAY = 52,
    SSF_SLOT_FREECRLDPARRAY = 53,
    SSF_SLOT_CHECKCERTWITHCRLARRAY = 54,
    SSF_SLOT_INIT = 55,
    SSF_SLOT_DONE = 56,
};

// Present flags of the rows whose flag index is not their slot.
enum SsfFlag : int {
    SSF_FLAG_DECODECRLARRAY = 46,
    SSF_FLAG_FREECRLARRAY = 47,
    SSF_FLAG_VERIFYCRL = 48,
    SSF_FLAG_PARSECRL = 49,
    SSF_FLAG_FREECRLLIST = 50,
    SSF_FLAG_GETTIMESTAMPREQ = 51,
    SSF_FLAG_ADDTIMESTAMPRESP = 52,
    SSF_FLAG_CHECKCERTWITHCRLARRAY = 53,
    SSF_FLAG_GETCRLDPARRAY = 54,
    SSF_FLAG_FREECRLDPARRAY = 55,
    SSF_FLAG_INIT = 56,
    SSF_FLAG_DONE = 57,
};

// Function context: owned by the caller and zero-filled before the first load.
struct SsfFuncContext {
    DL_FUNC slot[SSF_SLOT_COUNT];  // NULL when absent
    int loaded;
    uint8_t present[SSF_FLAG_COUNT];
    int copySignerId;       // SsfLibNEWSigRcpSsfInfo passes a 514-byte copy of the id
    DL_HDL hdl;             // DL_NO_HDL when none
    DL_FUNC lastErrorInfo;  // SsfSecTKLastErrorInfo, once resolved
    int lastErrorInfoResolved;
};

// Load results.
enum : int {
    SSF_SUP_OK = 0,
    SSF_SUP_ALREADYLOADED = 1,
    SSF_SUP_NOTALLFUNCTIONS = 5,
    SSF_SUP_NOLIB = 10,
};

// The interface version of the full function table.
inline constexpr uint32_t SSF_INTERFACE_VERSION = 0x103;

typedef void (*SsfSink)(const char* text);

// ---- Loading ---------------------------------------------------------------

// Loads the library at path (or adopts hdl when it is not DL_NO_HDL) into the
// context and resolves every table row the interface version asks for; calls
// kovcr_init when the library has it.  Sinks may be NULL.
int SsfLoadWithHandle(DL_HDL hdl, const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink,
                      uint32_t interfaceVersion);
int SsfLoad(const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink, uint32_t interfaceVersion);
int SsfLoadV1(const char* path, SsfFuncContext* ctx, SsfSink errorSink, SsfSink infoSink);
// Calls kovcr_done when due, clears the context, unloads the library and
// forgets the version record.
void SsfUnload(SsfFuncContext* ctx);
const char* SsfSupRcName(int rc);

// ---- Version and last error ------------------------------------------------

// 1 when the library's version record is available (kept process-wide).
int SsfSupGetVersionRecord(SsfFuncContext* ctx);
// "<major>.<minor>.<patch> <build> " (with "FIPS 140-2" in FIPS mode) into the
// buffer; *capacity in, length written out.  0, 1 (not available) or 4.
int SsfSupGetVersion(SsfFuncContext* ctx, char* buffer, uint32_t* capacity);
// The library's version text as a new buffer (the caller frees it): 0, 1, 4,
// or 17 when text is NULL.
int SsfSupGetLibraryVersionText(SsfFuncContext* ctx, char** text, uint32_t* length);
// version = major * 10000 + minor * 100 + patch; the patch level.
int SsfSupGetLibVersion(SsfFuncContext* ctx, uint32_t* version, uint32_t* patchLevel);
// The library's error information for the code: its toolkit code and two
// texts as new buffers (the caller frees them; NULL when there is none).
// 0, or 1 when the library cannot be asked.
int SsfSupLastErrorInfo(SsfFuncContext* ctx, int ssfRc, int* toolkitCode, char** text, uint32_t* textLength,
                        char** text2, uint32_t* text2Length);

// ---- Code names and texts --------------------------------------------------

// The code's name or text; "Unknown SSF-RC 0x%08x" for any other code (in a
// process-wide buffer).
const char* SsfErrorName(int rc);
const char* SsfErrorDescription(int rc);

// ---- Wrappers --------------------------------------------------------------

// Copies the version text into a new NUL-terminated buffer (the caller frees it).
int SsfLibVersion(SsfFuncContext* ctx, char** version, uint32_t* versionLen);
// Copies the property's value into a new NUL-terminated buffer (the caller frees it).
int SsfLibQueryProperties(SsfFuncContext* ctx, const char* name, uint32_t nameLen, char** value, uint32_t* valueLen);
int SsfLibSign(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
               int detached, int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
               SsfOctetstring* signature, uint32_t* signatureLen);
int SsfLibVerify(SsfFuncContext* ctx, const char* format, uint32_t formatLen, int detached,
                 const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                 const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                 SsfSigRcpList** signers, SsfOctetstring* content, uint32_t* contentLen);
int SsfLibEnvelope(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                   uint32_t dataLen, SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen);
int SsfLibDevelope(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* envelope,
                   uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen);
int SsfLibEncode(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                 uint32_t dataLen, SsfOctetstring* encoded, uint32_t* encodedLen);
int SsfLibDecode(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* encoded,
                 uint32_t encodedLen, SsfOctetstring* data, uint32_t* dataLen);
int SsfLibAddSign(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                  const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                  SsfSigRcpList* signers, SsfOctetstring* result, uint32_t* resultLen);
int SsfLibDigest(SsfFuncContext* ctx, const char* mdalg, uint32_t mdalgLen, const unsigned char* data, uint32_t dataLen,
                 SsfOctetstring* digest, uint32_t* digestLen);
void SsfLibDELSsfOctetstring(SsfFuncContext* ctx, SsfOctetstring* octets);
// With the context's copySignerId set, the id is first copied into a fresh
// 514-byte buffer (a longer id is cut) that is passed instead; 202 when that
// buffer cannot be had.
int SsfLibNEWSigRcpSsfInfo(SsfFuncContext* ctx, const char* id, uint32_t idLen, const char* reserved,
                           uint32_t reservedLen, const char* profile, uint32_t profileLen, const char* password,
                           uint32_t passwordLen, int result, SsfSigRcpInfo** entry);
int SsfLibINSSigRcpSsfInfo(SsfFuncContext* ctx, SsfSigRcpInfo* entry, SsfSigRcpList** list);
void SsfLibDELSigRcpSsfInfo(SsfFuncContext* ctx, SsfSigRcpInfo** entry);
void SsfLibDELSigRcpSsfInfoList(SsfFuncContext* ctx, SsfSigRcpList** list);
int SsfLibOpenProfile(SsfFuncContext* ctx, const char* profile, uint32_t profileLen, const char* password,
                      uint32_t passwordLen, SsfProfile** handle);
int SsfLibCloseProfile(SsfFuncContext* ctx, SsfProfile** handle);
int SsfLibCreateProfile(SsfFuncContext* ctx, const char* profile, uint32_t profileLen, const char* password,
                        uint32_t passwordLen, const char* subject, uint32_t subjectLen);
int SsfLibSignEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                 int detached, int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
                 SsfOctetstring* signature, uint32_t* signatureLen, uint32_t options);
int SsfLibVerifyEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, int detached,
                   const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                   const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                   SsfSigRcpList** signers, SsfOctetstring* content, uint32_t* contentLen, uint32_t options);
int SsfLibEnvelopeEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                     uint32_t dataLen, SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen,
                     uint32_t options);
int SsfLibDevelopeEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* envelope,
                     uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen,
                     uint32_t options);
int SsfLibCertfromASN1(SsfFuncContext* ctx, const unsigned char* der, uint32_t derLen, SsfCertificate** certificate);
int SsfLibParseCertificate(SsfFuncContext* ctx, const SsfCertificate* certificate, const char* field, uint32_t fieldLen,
                           SsfOctetstring* value, uint32_t* valueLen);
void SsfLibFreeCertificate(SsfFuncContext* ctx, SsfCertificate** certificate);
int SsfLibDecodeCrlArray(SsfFuncContext* ctx, const unsigned char* data, uint32_t dataLen, SsfCrl*** crls,
                         uint32_t* count);
void SsfLibFreeCrlArray(SsfFuncContext* ctx, SsfCrl*** crls, uint32_t count);
int SsfLibVerifyCRL(SsfFuncContext* ctx, const SsfCrl* crl, const char* profile, uint32_t profileLen,
                    const char* password, uint32_t passwordLen);
int SsfLibGetTimeStampReq(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg,
                          uint32_t mdalgLen, int certReq, const unsigned char* signature, uint32_t signatureLen,
                          SsfOctetstring* request, uint32_t* requestLen);
int SsfLibAddTimeStampResp(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* signature,
                           uint32_t signatureLen, const unsigned char* request, uint32_t requestLen,
                           const unsigned char* reply, uint32_t replyLen, const char* profile, uint32_t profileLen,
                           const char* password, uint32_t passwordLen, SsfOctetstring* stamped, uint32_t* stampedLen,
                           SsfSigRcpInfo** authority);
int SsfLibCheckCertWithCrlArray(SsfFuncContext* ctx, const SsfCertificate* certificate, SsfCrl* const* crls,
                                uint32_t count, int checkCurrent, const char* profile, uint32_t profileLen,
                                const char* password, uint32_t passwordLen, const char* time, uint32_t timeLen,
                                uint32_t* reason, SsfSigRcpInfo** entry);

// ---- Diagnostics -----------------------------------------------------------

// A name, a path or a text of the library as a report or a trace line quotes
// it: its control bytes (0x00 to 0x1F and 0x7F) written as "\xNN", so that
// it can neither split the line into lines of its own nor send control
// sequences to a terminal.  Every other byte is kept.
std::string SsfShownName(const char* name, std::size_t length);

// Hex dump of the bytes to the trace at level 2 and above, 16 a line.
void SsfSupTraceHexDump(const void* data, std::size_t length);
// The entries of a signer/recipient list to the trace at level 2 and above.
void SsfSupTraceSigRcpList(const SsfSigRcpList* list);
// Reads "name = value" lines of a text file and hands each pair (the name in
// upper case) to the callback; lines that are empty, begin with "*", hold no
// "=" or are longer than 254 characters are skipped.  0, or -1 when the file
// cannot be opened.
int SsfSupReadNameValueFile(const char* path, void (*pair)(const char* name, const char* value, void* info),
                            void* info);
