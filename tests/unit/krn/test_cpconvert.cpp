// Activation and single characters over a started converter cache whose
// tables a small loader of this test enters by hand (1100 ISO-8859-1, 4110
// UTF-8 by rules, 8200 with one designated double-byte set).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cptab.h"
#include "tests/unit/krn/cpcache_fixture.h"

using cpcache_test::CacheTest;

namespace {

using Bytes = std::vector<uint8_t>;
int g_loads = 0;

bool Graphic(uint32_t c) { return (c >= 0x20 && c < 0x7F) || c >= 0xA0; }

uint32_t NewStep()
{
    rscpCcc_t* c = rscpmp;
    const uint32_t off = c->endT1;
    c->endT1 += RSCP_T1_BYTES;
    EXPECT_LE(c->endT1, c->firstT2);
    return off;
}
uint32_t NewT1() { return NewStep() / RSCP_T1_BYTES; }
uint32_t NewT3() { return NewStep() / RSCP_T3_BYTES; }
uint32_t NewT2()
{
    rscpCcc_t* c = rscpmp;
    c->firstT2 -= (rscpT2Entries(c) * 4 + 7) & ~7u;
    return c->firstT2;
}
void Put32(uint64_t off, uint32_t w) { std::memcpy(reinterpret_cast<uint8_t*>(rscpmp) + off, &w, 4); }
void SetT1(uint32_t block, uint32_t i, uint32_t w) { Put32(uint64_t(block) * RSCP_T1_BYTES + 4 * i, w); }
void SetT3(uint32_t block, uint32_t i, uint32_t w) { Put32(uint64_t(block) * RSCP_T3_BYTES + 4 * i, w); }
void SetT2(uint32_t piece, uint32_t i, uint16_t e) { std::memcpy(reinterpret_cast<uint8_t*>(rscpmp) + piece + 2 * i, &e, 2); }
uint32_t CharWord(uint32_t c) { return 1u << 29 | c; }
uint32_t RuleWord(uint32_t rule, uint32_t len) { return 3u << 29 | len << 24 | rule; }
uint32_t Code1(uint32_t b) { return 1u << 24 | b << 16; }
uint32_t Code2(uint32_t a, uint32_t b) { return 2u << 24 | a << 16 | b << 8; }

}  // namespace

// The loader of the table layer, reduced to the three code pages above.
uint32_t rscplcc__load_control_codes(uint32_t kind, rscpCpInfo_t* row)
{
    ++g_loads;
    const bool output = kind > 10;
    const uint32_t k = output ? kind - 16 : kind;
    const int v = int(((k & 12) - 4) / 2) | int((k & 3) - 1);
    const bool ctrl = (v & 1) != 0;
    const std::string cp(row->cp, 4);
    if (cp == "1100" || cp == "8200") {
        const bool latin = cp == "1100";
        const uint32_t top = latin ? 256 : 128;
        if (!output) {
            const uint32_t t1 = NewT1();
            for (uint32_t b = 0; b < top; ++b)
                if (ctrl || Graphic(b))
                    SetT1(t1, b, CharWord(b));
            row->in[v].root = uint16_t(t1);
            row->in[v].maxLen = 1;
        } else {
            const uint32_t t2 = NewT2();
            for (uint32_t page = 0; page < top / 128; ++page) {
                const uint32_t t3 = NewT3();
                SetT2(t2, page, uint16_t(0x8000 | t3));
                for (uint32_t i = 0; i < 128; ++i)
                    if (ctrl || Graphic(page * 128 + i))
                        SetT3(t3, i, Code1(page * 128 + i));
            }
            if (!latin) {
                // Two hiragana of the set designated by ESC $ B.
                const uint32_t t3 = NewT3();
                SetT2(t2, 0x3042 >> 7, uint16_t(0x8000 | t3));
                SetT3(t3, 0x3042 & 0x7F, 0x80000000u | 0x2422u << 8 | 58);
                SetT3(t3, 0x3044 & 0x7F, 0x80000000u | 0x2424u << 8 | 58);
                rscpmp->soSiCount = 1;
                rscpmp->soSi[0] = {3, 3, {0x1B, '$', 'B'}, {0x1B, '(', 'B'}};
            }
            row->out[v].t2 = t2;
            row->out[v].maxLen = latin ? 1 : 127;
        }
        if (!latin)
            row->iso2022 = 1;
        return 0;
    }
    if (cp == "4110") {
        if (!output) {
            const uint32_t t1 = NewT1();
            for (uint32_t b = 0; b < 0x80; ++b)
                if (ctrl || Graphic(b))
                    SetT1(t1, b, CharWord(b));
            for (uint32_t b = 0xC2; b <= 0xF4; ++b)
                SetT1(t1, b, b < 0xE0 ? RuleWord(50, 2) : b < 0xF0 ? RuleWord(51, 3) : RuleWord(52, 4));
            row->in[v].root = uint16_t(t1);
            row->in[v].maxLen = 127;
        } else {
            const uint32_t t2 = NewT2();
            const uint32_t low = NewT3(), high = NewT3();
            SetT2(t2, 0, uint16_t(0x8000 | low));
            SetT2(t2, 1, uint16_t(0x8000 | high));
            for (uint32_t i = 0; i < 128; ++i) {
                SetT3(low, i, Graphic(i) ? 0x80000000u | 12 : ctrl ? Code1(i) : 0);
                const uint32_t c = 128 + i;
                SetT3(high, i, Graphic(c) ? 0x80000000u | 50 : ctrl ? Code2(0xC2, c) : 0);
            }
            for (uint32_t page = 2; page < 0x110000 / 128; ++page)
                SetT2(t2, page, uint16_t(0x4000 | (page < 16 ? 50 : page < 512 ? 51 : 52)));
            row->out[v].t2 = t2;
            row->out[v].maxLen = 127;
        }
        return 0;
    }
    return RSCPENOOBJ;
}

namespace {

struct Conv : CacheTest {
    void SetUp() override
    {
        CacheTest::SetUp();
        ASSERT_EQ(rscpi_init(RSCP_ALL_ERRORS), 0u);
        rscph_SetWaitBeforeClearingFunc([](uint32_t) { return 0u; });
        rscpActivationCacheReset();
        g_loads = 0;
    }
    void TearDown() override
    {
        rscpActivationCacheReset();
        rscph_SetWaitBeforeClearingFunc(nullptr);
        CacheTest::TearDown();
    }
    static rscpCObj_t Make(const char* in, const char* out, int32_t miss = 1)
    {
        rscpCObj_t o;
        rscpCInit(&o, in, out, miss, 1, 0);
        rscpCSetCtrlCodes(&o, 1);
        return o;
    }
    // Activation-cache hits of this process, also those folded into the cache.
    static uint32_t Hits() { return rscpmp->stat32[1] + rscph_HookTable.ctl->activateHits; }
    std::string LastId() const
    {
        char text[200];
        rscpe_get_last_text(rscpe_get_error_record(), text, sizeof text);
        return text;
    }
    // Encodes with room for cap bytes; the result's bytes, or the code.
    static std::pair<uint32_t, Bytes> Encode(rscpCObj_t& o, uint32_t cp, size_t cap = 16)
    {
        std::vector<uint8_t> buf(cap + 1, 0xEE);
        uint8_t* p = buf.data();
        const uint32_t rc = rscpCEncodeU4(&o, &p, buf.data() + cap, cp);
        EXPECT_EQ(buf[cap], 0xEE);
        return {rc, Bytes(buf.data(), p)};
    }
};

TEST_F(Conv, ActivationLoadsMissingTablesOnceAndServesRepeatsFromItsCache)
{
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u) << LastId();
    EXPECT_EQ(o.method, 4);  // UTF-8 towards a plain code page: through the tables
    EXPECT_TRUE(o.in_set && o.out_set);
    EXPECT_EQ(o.in_major, uint32_t(RSCPK_UTF8));
    EXPECT_EQ(o.in_no, rscpFindCodePage("4110")->in[3].root);
    EXPECT_EQ(o.out_no, rscpFindCodePage("1100")->out[3].t2);
    EXPECT_EQ(o.timestamp, rscpmp->reorgVersion);
    EXPECT_EQ(g_loads, 2);

    const uint32_t hits = Hits();
    rscpCObj_t again = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&again), 0u);
    EXPECT_EQ(Hits(), hits + 1);
    EXPECT_EQ(std::memcmp(&again, &o, sizeof o), 0);
    // Another variant loads its own tables; the same page to itself copies.
    rscpCObj_t strict = Make("4110", "1100");
    rscpCSetCtrlCodes(&strict, 0);
    ASSERT_EQ(rscpCActivate(&strict), 0u);
    EXPECT_EQ(g_loads, 4);
    rscpCObj_t same = Make("1100", "1100");
    ASSERT_EQ(rscpCActivate(&same), 0u);
    EXPECT_EQ(same.method, RSCPMETH_DIRECT);
    EXPECT_EQ(g_loads, 4);

    // A new generation: nothing from the activation cache, tables loaded anew.
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    ASSERT_EQ(rscpCReactivateIfNeeded(&o), 0u);
    EXPECT_EQ(o.timestamp, rscpmp->reorgVersion);
    EXPECT_EQ(g_loads, 6);
    EXPECT_EQ(Hits(), hits + 1);

    rscpCObj_t unknown = Make("4110", "9999");
    EXPECT_EQ(rscpCActivate(&unknown), RSCPENOCONV);
    EXPECT_EQ(LastId(), "out character code \"9999\" unknown");
    EXPECT_EQ(lookup_convert_tables(nullptr, 1, 1, 1, RSCP_ALL_ERRORS), RSCPEINVAL);
    EXPECT_EQ(lookup_convert_tables(&o, 1, 0, 0, RSCP_ALL_ERRORS), RSCPEINVAL);
    EXPECT_EQ(LastId(), "use rscpcpe_code_page_exists");
    const std::string err = cpcache_test::Stderr([&] { lookup_convert_tables(&o, 1, 1, 1, 0xFFFFu); });
    EXPECT_EQ(err, "rscpc(16173): p_errmask = ffff / h_errmask = ffffffff ?\n");
}

TEST_F(Conv, EncodingThroughTablesAndRulesWithMissingAndDroppedCharacters)
{
    rscpCObj_t u8 = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&u8), 0u);
    EXPECT_EQ(Encode(u8, 'A').second, Bytes{'A'});
    EXPECT_EQ(Encode(u8, 0xE9).second, (Bytes{0xC3, 0xA9}));
    EXPECT_EQ(Encode(u8, 0x20AC).second, (Bytes{0xE2, 0x82, 0xAC}));
    EXPECT_EQ(Encode(u8, 0x1F600).second, (Bytes{0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(Encode(u8, 0x85).second, (Bytes{0xC2, 0x85}));
    // A surrogate has no UTF-8 form, however the page's rule reads.
    EXPECT_EQ(Encode(u8, 0xD800).first, RSCPENOCONV);
    EXPECT_EQ(LastId(), "character not possible");
    auto full = Encode(u8, 0x20AC, 2);
    EXPECT_EQ(full.first, RSCPETOOLONG);
    EXPECT_TRUE(full.second.empty());
    EXPECT_EQ(LastId(), "char code longer than output buffer");
    EXPECT_EQ(Encode(u8, rscpmp->maxKovChar + 1).first, RSCPENOCONV);
    EXPECT_EQ(LastId(), "character number out of range");
    auto calls = [] { return rscpmp->statEncodeCalls + rscph_HookTable.ctl->encodeCalls; };
    const uint32_t before = calls();
    uint8_t buf[8];
    int32_t len = 0;
    EXPECT_EQ(rscpCEncodeCharNoLen(buf, &len, sizeof buf, 35, &u8), 0u);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(calls(), before + 1);

    // A table number from a damaged object is never read past the cache.
    rscpCObj_t bad = u8;
    bad.out_no = rscpmp->length - 1;
    EXPECT_EQ(Encode(bad, 'A').first, RSCPENOCONV);

    // Missing characters: substitute, copy, or not handled.
    rscpCObj_t lat = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&lat), 0u);
    EXPECT_EQ(Encode(lat, 0x20AC).first, RSCPENOCONV);
    const uint8_t euro[] = {0xE2, 0x82, 0xAC};
    uint8_t out[8];
    uint8_t* p = out;
    int32_t st = -1;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st), 0u);
    EXPECT_EQ(st, RSCP_ST_DONE);
    EXPECT_EQ(p - out, 1);
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(lat.noof_subst, 1u);
    p = out;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out, euro, euro + 3, &st), RSCPETOOLONG);
    EXPECT_EQ(st, RSCP_ST_NO_ROOM);
    EXPECT_EQ(p, out);
    rscpCSetMiss(&lat, RSCPMISS_COPY);
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st), 0u);
    EXPECT_EQ(Bytes(out, p), Bytes(euro, euro + 3));
    EXPECT_EQ(lat.noof_subst, 2u);
    p = out;
    EXPECT_EQ(rscpCOnMissing(&lat, &p, out + 2, euro, euro + 3, &st), 0u);
    EXPECT_EQ(st, RSCP_ST_NO_ROOM);
    rscpCSetMiss(&lat, RSCPMISS_STOP);
    rscpCOnMissing(&lat, &p, out + 8, euro, euro + 3, &st);
    EXPECT_EQ(st, RSCP_ST_NOT_HANDLED);

    // Dropped characters.
    for (auto [drop, status, bytes, count] : {std::tuple{RSCPDROP_REMOVE, RSCP_ST_DONE, 0, 0u},
                                             std::tuple{RSCPDROP_SPACE, RSCP_ST_DONE, 1, 1u},
                                             std::tuple{RSCPDROP_LIKE_MISS, RSCP_ST_DONE, 1, 1u},
                                             std::tuple{RSCPDROP_STOP, RSCP_ST_STOP, 0, 0u}}) {
        rscpCResetNoOfSubst(&lat);
        rscpCSetOnDrop(&lat, drop);
        p = out;
        rscpCOnDrop(&lat, &p, out + 8, &st);
        EXPECT_EQ(st, status) << drop;
        EXPECT_EQ(p - out, bytes) << drop;
        EXPECT_EQ(lat.noof_subst, count) << drop;
    }
    EXPECT_EQ(out[0], '#');
}

TEST_F(Conv, DecodingAndInputRulesTakeOnlyWellFormedCharacters)
{
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    uint32_t no = 0;
    const uint8_t e[] = {0xC3, 0xA9, 'x'};
    ASSERT_EQ(rscpCDecodeChar(e, 3, &o, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), 0xE9u);
    ASSERT_EQ(rscpCDecodeChar(e + 2, 1, &o, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), uint32_t('x'));
    EXPECT_EQ(rscpCDecodeChar(e, 1, &o, &no, RSCP_ALL_ERRORS), RSCPEUNIQ);
    EXPECT_EQ(LastId(), "input character broken");
    const uint8_t slash[] = {0xC0, 0xAF};
    EXPECT_EQ(rscpCDecodeChar(slash, 2, &o, &no, RSCP_ALL_ERRORS), RSCPENOCONV);
    EXPECT_EQ(LastId(), "character unknown");

    // One character through its input rule and the output tables.
    uint32_t entry = 0;
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xC3, &entry));
    auto run = [&](Bytes in, size_t cap, int32_t* status) {
        const uint8_t* s = in.data();
        std::vector<uint8_t> out(cap + 1);
        uint8_t* d = out.data();
        uint32_t rc = 0;
        *status = rscpCConvertByRules(&o, &s, in.data() + in.size(), out.data(), &d, out.data() + cap, entry, &rc);
        return std::pair{size_t(s - in.data()), Bytes(out.data(), d)};
    };
    int32_t st = -1;
    EXPECT_EQ(run({0xC3, 0xA9}, 4, &st), (std::pair{size_t(2), Bytes{0xE9}}));
    EXPECT_EQ(st, 0);
    EXPECT_EQ(run({0xC3}, 4, &st).first, 0u);
    EXPECT_EQ(st, 2);
    EXPECT_EQ(run({0xC3, 0xA9}, 0, &st).first, 0u);
    EXPECT_EQ(st, 1);
    EXPECT_EQ(run({0xC3, 0x2F}, 4, &st).first, 0u);  // not a continuation byte
    EXPECT_EQ(st, 4);
    ASSERT_TRUE(rscpT1Word(rscpmp, o.in_no, 0xC2, &entry));
    EXPECT_EQ(run({0xC2, 0x80}, 4, &st), (std::pair{size_t(2), Bytes{0x80}}));  // controls are tried
    EXPECT_EQ(st, 0);
    rscpCObj_t latin = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&latin), 0u);
    const uint8_t ae = 0xE4;
    ASSERT_EQ(rscpCDecodeChar(&ae, 1, &latin, &no, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCharNoToUnicode(no), 0xE4u);
}

TEST_F(Conv, DesignatedCharactersShareTheirDesignationAndKeepTheShiftState)
{
    rscpCObj_t o = Make("4110", "8200");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    uint8_t buf[32];
    uint8_t* p = buf;
    for (uint32_t cp : {0x3042u, 0x3044u})
        ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, cp), 0u);
    EXPECT_EQ(Bytes(buf, p), (Bytes{0x1B, '$', 'B', 0x24, 0x22, 0x24, 0x24, 0x1B, '(', 'B'}));
    EXPECT_EQ(o.iso2022 >> 24 & 0xF, 1u);
    ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, 'a'), 0u);
    ASSERT_EQ(rscpCEncodeOneAt(&o, buf, &p, buf + sizeof buf, 0x3042), 0u);
    EXPECT_EQ(Bytes(buf + 10, p), (Bytes{'a', 0x1B, '$', 'B', 0x24, 0x22, 0x1B, '(', 'B'}));
    // Without room nothing is written, not even over the return sequence.
    uint8_t* before = p;
    EXPECT_EQ(rscpCEncodeOneAt(&o, buf, &p, p + 1, 0x3044), RSCPETOOLONG);
    EXPECT_EQ(p, before);
    EXPECT_EQ(Bytes(buf + 16, p), (Bytes{0x1B, '(', 'B'}));
    // The output written so far is never looked at before its start.
    uint8_t other[8];
    uint8_t* q = other;
    ASSERT_EQ(rscpCEncodeOneAt(&o, other, &q, other + 8, 0x3044), 0u);
    EXPECT_EQ(q - other, 8);

    // A re-activation served from the activation cache keeps the shift state
    // and the substitution count; one that must reload in a shifted state is
    // refused instead of losing it.
    o.iso2022 |= 3u << 10;
    o.noof_subst = 4;
    rscpCObj_t copy = o;
    ASSERT_EQ(rscpCActivateSides(&o, 0, 1, 1, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(o.iso2022 >> 10 & 0xF, 3u);
    EXPECT_EQ(o.iso2022 >> 24 & 0xF, 1u);
    EXPECT_EQ(o.noof_subst, 4u);
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    EXPECT_EQ(rscpCReactivateIfNeeded(&copy), RSCPENOCONV);
    EXPECT_EQ(LastId(), "Cannot re-org during shifted ISO-2022 input state");
    EXPECT_EQ(copy.iso2022 >> 10 & 0xF, 3u);
    // The ISO-2022 input side rules out the copying methods.
    rscpCObj_t fromJis = Make("8200", "1100");
    EXPECT_EQ(rscpCActivate(&fromJis), RSCPENOCONV);
    EXPECT_EQ(LastId().rfind("'8200'->'1100': NLS_JIS->NLS_not cannot combine", 0), 0u) << LastId();
}

std::vector<std::string> g_lines;
void Collect(const char* text, int32_t length) { g_lines.emplace_back(text, size_t(length)); }

TEST_F(Conv, TableInspectionPrintsEntriesTheDumpAndTheActivationCache)
{
    rscpCObj_t o = Make("4110", "1100");
    ASSERT_EQ(rscpCActivate(&o), 0u);
    auto look = [](int32_t what, std::vector<uint8_t> key) {
        g_lines.clear();
        const uint32_t rc = rscpls__look_single(what, key.data(), Collect, RSCP_ALL_ERRORS);
        return rc;
    };
    auto key32 = [](uint32_t v, std::vector<uint8_t> rest) {
        uint8_t b[4];
        std::memcpy(b, &v, 4);
        std::vector<uint8_t> k(b, b + 4);
        for (uint8_t r : rest)
            k.push_back(r);
        return k;
    };
    ASSERT_EQ(look(1, key32(o.in_no, {0xC3})), 0u);
    EXPECT_EQ(g_lines.at(0).rfind("T1[" + std::to_string(o.in_no) + "][c3]= rule", 0), 0u) << g_lines[0];
    ASSERT_EQ(look(4, key32(o.in_no, {1, 1})), 0u);
    EXPECT_NE(g_lines.at(0).find("[tr]= empty"), std::string::npos) << g_lines[0];
    rscpCObj_t back = Make("1100", "4110");
    ASSERT_EQ(rscpCActivate(&back), 0u);
    ASSERT_EQ(look(2, key32(back.out_no, {0x00, 0x08, 0x00})), 0u);
    EXPECT_NE(g_lines.at(0).find("= out_rule_U8_3   ( 51)"), std::string::npos) << g_lines[0];
    ASSERT_EQ(look(3, {}), 0u);
    EXPECT_EQ(g_lines, (std::vector<std::string>{"max.KOV char.no=" + std::to_string(rscpmp->maxKovCode),
                                                 "max.  U char.no=" + std::to_string(rscpmp->maxKovChar)}));
    uint16_t e = 0;
    ASSERT_TRUE(rscpT2Entry(rscpmp, o.out_no, 0, &e));
    ASSERT_EQ(look(5, key32(e & 0x7FFF, {0, 0, 0x41})), 0u);
    EXPECT_EQ(g_lines.at(0), "T3[" + std::to_string(e & 0x7FFF) + "][x+ 65]=           41");
    std::vector<uint8_t> range = key32(o.out_no, {});
    for (uint32_t v : {0u, 5u})
        for (uint8_t b : key32(v, {}))
            range.push_back(b);
    ASSERT_EQ(look(6, range), 0u);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_NE(g_lines[2].find("= *sorry' "), std::string::npos) << g_lines[2];
    EXPECT_NE(g_lines[3].find("][ ...  "), std::string::npos) << g_lines[3];
    ASSERT_EQ(look(8, {}), 0u);
    ASSERT_GT(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0].size(), 72u);
    EXPECT_NE(std::find(g_lines.begin(), g_lines.end(), "..."), g_lines.end());
    ASSERT_EQ(look(9, {}), 0u);
    EXPECT_EQ(g_lines.at(0), "| rscpCActivate's cache:");
    EXPECT_EQ(g_lines.at(1).rfind("|  1 cnt=         1 key=", 0), 0u) << g_lines[1];
    rscpActivationCacheReset();
    ASSERT_EQ(look(9, {}), 0u);
    EXPECT_EQ(g_lines.at(0), "| rscpCActivate's cache is empty.");
    EXPECT_EQ(look(10, {}), RSCPEINTERN);
    EXPECT_EQ(LastId(), "illegal parameter");
}

TEST_F(Conv, IconFormsOfOwnCharacters)
{
    const uint32_t cp = rscpKey2ToNumber('A', 'z');
    const std::pair<int32_t, Bytes> forms[] = {
        {53, {0xF8, 0xFD, 0x00, 'A', 0x00, 'z'}},
        {54, {0xFD, 0xF8, 'A', 0x00, 'z', 0x00}},
        {55, {0xEF, 0xA3, 0xBD, 'A', 'z'}},
        {56, {0, 0, 0xF8, 0xFD, 0, 0, 0, 'A', 0, 0, 0, 'z'}},
        {57, {0xFD, 0xF8, 0, 0, 'A', 0, 0, 0, 'z', 0, 0, 0}},
    };
    for (const auto& [rule, bytes] : forms) {
        uint8_t out[12];
        uint8_t* p = out;
        int32_t st = -1;
        rscpCWriteIcon(cp, rule, &p, out + bytes.size(), &st);
        EXPECT_EQ(st, 0);
        EXPECT_EQ(Bytes(out, p), bytes) << rule;
        p = out;
        rscpCWriteIcon(cp, rule, &p, out + bytes.size() - 1, &st);
        EXPECT_EQ(st, 1);
        EXPECT_EQ(p, out);
    }
}

}  // namespace
