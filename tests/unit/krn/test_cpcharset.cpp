// Code page and charset names: every name of the table back to its code
// page in every spelling a peer may send, the "utf-8" fallback, and names
// that are too long, unknown or cut short.
#include <cctype>
#include <cstring>
#include <string>

#include "cpcache_fixture.h"
#include "krn/rscp/cpcharset.h"

namespace {

using cpcache_test::CacheTest;

std::string Cp(const char* cp)
{
    return std::string(cp, 4);
}

class CharsetTest : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    }
    std::string CpOf(const std::string& name, int32_t length = -2)
    {
        char cp[4] = {'?', '?', '?', '?'};
        const uint32_t rc = rscpcpn_cp_of_charset_name(cp, name.c_str(), length == -2 ? int32_t(name.size()) : length);
        return rc == 0 ? Cp(cp) : "rc" + std::to_string(rc) + ":" + Cp(cp);
    }
};

// Spellings a peer may use for the same name.
std::string Spelled(const std::string& name, int how)
{
    std::string s;
    for (char c : name) {
        if (how == 1)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        if (how == 2 && (c == '-' || c == '_'))
            c = c == '-' ? '_' : '-';
        if (how == 3 && (c == '-' || c == '_'))
            continue;
        s += c;
    }
    return s;
}

TEST_F(CharsetTest, EveryNameLeadsBackToTheFirstCodePageOfThatName)
{
    int rows = 0;
    for (const rscpCharsetRow* r = rscpcpnIanaNames; r->name != nullptr; ++r, ++rows) {
        SCOPED_TRACE(r->name);
        const rscpCharsetRow* first = rscpcpnIanaNames;
        while (std::strcmp(first->name, r->name) != 0)
            ++first;
        for (int how = 0; how < 4; ++how)
            EXPECT_EQ(CpOf(Spelled(r->name, how)), Cp(first->cp)) << Spelled(r->name, how);
        // A name followed by a blank and more text is the same name.
        EXPECT_EQ(CpOf(std::string(r->name) + " (peer)"), Cp(first->cp));

        char cp[4], name[72];
        ASSERT_EQ(rscpcpn_charset_of_cp(cp, name, sizeof name, r->cp), 0u);
        const bool own = std::strncmp(r->name, "x-", 2) == 0;
        const bool utf16 = Cp(r->cp) == "4102" || Cp(r->cp) == "4103";
        if (own || utf16) {
            EXPECT_STREQ(name, "utf-8");
            EXPECT_EQ(Cp(cp), "4110");
        } else {
            EXPECT_STREQ(name, r->name);
            EXPECT_EQ(Cp(cp), Cp(r->cp));
        }
    }
    EXPECT_EQ(rows, 53);
    int java = 0;
    for (const rscpCharsetRow* r = rscpcpnJavaNames; r->name != nullptr; ++r, ++java)
        if (r != rscpcpnJavaNames) {
            EXPECT_LT(std::memcmp(r[-1].cp, r->cp, 4), 0) << r->name;
        }
    EXPECT_EQ(java, 45);
    char javaName[74];
    rscpcsn__charset_name(javaName, "4103", sizeof javaName, rscpcpnJavaNames);
    EXPECT_STREQ(javaName, "UnicodeLittleUnmarked");
}

TEST_F(CharsetTest, UnknownLongAndCutNames)
{
    EXPECT_EQ(CpOf("utf-8", 5), "4110");
    EXPECT_EQ(CpOf("utf-8", -1), "4110");
    EXPECT_EQ(CpOf(std::string("utf-8\0", 6), 6), "4110");
    EXPECT_EQ(CpOf("Utf_8"), "4110");
    EXPECT_EQ(CpOf("ISO_8859_15"), "1164");
    EXPECT_EQ(CpOf("Big5-HKSCS"), "8340");
    EXPECT_EQ(CpOf("cp1252"), "rc128:0000");
    rscpe_clear_errors();
    EXPECT_EQ(CpOf("latin1"), "rc128:0000");
    EXPECT_EQ(LastText(), "Name of code page not in static mem.");
    // The name ends at its length: "iso-8859-15" cut to ten characters.
    EXPECT_EQ(CpOf("iso-8859-15", 10), "1100");
    // A NUL inside the length ends the comparison there.
    EXPECT_EQ(CpOf(std::string("koi8-r\0zz", 9), 9), "1510");
    // 73 characters or more never match, not even through the remembered names.
    EXPECT_EQ(CpOf("utf8" + std::string(69, ' ')), "rc128:0000");
    EXPECT_EQ(CpOf(std::string(72, 'a')), "rc128:0000");
    EXPECT_EQ(CpOf(std::string(5000, 'u')), "rc128:0000");
    // The remembered names survive a reorganisation of the cache.
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(CpOf("SHIFT-JIS"), "8000");
    EXPECT_EQ(CpOf("utf16le"), "4103");

    char cp[4] = {'x', 'x', 'x', 'x'}, name[8] = "-------";
    rscpe_clear_errors();
    EXPECT_EQ(rscpcpn_charset_of_cp(cp, name, 5, "1100"), RSCPETOOLONG);
    EXPECT_EQ(std::string(name), "-------");
    EXPECT_EQ(Cp(cp), "xxxx");
    EXPECT_EQ(LastText(), "param too short for \"utf-8\"");
    EXPECT_EQ(rscpcpn_charset_of_cp(cp, name, 6, "1100"), RSCPETOOLONG);
    EXPECT_STREQ(name, "utf-8");
    // A code page without a public name takes the fallback too.
    EXPECT_EQ(rscpcpn_charset_of_cp(cp, name, 8, "9999"), 0u);
    EXPECT_STREQ(name, "utf-8");

    EXPECT_EQ(rscpcpn_cp_of_windows_cp(cp, 1252), 0u);
    EXPECT_EQ(Cp(cp), "1160");
    EXPECT_EQ(rscpcpn_cp_of_windows_cp(cp, 65001), 0u);
    EXPECT_EQ(Cp(cp), "4110");
    EXPECT_EQ(rscpcpn_cp_of_windows_cp(cp, 1258), RSCPEODATA);
    EXPECT_EQ(Cp(cp), "0000");
    EXPECT_EQ(rscpcpn_cp_of_charset_name(nullptr, "utf-8", -1), RSCPEINVAL);
}

}  // namespace
