// Timestamp requests: the record and its result block, and the request
// itself between the crypto library's making of the RFC 3161 request and its
// merging of the authority's reply into the signature.
#include <cstdlib>
#include <cstring>

#include "krn/snt/smfcrypto.h"
#include "krn/snt/smftsa.h"

namespace {

const char* OrNull(const char* text)
{
    return text ? text : "<NULL>";
}

// Steps 1 and 2: the crypto library makes the request.
int MakeRequest(SmfUtilTimestampRequestRec* r, SmfUtilMsg* msg, SsfOctetstring* req, uint32_t* reqLen)
{
    if (!r->crypto || !r->crypto->present[SSF_FLAG_GETTIMESTAMPREQ]) {
        SMF_TRACE(0, msg, "KOVCRYPTOLIB does not contain function \"SsfGetTimeStampReq()\"");
        return SMFUTIL_ECRYPTO;
    }
    const int rc = SsfLibGetTimeStampReq(r->crypto, r->format, SmfLen(r->format), r->digestAlgorithm,
                                         SmfLen(r->digestAlgorithm), 1, r->signature, r->signatureLength, req, reqLen);
    if (rc != 0) {
        r->cryptoRc = rc;
        SMF_TRACE(0, msg, "SsfLibGetTimeStampReq() == %d", rc);
        SmfUtilTraceSsfError(msg, r->crypto, rc);
        return SMFUTIL_ECRYPTO;
    }
    SmfUtilDebugDump(msg, r->signature, r->signatureLength, "signature_for_timestamp_request",
                     "Signature for which the timestamp request is created");
    SmfUtilDebugDump(msg, *req, *reqLen, "timestamp_request", "Timestamp request");
    return SMFUTIL_OK;
}

// Step 12 and 13: the library merges the reply; the caller gets a copy.
int MergeReply(SmfUtilTimestampRequestRec* r, SmfUtilMsg* msg, const SsfOctetstring req, uint32_t reqLen,
               const unsigned char* reply, int32_t replyLen, SsfOctetstring* stamped, SsfSigRcpInfo** authority)
{
    if (!r->crypto->present[SSF_FLAG_ADDTIMESTAMPRESP]) {
        SMF_TRACE(0, msg, "KOVCRYPTOLIB does not contain function \"SsfAddTimeStampResp()\"");
        return SMFUTIL_ECRYPTO;
    }
    uint32_t stampedLen = 0;
    const int rc = SsfLibAddTimeStampResp(r->crypto, r->format, SmfLen(r->format), r->signature, r->signatureLength,
                                          req, reqLen, reply, static_cast<uint32_t>(replyLen), r->pse, SmfLen(r->pse),
                                          r->psePassword, SmfLen(r->psePassword), stamped, &stampedLen, authority);
    if (rc != 0) {
        r->cryptoRc = rc;
        SMF_TRACE(0, msg, "SsfLibAddTimeStampResp() == %d", rc);
        SmfUtilTraceSsfError(msg, r->crypto, rc);
        return SMFUTIL_ECRYPTO;
    }
    if (*authority)
        SMF_TRACE(2, msg, "Timestamp signer info: RcpId = \"%s\", uResult = %d", OrNull((*authority)->id),
                  (*authority)->result);
    SmfUtilDebugDump(msg, *stamped, stampedLen, "signature_with_timestamp", "Signature with embedded timestamp");
    r->stamped = static_cast<unsigned char*>(SMF_ALLOC(SMFUTIL_BYTES, stampedLen, 0));
    if (!r->stamped)
        return SMFUTIL_ENOMEM;
    std::memcpy(r->stamped, *stamped, stampedLen);
    r->stampedLength = stampedLen;
    SMF_TRACE(3, msg, "Output data::\nSignature with timestamp length : %d", static_cast<int>(stampedLen));
    SMF_TRACE(3, msg, "Output signature with timestamp:\n");
    SmfUtilDump(msg, r->stamped, stampedLen, false, 0);
    return SMFUTIL_OK;
}

}  // namespace

void SmfUtilTraceSsfError(SmfUtilMsg* msg, SsfFuncContext* ctx, int ssfRc)
{
    char* last = ctx ? SmfCryptoLastErrorText(ctx, 0, ssfRc, 0) : nullptr;
    SMF_TRACE(0, msg,
              "SsfErrorName(%d) == \"%s\", SsfErrorDescription(%d) == \"%s\", Last error from KOVCRYPTOLIB: \"%s\"",
              ssfRc, OrNull(SsfErrorName(ssfRc)), ssfRc, OrNull(SsfErrorDescription(ssfRc)), OrNull(last));
    std::free(last);
}

SmfUtilTimestampRequestRec* SmfUtilCreateTimestampRequest()
{
    SmfUtilResetLowMemory();
    auto* r = static_cast<SmfUtilTimestampRequestRec*>(SMF_ALLOC(SMFUTIL_BYTES, sizeof(SmfUtilTimestampRequestRec), 0));
    auto* result = static_cast<SmfUtilResult*>(SMF_ALLOC(SMFUTIL_BYTES, sizeof(SmfUtilResult), 0));
    auto* block = static_cast<SmfUtilMsg*>(SMF_ALLOC(SMFUTIL_BYTES, sizeof(SmfUtilMsg), 0));
    if (!r || !result || !block) {
        SMF_FREE(r);
        SMF_FREE(result);
        SMF_FREE(block);
        return nullptr;
    }
    *r = SmfUtilTimestampRequestRec{};
    *result = SmfUtilResult{0, nullptr, block};
    *block = SmfUtilMsg{};
    r->result = result;
    return r;
}

void SmfUtilFreeTimestampRequest(SmfUtilTimestampRequestRec* r)
{
    if (!r)
        return;
    if (r->result) {
        if (r->result->message != SMFUTIL_LOW_MEMORY_TEXT)
            SMF_FREE(r->result->message);
        if (r->result->msgBlock) {
            SmfUtilFreeMsg(r->result->msgBlock);
            SMF_FREE(r->result->msgBlock);
        }
        SMF_FREE(r->result);
    }
    SMF_FREE(r->stamped);
    SMF_FREE(r);
}

int SmfUtilTimestampRequest(SmfUtilTimestampRequestRec* r)
{
    if (!r || !r->result || !r->result->msgBlock)
        return SMFUTIL_EUSAGE;
    SmfUtilMsg* msg = r->result->msgBlock;
    SMF_TRACE(2, msg, "Entering function \"%s\"", "SmfUtilTimestampRequest");
    char* proxyShown = SmfUtilShowableURL(r->proxyUrl);
    SMF_TRACE(3, msg,
              "Input data::\nSignature Length        : %d\nSignature PSE Path      : %s\nSignature PSE Password  : "
              "%s\nTimestamp Authority URL : Not traced here, might contain password; check trace of method "
              "SmfUtilSplitURL()\nHTTP Proxy URL          : %s",
              static_cast<int>(r->signatureLength), OrNull(r->pse), r->psePassword ? "<Present>" : "<NULL>",
              OrNull(proxyShown));
    std::free(proxyShown);
    SMF_TRACE(3, msg, "Input signature:\n");
    SmfUtilDump(msg, r->signature, r->signatureLength, false, 0);

    SsfOctetstring req = nullptr;
    uint32_t reqLen = 0;
    unsigned char* reply = nullptr;
    int32_t replyLen = 0;
    SsfOctetstring stamped = nullptr;
    SsfSigRcpInfo* authority = nullptr;
    int rc = MakeRequest(r, msg, &req, &reqLen);
    if (rc == SMFUTIL_OK && reqLen > static_cast<uint32_t>(INT32_MAX)) {
        SMF_TRACE(0, msg, "SsfLibGetTimeStampReq() made a request of %u bytes", reqLen);
        rc = SMFUTIL_ECRYPTO;
    }
    if (rc == SMFUTIL_OK) {
        rc = SmfTsaExchange(msg, r->tsaUrl, r->proxyUrl, req, static_cast<int32_t>(reqLen), &reply, &replyLen);
        if (rc == SMFUTIL_OK)
            SmfUtilDebugDump(msg, reply, static_cast<size_t>(replyLen), "timestamp_response", "Timestamp response");
    }
    if (rc == SMFUTIL_OK)
        rc = MergeReply(r, msg, req, reqLen, reply, replyLen, &stamped, &authority);
    if (req)
        SsfLibDELSsfOctetstring(r->crypto, &req);
    if (stamped)
        SsfLibDELSsfOctetstring(r->crypto, &stamped);
    if (authority)
        SsfLibDELSigRcpSsfInfo(r->crypto, &authority);
    SMF_FREE(reply);

    if (SmfUtilLowMemory()) {
        rc = SMFUTIL_ENOMEM;
        r->result->message = const_cast<char*>(SMFUTIL_LOW_MEMORY_TEXT);
    } else if (msg->text) {
        r->result->message = SMF_STRNDUP(msg->text, std::strlen(msg->text));
    }
    if (rc != SMFUTIL_OK) {
        SMF_FREE(r->stamped);
        r->stamped = nullptr;
        r->stampedLength = 0;
    }
    r->result->result = rc;
    SmfUtilFreeMsg(msg);
    SMF_TRACE(2, msg, "Exiting function \"%s\" with return code %d (message: %s)", "SmfUtilTimestampRequest", rc,
              r->result->message ? r->result->message : "<No message available>");
    return rc;
}
