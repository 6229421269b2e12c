#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "archive_fixture.h"

namespace {

// An entry as found in written bytes, parsed independently of the reader.
struct Parsed {
    KoxHeaderInfo info;
    Bytes name;                                   // without NUL
    std::vector<std::pair<Bytes, Bytes>> blocks;  // type, data
    uint32_t checksum = 0;
};

std::vector<Parsed> ParseAll(const Bytes& a)
{
    std::vector<Parsed> out;
    EXPECT_EQ(a.substr(0, 8), "ZEF 2.01");
    size_t pos = 8;
    auto u = [&](size_t at) { return reinterpret_cast<const uint8_t*>(a.data()) + at; };
    while (pos < a.size()) {
        Parsed p;
        EXPECT_LE(pos + 34, a.size());
        if (pos + 34 > a.size())
            break;
        p.info = KoxDecodeEntryHeader(u(pos));
        pos += 34;
        p.name = a.substr(pos, p.info.nameLength - 1);
        EXPECT_EQ(a[pos + p.info.nameLength - 1], '\0');
        pos += p.info.nameLength + p.info.userInfoLength;
        while (pos + 6 <= a.size() && KoxIsBlockType(u(pos))) {
            Bytes type = a.substr(pos, 2);
            uint32_t n = KoxGetU32(u(pos + 2));
            p.blocks.emplace_back(type, a.substr(pos + 6, n));
            pos += 6 + n;
            if (KoxIsLastBlockType(u(pos - 6 - n))) {
                p.checksum = KoxGetU32(u(pos));
                pos += 4;
                break;
            }
        }
        out.push_back(p);
    }
    return out;
}

// Data of all blocks of an entry, decoded by the oracle.
Bytes BlockData(const Parsed& p)
{
    Bytes all;
    for (const auto& [type, data] : p.blocks) {
        if (type[0] == 'U') {
            all += data;
        } else {
            Bytes plain;
            EXPECT_TRUE(OracleInflate(data, plain)) << "block does not decode";
            all += plain;
        }
    }
    return all;
}

class WriterTest : public ArchiveTest {
protected:
    Bytes Write(std::initializer_list<CDirEntry*> entries)
    {
        {
            CArchiveFile a("w.kox", KOV_OPEN_CREATE);
            a.WriteArchiveHeader();
            for (CDirEntry* e : entries) {
                e->AddToArchive(a);
                delete e;
            }
            a.Close();
        }
        return Get("w.kox");
    }
    static Bytes Random(size_t n, unsigned seed = 1)
    {
        std::mt19937 gen(seed);
        Bytes b(n, '\0');
        for (char& c : b)
            c = char(gen());
        return b;
    }
    static Bytes Text(size_t n)
    {
        Bytes b;
        while (b.size() < n)
            b += "the quick brown fox jumps over the lazy dog " + std::to_string(b.size() % 97);
        return b.substr(0, n);
    }
};

TEST_F(WriterTest, SmallFileGivesExactHeaderAndOneCompressedBlock)
{
    const Bytes data = Text(1000);
    Put("hello.txt", data);
    struct stat st;
    ASSERT_EQ(stat("hello.txt", &st), 0);
    const Bytes a = Write({new CFile("hello.txt")});

    const Bytes expectHeader = Bytes("RG") + U32(st.st_mode) + U64(1000) + U32(0) + U64(uint64_t(st.st_mtime)) +
                               U32(0) + U16(0) + U16(10);
    EXPECT_EQ(a.substr(8, 34), expectHeader);
    EXPECT_EQ(a.substr(42, 10), Bytes("hello.txt", 10));
    EXPECT_EQ(a.substr(52, 2), "ED");
    const uint32_t len = KoxGetU32(reinterpret_cast<const uint8_t*>(a.data()) + 54);
    EXPECT_LT(len, 1000u);
    ASSERT_EQ(a.size(), 52 + 6 + len + 4);  // nothing after the checksum
    Bytes plain;
    ASSERT_TRUE(OracleInflate(a.substr(58, len), plain));
    EXPECT_EQ(plain, data);
    EXPECT_EQ(KoxGetU32(reinterpret_cast<const uint8_t*>(a.data()) + 58 + len), RefCrc(data));
    // stream header: length and Huffman-style codec level 2
    EXPECT_EQ(a.substr(58, 4), U32(1000));
    EXPECT_EQ(a[58 + 4] & 7, 2);
}

TEST_F(WriterTest, IncompressibleChunkIsStoredRaw)
{
    // A full chunk of random bytes does not fit one block once compressed.
    const Bytes data = Random(65536);
    Put("r.bin", data);
    auto e = ParseAll(Write({new CFile("r.bin")}));
    ASSERT_EQ(e.size(), 1u);
    ASSERT_EQ(e[0].blocks.size(), 1u);
    EXPECT_EQ(e[0].blocks[0].first, "UE");
    EXPECT_EQ(e[0].blocks[0].second, data);
    EXPECT_EQ(e[0].checksum, RefCrc(data));
}

TEST_F(WriterTest, EmptyFileHasNoBlocksAndNextHeaderFollows)
{
    Put("empty", "");
    Put("next", "x");
    const Bytes a = Write({new CFile("empty"), new CFile("next")});
    EXPECT_EQ(a.substr(8 + 34 + 6, 2), "RG");  // right after "empty\0"
    auto e = ParseAll(a);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_TRUE(e[0].blocks.empty());
    EXPECT_EQ(e[0].info.size, 0u);
    EXPECT_EQ(BlockData(e[1]), "x");
}

TEST_F(WriterTest, ChunkBoundaries)
{
    const Bytes exact = Text(65536), over = Text(65537), rnd = Random(65537, 7);
    Put("exact", exact);
    Put("over", over);
    Put("rnd", rnd);
    auto e = ParseAll(Write({new CFile("exact"), new CFile("over"), new CFile("rnd")}));
    ASSERT_EQ(e.size(), 3u);
    ASSERT_EQ(e[0].blocks.size(), 1u);
    EXPECT_EQ(e[0].blocks[0].first, "ED");
    EXPECT_EQ(BlockData(e[0]), exact);

    ASSERT_EQ(e[1].blocks.size(), 2u);
    EXPECT_EQ(e[1].blocks[0].first, "DA");
    EXPECT_EQ(e[1].blocks[1].first, "ED");
    Bytes second;
    ASSERT_TRUE(OracleInflate(e[1].blocks[1].second, second));
    EXPECT_EQ(second, over.substr(65536));
    EXPECT_EQ(BlockData(e[1]), over);
    EXPECT_EQ(e[1].checksum, RefCrc(over));

    ASSERT_EQ(e[2].blocks.size(), 2u);
    EXPECT_EQ(e[2].blocks[0].first, "UD");
    EXPECT_EQ(e[2].blocks[0].second.size(), 65536u);
    EXPECT_EQ(e[2].blocks[1].first, "ED");  // one byte still compresses
    EXPECT_EQ(BlockData(e[2]), rnd);
}

TEST_F(WriterTest, LinksAreStoredAsNameBarTarget)
{
    ASSERT_EQ(symlink("some/where|odd", "lnk"), 0);
    COptions::Instance().resolveLinks = false;
    auto e = ParseAll(Write({new CLink("lnk")}));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].info.IsType(KOX_TYPE_LINK));
    EXPECT_EQ(e[0].name, "lnk|some/where|odd");
    EXPECT_EQ(e[0].info.size, 0u);
    EXPECT_EQ(e[0].info.mode & 0xF000, 0xA000u);
    EXPECT_TRUE(e[0].blocks.empty());
}

TEST_F(WriterTest, LocalNamesAreStoredInUtf8)
{
    Put("caf\xe9", "abc");
    auto e = ParseAll(Write({new CFile("caf\xe9")}));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, "caf\xc3\xa9");
    EXPECT_EQ(e[0].info.nameLength, 6u);
}

TEST_F(WriterTest, NameTooLongForTheReaderIsRefused)
{
    // 2,200 Latin-1 bytes become 4,400 bytes of UTF-8.
    std::string path;
    for (int i = 0; i < 11; ++i) {
        if (i)
            path += '/';
        path += std::string(199, '\xe9');
        if (i < 10) {
            ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
        }
    }
    Put(path, "data");
    Put("ok", "fine");
    auto e = ParseAll(Write({new CFile(path), new CFile("ok")}));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].name, "ok");
    EXPECT_NE(log->Collected().find("is inaccessible (name too long for the archive"), std::string::npos);
    EXPECT_TRUE(CApplication::Instance().FilesInaccessible());
}

TEST_F(WriterTest, ShrunkFileIsPaddedToItsHeaderSizeWithAWarning)
{
    const Bytes data = Text(100000);
    Put("f", data);
    CArchiveFile a("w.kox", KOV_OPEN_CREATE);
    a.WriteArchiveHeader();
    CFile f("f");
    ASSERT_TRUE(f.FillHeaderInfo(f.HeaderInfo()));
    f.WriteHeader(a, f.GetHeaderInfo());
    Put("f", data.substr(0, 70000));
    f.GetStream()->Open("f", KOV_OPEN_READ);
    CNormalCompress strategy;
    strategy.SetEntry(&f);
    strategy.Compress(a);
    a.Close();
    auto e = ParseAll(Get("w.kox"));
    ASSERT_EQ(e.size(), 1u);
    const Bytes expect = data.substr(0, 70000) + Bytes(30000, '\0');
    EXPECT_EQ(BlockData(e[0]), expect);
    EXPECT_EQ(e[0].checksum, RefCrc(expect));
    EXPECT_NE(log->Collected().find("KOVZEF: warning: file 'f' shrank by 30000 bytes while being "
                                    "archived; 100000 bytes were stored, the last 30000 of them "
                                    "zero bytes"),
              std::string::npos);
}

TEST_F(WriterTest, GrownFileIsCutAtItsHeaderSizeWithAWarning)
{
    const Bytes data = Text(65536);
    Put("g", data);
    CArchiveFile a("w.kox", KOV_OPEN_CREATE);
    a.WriteArchiveHeader();
    CFile f("g");
    ASSERT_TRUE(f.FillHeaderInfo(f.HeaderInfo()));
    f.WriteHeader(a, f.GetHeaderInfo());
    Put("g", data + "more");
    f.GetStream()->Open("g", KOV_OPEN_READ);
    CNormalCompress strategy;
    strategy.SetEntry(&f);
    strategy.Compress(a);
    a.Close();
    auto e = ParseAll(Get("w.kox"));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(BlockData(e[0]), data);
    EXPECT_NE(log->Collected().find("KOVZEF: warning: file 'g' grew"), std::string::npos);
}

TEST_F(WriterTest, EmptySizedFileWithDataIsStoredEmptyWithAWarning)
{
    // A regular file whose stat size is 0 but which yields bytes, as a file
    // that gained them between stat and read.
    const char* proc = "/proc/self/status";
    struct stat st;
    if (stat(proc, &st) != 0 || st.st_size != 0)
        GTEST_SKIP() << "no /proc";
    auto e = ParseAll(Write({new CFile(proc)}));
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].info.size, 0u);
    EXPECT_TRUE(e[0].blocks.empty());
    EXPECT_NE(log->Collected().find("grew while being archived; only the first 0 bytes were "
                                    "stored"),
              std::string::npos)
        << log->Collected();
}

// Root reads every file, so the archive is written by a child that gave up
// its privileges first (the scratch directory handed to it).
TEST_F(WriterTest, UnreadableFileIsReportedAndNotWritten)
{
    Put("secret", "x");
    ASSERT_EQ(chmod("secret", 0), 0);
    const uid_t nobody = 65534;
    if (geteuid() == 0) {
        ASSERT_EQ(chown(dir.c_str(), nobody, nobody), 0);
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(2);
        try {
            Write({new CFile("secret")});
        } catch (...) {
            _exit(3);
        }
        const bool reported = log->Collected().find("KOVZEF: file 'secret' is inaccessible (Permission denied)") !=
                              std::string::npos;
        _exit(reported ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 2) << "could not give up the privileges";
    ASSERT_NE(WEXITSTATUS(status), 3) << "the write failed";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the unreadable file was not reported";
    EXPECT_TRUE(ParseAll(Get("w.kox")).empty());
}

TEST_F(WriterTest, BrokenLinkFollowedIsReportedWithStatus45)
{
    ASSERT_EQ(symlink("nowhere", "dangling"), 0);
    auto e = ParseAll(Write({new CFile("dangling")}));
    EXPECT_TRUE(e.empty());
    EXPECT_NE(log->Collected().find("'dangling' is inaccessible (broken link)"), std::string::npos);
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 45);
}

TEST_F(WriterTest, FailedFinalCloseIsAWriteError)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    CArchiveFile a("/dev/full", KOV_OPEN_CREATE);
    a.WriteArchiveHeader();  // stays in the stdio buffer
    try {
        a.Close();
        FAIL() << "close of a full device succeeded";
    } catch (const CWriteExcept& e) {
        EXPECT_EQ(e.GetCode(), 4u);
        EXPECT_EQ(e.GetText().rfind("KOVZEF: error writing to /dev/full (error 4). ", 0), 0u);
    }
}

}  // namespace
