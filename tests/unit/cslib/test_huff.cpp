// Deflate-style codec: round trips over levels, data kinds and sizes; output
// independent of how input and output are split; the deterministic preamble;
// the overflow rule; and every error result of the decoder on crafted input.
#include "tests/unit/cslib/huff_test_util.h"

#include "cslib/crc32.h"
#include "cslib/csheader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

using namespace hufftest;

namespace {

Bytes MakeData(int kind, size_t n)
{
    switch (kind) {
    case 0:
        return TextBytes(n, 1);
    case 1:
        return RandomBytes(n, 2);
    case 2:
        return Bytes(n, 0);
    default:
        return BinaryBytes(n, 3);
    }
}

TEST(HuffRoundTrip, AllLevelsKindsAndSizes)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    for (size_t n : {0, 1, 2, 3, 16383, 16384, 16385, 65536}) {
        for (int kind = 0; kind < 4; ++kind) {
            const Bytes data = MakeData(kind, n);
            for (int level = 1; level <= 9; ++level) {
                const Result z = Compress(c.get(), data, level);
                ASSERT_EQ(z.rc, CS_END_OF_STREAM) << n << "/" << kind << "/" << level;
                const Result u = Decompress(d.get(), z.data);
                ASSERT_EQ(u.rc, CS_END_OF_STREAM) << n << "/" << kind << "/" << level;
                ASSERT_EQ(u.data, data) << n << "/" << kind << "/" << level;
            }
        }
    }
}

TEST(HuffRoundTrip, CompressesWhatRepeats)
{
    auto c = NewCompressArea();
    const Bytes zeros(65536, 0);
    EXPECT_LT(Compress(c.get(), zeros, 2).data.size(), 300u);
    const Bytes text = TextBytes(65536, 9);
    EXPECT_LT(Compress(c.get(), text, 2).data.size(), text.size() / 3);
    EXPECT_LT(Compress(c.get(), text, 9).data.size(), Compress(c.get(), text, 1).data.size());
    // Random data grows by a few bytes per block only.
    const Bytes rnd = RandomBytes(65536, 4);
    EXPECT_LT(Compress(c.get(), rnd, 2).data.size(), rnd.size() + rnd.size() / 100);
}

TEST(HuffRoundTrip, LongStreamAcrossManyWindowSlides)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    Bytes data = BinaryBytes(1 << 20, 5);
    const Bytes text = TextBytes(1 << 19, 6);
    data.insert(data.end(), text.begin(), text.end());
    for (int level : {2, 6, 9}) {
        const Result z = Compress(c.get(), data, level);
        ASSERT_EQ(z.rc, CS_END_OF_STREAM);
        const Result u = Decompress(d.get(), z.data, 5000, 3000);
        ASSERT_EQ(u.rc, CS_END_OF_STREAM);
        ASSERT_EQ(u.data, data);
    }
}

TEST(HuffSplitting, CoderOutputDoesNotDependOnPieceSizes)
{
    auto c = NewCompressArea();
    const Bytes data = BinaryBytes(100000, 8);
    for (int level : {1, 2, 4, 9}) {
        const Bytes whole = Compress(c.get(), data, level).data;
        for (size_t inPiece : {1, 7, 262, 4096, 70000}) {
            for (size_t outPiece : {8, 13, 1000, 1 << 17}) {
                if (inPiece == 1 && outPiece == 8)
                    continue;  // slow, covered by neighbours
                const Result z = Compress(c.get(), data, level, true, inPiece, outPiece);
                ASSERT_EQ(z.rc, CS_END_OF_STREAM);
                ASSERT_EQ(z.data, whole) << "level " << level << " in " << inPiece << " out " << outPiece;
            }
        }
    }
}

// A block is written straight into the caller's output when it fits there.
// Catches a room check that lets the block, or the writer's 8-byte stores
// past its end, run over the output it was given (the buffers here are
// exactly the size offered, so the sanitizer sees any byte beyond), and an
// output that differs between the direct and the buffered way.
TEST(HuffSplitting, BlocksFitTheOutputOfferedAtEveryRoom)
{
    auto c = NewCompressArea();
    const Bytes inputs[] = {TextBytes(30000, 3), TextBytes(200, 4), RandomBytes(20000, 5)};
    for (const Bytes& data : inputs) {
        for (int level : {2, 9}) {
            const Bytes whole = Compress(c.get(), data, level).data;
            const size_t from = whole.size() > 48 ? whole.size() - 40 : 8;
            for (size_t room = from; room <= whole.size() + 40; ++room) {
                const Result z = Compress(c.get(), data, level, true, 1 << 30, room);
                ASSERT_EQ(z.rc, CS_END_OF_STREAM) << "room " << room;
                ASSERT_EQ(z.data, whole) << "level " << level << " room " << room;
            }
        }
    }
}

// A copy at the farthest distance a match may reach (16122) must be found
// however the input comes in pieces.  Catches a buffer move, made early
// because a piece ended there, that turns the copy's position into "no
// position" for that split only (the copies sit where the pieces below end
// the coder's buffer fills).
TEST(HuffSplitting, FarthestCopyIsFoundWhateverTheSplit)
{
    auto c = NewCompressArea();
    for (unsigned seed = 0; seed < 12; ++seed) {
        Bytes data = RandomBytes(70000, 200 + seed);
        for (size_t at : {32506, 65274})
            std::copy(data.begin() + static_cast<std::ptrdiff_t>(at - 16122),
                      data.begin() + static_cast<std::ptrdiff_t>(at - 16122 + 8),
                      data.begin() + static_cast<std::ptrdiff_t>(at));
        for (int level : {2, 9}) {
            const Bytes whole = Compress(c.get(), data, level).data;
            for (size_t piece : {32767, 65535}) {
                const Result split = Compress(c.get(), data, level, true, piece);
                ASSERT_EQ(split.rc, CS_END_OF_STREAM);
                ASSERT_EQ(split.data, whole) << "seed " << seed << " level " << level << " piece " << piece;
            }
        }
    }
}

// The stream format is fixed: speed work on the coder must not change a
// single output bit.  CRC-32 of the deterministic output of each level.
TEST(HuffRoundTrip, OutputIsPinned)
{
    static const uint32_t kPinned[2][9] = {
        {0x101E11EAu, 0xA830053Eu, 0xFD2BCA51u, 0x7D8250FEu, 0x7ED20E57u, 0xB54B81B9u, 0x84B8E612u, 0x357C2794u,
         0xD785F571u},
        {0x1BCA2919u, 0x9CAD92E5u, 0x3F04EBF2u, 0xB7C1B7DAu, 0x66AC8664u, 0x8EFAFA25u, 0x513350BCu, 0xD7D52955u,
         0xB0791DFBu},
    };
    auto c = NewCompressArea();
    const Bytes data[2] = {TextBytes(100000, 41), BinaryBytes(100000, 42)};
    for (int k = 0; k < 2; ++k) {
        for (int level = 1; level <= 9; ++level) {
            const Bytes z = Compress(c.get(), data[k], level).data;
            EXPECT_EQ(~CsCrc32Update(0xFFFFFFFFu, z.data(), z.size()), kPinned[k][level - 1])
                << "data " << k << " level " << level;
        }
    }
}

TEST(HuffSplitting, DecoderResumesAnywhere)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    for (int kind : {0, 3, 1}) {
        const Bytes data = MakeData(kind, 70000);
        const Bytes z = Compress(c.get(), data, 2).data;
        for (size_t inPiece : {1, 2, 3, 17, 300, 1 << 20}) {
            for (size_t outPiece : {1, 7, 258, 8192, 1 << 20}) {
                if (inPiece < 3 && outPiece < 8 && kind == 1)
                    continue;
                const Result u = Decompress(d.get(), z, inPiece, outPiece);
                ASSERT_EQ(u.rc, CS_END_OF_STREAM) << kind << " in " << inPiece << " out " << outPiece;
                ASSERT_EQ(u.data, data) << kind << " in " << inPiece << " out " << outPiece;
            }
        }
    }
}

TEST(HuffHeader, FieldsAndDeterminism)
{
    auto c = NewCompressArea();
    const Bytes data = TextBytes(5000, 3);
    for (int level : {0, 1, 5, 9, 10, 15}) {
        const Bytes z = Compress(c.get(), data, level).data;
        ASSERT_GE(z.size(), 9u);
        EXPECT_EQ(CsHeaderLength(z.data()), 5000);
        EXPECT_EQ(z[4], 0x12);
        EXPECT_EQ(z[5], 0x1F);
        EXPECT_EQ(z[6], 0x9D);
        EXPECT_EQ(z[7], (level >= 1 && level <= 9) ? level : 2);
        EXPECT_EQ(z[8] & 3, 0);  // deterministic preamble: count 0
        EXPECT_EQ(Compress(c.get(), data, level).data, z);
    }
    int32_t rd, wr;
    uint8_t out[64];
    ASSERT_EQ(CsHuffCompress(c.get(), true, 2, true, 10, nullptr, 0, out, 8, &rd, &wr, true), CS_END_INBUFFER);
    EXPECT_EQ(wr, 8);
    EXPECT_EQ(out[4], 0x1A);
}

TEST(HuffHeader, RandomPreamblesAllDecode)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    const Bytes data = TextBytes(3000, 4);
    bool sawNonZero = false;
    for (int i = 0; i < 16; ++i) {
        const Bytes z = Compress(c.get(), data, 2, false).data;
        sawNonZero |= (z[8] & 3) != 0;
        const Result u = Decompress(d.get(), z);
        ASSERT_EQ(u.rc, CS_END_OF_STREAM);
        ASSERT_EQ(u.data, data);
    }
    EXPECT_TRUE(sawNonZero);
}

TEST(HuffCoder, Errors)
{
    auto c = NewCompressArea();
    int32_t rd = -1, wr = -1;
    uint8_t in[4] = {1, 2, 3, 4};
    uint8_t out[16];
    EXPECT_EQ(CsHuffCompress(c.get(), true, 2, false, 4, in, 4, out, 7, &rd, &wr, true), CS_E_OUT_TOO_SMALL);
    EXPECT_EQ(CsHuffCompress(c.get(), true, 2, false, -1, in, 4, out, 16, &rd, &wr, true), CS_E_STREAM_LEN);
    EXPECT_EQ(CsHuffCompress(c.get(), true, 2, false, 4, in, -1, out, 16, &rd, &wr, true), CS_E_IN_TOO_SMALL);
    EXPECT_EQ(CsHuffCompress(c.get(), true, 2, false, 4, in, 4, out, -1, &rd, &wr, true), CS_E_OUT_TOO_SMALL);
}

TEST(HuffCoder, InputBeyondStreamLengthIsIgnored)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    const Bytes data = TextBytes(1000, 2);
    Bytes out(4096);
    int32_t rd, wr;
    ASSERT_EQ(CsHuffCompress(c.get(), true, 2, false, 600, data.data(), 1000, out.data(), 4096, &rd, &wr, true),
              CS_END_OF_STREAM);
    EXPECT_EQ(rd, 600);
    out.resize(static_cast<size_t>(wr));
    const Result u = Decompress(d.get(), out);
    ASSERT_EQ(u.rc, CS_END_OF_STREAM);
    EXPECT_EQ(u.data, Bytes(data.begin(), data.begin() + 600));
}

// With little output space per step, a step that spills into the overflow
// buffer takes no more input until the pending bytes are handed out.
TEST(HuffCoder, OverflowStopsInputUntilDrained)
{
    auto c = NewCompressArea();
    auto d = NewDecompressArea();
    const Bytes data = RandomBytes(300000, 12);
    Bytes stream, buf(512);
    size_t pos = 0;
    bool first = true;
    int rc;
    int spills = 0;
    do {
        int32_t rd, wr;
        rc = CsHuffCompress(c.get(), first, 2, false, static_cast<int32_t>(data.size()), data.data() + pos,
                            static_cast<int32_t>(data.size() - pos), buf.data(), 512, &rd, &wr, true);
        first = false;
        ASSERT_GE(rc, 0);
        pos += static_cast<size_t>(rd);
        stream.insert(stream.end(), buf.begin(), buf.begin() + wr);
        if (rc == CS_END_OUTBUFFER) {
            EXPECT_EQ(wr, 512);
            // No output space: nothing moves, the input stays untouched.
            ++spills;
            ASSERT_EQ(CsHuffCompress(c.get(), false, 2, false, static_cast<int32_t>(data.size()), data.data() + pos,
                                     static_cast<int32_t>(data.size() - pos), buf.data(), 0, &rd, &wr, true),
                      CS_END_OUTBUFFER);
            EXPECT_EQ(rd, 0);
            EXPECT_EQ(wr, 0);
        }
    } while (rc != CS_END_OF_STREAM);
    EXPECT_GT(spills, 100);
    EXPECT_EQ(pos, data.size());
    const Result u = Decompress(d.get(), stream);
    ASSERT_EQ(u.rc, CS_END_OF_STREAM);
    EXPECT_EQ(u.data, data);
}

// ---- crafted streams for the decoder ------------------------------------

class StreamWriter {
public:
    explicit StreamWriter(int32_t length)
        : bytes_(8)
    {
        CsWriteHeader(bytes_.data(), length, CS_ALG_LZH, 0, 2);
    }
    StreamWriter& Bits(uint32_t value, int n)
    {  // least significant bit first
        for (int i = 0; i < n; ++i)
            Bit((value >> i) & 1);
        return *this;
    }
    StreamWriter& Code(uint32_t code, int n)
    {  // Huffman code, most significant bit first
        for (int i = n - 1; i >= 0; --i)
            Bit((code >> i) & 1);
        return *this;
    }
    // Fixed literal/length code of sym.
    StreamWriter& Fixed(int sym)
    {
        if (sym < 144)
            return Code(0x30 + sym, 8);
        if (sym < 256)
            return Code(0x190 + sym - 144, 9);
        if (sym < 280)
            return Code(sym - 256, 7);
        return Code(0xC0 + sym - 280, 8);
    }
    Bytes Done()
    {
        Bytes b = bytes_;
        if (nbits_)
            b.push_back(cur_);
        b.push_back(0);
        b.push_back(0);
        return b;
    }

private:
    void Bit(uint32_t b)
    {
        cur_ |= static_cast<uint8_t>(b << nbits_);
        if (++nbits_ == 8) {
            bytes_.push_back(cur_);
            cur_ = 0;
            nbits_ = 0;
        }
    }
    Bytes bytes_;
    uint8_t cur_ = 0;
    int nbits_ = 0;
};

int DecodeRc(const Bytes& s, Bytes* out = nullptr)
{
    auto d = NewDecompressArea();
    const Result r = Decompress(d.get(), s);
    if (out)
        *out = r.data;
    return r.rc;
}

TEST(HuffDecoder, HeaderAndCallErrors)
{
    auto d = NewDecompressArea();
    const Bytes z = Compress(NewCompressArea().get(), TextBytes(100, 1), 2).data;
    int32_t rd, wr;
    uint8_t out[200];
    EXPECT_EQ(CsHuffDecompress(d.get(), true, z.data(), 7, out, 200, &rd, &wr), CS_E_IN_TOO_SMALL);
    EXPECT_EQ(CsHuffDecompress(d.get(), true, z.data(), 8, out, 200, &rd, &wr), CS_END_INBUFFER);
    EXPECT_EQ(rd, 8);
    EXPECT_EQ(CsHuffDecompress(d.get(), false, nullptr, 0, out, 0, &rd, &wr), CS_E_NO_BUFFERS);
    EXPECT_EQ(CsHuffDecompress(d.get(), false, z.data() + 8, static_cast<int32_t>(z.size() - 8), out, 200, &rd, &wr),
              CS_END_OF_STREAM);
    EXPECT_EQ(wr, 100);
    Bytes bad = z;
    std::swap(bad[5], bad[6]);
    EXPECT_EQ(CsHuffDecompress(d.get(), true, bad.data(), static_cast<int32_t>(bad.size()), out, 200, &rd, &wr),
              CS_E_HEADER);
    bad = z;
    bad[3] = 0x80;  // length of 2^31 or more
    EXPECT_EQ(CsHuffDecompress(d.get(), true, bad.data(), static_cast<int32_t>(bad.size()), out, 200, &rd, &wr),
              CS_E_HEADER);
    auto fresh = NewDecompressArea();
    std::memset(fresh.get(), 0, CsHuffDecomprStateSize());
    EXPECT_EQ(CsHuffDecompress(fresh.get(), false, z.data(), 10, out, 200, &rd, &wr), CS_E_NOT_INIT);
}

TEST(HuffDecoder, BlockTypes)
{
    // Preamble count 0, then a last block of type 0 (stored) or 3.
    EXPECT_EQ(DecodeRc(StreamWriter(5).Bits(0, 2).Bits(1, 1).Bits(0, 2).Done()), CS_E_BLOCK_TYPE);
    EXPECT_EQ(DecodeRc(StreamWriter(5).Bits(0, 2).Bits(1, 1).Bits(3, 2).Done()), CS_E_BLOCK_TYPE);
    // Preamble count 3 with filler bits, then a fixed block "ab".
    Bytes out;
    EXPECT_EQ(
        DecodeRc(StreamWriter(2).Bits(3, 2).Bits(5, 3).Bits(1, 1).Bits(1, 2).Fixed('a').Fixed('b').Fixed(256).Done(),
                 &out),
        CS_END_OF_STREAM);
    EXPECT_EQ(out, (Bytes{'a', 'b'}));
}

TEST(HuffDecoder, CorruptSymbolsAndDistances)
{
    auto fixedBlock = [](int32_t len) {
        StreamWriter w(len);
        w.Bits(0, 2).Bits(1, 1).Bits(1, 2);
        return w;
    };
    // Distance 2 after one byte: before the start of the stream.
    EXPECT_EQ(DecodeRc(fixedBlock(10).Fixed('a').Fixed(257).Code(1, 5).Fixed(256).Done()), CS_E_HUFF_DATA);
    // Distance 1 after one byte is fine: "aaaa".
    Bytes out;
    EXPECT_EQ(DecodeRc(fixedBlock(4).Fixed('a').Fixed(257).Code(0, 5).Fixed(256).Done(), &out), CS_END_OF_STREAM);
    EXPECT_EQ(out, Bytes(4, 'a'));
    // Distance codes 30 and 31, length codes 286 and 287.
    EXPECT_EQ(DecodeRc(fixedBlock(10).Fixed('a').Fixed(257).Code(30, 5).Done()), CS_E_HUFF_DATA);
    EXPECT_EQ(DecodeRc(fixedBlock(10).Fixed('a').Fixed(257).Code(31, 5).Done()), CS_E_HUFF_DATA);
    EXPECT_EQ(DecodeRc(fixedBlock(10).Fixed('a').Fixed(286).Done()), CS_E_HUFF_DATA);
    EXPECT_EQ(DecodeRc(fixedBlock(10).Fixed('a').Fixed(287).Done()), CS_E_HUFF_DATA);
    // Distance 16385 (code 28) is beyond the window even with enough data.
    {
        StreamWriter w(20000);
        w.Bits(0, 2).Bits(1, 1).Bits(1, 2).Fixed('x');
        for (int i = 0; i < 70; ++i)
            w.Fixed(285).Code(0, 5);  // 70 x 258 copies of 'x'
        w.Fixed(257).Code(28, 5).Bits(0, 13);
        EXPECT_EQ(DecodeRc(w.Done()), CS_E_HUFF_DATA);
    }
    // The last block ends before the length of the header is reached.
    EXPECT_EQ(DecodeRc(fixedBlock(5).Fixed('a').Fixed(256).Done()), CS_E_HUFF_DATA);
    // A length shorter than the data stops the decoder there.
    EXPECT_EQ(DecodeRc(fixedBlock(1).Fixed('a').Fixed('b').Fixed(256).Done(), &out), CS_END_OF_STREAM);
    EXPECT_EQ(out, Bytes{'a'});
}

// The same corrupt codes deep inside a long stream with input to spare,
// where the decoder's fast loop meets them: decoded whole and byte by byte
// (the step-by-step path), the result and the bytes before it agree.
TEST(HuffDecoder, CorruptCodesMidStreamFailAlikeOnBothPaths)
{
    struct Tail {
        const char* what;
        std::function<void(StreamWriter&)> put;
        int rc;
    };
    const std::vector<Tail> tails = {
        {"sound", [](StreamWriter&) {}, CS_END_OF_STREAM},
        {"length code 286", [](StreamWriter& w) { w.Fixed(286); }, CS_E_HUFF_DATA},
        {"length code 287", [](StreamWriter& w) { w.Fixed(287); }, CS_E_HUFF_DATA},
        {"distance code 30", [](StreamWriter& w) { w.Fixed(257).Code(30, 5); }, CS_E_HUFF_DATA},
        {"distance code 31", [](StreamWriter& w) { w.Fixed(257).Code(31, 5); }, CS_E_HUFF_DATA},
        {"distance 16385", [](StreamWriter& w) { w.Fixed(257).Code(28, 5).Bits(0, 13); }, CS_E_HUFF_DATA},
        {"distance before the start", [](StreamWriter& w) { w.Fixed(285).Code(27, 5).Bits(4095, 12); }, CS_E_HUFF_DATA},
        {"block ends early", [](StreamWriter& w) { w.Fixed(256); }, CS_E_HUFF_DATA},
    };
    for (const Tail& t : tails) {
        constexpr int32_t kLength = 30000;
        StreamWriter w(kLength);
        w.Bits(0, 2).Bits(1, 1).Bits(1, 2).Fixed('x').Fixed('y');
        for (int i = 0; i < 60; ++i)
            w.Fixed(285).Code(1, 5);  // 60 x 258 copies of "xy"
        t.put(w);
        // Input and output to spare behind the tail: literals up to the length.
        for (int i = 2 + 60 * 258; i < kLength; ++i)
            w.Fixed('a' + i % 26);
        w.Fixed(256);
        const Bytes s = w.Done();
        auto d = NewDecompressArea();
        const Result whole = Decompress(d.get(), s);
        const Result steps = Decompress(d.get(), s, 1, 1);
        EXPECT_EQ(whole.rc, t.rc) << t.what;
        EXPECT_EQ(steps.rc, t.rc) << t.what;
        const size_t n = std::min(whole.data.size(), steps.data.size());
        EXPECT_GE(n, 60u * 258) << t.what;
        EXPECT_TRUE(std::equal(whole.data.begin(), whole.data.begin() + n, steps.data.begin())) << t.what;
    }
}

// Canonical codes of the given lengths (0: no code), most significant bit
// first as StreamWriter::Code takes them.
std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lens)
{
    int count[16] = {};
    for (int l : lens)
        count[l]++;
    count[0] = 0;
    uint32_t next[16] = {};
    for (int len = 1, code = 0; len < 16; ++len)
        next[len] = code = (code + count[len - 1]) << 1;
    std::vector<uint32_t> codes(lens.size());
    for (size_t s = 0; s < lens.size(); ++s)
        if (lens[s])
            codes[s] = next[lens[s]]++;
    return codes;
}

// A dynamic block whose codes run from 1 to 15 bits, so that literals,
// lengths, distances and the block's end are also met beyond the decoder's
// first lookup, with input and output to spare: decoded whole and byte by
// byte, a sound stream and one whose last block ends early come out alike
// on both paths.
TEST(HuffDecoder, CodesUpTo15BitsDecodeAlikeOnBothPaths)
{
    // Literal/length: 'a'..'l' take 1..12 bits, length symbols 258 (4 bytes)
    // and 265 (11 or 12 bytes) 13 and 14, the block's end and 'm' 15.
    std::vector<int> litLens(266, 0);
    for (int i = 0; i < 12; ++i)
        litLens['a' + i] = i + 1;
    litLens[258] = 13;
    litLens[265] = 14;
    litLens[256] = litLens['m'] = 15;
    std::vector<int> distLens(14);  // codes 0..11: 1..12 bits, 12 and 13: 13
    for (int i = 0; i < 14; ++i)
        distLens[i] = std::min(i + 1, 13);
    std::vector<int> clLens(19, 4);  // code lengths 0..14: 4 bits, 15 and 18: 5
    clLens[15] = clLens[18] = 5;
    clLens[16] = clLens[17] = 0;
    const auto litCodes = CanonicalCodes(litLens), distCodes = CanonicalCodes(distLens),
               clCodes = CanonicalCodes(clLens);
    const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

    // length: the header's; last: whether this block ends the stream.  The
    // body is 3,000 literals with a match after every fourth, its distance at
    // most 97 back; a fixed block of 400 "z" follows unless this block is the
    // last, and then input to spare.
    auto stream = [&](int32_t length, bool last) {
        StreamWriter w(length);
        w.Bits(0, 2).Bits(last, 1).Bits(2, 2).Bits(266 - 257, 5).Bits(14 - 1, 5).Bits(19 - 4, 4);
        for (int i = 0; i < 19; ++i)
            w.Bits(static_cast<uint32_t>(clLens[kOrder[i]]), 3);
        for (const auto* lens : {&litLens, &distLens}) {
            for (size_t i = 0; i < lens->size();) {
                size_t run = 0;
                while (i + run < lens->size() && (*lens)[i + run] == 0 && run < 138)
                    ++run;
                if (run >= 11) {
                    w.Code(clCodes[18], 5).Bits(static_cast<uint32_t>(run - 11), 7);
                } else {
                    run = 1;
                    w.Code(clCodes[(*lens)[i]], clLens[(*lens)[i]]);
                }
                i += run;
            }
        }
        for (int i = 0; i < 3000; ++i) {
            w.Code(litCodes['a' + i % 13], litLens['a' + i % 13]);
            if (i % 4 != 3 || i < 100)
                continue;
            const int lenSym = i % 8 == 3 ? 258 : 265, distCode = i / 4 % 13;
            w.Code(litCodes[lenSym], litLens[lenSym]).Bits(1, lenSym == 265 ? 1 : 0);
            w.Code(distCodes[distCode], distLens[distCode]).Bits(0, distCode < 4 ? 0 : distCode / 2 - 1);
        }
        w.Code(litCodes[256], 15);
        if (!last) {
            w.Bits(1, 1).Bits(1, 2);
            for (int i = 0; i < 400; ++i)
                w.Fixed('z');
            w.Fixed(256);
        }
        Bytes b = w.Done();
        b.resize(b.size() + 32);
        return b;
    };
    int32_t n = 400;  // the body's bytes and the "z"s
    for (int i = 0; i < 3000; ++i)
        n += 1 + (i % 4 != 3 || i < 100 ? 0 : i % 8 == 3 ? 4 : 12);
    const struct {
        const char* what;
        Bytes s;
        int rc;
    } cases[] = {
        {"sound", stream(n, false), CS_END_OF_STREAM},
        {"last block ends early", stream(n, true), CS_E_HUFF_DATA},
    };
    for (const auto& c : cases) {
        auto d = NewDecompressArea();
        const Result whole = Decompress(d.get(), c.s);
        const Result steps = Decompress(d.get(), c.s, 1, 1);
        EXPECT_EQ(whole.rc, c.rc) << c.what;
        EXPECT_EQ(steps.rc, c.rc) << c.what;
        EXPECT_EQ(whole.data, steps.data) << c.what;
        if (c.rc == CS_END_OF_STREAM) {
            EXPECT_EQ(whole.data.size(), static_cast<size_t>(n));
        }
    }
}

TEST(HuffDecoder, DynamicHeaderErrors)
{
    auto dyn = [](int32_t len, uint32_t hlit, uint32_t hdist, uint32_t hclen) {
        StreamWriter w(len);
        w.Bits(0, 2).Bits(1, 1).Bits(2, 2).Bits(hlit, 5).Bits(hdist, 5).Bits(hclen, 4);
        return w;
    };
    EXPECT_EQ(DecodeRc(dyn(5, 30, 0, 0).Bits(0, 12).Done()), CS_E_BAD_COUNTS);  // 287 lengths
    EXPECT_EQ(DecodeRc(dyn(5, 0, 30, 0).Bits(0, 12).Done()), CS_E_BAD_COUNTS);  // 31 distances
    // Code-length code over-subscribed: 16, 17 and 18 all of length 1.
    EXPECT_EQ(DecodeRc(dyn(5, 0, 0, 0).Bits(1, 3).Bits(1, 3).Bits(1, 3).Bits(0, 3).Done()), CS_E_BAD_LENGTHS);
    // Code-length code incomplete: only 18 of length 1.
    EXPECT_EQ(DecodeRc(dyn(5, 0, 0, 0).Bits(0, 3).Bits(0, 3).Bits(1, 3).Bits(0, 3).Done()), CS_E_BAD_LENGTHS);
    // 16 and 17 of length 1 (codes 0 and 1): a repeat with no previous length.
    EXPECT_EQ(DecodeRc(dyn(5, 0, 0, 0).Bits(1, 3).Bits(1, 3).Bits(0, 3).Bits(0, 3).Code(0, 1).Bits(0, 2).Done()),
              CS_E_BAD_REPEAT);
    // A run of zeros past the 258 lengths: 17 (code 1) repeating 10 after 257 zeros.
    {
        StreamWriter w = dyn(5, 0, 0, 0);
        w.Bits(0, 3).Bits(1, 3).Bits(1, 3).Bits(0, 3);                // 17 -> '0', 18 -> '1'
        w.Code(1, 1).Bits(138 - 11, 7).Code(1, 1).Bits(119 - 11, 7);  // 257 zeros
        w.Code(0, 1).Bits(7, 3);                                      // 10 more: too many
        EXPECT_EQ(DecodeRc(w.Done()), CS_E_BAD_REPEAT);
    }
    // Literal/length code incomplete: only 256 has a length (2).  Code-length
    // code: 2 -> '0' and 18 -> '1' (positions 2 and 15 of the order).
    {
        StreamWriter w = dyn(5, 0, 0, 12);  // 16 code-length lengths
        const int lens16[16] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        for (int l : lens16)
            w.Bits(static_cast<uint32_t>(l), 3);
        w.Code(1, 1).Bits(127, 7).Code(1, 1).Bits(107, 7);  // 138 + 118 zeros
        w.Code(0, 1);                                       // 256: length 2
        w.Code(0, 1);                                       // distance 0: length 2
        EXPECT_EQ(DecodeRc(w.Done()), CS_E_BAD_LENGTHS);
    }
}

}  // namespace
