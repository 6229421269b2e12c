// Segmented streams: block headers, block CRCs and trailer as written, round
// trips in pieces of every size, and corruption detected by the CRCs.
#include <gtest/gtest.h>

#include "cs_test_util.h"
#include "cslib/csheader.h"
#include "cslib/cslib.h"

using namespace cstest;

namespace {

// Bitwise CRC-32 register update, independent of the library's table.
uint32_t SlowCrc(uint32_t reg, const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int k = 0; k < 8; ++k)
            reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return reg;
}

// Walks a segmented stream and checks every block CRC and the trailer
// independently of the reader.  Returns the number of blocks.
int CheckFraming(const Bytes& s, const Bytes& data)
{
    EXPECT_GE(s.size(), 16u);
    EXPECT_EQ(s[4] & 0x08, 0x08);
    uint32_t reg = SlowCrc(0xFFFFFFFFu, s.data(), 8);
    size_t pos = 8;
    int blocks = 0;
    while (s.size() - pos > 8) {
        const uint32_t len = CsGetLe32(&s[pos]);
        const uint32_t crc = CsGetLe32(&s[pos + 4]);
        pos += 8;
        EXPECT_LE(pos + len, s.size());
        if (pos + len > s.size())
            return -1;
        reg = SlowCrc(reg, &s[pos], len);
        EXPECT_EQ(crc, reg) << "block " << blocks;
        pos += len;
        ++blocks;
    }
    EXPECT_EQ(s.size() - pos, 8u);
    EXPECT_EQ(CsGetLe32(&s[pos]), data.size());
    EXPECT_EQ(CsGetLe32(&s[pos + 4]), SlowCrc(0xFFFFFFFFu, data.data(), data.size()));
    return blocks;
}

}  // namespace

TEST(Segmented, FramingIsWrittenAsSpecifiedForBothCodecs)
{
    Handle h;
    const Bytes data = Text(60000, 4);
    for (int algo : {CS_LZC, CS_LZH}) {
        for (auto [inPiece, outPiece] :
             {std::pair<size_t, size_t>{60000, 4096}, {1000, 100}, {333, 1500}, {60000, 1 << 20}}) {
            const Result c = Compress(h, data, algo | CS_SEGMENTED, inPiece, outPiece);
            ASSERT_EQ(c.rc, CS_END_OF_STREAM) << algo << " " << inPiece << "/" << outPiece;
            EXPECT_GE(CheckFraming(c.data, data), 1);
        }
    }
}

TEST(Segmented, ReadsBackInPiecesOfAnySize)
{
    Handle h;
    const Bytes data = Text(30000, 8);
    for (int algo : {CS_LZC, CS_LZH}) {
        const Result c = Compress(h, data, algo | CS_SEGMENTED, 4000, 700);
        ASSERT_EQ(c.rc, CS_END_OF_STREAM);
        for (auto [inPiece, outPiece] :
             {std::pair<size_t, size_t>{1, 1}, {1, 1 << 20}, {9, 5}, {1 << 20, 1}, {1 << 20, 1 << 20}, {4096, 999}}) {
            const Result d = Decompress(h, c.data, inPiece, outPiece);
            ASSERT_EQ(d.rc, CS_END_OF_STREAM) << algo << " " << inPiece << "/" << outPiece;
            EXPECT_TRUE(d.data == data);
        }
    }
}

TEST(Segmented, EveryFlippedByteIsCaught)
{
    Handle h;
    const Bytes data = Text(6000, 12);
    for (int algo : {CS_LZC, CS_LZH}) {
        const Result c = Compress(h, data, algo | CS_SEGMENTED, 6000, 600);
        ASSERT_EQ(c.rc, CS_END_OF_STREAM);
        int crcErrors = 0;
        for (size_t i = 8; i < c.data.size(); ++i) {
            if (i >= c.data.size() - 8 && i < c.data.size() - 4)
                continue;  // the trailer's length word
            Bytes bad = c.data;
            bad[i] ^= 0x20;
            const Result d = Decompress(h, bad, 512, 4096);
            // Never silently wrong data: a flip fails, mostly on a CRC (a flip in
            // the codec's bits may first trip the decoder's own checks).
            EXPECT_NE(d.rc, CS_END_OF_STREAM) << "offset " << i;
            if (d.rc == CS_E_CRC)
                ++crcErrors;
        }
        EXPECT_GT(crcErrors, static_cast<int>(c.data.size() / 2));
    }
}

TEST(Segmented, TrailerIsJudgedByItsCrcAndReportsProgress)
{
    Handle h;
    const Bytes data = Text(5000, 13);
    Result c = Compress(h, data, CS_LZH | CS_SEGMENTED, 5000, 4096);
    ASSERT_EQ(c.rc, CS_END_OF_STREAM);
    c.data[c.data.size() - 1] ^= 1;
    // The failing step still tells how far it got: the whole stream was read
    // and all the data written before the trailer was judged.
    Bytes out(data.size() + 16);
    int32_t r = 0, w = 0;
    EXPECT_EQ(CsRDecompress(h, c.data.data(), static_cast<int32_t>(c.data.size()), out.data(),
                            static_cast<int32_t>(out.size()), CS_INIT_DECOMPRESS, &r, &w),
              CS_E_CRC);
    EXPECT_EQ(static_cast<size_t>(r), c.data.size());
    EXPECT_EQ(static_cast<size_t>(w), data.size());
    c.data[c.data.size() - 1] ^= 1;
    // The trailer's length word is not judged.
    c.data[c.data.size() - 8] ^= 0x55;
    EXPECT_EQ(Decompress(h, c.data).rc, CS_END_OF_STREAM);
}

TEST(Segmented, TruncatedStreamNeverEndsWell)
{
    Handle h;
    const Bytes data = Text(5000, 14);
    const Result c = Compress(h, data, CS_LZC | CS_SEGMENTED, 5000, 900);
    ASSERT_EQ(c.rc, CS_END_OF_STREAM);
    for (size_t cut : {c.data.size() - 1, c.data.size() - 8, c.data.size() / 2, size_t{12}}) {
        const Bytes part(c.data.begin(), c.data.begin() + static_cast<long>(cut));
        EXPECT_EQ(Decompress(h, part).rc, CS_E_IN_EXPECTED) << cut;
    }
}
