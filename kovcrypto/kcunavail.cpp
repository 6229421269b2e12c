// Functions of the table that this library does not provide: each reports
// that the function is not available and touches nothing.
#include "kovcrypto/ssfapi.h"

extern "C" {

int SsfEnvelope(const char*, uint32_t, const unsigned char*, uint32_t, SsfSigRcpList*, SsfOctetstring*, uint32_t*)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfDevelope(const char*, uint32_t, const unsigned char*, uint32_t, SsfSigRcpList*, SsfOctetstring*, uint32_t*)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfAddSign(const char*, uint32_t, const char*, uint32_t, const unsigned char*, uint32_t, const unsigned char*,
               uint32_t, SsfSigRcpList*, SsfOctetstring*, uint32_t*)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfDigest(const char*, uint32_t, const unsigned char*, uint32_t, SsfOctetstring*, uint32_t*)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfOpenProfile(const char*, uint32_t, const char*, uint32_t, SsfProfile**)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfCloseProfile(SsfProfile**)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfCreateProfile(const char*, uint32_t, const char*, uint32_t, const char*, uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfSignEx(const char*, uint32_t, const char*, uint32_t, int, int, const unsigned char*, uint32_t, SsfSigRcpList*,
              SsfOctetstring*, uint32_t*, uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfVerifyEx(const char*, uint32_t, int, const unsigned char*, uint32_t, const unsigned char*, uint32_t, const char*,
                uint32_t, const char*, uint32_t, SsfSigRcpList**, SsfOctetstring*, uint32_t*, uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfEnvelopeEx(const char*, uint32_t, const unsigned char*, uint32_t, SsfSigRcpList*, SsfOctetstring*, uint32_t*,
                  uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfDevelopeEx(const char*, uint32_t, const unsigned char*, uint32_t, SsfSigRcpList*, SsfOctetstring*, uint32_t*,
                  uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}
int SsfVerifyCRL(const SsfCrl*, const char*, uint32_t, const char*, uint32_t)
{
    return SSF_API_SECTK_FUNCTION_NOT_AVAIL;
}

#define KOVCR_NOT_PROVIDED(name) \
    int name(void) \
    { \
        return SSF_API_SECTK_FUNCTION_NOT_AVAIL; \
    }
KOVCR_NOT_PROVIDED(SsfRemoveProfile)
KOVCR_NOT_PROVIDED(SsfGetOwnCertificate)
KOVCR_NOT_PROVIDED(SsfGetCertificate)
KOVCR_NOT_PROVIDED(SsfPutCertificate)
KOVCR_NOT_PROVIDED(SsfRemoveCertificate)
KOVCR_NOT_PROVIDED(SsfGetCertificateList)
KOVCR_NOT_PROVIDED(SsfEnumCertificateList)
KOVCR_NOT_PROVIDED(SsfFreeCertificateList)
KOVCR_NOT_PROVIDED(SsfGetCertificateRequest)
KOVCR_NOT_PROVIDED(SsfPutCertificateResponse)
KOVCR_NOT_PROVIDED(kovtelmir_parseobject)
KOVCR_NOT_PROVIDED(kov_secin)
KOVCR_NOT_PROVIDED(kov_create_memory_PSE)
KOVCR_NOT_PROVIDED(kov_delete_memory_PSE)
KOVCR_NOT_PROVIDED(kov_load_memory_PSE)
KOVCR_NOT_PROVIDED(kov_save_memory_PSE)
KOVCR_NOT_PROVIDED(SsfParseCRL)
KOVCR_NOT_PROVIDED(SsfFreeCrlList)
KOVCR_NOT_PROVIDED(SsfGetCrlDpArrayFromCert)
KOVCR_NOT_PROVIDED(SsfFreeCrlDpArray)

}  // extern "C"
