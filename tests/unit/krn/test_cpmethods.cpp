// The engine's methods without character tables (Unicode forms, swaps,
// widening, byte maps) and its multi-byte methods (Japanese families by
// arithmetic, tunnelled and copied characters, escapes of the generic output
// formats, character numbers, UTF-16 sources) against Python's codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "tests/unit/krn/cp_oracle.h"
#include "tests/unit/krn/cpengine_fixture.h"

using cpengine_test::Out;

namespace {

class Methods : public cpengine_test::EngineTest { };

}  // namespace

TEST_F(Methods, UnicodeFormsConvertEveryScalarValueAsPythonDoesAndSwapIntoEachOther)
{
    const std::vector<std::string> p = cporacle::EmittedByPython(
        "every = ''.join(chr(c) for c in range(1, 0x110000) if not 0xD800 <= c < 0xE000)\n"
        "bmp = ''.join(c for c in every if ord(c) < 0x10000)\n"
        "emit(every.encode('utf-8')); emit(bmp.encode('utf-8'))\n"
        "for codec in ('utf-16-be', 'utf-16-le', 'utf-32-be', 'utf-32-le'): emit(every.encode(codec))\n"
        "for codec in ('utf-16-be', 'utf-16-le'): emit(bmp.encode(codec))\n");
    ASSERT_EQ(p.size(), 8u);
    const std::string& every = p[0];
    const std::string& bmp = p[1];
    const struct {
        const char* cp;
        const std::string& text;
        const std::string& form;
    } forms[] = {{"4102", every, p[2]}, {"4103", every, p[3]}, {"4104", every, p[4]},
                 {"4105", every, p[5]}, {"4100", bmp, p[6]},   {"4101", bmp, p[7]}};
    for (const auto& f : forms) {
        EXPECT_TRUE(Convert("4110", f.cp, f.text) == f.form) << f.cp;
        EXPECT_TRUE(Convert(f.cp, "4110", f.form) == f.text) << f.cp;
    }
    // Byte swaps between the two orders of a width.
    for (const auto& [a, b] : {std::pair{0, 1}, std::pair{2, 3}, std::pair{4, 5}, std::pair{1, 4}}) {
        EXPECT_TRUE(Convert(forms[a].cp, forms[b].cp, forms[a].form.substr(0, 60000)) == forms[b].form.substr(0, 60000))
            << forms[a].cp << "->" << forms[b].cp;
    }
}

TEST_F(Methods, UnicodeFormsHandleCutUnitsBadInputAndMisalignedBuffers)
{
    // A UCS-2 source of odd length: 512 before the part unit, or one
    // substitute that leaves the part unit unconsumed.
    rscpCObj_t stop = Make("4101", "4110", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY);
    ASSERT_EQ(stop.method, 13);
    Out r = Run(stop, std::string("a\0b\0c", 5), 16);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.bytes, "ab");
    EXPECT_EQ(r.consumed, 4u);
    rscpCObj_t miss = Make("4101", "4110");
    r = Run(miss, std::string("a\0b\0c", 5), 16);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.bytes, "ab#");
    EXPECT_EQ(r.consumed, 4u);
    // A lone surrogate in UTF-16: substituted, or refused with the cursor on it.
    const std::string lone("a\0\x00\xDC"
                           "b\0",
                           6);
    rscpCObj_t u16 = Make("4103", "4110");
    EXPECT_EQ(Run(u16, lone, 16).bytes, "a#b");
    EXPECT_EQ(u16.noof_subst, 1u);
    r = Run(stop = Make("4103", "4110", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY), lone, 16);
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.consumed, 2u);
    EXPECT_EQ(LastText(), "character not convertable");
    // Invalid UTF-8: the decoder's substitute, or 2048 on the invalid byte.
    rscpCObj_t dec = Make("4110", "4103");
    EXPECT_EQ(Run(dec,
                  "a\xFF"
                  "b",
                  16)
                  .bytes,
              std::string("a\0#\0b\0", 6));
    r = Run(stop = Make("4110", "4103", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY),
            "a\xFF"
            "b",
            16);
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.consumed, 1u);
    // One unit short of room: 32 after the whole units.
    r = Run(dec, "abc", 5);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, std::string("a\0b\0", 4));
    // An odd destination up to 1,024 bytes goes through the work buffer.
    const std::string text(300, 'x');
    r = Run(dec, text + "\xC3\xA9", 1024, 1);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.bytes.size(), 602u);
    EXPECT_EQ(r.bytes.substr(598), std::string("x\0\xE9\0", 4));
    r = Run(dec, text, 1025, 1);
    EXPECT_EQ(r.rc, RSCPEINVAL);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_EQ(LastText(), "Unicode requires aligned addresses");
}

TEST_F(Methods, SwapsWideningNarrowingSevenBitAndByteMaps)
{
    rscpCObj_t o = Make("4101", "4100");
    ASSERT_EQ(o.method, 25);
    Out r = Run(o, "abcde", 10);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.bytes, "badc");
    EXPECT_EQ(LastText(), "Unicode and odd bytes");
    EXPECT_EQ(Run(o, "abcdef", 4).rc, RSCPETOOLONG);

    o.method = 29;  // Latin-1 to big-endian units, and back
    r = Run(o, "abc", 4);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, std::string("\0a\0b", 4));
    o.method = 30;
    EXPECT_EQ(Run(o, "\xE9", 4).bytes, std::string("\xE9\0", 2));
    o.method = 31;
    EXPECT_EQ(Run(o,
                  std::string("\x01"
                              "a\x20\xAC",
                              4),
                  4)
                  .bytes,
              "a\xAC");
    o.method = 32;
    r = Run(o,
            "a\x01"
            "b",
            4);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.bytes, "a");

    rscpCObj_t a7 = Make("1101", "4103", RSCPMISS_STOP);
    ASSERT_EQ(a7.method, 48);
    r = Run(a7, "ab\xC4", 16);
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.bytes, std::string("a\0b\0", 4));
    EXPECT_EQ(LastText(), "Input is not 7-bit");
    a7.use_c_subst = 1;
    a7.method = 49;
    EXPECT_EQ(Run(a7, "a\xC4", 16).bytes, std::string("\0a\0#", 4));

    // The pair filter's table maps every byte as Python's codecs do; the
    // lengths must agree.
    rscpCObj_t f1;
    ASSERT_EQ(rscpCInit(&f1, "0120", "1100", RSCPMISS_SUBSTITUTE, 0, 0), 0u);
    rscpCSetUseF1(&f1, RSCPF1_ENFORCE);
    ASSERT_EQ(rscpCActivate(&f1), 0u);
    ASSERT_EQ(f1.method, 12);
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    const std::string python = cporacle::RunPython(
        "import sys\nsys.stdout.buffer.write(bytes(range(256)).decode('cp500').encode('latin-1'))\n");
    EXPECT_TRUE(Run(f1, bytes, 256).bytes == python);
    r = Run(f1, bytes.substr(0, 10), 8);
    EXPECT_EQ(r.rc, RSCPEINVAL);
    EXPECT_EQ(r.consumed, 8u);
    EXPECT_EQ(LastText(), "F1 requires equal sizes");
    // After a reorganisation the table is found again.
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    EXPECT_TRUE(Run(f1, bytes, 256).bytes == python);
}

TEST_F(Methods, JapaneseFamiliesConvertByArithmeticAsPythonDoes)
{
    // Every JIS X 0208 character Python knows in all three pages, between
    // ASCII letters and half-width katakana.
    const std::vector<std::string> p = cporacle::EmittedByPython(
        "chars = []\n"
        "for c in range(0x3000, 0x10000):\n"
        "    try:\n"
        "        if all(chr(c).encode(k).decode(k) == chr(c) and len(chr(c).encode(k)) == 2\n"
        "               for k in ('shift_jis', 'euc_jp')) and chr(c).encode('iso2022_jp'):\n"
        "            chars.append(chr(c))\n"
        "    except UnicodeError: pass\n"
        "text = ''.join(c + ('xyz'[i % 3] if i % 7 == 0 else '') for i, c in enumerate(chars))\n"
        "kana = text + ''.join(chr(c) for c in range(0xFF61, 0xFFA0))\n"
        "emit(text.encode('utf-8'))\n"
        "for k in ('shift_jis', 'euc_jp', 'iso2022_jp'): emit(text.encode(k))\n"
        "emit(kana.encode('shift_jis')); emit(kana.encode('euc_jp'))\n");
    ASSERT_EQ(p.size(), 6u);
    ASSERT_GT(p[1].size(), 10000u);
    const std::string &utf8 = p[0], &sjis = p[1], &euc = p[2], &jis = p[3];
    const struct {
        const char *in, *out;
        const std::string &text, &expect;
        int32_t method;
    } pairs[] = {{"8000", "8100", p[4], p[5], 6}, {"8200", "8000", jis, sjis, 42}, {"8200", "8100", jis, euc, 42}};
    for (const auto& pair : pairs) {
        rscpCObj_t o = Make(pair.in, pair.out);
        ASSERT_EQ(o.method, pair.method) << pair.in << "->" << pair.out;
        const Out r = Run(o, pair.text, 2 * pair.text.size());
        EXPECT_EQ(r.rc, 0u);
        EXPECT_TRUE(r.bytes == pair.expect) << pair.in << "->" << pair.out;
    }
    // Into ISO-2022-JP the escapes may stand elsewhere: what matters is the text.
    for (const auto& [cp, text] : {std::pair{"8000", sjis}, std::pair{"8100", euc}}) {
        rscpCObj_t o = Make(cp, "8200");
        ASSERT_EQ(o.method, 6);
        const std::string out = Run(o, text, 3 * text.size()).bytes;
        EXPECT_TRUE(Convert("8200", "8000", out) == sjis) << cp;
        const std::string back = cporacle::RunPython(
            "import sys\nsys.stdout.buffer.write(open(sys.argv[1], 'rb').read().decode('iso2022_jp')"
            ".encode('utf-8'))\n",
            out);
        EXPECT_TRUE(back == utf8) << cp;
    }
    // A shift made in one call holds in the next only when restartable.
    rscpCObj_t restart = Make("8200", "8000", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
    EXPECT_EQ(Run(restart, "\x1B$B", 8).rc, 0u);
    EXPECT_EQ(Run(restart, "4A", 8).bytes, "\x8A\xBF");
    rscpCObj_t finally = Make("8200", "8000", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_FINALLY);
    EXPECT_EQ(Run(finally, "\x1B$B", 8).rc, 0u);
    EXPECT_EQ(Run(finally, "4A", 8).bytes, "4A");
    // A pair cut by the end, and a Shift-JIS lead byte at the end.
    Out r = Run(finally,
                "\x1B$B"
                "4",
                8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 3u);
    rscpCObj_t sjisEuc = Make("8000", "8100", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_FINALLY);
    r = Run(sjisEuc, "a\x8A", 8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 1u);
    // The destination one byte short of a pair: 32 after the last whole one.
    r = Run(sjisEuc, "\x8A\xBF\x8A\xBF", 3);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, "\xB4\xC1");
    EXPECT_EQ(r.consumed, 2u);
}

TEST_F(Methods, TunnelledCopiedAndEscapedDoubleByteCharacters)
{
    // EUC-JP to Latin-1: a pair the tables do not know goes over unchanged
    // and counts, a broken single byte and a missing character become "#".
    rscpCObj_t tunnel = Make("8100", "1100");
    ASSERT_EQ(tunnel.method, 10);
    Out r = Run(tunnel,
                "a\xA9\xA1"
                "b\xA4"
                "c\xA4\xA2"
                "d",
                16);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.bytes, "a\xA9\xA1"
                       "b#c#d");
    EXPECT_EQ(tunnel.noof_subst, 3u);
    // "tab_mbcopy" copies the missing character too.
    tunnel.method = 11;
    EXPECT_EQ(Run(tunnel,
                  "c\xA4\xA2"
                  "d",
                  16)
                  .bytes,
              "c\xA4\xA2"
              "d");

    // Families recognised on a Shift-JIS source: copied to related targets,
    // escaped for the generic output formats, else through the tables.
    rscpCObj_t o = Make("8000", "8100");
    const std::string big5 = "x\xA4\x40y";
    o.in_major = RSCPK_TRADICH;
    o.out_major = RSCPK_GOF_A;
    EXPECT_EQ(Run(o, big5, 16).bytes, "x^MA440y");
    r = Run(o, big5, 6);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, "x");
    o.out_major = RSCPK_GOF_E;
    EXPECT_EQ(Run(o, "\xA4\x40", 16).bytes, "\x5F\xD4\xC1\xF4\xF4\xF0");
    o.out_major = RSCPK_TRADICH_L1;
    EXPECT_EQ(Run(o, big5, 16).bytes, big5);
    o.in_major = RSCPK_COREA;
    r = Run(o, "x\xB0", 16);  // a Korean lead byte at the end
    EXPECT_EQ(r.bytes, "x#");
    EXPECT_EQ(r.consumed, 2u);
    // EUC-JP to a kind without a transform: recorded, then the tables (of
    // Shift-JIS here, which read two katakana).
    o.in_major = RSCPK_EUC;
    EXPECT_EQ(Run(o, "\xB4\xC1", 16).bytes, "\x8E\xB4\x8E\xC1");
    EXPECT_EQ(LastText(), "from EUC to .. (not impl)");
    o.use_1_copy = 1;
    o.use_c_subst = 0;
    EXPECT_EQ(Run(o, "\xB4\xC1", 16).bytes, "\xB4\xC1");

    // Escapes read for character numbers: the target's own family decoded,
    // another one substituted.
    rscpCObj_t get = Make("8000", "8100");
    get.method = 8;
    get.in_major = get.langu_dep_in_major = RSCPK_GOF_A;
    EXPECT_EQ(Run(get, "a^EB4C1^JE4AA", 16).bytes, "a\xB4\xC1#");
    r = Run(get, "^EB4C", 16);
    EXPECT_EQ(r.bytes, "#");
    EXPECT_EQ(r.consumed, 5u);
}

TEST_F(Methods, SixteenBitSourcesGoThroughTheOutputTables)
{
    // The UTF-16 get methods give what the table walk gives, character by
    // character, for the whole basic plane and a pair of surrogates.
    std::string be;
    for (uint32_t c = 0x20; c < 0x10000; ++c)
        if (c < 0xD800 || c >= 0xE000)
            be += {char(c >> 8), char(c)};
    be += "\xD8\x3D\xDE\x00";
    std::string le;
    for (size_t i = 0; i < be.size(); i += 2)
        le += {be[i + 1], be[i]};
    const std::string latin = Convert("4102", "1100", be);
    for (int32_t method : {33, 34, 37, 38, 39, 40}) {
        EXPECT_TRUE(Convert("4102", "1100", be, method) == latin) << method;
        EXPECT_TRUE(Convert("4103", "1100", le, method == 33 || method == 34 ? method + 2 : method) == latin) << method;
    }
    // A lone high surrogate at the end, and a control code the target
    // refuses with "su16get_tab".
    rscpCObj_t o = Make("4102", "1100", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY);
    o.method = 33;
    Out r = Run(o, std::string("\0a\xD8\x3D", 4), 8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 2u);
    o.method = 39;
    o.ctrlcodes = RSCPCTRL_ILLEGAL;
    r = Run(o, std::string("\0a\0\x01", 4), 8);
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.bytes, "a");

    // Internal character numbers, big-endian: every number of the map.
    rscpCObj_t numbers = Make("1100", "4110");
    numbers.method = 27;
    std::string in, expect;
    for (uint32_t n = 1; n < rscpmp->tcp01MapMax && n < 0x10000; ++n) {
        uint32_t cp = 0;
        if (rscpCharNoToUnicodeChecked(&cp, n) != 0 || cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
            continue;
        in += {char(n >> 8), char(n)};
        rscpCObj_t enc = Make("4105", "4110");
        const std::string u4{char(cp), char(cp >> 8), char(cp >> 16), 0};
        expect += Run(enc, u4, 8).bytes;
    }
    ASSERT_GT(in.size(), 500u);
    r = Run(numbers, in + "\x01", 4 * in.size());
    EXPECT_EQ(r.rc, 0u);
    EXPECT_TRUE(r.bytes == expect + "#");
    // Two-byte characters read as character numbers when their family
    // accepts them.
    rscpCObj_t get = Make("8000", "4110", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY);
    get.method = 8;
    get.langu_dep_in_major = RSCPK_SJIS;
    r = Run(get, "a\x81\x40", 8);  // beyond the character numbers
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.bytes, "a");
    get.langu_dep_in_major = RSCPK_2312_80;
    EXPECT_EQ(Run(get, "a\x81\x40", 8).rc, RSCPENOCONV);
    EXPECT_EQ(LastText(), "character not convertable");
    r = Run(get, "a\x81", 8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 1u);
}
