// Character numbers: the library numbers every character it knows; the
// cache's character-number map gives the Unicode value of each number.  Also
// the small hexadecimal formatters of the table printouts.
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpobject.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Error(uint32_t code, int32_t line, const char* text, const char* msgid, const char* detail)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 1, line, text, msgid, detail, -1, nullptr, 0);
}

// Number of map entries that stand inside the cache block: the numbers 0 to
// the map's maximum, but never an entry past the block's end, whatever the
// header says.
uint32_t MapEntries(const rscpCcc_t* c)
{
    if (c == nullptr || c->tcp01Offset < sizeof(rscpCcc_t) || c->tcp01Offset >= c->length)
        return 0;
    const uint32_t fit = (c->length - c->tcp01Offset) / 3;
    const uint32_t want = static_cast<uint32_t>(c->tcp01MapMax) + 1;
    return fit < want ? fit : want;
}

uint32_t Entry(const uint8_t* map, uint32_t no)
{
    const uint8_t* p = map + 3 * static_cast<std::size_t>(no);
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

constexpr uint32_t kNulNumber = 2404;  // the number whose entry 0 means U+0000

uint32_t NoCache(int32_t line)
{
    return Error(RSCPENOCONV, line, "CCC not proper initialized", "F34", nullptr);
}

uint32_t OutOfRange(const char* text, uint32_t no, int32_t line)
{
    char detail[64];
    std::snprintf(detail, sizeof detail, "KOVchar %lu > %lu (TCP01mapMax)", static_cast<unsigned long>(no),
                  static_cast<unsigned long>(rscpmp->tcp01MapMax));
    return Error(RSCPENOCONV, line, text, "F40", detail);
}

}  // namespace

uint32_t rscpCharNoToUnicodeChecked(uint32_t* codePoint, uint32_t no)
{
    if (rscpmp == nullptr)
        return NoCache(__LINE__);
    if (no >= MapEntries(rscpmp))
        return OutOfRange("character number ot of range", no, __LINE__);
    const uint32_t cp = Entry(rscpCccTcp01(rscpmp), no);
    if (cp == 0 && no != kNulNumber) {
        char detail[48];
        std::snprintf(detail, sizeof detail, "KOVchar %05lu without Unicode mapping", static_cast<unsigned long>(no));
        return Error(RSCPENOCONV, __LINE__, "character number ot of range", "F40", detail);
    }
    *codePoint = cp;
    return 0;
}

uint32_t rscpUnicodeToCharNo(uint16_t* charNo, uint32_t codePoint)
{
    if (codePoint == 0) {
        *charNo = kNulNumber;
        return 0;
    }
    if (rscpmp == nullptr)
        return NoCache(__LINE__);
    const uint32_t n = MapEntries(rscpmp);
    const uint8_t* map = rscpCccTcp01(rscpmp);
    for (uint32_t no = 0; no < n; ++no) {
        if (Entry(map, no) == codePoint) {
            *charNo = static_cast<uint16_t>(no);
            return 0;
        }
    }
    char detail[64];
    std::snprintf(detail, sizeof detail, "charid %06lx has no aequivalent KOV-charno",
                  static_cast<unsigned long>(codePoint));
    return Error(RSCPENOCONV, __LINE__, "charid without matching KOV-charno", "F40", detail);
}

uint32_t rscpCharNoToUnicode(uint32_t no)
{
    if (rscpmp == nullptr) {
        NoCache(__LINE__);
        return 0;
    }
    if (no >= MapEntries(rscpmp)) {
        OutOfRange("character number out of range", no, __LINE__);
        return 0;
    }
    return Entry(rscpCccTcp01(rscpmp), no);
}

uint16_t rscpUnicodeToCharNoQuiet(uint32_t codePoint)
{
    const uint32_t n = MapEntries(rscpmp);
    if (n == 0)
        return 0;
    const uint8_t* map = rscpCccTcp01(rscpmp);
    for (uint32_t no = 0; no < n; ++no)
        if (Entry(map, no) == codePoint)
            return static_cast<uint16_t>(no);
    return 0;
}

uint32_t rscpCSetSubst(rscpCObj_t* obj, uint32_t charNo)
{
    obj->use_c_subst = 1;
    obj->subst_code = static_cast<uint16_t>(charNo);
    obj->subst_code_U4 = rscpCharNoToUnicode(charNo);
    return 0;
}

void rscpHexLine16(const uint8_t* bytes, void (*writer)(const char*, int32_t, void*), void* ctx)
{
    char line[64];
    int n = 0;
    for (int i = 0; i < 16; ++i) {
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%02X ", bytes[i]);
        if (i == 7)
            line[n++] = ';';
        else if (i % 4 == 3 && i != 15)
            line[n++] = ',';
    }
    line[n] = '\0';
    writer(line, n, ctx);
}

char* rscpHexField(char* buffer, const uint8_t* bytes, int32_t length)
{
    constexpr std::size_t kSize = 48;
    int n = std::snprintf(buffer, kSize, "len=%d,data=", length);
    for (int32_t i = 0; i < length && i < 10; ++i)
        n += std::snprintf(buffer + n, kSize - static_cast<std::size_t>(n), "%02x", bytes[i]);
    return buffer;
}

const char* rscpSourceIdent(int32_t mode)
{
    return mode == 1 ? kModule + std::strlen("@(#) $Id: ") : kModule;
}
