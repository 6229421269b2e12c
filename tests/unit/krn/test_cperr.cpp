// Error recorder and printers, hook defaults, state history and attach table,
// own-character keys and enumerators, language keys, character lengths,
// option names and word separators.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "krn/rscp/cpcache.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cpnames.h"

namespace {

std::vector<std::string> g_out1, g_out2, g_lines;
void Out1(const char* t, int32_t n)
{
    g_out1.emplace_back(t, static_cast<size_t>(n));
}
void Out2(const char* t, int32_t n)
{
    g_out2.emplace_back(t, static_cast<size_t>(n));
}
void Lines(const char* t, int32_t n)
{
    g_lines.emplace_back(t, static_cast<size_t>(n));
}

const char kIdent[] = "@(#) $Id: //depot/kernel/src/rscpmc.c#7 $";

uint32_t Record(uint32_t code, char kind, const char* text, const std::string& a1 = "", const std::string& a2 = "",
                const char* id = "F33")
{
    return rscpe__error(code, kind, RSCP_ALL_ERRORS, kIdent, 12, 345, text, id, a1.c_str(),
                        static_cast<int32_t>(a1.size()), a2.c_str(), static_cast<int32_t>(a2.size()));
}

std::vector<std::string> Printed()
{
    g_lines.clear();
    rscpe_print_errors(rscpe_get_error_record(), Lines);
    return g_lines;
}

class Recorder : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_out1.clear();
        g_out2.clear();
        rscpe_set_output_func(Out1, 1);
        rscpe_set_output_func(Out2, 2);
        rscpe_clear_errors();
    }
    void TearDown() override
    {
        rscpe_set_output_func(nullptr, 1);
        rscpe_set_output_func(nullptr, 2);
        rscpe_set_print_style(1);
        rscpe_set_print_counter(0);
        rscpe_set_on_error_level(0);
        rscpe_clear_errors();
    }
};

}  // namespace

TEST_F(Recorder, AppendedErrorsKeepTheNewestFiveAndEveryLineIsFramed)
{
    for (int i = 1; i <= 7; ++i) {
        if (i > 1)
            rscpe_keep_errors();
        std::string text = "error ";
        text += std::to_string(i);
        std::string arg = "a";
        arg += std::to_string(i);
        Record(RSCPETOOLONG, 'C', text.c_str(), arg);
    }
    const rscpErrRecord* r = rscpe_get_error_record();
    EXPECT_EQ(r->count, 7);
    EXPECT_EQ(std::string(r->entries[0].text, 7), "error 1");
    EXPECT_EQ(std::string(r->entries[3].text, 7), "error 4");
    EXPECT_EQ(std::string(r->entries[4].text, 7), "error 7");
    EXPECT_EQ(std::string(r->entries[4].module, 8), "rscpmc  ");
    EXPECT_EQ(r->entries[4].sequence, r->entries[3].sequence + 3);
    std::vector<std::string> box = Printed();
    int origins = 0, propagations = 0;
    for (const std::string& l : box) {
        origins += l.rfind("| Error from:", 0) == 0;
        propagations += l.rfind("| Error propagation from:", 0) == 0;
    }
    EXPECT_EQ(origins, 1);
    EXPECT_EQ(propagations, 4);
    EXPECT_EQ(box.at(3), "| code:   32  RSCPETOOLONG The data was longer than the buffer.        |");

    // Every kind with every split of argument lengths keeps the 72-column frame.
    const std::vector<int> lengths = {0, 1, 20, 46, 47, 52, 53, 60, 64};
    for (char kind : std::string("CEPIOFNSQTZ")) {
        for (int n1 : lengths) {
            for (int n2 : lengths) {
                for (int style : {1, 2}) {
                    rscpe_set_print_style(style);
                    rscpe_clear_errors();
                    if (kind == 'F')
                        rscpe_note_file_error(2, "S++++.CPA", -1);
                    else if (kind == 'Q')
                        rscpe_note_sql_error(-803, "duplicate\tkey", -1);
                    else if (kind == 'T')
                        rscpe_note_table_error(4, 'x', 'y', "TCP00", "db key value");
                    else if (kind == 'N')
                        rscpe_note_ntab_error(3);
                    else if (kind == 'S')
                        rscpe_note_rsql_error(5);
                    Record(RSCPEINVAL, kind, "some text", std::string(n1, 'p'), std::string(n2, 'q'));
                    rscpe_set_print_counter(n1 == 47);
                    for (const std::string& l : Printed()) {
                        if (style == 2)
                            continue;  // the list has no frame
                        const bool wide = (kind == 'I' || kind == 'O') && (n1 > 53 || n2 > 53);
                        if (!wide) {
                            EXPECT_EQ(l.size(), 72u) << kind << n1 << "/" << n2 << ": " << l;
                        }
                        EXPECT_TRUE(std::strchr("|.`", l[0]) != nullptr) << l;
                    }
                }
            }
        }
    }
}

TEST_F(Recorder, ListStyleAndStackPrintInTheirOrders)
{
    Record(RSCPEINVAL, 'C', "first");
    rscpe_keep_errors();
    Record(RSCPENOOBJ, 'O', "second");
    rscpe_set_print_style(2);
    const std::vector<std::string> list = Printed();
    EXPECT_EQ(list.back(), "---------------------------------------.");
    const auto at = [&](const std::string& s) { return std::find(list.begin(), list.end(), s) - list.begin(); };
    EXPECT_LT(at("propagated from: Codepage handling (RSCP)           "),
              at("from: low level libraries (PORT)         "));
    EXPECT_LT(at("code:   16  RSCPEINVAL   "), at("code: 128"));

    g_lines.clear();
    rscpe_print_error_stack(rscpe_get_error_record(), Lines);
    ASSERT_EQ(g_lines.size(), 4u);
    EXPECT_EQ(g_lines[0].substr(0, 6), "second");
    EXPECT_EQ(g_lines[1], "  at rscpmc   location=12 line=345");
    rscpe_set_print_style(1);
    g_lines.clear();
    rscpe_print_error_stack(rscpe_get_error_record(), Lines);
    EXPECT_EQ(g_lines[0].substr(0, 5), "first");
    EXPECT_EQ(g_lines[1], "  at rscpmc   locat=12 line=345");

    // A sequence number of nine digits moves to a line of its own.
    rscpErrRecord r = *rscpe_get_error_record();
    r.entries[1].sequence = 123456789;
    rscpe_set_error_record(&r);
    rscpe_set_print_counter(1);
    const std::vector<std::string> box = Printed();
    EXPECT_EQ(box.at(2), "| Error from:             low level libraries (PORT)                   |");
    EXPECT_EQ(box.at(3), "|                                                            123456789 |");
}

TEST_F(Recorder, MaskDecidesBetweenReturnAndAbort)
{
    EXPECT_EQ(rscpe__error(16, 'C', 16, kIdent, 1, 2, "kept", "F38", nullptr, 0, nullptr, 0), 16u);
    EXPECT_EQ(rscpe__error(0, 'C', 0, kIdent, 1, 2, "no failure", "F38", nullptr, 0, nullptr, 0), 0u);
    EXPECT_DEATH(rscpe__error(16, 'C', 0, kIdent, 1, 2, "fatal one", "F38", "arg", -1, nullptr, 0),
                 "RSCP - Error(.|\n)*fatal one");
    // Memory failures were internal errors: a mask that holds those holds
    // them still.
    EXPECT_EQ(rscpe__error(RSCPENOMEM, 'C', RSCPEINTERN, kIdent, 1, 2, "no memory", "F33", nullptr, 0, nullptr, 0),
              RSCPENOMEM);
    EXPECT_DEATH(rscpe__error(RSCPENOMEM, 'C', RSCPEIO, kIdent, 1, 2, "fatal memory", "F33", nullptr, 0, nullptr, 0),
                 "RSCP - Error(.|\n)*fatal memory");
}

TEST_F(Recorder, PublishingPrintingAndReaders)
{
    // Codes that publish reach the system log at once; "CPS" goes to the
    // silent output.
    Record(RSCPEIO, 'C', "read failed", "cachesize&", "12&");
    ASSERT_EQ(g_out1.size(), 1u);
    EXPECT_EQ(g_out1[0].size(), 80u);
    EXPECT_EQ(g_out1[0].substr(0, 30), "Syslog: k F33 : cachesize&12& ");
    EXPECT_EQ(g_out1[0].substr(16 + 53, 11), "rscpmc   12");
    Record(RSCPEIO, 'C', "quiet", "", "", "CPS");
    EXPECT_EQ(g_out1.size(), 1u);
    EXPECT_EQ(g_out2.size(), 1u);
    Record(RSCPETOOLONG, 'C', "not published");
    EXPECT_EQ(g_out1.size(), 1u);
    Record(RSCPENOMEM, 'C', "no memory: the host tells it");
    EXPECT_EQ(g_out1.size(), 1u);

    // A file detail goes out as a text line, then its error as a message.
    rscpe_note_file_error(2, "S++++.CPA", -1);
    Record(RSCPEIO, 'C', "file missing");
    EXPECT_EQ(g_out1.at(1), "Syslog: S++++.CPA");
    const std::vector<std::string> box = Printed();
    EXPECT_NE(
        std::find(box.begin(), box.end(), "| errno     2  No such file or directory                               |"),
        box.end());

    rscpe_set_on_error_level(1);
    g_out1.clear();
    Record(RSCPETOOLONG, 'C', "printed");
    EXPECT_EQ(g_out1.front(), ".------------------------------============----------------------------.");
    rscpe_set_on_error_level(0);

    const rscpErrRecord* r = rscpe_get_error_record();
    char a1[8], a2[65], text[80];
    rscpe_keep_errors();
    Record(RSCPENOCONV, 'C', "caf\xe9 ", "argument one", "two");
    rscpe_get_last_args(r, a1, sizeof a1, a2, sizeof a2);
    EXPECT_STREQ(a1, "argumen");
    EXPECT_STREQ(a2, "two");
    rscpe_get_last_text7(r, text, sizeof text);
    EXPECT_STREQ(text, "caf#");
    EXPECT_EQ(rscpe_get_last_rc(r), RSCPENOCONV);
    EXPECT_EQ(rscpe_get_first_rc(r), RSCPETOOLONG);
    EXPECT_EQ(rscpe_get_last_rc(nullptr), 16u);
    EXPECT_EQ(rscpe_trim_length("ab  ", 4), 2);
    EXPECT_EQ(rscpe_trim_length(nullptr, 4), 0);
    EXPECT_STREQ(rscpe_format_locale_key("de_DE           DDE UTF8    "), "(de_DE     ,D,DE ,UTF8    )");
    EXPECT_STREQ(rscpe_format_lang_cp("E1100"), "(E,1100)");
    int32_t n = 0;
    EXPECT_STREQ(rscpe_format_number(42, &n), "   42");
    EXPECT_EQ(n, 5);
    int32_t len = 0;
    EXPECT_STREQ(rscpe_module_name(nullptr, &len), "?module?");
    const char* name = rscpe_module_name(kIdent, &len);
    EXPECT_EQ(std::string(name, static_cast<size_t>(len)), "//depot/kernel/src/rscpmc.c");
}

TEST_F(Recorder, HookDefaults)
{
    const rscph_HookTable_t& h = rscph_HookTable;
    void* p = h.AllocMemory(2, 0, "RSCPML  ", 64, 0, -1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(static_cast<uint8_t*>(p)[63], 0);
    EXPECT_EQ(h.FreeMemory(2, p, 253, -1), -1) << "wrong check value: kept";
    EXPECT_EQ(h.FreeMemory(2, p, 254, -1), 0);
    EXPECT_EQ(h.GetParameter("rsts/ccc/cachesize"), nullptr);
    char cp[5] = {};
    EXPECT_EQ(h.LocalCodePage(cp), 128);
    EXPECT_STREQ(cp, "1100");
    EXPECT_EQ(h.EnvCodePage(cp, "E"), 128);
    EXPECT_STREQ(cp, "0000");

    h.SyslogText(std::string(300, 't').c_str(), 300);
    ASSERT_EQ(g_out1.size(), 1u);
    EXPECT_EQ(g_out1[0], "Syslog: " + std::string(192, 't'));
    const rscphSyslogItem items[] = {{3, "one"}, {300, std::string(300, 'x').c_str()}};
    h.SyslogList(1, items);
    EXPECT_EQ(g_out1.back(), "Syslog: p1: one");
    char block[64];
    std::memset(block, 'b', sizeof block);
    h.SyslogMsg(105, "E16", block);
    EXPECT_EQ(g_out1.back(), "Syslog: i E16 : " + std::string(64, 'b'));
    h.SyslogMsg(105, "E10", block);
    EXPECT_EQ(g_out2.size(), 1u);

    uint32_t lines = 9;
    g_lines.clear();
    EXPECT_EQ(rscpmli_memory_and_lock_info(
                  [](const char* t, int32_t n, rscpeOutputFunc) { g_lines.emplace_back(t, static_cast<size_t>(n)); },
                  nullptr, 3, &lines),
              0);
    EXPECT_EQ(g_lines.size(), rscpmp == nullptr ? 2u : 4u);
    EXPECT_EQ(g_lines.back(), "Neither semaphores nor mutexes are used.");

    // Dates print with the whole year, before 2000 and after 2099 alike.
    struct tm tm { };
    tm.tm_year = 99;
    tm.tm_mon = 11;
    tm.tm_mday = 31;
    tm.tm_hour = 23;
    tm.tm_min = 59;
    tm.tm_sec = 58;
    char stamp[16];
    rscphFormatTimestamp(&tm, stamp);
    EXPECT_EQ(std::string(stamp, 16), "1999123123595800");
    EXPECT_EQ(rscpcd__check_date(stamp), 1);
    tm.tm_year = 200;
    rscphFormatTimestamp(&tm, stamp);
    EXPECT_EQ(std::string(stamp, 16), "2100123123595800");
    EXPECT_EQ(rscpcd__check_date("3000010100000000"), 0);
    EXPECT_EQ(rscpcd__check_date("2024063015304501"), 0);
}

TEST(CacheLocks, StateHistoryAttachTableStatisticsAndNotify)
{
    static int stamp = 0;
    rscph_SetTimestampFunc([](char* out) {
        char text[20];
        std::snprintf(text, sizeof text, "2024%012d", ++stamp);
        std::memcpy(out, text, 16);
    });
    const uint32_t savedState = h_ccc_state;
    for (int s : {1, 2, 5, 2, 4, 1, 3, 2})
        rscpSetCCCState(s);
    const int expected[] = {2, 3, 1, 4, 2, 5, 2};
    for (int i = 0; i < RSCP_STATE_HISTORY; ++i) {
        EXPECT_EQ(rscpCCCStateHistory[i].state, expected[i]);
        EXPECT_EQ(std::atoi(std::string(rscpCCCStateHistory[i].timestamp + 4, 12).c_str()), stamp - i);
    }
    EXPECT_EQ(h_ccc_state, 2u);
    rscph_SetTimestampFunc(nullptr);

    // A block of our own as the attached cache.
    std::vector<uint64_t> memory(sizeof(rscpCcc_t) / 8 + 1);
    rscpCcc_t* c = reinterpret_cast<rscpCcc_t*>(memory.data());
    rscpCcc_t* savedCache = rscpmp;
    rscpmp = c;
    uint32_t state = 0;
    rscpra__register_attach_address(2, 1, &state);
    EXPECT_EQ(state, 2u);
    EXPECT_EQ(c->attach[0], reinterpret_cast<uintptr_t>(c));
    rscpra__register_attach_address(2, 1, nullptr);
    EXPECT_EQ(c->attach[1], 0u);
    for (int i = 0; i < 5; ++i)
        c->attach[i] = 1000 + i;
    rscpra__register_attach_address(2, 1, nullptr);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(c->attach[i], 1000u + i) << "a sixth address is not recorded";

    uint64_t a = 0, b = 0;
    EXPECT_EQ(rscpGetNewICUObjectID(&a), 0);
    EXPECT_EQ(rscpGetNewICUObjectID(&b), 0);
    EXPECT_EQ(b, a + 1);

    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    ctl->cpLookups = 5;
    ctl->bytesIn = 7;
    ctl->converterCalls[9] = 3;
    rscpCountEvent(31);
    rscpCountEvent(32);  // not an event: ignored
    h_ccc_state = 1;
    rscpFlushStatistics();
    EXPECT_EQ(c->stat32[0], 0u) << "folded only in state 2";
    h_ccc_state = 2;
    rscpFlushStatistics();
    EXPECT_EQ(c->stat32[0], 5u);
    EXPECT_EQ(c->stat32[RSCP_STAT32 - RSCP_CONVERTERS + 9], 3u);
    EXPECT_EQ(c->statBytesIn, 7u);
    EXPECT_EQ(c->statEvents[31], 1u);
    EXPECT_EQ(ctl->cpLookups, 0u);
    EXPECT_EQ(ctl->eventTotals[31], 1u);

    static std::vector<int> notified;
    rscph_SetStateNotifyFunc([](int32_t flag) { notified.push_back(flag); });
    for (int v : {0, 5, 5, 7, 0})
        rscpNotifyStateChange(v);
    EXPECT_EQ(notified, (std::vector<int>{1, 1, 0}));
    rscph_SetStateNotifyFunc(nullptr);
    rscpmp = savedCache;
    h_ccc_state = savedState;
}

TEST(CharacterLengths, RulesByKindNeverReadPastTheBytesGiven)
{
    // Exactly n bytes on the heap: any look beyond them is an overflow.
    std::mt19937 rng(7);
    for (uint32_t kind = 0; kind <= 45; ++kind)
        for (int32_t n = 1; n <= 8; ++n)
            for (int trial = 0; trial < 300; ++trial) {
                std::vector<uint8_t> bytes(static_cast<size_t>(n));
                for (uint8_t& b : bytes)
                    b = trial % 3 == 0 ? static_cast<uint8_t>("\x1b$B(J\xf8\xfd\x00"[rng() % 8])
                                       : static_cast<uint8_t>(rng());
                const uint32_t length = rscpLengthOfMBChar(bytes.data(), n, kind);
                if (kind == 2 || kind == 12) {
                    EXPECT_LE(length, kind == 2 ? static_cast<uint32_t>(n) : 6u);
                }
            }
    const uint8_t jis[] = {0x1B, '$', 'B', 0x30, 0x21, 0x30, 0x22, 0x1B, '(', 'J', 'x'};
    EXPECT_EQ(rscpLengthOfMBChar(jis, 11, 2), 10u);
    EXPECT_EQ(rscpLengthOfMBChar(jis, 6, 2), 6u);
    EXPECT_EQ(rscpLengthOfMBChar(jis, 0, 12), 0u);
    const uint8_t lead[] = {0x80, '#', 0xF8, 0xFD, 0x00, 'A', 0x00, 'B'};
    EXPECT_EQ(rscpLengthOfMBChar(lead, 1, 12), 0u);
    EXPECT_EQ(rscpLengthOfMBChar(lead + 1, 1, 20), 4u);
    EXPECT_EQ(rscpLengthOfMBChar(lead + 1, 1, 40), 0u);
    EXPECT_EQ(rscpLengthOfMBChar(lead + 2, 6, 13), 6u) << "an own character in UTF-16";
    EXPECT_EQ(rscpLengthOfMBChar(lead + 2, 5, 13), 6u);
    EXPECT_EQ(rscpLengthOfMBChar(lead + 2, 4, 13), 2u);
    for (uint32_t b = 0; b < 256; ++b) {
        const uint8_t c = static_cast<uint8_t>(b);
        const uint32_t utf8 = b < 0x80   ? 1
                              : b < 0xC0 ? 0
                              : b < 0xE0 ? 2
                              : b < 0xF0 ? 3
                              : b < 0xF8 ? 4
                              : b < 0xFC ? 5
                              : b < 0xFE ? 6
                                         : 0;
        EXPECT_EQ(rscpLengthOfMBChar(&c, 1, 12), utf8) << b;
    }
    rscpCharLenHandle_t h;
    EXPECT_EQ(rscpInitCharLenHandle(&h, "8000"), 0u);
    EXPECT_EQ(h.kind, 3u);
    const uint8_t sjis[] = {0x82, 0xA0, 0x41};
    EXPECT_EQ(rscpLengthOfChar(&h, sjis, 3), 2u);
    EXPECT_EQ(rscpLengthOfChar(&h, sjis + 2, 1), 1u);
    EXPECT_EQ(rscpMaxLengthOfChar(&h), 2u);
    EXPECT_EQ(rscpInitCharLenHandle(&h, "9999"), RSCPENOCONV);
}

TEST(OwnKeys, EveryKeyRoundTripsAndEnumeratorsCoverTheirRanges)
{
    rscpKeyEnum_t e;
    rscpenKey2Init(&e);
    uint32_t number = 0, count = 0;
    char key[2];
    std::set<std::string> seen;
    std::set<uint32_t> numbers;
    while (rscpenKey2Next(&e, &number, key)) {
        numbers.insert(number);
        EXPECT_EQ(rscpKey2ToNumber(key[0], key[1]), number);
        const uint8_t* u16 = rscpNumberToKey2(number);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(u16), 6),
                  std::string("\xF8\xFD\0", 3) + key[0] + '\0' + key[1]);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06X", number);
        EXPECT_STREQ(rscpKey2ToHex(key), hex);
        seen.insert(std::string(key, 2));
        ++count;
    }
    EXPECT_EQ(count, RSCP_OWN_KEYS);
    EXPECT_EQ(seen.size(), RSCP_OWN_KEYS);
    ASSERT_EQ(numbers.size(), RSCP_OWN_KEYS);
    EXPECT_EQ(*numbers.begin(), RSCP_OWN_BASE);
    EXPECT_EQ(*numbers.rbegin(), RSCP_OWN_BASE + RSCP_OWN_KEYS - 1);
    EXPECT_EQ(rscpenKey2Next(&e, &number, key), 0);
    EXPECT_EQ(rscpKey2ToNumber('0', 'z'), RSCP_OWN_BASE + 2232 + 25);
    EXPECT_NE(rscpKey2ToNumber('0', 'a'), rscpKey2ToNumber('z', '0'));
    EXPECT_EQ(rscpKey2ToNumber('0', '-'), 0u);
    EXPECT_EQ(rscpNumberToKey2(RSCP_OWN_BASE + RSCP_OWN_KEYS)[3], '0');
    EXPECT_STREQ(rscpKey2ToHex("0-"), "110100");

    rscpenHexRangeInit(&e, 0, 42, "1b 24 42", 8, "0A", 2);
    uint8_t out[16];
    int32_t length = 0;
    ASSERT_EQ(rscpenHexRangeNext(&e, &number, out, sizeof out, &length), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(length)), std::string("\x1b$B\0"
                                                                                                  "0\0"
                                                                                                  "0\n",
                                                                                                  8));
    EXPECT_EQ(rscpenHexRangeNext(&e, &number, out, 7, &length), 0) << "no room";

    rscpCharEnum_t ch;
    rscpenCharInit(&ch);
    uint32_t code = 0, last = 0, chars = 0, wrong = 0;
    bool sawFFFD = false;
    while (rscpenUcs4NextChar(&ch, &code)) {
        wrong += code <= last || (code >= 0x7F && code <= 0x9F) || (code >= 0xD800 && code <= 0xDFFF) ||
                 (code >= 0xFDD0 && code <= 0xFDEF) || code == 0xFFFE || code == 0xFFFF ||
                 (last == 0xFFFD && code != 0x10000);
        sawFFFD |= code == 0xFFFD;
        last = code;
        ++chars;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_TRUE(sawFFFD);
    EXPECT_EQ(last, 0x10FFFFu);
    EXPECT_EQ(chars, (0xFFFDu - 0x20 + 1) - 33 - 2048 - 32 + 0x100000);

    rscpenCharInit(&ch);
    uint8_t b[4];
    ch.code = rscpenSuppFirst() + 0x12345;
    ASSERT_EQ(rscpenSuppNext(&ch, &code, b, b + 1, b + 2, b + 3), 1);
    EXPECT_EQ(code, 0x22345u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 4), "\xD8\x48\xDF\x45");

    rscpMultiRange_t m;
    const uint8_t start[] = {0x81, 0x41}, low[] = {0x81, 0x40}, high[] = {0x82, 0x42};
    rscpenMultiRangeInit(&m, 10, 14, 2, start, low, high);
    std::string seq;
    while (rscpenMultiRangeNext(&m, &number, b, b + 1, nullptr, nullptr)) {
        char t[16];
        std::snprintf(t, sizeof t, "%u:%02X%02X ", number, b[0], b[1]);
        seq += t;
    }
    EXPECT_EQ(seq, "10:8141 11:8142 12:8240 13:8241 14:8242 ");
}

TEST(LanguageKeys, KeysAndIsoCodesTranslateBothWays)
{
    const std::string keys = rscpGetLanguageKeys();
    EXPECT_EQ(keys.size(), 49u);
    for (char k : keys) {
        char iso[2];
        ASSERT_EQ(rscpLanguageKeyToIso(iso, k), 0);
        char back = 0;
        EXPECT_EQ(rscpIsoToLanguageKeyChar(&back, iso), 0);
        EXPECT_EQ(back, k);
    }
    for (int a = 32; a < 127; ++a)
        for (int b = 32; b < 127; ++b) {
            const char iso[2] = {static_cast<char>(a), static_cast<char>(b)};
            uint16_t key = 0;
            ASSERT_EQ(rscpIsoToLanguageKey(&key, iso), 0);
            char back[2];
            ASSERT_EQ(rscpLanguageKeyToIsoU16(back, key), 0);
            const char up[2] = {static_cast<char>(std::toupper(a)), static_cast<char>(std::toupper(b))};
            EXPECT_EQ(std::string(back, 2), std::string(up, 2));
        }
    uint16_t key = 0;
    EXPECT_EQ(rscpIsoToLanguageKey(&key, "de"), 0);
    EXPECT_EQ(key, 'D');
    EXPECT_EQ(rscpIsoToLanguageKey(&key, "XX"), 0);
    EXPECT_EQ(key, 0xAC00 + 56 * 96 + 56);
    EXPECT_EQ(rscpIsoToLanguageKey(&key, "\xC4x"), 1);
    char iso[2];
    EXPECT_EQ(rscpLanguageKeyToIso(iso, '?'), 1);
    EXPECT_EQ(rscpLanguageKeyToIsoU16(iso, 0xD000), 1);
}

TEST(Names, OptionCodesReadBackAndOutOfRangeTexts)
{
    for (int v = 0; v < 4; ++v)
        EXPECT_EQ(rscpDropOfChar(rscpDropName(v)[0]), v);
    EXPECT_STREQ(rscpUseF1Name(0), "?illegal_useF1");
    EXPECT_STREQ(rscpMissName(4), "?illigal_rscpmiss");
    EXPECT_STREQ(rscptn_table_name(-1), "unknown table");
    EXPECT_STREQ(rscptn_table_name(9), "TCP0F");
    EXPECT_STREQ(rscpOutRuleName(71), "unknown_out_rule(71)");
    EXPECT_STREQ(rscpInRuleName(71), "in_rule_2022_SW");
    const char* name = rscpOutRuleName(12);
    rscpOutRuleName(9);
    EXPECT_STREQ(name, "out_rule_U8_1") << "a known name is not overwritten by the next call";
    EXPECT_STREQ(rscpNlsKindName(9), "unknown(9)");
    EXPECT_STREQ(rscpMethodName(50), "unknown(50)");
    EXPECT_STREQ(rscpOwnCharByChar('Q'), "10FF19");
    EXPECT_EQ(rscpOwnCharByText("\xd1"), nullptr);
}

TEST(WordSeparators, DefaultSetAndLongTexts)
{
    g_lines.clear();
    rscpSetWordSeparators(nullptr, 0, Lines);
    ASSERT_EQ(g_lines.size(), 2u);
    EXPECT_EQ(g_lines[0], "The number of word separators is 32");
    EXPECT_EQ(g_lines[1], " !\"#$%&'()*+,-./0123456789:;<=>?");
    g_lines.clear();
    rscpSetWordSeparators(std::string(300, ',').c_str(), 0xFFFFFFFFu, Lines);
    ASSERT_EQ(g_lines.size(), 1u);
    EXPECT_EQ(g_lines[0], "The number of word separators is 255");
}
