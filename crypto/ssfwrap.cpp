// One wrapper per function of the crypto library: the arguments go unchanged
// to the function's slot.  A NULL context gives SSF_API_NOSECTK, an empty
// slot SSF_API_SECTK_FUNCTION_NOT_AVAIL; the extended signing and enveloping
// functions give SSF_API_SECTK_FUNCTION_NOT_AVAIL for both.
#include <cstdlib>
#include <cstring>

#include "crypto/ssfload.h"

namespace {

template <typename Fn>
Fn SlotOf(const SsfFuncContext* ctx, int slot)
{
    return ctx == nullptr ? nullptr : reinterpret_cast<Fn>(ctx->slot[slot]);
}

// Copies an octet string of the library into a new NUL-terminated buffer of
// ours and gives the library's back.
int CopyOctets(SsfFuncContext* ctx, SsfOctetstring octets, uint32_t length, char** out, uint32_t* outLen)
{
    int rc = SSF_API_OK;
    auto* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (copy == nullptr) {
        rc = SSF_API_NOMEMORY;
    } else {
        if (length != 0 && octets != nullptr)
            std::memcpy(copy, octets, length);
        copy[octets != nullptr ? length : 0] = '\0';
        *out = copy;
        if (outLen != nullptr)
            *outLen = octets != nullptr ? length : 0;
    }
    SsfLibDELSsfOctetstring(ctx, &octets);
    return rc;
}

// Calls a function of the slot that hands out a text as an octet string
// (its last two arguments) and returns a copy of the text.
template <typename Fn, typename... Args>
int CallForText(SsfFuncContext* ctx, int slot, char** out, uint32_t* outLen, Args... args)
{
    if (ctx == nullptr)
        return SSF_API_NOSECTK;
    const Fn f = SlotOf<Fn>(ctx, slot);
    if (f == nullptr)
        return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
    if (out == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    SsfOctetstring octets = nullptr;
    uint32_t length = 0;
    const int rc = f(args..., &octets, &length);
    if (rc != SSF_API_OK) {
        SsfLibDELSsfOctetstring(ctx, &octets);
        return rc;
    }
    return CopyOctets(ctx, octets, length, out, outLen);
}

}  // namespace

// Forwards to the slot; nullRc is the result for a NULL context.
#define SSF_FORWARD(nullRc, slotNo, fn, ...) \
    do { \
        if (ctx == nullptr) \
            return (nullRc); \
        auto f_ = SlotOf<decltype(&fn)>(ctx, (slotNo)); \
        return f_ != nullptr ? f_(__VA_ARGS__) : SSF_API_SECTK_FUNCTION_NOT_AVAIL; \
    } while (0)

#define SSF_FORWARD_VOID(slotNo, fn, ...) \
    do { \
        auto f_ = SlotOf<decltype(&fn)>(ctx, (slotNo)); \
        if (f_ != nullptr) \
            f_(__VA_ARGS__); \
    } while (0)

int SsfLibVersion(SsfFuncContext* ctx, char** version, uint32_t* versionLen)
{
    return CallForText<decltype(&SsfVersion)>(ctx, SSF_SLOT_VERSION, version, versionLen);
}

int SsfLibQueryProperties(SsfFuncContext* ctx, const char* name, uint32_t nameLen, char** value, uint32_t* valueLen)
{
    return CallForText<decltype(&SsfQueryProperties)>(ctx, SSF_SLOT_QUERYPROPERTIES, value, valueLen, name, nameLen);
}

int SsfLibSign(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
               int detached, int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
               SsfOctetstring* signature, uint32_t* signatureLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_SIGN, SsfSign, format, formatLen, mdalg, mdalgLen, detached, includeCerts,
                data, dataLen, signers, signature, signatureLen);
}

int SsfLibVerify(SsfFuncContext* ctx, const char* format, uint32_t formatLen, int detached,
                 const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                 const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                 SsfSigRcpList** signers, SsfOctetstring* content, uint32_t* contentLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_VERIFY, SsfVerify, format, formatLen, detached, signature, signatureLen, data,
                dataLen, profile, profileLen, password, passwordLen, signers, content, contentLen);
}

int SsfLibEnvelope(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                   uint32_t dataLen, SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_ENVELOPE, SsfEnvelope, format, formatLen, data, dataLen, recipients, envelope,
                envelopeLen);
}

int SsfLibDevelope(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* envelope,
                   uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_DEVELOPE, SsfDevelope, format, formatLen, envelope, envelopeLen, recipients,
                data, dataLen);
}

int SsfLibEncode(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                 uint32_t dataLen, SsfOctetstring* encoded, uint32_t* encodedLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_ENCODE, SsfEncode, format, formatLen, data, dataLen, encoded, encodedLen);
}

int SsfLibDecode(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* encoded,
                 uint32_t encodedLen, SsfOctetstring* data, uint32_t* dataLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_DECODE, SsfDecode, format, formatLen, encoded, encodedLen, data, dataLen);
}

int SsfLibAddSign(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                  const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                  SsfSigRcpList* signers, SsfOctetstring* result, uint32_t* resultLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_ADDSIGN, SsfAddSign, format, formatLen, mdalg, mdalgLen, signature,
                signatureLen, data, dataLen, signers, result, resultLen);
}

int SsfLibDigest(SsfFuncContext* ctx, const char* mdalg, uint32_t mdalgLen, const unsigned char* data, uint32_t dataLen,
                 SsfOctetstring* digest, uint32_t* digestLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_DIGEST, SsfDigest, mdalg, mdalgLen, data, dataLen, digest, digestLen);
}

void SsfLibDELSsfOctetstring(SsfFuncContext* ctx, SsfOctetstring* octets)
{
    SSF_FORWARD_VOID(SSF_SLOT_DELOCTETSTRING, SsfDELSsfOctetstring, octets);
}

int SsfLibNEWSigRcpSsfInfo(SsfFuncContext* ctx, const char* id, uint32_t idLen, const char* reserved,
                           uint32_t reservedLen, const char* profile, uint32_t profileLen, const char* password,
                           uint32_t passwordLen, int result, SsfSigRcpInfo** entry)
{
    if (ctx == nullptr)
        return SSF_API_NOSECTK;
    auto f = SlotOf<decltype(&SsfNEWSigRcpSsfInfo)>(ctx, SSF_SLOT_NEWSIGRCPINFO);
    if (f == nullptr)
        return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
    if (!ctx->copySignerId)
        return f(id, idLen, reserved, reservedLen, profile, profileLen, password, passwordLen, result, entry);
    constexpr uint32_t kIdCopy = 514;
    auto* copy = static_cast<char*>(std::calloc(kIdCopy, 1));
    if (copy == nullptr)
        return SSF_KRN_NOMEMORY;
    const uint32_t n = id == nullptr ? 0 : (idLen < kIdCopy ? idLen : kIdCopy);
    if (n != 0)
        std::memcpy(copy, id, n);
    const int rc = f(copy, n, reserved, reservedLen, profile, profileLen, password, passwordLen, result, entry);
    std::free(copy);
    return rc;
}

int SsfLibINSSigRcpSsfInfo(SsfFuncContext* ctx, SsfSigRcpInfo* entry, SsfSigRcpList** list)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_INSSIGRCPINFO, SsfINSSigRcpSsfInfo, entry, list);
}

void SsfLibDELSigRcpSsfInfo(SsfFuncContext* ctx, SsfSigRcpInfo** entry)
{
    SSF_FORWARD_VOID(SSF_SLOT_DELSIGRCPINFO, SsfDELSigRcpSsfInfo, entry);
}

void SsfLibDELSigRcpSsfInfoList(SsfFuncContext* ctx, SsfSigRcpList** list)
{
    SSF_FORWARD_VOID(SSF_SLOT_DELSIGRCPINFOLIST, SsfDELSigRcpSsfInfoList, list);
}

int SsfLibOpenProfile(SsfFuncContext* ctx, const char* profile, uint32_t profileLen, const char* password,
                      uint32_t passwordLen, SsfProfile** handle)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_OPENPROFILE, SsfOpenProfile, profile, profileLen, password, passwordLen,
                handle);
}

int SsfLibCloseProfile(SsfFuncContext* ctx, SsfProfile** handle)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_CLOSEPROFILE, SsfCloseProfile, handle);
}

int SsfLibCreateProfile(SsfFuncContext* ctx, const char* profile, uint32_t profileLen, const char* password,
                        uint32_t passwordLen, const char* subject, uint32_t subjectLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_CREATEPROFILE, SsfCreateProfile, profile, profileLen, password, passwordLen,
                subject, subjectLen);
}

int SsfLibSignEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg, uint32_t mdalgLen,
                 int detached, int includeCerts, const unsigned char* data, uint32_t dataLen, SsfSigRcpList* signers,
                 SsfOctetstring* signature, uint32_t* signatureLen, uint32_t options)
{
    SSF_FORWARD(SSF_API_SECTK_FUNCTION_NOT_AVAIL, SSF_SLOT_SIGNEX, SsfSignEx, format, formatLen, mdalg, mdalgLen,
                detached, includeCerts, data, dataLen, signers, signature, signatureLen, options);
}

int SsfLibVerifyEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, int detached,
                   const unsigned char* signature, uint32_t signatureLen, const unsigned char* data, uint32_t dataLen,
                   const char* profile, uint32_t profileLen, const char* password, uint32_t passwordLen,
                   SsfSigRcpList** signers, SsfOctetstring* content, uint32_t* contentLen, uint32_t options)
{
    SSF_FORWARD(SSF_API_SECTK_FUNCTION_NOT_AVAIL, SSF_SLOT_VERIFYEX, SsfVerifyEx, format, formatLen, detached,
                signature, signatureLen, data, dataLen, profile, profileLen, password, passwordLen, signers, content,
                contentLen, options);
}

int SsfLibEnvelopeEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* data,
                     uint32_t dataLen, SsfSigRcpList* recipients, SsfOctetstring* envelope, uint32_t* envelopeLen,
                     uint32_t options)
{
    SSF_FORWARD(SSF_API_SECTK_FUNCTION_NOT_AVAIL, SSF_SLOT_ENVELOPEEX, SsfEnvelopeEx, format, formatLen, data, dataLen,
                recipients, envelope, envelopeLen, options);
}

int SsfLibDevelopeEx(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* envelope,
                     uint32_t envelopeLen, SsfSigRcpList* recipients, SsfOctetstring* data, uint32_t* dataLen,
                     uint32_t options)
{
    SSF_FORWARD(SSF_API_SECTK_FUNCTION_NOT_AVAIL, SSF_SLOT_DEVELOPEEX, SsfDevelopeEx, format, formatLen, envelope,
                envelopeLen, recipients, data, dataLen, options);
}

int SsfLibCertfromASN1(SsfFuncContext* ctx, const unsigned char* der, uint32_t derLen, SsfCertificate** certificate)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_CERTFROMASN1, SsfCertfromASN1, der, derLen, certificate);
}

int SsfLibParseCertificate(SsfFuncContext* ctx, const SsfCertificate* certificate, const char* field, uint32_t fieldLen,
                           SsfOctetstring* value, uint32_t* valueLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_PARSECERTIFICATE, SsfParseCertificate, certificate, field, fieldLen, value,
                valueLen);
}

void SsfLibFreeCertificate(SsfFuncContext* ctx, SsfCertificate** certificate)
{
    SSF_FORWARD_VOID(SSF_SLOT_FREECERTIFICATE, SsfFreeCertificate, certificate);
}

int SsfLibDecodeCrlArray(SsfFuncContext* ctx, const unsigned char* data, uint32_t dataLen, SsfCrl*** crls,
                         uint32_t* count)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_DECODECRLARRAY, SsfDecodeCrlArray, data, dataLen, crls, count);
}

void SsfLibFreeCrlArray(SsfFuncContext* ctx, SsfCrl*** crls, uint32_t count)
{
    SSF_FORWARD_VOID(SSF_SLOT_FREECRLARRAY, SsfFreeCrlArray, crls, count);
}

int SsfLibVerifyCRL(SsfFuncContext* ctx, const SsfCrl* crl, const char* profile, uint32_t profileLen,
                    const char* password, uint32_t passwordLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_VERIFYCRL, SsfVerifyCRL, crl, profile, profileLen, password, passwordLen);
}

int SsfLibGetTimeStampReq(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const char* mdalg,
                          uint32_t mdalgLen, int certReq, const unsigned char* signature, uint32_t signatureLen,
                          SsfOctetstring* request, uint32_t* requestLen)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_GETTIMESTAMPREQ, SsfGetTimeStampReq, format, formatLen, mdalg, mdalgLen,
                certReq, signature, signatureLen, request, requestLen);
}

int SsfLibAddTimeStampResp(SsfFuncContext* ctx, const char* format, uint32_t formatLen, const unsigned char* signature,
                           uint32_t signatureLen, const unsigned char* request, uint32_t requestLen,
                           const unsigned char* reply, uint32_t replyLen, const char* profile, uint32_t profileLen,
                           const char* password, uint32_t passwordLen, SsfOctetstring* stamped, uint32_t* stampedLen,
                           SsfSigRcpInfo** authority)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_ADDTIMESTAMPRESP, SsfAddTimeStampResp, format, formatLen, signature,
                signatureLen, request, requestLen, reply, replyLen, profile, profileLen, password, passwordLen, stamped,
                stampedLen, authority);
}

int SsfLibCheckCertWithCrlArray(SsfFuncContext* ctx, const SsfCertificate* certificate, SsfCrl* const* crls,
                                uint32_t count, int checkCurrent, const char* profile, uint32_t profileLen,
                                const char* password, uint32_t passwordLen, const char* time, uint32_t timeLen,
                                uint32_t* reason, SsfSigRcpInfo** entry)
{
    SSF_FORWARD(SSF_API_NOSECTK, SSF_SLOT_CHECKCERTWITHCRLARRAY, SsfCheckCertWithCrlArray, certificate, crls, count,
                checkCurrent, profile, profileLen, password, passwordLen, time, timeLen, reason, entry);
}
