// The code page pair filter: every pair of listed code pages against glibc's
// iconv, the decisions without a table, the switches of the environment (in
// child processes, since they hold for the rest of a process), and
// activation of converters through the filter.
#include <iconv.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cpcache_fixture.h"
#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpf1.h"
#include "krn/rscp/cpobject.h"

namespace {

using cpcache_test::CacheTest;

// The glibc names of the single-byte code pages the filter's tables use.
const std::map<std::string, const char*> kIconvNames = {
    {"0100", "IBM037"},     {"0120", "IBM500"},     {"0410", "IBM870"},     {"0500", "IBM1025"},
    {"0610", "IBM1026"},    {"0700", "IBM875"},     {"0800", "IBM424"},     {"0860", "IBM1160"},
    {"1100", "ISO-8859-1"}, {"1103", "IBM850"},     {"1127", "MACINTOSH"},  {"1160", "CP1252"},
    {"1401", "ISO-8859-2"}, {"1404", "CP1250"},     {"1500", "ISO-8859-5"}, {"1504", "CP1251"},
    {"1610", "ISO-8859-9"}, {"1614", "CP1254"},     {"1700", "ISO-8859-7"}, {"1704", "CP1253"},
    {"1800", "ISO-8859-8"}, {"1804", "CP1255"},     {"1810", "ISO-8859-8"}, {"1824", "CP1255"},
    {"1900", "ISO-8859-4"}, {"1904", "CP1257"},     {"6123", "IBM852"},     {"8600", "TIS-620"},
    {"8604", "CP874"},      {"8700", "ISO-8859-6"}, {"8704", "CP1256"},     {"1101", "ASCII"}};

// Character of every byte of a code page by iconv (-1: none); empty when
// glibc lacks the code page.
std::vector<long> Decode(const std::string& cp)
{
    static std::map<std::string, std::vector<long>> cache;
    auto it = cache.find(cp);
    if (it != cache.end())
        return it->second;
    std::vector<long> out;
    auto name = kIconvNames.find(cp);
    if (name != kIconvNames.end()) {
        iconv_t cd = iconv_open("UTF-32LE", name->second);
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            for (int b = 0; b < 256; ++b) {
                char in = char(b), outBuf[16];
                char *pin = &in, *pout = outBuf;
                size_t nin = 1, nout = sizeof outBuf;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                const bool ok = iconv(cd, &pin, &nin, &pout, &nout) != size_t(-1) && nout == sizeof outBuf - 4;
                uint32_t c = 0;
                std::memcpy(&c, outBuf, 4);
                out.push_back(ok ? long(c) : -1);
            }
            iconv_close(cd);
        }
    }
    return cache[cp] = out;
}

// Byte of every character of a code page (first byte wins).
std::map<long, int> Encode(const std::string& cp)
{
    std::map<long, int> out;
    const std::vector<long> d = Decode(cp);
    for (int b = 0; b < int(d.size()); ++b)
        if (d[size_t(b)] >= 0)
            out.emplace(d[size_t(b)], b);
    return out;
}

std::string Ebcdic(const char* cp)
{
    std::string s(cp, 4);
    for (char& c : s)
        c = char(static_cast<unsigned char>(c) + 0xC0);
    return s;
}

bool Known(uint32_t v)
{
    static const uint32_t kVerdicts[] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 11, 16, 17, 19, 32, 49, 64, 81};
    for (uint32_t k : kVerdicts)
        if (v == k)
            return true;
    return false;
}

TEST(CpF1, EveryPairOfListedCodePagesAgreesWithIconv)
{
    std::vector<std::string> cps;
    for (const rscpf1Row* r = rscpf1__first_codepage(); r != nullptr; r = rscpf1__next_codepage())
        cps.emplace_back(r->cp, 4);
    ASSERT_EQ(cps.size(), size_t(RSCPF1_ROWS));
    int tables = 0, checkedBytes = 0, sameBytePairs = 0;
    for (const std::string& s : cps)
        for (const std::string& d : cps) {
            SCOPED_TRACE(s + "->" + d);
            const uint8_t* table = nullptr;
            const char* name = nullptr;
            const uint32_t v = rscpf1__check_pair(s.c_str(), d.c_str(), &table, &name, 1);
            ASSERT_TRUE(Known(v)) << v;
            EXPECT_EQ(rscpf1__check_pair(Ebcdic(s.c_str()).c_str(), Ebcdic(d.c_str()).c_str(), nullptr, nullptr, 1), v);
            EXPECT_EQ(rscpf1_check_codepage_pair(s.c_str(), d.c_str(), nullptr, nullptr), v & ~96u);
            if (rscpf1__check_pair(s.c_str(), d.c_str(), nullptr, nullptr, 0) == RSCPF1_INCOMPATIBLE) {
                EXPECT_TRUE(v == 0 || v == 32 || v == 49 || v == 64 || v == 81 || v == 11 || v == 19) << v;
            }
            rscpf1Row rs{}, rd{};
            ASSERT_EQ(rscpf1__get_codepage_info(s.c_str(), &rs), 0u);
            ASSERT_EQ(rscpf1__get_codepage_info(d.c_str(), &rd), 0u);
            if ((v & ~96u) == RSCPF1_TABLE) {
                ++tables;
                ASSERT_NE(table, nullptr);
                ASSERT_NE(name, nullptr);
                ASSERT_EQ(std::strncmp(name, "t_", 2), 0) << name;
                for (int b = 1; b < 256; ++b)
                    ASSERT_NE(table[b], 0) << "byte " << b << " of " << name;
                // The table's own code pages, by iconv: every character both hold.
                const std::string from(name + 2, 4), to(name + 10, 4);
                const std::vector<long> dec = Decode(from);
                const std::map<long, int> enc = Encode(to);
                for (int b = 1; b < int(dec.size()); ++b) {
                    auto e = enc.find(dec[size_t(b)]);
                    if (dec[size_t(b)] < 0 || e == enc.end() || (from == "0160" && dec[size_t(b)] >= 0x80))
                        continue;
                    ++checkedBytes;
                    ASSERT_EQ(int(table[b]), e->second) << "byte " << b << " of " << name;
                }
            } else if (v == 0 && rs.charset == rd.charset && s != d) {
                // "Nothing to translate": every character both hold has the same byte.
                const std::vector<long> dec = Decode(s);
                const std::map<long, int> enc = Encode(d);
                if (dec.empty() || enc.empty())
                    continue;
                ++sameBytePairs;
                for (int b = 1; b < 256; ++b) {
                    auto e = enc.find(dec[size_t(b)]);
                    if (dec[size_t(b)] >= 0 && e != enc.end()) {
                        ASSERT_EQ(e->second, b) << "byte " << b;
                    }
                }
            }
        }
    EXPECT_GT(tables, 300);
    EXPECT_GT(checkedBytes, 30000);
    EXPECT_GT(sameBytePairs, 10);
}

TEST(CpF1, DecisionsWithoutATableAndTheirTexts)
{
    const uint8_t* table = nullptr;
    const char* name = nullptr;
    EXPECT_EQ(rscpf1__check_pair("1100", "1100", &table, &name, 1), 0u);
    EXPECT_EQ(rscpf1__check_pair("1100", "1160", &table, &name, 1), 0u);
    EXPECT_EQ(table, nullptr);
    EXPECT_EQ(rscpf1__check_pair("0120", "1100", &table, &name, 1), 17u);
    EXPECT_EQ(std::string(name).substr(0, 14), "t_0120_to_1100");
    EXPECT_EQ(table[0xC1], 'A');
    EXPECT_EQ(rscpf1__check_pair("\xF0\xF1\xF2\xF0", "1100", nullptr, nullptr, 1), 17u);
    EXPECT_EQ(rscpf1__check_pair("1100", "4103", nullptr, nullptr, 1), 4u);
    EXPECT_EQ(rscpf1__check_pair("9999", "9999", nullptr, nullptr, 1), 5u);
    // The exception list: Latin-2 EBCDIC to the blended Western page.
    EXPECT_EQ(rscpf1__check_pair("0410", "1180", &table, &name, 1), 17u);
    EXPECT_EQ(std::string(name).substr(0, 14), "t_0410_to_1180");
    EXPECT_EQ(rscpf1__check_pair("1401", "1180", &table, &name, 0), 17u);
    EXPECT_EQ(table[0xA9], 'S');   // S with caron is written as its base letter
    EXPECT_EQ(table[0xE4], 0xE4);  // a with diaeresis is in both
    EXPECT_EQ(rscpf1__check_pair("8000", "8400", nullptr, nullptr, 0), 16u);
    EXPECT_EQ(rscpf1__check_pair("8000", "8400", nullptr, nullptr, 1), 32u);
    EXPECT_EQ(rscpf1__check_pair("8000", "8004", nullptr, nullptr, 1), 19u);
    // Unification: the blended Asian set contains Japanese.
    EXPECT_EQ(rscpf1__check_pair("6200", "8000", nullptr, nullptr, 1), 64u);
    EXPECT_EQ(rscpf1__check_pair("6200", "8004", nullptr, nullptr, 1), 19u);
    EXPECT_EQ(rscpf1__pair_compatible("1100", "1100"), 0u);
    EXPECT_EQ(rscpf1__pair_compatible("1100", "1401"), 0u);  // same manufacturer
    EXPECT_EQ(rscpf1__pair_compatible("0120", "1100"), 1u);
    EXPECT_EQ(rscpf1__pair_compatible("1100", "4103"), 2u);

    rscpf1Row r{};
    EXPECT_EQ(rscpf1__get_codepage_info("1824", &r), 0u);
    EXPECT_EQ(r.manufacturer, 5u);
    EXPECT_EQ(rscpf1__get_codepage_info("4103", &r), 1u);
    EXPECT_EQ(std::string(r.cp, 4), "4103");  // the sentinel took the sought code page
    EXPECT_EQ(r.charset, 28u);

    EXPECT_STREQ(rscpf1__charset_name(24), "rscpf1: character set 24");
    EXPECT_STREQ(rscpf1__charset_name(6), "Japnese");
    EXPECT_STREQ(rscpf1__verdict_text(3), "rscpf1: error code 3");
    EXPECT_STREQ(rscpf1__verdict_text(81), "table translation and than simmilar by unification");
    EXPECT_STREQ(rscpf1__manufacturer_name(15), "rscpf1: manufacturer 15");
    EXPECT_EQ(rscpf1TableKey("t_0120_to_1100 20120905"), 0x0120B1100ull);
}

// Each switch holds for the rest of a process: checked in a child.
void Child(const char* name, const char* value, bool (*check)())
{
    EXPECT_EXIT(
        {
            setenv(name, value, 1);
            std::exit(check() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << name << "=" << value;
}

TEST(CpF1, EnvironmentSwitchesAndStoppedCodePages)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Child("NLS_F1_STOP_UTF8", "1", [] {
        return rscpf1__check_pair("4110", "1101", nullptr, nullptr, 1) == 2 &&
               rscpf1__check_pair("1101", "4110", nullptr, nullptr, 1) == 8 &&
               rscpf1__check_pair("4110", "4110", nullptr, nullptr, 1) == 10 &&
               rscpf1__pair_compatible("4110", "1101") == 2;
    });
    Child("NLS_F1_STOP_UTF8", "0", [] { return rscpf1__check_pair("4110", "1101", nullptr, nullptr, 1) == 0; });
    Child("NLS_F1_FILTER_OFF", "0", [] {
        rscpf1Row* r = nullptr;
        return rscpf1__find_codepage("1810", &r) == 0 && r->manufacturer == 13;
    });
    Child("NLS_F1_FILTER_OFF", "00", [] {
        // "Slightly modified" ISO 8859-8 now counts as ISO 8859-8 itself.
        rscpf1Row* r = nullptr;
        return rscpf1__find_codepage("1810", &r) == 0 && r->manufacturer == 2;
    });
    Child("KOV_UNUSED", "", [] {
        rscpf1__stop_codepage("\xF1\xF1\xF0\xF0");
        bool listed = false;
        for (rscpf1Row* r = rscpf1__first_codepage(); r != nullptr; r = rscpf1__next_codepage())
            listed |= std::memcmp(r->cp, "1100", 4) == 0;
        return !listed && rscpf1__check_pair("1100", "1160", nullptr, nullptr, 1) == 2 &&
               rscpf1__next_codepage() == nullptr;
    });
    Child("KOV_UNUSED", "", [] {
        // Stopping a pair makes every pair of the same manufacturers in that
        // character set "not sure"; other sets keep their tables.
        const bool before = rscpf1__check_pair("1401", "1404", nullptr, nullptr, 1) == 17;
        return before && rscpfsp_stop_codepage_pair("1401", "1404") == 0 &&
               rscpf1__check_pair("6120", "6124", nullptr, nullptr, 1) == 11 &&
               rscpf1__check_pair("1500", "1504", nullptr, nullptr, 1) == 17 &&
               rscpfsp_stop_codepage_pair("9999", "1404") == 1;
    });
}

// ---- activation through the filter ------------------------------------------------------

class F1Activation : public CacheTest {
protected:
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
    }
    uint32_t Activate(rscpCObj_t* o, const char* from, const char* to, int32_t use)
    {
        EXPECT_EQ(rscpCInit(o, from, to, RSCPMISS_SUBSTITUTE, 0, 0), 0u);
        rscpCSetUseF1(o, use);
        return rscpCActivate(o);
    }
};

TEST_F(F1Activation, TablesAreLoadedOnceDirectPairsAreCopiedAndIncompatiblePairsNever)
{
    rscpCObj_t o;
    ASSERT_EQ(Activate(&o, "0120", "1100", RSCPF1_ENFORCE), 0u);
    EXPECT_EQ(o.method, 12);
    ASSERT_NE(o.ccci_f1_in_7, 0u);
    const uint8_t* table = nullptr;
    ASSERT_EQ(rscpf1__check_pair("0120", "1100", &table, nullptr, 0), 17u);
    EXPECT_EQ(std::memcmp(reinterpret_cast<const uint8_t*>(rscpmp) + o.ccci_f1_in_7, table, 256), 0);
    EXPECT_EQ(rscpmp->loadedF1Count, 1u);
    const uint32_t offset = o.ccci_f1_in_7;
    rscpCObj_t again;
    ASSERT_EQ(Activate(&again, "0120", "1100", RSCPF1_TRY), 0u);
    EXPECT_EQ(again.ccci_f1_in_7, offset);
    EXPECT_EQ(rscpmp->loadedF1Count, 1u);

    ASSERT_EQ(Activate(&o, "1100", "1160", RSCPF1_TRY), 0u);
    EXPECT_EQ(o.method, RSCPMETH_DIRECT);
    // Not F1's business: UTF-8 on either side, or F1 not asked for.
    ASSERT_EQ(Activate(&o, "0120", "1100", RSCPF1_NOT), 0u);
    EXPECT_NE(o.method, 12);
    EXPECT_EQ(Activate(&o, "4110", "1100", RSCPF1_ONLY), RSCPEINVAL);
    EXPECT_EQ(LastText(), "F1 cannot handle pair");
    // Latin-1 and Latin-2 are not compatible: never copied byte for byte.
    ASSERT_EQ(Activate(&o, "1100", "1401", RSCPF1_ENFORCE), 0u);
    EXPECT_NE(o.method, RSCPMETH_DIRECT);
    EXPECT_NE(o.method, 12);
    // The use that takes the filter's answer only asks it with similarities
    // (it asked without, as the enforcing use does, and refused the pair as
    // not compatible): "somewhat similar; do nothing".  A code page the
    // filter does not know is refused.
    ASSERT_EQ(Activate(&o, "8000", "8400", RSCPF1_ONLY), 0u);
    EXPECT_EQ(o.method, RSCPMETH_DIRECT);
    EXPECT_EQ(Activate(&o, "1100", "4103", RSCPF1_ONLY), RSCPEINVAL);
    EXPECT_EQ(LastText(), "F1 cannot handle pair");
}

}  // namespace
