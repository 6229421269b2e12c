// Storage blocks and their guards, the runtime abort, and the runtime
// helpers with fixed answers.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

#include "krn/runt/abrt.h"
#include "krn/runt/rabax.h"
#include "krn/runt/rstg.h"

namespace {

std::string g_seen;
void Callback(const char* name, const char* id, int, const char*, const char* const* params, int count)
{
    std::string s = std::string(name) + "/" + id;
    for (int i = 0; i < count; ++i)
        s += std::string("|") + params[i];
    std::fprintf(stderr, "%s\n", s.c_str());
}

}  // namespace

TEST(StorageBlocks, CountersFillAndKinds)
{
    uint64_t blocks, bytes, peakBlocks, peakBytes, base;
    rstg_get_counters(&base, nullptr, nullptr, nullptr);
    EXPECT_EQ(rstg_get(1, 1, "t", 0, 0), nullptr);
    auto* a = static_cast<unsigned char*>(rstg_get(1, 7, "t", 10, 0x41));
    auto* b = static_cast<unsigned char*>(rstg_get(2, 8, "t", 20, RSTG_NO_FILL));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a), 10), std::string(10, 'A'));
    EXPECT_EQ(rstg_check(), 0);
    rstg_free(0, a, RSTG_FREE_ONE, nullptr);
    rstg_get_counters(&blocks, &bytes, &peakBlocks, &peakBytes);
    EXPECT_EQ(blocks, base + 1);
    EXPECT_GE(peakBlocks, base + 2);
    // Growth fills the new tail; the block keeps its place on the list.
    b = static_cast<unsigned char*>(rstg_realloc_fill(8, b, 20, 4000, 'z', "t"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[3999], 'z');
    EXPECT_EQ(rstg_check(), 0);
    // Freeing by kind: only blocks whose flags share a bit with the mask.
    void* c = rstg_get(4, 8, "t", 5, 0);
    rstg_free(2, nullptr, 8, nullptr);
    EXPECT_EQ(rstg_check(), 0);
    rstg_get_counters(&blocks, &bytes, nullptr, nullptr);
    EXPECT_EQ(blocks, base + 1);
    rstg_free_typed(c, RSTG_FREE_ONE);
}

TEST(StorageBlocksDeathTest, MisuseEndsTheProcess)
{
    EXPECT_EXIT(
        {
            auto* p = static_cast<char*>(rstg_get(1, 1, "t", 8, 0));
            p[8] = 'x';  // over the guard byte
            if (rstg_check() == 0)
                std::exit(3);
            ab_rabax_set_callback(Callback);
            rstg_free(0, p, RSTG_FREE_ONE, nullptr);
        },
        testing::ExitedWithCode(255), "rstg_free/RSTG_FREE_ILLEGAL_ADDRESS\\|0x[0-9a-f]+\\|[0-9]+\\|120\\|");
    EXPECT_EXIT(
        {
            void* p = rstg_get(1, 1, "t", 8, 0);
            rstg_free(0, p, RSTG_FREE_ONE, nullptr);
            ab_rabax_set_callback(Callback);
            rstg_free(0, p, RSTG_FREE_ONE, nullptr);  // freed twice
        },
        testing::ExitedWithCode(255), "RSTG_FREE_ILLEGAL_ADDRESS\\|0x[0-9a-f]+\\|[0-9]+\\|65535\\|");
    EXPECT_EXIT(
        {
            ab_rabax_set_callback(Callback);
            rstg_get(1, 1, "t", RSTG_MAX_SIZE + 1, 0);
        },
        testing::ExitedWithCode(255), "rstg_get/RSTG_GET_TOO_MUCH\\|4294967255\\|");
    // Without a callback: status 255 and no output; a long parameter is cut.
    EXPECT_EXIT(
        {
            ab_rabax_param(0, "ignored");
            ab_rabax_param(10, "ignored");
            ab_rabax_param(2, "%s", std::string(300, 'p').c_str());
            ab_rabax_set_callback(Callback);
            ab_rabax_assert("check", 1, "src");
        },
        testing::ExitedWithCode(255), "check/ZEMO_ASSERT\\|\\|p{200}\\|\\|");
}

TEST(RuntimeHelpers, FixedAnswersAndTimestamps)
{
    EXPECT_EQ(ab_currency_decimals("LIT  ", 0), 0);
    EXPECT_EQ(ab_currency_decimals("LIT", 0), 2);  // searched by all five characters
    EXPECT_EQ(ab_currency_decimals("KUD  ", 0), 3);
    EXPECT_EQ(ab_currency_decimals("#4   ", 0), 4);
    EXPECT_EQ(ab_currency_decimals("KUD  ", 1), 2);
    EXPECT_STREQ(ab_terminal_name(2), "***batch***     ");
    EXPECT_EQ(ab_terminal_name(3), nullptr);
    char ts[17] = {};
    ab_timestamp16(ts);
    EXPECT_EQ(ab_timestamp16_valid(ts), 1) << ts;
    struct tm tm;
    const time_t now = std::time(nullptr);
    localtime_r(&now, &tm);
    EXPECT_EQ(std::string(ts, 4), std::to_string(tm.tm_year + 1900));
    EXPECT_EQ(ab_timestamp16_valid("2024013112005900"), 1);
    EXPECT_EQ(ab_timestamp16_valid("2024013112006000"), 0);  // 60 seconds
    EXPECT_EQ(ab_timestamp16_valid("2024313112005900"), 0);  // month tens 3
    EXPECT_EQ(ab_timestamp16_valid("2024013112005901"), 0);
    EXPECT_STREQ(ab_whatstring_name("@(#) $Id: //src/krn/abcglob.c#3 $"), "abcglob ");
    EXPECT_STREQ(ab_whatstring_name("@(#) verylongname.c"), "verylongname.c");
    EXPECT_EXIT(ab_message(0, "SY", 7, 0, nullptr, 0, nullptr, 0, nullptr, 0), testing::ExitedWithCode(7), "^$");
    EXPECT_EXIT(ab_message(1, "AB", 42, 1, "param", 3, nullptr, 0, nullptr, 0), testing::ExitedWithCode(42),
                "Message code W AB042.\n1 parameters :\n  1:  par\n");
    abcglob_init(0);
    EXPECT_EQ(ab_sysinfo.byteOrder, 1);
    EXPECT_EQ(ab_version, (7u << 16) | 20u);
    ASSERT_NE(ab_sysinfo.sysname, nullptr);
    EXPECT_EQ(ab_ztta_init(), 0);
    ASSERT_NE(zttaptr, nullptr);
    EXPECT_EQ(zttaptr->user, spauptr);
    EXPECT_EQ(spauptr->logonLanguage, 'D');
    EXPECT_EQ(std::string(spauptr->userName, 15), "000ZEMOUSER    ");
}
