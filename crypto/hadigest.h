// Digests chosen by a numeric identifier: MD5, SHA-1, SHA-256, SHA-384,
// SHA-512 and CRC-32, with HMAC over each, PBKDF2, and conversion between
// algorithm names and identifiers.
//
// One caller-owned state (haState_t) serves every algorithm.  It holds no
// pointers, so it may be copied, embedded and wiped with a plain fill; after
// haFinal it also holds the digest as bytes and, on request, as upper-case hex
// and Base64 text.  Every operation returns one of the HA_ codes below.
#pragma once

#include <cstddef>
#include <cstdint>

// Algorithm identifiers.
enum : uint32_t {
    HA_MD5 = 0xA501,
    HA_SHA1 = 0xA502,
    HA_SHA256 = 0xA503,
    HA_SHA512 = 0xA504,
    HA_SHA384 = 0xA505,
    HA_CRC32 = 0xC320,
};

// Return codes.
enum : int {
    HA_OK = 0,
    HA_EPARAM = 1,    // NULL pointer, or a zero length where one is required
    HA_ETOOLONG = 2,  // key derivation would need more than 65,535 blocks
    HA_ESTATE = 3,    // data added after the digest was finished, or a corrupted state
    HA_EALG = 4,      // unknown algorithm identifier
    HA_EBLOCK = 5,    // block size below digest size in HMAC key preparation
    HA_EBASE64 = 6,   // Base64 coding of the digest failed
};

// Corrupted values of a working state (kept until the state is started anew).
enum : uint32_t {
    HA_CORRUPT_LENGTH = 1,  // the message length counter would overflow
    HA_CORRUPT_REUSE = 3,   // data added after finishing
};

inline constexpr size_t HA_MAX_DIGEST = 64;
inline constexpr size_t HA_MAX_BLOCK = 128;

// Working states.  Only haInit, haUpdate and haFinal touch them.
struct haMd5_t {
    uint32_t h[4];
    uint64_t bytes;
    uint8_t buf[64];
    uint32_t used;
    uint32_t computed;
    uint32_t corrupted;
};
struct haSha1_t {
    uint32_t h[5];
    uint64_t bytes;
    uint8_t buf[64];
    uint32_t used;
    uint32_t computed;
    uint32_t corrupted;
};
struct haSha256_t {
    uint32_t h[8];
    uint64_t bytes;
    uint8_t buf[64];
    uint32_t used;
    uint32_t computed;
    uint32_t corrupted;
};
struct haSha512_t {  // SHA-512 and SHA-384
    uint64_t h[8];
    uint64_t bytes;
    uint8_t buf[128];
    uint32_t used;
    uint32_t computed;
    uint32_t corrupted;
};
struct haCrc32_t {
    uint32_t crc;
    uint32_t finished;
};

struct haState_t {
    uint32_t blockSize;
    uint32_t digestSize;
    uint32_t algId;  // 0 until started
    union {
        haMd5_t md5;
        haSha1_t sha1;
        haSha256_t sha256;
        haSha512_t sha512;
        haCrc32_t crc;
    } work;
    uint8_t digest[HA_MAX_DIGEST];  // first digestSize bytes valid after haFinal
    char hex[2 * HA_MAX_DIGEST + 1];
    uint32_t hexLen;
    uint8_t hmacKey[HA_MAX_BLOCK];  // the HMAC key prepared to block size
    char base64[89];
    uint32_t base64Len;
};

// Canonical name ("MD5", "SHA1", "SHA256", "SHA384", "SHA512", "CRC32") of an
// identifier, or NULL.
const char* haGetAlgName(uint32_t id);

// Identifier of the name made of exactly len characters (any case, with an
// optional hyphen between letters and digits: "sha-256"), or 0.
uint32_t haGetAlgId(const char* text, size_t len);

int haInit(haState_t* st, uint32_t id);
// A length of 0 returns HA_OK without looking at the pointers.
int haUpdate(haState_t* st, const void* data, size_t len);
// Finishes into st->digest; CRC-32 comes out most significant byte first.
int haFinal(haState_t* st);
// Upper-case hex / Base64 (standard alphabet, padded) text of st->digest.
int haFinalHex(haState_t* st);
int haFinalBase64(haState_t* st);
// haInit, haUpdate, haFinal, then haFinalHex and haFinalBase64 when their
// flag is 1; the first failure is returned.
int haDigest(haState_t* st, const void* data, size_t len, uint32_t id, int hexFlag, int base64Flag);

// Upper-case hex of count bytes into out, with a blank after every group of
// `group` bytes when group is not 0 (also after the last byte when count is a
// multiple of group).  Writes no terminator and returns the characters
// written; out needs 2 * count + (group ? count / group : 0) bytes.
size_t haHexEncode(const void* bytes, size_t count, char* out, size_t group);

// HMAC over any of the algorithms.  Keys and data must not be empty.
int haHmacInit(uint32_t id, const void* key, size_t keyLen, haState_t* st);
int haHmacUpdate(const void* data, size_t len, haState_t* st);
int haHmacFinal(int hexFlag, int base64Flag, haState_t* st);
int haHmac(uint32_t id, const void* data, size_t len, const void* key, size_t keyLen, int hexFlag, int base64Flag,
           haState_t* st);
// One-shots writing the raw MAC (digest size bytes) to out.
int haHmacSha512(const void* data, size_t len, const void* key, size_t keyLen, void* out);
int haHmacSha384(const void* data, size_t len, const void* key, size_t keyLen, void* out);
int haHmacSha256(const void* data, size_t len, const void* key, size_t keyLen, void* out);
int haHmacSha1(const void* data, size_t len, const void* key, size_t keyLen, void* out);
int haHmacMd5(const void* data, size_t len, const void* key, size_t keyLen, void* out);

// PBKDF2 with HMAC over the algorithm id: derivedLen bytes into out.
int haPbkdf2(uint32_t id, const void* password, size_t passwordLen, const void* salt, size_t saltLen,
             uint32_t iterations, uint32_t derivedLen, void* out);
