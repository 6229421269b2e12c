// Block transforms of the digest algorithms: each runs the compression
// function over nblocks whole blocks and updates the chaining words.
#pragma once

#include <cstddef>
#include <cstdint>

void haMd5Blocks(uint32_t h[4], const uint8_t* p, size_t nblocks);
void haSha1Blocks(uint32_t h[5], const uint8_t* p, size_t nblocks);
void haSha512Blocks(uint64_t h[8], const uint8_t* p, size_t nblocks);

// SHA-256 uses the processor's SHA instructions when it has them.
void haSha256Blocks(uint32_t h[8], const uint8_t* p, size_t nblocks);
// The two paths, for comparing them with each other.
void haSha256BlocksPortable(uint32_t h[8], const uint8_t* p, size_t nblocks);
bool haSha256HasShaInstructions();
void haSha256BlocksShaNi(uint32_t h[8], const uint8_t* p, size_t nblocks);  // only when the above is true

inline uint32_t haRotl32(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}
inline uint32_t haRotr32(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}
inline uint64_t haRotr64(uint64_t x, int n)
{
    return (x >> n) | (x << (64 - n));
}

inline uint32_t haLoadBe32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t haLoadBe64(const uint8_t* p)
{
    return uint64_t(haLoadBe32(p)) << 32 | haLoadBe32(p + 4);
}
inline uint32_t haLoadLe32(const uint8_t* p)
{
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline void haStoreBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void haStoreBe64(uint8_t* p, uint64_t v)
{
    haStoreBe32(p, uint32_t(v >> 32));
    haStoreBe32(p + 4, uint32_t(v));
}
inline void haStoreLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
