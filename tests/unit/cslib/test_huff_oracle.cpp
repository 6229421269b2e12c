// The deflate-style codec against zlib as an independent implementation of
// the bit stream: our streams, with header and preamble removed, inflate
// under zlib (16 KiB window) to the same bytes with exactly one 0x00 byte
// left; zlib's raw streams of every level and strategy, behind our header
// and any preamble, decode with our decoder.
#include "tests/unit/cslib/huff_test_util.h"

#include "cslib/csheader.h"

#include <gtest/gtest.h>
#include <zlib.h>

using namespace hufftest;

namespace {

// Drops the first k bits (0 <= k < 8) of a little-endian bit stream.
Bytes ShiftDown(const uint8_t* p, size_t n, int k)
{
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned next = i + 1 < n ? p[i + 1] : 0;
        out[i] = static_cast<uint8_t>(k ? (p[i] >> k) | (next << (8 - k)) : p[i]);
    }
    return out;
}

// Puts k bits of prefix in front of a little-endian bit stream.
Bytes ShiftUp(const Bytes& s, uint32_t prefix, int k)
{
    Bytes out(s.size() + 1);
    unsigned carry = prefix;
    for (size_t i = 0; i < s.size(); ++i) {
        out[i] = static_cast<uint8_t>(carry | (s[i] << k));
        carry = k ? s[i] >> (8 - k) : 0;
    }
    out[s.size()] = static_cast<uint8_t>(carry);
    return out;
}

Bytes ZlibDeflate(const Bytes& data, int level, int strategy)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, level, Z_DEFLATED, -14, 8, strategy), Z_OK);
    Bytes out(deflateBound(&zs, data.size()) + 16);
    zs.next_in = const_cast<Bytes::value_type*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

Bytes Wrap(const Bytes& raw, size_t length, uint32_t preambleCount, uint32_t filler)
{
    Bytes s(8);
    CsWriteHeader(s.data(), static_cast<int32_t>(length), CS_ALG_LZH, 0, 2);
    const Bytes body = ShiftUp(raw, preambleCount | (filler << 2), 2 + static_cast<int>(preambleCount));
    s.insert(s.end(), body.begin(), body.end());
    return s;
}

// Inflates our stream with zlib and checks what follows the last block.
void CheckWithZlib(const Bytes& stream, const Bytes& data)
{
    ASSERT_GE(stream.size(), 10u);
    const uint32_t count = stream[8] & 3;
    const int skip = 2 + static_cast<int>(count);  // preamble bits
    const Bytes body = ShiftDown(stream.data() + 8 + skip / 8, stream.size() - 8 - skip / 8, skip % 8);
    z_stream zs{};
    ASSERT_EQ(inflateInit2(&zs, -14), Z_OK);
    Bytes out(data.size() + 1);
    zs.next_in = const_cast<Bytes::value_type*>(body.data());
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    // Z_BLOCK stops right after each end-of-block code, so the bits used up
    // to the end of the last block can be counted exactly.
    for (int guard = 0;; ++guard) {
        ASSERT_LT(guard, 100000);
        const int zrc = inflate(&zs, Z_BLOCK);
        ASSERT_EQ(zrc, Z_OK) << (zs.msg ? zs.msg : "");
        if ((zs.data_type & 128) && (zs.data_type & 64))
            break;
    }
    out.resize(zs.total_out);
    EXPECT_EQ(out, data);
    // Bits zlib used, counted in our stream from the end of the header.
    const uint64_t used = 8 * static_cast<uint64_t>(zs.total_in) - (zs.data_type & 63) + (skip / 8) * 8 + skip % 8;
    inflateEnd(&zs);
    const size_t codecLen = stream.size() - 8;
    const size_t endByte = static_cast<size_t>((used + 7) / 8);
    ASSERT_EQ(codecLen, endByte + 1) << "exactly one byte after the padded last block";
    EXPECT_EQ(stream[8 + endByte], 0);
    if (used % 8) {
        EXPECT_EQ(stream[8 + endByte - 1] >> (used % 8), 0) << "padding bits are zero";
    }
}

TEST(HuffOracle, OurStreamsInflateUnderZlib)
{
    auto c = NewCompressArea();
    for (size_t n : {0, 1, 100, 16383, 16385, 65536}) {
        for (int kind = 0; kind < 4; ++kind) {
            const Bytes data = kind == 0   ? TextBytes(n, 21)
                               : kind == 1 ? RandomBytes(n, 22)
                               : kind == 2 ? Bytes(n, 'z')
                                           : BinaryBytes(n, 23);
            for (int level = 1; level <= 9; ++level) {
                SCOPED_TRACE(testing::Message() << "size " << n << " kind " << kind << " level " << level);
                const Result z = Compress(c.get(), data, level, /*deterministic=*/level % 2 == 0);
                ASSERT_EQ(z.rc, CS_END_OF_STREAM);
                CheckWithZlib(z.data, data);
            }
        }
    }
}

TEST(HuffOracle, ZlibStreamsDecode)
{
    auto d = NewDecompressArea();
    const Bytes inputs[] = {TextBytes(70000, 31), BinaryBytes(50000, 32), Bytes(40000, 7), TextBytes(1, 3),
                            TextBytes(16384, 4)};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    uint32_t round = 0;
    for (const Bytes& data : inputs) {
        for (int level = 1; level <= 9; ++level) {
            for (int strategy : strategies) {
                const Bytes raw = ZlibDeflate(data, level, strategy);
                const uint32_t count = round % 4;
                const uint32_t filler = (round * 5) & ((1u << count) - 1);
                ++round;
                const Bytes s = Wrap(raw, data.size(), count, filler);
                SCOPED_TRACE(testing::Message()
                             << "level " << level << " strategy " << strategy << " preamble " << count);
                const Result whole = Decompress(d.get(), s);
                ASSERT_EQ(whole.rc, CS_END_OF_STREAM);
                ASSERT_EQ(whole.data, data);
                if (round % 7 == 0) {
                    const Result pieces = Decompress(d.get(), s, 3, 1000);
                    ASSERT_EQ(pieces.rc, CS_END_OF_STREAM);
                    ASSERT_EQ(pieces.data, data);
                }
            }
        }
    }
}

TEST(HuffOracle, ZlibStoredBlockIsRejected)
{
    auto d = NewDecompressArea();
    const Bytes data = TextBytes(1000, 5);
    const Bytes s = Wrap(ZlibDeflate(data, 0, Z_DEFAULT_STRATEGY), data.size(), 0, 0);
    EXPECT_EQ(Decompress(d.get(), s).rc, CS_E_BLOCK_TYPE);
}

}  // namespace
