// The wrappers around the engine (byte-order-neutral buffers, one character
// at a time, unit by unit, strict then substituting, lengths) and the flat
// shortcut tables, against Python's codecs, through round trips and with
// hostile lengths and alignments.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpflat.h"
#include "krn/rscp/cpwrap.h"
#include "tests/unit/krn/cp_oracle.h"
#include "tests/unit/krn/cpengine_fixture.h"

namespace {

typedef uint32_t (*Wrapper)(rscpCObj_t*, uint8_t**, uint8_t*, const uint8_t**, const uint8_t*);

using cpengine_test::Out;

class Wrap : public cpengine_test::EngineTest {
protected:
    // An activated object with own characters ignored, as the flat tables
    // want it.
    static rscpCObj_t Plain(const char* in, const char* out)
    {
        rscpCObj_t o = Make(in, out);
        rscpCSetKOVOwnChCv(&o, RSCPOWN_IGNORE);
        EXPECT_EQ(rscpCActivate(&o), 0u) << in << "->" << out;
        return o;
    }
    // Runs fn from a heap copy of in placed at srcOffset into a heap
    // destination of room bytes at dstOffset (both of exactly their size
    // behind the offset, the destination pre-filled with 'Z').
    static Out Call(Wrapper fn, rscpCObj_t& o, const std::string& in, size_t room, size_t srcOffset = 0,
                    size_t dstOffset = 0)
    {
        std::vector<uint8_t> source(srcOffset + in.size()), dest(dstOffset + room, 'Z');
        if (!in.empty())
            std::memcpy(source.data() + srcOffset, in.data(), in.size());
        uint8_t* d = dest.data() + dstOffset;
        const uint8_t* s = source.data() + srcOffset;
        const uint32_t rc = fn(&o, &d, dest.data() + dest.size(), &s, source.data() + source.size());
        return {rc, std::string(reinterpret_cast<char*>(dest.data()) + dstOffset, d - dest.data() - dstOffset),
                size_t(s - source.data() - srcOffset)};
    }
    std::string LastId() const
    {
        const rscpErrRecord* r = rscpe_get_error_record();
        return r->count == 0 ? "" : std::string(r->entries[EntriesShown(*r) - 1].msgId, 3);
    }
    static int32_t EntriesShown(const rscpErrRecord& r) { return r.count < 5 ? r.count : 5; }
};

std::string Bytes256()
{
    std::string b;
    for (int i = 0; i < 256; ++i)
        b += char(i);
    return b;
}

// 16-bit entries of a table as the big-endian bytes Python writes.
std::string BigEndian(const uint16_t* table, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += {char(table[i] >> 8), char(table[i] & 0xFF)};
    return s;
}

}  // namespace

TEST_F(Wrap, NeutralFormsConvertBigEndianUnitsAtEveryAlignmentAndLength)
{
    // Every byte of two single-byte pages as big-endian UTF-16.
    const std::vector<std::string> parts = cporacle::EmittedByPython(
        "b = bytes(range(256))\n"
        "l, e = b.decode('latin_1').encode('utf-16-be'), b.decode('cp500').encode('utf-16-be')\n"
        "u = b.decode('latin_1').encode('utf-8')\n"
        "emit(l); emit(e); emit(u)\n");
    ASSERT_EQ(parts.size(), 3u);
    const struct {
        const char* cp;
        std::string units;
    } pages[] = {{"1100", parts[0]}, {"0120", parts[1]}};
    const std::string bytes = Bytes256();
    for (const auto& page : pages) {
        for (const char* wide : {"4103", "4102"}) {
            rscpCObj_t toWide = Make(page.cp, wide), fromWide = Make(wide, page.cp);
            for (size_t n : {0, 1, 3, 255, 1023, 1024, 1025, 2049, 5000}) {
                std::string text, units;
                for (size_t i = 0; i < n; ++i) {
                    text += bytes[(i * 7) % 256];
                    units += page.units.substr(2 * ((i * 7) % 256), 2);
                }
                for (Wrapper fn : {rscpCConvertNeutral, rscpCConvertNeutralA})
                    for (size_t so : {0, 1})
                        for (size_t dof : {0, 1}) {
                            const std::string where = std::string(page.cp) + "/" + wide + " n=" + std::to_string(n) +
                                                      " offsets " + std::to_string(so) + "," + std::to_string(dof);
                            // The "A" form skips the first byte of an odd
                            // destination of a 16-bit target.
                            const bool skip = fn == rscpCConvertNeutralA && dof == 1 && n > 0;
                            Out r = Call(fn, toWide, text, 2 * n + 1, so, dof);
                            ASSERT_EQ(r.rc, 0u) << where;
                            EXPECT_EQ(r.consumed, n) << where;
                            EXPECT_TRUE(r.bytes == (skip ? "Z" : "") + units) << where;
                            r = Call(fn, fromWide, units, n, so, dof);
                            ASSERT_EQ(r.rc, 0u) << where;
                            EXPECT_EQ(r.consumed, 2 * n) << where;
                            EXPECT_TRUE(r.bytes == text) << where;
                        }
            }
            // A destination too short: whole units up to its end, the
            // cursors after them.
            const Out r = Call(rscpCConvertNeutral, toWide, "abcdef", 7, 0, 1);
            EXPECT_EQ(r.rc, 32u);
            EXPECT_EQ(r.consumed, 3u);
            EXPECT_EQ(r.bytes.size(), 6u);
        }
    }

    // Between the two byte orders the neutral form is the same on both
    // sides; UTF-8 has units of one byte.
    for (const char* order : {"4102", "4103"}) {
        rscpCObj_t swap = Make(order, order[3] == '2' ? "4103" : "4102");
        Out r = Call(rscpCConvertNeutral, swap, parts[0], 512, 1, 1);
        EXPECT_EQ(r.rc, 0u) << order;
        EXPECT_TRUE(r.bytes == parts[0]) << order;
        rscpCObj_t toUtf8 = Make(order, "4110"), fromUtf8 = Make("4110", order);
        r = Call(rscpCConvertNeutralA, toUtf8, parts[0], 512, 1, 0);
        EXPECT_EQ(r.rc, 0u) << order;
        EXPECT_TRUE(r.bytes == parts[2]) << order;
        r = Call(rscpCConvertNeutral, fromUtf8, parts[2], 512, 0, 1);
        EXPECT_EQ(r.rc, 0u) << order;
        EXPECT_TRUE(r.bytes == parts[0]) << order;
    }

    // Hostile calls: nothing converted, the cursors where they were.
    rscpCObj_t o = Make("4103", "1100");
    uint8_t buf[64] = {};
    const uint8_t* s = buf;
    uint8_t* d = buf + 32;
    EXPECT_EQ(rscpCConvertNeutral(&o, &d, buf + 64, &s, buf + 5), 16u);  // odd 16-bit source
    EXPECT_EQ(LastId(), "CP7");
    EXPECT_TRUE(s == buf && d == buf + 32);
    d = buf;
    EXPECT_EQ(rscpCConvertNeutralA(&o, &d, buf + 64, &s, buf + 4), 16u);  // the same cursor
    EXPECT_EQ(LastId(), "CP9");
    d = buf + 2;
    EXPECT_EQ(rscpCConvertNeutral(&o, &d, buf + 64, &s, buf + 4), 16u);  // overlapping windows
    d = buf + 32;
    EXPECT_EQ(rscpCConvertNeutral(&o, &d, buf + 31, &s, buf + 4), 16u);  // an end before its cursor
    EXPECT_EQ(rscpCConvertNeutral(nullptr, &d, buf + 64, &s, buf + 4), 2048u);
    rscpCObj_t ucs4 = Make("4105", "1100");
    EXPECT_EQ(rscpCConvertNeutral(&ucs4, &d, buf + 64, &s, buf + 4), 2048u);
    EXPECT_EQ(LastId(), "F2K");
    EXPECT_TRUE(s == buf && d == buf + 32);
    EXPECT_EQ(rscpCConvertNeutral(&o, &d, buf + 64, &s, buf), 0u);  // empty
}

TEST_F(Wrap, NeutralAPadsFixedFieldsWithTheSpaceInItsNeutralForm)
{
    // "A", HIRAGANA LETTER A (two Shift-JIS bytes), "B": four source units
    // give three target units, so one space follows, written big-endian
    // although the target is little-endian.
    rscpCObj_t o = Make("8000", "4103");
    const std::string text = "A\x82\xa0"
                             "B";
    const std::string units = std::string("\0A\x30\x42\0B", 6);
    Out r = Call(rscpCConvertNeutralA, o, text, 12);
    ASSERT_EQ(r.rc, 0u);
    EXPECT_TRUE(r.bytes == units + std::string("\0 ", 2));
    // Not past the destination's end, and only whole spaces.
    r = Call(rscpCConvertNeutralA, o, text, 7);
    ASSERT_EQ(r.rc, 0u);
    EXPECT_TRUE(r.bytes == units);
    // The plain form does not pad; a failed call is not padded either.
    EXPECT_TRUE(Call(rscpCConvertNeutral, o, text, 12).bytes == units);
    r = Call(rscpCConvertNeutralA, o, text, 5);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.bytes.size(), 4u);
    // An odd destination without room for anything.
    r = Call(rscpCConvertNeutralA, o, text, 0, 0, 1);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.consumed, 0u);
}

TEST_F(Wrap, OneCharStepsThroughTextsCharacterByCharacterLikePython)
{
    const std::vector<std::string> parts = cporacle::EmittedByPython(
        "t = 'ab \\uff71\\u3042\\u6f22\\u5b57-\\u00b6x\\u00a7\\u30fc' * 3\n"
        "s, u, w = t.encode('shift_jis'), t.encode('utf-8'), t.encode('utf-16-le')\n"
        "emit(s); emit(u); emit(w)\n");
    ASSERT_EQ(parts.size(), 3u);
    const std::string &sjis = parts[0], &utf8 = parts[1], &utf16 = parts[2];
    const size_t characters = utf16.size() / 2;  // no character outside the basic plane

    // Both directions one character a call: every call consumes exactly one
    // character, and the pieces make Python's text.
    struct Case {
        const char* in;
        const char* out;
        const std::string& source;
        const std::string& expect;
    } cases[] = {{"8000", "4110", sjis, utf8}, {"4103", "8000", utf16, sjis}};
    for (const Case& c : cases) {
        rscpCObj_t o = Make(c.in, c.out);
        std::string out(64, 'Z');
        std::string result;
        size_t calls = 0;
        const uint8_t* s = reinterpret_cast<const uint8_t*>(c.source.data());
        const uint8_t* end = s + c.source.size();
        while (s < end) {
            uint8_t* d = reinterpret_cast<uint8_t*>(out.data());
            const uint8_t* before = s;
            ASSERT_EQ(rscpCConvertOneChar(&o, &d, d + out.size(), &s, end), 0u)
                << c.in << " at " << before - reinterpret_cast<const uint8_t*>(c.source.data());
            ASSERT_GT(s, before);
            result.append(out.data(), size_t(d - reinterpret_cast<uint8_t*>(out.data())));
            ++calls;
        }
        EXPECT_TRUE(result == c.expect) << c.in << "->" << c.out;
        EXPECT_EQ(calls, characters) << c.in << "->" << c.out;
        EXPECT_EQ(o.broken, uint32_t(RSCPBROKEN_LIKE_MISS));  // restored after every call
    }

    rscpCObj_t o = Make("8000", "4110");
    // A cut double-byte character, and a destination too short for the
    // character's three bytes.
    EXPECT_EQ(Call(rscpCConvertOneChar, o, "\x82", 8).rc, 512u);
    EXPECT_EQ(LastId(), "CPW");
    Out r = Call(rscpCConvertOneChar, o, "\x82\xa0", 2);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.consumed, 0u);
    r = Call(rscpCConvertOneChar, o, "\x82\xa0zz", 3);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, 2u);
    EXPECT_TRUE(r.bytes == "\xe3\x81\x82");
    rscpCSetFillRest(&o, RSCPFILL_AND_TRUNC_SPACES);
    EXPECT_EQ(Call(rscpCConvertOneChar, o, "a", 8).rc, 64u);
    // An object whose spaces were never loaded (same code page: a copy,
    // which knows no characters, only units).
    rscpCObj_t same = Make("8000", "8000");
    EXPECT_EQ(same.in_space_len, 0);
    r = Call(rscpCConvertOneChar, same, "\x82\xa0", 8);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(same.in_space_len, 1);
}

TEST_F(Wrap, UnitsReplaceEachUnconvertibleUnitAndFillOnlyAtTheEnd)
{
    const std::vector<std::string> parts = cporacle::EmittedByPython(
        "t = 'plain \\u00e9t\\u00e9 \\u20ac5 \\U0001f600!'\n"
        "w = t.encode('utf-16-le')\n"
        "a = bytes(u if u < 128 else 35 for u in [w[i] | w[i+1] << 8 for i in range(0, len(w), 2)])\n"
        "emit(w); emit(a)\n");
    ASSERT_EQ(parts.size(), 2u);
    rscpCObj_t o = Make("4103", "1101", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY);
    Out r = Call(rscpCConvertUnits, o, parts[0], 64);
    ASSERT_EQ(r.rc, 0u);
    EXPECT_TRUE(r.bytes == parts[1]) << r.bytes;
    // The fill of the rest comes once, after the last unit.
    rscpCSetFillRest(&o, RSCPFILL_NULLS);
    r = Call(rscpCConvertUnits, o, parts[0], 64);
    ASSERT_EQ(r.rc, 0u);
    EXPECT_TRUE(r.bytes == parts[1] + std::string(64 - parts[1].size(), '\0'));
    // Truncated trailing spaces still count as converted.
    rscpCSetFillRest(&o, RSCPFILL_AND_TRUNC_SPACES);
    r = Call(rscpCConvertUnits, o, std::string("a\0b\0 \0 \0", 8), 2);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, 8u);
    rscpCSetFillRest(&o, RSCPFILL_NEVER);
    // A half unit at the end, after the whole ones; less than one unit.
    r = Call(rscpCConvertUnits, o, std::string("a\0b", 3), 8);
    EXPECT_EQ(r.rc, 512u);
    EXPECT_EQ(r.consumed, 2u);
    EXPECT_TRUE(r.bytes == "a");
    EXPECT_EQ(Call(rscpCConvertUnits, o, "a", 8).rc, 512u);
    EXPECT_EQ(LastId(), "CPW");
    // No room for the '#'.
    EXPECT_EQ(Call(rscpCConvertUnits, o, std::string("\xe9\0", 2), 0, 0, 1).rc, 32u);
}

TEST_F(Wrap, SubstRetryReportsTheFirstErrorAndConvertsAgainWithSubstitutes)
{
    rscpCObj_t o = Make("1100", "1101");
    const std::string text = "ab\xe9"
                             "cd\xe8";
    std::vector<uint8_t> dest(16, 'Z');
    uint8_t* d = dest.data();
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t substs = 10;
    int32_t consumed = -1, produced = -1, errLen = 2;
    uint8_t errBytes[2] = {};
    EXPECT_EQ(
        rscpCConvertSubstRetry(&o, &d, d + 16, &s, s + text.size(), &substs, &consumed, &produced, errBytes, &errLen),
        0u);
    EXPECT_EQ(consumed, 2);
    EXPECT_EQ(produced, 2);
    EXPECT_EQ(errLen, 2);
    EXPECT_EQ(std::memcmp(errBytes,
                          "\xe9"
                          "c",
                          2),
              0);
    EXPECT_EQ(substs, 12u);
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(dest.data()), d - dest.data()) == "ab#cd#");
    EXPECT_EQ(o.use_c_subst, 1);
    EXPECT_EQ(o.broken, uint32_t(RSCPBROKEN_STOP_RESTARTABLE));
    // A clean run leaves the out values but the length alone; no pointers needed.
    d = dest.data();
    s = reinterpret_cast<const uint8_t*>(text.data());
    errLen = 2;
    EXPECT_EQ(rscpCConvertSubstRetry(&o, &d, d + 16, &s, s + 2, nullptr, nullptr, nullptr, nullptr, &errLen), 0u);
    EXPECT_EQ(errLen, 0);
    EXPECT_EQ(o.use_c_subst, 0);
    d = dest.data();
    EXPECT_EQ(rscpCConvertSubstRetry(&o, &d, d + 16, &s, s + 4, nullptr, nullptr, nullptr, nullptr, nullptr), 0u);

    // The form with lengths.
    uint32_t room = 3, length = uint32_t(text.size());
    EXPECT_EQ(rscpCConvertLen(dest.data(), &room, reinterpret_cast<const uint8_t*>(text.data()), &length, &o), 32u);
    EXPECT_EQ(room, 3u);
    EXPECT_EQ(length, 3u);
    room = 0x80000000u;
    EXPECT_EQ(rscpCConvertLen(dest.data(), &room, reinterpret_cast<const uint8_t*>(text.data()), &length, &o), 16u);
}

TEST_F(Wrap, UnicodeToBytesTablesHoldWhatPythonEncodes)
{
    // Every code unit of the basic plane in three pages; a character a page
    // lacks holds the page's own '#'.
    const std::vector<std::string> parts = cporacle::EmittedByPython(
        "for codec in ('latin_1', 'cp500', 'shift_jis'):\n"
        "    t = bytearray()\n"
        "    for c in range(0x10000):\n"
        "        try: e = chr(c).encode(codec)\n"
        "        except UnicodeError: e = '#'.encode(codec)\n"
        "        t += (b'\\0' + e) if len(e) == 1 else e\n"
        "    emit(bytes(t))\n");
    ASSERT_EQ(parts.size(), 3u);
    const char* pages[] = {"1100", "0120", "8000"};
    std::vector<uint16_t> table(RSCP_FLAT_ALL_ENTRIES);
    for (int i = 0; i < 3; ++i)
        for (const char* wide : {"4102", "4103"}) {
            rscpCObj_t o = Plain(wide, pages[i]);
            rscpCSetDrop(&o, RSCPDROP_LIKE_MISS);
            EXPECT_EQ(rscpBuildU2ToBytesTable(&o, table.data()), 16u) << "method tab is not a UTF-16 method";
            o.method = wide[3] == '2' ? 33 : 35;  // the UTF-16 methods read these same output tables
            ASSERT_EQ(rscpBuildU2ToBytesTable(&o, table.data()), 0u) << pages[i];
            const std::string got = BigEndian(table.data(), 0x10000);
            EXPECT_TRUE(got == parts[size_t(i)]) << pages[i];
        }

    // The full table: beyond the basic plane every character is missing.
    rscpCObj_t o = Plain("4103", "8000");
    o.method = 35;
    std::vector<uint16_t> index(RSCP_FLAT_INDEX_ENTRIES + 1, 0xEEEE);
    std::fill(table.begin(), table.end(), 0xEEEE);
    ASSERT_EQ(rscpBuildUnicodeToBytesTables(&o, table.data(), index.data(), uint32_t(index.size())), 0u);
    EXPECT_TRUE(BigEndian(table.data(), 0x10000) == parts[2]);
    for (uint32_t h = 0; h < RSCP_FLAT_INDEX_ENTRIES; ++h) {
        ASSERT_EQ(index[h], 64 + h);
        for (uint32_t l = 0; l < RSCP_FLAT_BLOCK; l += 97)
            ASSERT_EQ(table[index[h] * RSCP_FLAT_BLOCK + l], '#');
    }
    EXPECT_EQ(index[RSCP_FLAT_INDEX_ENTRIES], 0xEEEE);
    EXPECT_EQ(rscpBuildUnicodeToBytesTables(&o, table.data(), index.data(), 1023), 16u);

    // Options the tables cannot follow.
    rscpCSetKOVOwnChCv(&o, RSCPOWN_TRY);
    EXPECT_EQ(rscpBuildU2ToBytesTable(&o, table.data()), 16u);
    char arg1[120] = {}, arg2[8];
    rscpe_get_last_args(rscpe_get_error_record(), arg1, sizeof arg1, arg2, sizeof arg2);
    EXPECT_EQ(std::string(arg1).rfind("(4103->8000): ctrl: t=try, own: t=try, meth: nu16le_get_tab, ", 0), 0u) << arg1;
    // A target whose characters take more than two bytes.
    rscpCObj_t utf8 = Plain("4103", "8100");
    utf8.method = 35;
    EXPECT_EQ(rscpBuildU2ToBytesTable(&utf8, table.data()), 2048u);
    EXPECT_EQ(LastId(), "CP9");
}

TEST_F(Wrap, BytesToUnicodeTablesReadTheInputTriesLikePythonDecodes)
{
    // Each byte, and each pair of a Shift-JIS lead byte and a trail byte,
    // decoded by Python ('#' for what it cannot decode).
    const std::vector<std::string> parts = cporacle::EmittedByPython(
        "def d(b, codec):\n"
        "    try:\n"
        "        s = b.decode(codec)\n"
        "        return s.encode('utf-16-be') if len(s) == 1 else b'\\0#'\n"
        "    except UnicodeError: return b'\\0#'\n"
        "e = b''.join(d(bytes([b]), 'cp500') for b in range(256))\n"
        "leads = [b for b in range(256) if d(bytes([b]), 'shift_jis') == b'\\0#' and\n"
        "         any(d(bytes([b, t]), 'shift_jis') != b'\\0#' for t in range(256))]\n"
        "s = b''.join(b'\\xff\\xff' if b in leads else d(bytes([b]), 'shift_jis') for b in range(256))\n"
        "for l in leads: s += b''.join(d(bytes([l, t]), 'shift_jis') for t in range(256))\n"
        "emit(e); emit(s)\n");
    ASSERT_EQ(parts.size(), 2u);
    std::vector<uint16_t> table(64 * 256);
    rscpCObj_t ebcdic = Plain("0120", "4102");
    rscpCSetDrop(&ebcdic, RSCPDROP_LIKE_MISS);
    ASSERT_EQ(rscpBuildBytesToU2Table(&ebcdic, table.data(), 256), 0u);
    EXPECT_TRUE(BigEndian(table.data(), 256) == parts[0]);
    rscpCObj_t sjis = Plain("8000", "4103");
    ASSERT_EQ(rscpBuildBytesToU2Table(&sjis, table.data(), uint32_t(table.size())), 0u);
    EXPECT_TRUE(BigEndian(table.data(), parts[1].size() / 2) == parts[1]);
    // The caller's table must hold every block.
    EXPECT_EQ(rscpBuildBytesToU2Table(&sjis, table.data(), 256 * 5), 32u);
    EXPECT_EQ(rscpBuildBytesToU2Table(&sjis, nullptr, 256), 16u);

    // Bytes to their two target bytes: the 7-bit page through its own
    // method, both byte orders; a table method whose entries are characters
    // cannot serve.
    uint8_t two[256][2];
    rscpCObj_t a7 = Make("1101", "4103");
    ASSERT_EQ(a7.method, 48);
    ASSERT_EQ(rscpBuildByteToTwoBytesTable(&a7, two), 0u);
    rscpCObj_t a7sw = Make("1101", "4102");
    uint8_t twoSw[256][2];
    ASSERT_EQ(rscpBuildByteToTwoBytesTable(&a7sw, twoSw), 0u);
    for (int b = 0; b < 256; ++b) {
        const uint8_t want = b < 0x80 ? uint8_t(b) : uint8_t('#');
        ASSERT_TRUE(two[b][0] == want && two[b][1] == 0) << b;
        ASSERT_TRUE(twoSw[b][0] == 0 && twoSw[b][1] == want) << b;
    }
    rscpCObj_t latin = Plain("1100", "4103");
    EXPECT_EQ(rscpBuildByteToTwoBytesTable(&latin, two), 2048u);
    rscpCSetDrop(&latin, RSCPDROP_REMOVE);
    EXPECT_EQ(rscpBuildByteToTwoBytesTable(&latin, two), 16u);
    char arg1[120] = {}, arg2[8];
    rscpe_get_last_args(rscpe_get_error_record(), arg1, sizeof arg1, arg2, sizeof arg2);
    EXPECT_STREQ(arg1, "(1100->4103): ctrl:t=try, own:i=ignore, meth:tab, drop:r=remove");
}
