// Row operations of the code page lists that the catalogue fill hands over
// (legacy settings, database code pages, default country, character-number
// map, code page catalogue), and the character lengths by NLS kind.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpjis.h"
#include "krn/rscp/cpstore.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpll#1 $";

uint32_t Error(uint32_t code, int32_t location, int32_t line, const char* text, const char* id, const char* arg1,
               const char* arg2 = nullptr)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, location, line, text, id, arg1, arg1 != nullptr ? -1 : 0,
                        arg2, arg2 != nullptr ? -1 : 0);
}

rscpCtlRecord_t& Ctl()
{
    return *rscph_HookTable.ctl;
}

bool Digit(char c)
{
    return c >= '0' && c <= '9';
}

// Two decimal digits; 0 when either is not a digit.
uint32_t TwoDigits(const char* p)
{
    return Digit(p[0]) && Digit(p[1]) ? (p[0] - '0') * 10u + (p[1] - '0') : 0u;
}

bool Is(const char* cp, const char* text)
{
    return std::memcmp(cp, text, 4) == 0;
}

// A TCP0I setting that must be 'E'nable or 'D'isable.
uint32_t EnableFlag(uint32_t* setting, const char* key, const char* value, int32_t length, int32_t line,
                    const char* text)
{
    const char c = length > 0 ? value[0] : '\0';
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
        *setting = c == 'E' || c == 'e' ? 1 : 0;
        return 0;
    }
    char arg[40];
    snprintfR(arg, sizeof arg, "TCP0I&%s&'%*.*s'&not&d,e&&", key, length, length, value);
    return Error(RSCPEINTERN, 75, line, text, "CP9", arg);
}

uint32_t StoreProcessedLanguages(const char* value, int32_t length)
{
    rscpCcc_t* c = rscpmp;
    c->procLangLength = static_cast<uint32_t>(length);
    if (length <= 0)
        return 0;
    if (c->firstT7 >= static_cast<uint32_t>(length)) {
        const uint32_t top = (c->firstT7 - static_cast<uint32_t>(length)) & ~3u;
        if (top >= c->endT2) {
            std::memcpy(reinterpret_cast<char*>(c) + top, value, static_cast<size_t>(length));
            c->firstT7 = top;
            c->procLangOffset = top;
            c->procLangState = 2;
            return 0;
        }
    }
    char arg[40];
    snprintfR(arg, sizeof arg, "cache07&%ld&?&", static_cast<long>(c->endT7 - c->endT2));
    return Error(RSCPETOOLONG, 74, 999, "KOVPARAM(rsts/ccc/cache07) small", "F1A", arg);
}

}  // namespace

uint32_t rscphx__hex_pair_value(const char* pair)
{
    auto nibble = [](char c) -> uint32_t {
        if (c >= '1' && c <= '9')
            return static_cast<uint32_t>(c - '0');
        if (c >= 'A' && c <= 'F')
            return static_cast<uint32_t>(c - 'A' + 10);
        return 0;
    };
    return nibble(pair[0]) * 16 + nibble(pair[1]);
}

uint32_t rscpti__take_tcp0i_row(const char* row)
{
    uint32_t rfc = 1;
    rscpgo_get_option(25, &rfc);
    if (row[20] != 'X' || rscpmp == nullptr)
        return 0;
    rscpCcc_t* c = rscpmp;
    const char* value = row + 35;
    const int32_t length = fixstr_trimmed_len(value, 240);
    char key[21];
    fixstr_copy_trim(key, row, 20);
    if (std::strcmp(key, "processed_languages") == 0)
        return StoreProcessedLanguages(value, length);
    if (std::strcmp(key, "utf8gui") == 0) {
        static const char kCodes[] = "YUNEA";
        const char u = length > 0 ? static_cast<char>(std::toupper(static_cast<unsigned char>(value[0]))) : '\0';
        const char* hit = u != '\0' ? std::strchr(kCodes, u) : nullptr;
        if (hit != nullptr) {
            c->utf8guiAllow = static_cast<uint32_t>(hit - kCodes);
            return 0;
        }
        char arg[40];
        snprintfR(arg, sizeof arg, "TCP0I&%s&'%*.*s'&not&y,u,n,e,a&&", key, length, length, value);
        return Error(RSCPEINTERN, 75, 1044, "TCP0I(utf8gui) not valid", "CP9", arg);
    }
    if (std::strcmp(key, "rtlinltr") == 0)
        return EnableFlag(&c->rtlinltrAllow, key, value, length, 1068, "TCP0I(rtlinltr) not valid");
    if (std::strcmp(key, "print_indic_digits") == 0)
        return EnableFlag(&c->indicDigits, key, value, length, 1116, "TCP0I(print_indic_digits) not valid");
    if (std::strcmp(key, "bidi_ctrl_filter") == 0)
        return EnableFlag(&c->bidiCtrlFilter, key, value, length, 1092, "TCP0I(bidi_ctrl_filter) not valid");
    if (std::strcmp(key, "normalize_input") == 0)
        return EnableFlag(&c->normalizeInput, key, value, length, 1140, "TCP0I(normalize_input) not valid");
    if (std::strcmp(key, "cfont_cache_version") == 0) {
        char number[241];
        fixstr_copy_trim(number, value, 240);
        c->cfontCacheVersion = static_cast<int32_t>(rscpDecimal(number));
        if (c->cfontCacheVersion >= 0)
            return 0;
        char arg[40];
        snprintfR(arg, sizeof arg, "TCP0I&%s&'%*.*s'&not&d,e&&", key, length, length, value);
        return Error(RSCPEINTERN, 75, 1162, "TCP0I(cfont_cache_version) not valid", "CP9", arg);
    }
    if (std::strcmp(key, "legacy_cp") == 0) {
        std::memcpy(c->legacyCp, value, 4);
        return 0;
    }
    if (std::strncmp(key, "rfcMDMPinc_", 11) == 0 && rfc != 0) {
        char line[200];
        snprintfR(line, sizeof line, "%s. ignore RFC entry `%.*s' in non-Unicode system.", "TCP0I legacy caller",
                  static_cast<int>(std::strlen(key)), key);
        rscpe_get_output_func(1)(line, static_cast<int32_t>(std::strlen(line)));
    }
    return 0;
}

void rscpadb__add_tcpdb_row(const char* cp)
{
    rscpCcc_t* c = rscpmp;
    if (c->tcpdbCount < RSCP_TCPDB_MAX)
        std::memcpy(c->dbCp[c->dbCpCount++], cp, 4);
    if (c->tcpdbCount < UINT16_MAX)
        ++c->tcpdbCount;
}

void rscpcdb__check_tcpdb(uint8_t report)
{
    rscpCcc_t* c = rscpmp;
    if (c->tcpdbCount == 0) {
        c->dbCpCount = 1;
        kovlcpGetLocalCodePage(c->dbCp[0]);
        if (report != 0) {
            std::fputs("Database table TCPDB empty. Guessing! See note 86154\n", stderr);
            Error(RSCPEINTERN, 17, 919, "TCPDB: cannot find any codepage usage", "CP2", "TCPDB&", "0&");
        }
    } else if (c->tcpdbCount > RSCP_TCPDB_MAX) {
        char arg[70];
        snprintfR(arg, sizeof arg, "%ld: too many entries in TCPDB", static_cast<long>(c->tcpdbCount));
        Error(RSCPEINTERN, 80, 934, "TCPDB too many entries", "CP6", arg);
    }
}

void rscpad__add_tcp0d_row(const char* row)
{
    rscpCcc_t* c = rscpmp;
    ++Ctl().tcp0dRowsSeen;
    std::memcpy(c->defCountryText, row, 3);
    c->defLanguage = Ctl().tcp0dFormat >= 2 ? row[3] : ' ';
}

void rscpcd__check_tcp0d()
{
    rscpCcc_t* c = rscpmp;
    if (Ctl().tcp0dRowsSeen >= 2) {
        char arg[20];
        snprintfR(arg, sizeof arg, "%ld&", static_cast<long>(Ctl().tcp0dRowsSeen));
        Error(RSCPEINTERN, 16, 722, "TCP0D: multiple default countries", "CP2", "TCP0D&", arg);
    }
    const char* override = rscph_HookTable.GetParameter("rscp/override/TCP0D");
    if (override != nullptr && override[0] != '\0') {
        fixstr_copy_str_pad(c->defCountryText, override, 3);
        char text[100];
        snprintfR(text, sizeof text, "%.60s <<< rscp/override/TCP0D", override);
        Error(RSCPEINTERN, 99, 736, text, "CP6", text);
    }
    if (std::memcmp(c->defCountryText, "3CN", 3) == 0) {
        static const char kText[] = "TCP0D contains '3CN': use RSCPINST to change to 'CN '.";
        Error(RSCPEINTERN, 101, 755, kText, "CP6", kText);
        std::memcpy(c->defCountryText, "CN ", 3);
    }
}

void rscpa1__add_tcp01_row(const char* row)
{
    rscpCcc_t* c = rscpmp;
    uint32_t number = 0;
    for (int i = 0; i < 5; ++i)
        number = number * 10 + (Digit(row[i]) ? static_cast<uint32_t>(row[i] - '0') : 0u);
    // Numbers are kept in 16 bits: a larger one would wrap onto another row.
    if (number > UINT16_MAX)
        return;
    if (number > c->tcp01MapMax) {
        if (number > 5000 && fixstr_find(row + 5, 36, "_last_", 6) != nullptr) {
            if (number > c->tcp01SeenMax)
                c->tcp01SeenMax = static_cast<uint16_t>(number);
            return;
        }
        // The map holds the numbers it was sized for; others are not entered.
        if (number >= c->tcp01Room)
            return;
        c->tcp01MapMax = static_cast<uint16_t>(number);
    }
    if (row[40] != ' ') {
        uint8_t* entry = reinterpret_cast<uint8_t*>(c) + c->tcp01Offset + 3 * static_cast<size_t>(number);
        for (int k = 0; k < 3; ++k)
            entry[k] = static_cast<uint8_t>(rscphx__hex_pair_value(row + 35 + 2 * k));
    }
    if (number > c->tcp01SeenMax)
        c->tcp01SeenMax = static_cast<uint16_t>(number);
}

void rscpa0__add_tcp00_row(const char* row, int32_t n, uint8_t sourceTag)
{
    rscpCcc_t* c = rscpmp;
    rscpCpInfo_t* r = reinterpret_cast<rscpCpInfo_t*>(reinterpret_cast<char*>(c) + c->cpListOffset) + c->cpCount;
    ++c->cpCount;
    std::memset(r, 0, sizeof *r);
    std::memcpy(r->cp, row, 4);
    const auto setClass = [r](uint16_t bits, uint8_t family, uint8_t space, uint32_t length) {
        r->unitBits = bits;
        r->family = family;
        if (length != 0) {
            r->space[0] = space;
            r->spaceLen = length;
        }
    };
    if (std::memcmp(row + 7, "05", 2) == 0)
        setClass(7, 4, ' ', 1);
    else if (std::memcmp(row + 7, "04", 2) == 0)
        setClass(8, 4, ' ', 1);
    else if (std::memcmp(row + 7, "01", 2) == 0)
        setClass(8, 1, 0x40, 1);
    else if (std::memcmp(row + 9, "02", 2) == 0 || std::memcmp(row + 9, "06", 2) == 0)
        setClass(16, 0, 0, 0);
    else if (std::memcmp(row + 9, "05", 2) == 0)
        setClass(32, 0, 0, 0);
    else
        setClass(8, 0, 0, 0);
    r->ownCp = Is(r->cp, "4000") || Is(r->cp, "6100") || Is(r->cp, "6200") || Is(r->cp, "6500") ? 1 : 0;

    if (n > 10) {
        uint32_t kind = TwoDigits(row + 81);
        const uint32_t given = kind;
        if (kind == 0 && Is(r->cp, "4000"))
            kind = 19;
        else if (kind == 34 && std::memcmp(r->cp, "620", 3) == 0)
            kind = 39;
        if (kind != given) {
            char text[64], block[64];
            snprintfR(text, sizeof text, "code page %*.*s&set major to %d&", 4, 4, r->cp, static_cast<int>(kind));
            rscpSyslogBlock(block, text, "rscpll", "081");
            rscph_HookTable.SyslogMsg(32, "E16", block);
        }
        r->major = static_cast<uint16_t>(kind);
        static const struct {
            uint32_t kind;
            uint8_t bytes[4];
            uint32_t length;
        } kSpaces[] = {{10, {0x00, 0x20}, 2}, {13, {0x00, 0x20}, 2},    {19, {0x00, 0x20}, 2},    {14, {0x20, 0x00}, 2},
                       {16, {0x20, 0x00}, 2}, {11, {0, 0, 0, 0x20}, 4}, {15, {0x20, 0, 0, 0}, 4}, {12, {0x20}, 1}};
        for (const auto& s : kSpaces)
            if (s.kind == kind) {
                std::memcpy(r->space, s.bytes, 4);
                r->spaceLen = s.length;
            }
        r->minor = n > 11 ? static_cast<uint16_t>(TwoDigits(row + 83)) : 0;
    }
    if (n > 22)
        r->thaiUni = Digit(row[107]) ? static_cast<uint8_t>(row[107] - '0') : 0;
    else
        r->thaiUni = std::memcmp(row + 7, "06", 2) == 0 || std::memcmp(r->cp, "86", 2) == 0 ||
                             std::memcmp(r->cp, "086", 3) == 0 || Is(r->cp, "4110")
                         ? 1
                         : 0;
    r->source = static_cast<uint8_t>(row[85]);
    r->sourceTag = sourceTag;
    std::memset(r->segId, ' ', 5);
    if (n > 17 && row[102] == 'X')
        r->flags |= 0x04;
    if (n > 23)
        std::memcpy(r->segId, row + 108, 5);
    if (Is(r->cp, "1160") || Is(r->cp, "8341"))
        r->flags |= 0x08;
    if (Is(r->cp, "1101"))
        r->flags |= 0x10;
}

// ---- character lengths ------------------------------------------------------------

namespace {

bool Lead(uint8_t b)
{
    return b >= 0x81 && b <= 0x9F;
}

uint32_t Kind30(const uint8_t* p, int32_t n)
{
    if (n == 1)
        return Lead(p[0]) ? 2 : 1;
    if (!Lead(p[0]))
        return 1;
    return (p[1] >= 0x40 && p[1] <= 0x7E) || (p[1] >= 0x80 && p[1] <= 0xFC) ? 2 : 1;
}

// A JIS text: one graphic byte, an escape back to the Roman set, or a whole
// shifted run up to the escape that ends it.
uint32_t JisLength(const uint8_t* p, int32_t n)
{
    if (p[0] > 0x1F)
        return 1;
    if (n >= 3 && p[1] == '(' && p[2] == 'J')
        return 3;
    if (!(n >= 3 && p[1] == '$' && (p[2] == 'B' || p[2] == '@')))
        return 0;
    int32_t i = 3;
    while (i < n) {
        if (p[i] <= 0x1F) {
            if (i + 1 < n && p[i + 1] == '$') {
                i += 3;
                continue;
            }
            if (i + 2 < n && p[i + 1] == '(' && p[i + 2] == 'J')
                return static_cast<uint32_t>(i + 3);
        }
        i += 2;
    }
    return static_cast<uint32_t>(n);
}

// UTF-16 in either byte order; a test that needs a byte beyond the n given
// fails.
uint32_t Utf16Length(const uint8_t* p, int32_t n, bool big)
{
    auto hi = [&](int k) { return 2 * k + (big ? 0 : 1) < n ? p[2 * k + (big ? 0 : 1)] : -1; };
    auto lo = [&](int k) { return 2 * k + (big ? 1 : 0) < n ? p[2 * k + (big ? 1 : 0)] : -1; };
    if (hi(0) >= 0xD8 && hi(0) <= 0xDB)
        return 4;
    if (hi(0) >= 0xDC && hi(0) <= 0xDF)
        return 0;
    if (hi(0) == rscpPua.icon2Bytes[0] && lo(0) == rscpPua.icon2Bytes[1] && hi(1) == 0 && hi(2) == 0)
        return 6;
    if (hi(0) == rscpPua.frame1Bytes[0] && lo(0) == rscpPua.frame1Bytes[1] && (hi(1) == 0x25 || hi(1) == 0x26))
        return 4;
    return 2;
}

}  // namespace

uint32_t rscpLengthOfMBChar(const uint8_t* p, int32_t n, uint32_t kind)
{
    if (p == nullptr || n < 1 || kind >= 40)
        return 0;
    const uint8_t b0 = p[0];
    const uint8_t b1 = n > 1 ? p[1] : 0;
    switch (kind) {
    case 1:
        return static_cast<uint32_t>(rscpEucCharLen(p, n));
    case 2:
        return JisLength(p, n);
    case 3:
        if (!(Lead(b0) || b0 > 0xDF))
            return 1;
        if (n == 1)
            return 2;
        return (b1 >= 0x40 && b1 <= 0x7E) || b1 >= 0x80 ? 2 : 1;
    case 4:
    case 5:
    case 7:
    case 39:
        if (n == 1)
            return b0 > 0x80 ? 2 : 1;
        return b0 > 0x80 && b1 > 0x3F ? 2 : 1;
    case 6:
        if (n == 1)
            return b0 > 0x9F ? 2 : 1;
        return b0 > 0x80 && b1 > 0x3F ? 2 : 1;
    case 10:
    case 14:
    case 19:
        return 2;
    case 11:
    case 15:
        return 4;
    case 12:
        return b0 < 0x80   ? 1
               : b0 < 0xC0 ? 0
               : b0 < 0xE0 ? 2
               : b0 < 0xF0 ? 3
               : b0 < 0xF8 ? 4
               : b0 < 0xFC ? 5
               : b0 < 0xFE ? 6
                           : 0;
    case 13:
        return Utf16Length(p, n, true);
    case 16:
        return Utf16Length(p, n, false);
    case 20:
        return b0 == '#' ? 4 : b0 == '@' ? 5 : b0 == '^' ? 6 : 1;
    case 21:
        return b0 == 0x7B ? 4 : b0 == 0xB5 ? 5 : b0 == 0x5F ? 6 : 1;
    case 25:
        if (n == 1)
            return b0 > 0xA0 ? 2 : 1;
        return b0 > 0xA0 && b1 > 0xA0 ? 2 : 1;
    case 29: {
        auto inRange = [](uint8_t b) { return b >= 0x81 && b <= 0xFE; };
        auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
        if (n == 1)
            return b0 > 0x80 ? 2 : 1;
        if (n >= 4 && inRange(b0) && inRange(p[2]) && digit(b1) && digit(p[3]))
            return 4;
        if (n < 4 && inRange(b0) && digit(b1))
            return 4;
        return b0 > 0x80 && b1 > 0x3F ? 2 : 1;
    }
    case 30:
        return Kind30(p, n);
    case 34:
        if (n == 1)
            return b0 > 0x9F || Lead(b0) ? 2 : 1;
        return b0 > 0x9F && b1 > 0x3F ? 2 : Kind30(p, n);
    case 35:
        if (n == 1)
            return b0 > 0xA0 || Lead(b0) ? 2 : 1;
        return b0 > 0xA0 && b1 > 0xA0 ? 2 : Kind30(p, n);
    case 36:
        if (n == 1)
            return b0 > 0x9F || Lead(b0) ? 2 : 1;
        return b0 > 0x80 && b1 > 0x3F ? 2 : Kind30(p, n);
    default:
        return 0;
    }
}

uint32_t rscpMaxCharLenOfKind(uint32_t kind)
{
    switch (kind) {
    case 1:
        return 3;
    case 2:
        return 8;
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 10:
    case 14:
    case 19:
    case 25:
    case 30:
    case 34:
    case 35:
    case 36:
    case 39:
        return 2;
    case 11:
    case 13:
    case 15:
    case 16:
    case 29:
        return 4;
    case 12:
    case 20:
    case 21:
        return 6;
    default:
        return 0;
    }
}

uint32_t rscpInitCharLenHandle(rscpCharLenHandle_t* handle, const char* cp)
{
    if (handle == nullptr || cp == nullptr)
        return RSCPENOCONV;
    std::memcpy(handle->cp, cp, 4);
    const char* row = rscplt0__lookup_tcp00(cp);
    if (row == nullptr)
        return RSCPENOCONV;
    handle->kind = TwoDigits(row + 81);
    return 0;
}

uint32_t rscpLengthOfChar(const rscpCharLenHandle_t* handle, const uint8_t* p, int32_t n)
{
    const uint32_t length = rscpLengthOfMBChar(p, n, handle->kind);
    return length != 0 ? length : 1;
}

uint32_t rscpMaxLengthOfChar(const rscpCharLenHandle_t* handle)
{
    const uint32_t length = rscpMaxCharLenOfKind(handle->kind);
    return length != 0 ? length : 1;
}

void rscpSetCodePageNone(char* cp)
{
    std::memcpy(cp, "0000", 4);
}

uint32_t rscpPackCodePage(const char* cp, int32_t)
{
    return static_cast<uint32_t>(static_cast<uint8_t>(cp[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(cp[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(cp[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(cp[3])) << 24;
}
