// The coder's tables are reused from stream to stream and only partly reset:
// the hash heads are cleared, the chain links and symbol buffers are not.
// These tests make sure nothing left in a work area reaches the output, and
// pin the output where hash chains are long and cross window slides.
#include "cslib/crc32.h"
#include "huff_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace hufftest;

namespace {

// Periodic text with sparse noise: most positions share their hash with many
// others, so chains stay long and end by the chain limit or the distance.
Bytes PeriodicBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  static const char pattern[] = "struct a_b { int x; };\n";
  Bytes v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(pattern[i % (sizeof pattern - 1)]);
  for (size_t i = 0; i < n; i += 1 + gen() % 97) v[i] = static_cast<uint8_t>('a' + gen() % 26);
  return v;
}

WorkArea GarbageArea(uint8_t fill) {
  WorkArea a = NewCompressArea();
  std::memset(a.get(), fill, CsHuffComprStateSize());
  return a;
}

}  // namespace

// A stream compressed on a work area that held other streams (of every
// size, and of another level) equals the same stream on a fresh area, whatever
// that area held before.
TEST(HuffCoderState, ReusedAreaGivesTheOutputOfAFreshOne) {
  const Bytes inputs[] = {
      PeriodicBytes(120000, 3), TextBytes(70000, 4), Bytes(50000, 0),   BinaryBytes(90000, 5),
      TextBytes(1, 6),          TextBytes(3, 7),     TextBytes(300, 8), RandomBytes(40000, 9),
      PeriodicBytes(33000, 10), Bytes(),
  };
  auto shared = GarbageArea(0xA5);
  for (int level = 1; level <= 9; ++level) {
    for (size_t i = 0; i < std::size(inputs); ++i) {
      const Bytes& in = inputs[i];
      const Result used = Compress(shared.get(), in, level);
      auto fresh = GarbageArea(static_cast<uint8_t>(0x11 * i));
      const Result clean = Compress(fresh.get(), in, level);
      ASSERT_EQ(used.rc, CS_END_OF_STREAM);
      ASSERT_EQ(used.data, clean.data) << "level " << level << " input " << i;
      auto d = NewDecompressArea();
      const Result back = Decompress(d.get(), used.data);
      ASSERT_EQ(back.rc, CS_END_OF_STREAM) << "level " << level << " input " << i;
      ASSERT_EQ(back.data, in) << "level " << level << " input " << i;
    }
  }
}

// CRC-32 of the deterministic output of each level on data whose chains are
// long (up to the 4096 candidates of level 9) and span several window slides.
TEST(HuffCoderState, LongChainOutputIsPinned) {
  static const uint32_t kPinned[9] = {0x0E1F669EU, 0xC1FD7365U, 0x9FDAAA99U, 0x3558DFC7U, 0x0FF9F747U,
                                      0x482C7E91U, 0x4E1553D1U, 0x8819D023U, 0x79DEC7C0U};
  auto c = NewCompressArea();
  const Bytes data = PeriodicBytes(150000, 7);
  for (int level = 1; level <= 9; ++level) {
    const Bytes z = Compress(c.get(), data, level).data;
    EXPECT_EQ(~CsCrc32Update(0xFFFFFFFFu, z.data(), z.size()), kPinned[level - 1]) << "level " << level;
  }
}
