// Code page queries, answered from the code page information records of the
// converter cache: existence, kind of character set, space character, length
// of the basic unit, and the shortcut classification of a converter.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "krn/rscp/cpobject.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Error(uint32_t code, int32_t line, const char* text, const char* msgid, const char* arg, int32_t len)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, 1, line, text, msgid, arg, len, nullptr, 0);
}

uint32_t NotInitialized(int32_t line)
{
    return Error(RSCPENOCONV, line, "CCC not proper initialized", "F34", nullptr, 0);
}

uint32_t Unknown(const char* cp, int32_t line)
{
    char text[48];
    std::snprintf(text, sizeof text, "character code \"%4.4s\" unknown", cp);
    return Error(RSCPENOCONV, line, text, "F43", cp, 4);
}

bool UsableState()
{
    return h_ccc_state == 2 || h_ccc_state == 4 || h_ccc_state == 5;
}

}  // namespace

// Makes the cache usable for a lookup: reconnects or reorganises as needed.
uint32_t rscpCccReady(int32_t line)
{
    if (!UsableState())
        return NotInitialized(line);
    uint32_t rc = 0;
    if (rscpmp != nullptr && h_ccc_state == 5) {
        rc = rscpr__reconnect(RSCP_ALL_ERRORS);
    } else if (rscpmp == nullptr) {
        ++rscph_HookTable.ctl->reorgNesting;
        rc = rscpnr__need_reorg(0, RSCP_ALL_ERRORS);
        --rscph_HookTable.ctl->reorgNesting;
    }
    if (rc != 0)
        return rc;
    if (h_ccc_state != 2 || rscpmp == nullptr)
        return NotInitialized(line);
    return 0;
}

// The record of a code page in the cache's sorted list, or NULL.  Only the
// records that lie inside the cache block are searched.
rscpCpInfo_t* rscpFindCodePage(const char* cp)
{
    rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return nullptr;
    if (c->cpListOffset < sizeof(rscpCcc_t) || c->cpListOffset > c->length)
        return nullptr;
    const uint32_t fit = (c->length - c->cpListOffset) / sizeof(rscpCpInfo_t);
    rscpCpInfo_t* list = reinterpret_cast<rscpCpInfo_t*>(reinterpret_cast<char*>(c) + c->cpListOffset);
    uint32_t lo = 0, hi = c->cpCount < fit ? c->cpCount : fit;
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        const int d = std::memcmp(list[mid].cp, cp, 4);
        if (d == 0)
            return &list[mid];
        if (d < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return nullptr;
}

bool rscpShortcutManyConverters()
{
    static int on = -1;
    if (on < 0) {
        const char* v = rscph_HookTable.GetParameter("rscp/shortcut_many_converters");
        on = v != nullptr && std::strtol(v, nullptr, 10) != 0;
    }
    return on == 1;
}

namespace {

// The two most recently fetched records and the generation they belong to.
struct Remembered {
    uint32_t generation;
    rscpCpInfo_t rec[2];
    bool used[2];
    int mru;  // slot used most recently
};
Remembered g_seen;

uint64_t Space(uint32_t len, uint8_t b0, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0)
{
    return static_cast<uint64_t>(len & 0xFF) << 32 | static_cast<uint64_t>(b3) << 24 | static_cast<uint64_t>(b2) << 16 |
           static_cast<uint64_t>(b1) << 8 | b0;
}

bool SameCp(const char* cp, const char* lit)
{
    return std::memcmp(cp, lit, 4) == 0;
}

// The shortcut answer for the space character; false when there is none.
bool ShortcutSpace(const char* cp, uint64_t* space)
{
    if (cp[0] == '1' || SameCp(cp, "4110"))
        *space = Space(1, 0x20);
    else if (SameCp(cp, "4100") || SameCp(cp, "4102"))
        *space = Space(2, 0x00, 0x20);
    else if (SameCp(cp, "4101") || SameCp(cp, "4103"))
        *space = Space(2, 0x20, 0x00);
    else if (SameCp(cp, "4104"))
        *space = Space(4, 0, 0, 0, 0x20);
    else if (SameCp(cp, "4105"))
        *space = Space(4, 0x20);
    else
        return false;
    return true;
}

uint64_t SpaceOf(const rscpCpInfo_t& r)
{
    return Space(r.spaceLen > 4 ? 4 : r.spaceLen, r.space[0], r.space[1], r.space[2], r.space[3]);
}

bool ActiveMethod(int32_t m)
{
    return m >= 2 && m <= RSCPMETH_LAST;
}

uint64_t ObjectSpace(const rscpCObj_t* o, const char* cp, uint8_t* bytes, int32_t* len)
{
    if (o->method == RSCPMETH_UNKNOWN || o->method == RSCPMETH_DEACTIVATED)
        return Space(0, 0xDE, 0xAD, 0x0B, 0xAD);
    if (ActiveMethod(o->method) && *len < 1) {
        const uint64_t s = getSpaceOfCP(cp);
        *len = static_cast<int32_t>(s >> 32 & 0xFF);
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(s >> (8 * i));
    }
    return Space(static_cast<uint32_t>(*len), bytes[0], bytes[1], bytes[2], bytes[3]);
}

void OptionsReason(const rscpCObj_t* o, char* reason, std::size_t size)
{
    std::snprintf(reason, size, "ctrl: %s, own: %s, meth: %s, drop: %s", rscpCtrlCodeCvText(o->ctrlcodes),
                  rscpOwnChCvText(o->ownCh), rscpMethodText(o->method), rscpDropText(o->on_drop));
}

void NoShortcut(const rscpCObj_t* o, const char* reason, int32_t line)
{
    char text[256];
    std::snprintf(text, sizeof text, "rscpNoShortCutConversion (%.*s->%.*s): %s in  [%s:%d]", 4, o->incode, 4,
                  o->outcode, reason, "rscpc", line);
    rscpe_get_output_func(1)(text, static_cast<int32_t>(std::strlen(text)));
}

}  // namespace

uint32_t GetCPInfo(const char* cp, rscpCpInfo_t* info)
{
    if (cp == nullptr || info == nullptr)
        return Error(RSCPEINVAL, __LINE__, "missing parameter", "F38", "GetCPInfo", -1);
    uint32_t rc = rscpCccReady(__LINE__);
    if (rc != 0)
        return rc;
    Remembered& s = g_seen;
    if (s.generation == rscpmp->reorgVersion) {
        for (int slot : {1, 0}) {
            if (s.used[slot] && SameCp(s.rec[slot].cp, cp)) {
                *info = s.rec[slot];
                s.mru = slot;
                return 0;
            }
        }
    } else {
        s.used[0] = s.used[1] = false;
    }
    rscph_HookTable.GetSema(28, 0);
    ++rscph_HookTable.ctl->cpLookups;
    const rscpCpInfo_t* r = rscpFindCodePage(cp);
    if (r == nullptr) {
        rc = Unknown(cp, __LINE__);
        rscph_HookTable.ReleaseSema(60, 0);
        return rc;
    }
    *info = *r;
    rc = static_cast<uint32_t>(rscph_HookTable.ReleaseSema(61, 0));
    s.generation = rscpmp->reorgVersion;
    const int slot = 1 - s.mru;
    s.rec[slot] = *r;
    s.used[slot] = true;
    s.mru = slot;
    return rc;
}

uint32_t rscpcpe_code_page_exists(const char* cp)
{
    rscpCpInfo_t info;
    return GetCPInfo(cp, &info);
}

uint32_t rscpCodePageKnown(const char* cp)
{
    if (cp == nullptr)
        return Error(RSCPEINVAL, __LINE__, "missing parameter", "F38", "rscpCodePageKnown", -1);
    if (rscpmp == nullptr || !UsableState())
        return NotInitialized(__LINE__);
    return rscpFindCodePage(cp) != nullptr ? 0 : Unknown(cp, __LINE__);
}

const char* rscpKindText(int32_t kind)
{
    static const char* const t[] = {"Unknown",  "Strange",     "EBCDIC",   "ASCII",      "Utf8",
                                    "2ByteBig", "2ByteLittle", "4ByteBig", "4ByteLittle"};
    return kind >= 0 && kind <= 8 ? t[kind] : "<strange value>";
}

int32_t rscpKindiOfCP(const char* cp)
{
    rscpCpInfo_t r;
    if (GetCPInfo(cp, &r) != 0)
        return RSCPKIND_UNKNOWN;
    switch (r.major) {
    case 0:
        if (r.spaceLen == 0)
            return RSCPKIND_UNKNOWN;
        if (r.spaceLen == 1)
            return r.space[0] == 0x20 ? RSCPKIND_ASCII : r.space[0] == 0x40 ? RSCPKIND_EBCDIC : RSCPKIND_STRANGE;
        return RSCPKIND_STRANGE;
    case 1:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 20:
    case 25:
    case 30:
    case 34:
    case 35:
    case 36:
    case 39:
        return RSCPKIND_ASCII;
    case 2:
        return r.minor == 0 ? RSCPKIND_ASCII : RSCPKIND_STRANGE;
    case 12:
        return RSCPKIND_UTF8;
    case 10:
    case 13:
    case 19:
        return RSCPKIND_2BYTEBIG;
    case 14:
    case 16:
        return RSCPKIND_2BYTELITTLE;
    case 11:
        return RSCPKIND_4BYTEBIG;
    case 15:
        return RSCPKIND_4BYTELITTLE;
    case 21:
        return RSCPKIND_EBCDIC;
    default:
        return RSCPKIND_UNKNOWN;
    }
}

uint32_t rscpCodePageToAscii(const unsigned char* p, int32_t length)
{
    unsigned char d[4];
    auto digit = [](unsigned char c) { return c >= '0' && c <= '9'; };
    if (p == nullptr || length < 4)
        return 0;
    std::memcpy(d, p, 4);
    if (digit(p[0]) && digit(p[1]) && digit(p[2]) && digit(p[3])) {
        // four ASCII digits
    } else if (p[0] >= 0xF0 && p[0] <= 0xF9 && p[1] >= 0xF0 && p[1] <= 0xF9 && p[2] >= 0xF0 && p[2] <= 0xF9 &&
               p[3] >= 0xF0 && p[3] <= 0xF9) {
        for (int i = 0; i < 4; ++i)
            d[i] = static_cast<unsigned char>(p[i] - 0xF0 + '0');
    } else if (length >= 8 && digit(p[0]) && p[1] == 0 && digit(p[2]) && p[3] == 0 && digit(p[4]) && p[5] == 0 &&
               digit(p[6]) && p[7] == 0) {
        for (int i = 0; i < 4; ++i)
            d[i] = p[2 * i];
    } else if (length >= 8 && p[0] == 0 && digit(p[1]) && p[2] == 0 && digit(p[3]) && p[4] == 0 && digit(p[5]) &&
               p[6] == 0 && digit(p[7])) {
        for (int i = 0; i < 4; ++i)
            d[i] = p[2 * i + 1];
    }
    return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 | static_cast<uint32_t>(d[2]) << 16 |
           static_cast<uint32_t>(d[3]) << 24;
}

char rscpCharSetLetterOfCP(const unsigned char* codePage, int32_t length)
{
    const uint32_t w = rscpCodePageToAscii(codePage, length);
    const char cp[4] = {static_cast<char>(w), static_cast<char>(w >> 8), static_cast<char>(w >> 16),
                        static_cast<char>(w >> 24)};
    rscpCpInfo_t r;
    if (GetCPInfo(cp, &r) != 0) {
        if (cp[0] == '0')
            return 'E';
        if (cp[0] == '1' || cp[0] == '6' || cp[0] == '8')
            return 'A';
        if (cp[0] == '4' && cp[1] >= '1' && cp[1] <= '4')
            return 'U';
        return 0;
    }
    switch (r.major) {
    case 0:
        if (r.spaceLen == 1 && r.space[0] == 0x20)
            return 'A';
        if (r.spaceLen == 1 && r.space[0] == 0x40)
            return 'E';
        return 0;
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 20:
    case 25:
    case 30:
    case 34:
    case 35:
    case 36:
    case 39:
        return 'A';
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 16:
        return 'U';
    case 21:
        return 'E';
    default:
        return 0;
    }
}

uint8_t rscpIsStacking(const char* cp)
{
    rscpCpInfo_t r;
    return GetCPInfo(cp, &r) == 0 ? r.stacking : 0;
}

uint64_t getSpaceOfCP(const char* cp)
{
    uint64_t s;
    if (cp != nullptr && rscpShortcutManyConverters() && ShortcutSpace(cp, &s))
        return s;
    rscpCpInfo_t r;
    return GetCPInfo(cp, &r) == 0 ? SpaceOf(r) : 0;
}

int32_t rscpLengthOfBasicChar(const char* cp)
{
    uint64_t s;
    if (cp != nullptr && rscpShortcutManyConverters() && ShortcutSpace(cp, &s))
        return static_cast<int32_t>(s >> 32 & 0xFF);
    rscpCpInfo_t r;
    if (GetCPInfo(cp, &r) != 0)
        return 0;
    return r.unitBits > 16 ? 4 : r.unitBits > 8 ? 2 : r.unitBits > 4 ? 1 : 0;
}

uint64_t rscpCInputSpace(rscpCObj_t* o)
{
    return ObjectSpace(o, o->incode, o->in_space, &o->in_space_len);
}

uint64_t rscpCOutputSpace(rscpCObj_t* o)
{
    return ObjectSpace(o, o->outcode, o->out_space, &o->out_space_len);
}

int32_t rscpShortCutKindOfConverter(const rscpCObj_t* o)
{
    const int32_t in = rscpKindiOfCP(o->incode), out = rscpKindiOfCP(o->outcode);
    const bool plainOptions = o->on_drop == RSCPDROP_LIKE_MISS && o->ctrlcodes == RSCPCTRL_TRY &&
                              o->ownCh == RSCPOWN_IGNORE;
    char reason[160];
    if (in == RSCPKIND_ASCII || in == RSCPKIND_EBCDIC) {
        if (o->method == 48 || o->method == 49)
            return 1;
        if (o->method != 4 || !plainOptions) {
            OptionsReason(o, reason, sizeof reason);
        } else if (out != RSCPKIND_2BYTEBIG && out != RSCPKIND_2BYTELITTLE) {
            std::snprintf(reason, sizeof reason, "out_cp_kind = %s", rscpKindText(out));
        } else if (o->in_maxln == 1 || o->in_maxln == 2) {
            return o->in_maxln;
        } else {
            std::snprintf(reason, sizeof reason, "in_maxln = %d", o->in_maxln);
        }
        NoShortcut(o, reason, __LINE__);
        return 0;
    }
    if (in == RSCPKIND_2BYTEBIG || in == RSCPKIND_2BYTELITTLE) {
        if (out == RSCPKIND_2BYTEBIG)
            return in == RSCPKIND_2BYTEBIG ? 6 : 5;
        if (out == RSCPKIND_2BYTELITTLE)
            return in == RSCPKIND_2BYTEBIG ? 5 : 6;
        if ((o->method != 33 && o->method != 35) || !plainOptions) {
            OptionsReason(o, reason, sizeof reason);
        } else if (out != RSCPKIND_EBCDIC && out != RSCPKIND_ASCII) {
            std::snprintf(reason, sizeof reason, "out_cp_kind = %s", rscpKindText(out));
        } else if (o->out_maxln == 1 || o->out_maxln == 2) {
            return o->out_maxln == 1 ? 3 : 4;
        } else {
            std::snprintf(reason, sizeof reason, "out_maxln = %d", o->out_maxln);
        }
        NoShortcut(o, reason, __LINE__);
        return 0;
    }
    std::snprintf(reason, sizeof reason, "in_cp_kind = %s", rscpKindText(in));
    NoShortcut(o, reason, __LINE__);
    return 0;
}

uint32_t rscpldc_lookup_default_country(rscpDefCountry_t* out, uint32_t mask)
{
    static uint32_t seenGeneration = 0;
    if (mask != RSCP_ALL_ERRORS)
        std::fprintf(stderr, "rscpc(%d): p_errmask = %lx ?\n", 20800, static_cast<unsigned long>(mask));
    if (out == nullptr)
        return rscpe__error(RSCPENOCONV, 'C', mask, kModule, 2, __LINE__, "missing parameter", "F38", nullptr, 0,
                            nullptr, 0);
    if (!UsableState() || rscpmp == nullptr)
        return rscpe__error(RSCPENOCONV, 'C', mask, kModule, 2, __LINE__, "CCC not proper initialized", "F34", nullptr,
                            0, nullptr, 0);
    if (rscpmp->reorgVersion != seenGeneration) {
        ++rscph_HookTable.ctl->reorgNesting;
        const uint32_t rc = rscpnr__need_reorg(0, mask);
        --rscph_HookTable.ctl->reorgNesting;
        if (rc != 0)
            return rc;
        if (rscpmp == nullptr)
            return rscpe__error(RSCPENOCONV, 'C', mask, kModule, 2, __LINE__, "CCC not proper initialized", "F34",
                                nullptr, 0, nullptr, 0);
        seenGeneration = rscpmp->reorgVersion;
    }
    out->country = rscpmp->defCountry;
    out->flag = rscpmp->defCountryFlag;
    return 0;
}
