// HMAC over the digest algorithms, and PBKDF2 on top of it.
#include <cstring>

#include "crypto/hadigest.h"

namespace {

// A fill the compiler may not drop although the memory is not read again.
void Wipe(void* p, size_t n)
{
    volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
    while (n-- > 0)
        *v++ = 0;
}

// Puts the key, prepared to block size, into the started state's key block:
// a longer key is replaced by its digest, a shorter one padded with zeros.
int PrepareKey(haState_t* st, const uint8_t* key, size_t keyLen)
{
    if (st->blockSize < st->digestSize)
        return HA_EBLOCK;
    if (keyLen > st->blockSize) {
        haState_t keyDigest;
        const int rc = haDigest(&keyDigest, key, keyLen, st->algId, 0, 0);
        if (rc == HA_OK)
            std::memcpy(st->hmacKey, keyDigest.digest, keyDigest.digestSize);
        Wipe(&keyDigest, sizeof keyDigest);
        return rc;
    }
    std::memcpy(st->hmacKey, key, keyLen);
    return HA_OK;
}

// Feeds the key block XORed with pad (0x36 inner, 0x5C outer).
int FeedPad(haState_t* st, const uint8_t* keyBlock, uint8_t pad)
{
    uint8_t block[HA_MAX_BLOCK];
    const uint32_t n = st->blockSize;
    for (uint32_t i = 0; i < n; ++i)
        block[i] = keyBlock[i] ^ pad;
    const int rc = haUpdate(st, block, n);
    Wipe(block, sizeof block);
    return rc;
}

int FixedHmac(uint32_t id, const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    if (out == nullptr)
        return HA_EPARAM;
    haState_t st;
    const int rc = haHmac(id, data, len, key, keyLen, 0, 0, &st);
    if (rc == HA_OK)
        std::memcpy(out, st.digest, st.digestSize);
    Wipe(&st, sizeof st);
    return rc;
}

}  // namespace

int haHmacInit(uint32_t id, const void* key, size_t keyLen, haState_t* st)
{
    if (key == nullptr || keyLen == 0 || st == nullptr)
        return HA_EPARAM;
    int rc = haInit(st, id);
    if (rc == HA_OK)
        rc = PrepareKey(st, static_cast<const uint8_t*>(key), keyLen);
    if (rc == HA_OK)
        rc = FeedPad(st, st->hmacKey, 0x36);
    return rc;
}

int haHmacUpdate(const void* data, size_t len, haState_t* st)
{
    if (data == nullptr || len == 0 || st == nullptr)
        return HA_EPARAM;
    return haUpdate(st, data, len);
}

int haHmacFinal(int hexFlag, int base64Flag, haState_t* st)
{
    if (st == nullptr)
        return HA_EPARAM;
    int rc = haFinal(st);
    if (rc != HA_OK)
        return rc;
    uint8_t inner[HA_MAX_DIGEST];
    uint8_t key[HA_MAX_BLOCK];
    const uint32_t innerLen = st->digestSize;
    std::memcpy(inner, st->digest, innerLen);
    std::memcpy(key, st->hmacKey, sizeof key);
    rc = haInit(st, st->algId);
    if (rc == HA_OK)
        rc = FeedPad(st, key, 0x5C);
    if (rc == HA_OK)
        rc = haUpdate(st, inner, innerLen);
    if (rc == HA_OK)
        rc = haFinal(st);
    if (rc == HA_OK && hexFlag == 1)
        rc = haFinalHex(st);
    if (rc == HA_OK && base64Flag == 1)
        rc = haFinalBase64(st);
    Wipe(inner, sizeof inner);
    Wipe(key, sizeof key);
    Wipe(st->hmacKey, sizeof st->hmacKey);
    return rc;
}

int haHmac(uint32_t id, const void* data, size_t len, const void* key, size_t keyLen, int hexFlag, int base64Flag,
           haState_t* st)
{
    int rc = haHmacInit(id, key, keyLen, st);
    if (rc == HA_OK)
        rc = haHmacUpdate(data, len, st);
    if (rc == HA_OK)
        rc = haHmacFinal(hexFlag, base64Flag, st);
    return rc;
}

int haHmacSha512(const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    return FixedHmac(HA_SHA512, data, len, key, keyLen, out);
}
int haHmacSha384(const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    return FixedHmac(HA_SHA384, data, len, key, keyLen, out);
}
int haHmacSha256(const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    return FixedHmac(HA_SHA256, data, len, key, keyLen, out);
}
int haHmacSha1(const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    return FixedHmac(HA_SHA1, data, len, key, keyLen, out);
}
int haHmacMd5(const void* data, size_t len, const void* key, size_t keyLen, void* out)
{
    return FixedHmac(HA_MD5, data, len, key, keyLen, out);
}

// The states after the inner and the outer pad block are computed once; each
// HMAC of the iteration then starts from copies of them.
int haPbkdf2(uint32_t id, const void* password, size_t passwordLen, const void* salt, size_t saltLen,
             uint32_t iterations, uint32_t derivedLen, void* out)
{
    haState_t inner0, outer0, st;
    int rc = haInit(&st, id);
    if (rc != HA_OK)
        return rc;
    const uint32_t h = st.digestSize;
    const uint32_t blocks = (derivedLen - 1u) / h + 1u;
    if (blocks > 65535)
        return HA_ETOOLONG;
    if (out == nullptr || (salt == nullptr && saltLen != 0))
        return HA_EPARAM;
    rc = haHmacInit(id, password, passwordLen, &inner0);
    if (rc == HA_OK)
        rc = haInit(&outer0, id);
    if (rc == HA_OK)
        rc = FeedPad(&outer0, inner0.hmacKey, 0x5C);

    auto mac = [&](const void* a, size_t aLen, const void* b, size_t bLen, uint8_t* result) {
        st = inner0;
        int r = haUpdate(&st, a, aLen);
        if (r == HA_OK)
            r = haUpdate(&st, b, bLen);
        if (r == HA_OK)
            r = haFinal(&st);
        uint8_t innerDigest[HA_MAX_DIGEST];
        std::memcpy(innerDigest, st.digest, h);
        st = outer0;
        if (r == HA_OK)
            r = haUpdate(&st, innerDigest, h);
        if (r == HA_OK)
            r = haFinal(&st);
        if (r == HA_OK)
            std::memcpy(result, st.digest, h);
        return r;
    };

    uint8_t u[HA_MAX_DIGEST], t[HA_MAX_DIGEST];
    auto* o = static_cast<uint8_t*>(out);
    for (uint32_t i = 1; i <= blocks && rc == HA_OK; ++i) {
        const uint8_t index[4] = {uint8_t(i >> 24), uint8_t(i >> 16), uint8_t(i >> 8), uint8_t(i)};
        rc = mac(salt, saltLen, index, 4, u);
        std::memcpy(t, u, h);
        for (uint32_t j = 2; j <= iterations && rc == HA_OK; ++j) {
            rc = mac(u, h, nullptr, 0, u);
            for (uint32_t k = 0; k < h; ++k)
                t[k] ^= u[k];
        }
        const uint32_t take = i < blocks ? h : derivedLen - (blocks - 1) * h;
        if (rc == HA_OK)
            std::memcpy(o + size_t(i - 1) * h, t, take);
    }
    Wipe(u, sizeof u);
    Wipe(t, sizeof t);
    Wipe(&inner0, sizeof inner0);
    Wipe(&outer0, sizeof outer0);
    Wipe(&st, sizeof st);
    return rc;
}
