// Japanese double-byte transforms: every JIS X 0208 character against
// Python's codecs (pairs and whole texts), every buffer transform stopped at
// every output size and resumed, and the escape and shift forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "krn/rscp/cpjis.h"
#include "tests/unit/krn/cp_oracle.h"

namespace {

using Bytes = std::vector<uint8_t>;
typedef uint32_t (*BufFn)(uint8_t*, int32_t*, const uint8_t*, int32_t*);

struct Outcome {
    uint32_t rc;
    int32_t consumed;
    Bytes out;
};

// One call with an output of exactly cap bytes followed by guard bytes.
Outcome Call(BufFn fn, const Bytes& in, int32_t cap)
{
    Bytes src(in);
    Bytes dst(size_t(cap) + 8, 0xA5);
    int32_t outLen = cap, inLen = int32_t(src.size());
    const uint32_t rc = fn(dst.data(), &outLen, src.data(), &inLen);
    for (size_t i = size_t(cap); i < dst.size(); ++i)
        EXPECT_EQ(dst[i], 0xA5) << "written past the output";
    EXPECT_LE(outLen, cap);
    EXPECT_LE(inLen, int32_t(src.size()));
    return {rc, inLen, Bytes(dst.begin(), dst.begin() + std::max(outLen, 0))};
}

Bytes Whole(BufFn fn, const Bytes& in)
{
    const Outcome r = Call(fn, in, int32_t(in.size() * 3 + 16));
    EXPECT_EQ(r.rc, 0u);
    EXPECT_EQ(r.consumed, int32_t(in.size()));
    return r.out;
}

// Converts with outputs of random small sizes, going on after each 32 with
// what was not consumed.
Bytes Pieces(BufFn fn, const Bytes& in, std::mt19937& rng)
{
    Bytes out;
    size_t pos = 0;
    for (int guard = 0; pos < in.size() && guard < 100000; ++guard) {
        const Outcome r = Call(fn, Bytes(in.begin() + long(pos), in.end()), int32_t(rng() % 20));
        EXPECT_TRUE(r.rc == 0 || r.rc == 32) << r.rc;
        EXPECT_EQ(r.rc == 0, pos + size_t(r.consumed) == in.size());
        out.insert(out.end(), r.out.begin(), r.out.end());
        pos += size_t(r.consumed);
    }
    EXPECT_EQ(pos, in.size());
    return out;
}

struct Texts {
    std::vector<std::array<uint8_t, 6>> pairs;  // JIS, EUC-JP, Shift-JIS
    Bytes iso, sjis, euc;                       // one text in three forms
    Bytes kanaSjis, kanaEuc;                    // a text with half-width katakana
};

const Texts& Oracle()
{
    static Texts t = [] {
        const std::string out = cporacle::RunPython(R"(
import sys
w = sys.stdout.buffer
chars = []
for r in range(0x21, 0x7f):
    for c in range(0x21, 0x7f):
        try:
            ch = bytes([r | 0x80, c | 0x80]).decode('euc_jp')
            s = ch.encode('shift_jis')
        except UnicodeError:
            continue
        if len(s) == 2:
            w.write(bytes([r, c, r | 0x80, c | 0x80]) + s)
            chars.append(ch)
w.write(b'END!!!')
text = ''
for i, ch in enumerate(chars):
    text += ch
    if i % 7 == 0:
        text += 'ab\r\n'[i % 4:] + str(i)
for enc in ('iso2022_jp', 'shift_jis', 'euc_jp'):
    b = text.encode(enc)
    w.write(len(b).to_bytes(4, 'little') + b)
kana = 'x\uff71\uff72\u3042y\uff9f\u6f22'
for enc in ('shift_jis', 'euc_jp'):
    b = kana.encode(enc)
    w.write(len(b).to_bytes(4, 'little') + b)
)");
        Texts r;
        size_t at = 0;
        while (at + 6 <= out.size() && out.compare(at, 6, "END!!!") != 0) {
            std::array<uint8_t, 6> p;
            std::memcpy(p.data(), out.data() + at, 6);
            r.pairs.push_back(p);
            at += 6;
        }
        at += 6;
        for (Bytes* b : {&r.iso, &r.sjis, &r.euc, &r.kanaSjis, &r.kanaEuc}) {
            uint32_t n = 0;
            if (at + 4 > out.size())
                break;
            std::memcpy(&n, out.data() + at, 4);
            at += 4;
            b->assign(out.begin() + long(at), out.begin() + long(at + n));
            at += n;
        }
        return r;
    }();
    return t;
}

typedef void (*PairFn)(uint8_t*, uint8_t*);
std::array<uint8_t, 2> Apply(PairFn fn, uint8_t a, uint8_t b)
{
    fn(&a, &b);
    return {a, b};
}

TEST(CpJis, EveryJisX0208PairMatchesPythonsCodecs)
{
    const Texts& t = Oracle();
    ASSERT_GT(t.pairs.size(), 6800u) << "python3 oracle missing";
    for (const auto& p : t.pairs) {
        const std::array<uint8_t, 2> jis{p[0], p[1]}, euc{p[2], p[3]}, sjis{p[4], p[5]};
        EXPECT_EQ(Apply(rscpEucToSjis, euc[0], euc[1]), sjis);
        EXPECT_EQ(Apply(rscpSjisToEuc, sjis[0], sjis[1]), euc);
        EXPECT_EQ(Apply(rscpJisToSjis, jis[0], jis[1]), sjis);
        EXPECT_EQ(Apply(rscpSjisToJis, sjis[0], sjis[1]), jis);
        EXPECT_EQ(Apply(rscpJisEucFlip, jis[0], jis[1]), euc);
        EXPECT_EQ(Apply(rscpEucJisFlip, euc[0], euc[1]), jis);
        // Rows reached from the narrow leads agree in both arithmetics.
        if (jis[0] < 0x5F) {
            EXPECT_EQ(Apply(rscpEucToSjisL1, euc[0], euc[1]), sjis);
            EXPECT_EQ(Apply(rscpSjisToEucL1, sjis[0], sjis[1]), euc);
            EXPECT_EQ(Apply(rscpJisToSjisL1, jis[0], jis[1]), sjis);
            EXPECT_EQ(Apply(rscpSjisToJisL1, sjis[0], sjis[1]), jis);
        }
    }
    // The arithmetic is its own inverse over every row and cell.
    for (int r = 0x21; r <= 0x7E; ++r)
        for (int c = 0x21; c <= 0x7E; ++c) {
            const auto s = Apply(rscpJisToSjis, uint8_t(r), uint8_t(c));
            ASSERT_EQ(Apply(rscpSjisToJis, s[0], s[1]), (std::array<uint8_t, 2>{uint8_t(r), uint8_t(c)}));
            const auto l = Apply(rscpJisToSjisL1, uint8_t(r), uint8_t(c));
            ASSERT_EQ(Apply(rscpSjisToJisL1, l[0], l[1]), (std::array<uint8_t, 2>{uint8_t(r), uint8_t(c)}));
        }
}

TEST(CpJis, BufferTransformsConvertWholeTextsLikePythonAndResumeAfterEveryStop)
{
    const Texts& t = Oracle();
    ASSERT_FALSE(t.iso.empty()) << "python3 oracle missing";
    EXPECT_TRUE(Whole(rscpIso2022ToSjisBuf, t.iso) == t.sjis);
    EXPECT_TRUE(Whole(rscpIso2022ToEucBuf, t.iso) == t.euc);
    EXPECT_TRUE(Whole(rscpEucToSjisBuf, t.euc) == t.sjis);
    EXPECT_TRUE(Whole(rscpSjisToEucBuf, t.sjis) == t.euc);
    EXPECT_TRUE(Whole(rscpEucToSjisBuf, t.kanaEuc) == t.kanaSjis);
    EXPECT_TRUE(Whole(rscpSjisToEucBuf, t.kanaSjis) == t.kanaEuc);
    EXPECT_TRUE(Whole(rscpIso2022ToSjisBuf, Whole(rscpSjisToIso2022Buf, t.sjis)) == t.sjis);
    EXPECT_TRUE(Whole(rscpIso2022ToEucBuf, Whole(rscpEucToIso2022Buf, t.euc)) == t.euc);

    // Stopped by small outputs and resumed: the stateless transforms give
    // the same bytes, the shift encoders a text that decodes the same.
    std::mt19937 rng(116);
    const Bytes some(t.sjis.begin(), t.sjis.begin() + 3000);
    const Bytes someEuc = Whole(rscpSjisToEucBuf, some);
    EXPECT_TRUE(Pieces(rscpSjisToEucBuf, some, rng) == someEuc);
    EXPECT_TRUE(Pieces(rscpEucToSjisBuf, someEuc, rng) == some);
    EXPECT_TRUE(Pieces(rscpSjisToCellsBuf, some, rng) == Whole(rscpSjisToCellsBuf, some));
    EXPECT_TRUE(Pieces(rscpSjisToCellsL1Buf, some, rng) == Whole(rscpSjisToCellsL1Buf, some));
    EXPECT_TRUE(Whole(rscpIso2022ToSjisBuf, Pieces(rscpSjisToIso2022Buf, some, rng)) == some);
    EXPECT_TRUE(Whole(rscpIso2022ToEucBuf, Pieces(rscpEucToIso2022Buf, someEuc, rng)) == someEuc);
    // The FS and GS forms are ISO-2022-JP with other sequences.
    auto swapSequences = [](Bytes b, const Bytes& enter, const Bytes& leave) {
        Bytes r;
        for (size_t i = 0; i < b.size();) {
            if (i + enter.size() <= b.size() && std::equal(enter.begin(), enter.end(), b.begin() + long(i))) {
                r.insert(r.end(), {0x1B, '$', 'B'});
                i += enter.size();
            } else if (i + leave.size() <= b.size() && std::equal(leave.begin(), leave.end(), b.begin() + long(i))) {
                r.insert(r.end(), {0x1B, '(', 'J'});
                i += leave.size();
            } else {
                r.push_back(b[i++]);
            }
        }
        return r;
    };
    const Bytes gsEnter{0x1D, '1', ';', '1', 's', 'm', 'M'}, gsLeave{0x1D, '0', ';', '1', 's', 'm', 'M'};
    Bytes plain;  // no control bytes that could mimic a sequence
    for (uint8_t b : some)
        if (b >= 0x20)
            plain.push_back(b);
    EXPECT_TRUE(Whole(rscpIso2022ToSjisBuf,
                      swapSequences(Pieces(rscpSjisToFsShiftBuf, plain, rng), {0x1C, 0x26}, {0x1C, 0x2E})) == plain);
    EXPECT_TRUE(Whole(rscpIso2022ToSjisBuf,
                      swapSequences(Pieces(rscpSjisToGsShiftL1Buf, plain, rng), gsEnter, gsLeave)) == plain);

    // Every output size, every transform: never past the output, 0 exactly
    // when all was consumed, and what was consumed converts to what was written.
    const Bytes mixed{'A', 0x88, 0x9F, 0xB1, 0x82, 0xA0, 0x1B, 'x', 0xE0, 0x40, 0x8E, 0xB1, 0xB0, 0xA1, 'z', 0x9F};
    const BufFn all[] = {rscpSjisRunToEuc,       rscpEucToSjisBuf,     rscpEucToSjisL1Buf,     rscpIso2022ToSjisBuf,
                         rscpIso2022ToSjisL1Buf, rscpIso2022ToEucBuf,  rscpEucToIso2022Buf,    rscpSjisToIso2022Buf,
                         rscpSjisToIso2022L1Buf, rscpSjisToFsShiftBuf, rscpSjisToFsShiftL1Buf, rscpSjisToGsShiftBuf,
                         rscpSjisToGsShiftL1Buf, rscpSjisToCellsBuf,   rscpSjisToCellsL1Buf,   rscpSjisToEucBuf};
    for (BufFn fn : all)
        for (int32_t cap = 0; cap <= 60; ++cap) {
            const Outcome r = Call(fn, mixed, cap);
            if (r.rc == 2048 || r.rc == 512)
                continue;
            EXPECT_EQ(r.rc == 0, r.consumed == int32_t(mixed.size())) << cap;
            const Bytes part(mixed.begin(), mixed.begin() + r.consumed);
            const Outcome again = Call(fn, part, 200);
            EXPECT_TRUE(again.out == r.out) << "capacity " << cap;
        }
}

TEST(CpJis, EscapeAndShiftFormsAndTheirEdges)
{
    EXPECT_EQ(Apply(rscpSjisToJis, 0x88, 0x9F), (std::array<uint8_t, 2>{0x30, 0x21}));
    EXPECT_EQ(Apply(rscpSjisToJis, 0x82, 0xA0), (std::array<uint8_t, 2>{0x24, 0x22}));
    EXPECT_EQ(Apply(rscpSjisToEuc, 0x88, 0x9F), (std::array<uint8_t, 2>{0xB0, 0xA1}));
    EXPECT_EQ(Whole(rscpSjisToIso2022Buf, {0x41, 0x88, 0x9F, 0x42}),
              (Bytes{0x1B, '(', 'J', 0x41, 0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'J', 0x42}));
    EXPECT_EQ(Whole(rscpSjisToFsShiftBuf, {0x88, 0x9F}), (Bytes{0x1C, 0x26, 0x30, 0x21, 0x1C, 0x2E}));
    EXPECT_EQ(Whole(rscpSjisToGsShiftBuf, {0x88, 0x9F, 'a'}),
              (Bytes{0x1D, '1', ';', '1', 's', 'm', 'M', 0x30, 0x21, 0x1D, '0', ';', '1', 's', 'm', 'M', 'a'}));
    EXPECT_EQ(Whole(rscpEucToIso2022Buf, {0x8E, 0xB1, 0xB0, 0xA1}),
              (Bytes{0x1B, '(', 'J', 0xB1, 0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'J'}));
    EXPECT_EQ(Whole(rscpSjisToCellsBuf, {'a', 0x88, 0x9F, 0xB1}), (Bytes{0, 'a', 0x30, 0x21, 0, 0xB1}));

    // ISO-2022-JP input: unknown escapes are copied, a pair cut by the end
    // of the input is left for the next call, katakana get single shift 2.
    EXPECT_EQ(Whole(rscpIso2022ToSjisBuf, {0x1B, 0x41}), (Bytes{0x1B, 0x41}));
    Outcome r = Call(rscpIso2022ToSjisBuf, {'a', 0x1B, '$', 'B', 0x30, 0x21, 0x30}, 20);
    EXPECT_EQ(r.rc, 512u);
    EXPECT_EQ(r.consumed, 6);
    EXPECT_EQ(r.out, (Bytes{'a', 0x88, 0x9F}));
    EXPECT_EQ(Whole(rscpIso2022ToEucBuf, {0xB1, 0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'B', 'q'}),
              (Bytes{0x8E, 0xB1, 0xB0, 0xA1, 'q'}));
    // A shift encoder stopped inside a run still closes it.
    r = Call(rscpSjisToIso2022Buf, {0x88, 0x9F, 0x88, 0x9F}, 9);
    EXPECT_EQ(r.rc, 32u);
    EXPECT_EQ(r.consumed, 2);
    EXPECT_EQ(r.out, (Bytes{0x1B, '$', 'B', 0x30, 0x21, 0x1B, '(', 'J'}));

    EXPECT_EQ(Whole(rscpEucToSjisL1Buf, {0x8E, 0xB1, 0xB0}), (Bytes{'#', 0xB0}));
    EXPECT_EQ(Call(rscpSjisRunToEuc, {0x41, 0x88, 0x9F}, 10).rc, 2048u);
    r = Call(rscpSjisRunToEuc, {0x88, 0x9F, 0xE0, 0x40}, 10);
    EXPECT_EQ(r.rc, 2048u);
    EXPECT_EQ(r.consumed, 2);
    EXPECT_EQ(r.out, (Bytes{0xB0, 0xA1}));
    EXPECT_EQ(Call(rscpSjisRunToEuc, {0x88, 0x9F}, 0).rc, 32u);

    EXPECT_EQ(rscpEucCharLen(Bytes{0x41}.data(), 1), 1);
    EXPECT_EQ(rscpEucCharLen(Bytes{0xB0, 0xA1}.data(), 2), 2);
    EXPECT_EQ(rscpEucCharLen(Bytes{0xB0, 0x41}.data(), 2), 1);
    EXPECT_EQ(rscpEucCharLen(Bytes{0xB0, 0xA1}.data(), 1), 0);
    EXPECT_EQ(rscpEucCharLen(Bytes{0x41}.data(), 0), 0);

    // Converting in place, katakana growing into input not yet read.
    Bytes buf{0xB1, 0xB2, 0x88, 0x9F, 'z', 0, 0, 0};
    int32_t outLen = int32_t(buf.size()), inLen = 5;
    EXPECT_EQ(rscpSjisToEucBuf(buf.data(), &outLen, buf.data(), &inLen), 0u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + outLen), (Bytes{0x8E, 0xB1, 0x8E, 0xB2, 0xB0, 0xA1, 'z'}));
    EXPECT_EQ(inLen, 5);

    // The dispatchers take the leading run of double-byte characters only.
    uint8_t out[40];
    const Bytes in{0x88, 0x9F, 0x82, 0xA0, 'a', 0x88, 0x9F};
    int32_t ol = sizeof out, il = int32_t(in.size());
    EXPECT_EQ(rscpSjisDbcsToJis(out, &ol, in.data(), &il, "8210"), 0u);
    EXPECT_EQ(il, 4);
    EXPECT_EQ(Bytes(out, out + ol), (Bytes{0x1C, 0x26, 0x30, 0x21, 0x24, 0x22, 0x1C, 0x2E}));
    ol = sizeof out, il = int32_t(in.size());
    EXPECT_EQ(rscpSjisDbcsToJisL1(out, &ol, in.data(), &il, "1100"), 0u);
    EXPECT_EQ(Bytes(out, out + ol), (Bytes{0x30, 0x21, 0x24, 0x22}));
    const Bytes a0{0xA0, 0x40};
    ol = sizeof out, il = 2;
    EXPECT_EQ(rscpSjisDbcsToJis(out, &ol, a0.data(), &il, "8200"), 2048u);
    EXPECT_EQ(il, 0);
}

}  // namespace
