// LZW-style codec: byte-exact against the Unix compress program, decoding of
// its streams, resumability, and rejection of corrupt code sequences.
#include <gtest/gtest.h>

#include <cstring>

#include "cs_test_util.h"
#include "cslib/csheader.h"
#include "cslib/cslib.h"

using namespace cstest;

namespace {

bool HaveCompress()
{
    return std::system("command -v compress >/dev/null 2>&1") == 0;
}

// compress output for the data, with its 3-byte header.
Bytes ZCompress(const Bytes& data, const std::string& flags)
{
    const std::string path = TmpDir() + "/lzw_in.bin";
    WriteFile(path, data);
    return Run("compress -c " + flags + " < " + path);
}

// Our stream header in front of a .Z body (its 3-byte header replaced).
Bytes WithHeader(const Bytes& z, uint32_t len)
{
    Bytes s;
    s.reserve(z.size() + 5);
    s.resize(8);
    CsPutLe32(s.data(), len);
    s[4] = 0x11;
    s[5] = z[0];
    s[6] = z[1];
    s[7] = z[2];
    s.insert(s.end(), z.begin() + 3, z.end());
    return s;
}

// An LZW stream of width-9 codes written straight from a code list.
Bytes CodeStream(const std::vector<int>& codes, uint32_t len, uint8_t param = 0x8D)
{
    Bytes s(8);
    CsPutLe32(s.data(), len);
    s[4] = 0x11;
    s[5] = 0x1F;
    s[6] = 0x9D;
    s[7] = param;
    uint64_t acc = 0;
    int bits = 0;
    for (int c : codes) {
        acc |= static_cast<uint64_t>(c) << bits;
        bits += 9;
        while (bits >= 8) {
            s.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        s.push_back(static_cast<uint8_t>(acc));
    return s;
}

}  // namespace

TEST(LzwOracle, CoderMatchesCompressB13ForText)
{
    if (!HaveCompress())
        GTEST_SKIP() << "compress not installed";
    Handle h;
    for (size_t n : {1u, 2u, 3u, 100u, 1000u, 4097u, 9000u, 12345u, 16384u}) {
        for (unsigned seed : {1u, 2u, 3u}) {
            const Bytes data = Text(n, seed);
            const Result ours = Compress(h, data, CS_LZC);
            ASSERT_EQ(ours.rc, CS_END_OF_STREAM);
            const Bytes z = ZCompress(data, "-b13");
            ASSERT_GE(z.size(), 3u);
            ASSERT_EQ(ours.data.size(), z.size() + 5) << "n=" << n << " seed=" << seed;
            EXPECT_TRUE(std::equal(z.begin(), z.end(), ours.data.begin() + 5)) << "n=" << n;
            EXPECT_EQ(CsGetLe32(ours.data.data()), n);
            EXPECT_EQ(ours.data[4], 0x11);
        }
    }
}

TEST(LzwOracle, DecoderReadsCompressStreamsOfEveryWidth)
{
    if (!HaveCompress())
        GTEST_SKIP() << "compress not installed";
    Handle h;
    // Large enough that the table fills and the width reaches the maximum.
    const Bytes data = Text(300000, 5);
    const Bytes mixed = [&] {
        Bytes m = Text(60000, 9);
        const Bytes r = Random(20000);
        m.insert(m.end(), r.begin(), r.end());
        const Bytes t = Text(60000, 10);
        m.insert(m.end(), t.begin(), t.end());
        return m;
    }();
    for (const Bytes* d : {&data, &mixed}) {
        for (const char* flags : {"-b10", "-b11", "-b12", "-b13", "-b14"}) {
            const Bytes stream = WithHeader(ZCompress(*d, flags), static_cast<uint32_t>(d->size()));
            const Result out = Decompress(h, stream);
            ASSERT_EQ(out.rc, CS_END_OF_STREAM) << flags;
            EXPECT_TRUE(out.data == *d) << flags;
        }
    }
}

TEST(LzwOracle, WidthAboveFourteenIsRefused)
{
    if (!HaveCompress())
        GTEST_SKIP() << "compress not installed";
    Handle h;
    const Bytes data = Text(5000);
    for (const char* flags : {"-b15", "-b16"}) {
        const Bytes stream = WithHeader(ZCompress(data, flags), 5000);
        EXPECT_EQ(Decompress(h, stream).rc, CS_E_MAX_BITS) << flags;
    }
}

TEST(Lzw, RoundTripsAcrossClearCodesAndPieceSizes)
{
    Handle h;
    // Text then random data: the ratio falls, the coder clears the table.
    Bytes data = Text(200000, 3);
    const Bytes r = Random(120000);
    data.insert(data.end(), r.begin(), r.end());
    const Bytes t = Text(50000, 4);
    data.insert(data.end(), t.begin(), t.end());

    const Result whole = Compress(h, data, CS_LZC);
    ASSERT_EQ(whole.rc, CS_END_OF_STREAM);
    // After the table fills and the ratio drops the width returns to 9: the
    // stream holds a clear code, which a round trip must survive.
    const Result back = Decompress(h, whole.data);
    ASSERT_EQ(back.rc, CS_END_OF_STREAM);
    EXPECT_TRUE(back.data == data);

    const Bytes small(data.begin(), data.begin() + 20000);
    const Result ref = Compress(h, small, CS_LZC);
    ASSERT_EQ(ref.rc, CS_END_OF_STREAM);
    for (auto [inPiece, outPiece] :
         {std::pair<size_t, size_t>{1, 8}, {1, 1 << 20}, {7, 13}, {4096, 8}, {1, 1}, {1 << 20, 1}}) {
        const Result c = Compress(h, small, CS_LZC, inPiece, outPiece);
        ASSERT_EQ(c.rc, CS_END_OF_STREAM);
        EXPECT_TRUE(c.data == ref.data) << inPiece << "/" << outPiece;
    }
    for (auto [inPiece, outPiece] : {std::pair<size_t, size_t>{1, 1}, {3, 1}, {1, 1000}, {999, 7}}) {
        const Result d = Decompress(h, ref.data, inPiece, outPiece);
        ASSERT_EQ(d.rc, CS_END_OF_STREAM);
        EXPECT_TRUE(d.data == small) << inPiece << "/" << outPiece;
    }
}

TEST(Lzw, OneByteStreamIsOneCodeInTwoBytes)
{
    Handle h;
    const Result c = Compress(h, Bytes{'A'}, CS_LZC);
    ASSERT_EQ(c.rc, CS_END_OF_STREAM);
    ASSERT_EQ(c.data.size(), 10u);
    EXPECT_EQ(c.data[7], 0x8D);
    EXPECT_EQ(c.data[8], 'A');
    EXPECT_EQ(c.data[9], 0);
}

TEST(Lzw, InputBeyondTheStreamLengthIsIgnored)
{
    Handle h;
    const Bytes data = Text(1000);
    uint8_t out[4096];
    int32_t r = 0;
    int32_t w = 0;
    ASSERT_EQ(CsRCompress(h, 600, data.data(), 1000, out, sizeof out, CS_INIT_COMPRESS | CS_LZC, &r, &w),
              CS_END_OF_STREAM);
    EXPECT_EQ(r, 600);
    const Result back = Decompress(h, Bytes(out, out + w));
    ASSERT_EQ(back.rc, CS_END_OF_STREAM);
    EXPECT_TRUE(back.data == Bytes(data.begin(), data.begin() + 600));
}

TEST(Lzw, DecoderStopsAtTheLengthAndReadsNoFurther)
{
    Handle h;
    const Bytes data = Text(3000);
    Bytes stream = Compress(h, data, CS_LZC).data;
    const size_t streamSize = stream.size();
    stream.insert(stream.end(), 100, 0xEE);
    uint8_t out[8000];
    int32_t r = 0;
    int32_t w = 0;
    ASSERT_EQ(CsRDecompress(h, stream.data(), static_cast<int32_t>(stream.size()), out, sizeof out, CS_INIT_DECOMPRESS,
                            &r, &w),
              CS_END_OF_STREAM);
    EXPECT_EQ(static_cast<size_t>(r), streamSize);
    EXPECT_EQ(w, 3000);
}

TEST(Lzw, CoderArgumentChecks)
{
    Handle h;
    uint8_t buf[64] = {};
    int32_t r = 0;
    int32_t w = 0;
    EXPECT_EQ(CsRCompress(h, 10, buf, 10, buf + 32, 7, CS_INIT_COMPRESS, &r, &w), CS_E_OUT_TOO_SMALL);
    EXPECT_EQ(CsRCompress(h, 0, buf, 0, buf + 32, 32, CS_INIT_COMPRESS, &r, &w), CS_E_STREAM_LEN);
    EXPECT_EQ(CsRCompress(h, -5, buf, 0, buf + 32, 32, CS_INIT_COMPRESS, &r, &w), CS_E_STREAM_LEN);
    EXPECT_EQ(CsRCompress(h, 10, buf, 10, buf, 32, CS_INIT_COMPRESS, &r, &w), CS_E_SAME_BUFFER);
    EXPECT_EQ(CsRCompress(h, 10, nullptr, 10, buf, 32, CS_INIT_COMPRESS, &r, &w), CS_E_NULL_BUFFER);
    EXPECT_EQ(CsRCompress(h, 10, buf, 10, buf + 32, 32, CS_INIT_COMPRESS | 4, &r, &w), CS_E_UNKNOWN_ALG);
}

TEST(Lzw, CorruptCodeSequencesAreRejected)
{
    Handle h;
    // A first code of 256 or more.
    EXPECT_EQ(Decompress(h, CodeStream({300, 65}, 5)).rc, CS_E_BAD_CODE);
    // A code above the next free code (257 is the only new one allowed here).
    EXPECT_EQ(Decompress(h, CodeStream({65, 66, 400}, 10)).rc, CS_E_BAD_CODE);
    // After a clear code the next code must be a plain byte again.
    EXPECT_EQ(Decompress(h, CodeStream({65, 66, 256, 0, 0, 0, 0, 0, 258}, 10)).rc, CS_E_BAD_CODE);
    // KwKwK: a code equal to the next free code is fine.
    const Result ok = Decompress(h, CodeStream({65, 257}, 3));
    ASSERT_EQ(ok.rc, CS_END_OF_STREAM);
    EXPECT_EQ(std::string(ok.data.begin(), ok.data.end()), "AAA");
    // Widths below 9 or above 14.
    EXPECT_EQ(Decompress(h, CodeStream({65}, 1, 0x88)).rc, CS_E_MAX_BITS);
    EXPECT_EQ(Decompress(h, CodeStream({65}, 1, 0x80)).rc, CS_E_MAX_BITS);
    EXPECT_EQ(Decompress(h, CodeStream({65}, 1, 0x8F)).rc, CS_E_MAX_BITS);
}

TEST(Lzw, StaleTablesOfAnEarlierStreamAreNeverWalked)
{
    Handle h;
    // Fill the table with a long stream, then feed a short one whose codes
    // point into the old table: it must fail, not decode garbage.
    const Bytes data = Text(50000);
    const Result c = Compress(h, data, CS_LZC);
    ASSERT_EQ(Decompress(h, c.data).rc, CS_END_OF_STREAM);
    EXPECT_EQ(Decompress(h, CodeStream({65, 66, 3000}, 50)).rc, CS_E_BAD_CODE);
}

TEST(Lzw, TruncatedStreamAsksForInputThenFails)
{
    Handle h;
    const Bytes data = Text(5000);
    Bytes stream = Compress(h, data, CS_LZC).data;
    stream.resize(stream.size() / 2);
    EXPECT_EQ(Decompress(h, stream).rc, CS_E_IN_EXPECTED);
}
