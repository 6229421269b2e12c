// The reader: what it accepts, what it refuses and with which text and code.
#include <sys/stat.h>
#include <unistd.h>

#include "archive_fixture.h"
#include "cslib/cslib.h"

namespace {

// One compressed stream of data made by the compression library.
Bytes Compressed(const Bytes& data)
{
    std::vector<uint8_t> out(data.size() + 4096);
    int32_t read = 0, written = 0;
    int rc = CsComprUntraced(int32_t(data.size()), reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()),
                             out.data(), int32_t(out.size()), 35, &read, &written);
    EXPECT_EQ(rc, CS_END_OF_STREAM);
    return Bytes(reinterpret_cast<char*>(out.data()), size_t(written));
}

Bytes Text(size_t n)
{
    Bytes b;
    while (b.size() < n)
        b += "lorem ipsum dolor sit amet " + std::to_string(b.size());
    return b.substr(0, n);
}

class ReaderTest : public ArchiveTest {
protected:
    // Runs fn and returns the exception's text and code (code 999: none).
    template <class Fn>
    std::pair<std::string, uint32_t> Failure(Fn fn)
    {
        try {
            fn();
        } catch (const CExcept& e) {
            return {e.GetText(), e.GetCode()};
        }
        return {"", 999};
    }
    // Tests every entry of the archive (command d); returns the names seen.
    std::vector<std::string> TestAll(const std::string& path)
    {
        COptions::Instance().commandCode = KOV_CMD_TEST;
        std::vector<std::string> names;
        CArchiveFile a(path, KOV_OPEN_READ);
        for (CDirEntry* e = a.FirstEntry(); e; e = a.NextEntry()) {
            names.push_back(e->GetName());
            e->ExtractOrTest(a, false);
            a.ReleaseEntry(e);
        }
        return names;
    }
    // Lists without reading any data.
    std::vector<std::string> ListAll(const std::string& path)
    {
        std::vector<std::string> names;
        CArchiveFile a(path, KOV_OPEN_READ);
        for (CDirEntry* e = a.FirstEntry(); e; e = a.NextEntry())
            names.push_back(e->GetName());
        return names;
    }
    std::string ReadFailure(const std::string& path) { return "KOVZEF: error reading from " + path + " (error 5). "; }
};

using Names = std::vector<std::string>;

TEST_F(ReaderTest, EmptyArchiveAndForeignFiles)
{
    EXPECT_EQ(ListAll(Archive(ArchiveHeader())), Names{});
    const std::string other = Archive("not an archive at all", "o.bin");
    CArchiveFile a(other, KOV_OPEN_READ);
    EXPECT_EQ(a.FirstEntry(), nullptr);
    EXPECT_FALSE(a.ReadArchiveHeader());  // kept answer, no second read
}

TEST_F(ReaderTest, ArchiveHeaderFailures)
{
    const std::string shortOne = Archive("ZEF 2.", "s.kox");
    auto f = Failure([&] { ListAll(shortOne); });
    EXPECT_EQ(f.first, ReadFailure(shortOne));
    EXPECT_EQ(f.second, 5u);

    f = Failure([&] { ListAll(Archive(ArchiveHeader("2.02"))); });
    EXPECT_EQ(f.first, "KOVZEF: unsupported archive: archive version 2.02 is not supported by this "
                       "release; to extract this archive you need to use a newer KOVZEF release");
    EXPECT_EQ(f.second, 1u);
    EXPECT_EQ(CApplication::Instance().GetExitStatus(), 1);

    f = Failure([&] {
        ListAll(Archive(Bytes("ZEF\0"
                              "2.01",
                              8)));
    });
    EXPECT_EQ(f.first, "KOVZEF: unsupported archive: archive is a windows backup archive that can be "
                       "extracted with a unicode-enabled KOVZEF on windows only");
    EXPECT_EQ(f.second, 1u);
}

TEST_F(ReaderTest, GarbageAfterTheHeaderIsNotAnEmptyArchive)
{
    auto f = Failure([&] { ListAll(Archive(ArchiveHeader() + Entry("XX", 0, 0, "a"))); });
    EXPECT_EQ(f.first, "KOVZEF: unknown entry type encountered (error 100). ");
    EXPECT_EQ(f.second, 100u);
    // "SV" passes the first check but no entry is built from it
    f = Failure([&] { ListAll(Archive(ArchiveHeader() + Entry("SV", 0, 0, "a"))); });
    EXPECT_EQ(f.first, "KOVZEF: unknown entry type encountered (error 100). ");
    // an unknown type later in the archive
    f = Failure([&] { ListAll(Archive(ArchiveHeader() + Entry("DR", 040755, 0, "d") + Entry("ZZ", 0, 0, "z"))); });
    EXPECT_EQ(f.second, 100u);
    // later in the archive the name is read before the type is judged
    const Bytes cutName = Entry("ZZ", 0, 0, "zzzz");
    const std::string path = Archive(
        ArchiveHeader() + Entry("DR", 040755, 0, "d") + cutName.substr(0, cutName.size() - 3), "cutname.kox");
    EXPECT_EQ(Failure([&] { ListAll(path); }).first, ReadFailure(path));
}

TEST_F(ReaderTest, CutShortPiecesAreReadFailures)
{
    const Bytes good = ArchiveHeader() + Entry("RG", 0100644, 3, "f", "ui") + Block("UE", "abc", RefCrc("abc"));
    const size_t cuts[] = {8 + 1,          8 + 20, 8 + 34 + 1, 8 + 34 + 2 + 1, 8 + 34 + 4 + 3, 8 + 34 + 4 + 6 + 2,
                           good.size() - 2};
    for (size_t cut : cuts) {
        const std::string path = Archive(good.substr(0, cut), "cut.kox");
        auto f = Failure([&] { TestAll(path); });
        EXPECT_EQ(f.first, ReadFailure(path)) << "cut at " << cut;
    }
    EXPECT_EQ(TestAll(Archive(good)), Names{"f"});
}

TEST_F(ReaderTest, OversizedFieldsAreReadFailures)
{
    // a name that fills the whole buffer without its NUL
    Bytes h = Entry("RG", 0100644, 0, Bytes(4351, 'n'));
    h[h.size() - 1] = 'n';
    std::string path = Archive(ArchiveHeader() + h);
    EXPECT_EQ(Failure([&] { ListAll(path); }).first, ReadFailure(path));
    // the longest name that fits is fine
    EXPECT_EQ(ListAll(Archive(ArchiveHeader() + Entry("RG", 0100644, 0, Bytes(4351, 'n'))))[0].size(), 4351u);
    // a name length above the buffer
    path = Archive(ArchiveHeader() + Entry("RG", 0100644, 0, Bytes(4352, 'n')));
    EXPECT_EQ(Failure([&] { ListAll(path); }).first, ReadFailure(path));
    // a block longer than the block buffer
    path = Archive(ArchiveHeader() + Entry("RG", 0100644, 1, "f") + Block("UE", Bytes(131073, 'x')));
    EXPECT_EQ(Failure([&] { TestAll(path); }).first, ReadFailure(path));
}

TEST_F(ReaderTest, StreamLongerThanAChunkIn201ButNotIn200)
{
    const Bytes data = Text(70000);
    const Bytes body = Entry("RG", 0100644, 70000, "big") + Block("ED", Compressed(data), RefCrc(data));
    const std::string p201 = Archive(ArchiveHeader("2.01") + body, "a201.kox");
    EXPECT_EQ(Failure([&] { TestAll(p201); }).first, ReadFailure(p201));
    EXPECT_EQ(TestAll(Archive(ArchiveHeader("2.00") + body, "a200.kox")), Names{"big"});
}

TEST_F(ReaderTest, StreamsMaySpanBlocksAndMustEnd)
{
    const Bytes data = Text(3000);
    const Bytes c = Compressed(data);
    const Bytes split = ArchiveHeader("2.00") + Entry("RG", 0100644, 3000, "s") +
                        Block("DA", c.substr(0, c.size() / 2)) + Block("ED", c.substr(c.size() / 2), RefCrc(data));
    EXPECT_EQ(TestAll(Archive(split)), Names{"s"});

    const Bytes cut = ArchiveHeader() + Entry("RG", 0100644, 3000, "s") +
                      Block("ED", c.substr(0, c.size() / 2), RefCrc(data));
    auto f = Failure([&] { TestAll(Archive(cut, "cut.kox")); });
    EXPECT_EQ(f.first, "KOVZEF: error decompressing s (compressed data cut short)");
    EXPECT_EQ(f.second, 11u);

    const Bytes bad = ArchiveHeader() + Entry("RG", 0100644, 3, "b") +
                      Block("ED", Bytes("\x03\0\0\0\x12\x1f\x9d\x02\xff\xff", 10));
    f = Failure([&] { TestAll(Archive(bad, "bad.kox")); });
    EXPECT_EQ(f.first.rfind("KOVZEF: error decompressing b (cslib error -", 0), 0u) << f.first;
    EXPECT_EQ(f.second, 11u);
}

TEST_F(ReaderTest, ChecksumRules)
{
    const std::string wrong = Archive(ArchiveHeader() + Entry("RG", 0100644, 3, "f") +
                                      Block("UE", "abc", RefCrc("abd")));
    auto f = Failure([&] { TestAll(wrong); });
    EXPECT_EQ(f.first, "KOVZEF: checksum error in f (error 12). ");
    EXPECT_EQ(f.second, 12u);
    // a stored 0 means no check
    EXPECT_EQ(TestAll(Archive(ArchiveHeader() + Entry("RG", 0100644, 3, "f") + Block("UE", "abc", 0), "zero.kox")),
              Names{"f"});
}

TEST_F(ReaderTest, BlocksAreFollowedWhateverTheSizeFieldSays)
{
    // written by a writer that trusted the end of file: size 3, data 6
    const Bytes grown = ArchiveHeader() + Entry("RG", 0100644, 3, "g") + Block("UD", "abc") +
                        Block("UE", "def", RefCrc("abcdef")) + Entry("RG", 0100644, 0, "after");
    EXPECT_EQ(TestAll(Archive(grown)), (Names{"g", "after"}));
    // a wrong checksum behind the size is still found
    const Bytes tampered = ArchiveHeader() + Entry("RG", 0100644, 3, "g") + Block("UD", "abc") +
                           Block("UE", "dxf", RefCrc("abcdef"));
    EXPECT_EQ(Failure([&] { TestAll(Archive(tampered, "t2.kox")); }).second, 12u);
    // size 0 with blocks behind it
    const Bytes zero = ArchiveHeader() + Entry("RG", 0100644, 0, "z") + Block("UE", "q", RefCrc("q")) +
                       Entry("RG", 0100644, 0, "n");
    EXPECT_EQ(TestAll(Archive(zero, "z.kox")), (Names{"z", "n"}));
}

TEST_F(ReaderTest, UnknownBlockTypeAndSkippingPastTheEnd)
{
    auto f = Failure(
        [&] { TestAll(Archive(ArchiveHeader() + Entry("RG", 0100644, 3, "f") + Bytes("QQ") + U32(3) + "abc")); });
    EXPECT_EQ(f.first, "KOVZEF: error in GetEntryData(); unknown block type (error 100). ");
    EXPECT_EQ(f.second, 100u);

    const std::string path = Archive(ArchiveHeader() + Entry("RG", 0100644, 3, "f") + Bytes("UE") + U32(1000) + "abc",
                                     "skip.kox");
    EXPECT_EQ(Failure([&] { ListAll(path); }).first, ReadFailure(path));
}

TEST_F(ReaderTest, NextEntrySkipsUnreadDataAndFollowsReadData)
{
    const Bytes data = Text(70000);
    Bytes a = ArchiveHeader() + Entry("DR", 040755, 4096, "d") + Entry("RG", 0100644, 70000, "d/f") +
              Block("DA", Compressed(data.substr(0, 65536))) +
              Block("ED", Compressed(data.substr(65536)), RefCrc(data)) + Entry("RG", 0100600, 0, "e", "USER") +
              Entry("LK", 0120777, 0, "l|a|b") + Entry("SC", 0120777, 0, "bare");
    const std::string path = Archive(a);
    EXPECT_EQ(ListAll(path), (Names{"d", "d/f", "e", "l", "bare"}));
    EXPECT_EQ(TestAll(path), (Names{"d", "d/f", "e", "l", "bare"}));

    CArchiveFile arc(path, KOV_OPEN_READ);
    CDirEntry* e = arc.FirstEntry();
    EXPECT_TRUE(e->IsDirectory());
    e = arc.NextEntry();
    EXPECT_EQ(e->GetHeaderInfo().size, 70000u);
    e = arc.NextEntry();
    EXPECT_EQ(e->GetUserInfo(), std::vector<uint8_t>({'U', 'S', 'E', 'R'}));
    e = arc.NextEntry();
    EXPECT_EQ(static_cast<CLink*>(e)->GetTarget(), "a|b");  // only the first bar splits
    e = arc.NextEntry();
    EXPECT_EQ(static_cast<CLink*>(e)->GetTarget(), "");
    EXPECT_EQ(arc.NextEntry(), nullptr);
    // a second walk starts at the first entry again
    EXPECT_EQ(arc.FirstEntry()->GetName(), "d");
}

TEST_F(ReaderTest, SignedManifestMarker)
{
    const Bytes text = "manifest";
    auto kinds = [&](const Bytes& name, uint64_t size, const char* type = "RG") {
        const std::string path = Archive(ArchiveHeader() + Entry(type, 0x4180, size, name) +
                                             (size ? Block("UE", text, RefCrc(text)) : Bytes()),
                                         "m.kox");
        CArchiveFile a(path, KOV_OPEN_READ);
        CDirEntry* e = a.FirstEntry();
        return std::make_pair(e->IsSignedManifest(), a.ManifestSeen());
    };
    EXPECT_EQ(kinds("SIGNATURE.SMF", 8), std::make_pair(true, true));
    EXPECT_EQ(kinds("SIGNATURE.SMF", 0), std::make_pair(false, false));
    EXPECT_EQ(kinds("signature.smf", 8), std::make_pair(false, false));
    EXPECT_EQ(kinds("any", 8, "SM"), std::make_pair(true, false));
    // the marker belongs to the stored name: -lower does not hide it, -flat
    // does not make one
    COptions::Instance().lowerCase = true;
    EXPECT_EQ(kinds("SIGNATURE.SMF", 8), std::make_pair(true, true));
    COptions::Instance().lowerCase = false;
    COptions::Instance().flat = true;
    EXPECT_EQ(kinds("x/SIGNATURE.SMF", 8), std::make_pair(false, false));
}

TEST_F(ReaderTest, NamesAreConvertedLoweredAndFlattened)
{
    const std::string path = Archive(ArchiveHeader() + Entry("RG", 0100644, 0, "Dir/Caf\xc3\x89") +
                                     Entry("LK", 0120777, 0, "A/B/Lnk|../T/X") + Entry("DR", 040755, 0, "P/Q/") +
                                     Entry("RG", 0100644, 0, "plain"));
    EXPECT_EQ(ListAll(path), (Names{"Dir/Caf\xc9", "A/B/Lnk", "P/Q/", "plain"}));
    COptions::Instance().lowerCase = true;
    EXPECT_EQ(ListAll(path), (Names{"dir/caf\xc9", "a/b/lnk", "p/q/", "plain"}));
    COptions::Instance().lowerCase = false;
    COptions::Instance().flat = true;
    EXPECT_EQ(ListAll(path), (Names{"Caf\xc9", "Lnk", "Q", "plain"}));
    CArchiveFile a(path, KOV_OPEN_READ);
    a.FirstEntry();
    auto* link = static_cast<CLink*>(a.NextEntry());
    EXPECT_EQ(link->GetTarget(), "../T/X");  // the target keeps its path
}

TEST_F(ReaderTest, ExtractionRoundTripWithExtractDirectory)
{
    const Bytes big = Text(200000);
    Put("big", big);
    Put("small", "tiny");
    ASSERT_EQ(mkdir("sub", 0755), 0);
    {
        CArchiveFile a("r.kox", KOV_OPEN_CREATE);
        a.WriteArchiveHeader();
        for (CDirEntry* e :
             std::initializer_list<CDirEntry*>{new CDirectory("sub"), new CFile("big"), new CFile("small")}) {
            e->AddToArchive(a);
            delete e;
        }
        a.Close();
    }
    COptions& o = COptions::Instance();
    o.commandCode = KOV_CMD_EXTRACT;
    o.extractDir = "out/deep";
    {
        CArchiveFile a("r.kox", KOV_OPEN_READ);
        for (CDirEntry* e = a.FirstEntry(); e; e = a.NextEntry()) {
            e->ExtractOrTest(a, false);
            a.ReleaseEntry(e);
        }
    }
    EXPECT_EQ(Get("out/deep/big"), big);
    EXPECT_EQ(Get("out/deep/small"), "tiny");
    struct stat st;
    EXPECT_EQ(stat("out/deep/sub", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    // testing writes nothing
    o.extractDir = "tested";
    EXPECT_EQ(TestAll("r.kox").size(), 3u);
    EXPECT_NE(stat("tested", &st), 0);
}

TEST_F(ReaderTest, DirectoryEntryLeavesOtherFileAlone)
{
    Put("taken", "keep");
    COptions::Instance().commandCode = KOV_CMD_EXTRACT;
    const std::string path = Archive(ArchiveHeader() + Entry("DR", 040755, 0, "taken"));
    CArchiveFile a(path, KOV_OPEN_READ);
    CDirEntry* e = a.FirstEntry();
    EXPECT_EQ(Failure([&] { e->ExtractOrTest(a, false); }).second, 3u);
    EXPECT_EQ(Get("taken"), "keep");
}

TEST_F(ReaderTest, FailedFinalCloseOfAnExtractedFileIsAWriteError)
{
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    COptions::Instance().commandCode = KOV_CMD_EXTRACT;
    const std::string path = Archive(ArchiveHeader() + Entry("RG", 0100644, 3, "/dev/full") +
                                     Block("UE", "abc", RefCrc("abc")));
    CArchiveFile a(path, KOV_OPEN_READ);
    CDirEntry* e = a.FirstEntry();
    auto f = Failure([&] { e->ExtractOrTest(a, false); });
    EXPECT_EQ(f.second, 4u);
    EXPECT_EQ(f.first.rfind("KOVZEF: error writing to /dev/full (error 4). ", 0), 0u) << f.first;
}

TEST_F(ReaderTest, BackupStrategyFailsWithAReadError)
{
    Put("b", "data");
    CArchiveFile a("b.kox", KOV_OPEN_CREATE);
    CFile f("b");
    f.GetStream()->Open("b", KOV_OPEN_READ);
    CBackupCompress strategy;
    strategy.SetEntry(&f);
    auto r = Failure([&] { strategy.Compress(a); });
    EXPECT_EQ(r.first, "KOVZEF: error reading from b (error 5). ");
}

TEST(JoinPath, SeparatorRules)
{
    EXPECT_EQ(CDirEntry::JoinPath("a/b", ""), "a/b");
    EXPECT_EQ(CDirEntry::JoinPath("", "dir"), "");
    EXPECT_EQ(CDirEntry::JoinPath("a", "d"), "d/a");
    EXPECT_EQ(CDirEntry::JoinPath("/a", "d/"), "d/a");
    EXPECT_EQ(CDirEntry::JoinPath("a", "x\\y"), "x/y/a");
    EXPECT_EQ(CDirEntry::GetFindDataKind(16, 0100644), 0);
    EXPECT_EQ(CDirEntry::GetFindDataKind(0, 0120777), 3);
    EXPECT_EQ(CDirEntry::GetFindDataKind(0, 0100644), 1);
    EXPECT_EQ(CDirEntry::GetFindDataKind(0, 0010644), 6);
}

}  // namespace
