// The manifest module with the crypto library loaded: set-up and its
// refusals, the text written while packing byte for byte, digests checked
// while extracting, and the comparison with an external manifest file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "crypto/hadigest.h"
#include "tests/unit/krn/manifest_fixture.h"
#include "tests/unit/scratch_dir.h"

using namespace smftest;

namespace {

std::string TmpDir()
{
    std::string dir = KovTestTmp();
    mkdir(dir.c_str(), 0755);
    return dir;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class Manifest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(ManifestInit(ctx.get(), KOVCRYPTO_LIB, "SHA256", "PKCS7-TSTAMP", "SHA256"), 0); }
    static void TearDownTestSuite() { ManifestShutdown(); }
    Ctx ctx;
};

}  // namespace

TEST_F(Manifest, InitRefusesWhatCannotSignAndKeepsTheDefaults)
{
    EXPECT_STREQ(ManifestGetSignatureHash(ctx.get()), "SHA256");
    EXPECT_STREQ(ManifestGetSignatureFormat(ctx.get()), "PKCS7-TSTAMP");
    EXPECT_STREQ(ManifestGetFileHash(ctx.get()), "SHA256");
    // The severity field is WARNING from the start, but no error is shown.
    EXPECT_EQ(ctx->severity, SMF_SEV_WARNING);
    EXPECT_EQ(ManifestGetSeverity(ctx.get()), 0u);
    EXPECT_STREQ(ManifestGetSigner(ctx.get()), "NULL");

    Ctx c;
    EXPECT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, nullptr, nullptr, "sha-512"), 0);
    EXPECT_STREQ(ManifestGetSignatureHash(c.get()), "SHA512");
    EXPECT_STREQ(ManifestGetFileHash(c.get()), "SHA256");
    EXPECT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, "SHA256", "PKCS7", "SHA256"), SMF_EINVARG);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "Invalid SSF format supplied (must be PKCS7-TSTAMP)");
    // A checksum is no digest for either use.
    EXPECT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, "CRC32", nullptr, nullptr), SMF_EDIGESTLIB);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "Invalid file hash algorithm supplied");
    EXPECT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, "SHA256", nullptr, "CRC32"), SMF_EDIGESTLIB);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "Invalid signature hash algorithm supplied");
    EXPECT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, "SHA999", nullptr, nullptr), SMF_EDIGESTLIB);
    EXPECT_EQ(ManifestGetSmfRc(c.get()), SMF_EDIGESTLIB);
    // Set up again, the context starts over.
    EXPECT_EQ(ManifestInit(c.get(), nullptr, "MD5", nullptr, nullptr), 0);
    EXPECT_STREQ(ManifestGetLastError(c.get()), "");
    EXPECT_EQ(ManifestGetSmfRc(c.get()), 0);
}

TEST(ManifestLibrary, OnlyAnAcceptedLibraryInitialisesTheModule)
{
    ManifestShutdown();
    Ctx c;
    struct Case {
        const char* path;
        const char* message;
    } cases[] = {
        {"no/such/libkovcrypto.so", "KOV Crypto Library could not be loaded"},
        {KOVCRYPTO_NOVERSION, "Manifest verification library must be KOVCRYPTOLIB"},
        {KOVCRYPTO_OLDPATCH, "KOVCRYPTOLIB patch level for software signatures must be 35 but it is 34. "
                             "Please update."},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(ManifestInit(c.get(), k.path, nullptr, nullptr, nullptr), SMF_ELIBRARY) << k.path;
        EXPECT_STREQ(ManifestGetLastError(c.get()), k.message);
        EXPECT_EQ(ManifestShutdown(), 0);
    }
    // The default context is set up, used and released like any other.
    EXPECT_EQ(ManifestInit(nullptr, KOVCRYPTO_LIB, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Pack(nullptr, {{"a.txt", "abc"}}), 0);
    EXPECT_EQ(ManifestGetFileCount(nullptr), 1u);
    ManifestFile f{};
    EXPECT_EQ(ManifestOpenFile(nullptr, &f, "", 0, 0), SMF_EINVARG);
    EXPECT_STRNE(ManifestGetLastError(nullptr), "");
    EXPECT_EQ(ManifestShutdown(), 0);
    EXPECT_STREQ(ManifestGetLastError(nullptr), "");
    EXPECT_EQ(ManifestShutdown(), 0);
}

TEST_F(Manifest, PackingWritesTheTextByteForByte)
{
    ASSERT_EQ(Pack(ctx.get(), {{"a.txt", "abc"}, {"dir\\sub\\f.txt", ""}}), 0);
    const std::string expected = std::string(Header()) + kSha256Abc + " 0005 a.txt\n" + kSha256Empty +
                                 " 000d dir/sub/f.txt\n";
    EXPECT_EQ(Text(ctx.get()), expected);
    EXPECT_EQ(ManifestGetFileCount(ctx.get()), 2u);
    EXPECT_EQ(ctx->headerLength, std::string(Header()).size());
    EXPECT_EQ(ctx->bodyLength, expected.size() - ctx->headerLength);
    EXPECT_EQ(ctx->mode, SMF_MODE_WRITE);

    // A signature hash other than the file hash is named on the line; a long
    // name gets its length in four hex digits.
    Ctx c;
    ASSERT_EQ(ManifestInit(c.get(), KOVCRYPTO_LIB, "SHA1", "PKCS7-TSTAMP", "SHA512"), 0);
    const std::string longName(300, 'n');
    ASSERT_EQ(Pack(c.get(), {{longName, "abc"}}), 0);
    EXPECT_EQ(Text(c.get()),
              std::string(Header("SHA1", "PKCS7-TSTAMP,SHA512")) + kSha1Abc + " 012c " + longName + "\n");
}

TEST_F(Manifest, NamesThatCannotBeListedAreRefused)
{
    ManifestFile f{};
    EXPECT_EQ(ManifestOpenFile(ctx.get(), &f, "", 0, 0), SMF_EINVARG);
    EXPECT_STREQ(ManifestGetLastError(ctx.get()), "Invalid empty input file name passed");
    // 65,535 bytes fit the length field; one more does not (the Latin-1 byte
    // 0xE9 takes two bytes in UTF-8).
    std::string name(MANIFEST_MAX_NAME - 1, 'x');
    name += '\xE9';
    EXPECT_EQ(ManifestOpenFile(ctx.get(), &f, name.data(), name.size(), 0), SMF_EINVARG);
    EXPECT_EQ(f.name, nullptr);
    EXPECT_EQ(f.nameLength, 0u);
    name.pop_back();
    name += 'y';
    EXPECT_EQ(ManifestOpenFile(ctx.get(), &f, name.data(), name.size(), 0), 0);
    EXPECT_EQ(ManifestCloseFile(&f), 0);
    EXPECT_EQ(ctx->entryCount, 1u);
    EXPECT_EQ(std::string(ctx->bodyStart + 65, 5), "ffff ");
    // A name with a NUL inside cannot be converted.
    EXPECT_EQ(ManifestOpenFile(ctx.get(), &f, "a\0b", 3, 0), SMF_ECONV);
    // Updates and closes of a record that is not open.
    EXPECT_EQ(ManifestUpdateFile(nullptr, "x", 1), SMF_EINVARG);
    EXPECT_EQ(ManifestCloseFile(nullptr), SMF_EINVARG);
    f.context = ctx.get();
    EXPECT_EQ(ManifestUpdateFile(&f, "x", 1), SMF_EFILENOTFOUND);
    EXPECT_EQ(ManifestCloseFile(&f), SMF_EFILENOTFOUND);
    // Several messages, one per line; the first code stays.
    EXPECT_EQ(ManifestGetSmfRc(ctx.get()), SMF_EINVARG);
    EXPECT_NE(std::string(ManifestGetLastError(ctx.get())).find("\nError in UcnToUtf8nCP\n"), std::string::npos);
}

TEST_F(Manifest, GrowingTextKeepsEveryLineAndLooksNamesUp)
{
    Files files;
    std::string expected = Header();
    for (int i = 0; i < 3000; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "dir%02d/file-%05d.dat", i % 17, i);
        files.emplace_back(name, std::string(static_cast<std::size_t>(i % 50), static_cast<char>('a' + i % 26)));
        haState_t st;
        ASSERT_EQ(haDigest(&st, files.back().second.data(), files.back().second.size(), HA_SHA256, 0, 0), 0);
        char hex[65];
        for (int k = 0; k < 32; ++k)
            std::snprintf(hex + 2 * k, 3, "%02x", st.digest[k]);
        expected += Line(hex, name);
    }
    ASSERT_EQ(Pack(ctx.get(), files), 0);
    ASSERT_GT(expected.size(), MANIFEST_BUILTIN_TEXT);
    EXPECT_NE(ctx->grownText, nullptr);
    EXPECT_EQ(ctx->contentStart, ctx->grownText);
    EXPECT_EQ(Text(ctx.get()), expected);

    // Read back: every file checks out, in any order; changed data and
    // unlisted names do not.
    std::string text = expected + "\n";
    Ctx r;
    ASSERT_EQ(Load(r.get(), text), 0);
    EXPECT_EQ(r->entryCount, 3000u);
    EXPECT_EQ(r->headerLength, ctx->headerLength);
    EXPECT_EQ(r->bodyLength, ctx->bodyLength + 1);
    EXPECT_EQ(r->signatureStart, text.data() + text.size());
    EXPECT_EQ(r->fileHashId, ctx->fileHashId);
    EXPECT_STREQ(r->signatureHash, "SHA256");
    for (std::size_t i = files.size(); i-- > 0;) {
        if (i != 7) {
            ASSERT_EQ(Check(r.get(), files[i].first, files[i].second), 0) << files[i].first;
        }
    }
    EXPECT_EQ(Check(r.get(), files[7].first, files[7].second + "!"), SMF_EDIGEST);
    EXPECT_EQ(ManifestGetSeverity(r.get()), SMF_SEV_ERROR);
    EXPECT_EQ(std::string(ManifestGetLastError(r.get())), "Digest of file >" + files[7].first + "< is not correct");
    EXPECT_EQ(Check(r.get(), "dir00/file-99999.dat", ""), SMF_EFILENOTFOUND);
    EXPECT_NE(std::string(ManifestGetLastError(r.get())).find("\nFile>dir00/file-99999.dat< was not found in manifest"),
              std::string::npos);
    EXPECT_EQ(ManifestGetSmfRc(r.get()), SMF_EDIGEST);

    // Clearing frees the grown text and every position into it.
    ManifestClearContext(ctx.get());
    EXPECT_EQ(ctx->bodyStart, nullptr);
    EXPECT_EQ(ManifestGetContent(ctx.get()), nullptr);
}

TEST_F(Manifest, PartialSearchMatchesWholePathComponents)
{
    std::string text = std::string(Header()) + kSha256Abc + " 0006 bc.txt\n" + kSha256Abc + " 000a xa/b/c.txt\n" +
                       kSha256Abc + " 0005 c.txt\n" + kSha256Abc + " 000b x/a/b/c.txt\n\n";
    Ctx r;
    ASSERT_EQ(Load(r.get(), text), 0);
    ManifestFile f{};
    ASSERT_EQ(ManifestOpenFile(r.get(), &f, "a/b/c.txt", 9, 1), 0);
    EXPECT_EQ(std::string(f.entryLine + 70, 5), "c.txt");
    EXPECT_EQ(ManifestCloseFile(&f), SMF_EDIGEST);  // nothing was fed
    ASSERT_EQ(ManifestOpenFile(r.get(), &f, "b/c.txt", 7, 1), 0);
    EXPECT_EQ(std::string(f.entryLine + 70, 10), "xa/b/c.txt");
    ManifestCloseFile(&f);
    // Only the exact name without the flag.
    EXPECT_EQ(Check(r.get(), "a/b/c.txt", "abc"), SMF_EFILENOTFOUND);
    EXPECT_EQ(Check(r.get(), "a/b/c.txt", "abc", 1), 0);
    EXPECT_EQ(Check(r.get(), "b.txt", "abc", 1), SMF_EFILENOTFOUND);
    EXPECT_NE(std::string(ManifestGetLastError(r.get())).find("File (partial search) >b.txt< was not found"),
              std::string::npos);
}

namespace {

// An internal manifest of three files, parsed as if it had been verified.
struct External : Manifest {
    void SetUp() override
    {
        Manifest::SetUp();
        internalText = std::string(Header()) + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt") +
                       Line(kSha256Abc, "d.txt") + "\n-----BEGIN SIGNATURE-----\nAAAA\n-----END SIGNATURE-----";
        ASSERT_EQ(Load(internal.get(), internalText), 0);
        path = TmpDir() + "/external.manifest";
    }
    int Compare(const std::string& text)
    {
        WriteFile(path, text);
        return ManifestReadExternal(internal.get(), path.c_str());
    }
    Ctx internal;
    std::string internalText;
    std::string path;
};

}  // namespace

TEST_F(External, AgreesWithTheSameFilesInAnyForm)
{
    const std::string body = Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt") + Line(kSha256Abc, "d.txt");
    std::string upper = kSha256Abc;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string agreeing[] = {
        internalText,                                // with its signature block
        Header() + body + "\n",                      // header and body only
        Header() + body,                             // ends right after the last line
        Header() + body.substr(0, body.size() - 1),  // not even a line feed
        Header() + body + "\n\n",                    // one more empty line
        Header() + Line(kSha256Abc, "d.txt") + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt"),
        Header() + Line(upper.c_str(), "a.txt") + Line(kSha256Empty, "b/c.txt") + Line(kSha256Abc, "d.txt"),
        std::string(Header("sha-256", "PKCS7-TSTAMP,SHA1")) + body,
    };
    for (const std::string& text : agreeing) {
        EXPECT_EQ(Compare(text), 0) << text << "\n" << ManifestGetLastError(internal.get());
        EXPECT_EQ(ManifestGetSmfRc(internal.get()), 0);
    }
}

TEST_F(External, NamesTheFirstDifference)
{
    struct Case {
        std::string text;
        int rc;
        const char* message;
    } cases[] = {
        {Header("SHA1") + Line(kSha1Abc, "a.txt"), SMF_EBODY_NOT_EQUAL, "The file hash algorithms are not equal"},
        {Header() + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt"), SMF_EBODY_NOT_EQUAL,
         "Incompatible content length of the internal(231) and external(155) manifest"},
        {Header() + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt") + Line(kSha256Abc, "e.txt"),
         SMF_EFILENOTFOUND, "External file >e.txt< was not found in the internal manifest"},
        {Header() + Line(kSha256Abc, "a.txt") + Line(kSha256Abc, "b/c.txt") + Line(kSha256Abc, "d.txt"), SMF_EDIGEST,
         "External manifest file >b/c.txt< digest is different to internal manifest"},
        // A name twice against once: the second has no line left to answer it.
        {Header() + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt") + Line(kSha256Abc, "a.txt"),
         SMF_EFILENOTFOUND, "External file >a.txt< was not found in the internal manifest"},
        {Header() + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/c.txt") + "xyz\n", SMF_EPARSE,
         "Error while parsing the external manifest"},
        {"KOV-MANIFESTO\n", SMF_EPARSE, "Error while parsing the external manifest"},
        {"", SMF_EPARSE, "Error while parsing the external manifest"},
    };
    for (const Case& k : cases) {
        Ctx fresh;
        ASSERT_EQ(Load(fresh.get(), internalText), 0);
        std::swap(internal.c, fresh.c);
        EXPECT_EQ(Compare(k.text), k.rc) << k.text;
        EXPECT_STREQ(ManifestGetLastError(internal.get()), k.message) << k.text;
        std::swap(internal.c, fresh.c);
    }
    EXPECT_EQ(ManifestReadExternal(internal.get(), (TmpDir() + "/missing").c_str()), SMF_EFILENOTFOUND);
    EXPECT_EQ(ManifestGetSeverity(internal.get()), SMF_SEV_ERROR);
    // A directory is not read as a file of unknown size.
    EXPECT_EQ(ManifestReadExternal(internal.get(), TmpDir().c_str()), SMF_EINVARG);
    EXPECT_EQ(ManifestReadExternal(internal.get(), nullptr), SMF_EINVARG);
    EXPECT_EQ(ManifestCompareExternal(internal.get(), nullptr), SMF_EINVARG);
}

TEST_F(External, EntryCountsAndEmptyBodies)
{
    // Same body length, other entries.
    std::string twoText = std::string(Header()) + Line(kSha256Abc, "aa.txt") + Line(kSha256Empty, "b/c.txt") + "\n";
    Ctx two;
    ASSERT_EQ(Load(two.get(), twoText), 0);
    std::string oneText = std::string(Header()) + Line(kSha256Abc, "a.txt") + Line(kSha256Empty, "b/cd.txt") + "\n";
    Ctx one;
    ASSERT_EQ(Load(one.get(), oneText), 0);
    EXPECT_EQ(ManifestCompareExternal(two.get(), one.get()), SMF_EFILENOTFOUND);
    std::string emptyText = std::string(Header()) + "\n";
    Ctx e1, e2;
    ASSERT_EQ(Load(e1.get(), emptyText), 0);
    ASSERT_EQ(Load(e2.get(), emptyText), 0);
    EXPECT_EQ(ManifestCompareExternal(e1.get(), e2.get()), 0);
    std::string countText = std::string(Header()) + Line(kSha256Abc, "a.txt") + "\n";
    Ctx c1;
    ASSERT_EQ(Load(c1.get(), countText), 0);
    std::string shifted = countText;
    shifted[shifted.size() - 3] = 'u';  // a.txu
    Ctx c2;
    ASSERT_EQ(Load(c2.get(), shifted), 0);
    EXPECT_EQ(ManifestCompareExternal(c1.get(), c2.get()), SMF_EFILENOTFOUND);
}

TEST_F(Manifest, ListedFilesAreCheckedOnDisk)
{
    const std::string dir = TmpDir() + "/disk";
    mkdir(dir.c_str(), 0755);
    WriteFile(dir + "/a.txt", "abc");
    WriteFile(dir + "/empty", "");
    WriteFile(dir + "/caf\xE9", "abc");  // packed as UTF-8, on disk in the local code page
    unlink((dir + "/pipe").c_str());
    ASSERT_EQ(mkfifo((dir + "/pipe").c_str(), 0600), 0);
    struct Case {
        std::string body;
        int rc;
        std::string message;
    } cases[] = {
        {Line(kSha256Abc, dir + "/a.txt") + Line(kSha256Empty, dir + "/empty") + Line(kSha256Abc, dir + "/caf\xC3\xA9"),
         0, ""},
        {Line(kSha256Empty, dir + "/a.txt"), SMF_EDIGEST,
         "Local File >" + dir + "/a.txt< digest is different to manifest"},
        {Line(kSha256Abc, dir + "/gone"), SMF_EFILENOTFOUND,
         "Local File >" + dir + "/gone< was not found. System error code 2. " + std::strerror(2)},
        {Line(kSha256Abc, dir + "/pipe"), SMF_EFILENOTFOUND, "Local File >" + dir + "/pipe< is not a regular file"},
    };
    for (const Case& k : cases) {
        std::string text = std::string(Header()) + k.body + "\n-----BEGIN SIGNATURE-----\n";
        Ctx r;
        ASSERT_EQ(Load(r.get(), text), 0);
        uint32_t state = SMF_PARSE_BODY;
        EXPECT_EQ(ManifestParse(r.get(), &state, 1), k.rc) << k.body;
        EXPECT_EQ(state, SMF_PARSE_END);
        EXPECT_EQ(ManifestGetLastError(r.get()), k.message);
        if (k.rc != 0) {
            EXPECT_EQ(ManifestGetSeverity(r.get()), SMF_SEV_ERROR);
        }
    }
}
