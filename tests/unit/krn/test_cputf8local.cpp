// The cached converters between UTF-8 and the local code page, the local
// code page from the environment and the profile, and the answers of the
// library without a database.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "krn/rscp/cperr.h"
#include "krn/rscp/cpnodb.h"
#include "krn/rscp/cpreadchars.h"
#include "krn/rscp/cputf8local.h"
#include "tests/unit/krn/cpcache_fixture.h"

using cpcache_test::CacheTest;

namespace {

class Local : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        unsetenv("KOV_CODEPAGE");
        kovlcpResetLocalCodePage();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    }
    void TearDown() override
    {
        unsetenv("KOV_CODEPAGE");
        kovlcpResetLocalCodePage();
        CacheTest::TearDown();
    }
    // A string form of a converter into a destination of size bytes.
    static std::string Str(uint32_t (*fn)(char*, int32_t, uint32_t*, const char*), const std::string& in, uint32_t* rc,
                           int32_t size)
    {
        std::string buf(size_t(size), 'Z');
        uint32_t n = 999;
        const uint32_t r = fn(buf.data(), size, &n, in.c_str());
        if (rc != nullptr)
            *rc = r;
        EXPECT_EQ(n, std::strlen(buf.c_str()));
        return buf.substr(0, n);
    }
    static std::string ToLocal(const std::string& utf8, uint32_t* rc = nullptr, int32_t size = 256)
    {
        return Str(Utf8nToUcnCPStr, utf8, rc, size);
    }
    static std::string ToUtf8(const std::string& local, uint32_t* rc = nullptr, int32_t size = 1024)
    {
        return Str(UcnToUtf8nCPStr, local, rc, size);
    }
    static uint32_t Calls(int i) { return rscph_HookTable.ctl->converterCalls[i]; }
    std::string LocalCp() const
    {
        char cp[4];
        rscph_HookTable.LocalCodePage(cp);
        return std::string(cp, 4);
    }
};

}  // namespace

TEST_F(Local, NamesRoundTripAndConvertersAreSetUpOncePerCodePage)
{
    // Every byte of the local code page, the C1 controls among them, comes
    // back through UTF-8.
    std::string all;
    for (int c = 1; c < 256; ++c)
        all += char(c);
    const std::string utf8 = ToUtf8(all);
    EXPECT_EQ(utf8.size(), 127u + 2 * 128u);
    EXPECT_EQ(utf8.substr(127, 4), "\xC2\x80\xC2\x81");
    EXPECT_EQ(ToLocal(utf8), all);
    // Characters outside the code page, and broken input, become "#".
    EXPECT_EQ(ToLocal("dir/\xC3\xA9t\xC3\xA9/\xE2\x82\xAC.txt\xC0\xAF"), "dir/\xE9t\xE9/#.txt##");

    // Set up once; every further call only counts.  An explicit code page
    // sets it up again, and so does the local one after it.
    const uint32_t before = Calls(RSCPCC_FROM_UTF8);
    char out[16], *d = out;
    const char* s = "\xE2\x82\xAC";
    EXPECT_EQ(Utf8nToUcnCP("1160", &d, out + 16, &s, s + 3), 0u);
    EXPECT_EQ(std::string(out, size_t(d - out)), "\x80");
    ToLocal("a");
    ToLocal("b");
    EXPECT_EQ(Calls(RSCPCC_FROM_UTF8), before + 1);
    // A set-up that fails is tried again by the next call.
    d = out;
    s = "a";
    EXPECT_EQ(Utf8nToUcnCP("9999", &d, out + 16, &s, s + 1), RSCPENOCONV);
    d = out;
    s = "a";
    EXPECT_EQ(Utf8nToUcnCP("9999", &d, out + 16, &s, s + 1), RSCPENOCONV);
    EXPECT_EQ(Calls(RSCPCC_FROM_UTF8), before + 1);
    EXPECT_EQ(ToLocal("\xC3\xA4"), "\xE4");
    EXPECT_EQ(Calls(RSCPCC_FROM_UTF8), before + 1);

    // Strict stops, NoCtrl refuses control codes, UTF-16 in its byte order.
    d = out;
    s = "a\xE2\x82\xAC";
    EXPECT_EQ(Utf8nToUcnCPStrict(nullptr, &d, out + 16, &s, s + 4), RSCPENOCONV);
    EXPECT_EQ(d - out, 1);
    d = out;
    s = "\x01\xE9";
    EXPECT_EQ(UcnToUtf8nCPNoCtrl(nullptr, &d, out + 16, &s, s + 2), 0u);
    EXPECT_EQ(std::string(out, size_t(d - out)), "#\xC3\xA9");
    d = out;
    s = "a\xE9";
    EXPECT_EQ(UcnToUtf16nCP(nullptr, &d, out + 16, &s, s + 2), 0u);
    EXPECT_EQ(std::string(out, size_t(d - out)), std::string("a\0\xE9\0", 4));
    char back[8], *b = back;
    const char* u = out;
    EXPECT_EQ(Utf16nToUcnCP2(nullptr, &b, back + 8, &u, d), 0u);
    EXPECT_EQ(std::string(back, size_t(b - back)), "a\xE9");
}

TEST_F(Local, StringInPlaceCountedAndPaddedForms)
{
    uint32_t rc = 0;
    // Size 1 holds only the terminator; size 0 is refused and writes nothing.
    EXPECT_EQ(ToLocal("abc", &rc, 1), "");
    EXPECT_EQ(rc, RSCPETOOLONG);
    char guard[3] = {'G', 'H', 'I'};
    EXPECT_EQ(Utf8nToUcnCPStr(guard + 1, 0, nullptr, "a"), RSCPEINVAL);
    EXPECT_EQ(Utf8nToUcnCPInPlace(guard + 1, 0, nullptr, "a"), RSCPEINVAL);
    EXPECT_EQ(std::string(guard, 3), "GHI");
    // A destination too small keeps what fitted, terminated.
    EXPECT_EQ(ToUtf8("ab\xE4", &rc, 4), "ab");
    EXPECT_EQ(rc, RSCPETOOLONG);
    EXPECT_EQ(ToLocal("", &rc), "");
    EXPECT_EQ(rc, 0u);

    // In place: a name shorter in the local code page is terminated at once.
    char name[4352] = "\xC3\xA9";
    uint32_t n = 0;
    EXPECT_EQ(Utf8nToUcnCPInPlace(name, sizeof name, &n, name), 0u);
    EXPECT_EQ(std::string(name, 2), std::string("\xE9\0", 2));
    EXPECT_EQ(n, 1u);
    char grow[16] = "\xE4\xE4";
    EXPECT_EQ(UcnToUtf8nCPInPlace(grow, sizeof grow, &n, grow), 0u);
    EXPECT_STREQ(grow, "\xC3\xA4\xC3\xA4");
    // A name of the whole buffer without its terminator is refused, not
    // read past (the heap buffer ends right there).
    std::unique_ptr<char[]> full(new char[4352]);
    std::memset(full.get(), 'a', 4352);
    EXPECT_EQ(Utf8nToUcnCPInPlace(full.get(), 4352, &n, full.get()), RSCPEINVAL);

    // Counted forms write no terminator.
    char buf[8] = "ZZZZZZZ";
    EXPECT_EQ(UcnToUtf8nCPBuf(buf, 8, &n, "\xFF", 1), 0u);
    EXPECT_EQ(std::string(buf, 3), "\xC3\xBFZ");
    EXPECT_EQ(Utf8nToUcnCPBuf(buf, -1, &n, "a", 1), RSCPEINVAL);

    // Prepared converters: the padded form fills with blanks and truncates
    // trailing spaces that do not fit.
    ASSERT_EQ(UcnToUtf8nCPInitPad(), 0u);
    const uint32_t calls = Calls(RSCPCC_TO_UTF8 + 4);
    ASSERT_EQ(UcnToUtf8nCPInitPad(), 0u);
    EXPECT_EQ(Calls(RSCPCC_TO_UTF8 + 4), calls + 1);
    char pad[6], *d = pad;
    const char* s = "ab";
    EXPECT_EQ(UcnToUtf8nCPNextPad(&d, pad + 5, &s, s + 2), 0u);
    EXPECT_EQ(std::string(pad, 5), "ab   ");
    EXPECT_EQ(d, pad + 5);
    d = pad;
    s = "ab   ";
    EXPECT_EQ(UcnToUtf8nCPNextPad(&d, pad + 2, &s, s + 5), 0u);
    ASSERT_EQ(Utf8nToUcnCPInit(), 0u);
    d = pad;
    s = "\xC3\xA9";
    EXPECT_EQ(Utf8nToUcnCPNext(&d, pad + 6, &s, s + 2), 0u);
    EXPECT_EQ(std::string(pad, size_t(d - pad)), "\xE9");
}

TEST_F(Local, LocalCodePageFollowsTheEnvironmentAndTheProfile)
{
    EXPECT_EQ(LocalCp(), "1100");
    // The environment variable at the next start-up.
    setenv("KOV_CODEPAGE", "1160", 1);
    kovlcpResetLocalCodePage();
    ASSERT_EQ(Restart(), 0u);
    EXPECT_EQ(LocalCp(), "1160");
    EXPECT_EQ(ToLocal("\xE2\x82\xAC"), "\x80");
    // The profile wins, and says so.
    cpcache_test::g_params["install/codepage/appl_server"] = "1401";
    kovlcpResetLocalCodePage();
    std::string err = cpcache_test::Stderr([&] { Restart(); });
    EXPECT_EQ(err, "kovlcp2: Mismatching value of environment KOV_CODEPAGE\n"
                   "       :overwriten with value from KOV profile.\n");
    EXPECT_EQ(LocalCp(), "1401");
    err = cpcache_test::Stderr([&] { EXPECT_EQ(kovlcpSetLocalCodePageFromEnv("1100"), 1); });
    EXPECT_EQ(err, "kovlcp2: Mismatching value of environment KOV_CODEPAGE\n"
                   "       :ignored because of KOV profile.\n");
    EXPECT_EQ(LocalCp(), "1401");
    // A value that is no code page is reported and passed over.
    cpcache_test::g_params.clear();
    setenv("KOV_CODEPAGE", "11x0", 1);
    kovlcpResetLocalCodePage();
    err = cpcache_test::Stderr([&] { Restart(); });
    EXPECT_EQ(err, "Environment variable 'KOV_CODEPAGE' value '11x0' format error.\n");
    EXPECT_EQ(LocalCp(), "1100");

    // A local code page whose characters hold NUL bytes cannot carry names.
    EXPECT_EQ(kovlcpSetLocalCodePageFromProfile("4103"), 0);
    uint32_t rc = 0;
    EXPECT_EQ(ToLocal("ab", &rc), "");
    EXPECT_NE(rc, 0u);
}

// Fault: the unit named itself by its bare source path, which the error
// recorder reads as the module "krn/rscp"; its errors are recorded, printed
// and posted under a unit name like every other unit's.
TEST_F(Local, ErrorsAreRecordedUnderTheUnitsName)
{
    rscpe_clear_errors();
    char buf[4] = "ZZZ";
    uint32_t n = 0;
    EXPECT_EQ(Utf8nToUcnCPStr(buf, 0, &n, "a"), RSCPEINVAL);
    const rscpErrRecord* r = rscpe_get_error_record();
    ASSERT_GE(r->count, 1);
    const std::string module(r->entries[0].module, 8);
    EXPECT_EQ(module.rfind("rscp", 0), 0u) << module;
    EXPECT_EQ(module.find_first_of("/.#"), std::string::npos) << module;
}

TEST_F(Local, AnswersWithoutADatabaseAndTheLocaleLookup)
{
    uint32_t sw = 0;
    std::string err = cpcache_test::Stderr([&] { EXPECT_EQ(rscpumgGetExportToSw(&sw), RSCPEODATA); });
    EXPECT_EQ(err, "rscpumgGetExportToSw: If there is no database, then there is no table UMGCCTL.\n");
    EXPECT_EQ(sw, 1u);
    EXPECT_EQ(rscpmc4_init(0), 0u);
    rscpe_clear_errors();
    EXPECT_EQ(rscpmc3_init(1), RSCPENOOBJ);
    EXPECT_EQ(LastText(), "");
    EXPECT_EQ(rscpmc4_init(2), RSCPENOOBJ);
    EXPECT_EQ(LastText(), "Dummy module without real rscpmc[34]");
    char info[10];
    EXPECT_EQ(rscpGetTableInfo(0, 0, info, 10), 2u);
    EXPECT_EQ(std::string(info, 10), "no info   ");
    EXPECT_EQ(rscpGetTableInfo(0, 0, info, 5), 2u);
    EXPECT_EQ(std::string(info, 5), "nnnnn");
    EXPECT_EQ(rscpPairCompatibleOrCustomized("1100", "1100"), 0u);
    EXPECT_EQ(rscpPairCompatibleOrCustomized("1100", "9999"), 2u);
    char ebcdic[4] = {'\xF1', '\xF1', '\xF0', '\xF0'};
    rscpEbcdicDigitsToAscii(ebcdic);
    EXPECT_EQ(std::string(ebcdic, 4), "1100");

    // The locale record: blank fields match anything; the first matching
    // line fills the record.
    rscpTcp0cRecord_t rec;
    std::memset(&rec, ' ', sizeof rec);
    std::memcpy(rec.language, "D", 1);
    err = cpcache_test::Stderr([&] { EXPECT_EQ(rscpLookupTCP0C(&rec, RSCP_ALL_ERRORS), RSCPENOOBJ); });
    EXPECT_TRUE(cpcache_test::Contains(cpcache_test::g_out1, "Syslog: TCP0C.DAT"));
    EXPECT_EQ(rscpe_get_error_record()->entries[0].len1, 1);  // of "2&TCP0C&"
    cpcache_test::WriteFile("TCP0C.DAT", ";TCP0C\nLinux;E;US; ;1100;-;en_US.ISO8859-1\n"
                                         "Linux;D;DE;euro;1160;-;de_DE@euro\n");
    EXPECT_EQ(rscpLookupTCP0C(&rec, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(std::string(rec.country, 3), "DE ");
    EXPECT_EQ(std::string(rec.modifier, 8), "euro    ");
    EXPECT_EQ(std::string(rec.codePage, 4), "1160");
    EXPECT_EQ(std::string(rec.locale, 12), "de_DE@euro  ");

    // A two-byte character of the local code page cut at the end.
    ASSERT_EQ(kovlcpSetLocalCodePageFromProfile("8000"), 0);
    uint8_t tail[3] = {'a', 0x82, 0xA0};
    uint32_t count = 9;
    EXPECT_EQ(rscpFillIncompleteTail(tail, 3, ' ', &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rscpFillIncompleteTail(tail, 2, ' ', &count), 0u);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(tail[1], ' ');

    // Maintenance helpers: only inside the cache, printable bytes or '.'.
    const uint32_t end = rscpmp->length;
    rscpmc_fill_cache(end - 4, 8, 0x55);
    EXPECT_NE(reinterpret_cast<uint8_t*>(rscpmp)[end - 1], 0x55);
    char copy[5] = "ZZZZ";
    rscpmc_printable_copy("a\x01\xFF"
                          "bc",
                          5, copy, 4);
    EXPECT_STREQ(copy, "a..Z");
    EXPECT_EQ(rscpmc_is_language_key("E"), 1);
    EXPECT_EQ(rscpmc_is_language_key(""), 0);
}

TEST_F(Local, Utf8CopiesSubstituteBrokenInputAndBackslashesFollowTheCharacters)
{
    // Between two UTF-8 code pages the source is copied: each broken
    // sequence becomes one "#", as into ISO-8859-1 (the manifest converts
    // with these counted calls); a cursor stops at a broken sequence there
    // is no room for.
    char out[16], *d = out;
    const char* s = "a\xED\xA0\x80"
                    "b\xE3\x81";
    EXPECT_EQ(Utf8nToUcnCP("4310", &d, out + 16, &s, s + 7), 0u);
    EXPECT_EQ(std::string(out, size_t(d - out)), "a###b#");
    d = out;
    const char* broken = "ab\xFF"
                         "c";
    s = broken;
    EXPECT_EQ(UcnToUtf8nCP("4110", &d, out + 2, &s, s + 4), RSCPETOOLONG);
    EXPECT_EQ(d, out + 2);
    EXPECT_EQ(s, broken + 2);

    // A byte 0x5C is a backslash only where it is a character of its own.
    const struct {
        const char* cp;
        std::string in, out;
    } cases[] = {
        {"8000", "\x95\\\\a\\", "\x95\\/a/"},                     // Shift-JIS second byte
        {"8300", "\xB3\\\\", "\xB3\\/"},                          // Big5
        {"8200", "\x1B$B%\\\x1B(B\\x", "\x1B$B%\\\x1B(B/x"},      // a shifted run
        {"8599", "\x1B$)C\x0E!\\\x0F\\", "\x1B$)C\x0E!\\\x0F/"},  // shift out, shift in
        {"1100", "\x95\\\\", "\x95//"},                           // single bytes
        {"4110", "\xC3\xA9\\", "\xC3\xA9/"},                      // UTF-8
    };
    for (const auto& c : cases) {
        ASSERT_EQ(kovlcpSetLocalCodePageFromProfile(c.cp), 0) << c.cp;
        std::string name = c.in;
        BackslashToSlashCP(name.data(), name.size());
        EXPECT_EQ(name, c.out) << c.cp;
    }
}

TEST_F(Local, NamesComeBackByTheirCharactersAsTheirConversionsSay)
{
    // Every byte and every pair of bytes of the double-byte pages carried,
    // of the ISO-2022 pages and of pages of single bytes, alone and between
    // other characters: where the answer without converting is "comes
    // back", the name converts into UTF-8 and back as it was; under a page
    // whose converter reads characters of two bytes without shifts, a name
    // of one such character gets the answer its conversion gives.
    const char* const pages[] = {"8000", "8004", "8100", "8200", "8300", "8304", "8340", "8341",
                                 "8342", "8343", "8344", "8345", "8400", "8404", "8450", "8500",
                                 "8504", "8599", "1100", "1160", "8600", "4110"};
    const auto comesBack = [](const std::string& name) {
        uint32_t rc = 0;
        const std::string utf8 = ToUtf8(name, &rc);
        if (rc != RSCP_OK)
            return false;
        const std::string back = ToLocal(utf8, &rc);
        return rc == RSCP_OK && back == name;
    };
    for (const char* cp : pages) {
        ASSERT_EQ(kovlcpSetLocalCodePageFromProfile(cp), 0) << cp;
        rscpReadChars chars;
        const bool pairs = rscpReadCharsOfCP(cp, &chars) == RSCP_OK && chars.multiByte && !chars.shifted &&
                           std::strcmp(cp, "4110") != 0;
        size_t fast = 0;
        std::string before = "a";
        for (int lead = 1; lead < 256; ++lead) {
            for (int trail = 0; trail < 256; ++trail) {
                std::string name(1, char(lead));
                if (trail != 0)
                    name += char(trail);
                const bool answer = ComesBackByCharactersCP(name.data(), name.size());
                const bool real = comesBack(name);
                EXPECT_FALSE(answer && !real) << cp << ": " << lead << " " << trail;
                if (pairs && trail != 0 &&
                    rscpLengthOfReadChar(chars, reinterpret_cast<const uint8_t*>(name.data()), 2) == 2) {
                    EXPECT_EQ(answer, real) << cp << ": " << lead << " " << trail;
                }
                fast += answer ? 1 : 0;
                // Between the name before and a letter.
                if ((lead + trail) % 5 == 0) {
                    const std::string joined = before + name + "b";
                    EXPECT_FALSE(ComesBackByCharactersCP(joined.data(), joined.size()) && !comesBack(joined))
                        << cp << ": " << lead << " " << trail;
                    if (answer)
                        before = name;
                }
            }
        }
        if (std::strcmp(cp, "4110") != 0 && std::strcmp(cp, "8200") != 0 && std::strcmp(cp, "8599") != 0) {
            EXPECT_GT(fast, 200u) << cp;
        }
    }
}
