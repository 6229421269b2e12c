// Digest state: start, feed, finish and the printed forms of the digest.
#include "crypto/hadigest.h"

#include <algorithm>
#include <cstring>

#include "crypto/coding.h"
#include "crypto/hablocks.h"
#include "cslib/crc32.h"

namespace {

struct AlgInfo {
    uint32_t id;
    const char* name;
    uint32_t blockSize;
    uint32_t digestSize;
};

constexpr AlgInfo kAlgs[] = {
    {HA_MD5, "MD5", 64, 16},        {HA_SHA1, "SHA1", 64, 20},      {HA_SHA256, "SHA256", 64, 32},
    {HA_SHA512, "SHA512", 128, 64}, {HA_SHA384, "SHA384", 128, 48}, {HA_CRC32, "CRC32", 4, 4},
};

const AlgInfo* FindAlg(uint32_t id)
{
    for (const auto& a : kAlgs)
        if (a.id == id)
            return &a;
    return nullptr;
}

// Longest messages: SHA-1 and SHA-256 count bits in 64 bits; the others are
// bounded by the 64-bit byte counter.
constexpr uint64_t kMaxBytes64 = (uint64_t(1) << 61) - 1;
constexpr uint64_t kMaxBytes128 = ~uint64_t(0);

// Feeds bytes through a block buffer of B bytes.
template <size_t B, class Blocks>
void Absorb(uint8_t (&buf)[B], uint32_t& used, const uint8_t* p, size_t n, Blocks blocks)
{
    if (used != 0) {
        const size_t take = std::min(B - used, n);
        std::memcpy(buf + used, p, take);
        used += static_cast<uint32_t>(take);
        p += take;
        n -= take;
        if (used < B)
            return;
        blocks(buf, 1);
        used = 0;
    }
    if (n >= B) {
        blocks(p, n / B);
        p += n / B * B;
        n %= B;
    }
    if (n != 0) {
        std::memcpy(buf, p, n);
        used = static_cast<uint32_t>(n);
    }
}

// Appends 0x80, zeros and the message length in bits (lenBytes wide, in the
// algorithm's byte order) and runs the last block or two.
template <size_t B, class Blocks>
void Pad(uint8_t (&buf)[B], uint32_t used, uint64_t bytes, size_t lenBytes, bool bigEndian, Blocks blocks)
{
    buf[used++] = 0x80;
    if (used > B - lenBytes) {
        std::memset(buf + used, 0, B - used);
        blocks(buf, 1);
        used = 0;
    }
    std::memset(buf + used, 0, B - used);
    uint8_t* len = buf + B - 8;
    if (bigEndian) {
        haStoreBe64(len, bytes << 3);
        if (lenBytes == 16)
            haStoreBe64(len - 8, bytes >> 61);
    } else {
        haStoreLe32(len, uint32_t(bytes << 3));
        haStoreLe32(len + 4, uint32_t(bytes >> 29));
    }
    blocks(buf, 1);
}

// Update and final for the block-buffered algorithms; W is the working state.
template <class W, class Blocks>
int UpdateBlocks(W& w, const uint8_t* p, size_t n, uint64_t maxBytes, Blocks blocks)
{
    if (w.corrupted != 0)
        return static_cast<int>(w.corrupted);
    if (w.computed != 0) {
        w.corrupted = HA_CORRUPT_REUSE;
        return HA_ESTATE;
    }
    if (n > maxBytes - w.bytes) {
        w.corrupted = HA_CORRUPT_LENGTH;
        return static_cast<int>(w.corrupted);
    }
    w.bytes += n;
    Absorb(w.buf, w.used, p, n, blocks);
    return HA_OK;
}

template <class W, class Blocks>
int FinalBlocks(W& w, size_t lenBytes, bool bigEndian, Blocks blocks)
{
    if (w.corrupted != 0)
        return static_cast<int>(w.corrupted);
    if (w.computed != 0)
        return HA_OK;  // the digest bytes are already there
    Pad(w.buf, w.used, w.bytes, lenBytes, bigEndian, blocks);
    w.computed = 1;
    return HA_OK;
}

}  // namespace

const char* haGetAlgName(uint32_t id)
{
    const AlgInfo* a = FindAlg(id);
    return a ? a->name : nullptr;
}

uint32_t haGetAlgId(const char* text, size_t len)
{
    if (text == nullptr || len < 3)
        return 0;
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    for (const auto& a : kAlgs) {
        const size_t nameLen = std::strlen(a.name);
        const size_t letters = std::strcspn(a.name, "0123456789");
        const bool hyphen = len == nameLen + 1;
        if (len != nameLen && !hyphen)
            continue;
        if (hyphen && text[letters] != '-')
            continue;
        bool same = true;
        for (size_t i = 0, j = 0; i < nameLen && same; ++i, ++j) {
            if (hyphen && j == letters)
                ++j;
            same = upper(text[j]) == a.name[i];
        }
        if (same)
            return a.id;
    }
    return 0;
}

int haInit(haState_t* st, uint32_t id)
{
    if (st == nullptr)
        return HA_EPARAM;
    std::memset(st, 0, sizeof *st);
    const AlgInfo* a = FindAlg(id);
    if (a == nullptr)
        return HA_EALG;
    st->blockSize = a->blockSize;
    st->digestSize = a->digestSize;
    static constexpr uint32_t kMd5[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    static constexpr uint32_t kSha1[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    static constexpr uint32_t kSha256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    static constexpr uint64_t kSha512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b,
                                            0xa54ff53a5f1d36f1, 0x510e527fade682d1, 0x9b05688c2b3e6c1f,
                                            0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};
    static constexpr uint64_t kSha384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17,
                                            0x152fecd8f70e5939, 0x67332667ffc00b31, 0x8eb44a8768581511,
                                            0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
    switch (id) {
    case HA_MD5:
        std::memcpy(st->work.md5.h, kMd5, sizeof kMd5);
        break;
    case HA_SHA1:
        std::memcpy(st->work.sha1.h, kSha1, sizeof kSha1);
        break;
    case HA_SHA256:
        std::memcpy(st->work.sha256.h, kSha256, sizeof kSha256);
        break;
    case HA_SHA512:
        std::memcpy(st->work.sha512.h, kSha512, sizeof kSha512);
        break;
    case HA_SHA384:
        std::memcpy(st->work.sha512.h, kSha384, sizeof kSha384);
        break;
    default:
        break;  // CRC-32 starts at 0
    }
    st->algId = id;
    return HA_OK;
}

int haUpdate(haState_t* st, const void* data, size_t len)
{
    if (len == 0)
        return HA_OK;
    if (st == nullptr || data == nullptr)
        return HA_EPARAM;
    const auto* p = static_cast<const uint8_t*>(data);
    auto& w = st->work;
    switch (st->algId) {
    case HA_MD5:
        return UpdateBlocks(w.md5, p, len, kMaxBytes128,
                            [&](const uint8_t* b, size_t n) { haMd5Blocks(w.md5.h, b, n); });
    case HA_SHA1:
        return UpdateBlocks(w.sha1, p, len, kMaxBytes64,
                            [&](const uint8_t* b, size_t n) { haSha1Blocks(w.sha1.h, b, n); });
    case HA_SHA256:
        return UpdateBlocks(w.sha256, p, len, kMaxBytes64,
                            [&](const uint8_t* b, size_t n) { haSha256Blocks(w.sha256.h, b, n); });
    case HA_SHA512:
    case HA_SHA384:
        return UpdateBlocks(w.sha512, p, len, kMaxBytes128,
                            [&](const uint8_t* b, size_t n) { haSha512Blocks(w.sha512.h, b, n); });
    case HA_CRC32:
        w.crc.crc = ~CsCrc32Update(~w.crc.crc, p, len);
        return HA_OK;
    default:
        return HA_EALG;
    }
}

int haFinal(haState_t* st)
{
    if (st == nullptr)
        return HA_EPARAM;
    const AlgInfo* a = FindAlg(st->algId);
    if (a == nullptr)
        return HA_EALG;
    st->blockSize = a->blockSize;
    st->digestSize = a->digestSize;
    auto& w = st->work;
    int rc = HA_OK;
    switch (st->algId) {
    case HA_MD5:
        rc = FinalBlocks(w.md5, 8, false, [&](const uint8_t* b, size_t n) { haMd5Blocks(w.md5.h, b, n); });
        for (int i = 0; i < 4 && rc == HA_OK; ++i)
            haStoreLe32(st->digest + 4 * i, w.md5.h[i]);
        break;
    case HA_SHA1:
        rc = FinalBlocks(w.sha1, 8, true, [&](const uint8_t* b, size_t n) { haSha1Blocks(w.sha1.h, b, n); });
        for (int i = 0; i < 5 && rc == HA_OK; ++i)
            haStoreBe32(st->digest + 4 * i, w.sha1.h[i]);
        break;
    case HA_SHA256:
        rc = FinalBlocks(w.sha256, 8, true, [&](const uint8_t* b, size_t n) { haSha256Blocks(w.sha256.h, b, n); });
        for (int i = 0; i < 8 && rc == HA_OK; ++i)
            haStoreBe32(st->digest + 4 * i, w.sha256.h[i]);
        break;
    case HA_SHA512:
    case HA_SHA384:
        rc = FinalBlocks(w.sha512, 16, true, [&](const uint8_t* b, size_t n) { haSha512Blocks(w.sha512.h, b, n); });
        for (int i = 0; i < 8 && rc == HA_OK; ++i)
            haStoreBe64(st->digest + 8 * i, w.sha512.h[i]);
        if (st->algId == HA_SHA384)
            std::memset(st->digest + 48, 0, 16);
        break;
    case HA_CRC32:
        haStoreBe32(st->digest, w.crc.crc);
        w.crc.finished = 1;
        break;
    }
    return rc;
}

size_t haHexEncode(const void* bytes, size_t count, char* out, size_t group)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (bytes == nullptr || out == nullptr)
        return 0;
    const auto* p = static_cast<const uint8_t*>(bytes);
    char* o = out;
    for (size_t i = 0; i < count; ++i) {
        *o++ = kDigits[p[i] >> 4];
        *o++ = kDigits[p[i] & 15];
        if (group != 0 && (i + 1) % group == 0)
            *o++ = ' ';
    }
    return static_cast<size_t>(o - out);
}

int haFinalHex(haState_t* st)
{
    if (st == nullptr)
        return HA_EPARAM;
    const AlgInfo* a = FindAlg(st->algId);
    if (a == nullptr)
        return HA_EALG;
    const size_t n = haHexEncode(st->digest, a->digestSize, st->hex, 0);
    st->hex[n] = '\0';
    st->hexLen = static_cast<uint32_t>(n);
    return HA_OK;
}

int haFinalBase64(haState_t* st)
{
    if (st == nullptr)
        return HA_EPARAM;
    const AlgInfo* a = FindAlg(st->algId);
    if (a == nullptr)
        return HA_EALG;
    std::memset(st->base64, 0, sizeof st->base64);
    size_t n = 0;
    if (coBase64Encode56(st->digest, a->digestSize, CO_MODE_DIGEST, 0, nullptr, st->base64, sizeof st->base64, &n) !=
        CO_OK)
        return HA_EBASE64;
    st->base64Len = static_cast<uint32_t>(n);
    return HA_OK;
}

int haDigest(haState_t* st, const void* data, size_t len, uint32_t id, int hexFlag, int base64Flag)
{
    int rc = haInit(st, id);
    if (rc == HA_OK)
        rc = haUpdate(st, data, len);
    if (rc == HA_OK)
        rc = haFinal(st);
    if (rc == HA_OK && hexFlag == 1)
        rc = haFinalHex(st);
    if (rc == HA_OK && base64Flag == 1)
        rc = haFinalBase64(st);
    return rc;
}
