// Names and texts of the crypto library's return codes.
#include <cstdio>

#include "crypto/ssfload.h"

namespace {

struct SsfErrorDesc {
    int code;
    const char* name;
    const char* text;
};

#define SSF_ROW(name, text) \
    { \
        name, #name, text \
    }

// In ascending code order.
const SsfErrorDesc ssf_error_desc[] = {
    SSF_ROW(SSF_API_OK, "Success"),
    SSF_ROW(SSF_API_NOSECTK, "No Security Toolkit found"),
    SSF_ROW(SSF_API_INVALID_FORMAT, "Invalid or unsupported format"),
    SSF_ROW(SSF_API_NODATA, "Input data (parameter) is missing (=zero length)"),
    SSF_ROW(SSF_API_NOMEMORY, "Memory or resource allocation failed (out of memory?)"),
    SSF_ROW(SSF_API_SIGNER_ERRORS, "At least one signer failed; see the signer results"),
    SSF_ROW(SSF_API_NORESULTLISTMEMORY, "No memory for the result list"),
    SSF_ROW(SSF_API_UNKNOWN_PAB, "Unknown address book"),
    SSF_ROW(SSF_API_INVALID_PAB_PASSWORD, "Invalid password of the address book"),
    SSF_ROW(SSF_API_RECIPIENT_ERRORS, "At least one recipient failed; see the recipient results"),
    SSF_ROW(SSF_API_INVALID_MDALG, "Invalid or unsupported message digest algorithm"),
    SSF_ROW(SSF_API_ENCODE_FAILED, "Encoding failed"),
    SSF_ROW(SSF_API_DECODE_FAILED, "Decoding failed"),
    SSF_ROW(SSF_API_UNKNOWN_SECTK_ERROR, "Unknown error of the security toolkit"),
    SSF_ROW(SSF_API_SECTK_FUNCTION_NOT_AVAIL, "Security toolkit does not contain or provide requested API-function"),
    SSF_ROW(SSF_API_INVALID_FUNCARGS, "Invalid function arguments"),
    SSF_ROW(SSF_API_INTERNAL_BUG, "Internal error of the security toolkit"),
    SSF_ROW(SSF_API_INSECURE_MDALG, "MDALG is insecure and no longer supported for requested purpose"),
    SSF_ROW(SSF_API_CERT_EXPIRED, "Certificate expired or not yet valid"),
    SSF_ROW(SSF_API_PROFILE_LOCKED, "Profile (PSE) is locked"),
    SSF_ROW(SSF_API_UNKNOWN_SIGNER, "Unknown signer: no trusted certificate for it"),
    SSF_ROW(SSF_API_UNKNOWN_PROFILE, "Unknown profile (PSE)"),
    SSF_ROW(SSF_API_INVALID_PROFILE, "Invalid profile (PSE)"),
    SSF_ROW(SSF_API_INVALID_PASSWORD, "Invalid password (PIN) of the profile"),
    SSF_ROW(SSF_API_NOCERTIFICATE, "No certificate found"),
    SSF_ROW(SSF_API_SIGNER_NOT_OK, "Signature is not valid"),
    SSF_ROW(SSF_API_UNDEFINED_RESULT, "Undefined result"),
    SSF_ROW(SSF_API_BAD_NAME, "Bad name"),
    SSF_ROW(SSF_API_ALG_MISMATCH, "Algorithm mismatch"),
    SSF_ROW(SSF_API_REVOCATION_CERT_REVOKED, "Certificate is revoked"),
    SSF_ROW(SSF_API_REVOCATION_CHECK_FAILED, "Revocation check failed"),
    SSF_ROW(SSF_API_REVOCATION_CHECK_ERROR, "Error during the revocation check"),
    SSF_ROW(SSF_API_REVOCATION_CERT_UNKNOWN, "Revocation status of the certificate is unknown"),
    SSF_ROW(SSF_API_REVOCATION_CERT_ON_HOLD, "Certificate is on hold"),
    SSF_ROW(SSF_API_BAD_CERT, "Bad certificate"),
    SSF_ROW(SSF_API_BAD_CRLSIGNER_CERT, "Bad or missing certificate of the CRL issuer"),
    SSF_ROW(SSF_API_BAD_CRL, "Bad certificate revocation list"),
    SSF_ROW(SSF_API_NO_CRL_FOR_CERT, "No certificate revocation list for the certificate"),
    SSF_ROW(SSF_API_CRL_OUTDATED, "Certificate revocation list is outdated"),
    SSF_ROW(SSF_API_CRL_SIGNATURE_NOT_VERIFIED, "Signature of the certificate revocation list not verified"),
    SSF_ROW(SSF_AUX_NOMEMORY, "No memory for an auxiliary structure"),
    SSF_ROW(SSF_AUX_NOSIGRCPID, "No signer/recipient identifier"),
    SSF_ROW(SSF_AUX_NOSIGRCPINFO, "No signer/recipient information"),
    SSF_ROW(SSF_AUX_NOSIGRCPINFOLIST, "No signer/recipient information list"),
    SSF_ROW(SSF_API_CHAINBUILD_ERROR, "Certificate chain could not be built"),
    SSF_ROW(SSF_API_CHAINPARSE_ERROR, "Certificate chain could not be parsed"),
    SSF_ROW(SSF_KRN_NOOP, "No operation"),
    SSF_ROW(SSF_KRN_NOMEMORY, "Out of memory"),
    SSF_ROW(SSF_KRN_OPINV, "Invalid operation"),
    SSF_ROW(SSF_KRN_NOSSFLIB, "No SSF library"),
    SSF_ROW(SSF_KRN_SIGNER_LIST_ERROR, "Error in the signer list"),
    SSF_ROW(SSF_KRN_RECIPIENT_ERROR, "Error in the recipient list"),
    SSF_ROW(SSF_KRN_INPUT_DATA_ERROR, "Error in the input data"),
    SSF_ROW(SSF_KRN_INVALID_PAR, "Invalid parameter"),
    SSF_ROW(SSF_KRN_INVALID_PARLEN, "Invalid parameter length"),
    SSF_ROW(SSF_API_ERROR_DECODING_PKCS7, "Error decoding the PKCS#7 structure"),
    SSF_ROW(SSF_API_ERROR_WRONG_PK, "Wrong public key"),
    SSF_ROW(SSF_API_ERROR_UPDATE_CERT, "Error updating the certificate"),
    SSF_ROW(SSF_API_ERROR_UPDATE_PKROOT, "Error updating the root key"),
    SSF_ROW(SSF_API_ERROR_UPDATE_FCPATH, "Error updating the certification path"),
    SSF_ROW(SSF_API_ERROR_DECODING_X509, "Error decoding the X.509 certificate"),
    SSF_ROW(SSF_API_ERROR_DECODING_BASE64, "Error decoding Base64"),
    SSF_ROW(SSF_API_ERROR_DECODING_PEM, "Error decoding PEM"),
    SSF_ROW(SSF_API_ERROR_VERIFY_CERT, "Certificate verification failed"),
    SSF_ROW(SSF_API_ERROR_DECODING_INPUT, "Error decoding the input"),
    SSF_ROW(SSF_API_ERROR_READING_INPUT, "Error reading the input"),
    SSF_ROW(SSF_API_ERROR_NO_RESOURCES, "No resources"),
    SSF_ROW(SSF_API_ERROR_INCOMPLETE_CERT_PATH, "Incomplete certification path"),
    SSF_ROW(SSF_API_ERROR_CREATE_KEYVALUE, "Error creating the key value"),
    SSF_ROW(SSF_API_ERROR_UNSUPPORTED_KEYVALUE, "Unsupported key value"),
    SSF_ROW(SSF_API_ERROR_PARSE_KEYVALUE, "Error parsing the key value"),
    SSF_ROW(SSF_API_ERROR_DECODING_TSTAMP_REQ, "Error decoding the RFC3161 TimeStamp request"),
    SSF_ROW(SSF_API_ERROR_DECODING_TSTAMP_RESP, "Error decoding the RFC3161 TimeStamp response"),
    SSF_ROW(SSF_API_ERROR_DECODING_TSTOKEN, "Error decoding the RFC3161 TimeStamp token"),
    SSF_ROW(SSF_API_ERROR_DECODING_TSTINFO, "Error decoding the RFC3161 TimeStamp info"),
    SSF_ROW(SSF_API_MISSING_TSTOKEN, "RFC3161 TimeStamp token is missing"),
    SSF_ROW(SSF_API_BAD_TSTOKEN, "RFC3161 TimeStamp token is not valid"),
    SSF_ROW(SSF_API_BAD_TSTINFO, "RFC3161 TimeStamp info does not match the signature"),
    SSF_ROW(SSF_API_WRONG_TSTAMP_RESP, "RFC3161 TimeStamp response does not grant or answer the request"),
    SSF_ROW(SSF_API_PKCS7_NO_SIGNEDDATA, "PKCS#7 structure is not signed data"),
    SSF_ROW(SSF_API_PKCS7_BAD_SIGNEDDATA, "PKCS#7 signed data is not valid"),
    SSF_ROW(SSF_API_BAD_TSA_CERT, "Certificate of the RFC3161 TimeStamp authority is not valid"),
    SSF_ROW(SSF_API_SIGNER_CERT_EXPIRED_BEFORE_TSTAMP, "Signer certificate expired before the RFC3161 TimeStamp"),
    SSF_ROW(SSF_API_PKCS7_SD_BAD_SIGNERINFO, "PKCS#7 signed data has a bad signer info"),
    SSF_ROW(SSF_API_TSTAMP_FROM_THE_FUTURE, "RFC3161 TimeStamp genTime lies in the future"),
    SSF_ROW(SSF_API_TSTAMP_ONLY_WITH_SINGLE_SIGNER, "RFC3161 TimeStamp only supported with a single signer"),
    SSF_ROW(SSF_API_PKCS7_WITHOUT_TSTAMP, "PKCS#7 signature without RFC3161 TimeStamp"),
    SSF_ROW(SSF_API_TSTAMP_NOT_FRESH, "RFC3161 TimeStamp genTime is not \"fresh\" -- clock skew?"),
    SSF_ROW(SSF_API_TSTAMP_OUTSIDE_TSA_CERT_VALIDITY,
            "RFC3161 TimeStamp genTime is outside of TSA Certificate validity"),
};

#undef SSF_ROW

// Formatted text of an unknown code; process-wide, like the rest of this layer.
char g_unknownText[32];

const SsfErrorDesc* Find(int rc)
{
    std::size_t lo = 0;
    std::size_t hi = sizeof ssf_error_desc / sizeof ssf_error_desc[0];
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (ssf_error_desc[mid].code < rc)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < sizeof ssf_error_desc / sizeof ssf_error_desc[0] && ssf_error_desc[lo].code == rc)
        return &ssf_error_desc[lo];
    std::snprintf(g_unknownText, sizeof g_unknownText, "Unknown SSF-RC 0x%08x", static_cast<unsigned>(rc));
    return nullptr;
}

}  // namespace

const char* SsfErrorName(int rc)
{
    const SsfErrorDesc* d = Find(rc);
    return d != nullptr ? d->name : g_unknownText;
}

const char* SsfErrorDescription(int rc)
{
    const SsfErrorDesc* d = Find(rc);
    return d != nullptr ? d->text : g_unknownText;
}
