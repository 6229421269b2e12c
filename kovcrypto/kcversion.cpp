// The library's life cycle, version record, version text and properties.
//
// Test builds of the library change what it reports through compile
// definitions: KOVCR_TEST_PATCHLEVEL (another patch level) and
// KOVCR_TEST_NO_VERSION (no version record at all).
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include <cstring>
#include <string>

#include "kovcrypto/kcinternal.h"

#ifndef KOVCR_TEST_PATCHLEVEL
#define KOVCR_TEST_PATCHLEVEL 35
#endif

#define KOVCR_STR2(x) #x
#define KOVCR_STR(x) KOVCR_STR2(x)
#define KOVCR_VERSION_TEXT "8.5.1"

using namespace kc;

extern "C" {

int kovcr_init(void)
{
    OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS | OPENSSL_INIT_ADD_ALL_CIPHERS, nullptr);
    return 0;
}

// The toolkit keeps its own state until the process ends; nothing to undo.
int kovcr_done(void)
{
    return 0;
}

#ifndef KOVCR_TEST_NO_VERSION
int kovcr_get_version(const KovCrVersion** record)
{
    static const KovCrVersion version = {
        8,
        5,
        1,
        KOVCR_TEST_PATCHLEVEL,
        "openssl-" OPENSSL_FULL_VERSION_STR,
        sizeof(KovCrVersion),
        0x103,
        "KOVCRYPTOLIB " KOVCR_VERSION_TEXT
        " patch level " KOVCR_STR(KOVCR_TEST_PATCHLEVEL) " on OpenSSL " OPENSSL_FULL_VERSION_STR,
        OPENSSL_VERSION_TEXT,
        nullptr,
    };
    if (record == nullptr)
        return SSF_API_INVALID_FUNCARGS;
    *record = &version;
    return SSF_API_OK;
}
#endif

int SsfVersion(SsfOctetstring* version, uint32_t* versionLen)
{
    BeginCall();
    if (version == nullptr || versionLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfVersion: no output given");
    const std::string text = std::string("KOVCRYPTOLIB Version " KOVCR_VERSION_TEXT " patch level ") +
                             KOVCR_STR(KOVCR_TEST_PATCHLEVEL) " on " + OpenSSL_version(OPENSSL_VERSION);
    if (!MakeOctets(text.data(), text.size(), version, versionLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for the version text");
    return SSF_API_OK;
}

int SsfQueryProperties(const char* name, uint32_t nameLen, SsfOctetstring* value, uint32_t* valueLen)
{
    BeginCall();
    if (value == nullptr || valueLen == nullptr)
        return Fail(SSF_API_INVALID_FUNCARGS, "SsfQueryProperties: no output given");
    *value = nullptr;
    *valueLen = 0;
    if (Text(name, nameLen) != "FIPS_140_2")
        return Fail(SSF_API_INVALID_FUNCARGS, "unknown property \"%s\"", Text(name, nameLen).c_str());
    const char* v = EVP_default_properties_is_fips_enabled(nullptr) ? "1" : "0";
    if (!MakeOctets(v, 1, value, valueLen))
        return Fail(SSF_API_NOMEMORY, "out of memory for a property");
    return SSF_API_OK;
}

}  // extern "C"
