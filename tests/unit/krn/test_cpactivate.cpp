// Activation: the method of every pair of kinds, and the activation cache.
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <tuple>

#include "krn/rscp/cpactivate.h"

namespace {

rscpPairMethod Method(uint32_t s, uint32_t t, bool as = false, bool at = false, uint16_t inMinor = 0,
                      uint16_t outMinor = 0, bool filter = false, bool ascii7 = false, int32_t ctrl = 0)
{
    rscpPairKinds p{s, t, inMinor, outMinor, uint8_t(as), uint8_t(at), uint8_t(filter), uint8_t(ascii7), ctrl};
    rscpPairMethod m{-1, -1};
    EXPECT_TRUE(rscpMethodOfPair(p, &m)) << s << "->" << t;
    return m;
}

bool Supported(uint32_t s, uint32_t t)
{
    rscpPairKinds p{s, t, 0, 0, 0, 0, 0, 0, 0};
    rscpPairMethod m;
    return rscpMethodOfPair(p, &m);
}

TEST(CpMethod, EveryNamedPairHasAMethodAndEveryOtherIsRefused)
{
    const uint32_t named[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 11, 12, 13,
                              14, 15, 16, 19, 20, 21, 25, 29, 30, 34, 35, 36, 39};
    int supported = 0;
    for (uint32_t s = 0; s < 64; ++s)
        for (uint32_t t = 0; t < 64; ++t)
            supported += Supported(s, t);
    EXPECT_EQ(supported, 674);
    for (uint32_t s : named)
        for (uint32_t t : named)
            if (!(s == RSCPK_UTF8 && (t == RSCPK_GOF_A || t == RSCPK_GOF_E)))
                for (bool as : {false, true})
                    for (bool at : {false, true}) {
                        const rscpPairMethod m = Method(s, t, as, at);
                        EXPECT_TRUE(m.method >= 0 && m.method <= RSCPMETH_LAST) << s << "->" << t;
                        // Only "l_tab" asks for a side to be resolved, and only an ambiguous one.
                        if (m.resolve != RSCP_RESOLVE_NONE) {
                            EXPECT_EQ(m.method, 5);
                            EXPECT_TRUE(m.resolve == RSCP_RESOLVE_SOURCE ? as : at) << s << "->" << t;
                        }
                    }
    EXPECT_FALSE(Supported(RSCPK_UTF8, RSCPK_GOF_A));
    EXPECT_FALSE(Supported(40, 0));
    EXPECT_FALSE(Supported(39, 40));
    EXPECT_FALSE(Supported(9, 0));
}

TEST(CpMethod, CellsOfTheMatrix)
{
    struct Cell {
        uint32_t s, t;
        bool as, at;
        int32_t method, resolve;
    };
    const bool le = std::endian::native == std::endian::little;
    const Cell cells[] = {
        {RSCPK_NOT, RSCPK_NOT, false, false, 4, 0},
        {RSCPK_NOT, RSCPK_UTF8, true, false, 5, RSCP_RESOLVE_SOURCE},
        {RSCPK_UTF8, RSCPK_NOT, false, false, 4, 0},
        {RSCPK_UTF8, RSCPK_NOT, false, true, 5, RSCP_RESOLVE_TARGET},
        {RSCPK_SJIS, RSCPK_EUC, true, false, 7, 0},
        {RSCPK_SJIS, RSCPK_GBK, true, false, 5, 0},
        {RSCPK_UCS2H, RSCPK_COREA, false, true, 5, RSCP_RESOLVE_TARGET},
        {RSCPK_18030, RSCPK_SJIS, true, true, 5, RSCP_RESOLVE_TARGET},
        {RSCPK_UTF8, RSCPK_HK_U31, false, false, 4, 0},
        {RSCPK_EUC, RSCPK_NOT, false, false, 10, 0},
        {RSCPK_GOF_E, RSCPK_KOV16, false, false, 11, 0},
        {RSCPK_JIS, RSCPK_UCS4L, false, false, 5, 0},
        {RSCPK_JIS, RSCPK_UTF8, false, false, 5, 0},
        {RSCPK_EUC, RSCPK_UTF8, false, false, 4, 0},
        {RSCPK_GOF_A, RSCPK_UTF8, false, false, 0, 0},
        {RSCPK_JIS, RSCPK_SJIS_L1, true, false, 6, 0},
        {RSCPK_JIS, RSCPK_TRADICH, true, false, 5, 0},
        {RSCPK_KOV16, RSCPK_UTF8, true, false, 28, 0},
        {RSCPK_KOV16, RSCPK_KOV16, false, false, 2, 0},
        {RSCPK_ASIANUNI, RSCPK_JIS, false, false, 7, 0},
        {RSCPK_UCS4L, RSCPK_GOF_A, false, true, 4, 0},
        {RSCPK_UTF8, RSCPK_KOV16, false, true, 4, 0},
        {RSCPK_UCS2L, RSCPK_UTF8, false, false, le ? 13 : 14, 0},
        {RSCPK_UTF16H, RSCPK_UTF8, false, false, le ? 22 : 21, 0},
        {RSCPK_UTF8, RSCPK_UCS4H, false, false, le ? 20 : 19, 0},
        {RSCPK_UCS2H, RSCPK_UTF16H, false, false, 2, 0},
        {RSCPK_UTF16H, RSCPK_UCS2L, false, false, 25, 0},
        {RSCPK_UCS4H, RSCPK_UCS4L, false, false, 26, 0},
        {RSCPK_UCS2L, RSCPK_UCS4L, false, false, 4, 0},
    };
    for (const Cell& c : cells) {
        const rscpPairMethod m = Method(c.s, c.t, c.as, c.at);
        EXPECT_EQ(m.method, c.method) << c.s << "->" << c.t;
        EXPECT_EQ(m.resolve, c.resolve) << c.s << "->" << c.t;
    }
    // Unicode copies need equal minor kinds and no filter.
    EXPECT_EQ(Method(RSCPK_UTF8, RSCPK_UTF8, false, false, 0, 0, true).method, 4);
    EXPECT_EQ(Method(RSCPK_UCS4H, RSCPK_UCS4L, false, false, 1, 2).method, 4);
    EXPECT_EQ(Method(RSCPK_UTF8, RSCPK_UTF16L, false, false, 1, 0).method, 4);
    // 7-bit ASCII to UTF-16 takes its own method when control codes are tried.
    EXPECT_EQ(Method(RSCPK_NOT, RSCPK_UTF16L, false, false, 0, 0, false, true, 1).method, le ? 48 : 49);
    EXPECT_EQ(Method(RSCPK_NOT, RSCPK_UTF16H, false, false, 0, 0, false, true, 0).method, 4);
}

// ---- the activation cache ----------------------------------------------------------

const char* g_size = nullptr;
const char* SizeParameter(const char* name)
{
    return std::strcmp(name, "rscp/CActivate/cache/size") == 0 ? g_size : nullptr;
}

struct ActCache : ::testing::Test {
    const char* (*saved)(const char*) = nullptr;
    void SetUp() override
    {
        saved = rscph_HookTable.GetParameter;
        rscph_HookTable.GetParameter = SizeParameter;
        rscpActivationCacheReset();
    }
    void TearDown() override
    {
        rscph_HookTable.GetParameter = saved;
        g_size = nullptr;
        rscpActivationCacheReset();
    }
    static rscpCObj_t Obj(const char* in, const char* out)
    {
        rscpCObj_t o;
        rscpCInit(&o, in, out, 1, 1, 0);
        o.method = 4;
        o.in_no = 7;
        return o;
    }
};

TEST_F(ActCache, KeyPacksCodePagesOptionsSubstituteAndGeneration)
{
    rscpCObj_t o = Obj("4110", "1100");
    o.fill_rest = 5;
    o.enforce_f1 = 3;
    o.ctrlcodes = 1;
    const rscpActKey k = rscpActivationKey(&o, 9);
    // Digits 4,1,1,0,1,1,0,0 as nibbles, first of each pair low.
    EXPECT_EQ(k.hi & 0xFFFFFFFF, 0x00110114u);
    // use_c_subst, broken 1 (bit 4), fill 5 (bits 6-8), enforce 3 (bits 9-11),
    // on_drop 1 (bit 12), ctrlcodes (bit 14), ownCh (bit 15).
    EXPECT_EQ(k.hi >> 32, uint64_t(1 | 1 << 4 | 5 << 6 | 3 << 9 | 1 << 12 | 1 << 14 | 1 << 15));
    EXPECT_EQ(k.lo, uint64_t(35 << 11) | uint64_t(9) << 32);
    rscpCObj_t other = o;
    other.on_drop = 2;
    EXPECT_NE(rscpActivationKey(&other, 9).hi, k.hi);
}

TEST_F(ActCache, HitsCopyTheObjectOnlyForTheSameOptionsAndGeneration)
{
    rscpCObj_t o = Obj("4110", "1100");
    o.noof_subst = 3;
    o.iso2022 = 0x3FF | 2u << 10;
    rscpActivationCachePut(rscpActivationKey(&o, 1), &o, 1);

    rscpCObj_t fresh = Obj("4110", "1100");
    fresh.method = 0;
    fresh.in_no = 0;
    ASSERT_TRUE(rscpActivationCacheGet(rscpActivationKey(&fresh, 1), &fresh));
    EXPECT_EQ(fresh.method, 4);
    EXPECT_EQ(fresh.in_no, 7u);
    EXPECT_EQ(fresh.noof_subst, 0u);  // run state cleared
    EXPECT_EQ(fresh.iso2022 & RSCP_2022_IN_SHIFT, 0u);
    // A new generation, another option, or an option outside the key: no hit.
    rscpCObj_t miss = Obj("4110", "1100");
    EXPECT_FALSE(rscpActivationCacheGet(rscpActivationKey(&miss, 2), &miss));
    miss.use_n_subst = 1;
    EXPECT_FALSE(rscpActivationCacheGet(rscpActivationKey(&miss, 1), &miss));
    EXPECT_EQ(miss.method, 4);  // untouched (Obj's own value)
    EXPECT_EQ(miss.in_no, 7u);
}

TEST_F(ActCache, SizeParameterAndReplacement)
{
    for (auto [value, size, message] :
         {std::tuple{"20", 15, "profile \"rscp/CActivate/cache/size\": 20 replaced with 15"},
          std::tuple{"0", 0, "profile \"rscp/CActivate/cache/size\": cache switched off."},
          std::tuple{"x3", 10, "profile \"rscp/CActivate/cache/size\": illegal value \"x3\""},
          std::tuple{"3", 3, ""}}) {
        rscpActivationCacheReset();
        g_size = value;
        testing::internal::CaptureStderr();
        EXPECT_EQ(rscpActivationCacheSize(), size);
        EXPECT_EQ(rscpActivationCacheSize(), size);  // read once
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, *message ? std::string(message) + "\n" : "");
    }
    rscpCObj_t off = Obj("1100", "4110");
    rscpActivationCacheReset();
    g_size = "0";
    testing::internal::CaptureStderr();
    rscpActivationCachePut(rscpActivationKey(&off, 1), &off, 1);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(rscpActivationCacheGet(rscpActivationKey(&off, 1), &off));

    // Three entries: a full cache first replaces an entry of an older
    // generation, then the least used one.
    rscpActivationCacheReset();
    g_size = "3";
    const char* pages[] = {"1100", "1101", "1160", "1401", "1500"};
    rscpCObj_t objs[5];
    for (int i = 0; i < 5; ++i)
        objs[i] = Obj(pages[i], "4110");
    rscpActivationCachePut(rscpActivationKey(&objs[0], 1), &objs[0], 1);
    rscpActivationCachePut(rscpActivationKey(&objs[1], 2), &objs[1], 2);
    rscpActivationCachePut(rscpActivationKey(&objs[2], 2), &objs[2], 2);
    for (int i = 0; i < 3; ++i) {
        rscpCObj_t probe = objs[2];
        rscpActivationCacheGet(rscpActivationKey(&probe, 2), &probe);
    }
    rscpActivationCachePut(rscpActivationKey(&objs[3], 2), &objs[3], 2);  // replaces generation 1
    rscpCObj_t probe = objs[0];
    EXPECT_FALSE(rscpActivationCacheGet(rscpActivationKey(&probe, 1), &probe));
    rscpActivationCachePut(rscpActivationKey(&objs[4], 2), &objs[4], 2);  // replaces a least used one
    probe = objs[2];
    EXPECT_TRUE(rscpActivationCacheGet(rscpActivationKey(&probe, 2), &probe));
    int kept = 0;
    for (int i : {1, 3}) {
        probe = objs[i];
        kept += rscpActivationCacheGet(rscpActivationKey(&probe, 2), &probe);
    }
    EXPECT_EQ(kept, 1);
    probe = objs[4];
    EXPECT_TRUE(rscpActivationCacheGet(rscpActivationKey(&probe, 2), &probe));
}

}  // namespace
