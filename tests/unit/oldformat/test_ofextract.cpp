// Extraction, test and listing passes of the old-format library, called the
// way the archiver calls it, on archives whose streams come from our coder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "cslib/cslib.h"
#include "cslib/crc32.h"
#include "oldformat/ofinternal.h"
#include "tests/unit/scratch_dir.h"

namespace fs = std::filesystem;

namespace {

fs::path TempDir(const std::string& name)
{
    fs::path dir = fs::path(KovTestTmp()) / "ofextract" / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string Compress(const std::string& data)
{
    std::vector<uint8_t> out(data.size() * 2 + 1024);
    int32_t read = 0, written = 0;
    const int rc = CsCompr(static_cast<int32_t>(data.size()), reinterpret_cast<const uint8_t*>(data.data()),
                           static_cast<int32_t>(data.size()), out.data(), static_cast<int32_t>(out.size()), 35, &read,
                           &written, "test", __LINE__);
    EXPECT_EQ(rc, 1);
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(written));
}

uint32_t Checksum(const std::string& data)
{
    return CsCrc32Update(0, data.data(), data.size());
}

std::string Pseudorandom(size_t n)
{
    std::string s(n, '\0');
    uint32_t x = 12345;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

struct Item {
    Item(char t, std::string n, std::string d, unsigned m = 0644, long time = 1500000000, std::string s = std::string(),
         long delta = 0)
        : type(t),
          name(std::move(n)),
          data(std::move(d)),
          mode(m),
          mtime(time),
          stream(std::move(s)),
          sizeDelta(delta)
    {
    }
    char type;
    std::string name;
    std::string data;
    unsigned mode;
    long mtime;
    std::string stream;  // empty: made from data
    long sizeDelta;      // added to the size written in the header line
};

std::string BuildArchive(const fs::path& path, std::vector<Item> items)
{
    std::string head = "# test archive\n", body;
    for (Item& it : items) {
        if (it.type == 'F' && !it.data.empty() && it.stream.empty())
            it.stream = Compress(it.data);
        char line[512];
        std::snprintf(line, sizeof line, "%c %s %5o %10lu %9lu %10ld %10lu\n", it.type, it.name.c_str(), it.mode,
                      static_cast<unsigned long>(static_cast<long>(it.data.size()) + it.sizeDelta),
                      static_cast<unsigned long>(it.stream.size()), it.mtime,
                      static_cast<unsigned long>(Checksum(it.data)));
        head += line;
        body += it.stream;
    }
    std::ofstream(path, std::ios::binary) << head << "#\n" << body;
    return path.string();
}

struct Result {
    int ok = 0;
    uint32_t number = 0;
    std::string message;
};

Result RunLib(std::vector<std::string> words, OldFormatOutputFn cb = nullptr, void* ctx = nullptr,
              const OldFormatServices* services = nullptr)
{
    words.insert(words.begin(), "zef");
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    Result r;
    char* message = nullptr;
    r.ok = OldFormatMain(static_cast<int>(argv.size()), argv.data(), cb, ctx, &r.number, &message, services);
    if (message)
        r.message = message;
    std::free(message);
    return r;
}

std::string ReadFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Seen {
    std::vector<std::string> paths;
    std::vector<uint64_t> sizes;
    std::vector<time_t> times;
};

void Record(void* ctx, const char* path, uint64_t size, time_t mtime)
{
    Seen* s = static_cast<Seen*>(ctx);
    s->paths.push_back(path);
    s->sizes.push_back(size);
    s->times.push_back(mtime);
}

}  // namespace

TEST(OfExtract, FilesDirectoriesCallbackAndCount)
{
    const fs::path dir = TempDir("basic");
    const std::string text = "some text\n";
    const std::string big = Pseudorandom(40000);
    const std::string archive = BuildArchive(dir / "a.zef", {
                                                                {'D', "d", "", 0750, 1400000000},
                                                                {'F', "d/text", text, 0640, 1400000100},
                                                                {'F', "d/big", big, 0600, 1400000200},
                                                                {'F', "empty", "", 0604, 1400000300},
                                                            });
    Seen seen;
    const uint32_t before = oldArchiveFilesDone;
    Result r = RunLib({"-x", "-f", archive, "-R", (dir / "out").string()}, Record, &seen);
    ASSERT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(r.number, 0u);
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(oldArchiveFilesDone - before, 3u);
    EXPECT_EQ(ReadFile(dir / "out/d/text"), text);
    EXPECT_EQ(ReadFile(dir / "out/d/big"), big);
    EXPECT_EQ(fs::file_size(dir / "out/empty"), 0u);
    struct stat st;
    ASSERT_EQ(stat((dir / "out/d").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
    EXPECT_EQ(st.st_mtime, 1400000000);
    ASSERT_EQ(stat((dir / "out/d/big").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_mtime, 1400000200);
    ASSERT_EQ(seen.paths.size(), 3u);
    EXPECT_EQ(seen.paths[0], (dir / "out/d/text").string());
    EXPECT_EQ(seen.sizes[1], big.size());
    EXPECT_EQ(seen.times[2], 1400000300);
}

TEST(OfExtract, TestModeChecksWithoutWriting)
{
    const fs::path dir = TempDir("test");
    const std::string archive = BuildArchive(dir / "a.zef", {{'F', "x/y", "data", 0644}});
    Result r = RunLib({"-d", "-f", archive});
    ASSERT_EQ(r.ok, 1) << r.message;
    EXPECT_FALSE(fs::exists("x"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST(OfExtract, ProtectedStreamsAreComplementedEveryTenthByte)
{
    const fs::path dir = TempDir("protected");
    const std::string data = Pseudorandom(30000);
    std::string stream = Compress(data);
    ASSERT_GT(stream.size(), 3u * 8192u);  // chunks start at 8, 8200, 16392, 24584
    // Every tenth stream position is complemented, but not the first byte
    // of a chunk: position 8200 stays as it is.
    for (size_t chunk = 8; chunk < stream.size(); chunk += 8192) {
        const size_t end = std::min(stream.size(), chunk + 8192);
        for (size_t q = chunk + 10 - chunk % 10; q < end; q += 10)
            stream[q] = static_cast<char>(~stream[q]);
    }
    const std::string archive = BuildArchive(dir / "k.zef", {{'F', "secret", data, 0644, 1, stream}});
    Result r = RunLib({"-x", "-K", "key", "-f", archive, "-R", (dir / "out").string()});
    ASSERT_EQ(r.ok, 1) << r.message;
    EXPECT_EQ(ReadFile(dir / "out/secret"), data);
    Result plain = RunLib({"-d", "-f", archive});
    EXPECT_EQ(plain.ok, 0);
}

TEST(OfExtract, EntryFailures)
{
    const fs::path dir = TempDir("failures");
    const std::string good = Compress("0123456789");
    struct Case {
        Item item;
        uint32_t number;
        std::string message;
    };
    const Case cases[] = {
        // The stream ends before the size the header line announces.
        {{'F', "short", "0123456789", 0644, 1, good, 5}, 13, "can't decompress"},
        // More output than announced.
        {{'F', "long", "0123456789", 0644, 1, good, -5}, 13, "can't decompress"},
        // Compressed bytes used up with the decoder still wanting input.
        {{'F', "cut", "0123456789", 0644, 1, good.substr(0, good.size() - 3)}, 13, "can't decompress"},
        // Data missing for an entry that announces a size.
        {{'F', "nodata", "", 0644, 1, "", 7}, 12, "format error in header"},
        // Fewer than 8 compressed bytes.
        {{'F', "tiny", "0123456789", 0644, 1, "abc"}, 4, "Input/output error "},
        // A stream header with the wrong magic.
        {{'F', "magic", "0123456789", 0644, 1, std::string(12, 'z')}, 13, "can't decompress"},
    };
    for (const Case& c : cases) {
        const std::string archive = BuildArchive(dir / "f.zef", {c.item});
        Result r = RunLib({"-d", "-f", archive});
        EXPECT_EQ(r.ok, 0) << c.item.name;
        EXPECT_EQ(r.number, c.number) << c.item.name;
        std::string expected = c.message;
        if (c.number == 4)
            expected += archive;
        EXPECT_EQ(r.message, expected) << c.item.name;
    }
}

TEST(OfExtract, RefusedNameWritesNothing)
{
    const fs::path dir = TempDir("refused");
    const std::string archive = BuildArchive(dir / "r.zef", {{'F', "first", "1"}, {'F', "a/../../escape", "2"}});
    // With -P names are used as stored, so one that leaves the target is refused.
    Result r = RunLib({"-x", "-P", "-f", archive, "-R", (dir / "out").string()});
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.number, 3u);
    EXPECT_EQ(r.message, "can't create filename for a/../../escape");
    EXPECT_FALSE(fs::exists(dir / "out"));
    EXPECT_FALSE(fs::exists(dir / "escape"));
}

TEST(OfSpace, ShortfallNoVerdictAndFailure)
{
    const fs::path dir = TempDir("space");
    const std::string archive = BuildArchive(dir / "s.zef", {{'F', "new/dir/big", std::string(10 * 1024 + 100, 'a')}});
    // The free space comes from the caller; without a file-system test every
    // target counts on the first group.
    static double fake = 0;
    OldFormatServices services{};
    services.availableSpace = [](const char*) { return fake; };
    fake = 3 * 1024 + 900;
    testing::internal::CaptureStdout();
    Result r = RunLib({"-ts", "-f", archive}, nullptr, nullptr, &services);
    std::string out = testing::internal::GetCapturedStdout();
    const std::string need = "The extraction requires the following free space:\n    10 KBytes on .\n";
    EXPECT_EQ(out, need);
    EXPECT_EQ(r.number, 34u);
    EXPECT_EQ(r.message, "The extraction failed due to missing free space:\n    7 KBytes missing on .\n");

    // A shortfall does not cost the listing, which comes first.
    testing::internal::CaptureStdout();
    r = RunLib({"-tsv", "-f", archive}, nullptr, nullptr, &services);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.number, 34u);
    const size_t listed = out.find("   new/dir/big\n");
    ASSERT_NE(listed, std::string::npos) << out;
    EXPECT_EQ(out.substr(listed + 15), need);

    fake = 0;  // nothing known: no verdict
    r = RunLib({"-xs", "-f", archive, "-R", (dir / "o/p").string()}, nullptr, nullptr, &services);
    EXPECT_EQ(r.ok, 1) << r.message;

    fake = -1;
    r = RunLib({"-xs", "-f", archive, "-R", (dir / "q").string()}, nullptr, nullptr, &services);
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.number, 4u);
}

TEST(OfMain, CreateDoesNothingAndMissingArchivesAreReported)
{
    Result r = RunLib({"-c", "name"});
    EXPECT_EQ(r.ok, 1);
    const fs::path dir = TempDir("main");
    r = RunLib({"-xf", (dir / "nothing*.zef").string()});
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.number, 4u);
    EXPECT_EQ(r.message, "No such file or directory " + (dir / "nothing*.zef").string());
    r = RunLib({"-xf", (dir / "nodir/x.zef").string()});
    EXPECT_EQ(r.number, 4u);
    EXPECT_EQ(r.message, "No such file or directory " + (dir / "nodir").string());
}

TEST(OfMain, TotalSizeExtractOnlyPassAndBuilder)
{
    const fs::path dir = TempDir("extra");
    const std::string archive = BuildArchive(dir / "e.zef", {
                                                                {'D', "sub", "", 0755},
                                                                {'F', "sub/one", std::string(3000, 'a')},
                                                                {'F', "two", "22"},
                                                            });
    uint64_t total = 0;
    uint32_t number = 99;
    char* message = nullptr;
    EXPECT_EQ(OldFormatTotalSize(archive.c_str(), &total, &number, &message), 1);
    EXPECT_EQ(total, 3002u);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(message, nullptr);
    EXPECT_EQ(OldFormatTotalSize((dir / "none.zef").c_str(), &total, &number, &message), 0);
    EXPECT_EQ(number, 4u);
    ASSERT_NE(message, nullptr);
    std::free(message);

    // The extraction-only pass leaves a listing request alone.
    std::string w0 = "zef", w1 = "-tv", w2 = "-f", w3 = archive;
    char* argv[] = {w0.data(), w1.data(), w2.data(), w3.data()};
    testing::internal::CaptureStdout();
    EXPECT_EQ(OldFormatExtractOne(4, argv, nullptr, nullptr, nullptr, &number, &message), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    const fs::path back = fs::current_path();
    fs::create_directories(dir / "out");
    fs::current_path(dir / "out");
    testing::internal::CaptureStdout();
    const int ok = OldFormatExtractArchive(archive.c_str(), true, &number, &message);
    const std::string out = testing::internal::GetCapturedStdout();
    fs::current_path(back);
    EXPECT_EQ(ok, 1) << (message ? message : "");
    EXPECT_EQ(out, "processing archive " + archive + "...\n");
    EXPECT_EQ(ReadFile(dir / "out/two"), "22");
    EXPECT_EQ(fs::file_size(dir / "out/sub/one"), 3000u);
}
