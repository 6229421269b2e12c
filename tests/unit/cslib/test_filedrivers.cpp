// File drivers and the file compare.
#include <gtest/gtest.h>

#include "cs_test_util.h"
#include "cslib/cslib.h"

using namespace cstest;

namespace {

std::string P(const std::string& name)
{
    return TmpDir() + "/fd_" + name;
}

int FreeHandleProbe()
{
    int h = 0;
    if (CsGetHandle(&h) != 0)
        return -1;
    CsReleaseHandle(h);
    return h;
}

}  // namespace

TEST(FileDrivers, RoundTripsWithEveryOptionAndBufferSize)
{
    Bytes data = Text(150000, 31);
    const Bytes r = Random(30000);
    data.insert(data.end(), r.begin(), r.end());
    WriteFile(P("in"), data);
    const int probe = FreeHandleProbe();
    for (int option :
         {-1, CS_LZC, CS_LZH, CS_LZC | CS_SEGMENTED, CS_LZH | CS_SEGMENTED, CS_LZH | CS_SEGMENTED | (6 << 4)}) {
        for (auto [inSize, outSize] : {std::pair<int32_t, int32_t>{0, 0}, {51, 51}, {100000, 777}, {1000, 1024}}) {
            CsFileComprParams cp{option, inSize, outSize, 0, 0, 0};
            ASSERT_EQ(CsFileCompress(P("in").c_str(), P("z").c_str(), &cp), 0) << option;
            const Bytes z = ReadFile(P("z"));
            EXPECT_EQ(cp.bytesWritten, static_cast<int32_t>(z.size()));
            EXPECT_EQ(cp.bytesRead, static_cast<int32_t>(data.size()));
            EXPECT_EQ(z[4] & 0x0F, ((option < 0 ? 35 : option) & CS_SEGMENTED) |
                                       (((option < 0 ? 35 : option) & CS_ALGO_MASK) == CS_LZH ? 2 : 1));
            CsFileDecomprParams dp{outSize, inSize, 0, 0, 0};
            ASSERT_EQ(CsFileDecompress(P("z").c_str(), P("out").c_str(), &dp), 0) << option;
            EXPECT_EQ(dp.bytesWritten, static_cast<int32_t>(data.size()));
            // The decoder stops once the data is complete; a plain Huffman-style
            // stream may leave its final bits and pad byte unread.
            if (option >= 0 && (option & CS_SEGMENTED)) {
                EXPECT_EQ(dp.bytesRead, static_cast<int32_t>(z.size()));
            } else {
                EXPECT_LE(dp.bytesRead, static_cast<int32_t>(z.size()));
                EXPECT_GE(dp.bytesRead, static_cast<int32_t>(z.size()) - 4);
            }
            EXPECT_EQ(CsCompareFiles(P("in").c_str(), P("out").c_str()), 0);
        }
    }
    // Without a parameter block.
    ASSERT_EQ(CsFileCompress(P("in").c_str(), P("z").c_str(), nullptr), 0);
    ASSERT_EQ(CsFileDecompress(P("z").c_str(), P("out").c_str(), nullptr), 0);
    EXPECT_EQ(CsCompareFiles(P("in").c_str(), P("out").c_str()), 0);
    // Every driver gave its handle back.
    EXPECT_EQ(FreeHandleProbe(), probe);
}

TEST(FileDrivers, SegmentedStreamWithAFlippedByteFailsTheCrc)
{
    const Bytes data = Text(40000, 32);
    WriteFile(P("seg_in"), data);
    for (int option : {CS_LZC | CS_SEGMENTED, CS_LZH | CS_SEGMENTED}) {
        CsFileComprParams cp{option, 0, 0, 0, 0, 0};
        ASSERT_EQ(CsFileCompress(P("seg_in").c_str(), P("seg_z").c_str(), &cp), 0);
        Bytes z = ReadFile(P("seg_z"));
        // Flip a byte inside the payload of a block (past the first block header).
        for (size_t at : {size_t{20}, z.size() / 2, z.size() - 20}) {
            Bytes bad = z;
            bad[at] ^= 0x01;
            WriteFile(P("seg_bad"), bad);
            const int rc = CsFileDecompress(P("seg_bad").c_str(), P("seg_out").c_str(), nullptr);
            // The block CRC fails, unless the decoder's own checks trip first.
            EXPECT_LT(rc, 0) << option << " at " << at;
        }
        // A flipped byte in the first block's CRC field fails that block's check.
        Bytes bad = z;
        bad[13] ^= 0x04;
        WriteFile(P("seg_bad"), bad);
        EXPECT_EQ(CsFileDecompress(P("seg_bad").c_str(), P("seg_out").c_str(), nullptr), CS_E_CRC);
        // So does one in the trailer's data CRC.
        bad = z;
        bad[z.size() - 2] ^= 0x10;
        WriteFile(P("seg_bad"), bad);
        EXPECT_EQ(CsFileDecompress(P("seg_bad").c_str(), P("seg_out").c_str(), nullptr), CS_E_CRC);
    }
}

TEST(FileDrivers, Failures)
{
    WriteFile(P("empty"), {});
    EXPECT_EQ(CsFileCompress(P("empty").c_str(), P("z2").c_str(), nullptr), CS_E_FILE_EMPTY);
    EXPECT_EQ(CsFileCompress(P("missing").c_str(), P("z2").c_str(), nullptr), CS_E_FILE_OPEN_IN);
    WriteFile(P("small"), Text(100));
    EXPECT_EQ(CsFileCompress(P("small").c_str(), (TmpDir() + "/no/such/dir/x").c_str(), nullptr), CS_E_FILE_OPEN_OUT);
    EXPECT_EQ(CsFileDecompress(P("missing").c_str(), P("o").c_str(), nullptr), CS_E_FILE_OPEN_IN);
    WriteFile(P("short"), Bytes{0x10, 0, 0, 0, 0x11, 0x1F, 0x9D});
    EXPECT_EQ(CsFileDecompress(P("short").c_str(), P("o").c_str(), nullptr), CS_E_FILE_HEADER);
    WriteFile(P("badmagic"), Bytes{0x10, 0, 0, 0, 0x11, 0x9D, 0x1F, 0x8D, 1, 2});
    EXPECT_EQ(CsFileDecompress(P("badmagic").c_str(), P("o").c_str(), nullptr), CS_E_FILE_HEADER);

    // A truncated stream ends with an error, never in an endless loop.
    ASSERT_EQ(CsFileCompress(P("small").c_str(), P("z3").c_str(), nullptr), 0);
    Bytes z = ReadFile(P("z3"));
    z.resize(z.size() - 5);
    WriteFile(P("z3"), z);
    EXPECT_LT(CsFileDecompress(P("z3").c_str(), P("o").c_str(), nullptr), 0);
}

TEST(FileDrivers, CompareFiles)
{
    WriteFile(P("a"), Text(70000, 1));
    WriteFile(P("b"), Text(70000, 1));
    Bytes c = Text(70000, 1);
    c[69999] ^= 1;
    WriteFile(P("c"), c);
    WriteFile(P("d"), Text(65536, 1));
    EXPECT_EQ(CsCompareFiles(P("a").c_str(), P("b").c_str()), 0);
    EXPECT_EQ(CsCompareFiles(P("a").c_str(), P("c").c_str()), CS_E_FILE_DIFFER);
    EXPECT_EQ(CsCompareFiles(P("a").c_str(), P("d").c_str()), CS_E_FILE_DIFFER);
    EXPECT_EQ(CsCompareFiles(P("d").c_str(), P("a").c_str()), CS_E_FILE_DIFFER);
    EXPECT_EQ(CsCompareFiles(P("nope").c_str(), P("a").c_str()), CS_E_FILE_OPEN_IN);
    EXPECT_EQ(CsCompareFiles(P("a").c_str(), P("nope").c_str()), CS_E_FILE_OPEN_OUT);
}
