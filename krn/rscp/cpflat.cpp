// Flat lookup tables from an activated converter object: the output pages
// (T2/T3) read per 128 characters into a table by UTF-16 code unit or code
// point, the input trie (T1) read block by block into a table by byte.
#include <cstdio>
#include <cstring>
#include <vector>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvint.h"
#include "krn/rscp/cpencode.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpflat.h"
#include "krn/rscp/cprulebytes.h"
#include "krn/rscp/cptab.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

constexpr int32_t kMethodNu16be = 33, kMethodNu16le = 35, kMethodTab = 4, kMethodA7ToU6 = 48, kMethodA7ToU6sw = 49;

// Records a refusal; the character's bytes (when given) go into the second
// argument.
uint32_t Refuse(uint32_t code, int32_t line, const char* detail, const uint8_t* bytes = nullptr, int32_t length = 0)
{
    char chars[48] = "";
    if (bytes != nullptr)
        rscpHexField(chars, bytes, length);
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 16, line, "no shortcut conversion table", "CP9", detail,
                        -1, bytes != nullptr ? chars : nullptr, bytes != nullptr ? -1 : 0);
}

uint32_t RefuseOptions(const rscpCObj_t* o, int32_t line, bool compact)
{
    char detail[200];
    std::snprintf(detail, sizeof detail,
                  compact ? "(%.4s->%.4s): ctrl:%s, own:%s, meth:%s, drop:%s"
                          : "(%.4s->%.4s): ctrl: %s, own: %s, meth: %s, drop: %s",
                  o->incode, o->outcode, rscpCtrlCodeCvText(o->ctrlcodes), rscpOwnChCvText(o->ownCh),
                  rscpMethodText(o->method), rscpDropText(o->on_drop));
    return Refuse(RSCPEINVAL, line, detail);
}

bool PlainOptions(const rscpCObj_t* o)
{
    return o->ctrlcodes == RSCPCTRL_TRY && o->ownCh == RSCPOWN_IGNORE && o->on_drop == RSCPDROP_LIKE_MISS;
}

// The cache usable and the object of its current generation.
uint32_t Ready(rscpCObj_t* o)
{
    if (o == nullptr)
        return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 16, __LINE__, "missing converter object address",
                            "F38", nullptr, 0, nullptr, 0);
    if (h_ccc_state != 2 && h_ccc_state != 4 && h_ccc_state != 5)
        return rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 16, __LINE__, "CCC not initialized", "F34",
                            nullptr, 0, nullptr, 0);
    return rscpcReactivateStale(o);
}

uint32_t Damaged(int32_t line, const char* what, uint32_t value)
{
    char arg[48];
    std::snprintf(arg, sizeof arg, "%s&%lu&", what, static_cast<unsigned long>(value));
    return rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 16, line, "conversion tables damaged", "CQ4", arg,
                        -1, nullptr, 0);
}

// The UTF-16 bytes (big-endian) of a code point, for the record.
int32_t Utf16Bytes(uint32_t cp, uint8_t* b)
{
    if (cp < 0x10000) {
        rscpPut16(b, cp, true);
        return 2;
    }
    const uint32_t v = cp - 0x10000;
    rscpPut16(b, 0xD800 + (v >> 10), true);
    rscpPut16(b + 2, 0xDC00 + (v & 0x3FF), true);
    return 4;
}

// Reads the output pages of an object into entries by code point.
class OutputPages {
public:
    explicit OutputPages(const rscpCObj_t* o)
        : o_(o),
          c_(rscpmp)
    {
    }

    // The target form of the substitute; 0 or the refusal.
    uint32_t Init()
    {
        subst_ = 0;
        bool missing = false;
        const uint32_t rc = Entry(o_->subst_code_U4, &subst_, &missing);
        if (rc == RSCP_OK && missing) {
            char detail[80];
            std::snprintf(detail, sizeof detail, "(%.4s->%.4s): substitute U+%04lX missing", o_->incode, o_->outcode,
                          static_cast<unsigned long>(o_->subst_code_U4));
            uint8_t b[4];
            return Refuse(RSCPENOCONV, __LINE__, detail, b, Utf16Bytes(o_->subst_code_U4, b));
        }
        return rc;
    }

    // Fills the 128 entries of the page that starts at first.
    uint32_t Page(uint32_t first, uint16_t* out)
    {
        uint16_t t2 = 0;
        if (!rscpT2Entry(c_, o_->out_no, first >> 7, &t2)) {
            for (int i = 0; i < 128; ++i)
                out[i] = subst_;  // beyond the cache's highest character
            return RSCP_OK;
        }
        const uint32_t kind = t2 >> 13u;
        if (kind == 0) {
            for (int i = 0; i < 128; ++i)
                out[i] = subst_;
            return RSCP_OK;
        }
        if (kind < 4)
            return KindOfT2(first, kind);
        for (uint32_t i = 0; i < 128; ++i) {
            uint32_t w = 0;
            if (!rscpT3Word(c_, t2 & 0x7FFFu, i, &w))
                return Damaged(__LINE__, "T3", t2 & 0x7FFFu);
            bool missing = false;
            const uint32_t rc = Word(first + i, w, &out[i], &missing);
            if (rc != RSCP_OK)
                return rc;
            if (missing)
                out[i] = subst_;
        }
        return RSCP_OK;
    }

private:
    uint32_t Entry(uint32_t cp, uint16_t* out, bool* missing)
    {
        uint16_t t2 = 0;
        *missing = true;
        if (!rscpT2Entry(c_, o_->out_no, cp >> 7, &t2) || t2 >> 13u == 0)
            return RSCP_OK;
        if (t2 >> 13u < 4)
            return KindOfT2(cp, t2 >> 13u);
        uint32_t w = 0;
        if (!rscpT3Word(c_, rscpT2Row(t2), cp & 0x7F, &w))
            return Damaged(__LINE__, "T3", rscpT2Row(t2));
        return Word(cp, w, out, missing);
    }

    uint32_t Word(uint32_t cp, uint32_t w, uint16_t* out, bool* missing)
    {
        *missing = false;
        if (rscpT3IsRule(w)) {
            const int32_t rule = int32_t(rscpT3RuleNo(w));
            if (rule == RSCP_RULE_DROP) {
                *missing = true;
                return RSCP_OK;
            }
            char detail[96];
            std::snprintf(detail, sizeof detail, "(%.4s->%.4s): inv. rule: %s", o_->incode, o_->outcode,
                          rscpOutRuleName(uint16_t(rule)));
            uint8_t b[4];
            return Refuse(RSCPENOCONV, __LINE__, detail, b, Utf16Bytes(cp, b));
        }
        const int32_t n = int32_t(rscpT3CodeLength(w));
        if (n == 0) {
            *missing = true;
        } else if (n == 1) {
            *out = uint16_t(w >> 16 & 0xFF);
        } else if (n == 2) {
            *out = uint16_t((w >> 16 & 0xFF) << 8 | (w >> 8 & 0xFF));
        } else {
            char detail[80];
            std::snprintf(detail, sizeof detail, "(%.4s->%.4s): char output length %d", o_->incode, o_->outcode, n);
            uint8_t b[4];
            return Refuse(RSCPENOCONV, __LINE__, detail, b, Utf16Bytes(cp, b));
        }
        return RSCP_OK;
    }

    uint32_t KindOfT2(uint32_t cp, uint32_t kind)
    {
        char detail[80];
        std::snprintf(detail, sizeof detail, "(%.4s->%.4s): kind of T2 entry %u", o_->incode, o_->outcode, kind);
        uint8_t b[4];
        return Refuse(RSCPENOCONV, __LINE__, detail, b, Utf16Bytes(cp, b));
    }

    const rscpCObj_t* o_;
    const rscpCcc_t* c_;
    uint16_t subst_ = 0;
};

uint32_t UnicodeTables(rscpCObj_t* o, uint16_t* table, uint32_t last, uint16_t* index, uint32_t indexSize)
{
    uint32_t rc = Ready(o);
    if (rc != RSCP_OK)
        return rc;
    if (table == nullptr || (last > 0xFFFF && (index == nullptr || indexSize < RSCP_FLAT_INDEX_ENTRIES)))
        return Refuse(RSCPEINVAL, __LINE__, "missing table");
    if ((o->method != kMethodNu16be && o->method != kMethodNu16le) || !PlainOptions(o))
        return RefuseOptions(o, __LINE__, false);
    OutputPages pages(o);
    if ((rc = pages.Init()) != RSCP_OK)
        return rc;
    for (uint32_t first = 0; first <= last; first += 128) {
        // Each block of 1,024 supplementary characters is found through the
        // high surrogate of its first code point.
        if (first >= 0x10000 && (first & (RSCP_FLAT_BLOCK - 1)) == 0)
            index[(first - 0x10000) >> 10] = uint16_t(first >> 10);
        if ((rc = pages.Page(first, table + first)) != RSCP_OK)
            return rc;
    }
    return RSCP_OK;
}

bool TwoByteUnicode(uint32_t kind)
{
    return kind == RSCPK_UCS2H || kind == RSCPK_UCS2L || kind == RSCPK_UTF16H || kind == RSCPK_UTF16L;
}

uint32_t KindOfT1(const rscpCObj_t* o, int32_t line, uint32_t w, const uint8_t* path, int32_t depth)
{
    char detail[80];
    std::snprintf(detail, sizeof detail, "(%.4s->%.4s): kind of T1 entry %u", o->incode, o->outcode,
                  static_cast<unsigned>(rscpT1Kind(w)));
    return Refuse(RSCPENOCONV, line, detail, path, depth);
}

// The target form of a code point in exactly two bytes.
uint32_t TwoBytesOf(rscpCObj_t* o, uint32_t cp, uint8_t* two, const uint8_t* source)
{
    uint8_t b[16];
    uint8_t* p = b;
    const uint32_t rc = rscpCEncodeU4(o, &p, b + sizeof b, cp);
    if (rc != RSCP_OK)
        return rc;
    if (p - b != 2) {
        char detail[80];
        std::snprintf(detail, sizeof detail, "(%.4s->%.4s): char output length %d", o->incode, o->outcode, int(p - b));
        return Refuse(RSCPENOCONV, __LINE__, detail, source, 1);
    }
    two[0] = b[0];
    two[1] = b[1];
    return RSCP_OK;
}

}  // namespace

uint32_t rscpBuildU2ToBytesTable(rscpCObj_t* obj, uint16_t* table)
{
    return UnicodeTables(obj, table, 0xFFFF, nullptr, 0);
}

uint32_t rscpBuildUnicodeToBytesTables(rscpCObj_t* obj, uint16_t* table, uint16_t* index, uint32_t indexSize)
{
    return UnicodeTables(obj, table, 0x10FFFF, index, indexSize);
}

uint32_t rscpBuildBytesToU2Table(rscpCObj_t* o, uint16_t* table, uint32_t entries)
{
    uint32_t rc = Ready(o);
    if (rc != RSCP_OK)
        return rc;
    if (table == nullptr)
        return Refuse(RSCPEINVAL, __LINE__, "missing table");
    if (o->method != kMethodTab || !PlainOptions(o))
        return RefuseOptions(o, __LINE__, false);
    const rscpCcc_t* c = rscpmp;
    const uint32_t blocksInCache = uint32_t(c->length / RSCP_T1_BYTES);
    const uint16_t subst = o->subst_code_U4 <= 0xFFFF ? uint16_t(o->subst_code_U4) : uint16_t('#');
    const bool littleTarget = o->out_major == RSCPK_UCS2L || o->out_major == RSCPK_UTF16L;

    // Table block k reads T1 block blocks[k]; the bytes leading to it are
    // kept for the record of a refusal.
    struct Pending {
        uint32_t t1;
        uint8_t path[8];
        int32_t depth;
    };
    std::vector<Pending> blocks{{o->in_no, {}, 0}};
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (uint64_t(k + 1) * 256 > entries) {
            char detail[96];
            std::snprintf(detail, sizeof detail, "(%.4s->%.4s): table of %lu entries too small", o->incode, o->outcode,
                          static_cast<unsigned long>(entries));
            return Refuse(RSCPETOOLONG, __LINE__, detail);
        }
        const Pending at = blocks[k];
        uint16_t* row = table + k * 256;
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t w = 0;
            if (!rscpT1Word(c, at.t1, b, &w))
                return Damaged(__LINE__, "T1", at.t1);
            Pending next = at;
            next.path[at.depth < 8 ? at.depth : 7] = uint8_t(b);
            next.depth = at.depth < 8 ? at.depth + 1 : 8;
            switch (rscpT1Kind(w)) {
            case RSCP_T1_EMPTY:
                row[b] = subst;
                break;
            case RSCP_T1_CHAR:
                if (rscpT1Char(w) > 0xFFFF)
                    return KindOfT1(o, __LINE__, w, next.path, next.depth);
                row[b] = uint16_t(rscpT1Char(w));
                break;
            case RSCP_T1_NEXT:
                next.t1 = w & 0xFFFFFF;
                if (next.t1 == 0 || next.t1 >= blocksInCache || blocks.size() >= blocksInCache)
                    return Damaged(__LINE__, "T1", next.t1);
                blocks.push_back(next);
                row[b] = 0xFFFF;
                break;
            case RSCP_T1_OUT2:
                // A shortcut entry holding the target's two bytes.
                if (!TwoByteUnicode(o->out_major))
                    return KindOfT1(o, __LINE__, w, next.path, next.depth);
                row[b] = littleTarget ? uint16_t((w & 0xFF) << 8 | (w >> 8 & 0xFF)) : uint16_t(w & 0xFFFF);
                break;
            default:
                return KindOfT1(o, __LINE__, w, next.path, next.depth);
            }
        }
    }
    return RSCP_OK;
}

uint32_t rscpBuildByteToTwoBytesTable(rscpCObj_t* o, uint8_t (*table)[2])
{
    uint32_t rc = Ready(o);
    if (rc != RSCP_OK)
        return rc;
    if (table == nullptr)
        return Refuse(RSCPEINVAL, __LINE__, "missing table");
    if (o->method == kMethodA7ToU6 || o->method == kMethodA7ToU6sw) {
        for (uint32_t b = 0; b < 256; ++b) {
            const uint8_t byte = uint8_t(b);
            if ((rc = TwoBytesOf(o, b < 0x80 ? b : o->subst_code_U4, table[b], &byte)) != RSCP_OK)
                return rc;
        }
        return RSCP_OK;
    }
    if (o->method != kMethodTab || !PlainOptions(o))
        return RefuseOptions(o, __LINE__, true);
    const bool sevenBit = std::memcmp(o->incode, "1101", 4) == 0;
    for (uint32_t b = 0; b < 256; ++b) {
        const uint8_t byte = uint8_t(b);
        uint32_t w = 0;
        if (!rscpT1Word(rscpmp, o->in_no, b, &w))
            return Damaged(__LINE__, "T1", o->in_no);
        if (rscpT1Kind(w) == RSCP_T1_OUT2) {
            table[b][0] = uint8_t(w >> 8);
            table[b][1] = uint8_t(w);
        } else if (rscpT1Kind(w) == RSCP_T1_EMPTY && sevenBit) {
            if ((rc = TwoBytesOf(o, o->subst_code_U4, table[b], &byte)) != RSCP_OK)
                return rc;
        } else {
            return KindOfT1(o, __LINE__, w, &byte, 1);
        }
    }
    return RSCP_OK;
}
