// CRC-32 register update: known values, agreement with a bit-at-a-time
// reference on every length and alignment around the folding thresholds, and
// independence from how the data is split.
#include "cslib/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t BitwiseCrc(uint32_t reg, const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int k = 0; k < 8; ++k)
            reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg;
}

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(gen());
    return v;
}

TEST(Crc32, KnownValues)
{
    const char* s = "123456789";
    // Standard CRC-32: start at all ones, complement at the end.
    EXPECT_EQ(~CsCrc32Update(0xFFFFFFFFu, s, 9), 0xCBF43926u);
    // Archive checksum form: start at 0, no inversion.
    EXPECT_EQ(CsCrc32Update(0, s, 9), BitwiseCrc(0, reinterpret_cast<const uint8_t*>(s), 9));
    EXPECT_EQ(CsCrc32Update(0x12345678u, s, 0), 0x12345678u);
    EXPECT_EQ(CsCrc32Update(0, nullptr, 0), 0u);
}

TEST(Crc32, MatchesBitwiseForAllLengthsAndAlignments)
{
    const auto data = RandomBytes(1200, 7);
    for (size_t off = 0; off < 16; ++off) {
        for (size_t n = 0; n + off <= data.size(); n += (n < 300 ? 1 : 37)) {
            for (uint32_t start : {0u, 0xFFFFFFFFu}) {
                ASSERT_EQ(CsCrc32Update(start, data.data() + off, n), BitwiseCrc(start, data.data() + off, n))
                    << "offset " << off << " length " << n;
            }
        }
    }
}

TEST(Crc32, SplitDoesNotChangeResult)
{
    const auto data = RandomBytes(1 << 20, 11);
    const uint32_t whole = CsCrc32Update(0xFFFFFFFFu, data.data(), data.size());
    EXPECT_EQ(whole, BitwiseCrc(0xFFFFFFFFu, data.data(), data.size()));
    std::mt19937 gen(3);
    uint32_t reg = 0xFFFFFFFFu;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t n = std::min<size_t>(data.size() - pos, gen() % 5000);
        reg = CsCrc32Update(reg, data.data() + pos, n);
        pos += n;
    }
    EXPECT_EQ(reg, whole);
}

TEST(Crc32, ZerosAndOnesPatterns)
{
    for (uint8_t fill : {0x00, 0xFF, 0x80}) {
        std::vector<uint8_t> v(4096 + 13, fill);
        EXPECT_EQ(CsCrc32Update(0, v.data(), v.size()), BitwiseCrc(0, v.data(), v.size()));
        EXPECT_EQ(CsCrc32Update(0xFFFFFFFFu, v.data(), v.size()), BitwiseCrc(0xFFFFFFFFu, v.data(), v.size()));
    }
}

}  // namespace
