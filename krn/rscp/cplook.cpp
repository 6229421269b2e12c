// Inspection of the conversion tables: one T1, T2 or T3 entry, a range of T2
// entries, the limits of the character numbering, a hex dump of the whole
// cache, and the activation cache, each printed line by line.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpnames.h"
#include "krn/rscp/cptab.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";
typedef void (*Writer)(const char* text, int32_t length);

void Line(Writer w, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void Line(Writer w, const char* fmt, ...)
{
    char text[256];
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    w(text, n < 0 ? 0 : n >= int(sizeof text) ? int(sizeof text) - 1 : n);
}

uint32_t Key32(const uint8_t* k, int at)
{
    uint32_t v;
    std::memcpy(&v, k + at, 4);
    return v;
}

void T1Line(Writer w, const rscpCcc_t* c, uint32_t block, uint32_t index, bool wide)
{
    uint32_t e = 0;
    if (!rscpT1Word(c, block, index, &e)) {
        Line(w, "T1[%u][0x%x]= ERROR", block, index);
        return;
    }
    char at[16], raw[16], attr[16], out[16] = "";
    if (wide && index == 257)
        std::snprintf(at, sizeof at, "[tr]");
    else if (wide)
        std::snprintf(at, sizeof at, "[0x%x]", index);
    else
        std::snprintf(at, sizeof at, "[%02x]", index);
    std::snprintf(raw, sizeof raw, "=%8x", e);
    std::snprintf(attr, sizeof attr, "attr=%2u", e >> 13 & 0x3F);
    const char* kind = "ERROR";
    long value = 0;
    switch (rscpT1Kind(e)) {
    case RSCP_T1_EMPTY:
        kind = "empty";
        break;
    case RSCP_T1_CHAR:
        kind = "T2 ref";
        value = long(rscpT1Char(e));
        break;
    case RSCP_T1_NEXT:
        kind = "next tab";
        value = long(e & 0xFFFFFF);
        break;
    case RSCP_T1_RULE:
        kind = "rule";
        value = long(rscpT1RuleNo(e));
        break;
    case RSCP_T1_OUT1:
        kind = "1 byte";
        std::snprintf(out, sizeof out, "%02x", e & 0xFF);
        break;
    case RSCP_T1_OUT2:
        kind = "2 bytes";
        std::snprintf(out, sizeof out, "%02x %02x", e >> 8 & 0xFF, e & 0xFF);
        break;
    default:
        break;
    }
    Line(w, "T1[%u]%s= %-8.8s %7ld %-9.9s  %-8.8s %-12.12s", block, at, kind, value, raw, attr, out);
}

// One T2 entry in the form of what 2 (star: the "[%3d*128]" form of what 6).
void T2Line(Writer w, uint32_t piece, uint32_t block, uint16_t e, bool star)
{
    char at[24];
    if (star)
        std::snprintf(at, sizeof at, "[%3u*128]", block);
    else
        std::snprintf(at, sizeof at, "[%u]", block);
    const char* range = rscpBlockRangeText(block);
    const uint32_t kind = e >> 13;
    if (kind >= 4) {
        Line(w, "T2[%u]%s   /* %s */ = T3 index 0x%04x", piece, at, range, e & 0x7FFFu);
    } else if (kind == 2) {
        char attr[16] = "";
        if ((e >> 7 & 0x3F) != 0)
            std::snprintf(attr, sizeof attr, " a=%3u", e >> 7 & 0x3Fu);
        Line(w, "T2[%u]%s   /* %s */ = %s   (%3u)%s", piece, at, range, rscpOutRuleName(uint16_t(e & 0x7F)), e & 0x7Fu,
             attr);
    } else if (star && e == 0) {
        Line(w, "T2[%u]%s   /* %s */ = *sorry' ", piece, at, range);
    } else {
        Line(w, "T2[%u]%s   /* %s */ = *sorry:          (%s%04x)", piece, at, range, star ? "0x" : "", e);
    }
}

void T3Line(Writer w, const rscpCcc_t* c, uint32_t block, uint32_t col)
{
    uint32_t t = 0;
    if (!rscpT3Word(c, block, col, &t)) {
        Line(w, "T3[%u][x+%3u]= ERROR", block, col);
        return;
    }
    if (rscpT3IsRule(t)) {
        Line(w, "T3[%u][x+%3u]=           Rule %u  (0x%04x)", block, col, rscpT3RuleNo(t), rscpT3RuleAttr(t));
        return;
    }
    const uint32_t n = rscpT3CodeLength(t);
    if (n == 0) {
        Line(w, "T3[%u][x+%3u]=  (!)   %02x/%02x %02x %02x", block, col, t >> 24, t >> 16 & 0xFF, t >> 8 & 0xFF,
             t & 0xFF);
        return;
    }
    uint8_t small[3] = {uint8_t(t >> 16), uint8_t(t >> 8), uint8_t(t)};
    const uint8_t* b = n <= 3 ? small : rscpCccBytes(c, t & 0xFFFFFF, n);
    if (b == nullptr) {
        Line(w, "T3[%u][x+%3u]= (len=%3u) ERROR", block, col, n);
        return;
    }
    std::string bytes;
    char hex[8];
    for (uint32_t i = 0; i < n && i < 5; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", b[i]);
        bytes += hex;
    }
    if (n <= 5)
        Line(w, "T3[%u][x+%3u]=           %s", block, col, bytes.c_str());
    else
        Line(w, "T3[%u][x+%3u]= (len=%3u) %s...", block, col, n, bytes.c_str());
}

void HexDump(Writer w, const uint8_t* p, uint32_t length)
{
    bool skipping = false;
    for (uint32_t off = 0; off < length; off += 16) {
        const uint32_t n = length - off < 16 ? length - off : 16;
        if (off >= 16 && length - off >= 32 && std::memcmp(p + off, p + off - 16, 16) == 0) {
            if (!skipping)
                w("...", 3);
            skipping = true;
            continue;
        }
        skipping = false;
        char line[80];
        int at = std::snprintf(line, sizeof line, "%6X", off);
        for (uint32_t i = 0; i < 16; ++i)
            at += i < n ? std::snprintf(line + at, sizeof line - size_t(at), " %02X", p[off + i])
                        : std::snprintf(line + at, sizeof line - size_t(at), "   ");
        line[at++] = '|';
        for (uint32_t i = 0; i < 16; ++i)
            line[at++] = i < n ? (std::isprint(p[off + i]) ? char(p[off + i]) : '.') : ' ';
        line[at++] = '|';
        w(line, at);
    }
}

struct HexText {
    std::string text;
};
void Collect(const char* t, int32_t n, void* ctx)
{
    static_cast<HexText*>(ctx)->text.assign(t, size_t(n));
}

}  // namespace

uint32_t rscpls__look_single(int32_t what, const uint8_t* key, void (*writer)(const char* text, int32_t length),
                             uint32_t mask)
{
    if (what < 1 || what > 9 || writer == nullptr)
        return rscpe__error(RSCPEINTERN, 'C', mask, kModule, 5, __LINE__, "illegal parameter", "F44", nullptr, 0,
                            nullptr, 0);
    const rscpCcc_t* c = rscpmp;
    const bool needsCache = what != 7 && what != 9;
    const bool needsKey = what == 1 || what == 2 || what == 4 || what == 5 || what == 6;
    if ((needsCache && c == nullptr) || (needsKey && key == nullptr))
        return rscpe__error(RSCPEINVAL, 'C', mask, kModule, 5, __LINE__, "missing parameter", "F44", nullptr, 0,
                            nullptr, 0);
    switch (what) {
    case 1:
        T1Line(writer, c, Key32(key, 0), key[4], false);
        break;
    case 4:
        T1Line(writer, c, Key32(key, 0), uint32_t(key[4] | key[5] << 8), true);
        break;
    case 2: {
        const uint32_t piece = Key32(key, 0), cp = uint32_t(key[4]) << 16 | key[5] << 8 | key[6];
        uint16_t e = 0;
        if (!rscpT2Entry(c, piece, cp >> 7, &e))
            return rscpe__error(RSCPEINVAL, 'C', mask, kModule, 5, __LINE__, "T2 entry outside the cache", "F44",
                                nullptr, 0, nullptr, 0);
        T2Line(writer, piece, cp >> 7, e, false);
        break;
    }
    case 3:
        Line(writer, "max.KOV char.no=%ld", long(c->maxKovCode));
        Line(writer, "max.  U char.no=%ld", long(c->maxKovChar));
        break;
    case 5:
        T3Line(writer, c, Key32(key, 0), key[6] & 0x7F);
        break;
    case 6: {
        const uint32_t piece = Key32(key, 0), first = Key32(key, 4), count = Key32(key, 8);
        bool inRun = false;
        for (uint32_t b = first; b - first < count; ++b) {
            uint16_t e = 0;
            if (!rscpT2Entry(c, piece, b, &e))
                break;
            if (e == 0 && inRun)
                continue;
            if (e == 0) {
                T2Line(writer, piece, b, e, true);
                uint16_t next = 1;
                if (b + 1 - first < count && rscpT2Entry(c, piece, b + 1, &next) && next == 0) {
                    Line(writer, "T2[%u][ ...                                *sorry|", piece);
                    inRun = true;
                }
                continue;
            }
            inRun = false;
            T2Line(writer, piece, b, e, true);
        }
        break;
    }
    case 8:
        HexDump(writer, reinterpret_cast<const uint8_t*>(c), c->length);
        break;
    case 9: {
        rscpActKey k;
        uint32_t uses = 0;
        if (!rscpActivationCacheEntry(0, &k, &uses)) {
            Line(writer, "| rscpCActivate's cache is empty.");
            break;
        }
        Line(writer, "| rscpCActivate's cache:");
        for (int32_t i = 0; rscpActivationCacheEntry(i, &k, &uses); ++i) {
            uint8_t bytes[16];
            for (int j = 0; j < 8; ++j) {
                bytes[j] = uint8_t(k.hi >> (8 * j));
                bytes[8 + j] = uint8_t(k.lo >> (8 * j));
            }
            HexText hex;
            rscpHexLine16(bytes, Collect, &hex);
            Line(writer, "|%3d cnt=%10u key=%s", i + 1, uses, hex.text.c_str());
        }
        break;
    }
    default:
        break;
    }
    return RSCP_OK;
}
