// Unicode encoding-form converters: every scalar value in every form against
// Python's codecs (whole and in random pieces, resuming on 32 and 512),
// hostile UTF-8 against Python's strict decoder, and the faults of each
// family with their cursors.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "krn/rscp/cputf.h"
#include "tests/unit/krn/cp_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr bool kLittle = std::endian::native == std::endian::little;

struct Outcome {
    uint32_t rc;
    size_t consumed;
    Bytes out;
};

// One call with a destination of exactly cap bytes (on the heap, so that an
// overrun is caught).
Outcome Call(rscpuSubstConv_t fn, const Bytes& in, size_t cap, const uint32_t* subst = nullptr,
             uint32_t* count = nullptr)
{
    Bytes src(in);
    std::vector<uint8_t> dst(cap + 1);
    const uint8_t* s = src.data();
    uint8_t* d = dst.data();
    const uint32_t rc = fn(&s, src.data() + src.size(), &d, dst.data() + cap, subst, count);
    return {rc, size_t(s - src.data()), Bytes(dst.data(), d)};
}

Outcome Call(rscpuConv_t fn, const Bytes& in, size_t cap)
{
    Bytes src(in);
    std::vector<uint8_t> dst(cap + 1);
    const uint8_t* s = src.data();
    uint8_t* d = dst.data();
    const uint32_t rc = fn(&s, src.data() + src.size(), &d, dst.data() + cap);
    return {rc, size_t(s - src.data()), Bytes(dst.data(), d)};
}

template <typename Fn>
Bytes Whole(Fn fn, const Bytes& in)
{
    const Outcome r = Call(fn, in, in.size() * 4 + 16);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, in.size());
    return r.out;
}

// Converts in random pieces: the source is offered a piece at a time (a 512
// keeps the cut character for the next piece), the destination a few bytes
// at a time (a 32 moves on to a new one).  Cursors never pass their ends.
template <typename Fn>
Bytes Pieces(Fn fn, const Bytes& in, std::mt19937& rng)
{
    Bytes out;
    size_t pos = 0, offered = 0;
    while (pos < in.size()) {
        offered = std::max(offered, std::min(in.size(), pos + 1 + rng() % 40));
        const size_t cap = 1 + rng() % 24;
        Bytes dst(cap);
        const uint8_t* s = in.data() + pos;
        uint8_t* d = dst.data();
        uint32_t rc;
        if constexpr (std::is_same_v<Fn, rscpuConv_t>)
            rc = fn(&s, in.data() + offered, &d, dst.data() + cap);
        else
            rc = fn(&s, in.data() + offered, &d, dst.data() + cap, nullptr, nullptr);
        EXPECT_TRUE(rc == 0 || rc == 32 || rc == 512) << rc << " at " << pos;
        if (rc != 0 && rc != 32 && rc != 512)
            break;
        EXPECT_LE(s, in.data() + offered);
        EXPECT_LE(d, dst.data() + cap);
        if (rc == 0) {
            EXPECT_EQ(s, in.data() + offered);
        }
        out.insert(out.end(), dst.data(), d);
        pos = size_t(s - in.data());
        if (rc == 512 && offered == in.size())
            break;
    }
    EXPECT_EQ(pos, in.size());
    return out;
}

struct Forms {
    Bytes utf8, u16le, u16be, u32le, u32be;
    const Bytes& u16(bool native) const { return native == kLittle ? u16le : u16be; }
    const Bytes& u32(bool native) const { return native == kLittle ? u32le : u32be; }
};

// Every scalar value in ascending order, encoded by Python.
const Forms& AllScalars()
{
    static Forms f = [] {
        const std::string out = cporacle::RunPython(R"(
import sys, struct
s = ''.join(chr(c) for c in range(0x110000) if not 0xD800 <= c <= 0xDFFF)
for enc in ('utf-8', 'utf-16-le', 'utf-16-be', 'utf-32-le', 'utf-32-be'):
    b = s.encode(enc)
    sys.stdout.buffer.write(struct.pack('<Q', len(b)) + b)
)");
        Forms r;
        Bytes* parts[] = {&r.utf8, &r.u16le, &r.u16be, &r.u32le, &r.u32be};
        size_t at = 0;
        for (Bytes* p : parts) {
            uint64_t n = 0;
            if (at + 8 > out.size())
                break;
            std::memcpy(&n, out.data() + at, 8);
            at += 8;
            p->assign(out.begin() + long(at), out.begin() + long(at + n));
            at += n;
        }
        return r;
    }();
    return f;
}

// The basic plane (without surrogates) is a prefix of each form.
constexpr size_t kBmpChars = 0x10000 - 0x800;
constexpr size_t kBmpUtf8 = 128 + 1920 * 2 + (0x10000 - 0x800 - 0x800) * 3;
Bytes Prefix(const Bytes& b, size_t n)
{
    return Bytes(b.begin(), b.begin() + long(n));
}

TEST(CpUtf, EveryScalarValueInEveryFormMatchesPythonsCodecs)
{
    const Forms& f = AllScalars();
    ASSERT_EQ(f.u32le.size(), 4u * (0x110000 - 0x800)) << "python3 oracle missing";

    // UTF-8 <-> UTF-16 and UCS-4, both byte orders, strict, fast and substituting.
    for (bool native : {true, false}) {
        auto dec16 = native ? rscpu86r_utf8_to_utf16 : rscpu86w_utf8_to_utf16;
        auto dec16nocc = native ? rscpu86r_utf8_to_utf16_nocc : rscpu86w_utf8_to_utf16_nocc;
        auto fast16 = native ? rscpu86r_utf8_to_utf16_fast : rscpu86w_utf8_to_utf16_fast;
        auto dec4 = native ? rscpu84r_utf8_to_ucs4 : rscpu84w_utf8_to_ucs4;
        auto fast4 = native ? rscpu84r_utf8_to_ucs4_fast : rscpu84w_utf8_to_ucs4_fast;
        auto enc16 = native ? rscpu86r_utf16_to_utf8 : rscpu86w_utf16_to_utf8;
        auto loose16 = native ? rscpu86r_utf16_to_utf8_loose : rscpu86w_utf16_to_utf8_loose;
        auto enc4 = native ? rscpu84r_ucs4_to_utf8 : rscpu84w_ucs4_to_utf8;
        EXPECT_TRUE(Whole(dec16, f.utf8) == f.u16(native));
        EXPECT_TRUE(Whole(fast16, f.utf8) == f.u16(native));
        EXPECT_TRUE(Whole(dec4, f.utf8) == f.u32(native));
        EXPECT_TRUE(Whole(fast4, f.utf8) == f.u32(native));
        EXPECT_TRUE(Whole(enc16, f.u16(native)) == f.utf8);
        EXPECT_TRUE(Whole(loose16, f.u16(native)) == f.utf8);
        EXPECT_TRUE(Whole(enc4, f.u32(native)) == f.utf8);
        // The control-code filters take everything from U+00A0 up.
        const size_t c1End = 128 + 32 * 2;
        const Bytes upper8(f.utf8.begin() + long(c1End), f.utf8.end());
        EXPECT_TRUE(Whole(dec16nocc, upper8) == Bytes(f.u16(native).begin() + 0xA0 * 2, f.u16(native).end()));

        // UCS-2 over the basic plane.
        auto dec2 = native ? rscpu82r_utf8_to_ucs2 : rscpu82w_utf8_to_ucs2;
        auto fast2 = native ? rscpu82r_utf8_to_ucs2_fast : rscpu82w_utf8_to_ucs2_fast;
        auto enc2 = native ? rscpu82r_ucs2_to_utf8 : rscpu82w_ucs2_to_utf8;
        const Bytes bmp8 = Prefix(f.utf8, kBmpUtf8), bmp16 = Prefix(f.u16(native), 2 * kBmpChars);
        EXPECT_TRUE(Whole(dec2, bmp8) == bmp16);
        EXPECT_TRUE(Whole(fast2, bmp8) == bmp16);
        EXPECT_TRUE(Whole(enc2, bmp16) == bmp8);
    }
    EXPECT_TRUE(Whole(rscpu86r_utf8_to_utf16_subst, f.utf8) == f.u16(true));
    EXPECT_TRUE(Whole(rscpu86r_utf16_to_utf8_subst, f.u16(true)) == f.utf8);
    EXPECT_TRUE(Whole(rscpu84r_ucs4_to_utf8_alt, f.u32(true)) == f.utf8);
    EXPECT_TRUE(Whole(rscpu84w_ucs4_to_utf8_subst, f.u32(false)) == f.utf8);
    EXPECT_TRUE(Whole(rscpu46r_ucs4_to_utf16, f.u32(true)) == f.u16(true));
    EXPECT_TRUE(Whole(rscpu46r_utf16_to_ucs4, f.u16(true)) == f.u32(true));
    EXPECT_TRUE(Whole(rscpu66r_check_utf16, f.u16(true)) == f.u16(true));

    // In random pieces: whatever the cut, the result is the same.
    std::mt19937 rng(22);
    const Bytes some8 = Prefix(f.utf8, 200000);
    const size_t some8Chars = [&] {
        size_t n = 0;
        for (uint8_t b : some8)
            n += (b & 0xC0) != 0x80;
        return n;
    }();
    Bytes chunk8(f.utf8.end() - 300000, f.utf8.end());
    EXPECT_TRUE(Pieces(rscpuSubstConv_t(rscpu86r_utf8_to_utf16), chunk8, rng) == Whole(rscpu86r_utf8_to_utf16, chunk8));
    EXPECT_TRUE(Pieces(rscpuSubstConv_t(rscpu84w_utf8_to_ucs4), some8, rng) == Prefix(f.u32(false), 4 * some8Chars));
    EXPECT_TRUE(Pieces(rscpuConv_t(rscpu86r_utf8_to_utf16_fast), chunk8, rng) == Whole(rscpu86r_utf8_to_utf16, chunk8));
    const Bytes tail16 = Whole(rscpu86w_utf8_to_utf16, chunk8);
    EXPECT_TRUE(Pieces(rscpuConv_t(rscpu86w_utf16_to_utf8), tail16, rng) == chunk8);
    EXPECT_TRUE(Pieces(rscpuConv_t(rscpu82r_ucs2_to_utf8), Prefix(f.u16(true), 2 * 60000), rng) ==
                Whole(rscpu82r_ucs2_to_utf8, Prefix(f.u16(true), 2 * 60000)));
    EXPECT_TRUE(Pieces(rscpuConv_t(rscpu46r_ucs4_to_utf16), Prefix(f.u32(true), 4 * some8Chars), rng) ==
                Prefix(f.u16(true), Whole(rscpu86r_utf8_to_utf16, some8).size()));
}

// Every lead byte 0x80-0xFF with up to three following bytes from a set of
// telling values, through the strict decoders, against Python's UTF-8
// decoder that lets encoded surrogates pass: the same characters, 512 exactly
// where Python finds the data cut (or an encoded surrogate cut, which Python
// calls invalid at once), and nothing converted past where Python finds the
// fault.  UCS-4 also takes the values above U+10FFFF that Python refuses: it
// is compared below F4 only.  With a
// substitute, and in the fast and always-substituting members, no "/", "."
// or NUL comes out that was not in the input as that very byte.
TEST(CpUtf, HostileUtf8MatchesPythonsStrictDecoderAndNeverForgesPathCharacters)
{
    const uint8_t follow[] = {0x00, 0x2E, 0x2F, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xAF, 0xBF, 0xC0, 0xFF};
    std::vector<Bytes> seqs;
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        seqs.push_back({uint8_t(lead)});
        for (uint8_t a : follow) {
            seqs.push_back({uint8_t(lead), a});
            for (uint8_t b : follow) {
                seqs.push_back({uint8_t(lead), a, b});
                for (uint8_t c : follow)
                    if ((a & 0xC0) == 0x80 && (b & 0xC0) == 0x80)
                        seqs.push_back({uint8_t(lead), a, b, c});
            }
        }
    }
    std::string input;
    for (const Bytes& s : seqs) {
        for (uint8_t b : s) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02x", b);
            input += hex;
        }
        input += '\n';
    }
    const std::string verdicts = cporacle::RunPython(R"(
import sys
out = []
for line in open(sys.argv[1]):
    b = bytes.fromhex(line.strip())
    try:
        out.append('ok %d' % len(b.decode('utf-8', 'surrogatepass')))
    except UnicodeDecodeError as e:
        rest = b[e.start:]
        cut = rest[0] == 0xED and len(rest) < 3 and all(0x80 <= c <= 0xBF for c in rest[1:])
        kind = 'end' if e.reason == 'unexpected end of data' or cut else 'bad'
        out.append('%s %d %d' % (kind, e.start, len(b[:e.start].decode('utf-8', 'surrogatepass'))))
print('\n'.join(out))
)",
                                                     input);
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = verdicts.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(verdicts.substr(at, nl - at));
    ASSERT_EQ(lines.size(), seqs.size()) << "python3 oracle missing";

    const uint32_t hash = '#';
    size_t mismatches = 0;
    for (size_t i = 0; i < seqs.size() && mismatches < 10; ++i) {
        const Bytes& s = seqs[i];
        char kind[4] = {};
        int start = 0, chars = 0;
        std::sscanf(lines[i].c_str(), "%3s %d %d", kind, &start, &chars);
        for (auto fn : {rscpu84r_utf8_to_ucs4, rscpu86r_utf8_to_utf16}) {
            if (fn == rscpu84r_utf8_to_ucs4 && s[0] >= 0xF4)
                continue;
            const Outcome r = Call(fn, s, 64);
            const bool same = std::string(kind) == "ok"    ? r.rc == 0
                              : std::string(kind) == "end" ? r.rc == 512 && r.consumed == size_t(start)
                                                           : r.rc == 2048 && r.consumed >= size_t(start);
            const size_t units = fn == rscpu84r_utf8_to_ucs4 ? r.out.size() / 4 : 0;
            if (!same || (fn == rscpu84r_utf8_to_ucs4 && std::string(kind) != "ok" && units != size_t(chars))) {
                ++mismatches;
                ADD_FAILURE() << lines[i] << " rc " << r.rc << " consumed " << r.consumed << " seq #" << i;
            }
        }
        // Path characters come only from their own bytes.
        size_t own[3] = {};
        for (uint8_t b : s)
            own[0] += b == '/', own[1] += b == '.', own[2] += b == 0;
        auto check = [&](const Bytes& out, int width) {
            size_t got[3] = {};
            for (size_t k = 0; k + width <= out.size(); k += width) {
                uint32_t v = 0;
                std::memcpy(&v, out.data() + k, width);
                got[0] += v == '/', got[1] += v == '.', got[2] += v == 0;
            }
            for (int k = 0; k < 3; ++k)
                if (got[k] > own[k]) {
                    ++mismatches;
                    ADD_FAILURE() << "forged path character in " << lines[i] << " seq #" << i;
                }
        };
        check(Call(rscpu84r_utf8_to_ucs4, s, 64, &hash).out, 4);
        check(Call(rscpu82r_utf8_to_ucs2, s, 64, &hash).out, 2);
        check(Call(rscpu86r_utf8_to_utf16_nocc, s, 64, &hash).out, 2);
        check(Call(rscpu86r_utf8_to_utf16_subst, s, 64).out, 2);
        check(Call(rscpu84r_utf8_to_ucs4_fast, s, 64).out, 4);
        check(Call(rscpu82r_utf8_to_ucs2_fast, s, 64).out, 2);
    }
}

// A recording hook: the last report and how many there were.
struct Report {
    uint32_t code = 0;
    std::string module, text;
    int calls = 0;
};
Report g_last;
uint32_t Record(uint32_t code, char kind, uint32_t mask, const char* module, int32_t, int32_t, const char* text,
                const char*, const char*, int32_t, const char*, int32_t)
{
    EXPECT_EQ(kind, 'O');
    EXPECT_EQ(mask, 0xFFFFFFFFu);
    g_last = {code, module, text, g_last.calls + 1};
    return code;
}

Bytes U16(std::initializer_list<uint16_t> units)
{
    Bytes b;
    for (uint16_t u : units) {
        b.push_back(kLittle ? uint8_t(u) : uint8_t(u >> 8));
        b.push_back(kLittle ? uint8_t(u >> 8) : uint8_t(u));
    }
    return b;
}
Bytes U32(uint32_t v)
{
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

TEST(CpUtf, FaultsReportTheirTextAndLeaveTheCursorsWhereThePartSays)
{
    rscpu_set_error_hook(Record);
    const uint32_t hash = '#';

    // Cut at the end: everything before converted, the cursor at the lead.
    Outcome r = Call(rscpu86r_utf8_to_utf16, {'a', 0xE2, 0x82}, 16);
    EXPECT_EQ(r.rc, 512u);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(r.out, U16({'a'}));
    EXPECT_EQ(g_last.text, "source exhausted within a char");
    EXPECT_EQ(g_last.module, "rscpu86r");
    // ... also with a substitute, but a tail that cannot become a character
    // is a fault at once: E2 28 is substituted and the "(" kept.
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16, {0xE2, 0x82}, 16, &hash).rc, 512u);
    r = Call(rscpu84r_utf8_to_ucs4, {0xE2, 0x28}, 16);
    EXPECT_EQ(r.rc, 2048u);
    EXPECT_EQ(g_last.text, "illegal follow-up byte");
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16, {0xE2, 0x28, 0xA1}, 16, &hash).out, U16({'#', '(', '#'}));
    r = Call(rscpu86r_utf8_to_utf16_subst, {'a', 0xF0, 0x90, 0x80}, 16);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, 4u);
    EXPECT_EQ(r.out, U16({'a', 0xFFFD}));

    // Overlong forms, also of five and six bytes.
    for (const Bytes& bad : {Bytes{0xC0, 0xAF}, Bytes{0xE0, 0x80, 0xAE}, Bytes{0xC1, 0x80},
                             Bytes{0xF8, 0x80, 0x80, 0x80, 0xAF}, Bytes{0xFC, 0x80, 0x80, 0x80, 0x80, 0xAF}}) {
        r = Call(rscpu84w_utf8_to_ucs4, bad, 16);
        EXPECT_EQ(r.rc, 2048u);
        EXPECT_TRUE(r.out.empty());
        uint32_t n = 0;
        r = Call(rscpu84r_utf8_to_ucs4, bad, 16, &hash, &n);
        EXPECT_EQ(r.rc, 0u);
        EXPECT_EQ(r.out, U32('#'));
        EXPECT_EQ(n, 1u);
    }
    r = Call(rscpu86r_utf8_to_utf16, {'x', 0xF4, 0x90, 0x80, 0x80}, 16);
    EXPECT_EQ(r.rc, 2048u);
    EXPECT_EQ(r.consumed, 4u);  // at the sequence's last byte
    EXPECT_EQ(g_last.text, "UTF-8 bejond UTF-32");
    r = Call(rscpu82r_utf8_to_ucs2, {0xF0, 0x90, 0x80, 0x80}, 16);
    EXPECT_EQ(g_last.text, "UTF-8 bejond UCS-2");
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16, {0xF0, 0x90, 0x80, 0x80}, 16).out, U16({0xD800, 0xDC00}));

    // An encoded surrogate decodes to its value without a fault (it was
    // refused with a text of its own).
    g_last.calls = 0;
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16, {0xED, 0xA0, 0x80}, 16).out, U16({0xD800}));
    const Bytes swapped = kLittle ? Bytes{0xDF, 0xFF} : Bytes{0xFF, 0xDF};
    EXPECT_EQ(Call(rscpu82w_utf8_to_ucs2, {0xED, 0xBF, 0xBF}, 16).out, swapped);
    EXPECT_EQ(Call(rscpu84r_utf8_to_ucs4, {0xED, 0xB0, 0x80}, 16).out, U32(0xDC00));
    EXPECT_EQ(g_last.calls, 0);
    // UCS-4 values of up to 31 bits go through UTF-8 and back in both byte
    // orders (the five- and six-byte forms the encoder writes were refused).
    std::mt19937 rng(4);
    for (int i = 0; i < 2000; ++i) {
        const uint32_t v = i < 8 ? std::array<uint32_t, 8>{0x110000,  0x1FFFFF,   0x200000, 0x3FFFFFF,
                                                           0x4000000, 0x7FFFFFFF, 0xD800,   0xDFFF}[i]
                                 : uint32_t(rng()) >> (1 + rng() % 16);
        Bytes u4 = U32(v);
        const Bytes utf8 = Call(rscpu84r_ucs4_to_utf8, u4, 16).out;
        ASSERT_EQ(Call(rscpu84r_utf8_to_ucs4, utf8, 16).out, u4) << std::hex << v;
        std::reverse(u4.begin(), u4.end());
        ASSERT_EQ(Call(rscpu84w_utf8_to_ucs4, utf8, 16).out, u4) << std::hex << v;
        ASSERT_EQ(Call(rscpu84w_ucs4_to_utf8, u4, 16).out, utf8) << std::hex << v;
    }
    EXPECT_EQ(g_last.calls, 0);
    // UTF-16 and UCS-2 targets still refuse what they cannot hold.
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16, {0xF8, 0x88, 0x80, 0x80, 0x80}, 16).rc, 2048u);
    EXPECT_EQ(g_last.text, "UTF-8 bejond UTF-32");

    // Control codes.
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16_nocc, {0x0A}, 16).rc, 2048u);
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16_nocc, {0xC2, 0x85}, 16).rc, 2048u);
    EXPECT_EQ(g_last.text, "control codes not allowed here");
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16_nocc, {0xC2, 0x85, 'z'}, 16, &hash).out, U16({'#', 'z'}));
    EXPECT_EQ(Call(rscpu86r_utf8_to_utf16_nocc, {0xC2, 0x80}, 16).out, U16({0x80}));
    for (uint16_t u : {0x09, 0x7F, 0x9F})
        EXPECT_EQ(Call(rscpu82r_ucs2_to_utf8_nocc, U16({'a', u}), 16).consumed, 2u) << u;
    EXPECT_EQ(g_last.text, "control code not allowed");
    EXPECT_EQ(Call(rscpu82r_ucs2_to_utf8_nocc, U16({0xA0}), 16).out, (Bytes{0xC2, 0xA0}));

    // A full destination stops at the character, also halfway into a pair.
    r = Call(rscpu86r_utf8_to_utf16, {'a', 0xF0, 0x90, 0x80, 0x80}, 3);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.consumed, 1u);
    EXPECT_EQ(g_last.text, "dest buffer overflow");
    r = Call(rscpu82r_ucs2_to_utf8, U16({'a', 0x20AC}), 3);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.consumed, 2u);
    EXPECT_EQ(r.out, Bytes{'a'});

    // Unpaired surrogates in UTF-16.
    EXPECT_EQ(Call(rscpu86r_utf16_to_utf8, U16({'a', 0xD800}), 16).rc, 512u);
    EXPECT_EQ(g_last.text, "Half surrogate at end");
    r = Call(rscpu86r_utf16_to_utf8, U16({0xD800, 0x41}), 16);
    EXPECT_EQ(r.rc, 2048u);
    EXPECT_EQ(r.consumed, 0u);
    EXPECT_EQ(g_last.text, "Half surrogate in middle");
    EXPECT_EQ(Call(rscpu86r_utf16_to_utf8, U16({0xDC00}), 16).rc, 2048u);
    EXPECT_EQ(g_last.text, "Half low surrogate in middle");
    EXPECT_EQ(Call(rscpu86r_utf16_to_utf8_loose, U16({0xDC00}), 16).out, (Bytes{0xED, 0xB0, 0x80}));
    EXPECT_EQ(Call(rscpu86r_utf16_to_utf8_subst, U16({0xD800, 'a', 0xD800}), 16).out,
              (Bytes{0xEF, 0xBF, 0xBD, 'a', 0xEF, 0xBF, 0xBD}));
    g_last.calls = 0;
    r = Call(rscpu66r_check_utf16, U16({0xDC00, 'a', 0xD800, 'b', 0xD800}), 16);
    EXPECT_EQ(r.rc, 512u);
    EXPECT_EQ(r.out, U16({'#', 'a', '#', 'b', '#'}));
    EXPECT_EQ(g_last.calls, 3);
    EXPECT_EQ(Call(rscpu46r_utf16_to_ucs4, U16({0xD800}), 16).rc, 512u);
    EXPECT_EQ(g_last.text, "half surrogate at end");

    // UCS-4 beyond 31 bits, and beyond UTF-16.
    EXPECT_EQ(Call(rscpu84r_ucs4_to_utf8, U32(0x80000000u), 16).rc, 2048u);
    EXPECT_EQ(g_last.text, "UCS-4 has only 31 bits.");
    EXPECT_EQ(Call(rscpu84r_ucs4_to_utf8, U32(0x7FFFFFFF), 16).out, (Bytes{0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}));
    EXPECT_EQ(Call(rscpu46r_ucs4_to_utf16, U32(0x110000), 16).out, U16({0xFFFD}));
    // The swapped members read units in the other byte order.
    EXPECT_EQ(Call(rscpu82w_ucs2_to_utf8, kLittle ? Bytes{0xE9, 0x00} : Bytes{0x00, 0xE9}, 16).out,
              (Bytes{0xEE, 0xA4, 0x80}));
    // Empty input and a half unit.
    r = Call(rscpu84r_utf8_to_ucs4, {}, 0);
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(Call(rscpu82r_ucs2_to_utf8, {'a'}, 16).rc, 512u);

    rscpu_set_error_hook(nullptr);
    EXPECT_EQ(rscpu_error_hook, rscpu_default_error_hook);
}

TEST(CpUtf, MethodsPickTheirMembers)
{
    rscpuConv_t enc = nullptr;
    rscpuSubstConv_t dec = nullptr;
    ASSERT_EQ(rscpuMembersOfMethod(22, 1, &enc, &dec), 1);
    EXPECT_EQ(enc, rscpu86w_utf16_to_utf8);
    EXPECT_EQ(dec, nullptr);
    ASSERT_EQ(rscpuMembersOfMethod(15, 0, &enc, &dec), 1);
    EXPECT_EQ(enc, nullptr);
    EXPECT_EQ(dec, rscpu82r_utf8_to_ucs2_nocc);
    EXPECT_EQ(rscpuMembersOfMethod(25, 1, &enc, &dec), 0);
}

}  // namespace
