// The manifest text parsed from hand-made and cut texts, the signature block
// located, and the context's error record, getters and code names.
#include <cstring>

#include "tests/unit/krn/manifest_fixture.h"

using namespace smftest;

TEST(ManifestText, ParserStatesAndErrors)
{
    const std::string a = Line(kSha256Abc, "a.txt");
    std::string upper = kSha256Abc;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    struct Case {
        std::string text;
        int rc;
        uint32_t state;
        uint32_t entries;
    } cases[] = {
        {std::string(Header()) + a + "\n", 0, SMF_PARSE_BODY, 1},
        {std::string(Header()) + "\n", 0, SMF_PARSE_BODY, 0},  // empty body
        {std::string(Header()) + a, 0, SMF_PARSE_BODY, 1},     // no empty line: body open
        {"", 0, SMF_PARSE_MAGIC, 0},
        {std::string("\0KOV-MANIFEST\n", 14), 0, SMF_PARSE_MAGIC, 0},
        {"KOV-MANIFEST", 0, SMF_PARSE_MAGIC, 0},
        {"KOV-MANIFESTO\nHash: SHA256\n", SMF_EINTERNAL, SMF_PARSE_NOT_MANIFEST, 0},
        {"KOV\n", SMF_EINTERNAL, SMF_PARSE_NOT_MANIFEST, 0},
        {"KOV-MANIFEST\nVersion: 2.0\nHash: SHA256\nSignature: PKCS7-TSTAMP\nBody: x\n\n" +
             Line(upper.c_str(), "a.txt", "0005"),
         0, SMF_PARSE_BODY, 1},
        {std::string(Header()) + Line(kSha256Abc, "A.TXT", "000A"), SMF_EINTERNAL, SMF_PARSE_END,
         0},  // length points past the line
        {std::string(Header()) + Line(kSha256Abc, "a.txt", "0004"), SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header()) + Line(kSha256Abc, "a.txt", "00g5"), SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header()) + Line(kSha256Abc, "a.txt", "ffff"), SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header()) + a.substr(0, 64) + "_" + a.substr(65) + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header()) + "x" + a.substr(1) + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header()) + Line(kSha1Abc, "a.txt") + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header("SHA1")) + Line(kSha1Abc, "a.txt") + "\n", 0, SMF_PARSE_BODY, 1},
        // Without a known file hash no entry line can be read.
        {std::string(Header("CRC32")) + Line("cafebabe", "a.txt") + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header("SHA999")) + a + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {"KOV-MANIFEST\nSignature: PKCS7-TSTAMP\nBody: x\n\n" + a + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        {std::string(Header("SHA256", ("PKCS7-TSTAMP," + std::string(40, 'S')).c_str())) + "\n", SMF_EINTERNAL,
         SMF_PARSE_END, 0},
        {std::string(Header()) + Line(kSha256Abc, std::string("a\0b", 3)) + "\n", SMF_EINTERNAL, SMF_PARSE_END, 0},
        // Names may hold line feeds: the length field decides.
        {std::string(Header()) + Line(kSha256Abc, "a\n\nb") + Line(kSha256Abc, "c") + "\n", 0, SMF_PARSE_BODY, 2},
        // Header lines without ": " are passed over, two empty lines end a
        // header that has no legend line.
        {"KOV-MANIFEST\nHash: SHA256\nnonsense\n\n\n", 0, SMF_PARSE_BODY, 0},
    };
    for (const Case& k : cases) {
        std::string text = k.text;
        Ctx c;
        uint32_t state = 99;
        EXPECT_EQ(Load(c.get(), text, &state), k.rc) << text;
        EXPECT_EQ(state, k.state) << text;
        EXPECT_EQ(c->entryCount, k.entries) << text;
        if (c->bodyStart != nullptr) {
            EXPECT_EQ(c->bodyStart, c->contentStart + c->headerLength);
            EXPECT_LE(c->headerLength + c->bodyLength, text.size()) << text;
        }
    }
}

TEST(ManifestText, HeaderValuesAreTaken)
{
    std::string text = std::string(Header("SHA1", "PKCS7-TSTAMP,SHA512")) + Line(kSha1Abc, "a.txt") + "\n\n";
    Ctx c;
    ASSERT_EQ(Load(c.get(), text), 0);
    EXPECT_EQ(c->fileHashId, HA_SHA1);
    EXPECT_EQ(c->digestLength, 20u);
    EXPECT_STREQ(c->signatureHash, "SHA512");
    EXPECT_STREQ(c->signatureFormat, "PKCS7-TSTAMP");
    EXPECT_EQ(c->bodyLength, 52u + 2);  // the line and both empty lines
    EXPECT_EQ(c->signatureStart, text.data() + text.size());

    // Without a comma the signature hash is the file hash read before it.
    std::string plain = std::string(Header("SHA384", "PKCS7-TSTAMP")) + "\n";
    Ctx d;
    ASSERT_EQ(Load(d.get(), plain), 0);
    EXPECT_STREQ(d->signatureHash, "SHA384");
    EXPECT_EQ(d->digestLength, 48u);

    Ctx e;
    std::string unknown = std::string(Header("FOO")) + "\n";
    ASSERT_EQ(Load(e.get(), unknown), 0);
    EXPECT_EQ(e->fileHashId, 0u);
    EXPECT_STREQ(ManifestGetLastError(e.get()), "Invalid file hash algorithm supplied");
    EXPECT_EQ(ManifestSetFileHash(e.get(), "   sha512", 9, nullptr), 0);
    EXPECT_EQ(e->fileHashId, HA_SHA512);
    EXPECT_EQ(ManifestSetFileHash(e.get(), nullptr, 0, std::string(40, 'x').c_str()), SMF_EDIGESTLIB);
    EXPECT_EQ(e->fileHashId, 0u);
}

// Every cut of a signed text parses without reading past it (the text sits
// in a buffer of exactly its size) and keeps its positions inside it.
TEST(ManifestText, EveryCutOfATextStaysInside)
{
    const std::string full = std::string(Header("SHA1", "PKCS7-TSTAMP,SHA256")) + Line(kSha1Abc, "a.txt") +
                             Line(kSha1Abc, "dir/b c\\d") +
                             "\n-----BEGIN SIGNATURE-----\nAAAA\n-----END SIGNATURE-----";
    for (std::size_t n = 0; n <= full.size(); ++n) {
        std::unique_ptr<char[]> exact(new char[n == 0 ? 1 : n]);
        std::memcpy(exact.get(), full.data(), n);
        Ctx c;
        c->contentStart = exact.get();
        c->contentLength = n;
        uint32_t state = 0;
        const int rc = ManifestParse(c.get(), &state, 0);
        ASSERT_TRUE(rc == 0 || rc == SMF_EINTERNAL) << n;
        ASSERT_LE(c->entryCount, 2u);
        ASSERT_LE(c->headerLength + c->bodyLength, n);
        if (c->signatureStart != nullptr) {
            ASSERT_LE(c->signatureStart, exact.get() + n);
        }
        const char* base64 = nullptr;
        uint64_t length = 0;
        const int block = ManifestSignatureBlock(c.get(), &base64, &length);
        ASSERT_EQ(block == 0, n == full.size()) << n;
        if (block == 0) {
            EXPECT_EQ(std::string(base64, length), "AAAA\n");
        }
        c->contentStart = nullptr;
    }
}

TEST(ManifestText, SignatureBlockNeedsBothLinesAtTheirPlaces)
{
    const std::string head = std::string(Header()) + Line(kSha256Abc, "a.txt") + "\n";
    const std::string b64 = std::string(64, 'Q') + "\n" + "QUJD\n";
    struct Case {
        std::string text;
        int rc;
    } cases[] = {
        {head + "-----BEGIN SIGNATURE-----\n" + b64 + "-----END SIGNATURE-----", 0},
        {head + "-----BEGIN SIGNATURE-----\n-----END SIGNATURE-----", 0},
        {head + "-----BEGIN SIGNATURE-----\n" + b64 + "-----END SIGNATURE-----\n", SMF_EPARSE},
        {head + "-----BEGIN SIGNATURE-----\n" + b64, SMF_EPARSE},
        {head + b64 + "-----END SIGNATURE-----", SMF_EPARSE},
        {head + "-----BEGIN SIGNATURE-----" + "-----END SIGNATURE-----", SMF_EPARSE},
        {head + "-----BEGIN SIGNATURE-----\n-----END SIGNATURE---", SMF_EPARSE},
        {head + "-----END SIGNATURE-----", SMF_EPARSE},
        {head, SMF_EPARSE},
        {std::string(Header()) + Line(kSha256Abc, "a.txt"), SMF_EPARSE},
        {"KOV-MANIFEST\n", SMF_EPARSE},
    };
    for (const Case& k : cases) {
        std::string text = k.text;
        Ctx c;
        Load(c.get(), text);
        const char* base64 = nullptr;
        uint64_t length = 0;
        EXPECT_EQ(ManifestSignatureBlock(c.get(), &base64, &length), k.rc) << text;
        if (k.rc == 0) {
            EXPECT_EQ(base64 + length + std::strlen(MANIFEST_END_SIGNATURE), text.data() + text.size());
        }
    }
}

TEST(ManifestContextRecord, ErrorsAccumulateAndGettersStayDefined)
{
    Ctx c;
    EXPECT_STREQ(ManifestGetLastError(c.get()), "");
    EXPECT_STREQ(ManifestGetSigner(c.get()), "NULL");
    EXPECT_STREQ(ManifestGetSubject(c.get()), "NULL");
    EXPECT_STREQ(ManifestGetIssuer(c.get()), "NULL");
    EXPECT_STREQ(ManifestGetSeverityName(c.get()), "OK");
    EXPECT_EQ(ManifestGetSeverity(c.get()), 0u);

    // Two messages without a stored code: both kept, the code becomes 1.
    EXPECT_EQ(ManifestCompareExternal(c.get(), nullptr), SMF_EINVARG);
    Ctx d;
    EXPECT_EQ(ManifestSetFileHash(d.get(), "FOO", 3, nullptr), SMF_EDIGESTLIB);
    EXPECT_EQ(ManifestSetFileHash(d.get(), "BAR", 3, nullptr), SMF_EDIGESTLIB);
    EXPECT_STREQ(ManifestGetLastError(d.get()),
                 "Invalid file hash algorithm supplied\nInvalid file hash algorithm supplied");
    EXPECT_EQ(ManifestGetSmfRc(d.get()), SMF_ERROR);
    EXPECT_STREQ(ManifestGetSeverityName(d.get()), "WARNING");
    // A minor error is dropped by the getters that look at the text.
    EXPECT_EQ(ManifestGetContentLength(d.get()), 0u);
    EXPECT_STREQ(ManifestGetLastError(d.get()), "Empty manifest content");
    EXPECT_EQ(ManifestGetSmfRc(d.get()), SMF_EINTERNAL);
    EXPECT_EQ(ManifestGetFileHash(d.get()), nullptr);
    EXPECT_STREQ(ManifestGetSigner(d.get()), "NULL");

    EXPECT_STREQ(SmfErrorName(0), "SMF_OK");
    EXPECT_STREQ(SmfErrorName(26), "SMF_ESIGNATURE_UNKNOWN");
    EXPECT_STREQ(SmfErrorName(27), "SMF_UNKNOWN_ERROR");
    EXPECT_STREQ(SmfErrorName(-1), "SMF_UNKNOWN_ERROR");
    EXPECT_STREQ(SmfSsfErrorName(42), "SSF_API_BAD_CRL");

    // A context that was never set up cannot sign; a text that is no
    // manifest is refused before any signature is looked at.
    EXPECT_EQ(ManifestSign(c.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), SMF_EINTERNAL);
    EXPECT_EQ(ManifestVerifyAndLoad(c.get(), "x", 1, nullptr, nullptr, nullptr, 0), SMF_EPARSE);
}
