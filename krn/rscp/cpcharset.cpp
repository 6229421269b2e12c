// Code page and charset names: the two compiled-in name tables, the lookup of
// a charset name (tolerant of case, hyphens and underscores, with a short list
// of remembered names) and of a Windows code page number, and the charset
// name of a code page with its "utf-8" fallback.
#include "krn/rscp/cpcharset.h"

#include <cctype>
#include <cstring>

#include "krn/rscp/cpobject.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpcpn#1 $";

constexpr int32_t kNameMax = 72;  // longest name compared; buffers hold it with its NUL

uint32_t Error(uint32_t code, int32_t number, int32_t line, const char* text, const char* msgid, const char* arg1,
               int32_t len1, const char* arg2, int32_t len2)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, number, line, text, msgid, arg1, len1, arg2, len2);
}

// The remembered names: slot 0 the last hit, then the frequent names.
struct Remembered {
    char name[kNameMax + 1];
    char cp[4];
};
constexpr int kSlots = 9;
Remembered g_slots[kSlots];
int g_count = 0;
uint32_t g_generation = 0;

const char* const kFrequent[] = {"utf16le",  "utf16be",     "utf8",        "iso88591",
                                 "iso88592", "windows1252", "windows1250", "shiftjis"};

// A row's name against a normalised name, normalising the row as it goes
// (the comparison ends at the first difference).
bool RowEquals(const char* wanted, const char* row, int32_t rowLength, int32_t mode)
{
    int32_t k = 0;
    for (int32_t i = 0; i < rowLength && k < kNameMax; ++i) {
        const unsigned char c = static_cast<unsigned char>(row[i]);
        if (c == ' ')
            break;
        if (mode == 1 && (c == '-' || c == '_'))
            continue;
        if (wanted[k] != static_cast<char>(std::tolower(c)) || wanted[k] == '\0')
            return false;
        ++k;
    }
    return wanted[k] == '\0';
}

void Rebuild()
{
    rscpf1t__flush_one_table("TCP00A");
    std::memset(g_slots[0].name, 0, sizeof g_slots[0].name);
    std::memcpy(g_slots[0].cp, "0000", 4);
    int used = 1;
    for (const char* name : kFrequent) {
        char cp[4];
        if (rscpcpn__cp_of_name(cp, name, int32_t(std::strlen(name)), kNameMax, rscpcpnIanaNames, 1) != 0)
            continue;
        snprintfTruncR(g_slots[used].name, sizeof g_slots[used].name, "%s", name);
        std::memcpy(g_slots[used].cp, cp, 4);
        ++used;
    }
    g_count = used;
    g_generation = rscpmp != nullptr ? rscpmp->reorgVersion : 0;
}

}  // namespace

const rscpCharsetRow rscpcpnIanaNames[] = {
    {{'0', '1', '2', '0'}, 0, "ibm500"},       {{'1', '1', '0', '0'}, 0, "iso-8859-1"},
    {{'1', '1', '0', '1'}, 0, "US-ASCII"},     {{'1', '1', '0', '3'}, 0, "ibm850"},
    {{'1', '1', '4', '0'}, 0, "iso-8859-1"},   {{'1', '1', '6', '0'}, 0, "windows-1252"},
    {{'1', '1', '6', '4'}, 0, "iso-8859-15"},  {{'1', '1', '8', '0'}, 0, "iso-8859-1"},
    {{'1', '4', '0', '1'}, 0, "iso-8859-2"},   {{'1', '4', '0', '3'}, 0, "ibm852"},
    {{'1', '4', '0', '4'}, 0, "windows-1250"}, {{'1', '5', '0', '0'}, 0, "iso-8859-5"},
    {{'1', '5', '0', '3'}, 0, "ibm866"},       {{'1', '5', '0', '4'}, 0, "windows-1251"},
    {{'1', '5', '0', '9'}, 0, "koi8-u"},       {{'1', '5', '1', '0'}, 0, "koi8-r"},
    {{'1', '6', '1', '0'}, 0, "iso-8859-9"},   {{'1', '6', '1', '4'}, 0, "windows-1254"},
    {{'1', '7', '0', '0'}, 0, "iso-8859-7"},   {{'1', '7', '0', '4'}, 0, "windows-1253"},
    {{'1', '8', '0', '0'}, 0, "iso-8859-8-i"}, {{'1', '8', '0', '4'}, 0, "windows-1255"},
    {{'1', '8', '1', '0'}, 0, "iso-8859-8-i"}, {{'1', '9', '0', '0'}, 0, "iso-8859-4"},
    {{'1', '9', '0', '4'}, 0, "windows-1257"}, {{'4', '1', '0', '2'}, 0, "utf-16be"},
    {{'4', '1', '0', '3'}, 0, "utf-16le"},     {{'4', '1', '1', '0'}, 0, "utf-8"},
    {{'4', '3', '1', '0'}, 0, "utf-8"},        {{'6', '1', '0', '0'}, 0, "x-kov-6100"},
    {{'6', '2', '0', '0'}, 0, "x-kov-6200"},   {{'6', '3', '0', '0'}, 0, "x-kov-6300"},
    {{'8', '0', '0', '0'}, 0, "shift_jis"},    {{'8', '0', '0', '4'}, 0, "shift_jis"},
    {{'8', '1', '0', '0'}, 0, "euc-jp"},       {{'8', '2', '0', '0'}, 0, "iso-2022-jp"},
    {{'8', '3', '0', '0'}, 0, "big5"},         {{'8', '3', '0', '4'}, 0, "big5"},
    {{'8', '3', '4', '0'}, 0, "Big5-HKSCS"},   {{'8', '3', '4', '1'}, 0, "Big5-HKSCS"},
    {{'8', '3', '4', '4'}, 0, "Big5-HKSCS"},   {{'8', '3', '4', '5'}, 0, "Big5-HKSCS"},
    {{'8', '4', '0', '0'}, 0, "GBK"},          {{'8', '4', '0', '4'}, 0, "GBK"},
    {{'8', '4', '5', '0'}, 0, "gb2312"},       {{'8', '5', '0', '0'}, 0, "EUC-KR"},
    {{'8', '5', '0', '4'}, 0, "EUC-KR"},       {{'8', '5', '9', '9'}, 0, "ISO-2022-KR"},
    {{'8', '6', '0', '0'}, 0, "tis-620"},      {{'8', '6', '0', '4'}, 0, "windows-874"},
    {{'8', '7', '0', '0'}, 0, "iso-8859-6"},   {{'8', '7', '0', '4'}, 0, "windows-1256"},
    {{'8', '8', '0', '5'}, 0, "windows-1258"}, {{' ', ' ', ' ', ' '}, 0, nullptr},
};

const rscpCharsetRow rscpcpnJavaNames[] = {
    {{'0', '1', '2', '0'}, 0, "Cp500"},
    {{'1', '1', '0', '0'}, 0, "ISO8859_1"},
    {{'1', '1', '0', '1'}, 0, "ASCII"},
    {{'1', '1', '0', '3'}, 0, "Cp850"},
    {{'1', '1', '4', '0'}, 0, "ISO8859_1"},
    {{'1', '1', '6', '0'}, 0, "Cp1252"},
    {{'1', '1', '6', '4'}, 0, "ISO8859_15"},
    {{'1', '1', '8', '0'}, 0, "ISO8859_1"},
    {{'1', '4', '0', '1'}, 0, "ISO8859_2"},
    {{'1', '4', '0', '3'}, 0, "Cp852"},
    {{'1', '4', '0', '4'}, 0, "Cp1250"},
    {{'1', '5', '0', '0'}, 0, "ISO8859_5"},
    {{'1', '5', '0', '3'}, 0, "Cp866"},
    {{'1', '5', '0', '4'}, 0, "Cp1251"},
    {{'1', '5', '0', '9'}, 0, "KOI8-U"},
    {{'1', '5', '1', '0'}, 0, "KOI8-R"},
    {{'1', '6', '1', '0'}, 0, "ISO8859_9"},
    {{'1', '6', '1', '4'}, 0, "Cp1254"},
    {{'1', '7', '0', '0'}, 0, "ISO8859_7"},
    {{'1', '7', '0', '4'}, 0, "Cp1253"},
    {{'1', '8', '0', '0'}, 0, "ISO8859_8"},
    {{'1', '8', '0', '4'}, 0, "Cp1255"},
    {{'1', '8', '1', '0'}, 0, "ISO8859_8"},
    {{'1', '9', '0', '0'}, 0, "ISO8859_4"},
    {{'1', '9', '0', '4'}, 0, "Cp1257"},
    {{'4', '1', '0', '2'}, 0, "UnicodeBigUnmarked"},
    {{'4', '1', '0', '3'}, 0, "UnicodeLittleUnmarked"},
    {{'4', '1', '1', '0'}, 0, "UTF8"},
    {{'4', '3', '1', '0'}, 0, "UTF-8"},
    {{'8', '0', '0', '0'}, 0, "MS932"},
    {{'8', '0', '0', '4'}, 0, "MS932"},
    {{'8', '1', '0', '0'}, 0, "EUC_JP"},
    {{'8', '2', '0', '0'}, 0, "ISO2022JP"},
    {{'8', '3', '0', '0'}, 0, "MS950"},
    {{'8', '3', '0', '4'}, 0, "MS950"},
    {{'8', '4', '0', '0'}, 0, "GBK"},
    {{'8', '4', '0', '4'}, 0, "GBK"},
    {{'8', '4', '5', '0'}, 0, "EUC_CN"},
    {{'8', '5', '0', '0'}, 0, "MS949"},
    {{'8', '5', '0', '4'}, 0, "MS949"},
    {{'8', '6', '0', '0'}, 0, "TIS620"},
    {{'8', '6', '0', '4'}, 0, "MS874"},
    {{'8', '7', '0', '0'}, 0, "ISO8859_6"},
    {{'8', '7', '0', '4'}, 0, "Cp1256"},
    {{'8', '8', '0', '5'}, 0, "Cp1258"},
    {{' ', ' ', ' ', ' '}, 0, nullptr},
};

void rscpcpn__normalise_name(char* out, const char* name, int32_t length, int32_t mode)
{
    int32_t n = 0;
    for (int32_t i = 0; name != nullptr && i < length && n < kNameMax; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == ' ')
            break;
        if (mode == 1 && (c == '-' || c == '_'))
            continue;
        out[n++] = static_cast<char>(std::tolower(c));
    }
    out[n] = '\0';
}

int32_t rscpcpn__names_equal(const char* a, int32_t lengthA, const char* b, int32_t lengthB, int32_t mode)
{
    if (lengthA > kNameMax || lengthB > kNameMax)
        return 0;
    char na[kNameMax + 1], nb[kNameMax + 1];
    rscpcpn__normalise_name(na, a, lengthA, mode);
    rscpcpn__normalise_name(nb, b, lengthB, mode);
    return std::strcmp(na, nb) == 0 ? 1 : 0;
}

void rscpcpn__remember_hit(const char* cp, const char* name, int32_t length)
{
    std::memset(g_slots[0].name, 0, sizeof g_slots[0].name);
    rscpcpn__normalise_name(g_slots[0].name, name, length, 1);
    std::memcpy(g_slots[0].cp, cp, 4);
}

uint32_t rscpcpn__cp_of_name(char* cp, const char* name, int32_t length, int32_t maxLength, const rscpCharsetRow* table,
                             uint8_t skipRemembered)
{
    if (maxLength > kNameMax || maxLength < 0)
        maxLength = kNameMax;
    if (!skipRemembered && length <= maxLength) {
        char wanted[kNameMax + 1];
        rscpcpn__normalise_name(wanted, name, length, 1);
        if (g_count == 0 || (rscpmp != nullptr && rscpmp->reorgVersion != g_generation))
            Rebuild();
        for (int i = 0; i < g_count; ++i)
            if (std::strcmp(wanted, g_slots[i].name) == 0) {
                std::memcpy(cp, g_slots[i].cp, 4);
                rscpcpn__remember_hit(cp, name, length);
                return 0;
            }
    }
    // The sought name is normalised once for both comparisons; a name of 73
    // characters or more equals no row.
    const rscpCharsetRow* candidate = nullptr;
    const rscpCharsetRow* found = nullptr;
    char want0[kNameMax + 1], want1[kNameMax + 1];
    rscpcpn__normalise_name(want0, name, length, 0);
    rscpcpn__normalise_name(want1, name, length, 1);
    for (const rscpCharsetRow* r = table; length <= kNameMax && r != nullptr && r->name != nullptr && found == nullptr;
         ++r) {
        const int32_t rowLength = int32_t(std::strlen(r->name));
        if (rowLength > maxLength)
            continue;
        if (RowEquals(want0, r->name, rowLength, 0))
            found = r;
        else if (candidate == nullptr && RowEquals(want1, r->name, rowLength, 1))
            candidate = r;
    }
    if (found == nullptr)
        found = candidate;
    if (found != nullptr) {
        std::memcpy(cp, found->cp, 4);
        rscpcpn__remember_hit(cp, name, length);
        return 0;
    }
    // The name as given, but never read past its length or its NUL.
    const int32_t shown = name == nullptr || length < 0 ? 0 : int32_t(strnlenR(name, size_t(length)));
    Error(RSCPEODATA, 5, 464, "Name of code page not in static mem.", "CP3", shown > 0 ? name : "", shown, "&F5-mem&",
          8);
    std::memcpy(cp, "0000", 4);
    return RSCPENOOBJ;
}

uint32_t rscpcpn_cp_of_charset_name(char* cp, const char* name, int32_t length)
{
    if (cp == nullptr || name == nullptr)
        return Error(RSCPEINVAL, 6, 440, "missing code page or name address", "F38", nullptr, 0, nullptr, 0);
    if ((length == 5 && std::memcmp(name, "utf-8", 5) == 0) || (length == 6 && std::memcmp(name, "utf-8", 6) == 0) ||
        (length == -1 && std::strcmp(name, "utf-8") == 0)) {
        std::memcpy(cp, "4110", 4);
        return 0;
    }
    if (length < 0)
        length = int32_t(strnlenR(name, 0x7FFFFFFF));
    return rscpcpn__cp_of_name(cp, name, length, kNameMax, rscpcpnIanaNames, 0);
}

uint32_t rscpcpn_charset_of_cp(char* cpOut, char* name, int32_t size, const char* cp)
{
    if (cpOut == nullptr || name == nullptr || cp == nullptr)
        return Error(RSCPEINVAL, 6, 660, "missing code page or name address", "F38", nullptr, 0, nullptr, 0);
    uint32_t rc = 0;
    const int32_t kind = rscpKindiOfCP(cp);
    if (kind != 5 && kind != 6) {
        char found[kNameMax];
        rscpcsn__charset_name(found, cp, int32_t(sizeof found), rscpcpnIanaNames);
        const int32_t length = int32_t(std::strlen(found));
        if (length + 1 > size) {
            char arg[40];
            snprintfTruncR(arg, sizeof arg, "%d&<&%d&", int(length), int(size));
            rc = Error(RSCPETOOLONG, 8, 680, "param too short for HTTP name", "F12", arg, -1, nullptr, 0);
        } else if (length > 0 && std::strncmp(found, "x-", 2) != 0) {
            // A code page without a public name takes the fallback below.
            std::memcpy(name, found, size_t(length) + 1);
            std::memmove(cpOut, cp, 4);
            return 0;
        }
    }
    if (size > 5) {
        std::memcpy(name, "utf-8", 6);
        std::memcpy(cpOut, "4110", 4);
        return rc;
    }
    char arg[40];
    snprintfTruncR(arg, sizeof arg, "5&<&%d&", int(size));
    return Error(RSCPETOOLONG, 9, 703, "param too short for \"utf-8\"", "F12", arg, -1, nullptr, 0);
}

uint32_t rscpcpn_cp_of_windows_cp(char* cp, uint32_t windowsCp)
{
    static const struct {
        uint32_t number;
        char cp[4];
    } kTable[] = {{874, {'8', '6', '0', '4'}},  {932, {'8', '0', '0', '0'}},  {936, {'8', '4', '0', '0'}},
                  {949, {'8', '5', '0', '0'}},  {950, {'8', '3', '0', '0'}},  {1250, {'1', '4', '0', '4'}},
                  {1251, {'1', '5', '0', '4'}}, {1252, {'1', '1', '6', '0'}}, {1253, {'1', '7', '0', '4'}},
                  {1254, {'1', '6', '1', '4'}}, {1255, {'1', '8', '0', '4'}}, {1256, {'8', '7', '0', '4'}},
                  {1257, {'1', '9', '0', '4'}}, {65001, {'4', '1', '1', '0'}}};
    if (cp == nullptr)
        return Error(RSCPEINVAL, 6, 590, "missing code page address", "F38", nullptr, 0, nullptr, 0);
    for (const auto& row : kTable)
        if (row.number == windowsCp) {
            std::memcpy(cp, row.cp, 4);
            return 0;
        }
    char arg[16];
    snprintfTruncR(arg, sizeof arg, "%u", windowsCp);
    std::memcpy(cp, "0000", 4);
    return Error(RSCPEODATA, 7, 601, "Windows code page number not in TCP00A or static mem.", "CP3", arg, -1,
                 "&rscpcpn.c&", -1);
}
