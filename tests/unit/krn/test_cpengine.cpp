// Buffer conversion through the tables the loader builds from the store:
// every code page against Python's codecs, hostile UTF-8, and the engine's
// exits (fill, overflow, trailing spaces, cut characters, restarts,
// overlapping buffers, re-activation).
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpjis.h"
#include "krn/rscp/cputf8local.h"
#include "tests/unit/krn/cp_oracle.h"
#include "tests/unit/krn/cpengine_fixture.h"

using cpengine_test::Out;

namespace {

class Engine : public cpengine_test::EngineTest { };

// Python's two results, written as the first one's length, a newline and
// both one after the other.
std::pair<std::string, std::string> Split(const std::string& python)
{
    const size_t nl = python.find('\n');
    if (nl == std::string::npos)
        return {};
    const size_t n = std::stoul(python.substr(0, nl));
    return {python.substr(nl + 1, n), python.substr(nl + 1 + n)};
}

// Index of the first difference, for a readable failure.
std::string FirstDiff(const std::string& a, const std::string& b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        ++i;
    return "sizes " + std::to_string(a.size()) + "/" + std::to_string(b.size()) + ", first difference at " +
           std::to_string(i);
}

const struct {
    const char* cp;
    const char* codec;
} kSingleByte[] = {
    {"0120", "cp500"},     {"1100", "latin_1"},    {"1101", "ascii"},     {"1160", "cp1252"},    {"1401", "iso8859_2"},
    {"1500", "iso8859_5"}, {"1610", "iso8859_9"},  {"1700", "iso8859_7"}, {"1800", "iso8859_8"}, {"1103", "cp850"},
    {"1140", "latin_1"},   {"1164", "iso8859_15"}, {"1180", "latin_1"},   {"1403", "cp852"},     {"1404", "cp1250"},
    {"1503", "cp866"},     {"1504", "cp1251"},     {"1509", "koi8_u"},    {"1510", "koi8_r"},    {"1614", "cp1254"},
    {"1704", "cp1253"},    {"1804", "cp1255"},     {"1810", "iso8859_8"}, {"1900", "iso8859_4"}, {"1904", "cp1257"},
    {"8600", "tis_620"},   {"8604", "cp874"},      {"8700", "iso8859_6"}, {"8704", "cp1256"},    {"8805", "cp1258"}};

// Every scalar value of the basic and the second plane as UTF-8.
std::string TwoPlanes()
{
    std::string text;
    for (uint32_t c = 1; c < 0x30000; ++c) {
        if ((c >= 0xD800 && c < 0xE000) || (c >= 0x10000 && c < 0x20000))
            continue;
        if (c < 0x80)
            text += char(c);
        else if (c < 0x800)
            text += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        else if (c < 0x10000)
            text += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        else
            text += {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)), char(0x80 | (c >> 6 & 0x3F)),
                     char(0x80 | (c & 0x3F))};
    }
    return text;
}

}  // namespace

TEST_F(Engine, SingleBytePagesConvertEveryByteAndTheBasicPlaneAsPythonDoes)
{
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += char(b);
    std::string plane;
    for (uint32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue;
        const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (n == 1)
            plane += char(c);
        else if (n == 2)
            plane += {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        else
            plane += {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
    }
    for (const auto& page : kSingleByte) {
        // What cannot be converted becomes one "#" per character or byte.
        const std::string python = cporacle::RunPython(std::string("import sys\ncodec = '") + page.codec +
                                                           "'\ndec, enc = bytearray(), bytearray()\n"
                                                           "for b in range(256):\n"
                                                           "    try: dec += bytes([b]).decode(codec).encode('utf-8')\n"
                                                           "    except UnicodeError: dec += b'#'\n"
                                                           "for c in open(sys.argv[1], 'rb').read().decode('utf-8'):\n"
                                                           "    try: enc += c.encode(codec)\n"
                                                           "    except UnicodeError: enc += '#'.encode(codec)\n"
                                                           "sys.stdout.buffer.write(b'%d\\n' % len(dec) + dec + enc)\n",
                                                       plane);
        auto [expectDecoded, expectEncoded] = Split(python);
        ASSERT_FALSE(expectEncoded.empty()) << page.cp;
        // 1810 is 1800 but for the direction marks, which it drops (here
        // like a missing character).
        if (std::string(page.cp) == "1810")
            for (char& c : expectEncoded)
                c = c == '\xFD' || c == '\xFE' ? '#' : c;
        const std::string decoded = Convert(page.cp, "4110", bytes);
        EXPECT_TRUE(decoded == expectDecoded) << page.cp << ": " << FirstDiff(decoded, expectDecoded);
        const std::string encoded = Convert("4110", page.cp, plane);
        EXPECT_TRUE(encoded == expectEncoded) << page.cp << ": " << FirstDiff(encoded, expectEncoded);
        // Every byte of the page's characters comes back through UTF-8.
        EXPECT_EQ(Convert("4110", page.cp, decoded).size(), 256u) << page.cp;
    }
}

// Fault: 1810's build took 1800's table and then its rule that drops the
// left-to-right and right-to-left marks without leave to replace entries,
// so the marks came out as FD and FE as in 1800.  Reading is 1800's.
TEST_F(Engine, Page1810DropsTheDirectionMarksThat1800Writes)
{
    const std::string text = "a\xE2\x80\x8E"
                             "b\xE2\x80\x8F"
                             "c";
    EXPECT_EQ(Convert("4110", "1800", text), "a\xFD"
                                             "b\xFE"
                                             "c");
    for (auto [drop, expect] : {std::pair{RSCPDROP_REMOVE, "abc"}, std::pair{RSCPDROP_SPACE, "a b c"},
                                std::pair{RSCPDROP_LIKE_MISS, "a#b#c"}}) {
        rscpCObj_t o;
        ASSERT_EQ(rscpCInit(&o, "4110", "1810", RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER), 0u);
        rscpCSetOnDrop(&o, drop);
        ASSERT_EQ(rscpCActivate(&o), 0u);
        const Out r = Run(o, text, 32);
        EXPECT_EQ(r.rc, 0u) << drop;
        EXPECT_EQ(r.bytes, expect) << drop;
    }
    rscpCObj_t stop;
    ASSERT_EQ(rscpCInit(&stop, "4110", "1810", RSCPMISS_SUBSTITUTE, RSCPBROKEN_LIKE_MISS, RSCPFILL_NEVER), 0u);
    rscpCSetOnDrop(&stop, RSCPDROP_STOP);
    ASSERT_EQ(rscpCActivate(&stop), 0u);
    const Out r = Run(stop, text, 32);
    EXPECT_NE(r.rc, 0u);
    EXPECT_EQ(r.bytes, "a");
    EXPECT_EQ(Convert("1810", "4110",
                      "a\xFD"
                      "b\xFE"
                      "c"),
              text);
}

// Every single byte and every double-byte code that Python decodes to one
// character, read; every scalar value of the basic and the second plane
// written, "#" for what the page lacks (EUC-KR's eight-byte jamo forms of
// the syllables outside KS X 1001 are not carried).  Before the double-byte
// pages were carried, their catalogue rows had no segments or were missing.
TEST_F(Engine, DoubleBytePagesConvertEveryCodeAndTwoPlanesAsPythonDoes)
{
    const struct {
        const char* cp;
        const char* codec;
    } pages[] = {{"8004", "cp932"},     {"8300", "big5"},      {"8304", "cp950"}, {"8340", "big5hkscs"},
                 {"8341", "big5hkscs"}, {"8344", "big5hkscs"}, {"8400", "gbk"},   {"8404", "gbk"},
                 {"8450", "gb2312"},    {"8500", "euc_kr"},    {"8504", "cp949"}};
    const std::string planes = TwoPlanes();
    for (const auto& page : pages) {
        const std::vector<std::string> python = cporacle::EmittedByPython(
            std::string("codec = '") + page.codec +
                "'\n"
                "def dec(b):\n"
                "    try: s = bytes(b).decode(codec)\n"
                "    except UnicodeError: return None\n"
                "    return s if len(s) == 1 else None\n"
                "local, text = bytearray(), []\n"
                "for b in range(0x80, 0x100):\n"
                "    if dec([b]) is not None:\n"
                "        local.append(b); text.append(dec([b]))\n"
                "        continue\n"
                "    for t in range(0x40, 0x100):\n"
                "        if dec([b, t]) is not None: local += bytes([b, t]); text.append(dec([b, t]))\n"
                "enc = bytearray()\n"
                "for c in open(sys.argv[1], 'rb').read().decode('utf-8'):\n"
                "    try: e = c.encode(codec)\n"
                "    except UnicodeError: e = b'#'\n"
                "    enc += e if len(e) <= 4 else b'#'\n"
                "emit(bytes(local)); emit(''.join(text).encode('utf-8')); emit(bytes(enc))\n",
            planes);
        ASSERT_EQ(python.size(), 3u) << page.cp;
        const std::string decoded = Convert(page.cp, "4110", python[0]);
        EXPECT_TRUE(decoded == python[1]) << page.cp << ": " << FirstDiff(decoded, python[1]);
        const std::string encoded = Convert("4110", page.cp, planes);
        EXPECT_TRUE(encoded == python[2]) << page.cp << ": " << FirstDiff(encoded, python[2]);
    }
}

TEST_F(Engine, JapanesePagesDecodeWhatPythonEncodesAndEncodeWhatPythonDecodes)
{
    // Every JIS X 0208 character (and more) in Python's encoding of each page,
    // and every KS X 1001 character in ISO-2022-KR's (a page the store lacked).
    const struct {
        const char* cp;
        const char* codec;
    } pages[] = {{"8000", "shift_jis"}, {"8100", "euc_jp"}, {"8200", "iso2022_jp"}, {"8599", "iso2022_kr"}};
    for (const auto& page : pages) {
        const std::string python = cporacle::RunPython(
            std::string("import sys\ncodec = '") + page.codec +
            "'\nchars = []\n"
            "for c in range(0x20, 0x10000):\n"
            "    try:\n"
            "        e = chr(c).encode(codec)\n"
            "        if e.decode(codec) == chr(c): chars.append(chr(c))\n"
            "    except UnicodeError: pass\n"
            "text = ''.join(chars).encode('utf-8')\n"
            "sys.stdout.buffer.write(b'%d\\n' % len(text) + text + ''.join(chars).encode(codec))\n");
        const auto [utf8, local] = Split(python);
        ASSERT_GT(utf8.size(), 20000u);
        const std::string decoded = Convert(page.cp, "4110", local);
        EXPECT_TRUE(decoded == utf8) << page.cp << ": " << FirstDiff(decoded, utf8);
        // The page's own encoding (its designations may stand elsewhere)
        // decodes back to the text.
        const std::string encoded = Convert("4110", page.cp, utf8);
        EXPECT_TRUE(Convert(page.cp, "4110", encoded) == utf8) << page.cp;
    }
}

// Every scalar value through the tables between every two of the six wide
// forms.  Catches the UTF-16 little-endian input table that decided on the
// first byte of a unit (which says nothing there): every surrogate pair came
// out as two substitutes.  Also catches the noncharacters U+FDD0-U+FDEF,
// U+FFFE and U+FFFF, which the 16- and 32-bit tables left out.  A UCS-2
// target holds no supplementary character: each becomes one "#".
TEST_F(Engine, WideFormsConvertEveryScalarIntoEachOtherThroughTheTablesAsPythonDoes)
{
    const std::vector<std::string> p = cporacle::EmittedByPython(
        "every = ''.join(chr(c) for c in range(0x110000) if not 0xD800 <= c < 0xE000)\n"
        "bmp = ''.join(c for c in every if ord(c) < 0x10000)\n"
        "narrow = ''.join(c if ord(c) < 0x10000 else '#' for c in every)\n"
        "for codec in ('utf-16-be', 'utf-16-le'): emit(bmp.encode(codec)); emit(narrow.encode(codec))\n"
        "for codec in ('utf-16-be', 'utf-16-le', 'utf-32-be', 'utf-32-le'): emit(every.encode(codec)); "
        "emit(bmp.encode(codec))\n");
    ASSERT_EQ(p.size(), 12u) << "python3 is needed";
    // Per form: the text it holds, the basic plane alone, and (UCS-2 only)
    // the whole range with supplementary characters substituted.
    const struct {
        const char* cp;
        bool ucs2;
        const std::string &all, &bmp;
    } forms[] = {{"4100", true, p[1], p[0]},  {"4101", true, p[3], p[2]},  {"4102", false, p[4], p[5]},
                 {"4103", false, p[6], p[7]}, {"4104", false, p[8], p[9]}, {"4105", false, p[10], p[11]}};
    for (const auto& from : forms) {
        for (const auto& to : forms) {
            if (&from == &to)
                continue;
            const std::string& source = from.ucs2 ? from.bmp : from.all;
            const std::string& expect = from.ucs2 ? to.bmp : to.all;
            const std::string got = Convert(from.cp, to.cp, source, 4);
            EXPECT_TRUE(got == expect) << from.cp << "->" << to.cp << ": " << FirstDiff(got, expect);
        }
    }
}

// ISO-2022-JP that switches between ASCII (ESC ( B), JIS X 0201 Roman
// (ESC ( J) and JIS X 0208 (ESC $ B) at random, with redundant and missing
// designations, read whole and restarted at every byte; and the text written
// back, whole and from UTF-8 cut at every byte.  Python's codec is the
// oracle: after ESC ( J it reads 0x5C as U+00A5 and 0x7E as U+203E, and
// writes those two characters in Roman.
TEST_F(Engine, Iso2022RunsOfAllThreeSetsReadAndWriteAsPythonDoesAcrossEveryCut)
{
    const std::string python = cporacle::RunPython(
        "import random, sys\n"
        "r = random.Random(2022)\n"
        "pairs = [e[3:5] for e in (chr(c).encode('iso2022_jp', 'ignore') for c in range(0x4E00, 0x4F00))\n"
        "         if e[:3] == b'\\x1b$B' and len(e) == 8]\n"
        "single = b' AZaz09!\\\\\\\\~~{|}\\n\\r\\t'\n"
        "seq = {'B': b'\\x1b(B', 'J': b'\\x1b(J', 'K': b'\\x1b$B'}\n"
        "out, mode = b'\\x1b$B4A\\x1b(Jxy\\\\~\\x1b(B\\\\~', 'B'\n"
        "for i in range(150):\n"
        "    m = r.choice('BJK')\n"
        "    out += seq[m] * (r.choice([1, 1, 1, 2]) if m != mode else r.choice([0, 1]))\n"
        "    mode = m\n"
        "    out += b''.join(r.choice(pairs) for _ in range(r.randint(1, 3))) if m == 'K' else \\\n"
        "           bytes(r.choice(single) for _ in range(r.randint(1, 4)))\n"
        "out += seq['B'] * r.choice([0, 1])\n"
        "text = out.decode('iso2022_jp')\n"
        "enc = text.encode('iso2022_jp')\n"
        "utf8 = text.encode('utf-8')\n"
        "sys.stdout.buffer.write(b'%d %d\\n' % (len(out), len(utf8)) + out + utf8 + enc)\n");
    std::istringstream head(python);
    size_t jisLen = 0, utf8Len = 0;
    head >> jisLen >> utf8Len;
    const size_t at = python.find('\n') + 1;
    ASSERT_GT(jisLen, 500u) << "python3 is needed";
    const std::string jis = python.substr(at, jisLen), utf8 = python.substr(at + jisLen, utf8Len),
                      encoded = python.substr(at + jisLen + utf8Len);
    ASSERT_NE(utf8.find("\xC2\xA5"), std::string::npos);
    ASSERT_NE(utf8.find("\xE2\x80\xBE"), std::string::npos);
    ASSERT_NE(utf8.find("\\~"), std::string::npos);

    EXPECT_TRUE(Convert("8200", "4110", jis) == utf8) << FirstDiff(Convert("8200", "4110", jis), utf8);
    EXPECT_TRUE(Convert("4110", "8200", utf8) == encoded) << FirstDiff(Convert("4110", "8200", utf8), encoded);

    // One buffer cut in two: the first call leaves an open escape sequence,
    // pair or UTF-8 character to the second.
    auto twoCalls = [](const char* in, const char* out, const std::string& text, size_t cut) {
        rscpCObj_t o = Make(in, out, RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
        const Out a = Run(o, text.substr(0, cut), 4 * cut + 16);
        EXPECT_TRUE(a.rc == 0 || a.rc == RSCPEUNIQ) << cut;
        EXPECT_LE(cut - a.consumed, 3u) << cut;
        const std::string rest = text.substr(a.consumed);
        const Out b = Run(o, rest, 4 * rest.size() + 16);
        EXPECT_EQ(b.rc, 0u) << cut;
        EXPECT_EQ(b.consumed, rest.size()) << cut;
        return a.bytes + b.bytes;
    };
    size_t wrong = 0;
    for (size_t cut = 0; cut <= jis.size(); ++cut)
        if (twoCalls("8200", "4110", jis, cut) != utf8 && wrong++ == 0)
            ADD_FAILURE() << "8200 cut at " << cut;
    EXPECT_EQ(wrong, 0u);
    // Written in two calls the designations may repeat; Python reads each
    // result (separated by 0xFF, which 7-bit output never holds) as the text.
    std::string written;
    for (size_t cut = 0; cut <= utf8.size(); ++cut)
        written += twoCalls("4110", "8200", utf8, cut) + '\xFF';
    const std::string verdict = cporacle::RunPython(
        "import sys\n"
        "parts = open(sys.argv[1], 'rb').read().split(b'\\xff')[:-1]\n"
        "text = parts[0].decode('iso2022_jp')\n"
        "bad = [i for i, p in enumerate(parts) if p.decode('iso2022_jp') != text]\n"
        "print(len(parts), bad[:5])\n",
        written);
    EXPECT_EQ(verdict, std::to_string(utf8.size() + 1) + " []\n");
    EXPECT_TRUE(written.substr(0, written.find('\xFF')) == encoded);
}

// Fault: 8200 read JIS X 0208 only after ESC $ B; after ESC $ @ (the
// designation of the set's 1978 edition, which Python's codec reads as the
// same set) the pairs passed through as ASCII with status 0.  Random runs of
// ASCII, Roman and the double-byte set under either designation, read into
// UTF-8 (whole and restarted at every cut), into Shift-JIS and EUC-JP (by
// the tables and by the transforms) and measured; written back with ESC $ B.
TEST_F(Engine, Iso2022ReadsTheDoubleByteSetUnderBothDesignationsAsPythonDoes)
{
    const std::vector<std::string> p = cporacle::EmittedByPython(
        "import random\n"
        "r = random.Random(1978)\n"
        "pairs = []\n"
        "for a in range(0x21, 0x7F):\n"
        "    for b in range(0x21, 0x7F):\n"
        "        try:\n"
        "            t = (b'\\x1b$@' + bytes([a, b])).decode('iso2022_jp')\n"
        "            t.encode('shift_jis'); t.encode('euc_jp')\n"
        "            pairs.append(bytes([a, b]))\n"
        "        except UnicodeError: pass\n"
        "single = b' AZaz09!\\\\~{|}\\n'\n"
        "seq = {'B': b'\\x1b(B', 'J': b'\\x1b(J', '@': b'\\x1b$@', 'K': b'\\x1b$B'}\n"
        "def make(modes, n):\n"
        "    out, mode = b'', 'B'\n"
        "    for i in range(n):\n"
        "        m = r.choice(modes)\n"
        "        out += seq[m] * (1 if m != mode else r.choice([0, 1]))\n"
        "        mode = m\n"
        "        out += b''.join(r.choice(pairs) for _ in range(r.randint(1, 3))) if m in '@K' else \\\n"
        "               bytes(r.choice(single) for _ in range(r.randint(1, 4)))\n"
        "    return out + seq['B']\n"
        "full = make('BJ@K', 150)\n"
        "text = full.decode('iso2022_jp')\n"
        "emit(full); emit(text.encode('utf-8')); emit(text.encode('iso2022_jp'))\n"
        "plain = make('B@K', 150)\n"
        "text = plain.decode('iso2022_jp')\n"
        "emit(plain); emit(text.encode('shift_jis')); emit(text.encode('euc_jp'))\n"
        "emit(len(pairs).to_bytes(4, 'big'))\n");
    ASSERT_EQ(p.size(), 7u) << "python3 is needed";
    const std::string &jis = p[0], &utf8 = p[1], &encoded = p[2], &plain = p[3], &sjis = p[4], &euc = p[5];
    ASSERT_NE(jis.find("\x1B$@"), std::string::npos);
    ASSERT_NE(jis.find("\x1B$B"), std::string::npos);
    ASSERT_EQ(p[6].size(), 4u);
    EXPECT_GT(uint8_t(p[6][2]) << 8 | uint8_t(p[6][3]), 6000) << "pairs of the double-byte set";

    EXPECT_TRUE(Convert("8200", "4110", jis) == utf8) << FirstDiff(Convert("8200", "4110", jis), utf8);
    const std::string written = Convert("4110", "8200", utf8);
    EXPECT_TRUE(written == encoded) << FirstDiff(written, encoded);
    EXPECT_EQ(written.find("\x1B$@"), std::string::npos);
    size_t wrong = 0;
    for (size_t cut = 0; cut <= jis.size(); ++cut) {
        rscpCObj_t o = Make("8200", "4110", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
        const Out a = Run(o, jis.substr(0, cut), 4 * cut + 16);
        const std::string rest = jis.substr(a.consumed);
        const Out b = Run(o, rest, 4 * rest.size() + 16);
        if ((a.bytes + b.bytes != utf8 || b.rc != 0) && wrong++ == 0)
            ADD_FAILURE() << "8200 cut at " << cut;
    }
    EXPECT_EQ(wrong, 0u);

    EXPECT_TRUE(Convert("8200", "8000", plain) == sjis) << FirstDiff(Convert("8200", "8000", plain), sjis);
    EXPECT_TRUE(Convert("8200", "8100", plain) == euc) << FirstDiff(Convert("8200", "8100", plain), euc);
    for (auto [fn, expect] : {std::pair{&rscpIso2022ToSjisBuf, &sjis}, std::pair{&rscpIso2022ToEucBuf, &euc}}) {
        std::string out(2 * plain.size(), '\0');
        int32_t outLen = int32_t(out.size()), inLen = int32_t(plain.size());
        EXPECT_EQ(
            fn(reinterpret_cast<uint8_t*>(out.data()), &outLen, reinterpret_cast<const uint8_t*>(plain.data()), &inLen),
            0u);
        EXPECT_EQ(inLen, int32_t(plain.size()));
        out.resize(size_t(outLen));
        EXPECT_TRUE(out == *expect) << FirstDiff(out, *expect);
    }
    const uint8_t run[] = {0x1B, '$', '@', 0x30, 0x21, 0x30, 0x22, 0x1B, '(', 'J', 'x'};
    EXPECT_EQ(rscpLengthOfMBChar(run, 11, 2), 10u);
}

// Fault: 8599 read its designation ESC $ ) C only directly before SO; on
// its own (once before the text of a line, as such text is written, again,
// or inside a run) it went into the output as it stood, with status 0; SO
// without any designation read the double-byte set, and a line feed in a
// run became "#".  Random text of designations, shifts, line feeds, ASCII
// (with backslashes and escape sequences of other kinds) and pairs (many
// with a second byte 0x5C) against Python's decoder: whole, into EUC-KR,
// stopped at every cut as Python's incremental decoder stops and then
// finished; and the backslash step of local names agrees on which 0x5C
// bytes are characters.
TEST_F(Engine, Iso2022KrReadsItsDesignationWhereverItStandsAsPythonDoes)
{
    const std::vector<std::string> p = cporacle::EmittedByPython(
        "import codecs, random\n"
        "r = random.Random(1557)\n"
        "pairs = [bytes([a, b]) for a in range(0x21, 0x7F) for b in range(0x21, 0x7F)\n"
        "         if len((b'\\x1b$)C\\x0e' + bytes([a, b])).decode('iso2022_kr', 'ignore')) == 1]\n"
        "pairs += [q for q in pairs if q[1] == 0x5C] * 40\n"
        "seq = {'des': b'\\x1b$)C', 'so': b'\\x0e', 'si': b'\\x0f', 'lf': b'\\n'}\n"
        "text, g1, out = b'a\\x0eGQ\\\\\\x0f\\x1b$)CHello \\x0e', True, True\n"
        "for i in range(400):\n"
        "    k = r.choice(['des', 'so', 'si', 'lf', 'esc', 'text', 'text', 'text'])\n"
        "    g1, out = g1 or k == 'des', (out or k == 'so') and k not in ('si', 'lf')\n"
        "    if k in seq: text += seq[k]\n"
        "    elif g1 and out: text += b''.join(r.choice(pairs) for _ in range(r.randint(1, 3)))\n"
        "    elif k == 'esc': text += b'\\x1b' + bytes([r.choice(b'xz09'), r.choice(b'BNZ')])\n"
        "    else: text += bytes(r.choice(b' AZaz09!~\\\\\\\\\\\\') for _ in range(r.randint(1, 4)))\n"
        "s = text.decode('iso2022_kr')\n"
        "emit(text); emit(s.encode('utf-8')); emit(s.encode('euc_kr')); emit(s.replace('\\\\', '/').encode('utf-8'))\n"
        "cuts = []\n"
        "for c in range(len(text) + 1):\n"
        "    d = codecs.getincrementaldecoder('iso2022_kr')()\n"
        "    cuts.append(b'%d %d' % (len(d.decode(text[:c]).encode('utf-8')), c - len(d.getstate()[0])))\n"
        "emit(b' '.join(cuts))\n");
    ASSERT_EQ(p.size(), 5u) << "python3 is needed";
    const std::string &kr = p[0], &utf8 = p[1], &euc = p[2], &slashed = p[3];
    ASSERT_EQ(utf8.substr(0, 10), "aGQ\\Hello ");
    EXPECT_TRUE(Convert("8599", "4110", kr) == utf8) << FirstDiff(Convert("8599", "4110", kr), utf8);
    EXPECT_TRUE(Convert("8599", "8500", kr) == euc) << FirstDiff(Convert("8599", "8500", kr), euc);
    std::istringstream cuts(p[4]);
    size_t wrong = 0;
    for (size_t cut = 0; cut <= kr.size(); ++cut) {
        size_t produced = 0, consumed = 0;
        cuts >> produced >> consumed;
        rscpCObj_t o = Make("8599", "4110", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
        const Out a = Run(o, kr.substr(0, cut), 4 * cut + 16);
        const Out b = Run(o, kr.substr(a.consumed), 4 * kr.size() + 16);
        if ((a.bytes != utf8.substr(0, produced) || a.consumed != consumed || a.bytes + b.bytes != utf8 || b.rc != 0) &&
            wrong++ == 0)
            ADD_FAILURE() << "cut at " << cut << ": " << a.bytes.size() << "/" << produced << " bytes, " << a.consumed
                          << "/" << consumed << " read";
    }
    EXPECT_EQ(wrong, 0u);
    ASSERT_EQ(kovlcpSetLocalCodePageFromProfile("8599"), 0);
    std::string name = kr;
    BackslashToSlashCP(name.data(), name.size());
    kovlcpResetLocalCodePage();
    EXPECT_TRUE(Convert("8599", "4110", name) == slashed) << FirstDiff(Convert("8599", "4110", name), slashed);
}

TEST_F(Engine, HostileUtf8BecomesOneSubstitutePerMaximalPrefixAndNeverASlashOrNul)
{
    // Every two-byte sequence with a high first byte, and three- and
    // four-byte sequences around every boundary, each followed by "/".
    std::string in;
    for (int a = 0x80; a < 0x100; ++a)
        for (int b = 0; b < 0x100; ++b)
            in += {char(a), char(b), '/'};
    const int edges[] = {0x00, 0x2F, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xAF, 0xBF, 0xC0, 0xFF};
    for (int a = 0xE0; a < 0x100; ++a)
        for (int b : edges)
            for (int c : edges) {
                in += {char(a), char(b), char(c), '/'};
                for (int d : {0x2F, 0x80, 0xBF})
                    in += {char(a), char(b), char(c), char(d), '/'};
            }
    const std::string python = cporacle::RunPython(
        "import sys\nout = bytearray()\n"
        "for c in open(sys.argv[1], 'rb').read().decode('utf-8', 'replace'):\n"
        "    out += b'#' if ord(c) > 255 else bytes([ord(c)])\n"
        "sys.stdout.buffer.write(bytes(out))\n",
        in);
    ASSERT_FALSE(python.empty());
    const std::string local = Convert("4110", "1100", in);
    EXPECT_TRUE(local == python) << FirstDiff(local, python);
    // A "/" or NUL only where the source held one.
    for (char special : {'/', '\0'}) {
        size_t inCount = 0, outCount = 0;
        for (char ch : in)
            inCount += ch == special;
        for (char ch : local)
            outCount += ch == special;
        EXPECT_EQ(outCount, inCount) << int(special);
    }
}

TEST_F(Engine, ExitsFillOverflowTrailingSpacesAndStatistics)
{
    rscpCObj_t o = Make("1100", "4110");
    // Exactly as long as the output, and one byte short: the cursors stand
    // after the last whole character.
    EXPECT_EQ(Run(o, "a\xE4", 3).rc, 0u);
    Out r = Run(o, "a\xE4", 2);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, "a");
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(LastText().find("convert output buffer overflow"), 0u) << LastText();

    // Empty source: filled with zero bytes or spaces; the fill is not counted.
    rscpCObj_t nulls = Make("1100", "4110", 1, 1, RSCPFILL_NULLS);
    const uint64_t before = rscph_HookTable.ctl->bytesOut;
    r = Run(nulls, "", 4);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.bytes, std::string(4, '\0'));
    EXPECT_EQ(rscph_HookTable.ctl->bytesOut, before);
    rscpCObj_t spaces = Make("1100", "4110", 1, 1, RSCPFILL_SPACES);
    EXPECT_EQ(Run(spaces, "ab", 5).bytes, "ab   ");
    // A two-byte space does not fit an odd rest.
    rscpCObj_t wide = Make("1100", "4103", 1, 1, RSCPFILL_SPACES);
    r = Run(wide, "a", 5);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.bytes, std::string("a\0", 2));
    EXPECT_EQ(LastText(), "spaces don't fit into rest");
    EXPECT_EQ(Run(wide, "a", 6).bytes, std::string("a\0 \0 \0", 6));

    // Trailing spaces that do not fit are consumed; another character is not.
    rscpCObj_t trunc = Make("1100", "4110", 1, 1, RSCPFILL_AND_TRUNC_SPACES);
    r = Run(trunc, "ab   ", 2);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, 5u);
    r = Run(trunc, "ab  x", 2);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.consumed, 2u);

    const uint64_t in = rscph_HookTable.ctl->bytesIn;
    Run(o, "xyz", 8);
    EXPECT_EQ(rscph_HookTable.ctl->bytesIn, in + 3);
}

TEST_F(Engine, CutCharactersRestartsAndSubstitutes)
{
    // A character cut by the end: 512 before it when stopping, one
    // substitute for the rest with "like_miss".
    rscpCObj_t stop = Make("4110", "1100", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY);
    Out r = Run(stop, "a\xC3", 8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(LastText(), "input character broken");
    rscpCObj_t miss = Make("4110", "1100");
    r = Run(miss, "a\xE2\x82", 8);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.bytes, "a#");
    EXPECT_EQ(r.consumed, 3u);
    EXPECT_EQ(miss.noof_subst, 1u);
    // A cut whose bytes are already broken is broken, not cut: "A" stays.
    EXPECT_EQ(Run(miss,
                  "\xE2"
                  "A",
                  8)
                  .bytes,
              "#A");
    // Without substitution a character the target lacks stops the call.
    r = Run(stop, "x\xE2\x82\xACy", 8);
    EXPECT_EQ(r.rc, RSCPENOCONV);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(LastText(), "character not convertable");

    // rscp/mbc_copy 3: one substitute per byte of a missing character.
    rscpmp->mbcCopy = 3;
    EXPECT_EQ(Run(miss, "\xE2\x82\xAC", 8).bytes, "###");
    rscpmp->mbcCopy = 2;

    // ISO-2022: a shift made in one call is in force in the next only when
    // the converter is restartable.
    const std::string kanji = "\xE6\xBC\xA2";  // U+6F22
    const std::string shift = "\x1B$B", code = "\x34\x41";
    for (int32_t broken : {RSCPBROKEN_STOP_RESTARTABLE, RSCPBROKEN_STOP_FINALLY}) {
        rscpCObj_t jis = Make("8200", "4110", RSCPMISS_SUBSTITUTE, broken);
        ASSERT_EQ(jis.method, 41);
        EXPECT_EQ(Run(jis, shift, 8).rc, 0u);
        r = Run(jis, code, 8);
        EXPECT_EQ(r.bytes, broken == RSCPBROKEN_STOP_RESTARTABLE ? kanji : "4A") << broken;
    }
    // A restartable call that stops inside the escape sequence goes on with
    // the rest prepended.
    rscpCObj_t jis = Make("8200", "4110", RSCPMISS_SUBSTITUTE, RSCPBROKEN_STOP_RESTARTABLE);
    r = Run(jis, "a\x1B$", 8);
    EXPECT_EQ(r.rc, RSCPEUNIQ);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(Run(jis, "\x1B$B" + code + "\x1B(B", 8).bytes, kanji);
    // With "like_miss" a cut escape sequence ends in the code it begins
    // with: ESC is a control character of its own, "$" is read again.
    rscpCObj_t esc = Make("8200", "4110");
    EXPECT_EQ(Run(esc, "a\x1B$", 8).bytes, "a\x1B$");
}

TEST_F(Engine, BuffersAreCheckedAndAStaleConverterIsActivatedAgain)
{
    rscpCObj_t o = Make("1100", "4110");
    // In place: up to 512 bytes from a copy; more, or a partial overlap, or
    // an end before its cursor, is refused with the cursors unchanged.
    std::vector<uint8_t> buf(2048, 'a');
    for (size_t n : {512u, 513u}) {
        uint8_t* d = buf.data();
        const uint8_t* s = buf.data();
        const uint32_t rc = rscpCConvert(&o, &d, buf.data() + buf.size(), &s, buf.data() + n);
        EXPECT_EQ(rc, n == 512 ? 0u : RSCPEINVAL) << n;
        EXPECT_EQ(s - buf.data(), n == 512 ? 512 : 0) << n;
    }
    uint8_t* d = buf.data() + 10;
    const uint8_t* s = buf.data();
    EXPECT_EQ(rscpCConvert(&o, &d, buf.data() + 100, &s, buf.data() + 20), RSCPEINVAL);
    EXPECT_EQ(d, buf.data() + 10);
    EXPECT_EQ(rscpCConvert(&o, &d, buf.data() + 5, &s, buf.data() + 20), RSCPEINVAL);
    d = buf.data() + 1000;
    EXPECT_EQ(rscpCConvert(&o, &d, buf.data() + 1010, &s, buf.data() - 1), RSCPEINVAL);
    EXPECT_EQ(rscpCConvert(nullptr, &d, buf.data() + 1010, &s, buf.data() + 2), RSCPENOCONV);
    rscpCObj_t never;
    rscpCInit(&never, "1100", "4110", 1, 1, 0);
    EXPECT_EQ(rscpCConvert(&never, &d, buf.data() + 1010, &s, buf.data() + 2), RSCPENOCONV);
    EXPECT_EQ(LastText(), "unsupported table/NLS codepages pair");

    // After an invalidation the next call re-activates the converter.
    ASSERT_EQ(rscpict3_invalidate_convert_tables(0, 0, "test", 4, RSCP_ALL_ERRORS), 0u);
    EXPECT_NE(o.timestamp, rscpmp->reorgVersion);
    EXPECT_EQ(Run(o, "\xE9", 4).bytes, "\xC3\xA9");
    EXPECT_EQ(o.timestamp, rscpmp->reorgVersion);
    // The same code page on both sides is a copy.
    rscpCObj_t same = Make("4110", "4110");
    EXPECT_EQ(same.method, RSCPMETH_DIRECT);
    Out r = Run(same, "\xFF\xC3", 1);
    EXPECT_EQ(r.rc, RSCPETOOLONG);
    EXPECT_EQ(r.bytes, "\xFF");
}
