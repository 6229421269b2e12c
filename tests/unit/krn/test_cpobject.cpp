// Converter objects and their setters, character numbers and code page
// queries over a small converter cache, language-dependent code pages, and
// the segment index mapping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/cpobject.h"
#include "krn/rscp/cpstore.h"

namespace {

std::vector<std::string> g_lines;
void Collect(const char* text, int32_t length)
{
    g_lines.emplace_back(text, static_cast<std::size_t>(length));
}

std::string LastErrorText()
{
    char text[80];
    rscpe_get_last_text(rscpe_get_error_record(), text, sizeof text);
    return text;
}

rscpCObj_t Fresh(const char* in = "4110", const char* out = "1100")
{
    rscpCObj_t o;
    std::memset(&o, 0xA5, sizeof o);
    EXPECT_EQ(rscpCInit(&o, in, out, RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER), 0u);
    return o;
}

bool Same(const rscpCObj_t& a, const rscpCObj_t& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(CpObject, InitStartsFromTheTemplateWhateverTheObjectHeld)
{
    const rscpCObj_t o = Fresh();
    EXPECT_EQ(std::string(o.incode, 4), "4110");
    EXPECT_EQ(std::string(o.outcode, 4), "1100");
    EXPECT_EQ(o.use_c_subst, 1);
    EXPECT_EQ(o.use_1_copy, 0);
    EXPECT_EQ(o.use_1_subst, 0);
    EXPECT_EQ(o.subst_code, 35);
    EXPECT_EQ(o.subst_code_U4, 35u);
    EXPECT_EQ(o.on_drop, RSCPDROP_LIKE_MISS);
    EXPECT_EQ(o.ownCh, RSCPOWN_TRY);
    EXPECT_EQ(o.enforce_f1, RSCPF1_NOT);
    EXPECT_EQ(o.ctrlcodes, RSCPCTRL_ILLEGAL);
    EXPECT_EQ(o.method, RSCPMETH_UNKNOWN);
    EXPECT_EQ(o.broken, 1u);
    EXPECT_EQ(o.ccci_langu, ' ');
    EXPECT_EQ(std::string(o.ccci_3rdCP, 4) + std::string(o.used_incode, 4) + std::string(o.used_outcode, 4),
              "000000000000");
    EXPECT_EQ(o.timestamp | o.in_no | o.out_no | o.iso2022 | o.noof_subst, 0u);

    // Plain data: a byte copy is the same object, and re-initialising a used
    // object (whatever its garbage) gives exactly a fresh one.
    rscpCObj_t copy;
    std::memcpy(&copy, &o, sizeof o);
    EXPECT_TRUE(Same(copy, o));
    rscpCObj_t used = o;
    used.method = 7;
    used.timestamp = 99;
    used.noof_subst = 5;
    rscpCSetLangu(&used, "J");
    rscpCSet3rdCP(&used, "8300");
    used.iso2022 = 0x0FFFFFFF;
    ASSERT_EQ(rscpCInit(&used, "4110", "1100", 1, 1, 0), 0u);
    EXPECT_TRUE(Same(used, o));

    // An unknown miss value leaves the template's flags (all clear).
    rscpCObj_t odd;
    ASSERT_EQ(rscpCInit(&odd, "1100", "4103", 5, 0, 0), 0u);
    EXPECT_EQ(odd.use_c_subst | odd.use_1_copy | odd.use_1_subst, 0);
    EXPECT_EQ(rscpCInit(nullptr, "1100", "4103", 1, 1, 0), RSCPEINVAL);
    EXPECT_EQ(LastErrorText(), "missing converter object address");
}

TEST(CpObject, SettersStoreAndForceReactivationOnlyOnChange)
{
    const struct {
        int32_t miss;
        uint8_t c, copy;
    } missCases[] = {{0, 0, 0}, {1, 1, 0}, {2, 1, 1}, {3, 0, 1}};
    for (const auto& m : missCases) {
        rscpCObj_t o = Fresh();
        o.use_1_subst = 1;
        EXPECT_EQ(rscpCSetMissBroken(&o, m.miss, 2), 0u);
        EXPECT_EQ(o.use_c_subst, m.c) << m.miss;
        EXPECT_EQ(o.use_1_copy, m.copy) << m.miss;
        EXPECT_EQ(o.use_1_subst, 0) << m.miss;
        EXPECT_EQ(o.broken, 2u);
        rscpCObj_t before = o;
        rscpCSetMiss(&o, 4);
        EXPECT_TRUE(Same(before, o));
    }

    rscpCObj_t o = Fresh();
    o.timestamp = 7;
    rscpCSetLangu(&o, " ");  // the template's key: no change
    EXPECT_EQ(o.timestamp, 7u);
    EXPECT_EQ(o.ccci_explicit_langu, 1);
    o.ccci_ambig_langu = 1;
    rscpCSetLangu(&o, "D");
    EXPECT_EQ(o.timestamp, 0u);
    EXPECT_EQ(o.ccci_langu, 'D');
    EXPECT_EQ(o.ccci_ambig_langu, 0);
    rscpCClearLangu(&o);
    EXPECT_EQ(o.ccci_explicit_langu, 0);
    EXPECT_EQ(o.ccci_langu, 'D');

    o.timestamp = 9;
    rscpCSet3rdCP(&o, "8300");
    EXPECT_EQ(o.timestamp, 0u);
    o.timestamp = 9;
    rscpCSet3rdCP(&o, "8300");
    EXPECT_EQ(o.timestamp, 9u);
    EXPECT_EQ(o.ccci_explicit_3rdCP, 1);
    rscpCClear3rdCP(&o);
    EXPECT_EQ(o.ccci_explicit_3rdCP, 0);

    // The cache side's names set the same fields as the object's own setters.
    rscpCObj_t a = Fresh(), b = Fresh();
    rscpCSetUseF1(&a, 4);
    rscpCSetEnforceF1(&b, 4);
    rscpCSetCtrlCodeCv(&a, 1);
    rscpCSetCtrlCodes(&b, 1);
    rscpCSetKOVOwnChCv(&a, 0);
    rscpCSetOwnCh(&b, 0);
    rscpCSetDrop(&a, 3);
    rscpCSetOnDrop(&b, 3);
    rscpCSetFilter(&a, 1);
    rscpCSetDoFilter(&b, 1);
    rscpCSetFillRest(&a, 2);
    b.fill_rest = 2;
    rscpCRelease(&a);
    rscpCDeactivate(&b);
    EXPECT_TRUE(Same(a, b));
    EXPECT_EQ(a.method, RSCPMETH_DEACTIVATED);
    EXPECT_EQ(rscpCGetEnforceF1(&a), 4);
    EXPECT_EQ(rscpCGetEnforceF1(nullptr), 0);
    EXPECT_EQ(rscpCGetFillRest(&a), 2u);

    // Code pages read back packed; the active forms only for methods 2-49.
    const uint32_t cp4110 = '4' | '1' << 8 | '1' << 16 | '0' << 24;
    const uint32_t none = '0' | '0' << 8 | '0' << 16 | '0' << 24;
    for (int32_t m : {0, 1, 2, 49, 50, -1}) {
        a.method = m;
        const bool active = m >= 2 && m <= 49;
        EXPECT_EQ(rscpCGetIncode(&a), cp4110);
        EXPECT_EQ(rscpCGetActiveIncode(&a), active ? cp4110 : none) << m;
        EXPECT_NE(rscpCGetActiveOutcode(&a), active ? none : cp4110) << m;
    }

    // ISO-2022 snapshot: equal until a shift state changes, equal again after
    // it returns; bits 28-31 of the snapshot are kept.
    rscpCObj_t s = Fresh();
    s.timestamp = 3;
    s.iso2022 = 0x00C00403;
    rscpC2022Snapshot snap{0, 0xF0000000};
    rscpCSave2022State(&s, &snap);
    EXPECT_EQ(snap.state, 0xF0C00403u);
    EXPECT_EQ(rscpCSame2022State(&s, &snap), 1);
    s.iso2022 |= 1u << 24;
    EXPECT_EQ(rscpCSame2022State(&s, &snap), 0);
    s.iso2022 &= ~(1u << 24);
    EXPECT_EQ(rscpCSame2022State(&s, &snap), 1);
    s.noof_subst = 4;
    s.iso2022 = 0x0FFFFFFF;
    rscpCClearRunState(&s);
    EXPECT_EQ(s.iso2022, 0x00FFC3FFu);
    EXPECT_EQ(rscpCGetNoOfSubst(&s), 0u);

    const uint32_t before = rscpCccRecordAddCount(nullptr, 0)->userCount;
    EXPECT_EQ(rscpCccRecordAddCount(&s, 5)->userCount, before + 5);
}

TEST(CpObject, DumpShowsWhatItsLevelAsksAndTheDiffOnlyChanges)
{
    rscpCObj_t o = Fresh();
    g_lines.clear();
    rscpCDump(&o, Collect, 0);
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[0], std::string(21, '-'));
    EXPECT_EQ(g_lines[1], "| The contents of a rscpCObj_t is privat.");
    EXPECT_EQ(g_lines[2], g_lines[0]);

    g_lines.clear();
    rscpCDump(&o, Collect, 21);
    ASSERT_EQ(g_lines.size(), 3u);
    EXPECT_EQ(g_lines[1], "|method         00   unknownMeth");

    auto count = [](const char* prefix) {
        int n = 0;
        for (const std::string& l : g_lines)
            n += l.rfind(prefix, 0) == 0;
        return n;
    };
    std::size_t sizes[5] = {};
    for (int level = 1; level <= 4; ++level) {
        g_lines.clear();
        rscpCDump(&o, Collect, level);
        sizes[level] = g_lines.size();
        EXPECT_EQ(count("|ccci_langu"), level >= 3 ? 1 : 0) << level;
        EXPECT_EQ(count("|timestamp"), level >= 2 ? 1 : 0) << level;
        EXPECT_EQ(count("|in_space            (0) 00 00 00 00"), level >= 4 ? 1 : 0) << level;
        EXPECT_EQ(count("|drop                m=like_miss"), 1) << level;
        EXPECT_GT(sizes[level], sizes[level - 1]);
    }
    rscpCSetLangu(&o, "J");
    g_lines.clear();
    rscpCDump(&o, Collect, 1);
    EXPECT_EQ(count("|ccci_langu          'J'"), 1);

    rscpCObj_t other = o;
    rscpCSetOnDrop(&other, RSCPDROP_REMOVE);
    other.method = 300;
    g_lines.clear();
    rscpCDumpDiff(&other, Collect, 2, &o);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[1], "|method              300   unknown(300)");
    EXPECT_EQ(g_lines[2], "|drop                r=remove");
    g_lines.clear();
    rscpCDumpDiff(&o, Collect, 2, &o);
    EXPECT_GT(g_lines.size(), 20u);
}

// ---- a small converter cache -------------------------------------------------

namespace {

struct CacheFixture : ::testing::Test {
    std::vector<uint8_t> block;

    static rscpCpInfo_t Row(const char* cp, uint16_t major, uint16_t minor, uint16_t bits,
                            std::initializer_list<uint8_t> space)
    {
        rscpCpInfo_t r{};
        std::memcpy(r.cp, cp, 4);
        r.major = major;
        r.minor = minor;
        r.unitBits = bits;
        r.spaceLen = static_cast<uint32_t>(space.size());
        std::copy(space.begin(), space.end(), r.space);
        return r;
    }

    void SetUp() override
    {
        const std::vector<rscpCpInfo_t> rows = {
            Row("0120", 0, 0, 8, {0x40}),
            Row("1100", 0, 0, 8, {0x20}),
            Row("1101", 0, 0, 7, {0x20}),
            Row("4000", 19, 0, 16, {0x00, 0x20}),
            Row("4102", 13, 0, 16, {0x00, 0x20}),
            Row("4103", 16, 0, 16, {0x20, 0x00}),
            Row("4104", 11, 0, 32, {0, 0, 0, 0x20}),
            Row("4110", 12, 0, 8, {0x20}),
            Row("8000", 3, 0, 8, {0x20}),
            Row("8200", 2, 1, 8, {0x20}),
            Row("9000", 0, 0, 8, {0x25}),
            Row("9001", 22, 0, 8, {}),
        };
        // The character-number map of the store, as the cache start-up lays it.
        uint32_t maxNo = 0;
        for (uint32_t i = 0; i < rscpF5Tcp01Count; ++i) {
            const uint8_t* p = rscpF5Tcp01 + 5 * i;
            maxNo = std::max<uint32_t>(maxNo, p[0] << 8 | p[1]);
        }
        const std::size_t listOff = (sizeof(rscpCcc_t) + 15) & ~std::size_t{15};
        const std::size_t mapOff = listOff + rows.size() * sizeof(rscpCpInfo_t);
        block.assign(mapOff + 3 * (maxNo + 1), 0);
        auto* c = reinterpret_cast<rscpCcc_t*>(block.data());
        c->layoutVersion = RSCP_CCC_LAYOUT;
        c->cccVersion = RSCP_CCC_COMPLETE;
        c->reorgVersion = 1;
        c->reorgDone = 1;
        c->length = static_cast<uint32_t>(block.size());
        c->cpListOffset = static_cast<uint32_t>(listOff);
        c->cpCount = static_cast<uint16_t>(rows.size());
        std::memcpy(block.data() + listOff, rows.data(), rows.size() * sizeof(rscpCpInfo_t));
        c->tcp01Offset = static_cast<uint32_t>(mapOff);
        c->tcp01MapMax = static_cast<uint16_t>(maxNo);
        for (uint32_t i = 0; i < rscpF5Tcp01Count; ++i) {
            const uint8_t* p = rscpF5Tcp01 + 5 * i;
            std::memcpy(block.data() + mapOff + 3 * (p[0] << 8 | p[1]), p + 2, 3);
        }
        rscpmp = c;
        h_ccc_state = 2;
    }
    void TearDown() override
    {
        rscpmp = nullptr;
        h_ccc_state = 0;
    }
    rscpCcc_t* Ccc() { return reinterpret_cast<rscpCcc_t*>(block.data()); }
};

}  // namespace

TEST_F(CacheFixture, CharacterNumbersRoundTripThroughTheMap)
{
    // Every row of the store's map, both ways.
    for (uint32_t i = 0; i < rscpF5Tcp01Count; ++i) {
        const uint8_t* p = rscpF5Tcp01 + 5 * i;
        const uint32_t no = p[0] << 8 | p[1], ch = static_cast<uint32_t>(p[2]) << 16 | p[3] << 8 | p[4];
        uint32_t cp = 0xFFFFFFFF;
        ASSERT_EQ(rscpCharNoToUnicodeChecked(&cp, no), 0u) << no;
        EXPECT_EQ(cp, ch);
        uint16_t back = 0;
        ASSERT_EQ(rscpUnicodeToCharNo(&back, ch), 0u) << std::hex << ch;
        EXPECT_EQ(back, no);
        if (ch != 0) {
            EXPECT_EQ(rscpUnicodeToCharNoQuiet(ch), no);
        }
    }
    uint32_t cp = 0;
    EXPECT_EQ(rscpCharNoToUnicodeChecked(&cp, 35), 0u);
    EXPECT_EQ(cp, 0x23u);
    EXPECT_EQ(rscpCharNoToUnicodeChecked(&cp, 2403), RSCPENOCONV);  // a gap: no mapping
    EXPECT_EQ(LastErrorText(), "character number ot of range");
    EXPECT_EQ(rscpCharNoToUnicodeChecked(&cp, Ccc()->tcp01MapMax + 1u), RSCPENOCONV);
    EXPECT_EQ(rscpCharNoToUnicode(70000), 0u);
    EXPECT_EQ(LastErrorText(), "character number out of range");
    uint16_t no = 0;
    EXPECT_EQ(rscpUnicodeToCharNo(&no, 0x4E00), RSCPENOCONV);
    EXPECT_EQ(rscpUnicodeToCharNoQuiet(0x4E00), 0);

    // A map maximum that claims more than the block holds is not read past
    // the block's end.
    Ccc()->tcp01MapMax = 0xFFFF;
    const uint32_t inBlock = (Ccc()->length - Ccc()->tcp01Offset) / 3;
    EXPECT_EQ(rscpCharNoToUnicodeChecked(&cp, inBlock), RSCPENOCONV);
    EXPECT_EQ(rscpCharNoToUnicode(0xFFFF), 0u);
    EXPECT_EQ(rscpUnicodeToCharNo(&no, 0x10FFFF), RSCPENOCONV);
    EXPECT_EQ(rscpUnicodeToCharNoQuiet(0x10FFFF), 0);
    Ccc()->tcp01Offset = Ccc()->length + 100;
    EXPECT_EQ(rscpCharNoToUnicodeChecked(&cp, 35), RSCPENOCONV);

    rscpCObj_t o = Fresh();
    rscpCSetSubstU4(&o, 0x4E00);
    EXPECT_EQ(o.subst_code, 0);
    EXPECT_EQ(o.subst_code_U4, 0x4E00u);
    EXPECT_EQ(o.use_c_subst, 1);
}

TEST_F(CacheFixture, SubstituteByNumberAndByCodePoint)
{
    rscpCObj_t o = Fresh();
    rscpCSetMiss(&o, RSCPMISS_STOP);
    rscpCSetSubst(&o, 'A');
    EXPECT_EQ(o.use_c_subst, 1);
    EXPECT_EQ(o.subst_code_U4, 0x41u);
    rscpCPreSetSubstU4(&o, 0xFFFD);
    uint32_t cp = 0;
    ASSERT_EQ(rscpCharNoToUnicodeChecked(&cp, o.subst_code), 0u);
    EXPECT_EQ(cp, 0xFFFDu);
}

TEST_F(CacheFixture, CodePageQueriesReadTheCachedRecords)
{
    rscpCpInfo_t info{};
    ASSERT_EQ(GetCPInfo("4103", &info), 0u);
    EXPECT_EQ(info.major, 16);
    EXPECT_EQ(GetCPInfo("9999", &info), RSCPENOCONV);
    EXPECT_EQ(LastErrorText(), "character code \"9999\" unknown");
    EXPECT_EQ(rscpcpe_code_page_exists("1100"), 0u);
    EXPECT_EQ(rscpCodePageKnown("0121"), RSCPENOCONV);
    EXPECT_EQ(rscpCodePageKnown("8200"), 0u);

    // Two alternating code pages are answered from the remembered records
    // until the cache generation changes.
    ASSERT_EQ(GetCPInfo("1100", &info), 0u);
    ASSERT_EQ(GetCPInfo("4110", &info), 0u);
    const uint32_t lookups = rscpCccRecordAddCount(nullptr, 0)->cpLookups;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetCPInfo("1100", &info), 0u);
        EXPECT_EQ(std::string(info.cp, 4), "1100");
        ASSERT_EQ(GetCPInfo("4110", &info), 0u);
        EXPECT_EQ(std::string(info.cp, 4), "4110");
    }
    EXPECT_EQ(rscpCccRecordAddCount(nullptr, 0)->cpLookups, lookups);
    ++Ccc()->reorgVersion;
    ASSERT_EQ(GetCPInfo("1100", &info), 0u);
    EXPECT_EQ(rscpCccRecordAddCount(nullptr, 0)->cpLookups, lookups + 1);

    const struct {
        const char* cp;
        int32_t kind;
        char letter;
        int32_t basic;
        uint64_t space;
    } cases[] = {
        {"0120", RSCPKIND_EBCDIC, 'E', 1, 0x1'00000040},
        {"1100", RSCPKIND_ASCII, 'A', 1, 0x1'00000020},
        {"1101", RSCPKIND_ASCII, 'A', 1, 0x1'00000020},
        {"4000", RSCPKIND_2BYTEBIG, 0, 2, 0x2'00002000},
        {"4102", RSCPKIND_2BYTEBIG, 'U', 2, 0x2'00002000},
        {"4103", RSCPKIND_2BYTELITTLE, 'U', 2, 0x2'00000020},
        {"4104", RSCPKIND_4BYTEBIG, 'U', 4, 0x4'20000000},
        {"4110", RSCPKIND_UTF8, 'U', 1, 0x1'00000020},
        {"8000", RSCPKIND_ASCII, 'A', 1, 0x1'00000020},
        {"8200", RSCPKIND_STRANGE, 'A', 1, 0x1'00000020},
        {"9000", RSCPKIND_STRANGE, 0, 1, 0x1'00000025},
        {"9001", RSCPKIND_UNKNOWN, 0, 1, 0},
        {"0999", RSCPKIND_UNKNOWN, 'E', 0, 0},  // unknown: decided by the first digit
        {"6999", RSCPKIND_UNKNOWN, 'A', 0, 0},
        {"4299", RSCPKIND_UNKNOWN, 'U', 0, 0},
        {"5000", RSCPKIND_UNKNOWN, 0, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rscpKindiOfCP(c.cp), c.kind) << c.cp;
        EXPECT_EQ(rscpCharSetLetterOfCP(reinterpret_cast<const unsigned char*>(c.cp), 4), c.letter) << c.cp;
        EXPECT_EQ(rscpLengthOfBasicChar(c.cp), c.basic) << c.cp;
        EXPECT_EQ(getSpaceOfCP(c.cp), c.space) << c.cp;
    }
    const unsigned char ebcdic[4] = {0xF0, 0xF1, 0xF2, 0xF0};
    EXPECT_EQ(rscpCharSetLetterOfCP(ebcdic, 4), 'E');
    const unsigned char u16le[8] = {'4', 0, '1', 0, '0', 0, '3', 0}, u16be[8] = {0, '1', 0, '1', 0, '0', 0, '0'};
    EXPECT_EQ(rscpCodePageToAscii(u16le, 8), '4' | '1' << 8 | '0' << 16 | '3' << 24);
    EXPECT_EQ(rscpCodePageToAscii(u16be, 8), '1' | '1' << 8 | '0' << 16 | '0' << 24);
    EXPECT_EQ(rscpCodePageToAscii(u16le, 4), '4' | 0 << 8 | '1' << 16 | 0u << 24);  // too short for UTF-16

    // Space of a converter's side: a dead pattern before activation, the
    // record's space once activated.
    rscpCObj_t o = Fresh("4103", "0120");
    EXPECT_EQ(rscpCInputSpace(&o), 0xAD0BADDEu);
    o.method = 4;
    EXPECT_EQ(rscpCInputSpace(&o), 0x2'00000020u);
    EXPECT_EQ(rscpCOutputSpace(&o), 0x1'00000040u);
    EXPECT_EQ(o.out_space_len, 1);

    // Shortcut kinds of activated converters.
    auto kind = [&](const char* in, const char* out, int32_t method, uint8_t inMax, uint8_t outMax) {
        rscpCObj_t c = Fresh(in, out);
        c.method = method;
        c.on_drop = RSCPDROP_LIKE_MISS;
        c.ctrlcodes = RSCPCTRL_TRY;
        c.ownCh = RSCPOWN_IGNORE;
        c.in_maxln = inMax;
        c.out_maxln = outMax;
        return rscpShortCutKindOfConverter(&c);
    };
    EXPECT_EQ(kind("1100", "4103", 4, 1, 2), 1);
    EXPECT_EQ(kind("8000", "4102", 4, 2, 2), 2);
    EXPECT_EQ(kind("1100", "4110", 48, 1, 1), 1);
    EXPECT_EQ(kind("4102", "4102", 0, 0, 0), 6);
    EXPECT_EQ(kind("4103", "4102", 0, 0, 0), 5);
    EXPECT_EQ(kind("4103", "0120", 35, 2, 1), 3);
    EXPECT_EQ(kind("4102", "1100", 33, 2, 2), 4);
    EXPECT_EQ(kind("1100", "4110", 4, 1, 1), 0);
    EXPECT_EQ(kind("4110", "1100", 4, 1, 1), 0);

    rscpDefCountry_t country{};
    Ccc()->defCountry = 0x4445;
    Ccc()->defCountryFlag = 1;
    ASSERT_EQ(rscpldc_lookup_default_country(&country, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(country.country, 0x4445);
    EXPECT_EQ(country.flag, 1);
    EXPECT_EQ(rscpldc_lookup_default_country(nullptr, RSCP_ALL_ERRORS), RSCPENOCONV);

    // A code page list that claims more records than the block holds.
    Ccc()->cpCount = 0xFFFF;
    EXPECT_EQ(rscpCodePageKnown("9100"), RSCPENOCONV);
    h_ccc_state = 3;
    EXPECT_EQ(GetCPInfo("1100", &info), RSCPENOCONV);
    EXPECT_EQ(LastErrorText(), "CCC not proper initialized");
}

// ---- language-dependent code pages ------------------------------------------

namespace {

int32_t HostAnswers8300(char* cp4, const char*)
{
    std::memcpy(cp4, "8300", 4);
    return 0;
}

std::string Resolve(bool input, const char* cp, char langu, uint8_t* amb = nullptr, char* third = nullptr)
{
    char out[4];
    if (input)
        rscpResolveInCodePage(out, cp, langu, amb, third);
    else
        rscpResolveOutCodePage(out, cp, langu, amb, third);
    return std::string(out, 4);
}

}  // namespace

TEST(CpLangu, FamiliesResolveByLanguageAndHost)
{
    EXPECT_EQ(Resolve(true, "6100", 'C'), "6120");
    EXPECT_EQ(Resolve(false, "6100", 'C'), "6102");
    EXPECT_EQ(Resolve(true, "6100", 'T'), "6190");
    EXPECT_EQ(Resolve(false, "6100", 'T'), "6103");
    EXPECT_EQ(Resolve(true, "6500", 'J'), "6101");
    EXPECT_EQ(Resolve(false, "6500", 'J'), "6502");
    EXPECT_EQ(Resolve(true, "6100", 'Z'), "6100");
    EXPECT_EQ(Resolve(false, "6100", 'M'), "6100");
    for (char l : {'E', 'J', 'T', '1', ' '}) {
        EXPECT_EQ(Resolve(true, "1100", l), "1100");
        EXPECT_EQ(Resolve(false, "6300", l), "6300");
    }

    uint8_t amb = 7;
    char third[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(Resolve(true, "6100", 'E', &amb, third), "6110");  // default host: no answer
    EXPECT_EQ(amb, 1);
    EXPECT_EQ(std::string(third, 4), "xxxx");
    amb = 7;
    EXPECT_EQ(Resolve(true, "6100", 'G', &amb, third), "6170");
    EXPECT_EQ(amb, 0);
    EXPECT_EQ(Resolve(true, "6200", 'E', &amb, third), "6101");

    auto saved = rscph_HookTable.EnvCodePage;
    rscph_HookTable.EnvCodePage = HostAnswers8300;
    EXPECT_EQ(Resolve(true, "6200", 'E', &amb, third), "6230");
    EXPECT_EQ(amb, 1);
    EXPECT_EQ(std::string(third, 4), "8300");
    EXPECT_EQ(Resolve(false, "6200", 'i', nullptr, nullptr), "6230");
    EXPECT_EQ(Resolve(true, "6500", 'D', &amb, third), "6510");
    rscph_HookTable.EnvCodePage = saved;

    EXPECT_EQ(rscpRefineAsianUniKind(39, 'J'), 3u);
    EXPECT_EQ(rscpRefineAsianUniKind(39, '3'), 36u);
    EXPECT_EQ(rscpRefineAsianUniKind(39, 'E'), 39u);
    EXPECT_EQ(rscpRefineAsianUniKind(12, 'J'), 12u);

    const uint8_t s0020[4] = {0x00, 0x20}, s2000[4] = {0x20, 0x00}, s40[4] = {0x40}, s4[4] = {0, 0, 0, 0x20};
    EXPECT_EQ(rscpSpaceClass(s0020, 2), 7);
    EXPECT_EQ(rscpSpaceClass(s2000, 2), 6);
    EXPECT_EQ(rscpSpaceClass(s40, 1), 4);
    EXPECT_EQ(rscpSpaceClass(s4, 4), 9);
    EXPECT_EQ(rscpSpaceClass(s4, 3), 0);
    rscpCpInfo_t r{};
    r.spaceLen = 2;
    r.space[1] = 0x20;
    r.major = 19;
    EXPECT_EQ(rscpCodePageFamily(&r), 1);
    r.spaceLen = 1;
    r.space[0] = 0x20;
    r.major = 12;
    EXPECT_EQ(rscpCodePageFamily(&r), 5);
    r.major = 3;
    EXPECT_EQ(rscpCodePageFamily(&r), 2);
    r.major = 0;
    EXPECT_EQ(rscpCodePageFamily(&r), 3);
}

// ---- segment index mapping ----------------------------------------------------

namespace {

rscpSegDesc_t FourByteSegment()
{
    rscpSegDesc_t s{};
    s.lowIndex = 0x10000;
    s.highIndex = 0x10FFFF;
    s.byteCount = 4;
    s.baseIndex = 0x10000;
    s.pos[0] = {0x90, 0xE3, 12600};
    s.pos[1] = {0x30, 0x39, 1260};
    s.pos[2] = {0x81, 0xFE, 10};
    s.pos[3] = {0x30, 0x39, 1};
    return s;
}

}  // namespace

TEST(CpSegIndex, BothDirectionsAreInverseOverTheWholeSegment)
{
    const rscpSegDesc_t s = FourByteSegment();
    uint8_t b[4];
    int32_t len = 0;
    for (uint32_t ix = s.baseIndex; ix <= s.highIndex; ++ix) {
        ASSERT_EQ(rscpSegIndexToBytes(&s, ix, b, &len, 4), 0) << std::hex << ix;
        ASSERT_EQ(len, 4);
        uint32_t back = 0;
        ASSERT_EQ(rscpSegBytesToIndex(&s, &back, b, 4), 0) << std::hex << ix;
        ASSERT_EQ(back, ix);
    }
    ASSERT_EQ(rscpSegIndexToBytes(&s, 0x10000, b, &len, 4), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 4), "\x90\x30\x81\x30");
    const uint8_t low[4] = {0x90, 0x30, 0x81, 0x2F};
    uint32_t ix = 0;
    EXPECT_EQ(rscpSegBytesToIndex(&s, &ix, low, 4), 1);
    EXPECT_EQ(rscpSegBytesToIndex(&s, &ix, b, 3), 1);
    uint8_t untouched[4] = {1, 2, 3, 4};
    EXPECT_EQ(rscpSegIndexToBytes(&s, 0xFFFF, untouched, &len, 4), 2);
    EXPECT_EQ(rscpSegIndexToBytes(&s, 0x110000, untouched, &len, 4), 3);
    EXPECT_EQ(rscpSegIndexToBytes(&s, 0x10000, untouched, &len, 3), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(untouched), 4), "\x01\x02\x03\x04");

    // Descriptors from a table are not trusted: a zero weight is refused
    // rather than divided by, an index beyond the byte ranges gives no bytes
    // outside them, and weights whose sum passes 32 bits are not wrapped.
    rscpSegDesc_t bad = s;
    bad.pos[1].weight = 0;
    EXPECT_EQ(rscpSegIndexToBytes(&bad, 0x10005, untouched, &len, 4), 4);
    bad = s;
    bad.highIndex = 0xFFFFFFFF;
    EXPECT_EQ(rscpSegIndexToBytes(&bad, 0x10000 + 84 * 12600, untouched, &len, 4), 3);
    EXPECT_EQ(rscpSegIndexToBytes(&bad, 0x10000 + 84 * 12600 - 1, b, &len, 4), 0);
    EXPECT_EQ(b[0], 0xE3);
    bad.pos[0].weight = 0x7FFFFFFF;
    const uint8_t high[4] = {0xE3, 0x39, 0xFE, 0x39};
    EXPECT_EQ(rscpSegBytesToIndex(&bad, &ix, high, 4), 4);
    bad.byteCount = 0;
    EXPECT_EQ(rscpSegBytesToIndex(&bad, &ix, high, 4), 5);
    EXPECT_EQ(rscpSegIndexToBytes(&bad, 0x10000, b, &len, 4), 4);

    EXPECT_STREQ(rscpBlockRangeText(0), "[000000..00007f]");
    EXPECT_STREQ(rscpBlockRangeText(0x21), "[001080..0010ff]");
    EXPECT_STREQ(rscpBlockRangeText(0xFFFFFFFF), "[7fffffff80..7fffffffff]");
}
