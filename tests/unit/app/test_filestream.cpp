#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "app/filestream.h"

namespace {

class FileStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/kov_fs_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    std::string Path(const char* name) const { return dir + "/" + name; }
    void Put(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string Get(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir;
};

TEST_F(FileStreamTest, ReadReportsEndOfFileAsSuccessWithShortCount)
{
    Put(Path("a"), "hello");
    CFileStream s(Path("a").c_str(), KOV_OPEN_READ);
    ASSERT_TRUE(s.IsOpen());
    char buf[16];
    size_t got = 99;
    EXPECT_TRUE(s.Read(buf, 3, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_TRUE(s.Read(buf, 10, &got));  // only two left: end of file, still true
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buf, 2), "lo");
    EXPECT_TRUE(s.Read(buf, 10, &got));
    EXPECT_EQ(got, 0u);
}

TEST_F(FileStreamTest, ReadErrorIsFalseWithErrnoKept)
{
    CFileStream s(Path("w").c_str(), KOV_OPEN_CREATE);
    ASSERT_TRUE(s.IsOpen());
    char buf[4];
    size_t got = 0;
    EXPECT_FALSE(s.Read(buf, sizeof buf, &got));  // a write-only stream cannot read
    EXPECT_NE(s.LastError(), 0);
}

TEST_F(FileStreamTest, ModeBitsPrecedenceAndUnknownBits)
{
    Put(Path("m"), "old");
    {
        // 0x70000000 holds append, create and read: append wins.
        CFileStream s(Path("m").c_str(), 0x70000000);
        ASSERT_TRUE(s.IsOpen());
        size_t put = 0;
        EXPECT_TRUE(s.Write("new", 3, &put));
        EXPECT_TRUE(s.Close());
    }
    EXPECT_EQ(Get(Path("m")), "oldnew");
    {
        // create beats read: the file is truncated.
        CFileStream s(Path("m").c_str(), KOV_OPEN_CREATE | KOV_OPEN_READ);
        ASSERT_TRUE(s.IsOpen());
    }
    EXPECT_EQ(Get(Path("m")), "");
    {
        // read beats update: writing fails.
        Put(Path("m"), "abc");
        CFileStream s(Path("m").c_str(), KOV_OPEN_READ | KOV_OPEN_UPDATE);
        size_t put = 0;
        EXPECT_FALSE(s.Write("x", 1, &put) && s.Close());
    }
    {
        CFileStream s(Path("m").c_str(), KOV_OPEN_UPDATE);
        ASSERT_TRUE(s.IsOpen());
        size_t put = 0;
        EXPECT_TRUE(s.Write("X", 1, &put));
    }
    EXPECT_EQ(Get(Path("m")), "Xbc");

    CFileStream none(Path("m").c_str(), 0x01000000);
    EXPECT_FALSE(none.IsOpen());
    EXPECT_EQ(none.LastError(), EINVAL);

    CFileStream missing(Path("nope").c_str(), KOV_OPEN_READ);
    EXPECT_FALSE(missing.IsOpen());
    EXPECT_EQ(missing.LastError(), ENOENT);
}

TEST_F(FileStreamTest, SeekTellMoveAndTruncate)
{
    Put(Path("s"), "0123456789");
    CFileStream s(Path("s").c_str(), KOV_OPEN_UPDATE);
    ASSERT_TRUE(s.IsOpen());
    uint64_t pos = 1;
    EXPECT_TRUE(s.MoveFlPtr(0));
    EXPECT_TRUE(s.Tell(&pos));
    EXPECT_EQ(pos, 0u);
    EXPECT_FALSE(s.MoveFlPtr(-1));
    EXPECT_TRUE(s.MoveFlPtr(4));
    char c;
    size_t got = 0;
    ASSERT_TRUE(s.Read(&c, 1, &got));
    EXPECT_EQ(c, '4');
    EXPECT_TRUE(s.Seek(7));
    EXPECT_TRUE(s.Truncate());
    EXPECT_TRUE(s.SeekEnd());
    EXPECT_TRUE(s.Tell(&pos));
    EXPECT_EQ(pos, 7u);
    EXPECT_TRUE(s.Close());
    EXPECT_EQ(Get(Path("s")), "0123456");

    CFileStream closed;
    EXPECT_FALSE(closed.Seek(0));
    EXPECT_FALSE(closed.SeekEnd());
    EXPECT_FALSE(closed.Tell(&pos));
    EXPECT_FALSE(closed.MoveFlPtr(1));
    EXPECT_FALSE(closed.Truncate());
    EXPECT_TRUE(closed.Close());
}

TEST_F(FileStreamTest, CloseReportsFailedFinalFlush)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    CFileStream s("/dev/full", KOV_OPEN_CREATE);
    ASSERT_TRUE(s.IsOpen());
    size_t put = 0;
    EXPECT_TRUE(s.Write("abc", 3, &put));  // buffered by stdio
    EXPECT_FALSE(s.Close());
    EXPECT_EQ(s.LastError(), ENOSPC);
    EXPECT_FALSE(s.IsOpen());
}

TEST_F(FileStreamTest, UnbufferedReadsWholeChunksAndSeesBytesAddedLater)
{
    const std::string bytes(100000, 'x');
    Put(Path("u"), bytes);
    CFileStream s(Path("u").c_str(), KOV_OPEN_READ);
    ASSERT_TRUE(s.IsOpen());
    ASSERT_TRUE(s.SetUnbuffered());
    std::string buf(65536, '\0');
    size_t got = 0;
    ASSERT_TRUE(s.Read(buf.data(), 65536, &got));
    EXPECT_EQ(got, 65536u);
    ASSERT_TRUE(s.Read(buf.data(), bytes.size() - 65536, &got));
    EXPECT_EQ(got, bytes.size() - 65536);
    // The file grows after its stated size was read: a probe must see it.
    std::ofstream(Path("u"), std::ios::binary | std::ios::app) << "y";
    char probe = 0;
    ASSERT_TRUE(s.Read(&probe, 1, &got));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(probe, 'y');
    EXPECT_TRUE(s.Read(&probe, 1, &got));
    EXPECT_EQ(got, 0u);

    CFileStream closed;
    EXPECT_FALSE(closed.SetUnbuffered());
}

TEST_F(FileStreamTest, OwnBufferKeepsEveryPieceAndReportsAFailedFlush)
{
    {
        CFileStream s(Path("b").c_str(), KOV_OPEN_CREATE);
        ASSERT_TRUE(s.SetBufferSize(1000));
        std::string expected;
        size_t put = 0;
        for (int i = 0; i < 500; ++i) {
            const std::string piece = std::to_string(i) + std::string(static_cast<size_t>(i % 7) * 300, 'a' + i % 26);
            ASSERT_TRUE(s.Write(piece.data(), piece.size(), &put));
            expected += piece;
        }
        ASSERT_TRUE(s.Close());
        EXPECT_EQ(Get(Path("b")), expected);
    }
    {
        // The stream is destroyed without Close: the buffered tail still lands.
        CFileStream s(Path("c").c_str(), KOV_OPEN_CREATE);
        ASSERT_TRUE(s.SetBufferSize(1 << 17));
        size_t put = 0;
        ASSERT_TRUE(s.Write("tail", 4, &put));
    }
    EXPECT_EQ(Get(Path("c")), "tail");

    CFileStream closed;
    EXPECT_FALSE(closed.SetBufferSize(4096));

    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    CFileStream full("/dev/full", KOV_OPEN_CREATE);
    ASSERT_TRUE(full.SetBufferSize(1 << 17));
    size_t put = 0;
    EXPECT_TRUE(full.Write("abc", 3, &put));
    EXPECT_FALSE(full.Close());
    EXPECT_EQ(full.LastError(), ENOSPC);
}

TEST_F(FileStreamTest, FifoIsRefusedForReadingAndBlocksWhenWritten)
{
    ASSERT_EQ(mkfifo(Path("p").c_str(), 0600), 0);
    CFileStream reader(Path("p").c_str(), KOV_OPEN_READ);
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.LastError(), ESPIPE);

    CFileStream lonely(Path("p").c_str(), KOV_OPEN_CREATE);  // nobody reads: fails at once
    EXPECT_FALSE(lonely.IsOpen());

    const int other = open(Path("p").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    CFileStream writer(Path("p").c_str(), KOV_OPEN_CREATE);
    ASSERT_TRUE(writer.IsOpen());
    // Writes to a pipe must wait for room, not fail half done.
    EXPECT_EQ(fcntl(fileno(writer.Handle()), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(writer.Close());
    close(other);
}

TEST(BufferedStream, ReadsBackEverythingWrittenInOrder)
{
    CBufferedStream b;
    EXPECT_TRUE(b.IsOpen());
    size_t n = 0;
    char buf[16];
    EXPECT_FALSE(b.Read(buf, 4, &n));  // no read position yet
    EXPECT_EQ(n, 0u);
    EXPECT_TRUE(b.Write("abc", 3, &n));
    EXPECT_EQ(n, 3u);
    EXPECT_TRUE(b.Write("", 0, &n));
    EXPECT_TRUE(b.Write("defgh", 5, &n));
    b.SetReadPosition(0);
    EXPECT_TRUE(b.Read(buf, 6, &n));
    EXPECT_EQ(std::string(buf, n), "abcdef");
    EXPECT_TRUE(b.Read(buf, 10, &n));
    EXPECT_EQ(std::string(buf, n), "gh");
    EXPECT_TRUE(b.Read(buf, 10, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(b.Length(), 8u);
}

TEST(NullStream, ReportsFullLengthForEverything)
{
    CNullStream s;
    EXPECT_TRUE(s.IsOpen());
    char buf[4] = {'x', 'x', 'x', 'x'};
    size_t n = 0;
    EXPECT_TRUE(s.Read(buf, 4, &n));
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(buf[0], 'x');  // nothing copied
    EXPECT_TRUE(s.Write(buf, 1000000, &n));
    EXPECT_EQ(n, 1000000u);
}

}  // namespace
