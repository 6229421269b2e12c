// Language and code page lists for RFC partners: the list of this system
// (which code page each language uses here), built once per cache from the
// locale set-up of every language, and the choice of a code page for a
// language towards a partner with its list, with legacy information, or with
// nothing.  Every decision is traced in one line when the list trace is on.
#include <algorithm>
#include <cstring>

#include "flat/kovparam.h"
#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpkeys.h"
#include "krn/rscp/cplang.h"
#include "krn/rscp/cptextenv.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpmc2#1 $";

bool Tracing()
{
    return rscpmp != nullptr && rscpmp->lang.listTrace != 0;
}

// One decision: function, line, result with its tag, code page, language
// (a non-printable one as '.' and its value) and the connection code page.
void Decision(const char* function, int32_t line, const char* result, const char* tag, const char* cp, char language,
              const char* connection, const char* list = nullptr, uint32_t listLength = 0)
{
    if (!Tracing())
        return;
    const auto l = static_cast<unsigned char>(language);
    char shown[8];
    if (l >= 0x20 && l < 0x7F)
        snprintfR(shown, sizeof shown, "%c", l);
    else
        snprintfR(shown, sizeof shown, ".%02X", l);
    char text[257];
    int32_t n = snprintfTruncR(text, sizeof text, "%s(%d) %s%s cp=%.4s lang=%s conn=%.4s", function, int(line), result,
                               tag, cp != nullptr ? cp : "----", shown, connection != nullptr ? connection : "----");
    if (list != nullptr && n < int32_t(sizeof text) - 7) {
        n += snprintfTruncR(text + n, sizeof text - size_t(n), " list=");
        const uint32_t copied = std::min<uint32_t>(listLength, uint32_t(sizeof text) - 1 - uint32_t(n));
        rscpmc_printable_copy(list, int32_t(copied), text + n, int32_t(copied) + 1);
        text[uint32_t(n) + copied] = '\0';
    }
    rscpLCTrace(text, line);
}

uint32_t CacheError(uint32_t code, int32_t number, int32_t line, uint32_t size)
{
    char arg[40];
    snprintfR(arg, sizeof arg, "cache07&%ld&?&", long(size));
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, number, line, "KOVPARAM(rsts/ccc/cache07) small", "F1A",
                        arg, -1, nullptr, 0);
}

bool Blank(char c)
{
    return c == ' ';
}
bool LanguageKey(char l)
{
    return l != '\0' && std::strchr(rscpGetLanguageKeys(), l) != nullptr;
}

// The Zn languages and their trace tags.
const char* ZnTag(char l)
{
    static const struct {
        char language;
        const char* tag;
    } kZn[] = {{'Z', "Z1"}, {'(', "Z2"}, {')', "Z3"}, {',', "Z4"}, {'.', "Z5"},
               {'/', "Z6"}, {':', "Z7"}, {';', "Z8"}, {'&', "Z9"}};
    for (const auto& z : kZn)
        if (z.language == l)
            return z.tag;
    return nullptr;
}

// The cache07 area is the list's home: code pages, languages and locale names.
uint32_t Place(const void* bytes, uint32_t length, int32_t number, int32_t line)
{
    uint32_t offset = 0;
    if (rscpsc__store_cache07(bytes, int32_t(length), &offset, nullptr) != 0) {
        CacheError(RSCPETOOLONG, number, line, rscpmp != nullptr ? rscpmp->cache07 : 0);
        return 0;
    }
    return offset;
}

// The slot of a code page in the table, adding it while there is room; -1 full.
int CodePageSlot(rscpCcc_t* c, const char* cp)
{
    const int count = c->mbCpCount > RSCP_MBCP_MAX ? RSCP_MBCP_MAX : c->mbCpCount;
    for (int i = 0; i < count; ++i)
        if (std::memcmp(c->lang.mbCp[i], cp, 4) == 0)
            return i;
    if (count >= RSCP_MBCP_MAX)
        return -1;
    std::memcpy(c->lang.mbCp[count], cp, 4);
    c->mbCpCount = uint16_t(count + 1);
    return count;
}

void StoreLocale(rscpLangSlot_t& slot, const char* locale, int32_t number, int32_t line)
{
    slot.localeOffset = Place(locale, uint32_t(strnlenR(locale, 255)) + 1, number, line);
}

// The languages the list is built from.
const char* LanguageSource(const rscpCcc_t* c, uint32_t* length)
{
    if (c->procLangState == 2 && c->procLangOffset != 0 && c->procLangLength > 0 &&
        uint64_t(c->procLangOffset) + c->procLangLength <= c->length) {
        *length = c->procLangLength;
        return reinterpret_cast<const char*>(c) + c->procLangOffset;
    }
    const char* installed = kovparam_get("zcsa/installed_languages");
    if (installed != nullptr && installed[0] != '\0' && std::strncmp(installed, "kovparam", 8) != 0) {
        *length = uint32_t(strnlenR(installed, 256));
        return installed;
    }
    *length = uint32_t(std::strlen(rscpGetLanguageKeys()));
    return rscpGetLanguageKeys();
}

void Build(rscpCcc_t* c)
{
    c->cccVersion = RSCP_CCC_LOADED;
    std::memset(c->lang.slots, 0, sizeof c->lang.slots);
    c->mbCpCount = 0;
    uint32_t sourceLength = 0;
    const char* source = LanguageSource(c, &sourceLength);
    char languages[256 + 408];
    const uint32_t n = sourceLength < 256 ? sourceLength : 256;
    std::memcpy(languages, source, n);
    std::memset(languages + n, 0, sizeof languages - n);
    const uint32_t place = Place(languages, n + 408, 85, 487);
    c->lang.instOffset = place;
    c->lang.instLength = place != 0 ? n : 0;
    c->lang.instState = place != 0 ? 2 : c->lang.instState;
    char* list = place != 0 ? reinterpret_cast<char*>(c) + place : languages;

    char saved = ' ';
    if (kovclcl_cur_lang_cp_loc(&saved, nullptr, nullptr, nullptr) != 0) {
        rscpe_publish_errors();
        return;
    }
    if (saved == ' ' || saved == '\0')
        saved = 'E';
    uint32_t blanked = 0;
    for (uint32_t i = 0; i < n; ++i) {
        const char l = list[i];
        if (Blank(l))
            continue;
        if (rscpcls__codepage_and_locale_set(l, 1, RSCP_ALL_ERRORS, 2) != 0) {
            rscpe_publish_errors();
            list[i] = ' ';
            ++blanked;
            continue;
        }
        char cp[4];
        if (rscpGetCodePageForLanguage(cp) != 0)
            continue;
        const auto key = static_cast<unsigned char>(l);
        const int slot = CodePageSlot(c, cp);
        if (slot < 0 || key < 0x20 || key > 0x7F)
            continue;
        rscpLangSlot_t& s = c->lang.slots[key - 0x20];
        s.cpIndex = uint8_t(slot + 1);
        s.source = 2;
        char locale[256];
        kovclcl_cur_lang_cp_loc(nullptr, nullptr, locale, nullptr);
        StoreLocale(s, locale, 91, 611);
    }
    if (rscpcls__codepage_and_locale_set(saved, 1, RSCP_ALL_ERRORS, 2) != 0)
        rscpe_publish_errors();
    // The languages that could not be set leave the list.
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i)
        if (!Blank(list[i]) || list[i] == '\0')
            list[kept++] = list[i];
    std::memset(list + kept, ' ', n - kept);
    if (place != 0)
        c->lang.instLength = n - blanked;

    for (const char* k = rscpGetLanguageKeys(); *k != '\0'; ++k) {
        rscpLangSlot_t& s = c->lang.slots[static_cast<unsigned char>(*k) - 0x20];
        if (s.source != 0)
            continue;
        char cp[4], locale[256];
        if (rscpLocaleForLanguage(*k, 1, cp, locale, RSCP_ALL_ERRORS, 2) != 0 &&
            rscpLocaleForLanguage(*k, 2, cp, locale, RSCP_ALL_ERRORS, 2) != 0)
            continue;
        if (std::memcmp(cp, "0000", 4) != 0) {
            const int slot = CodePageSlot(c, cp);
            if (slot >= 0) {
                s.cpIndex = uint8_t(slot + 1);
                s.source = 1;
            }
        }
        StoreLocale(s, locale, 92, 754);
    }

    // count, then per code page: its characters, its number of languages and the languages; then 0
    const int count = c->mbCpCount > RSCP_MBCP_MAX ? RSCP_MBCP_MAX : c->mbCpCount;
    char out[1 + RSCP_MBCP_MAX * 5 + RSCP_LANG_SLOTS + 1];
    uint32_t length = 0;
    out[length++] = char(count);
    for (int i = 0; i < count; ++i) {
        std::memcpy(out + length, c->lang.mbCp[i], 4);
        length += 4;
        char& languagesOfCp = out[length++];
        languagesOfCp = 0;
        for (int k = 0; k < RSCP_LANG_SLOTS; ++k) {
            const rscpLangSlot_t& s = c->lang.slots[k];
            if (s.cpIndex == i + 1 && (s.source == 1 || s.source == 2)) {
                out[length++] = char(0x20 + k);
                ++languagesOfCp;
            }
        }
    }
    out[length++] = 0;
    c->lang.listOffset = Place(out, length, 85, 487);
    c->lang.listLength = c->lang.listOffset != 0 ? length : 0;
}

// The cache with its list built, or the code of why not (traced).
uint32_t Ready(const char* function, rscpCcc_t** cache)
{
    if (rscpmp == nullptr) {
        char text[100];
        snprintfR(text, sizeof text, "checkCCCstatus in %s without rscpi_init, rc=%s.\n", function, "64");
        rscpLCTrace(text, __LINE__);
        return RSCPECALL;
    }
    if (rscpmp->lang.state == 0)
        rscpLCBuildList();
    if (rscpmp == nullptr || rscpmp->lang.state != 2) {
        char text[100];
        snprintfR(text, sizeof text, "checkCCCstatus failed in %s, rc=%s.\n", function, "1");
        rscpLCTrace(text, __LINE__);
        return RSCPEINTERN;
    }
    *cache = rscpmp;
    return 0;
}

const char* ListOf(const rscpCcc_t* c)
{
    const rscpLangData_t& l = c->lang;
    return l.listOffset != 0 && uint64_t(l.listOffset) + l.listLength <= c->length
               ? reinterpret_cast<const char*>(c) + l.listOffset
               : nullptr;
}

// Default code pages of partners without information: language, ASCII, EBCDIC.
struct DefaultCp {
    char language;
    const char* ascii;
    const char* ebcdic;
};
const DefaultCp kDefaults[] = {
    {'D', "1100", "0120"},  {'E', "1100", "0120"},  {'F', "1100", "0120"},  {'I', "1100", "0120"},
    {'K', "1100", "0120"},  {'N', "1100", "0120"},  {'O', "1100", "0120"},  {'P', "1100", "0120"},
    {'S', "1100", "0120"},  {'U', "1100", "0120"},  {'V', "1100", "0120"},  {'a', "1100", "0120"},
    {'b', "1100", "0120"},  {'c', "1100", "0120"},  {'i', "1100", "0120"},  {'7', "1100", "0120"},
    {'J', "8000", nullptr}, {'1', "8400", nullptr}, {'3', "8500", nullptr}, {'A', "8700", nullptr},
    {'M', "8300", nullptr}, {'0', "1401", "0410"},  {'4', "1401", "0410"},  {'5', "1401", "0410"},
    {'6', "1401", "0410"},  {'C', "1401", "0410"},  {'H', "1401", "0410"},  {'L', "1401", "0410"},
    {'Q', "1401", "0410"},  {'d', "1401", "0410"},  {'2', "8600", "0860"},  {'8', "1500", "0500"},
    {'B', "1800", "0800"},  {'G', "1700", "0700"},  {'R', "1500", "0500"},  {'T', "1610", "0610"},
    {'W', "1500", "0500"},  {'9', "1900", "0120"},  {'X', "1900", "0120"},  {'Y', "1900", "0120"},
};

}  // namespace

void rscpLCTrace(const char* text, int32_t line)
{
    if (!Tracing())
        return;
    rscpeOutputFunc out = rscpe_get_output_func(1);
    const size_t n = strnlenR(text, 257);
    if (n > 256) {
        char overflow[80];
        snprintfR(overflow, sizeof overflow, "INTERNAL ERROR: trc buf overflow %s;%d", "rscpmc2", int(line));
        out(overflow, int32_t(std::strlen(overflow)));
        return;
    }
    for (size_t i = 0; i < n; i += 62)
        out(text + i, int32_t(n - i < 62 ? n - i : 62));
}

uint32_t rscpLCBuildList()
{
    rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return RSCPECALL;
    if (c->lang.state != 0)
        return 0;
    const int32_t rc = rscpGetSemaAndWritePermission(65);
    if (rc != 0)
        return uint32_t(rc);
    c = rscpmp;
    if (c->cccVersion != RSCP_CCC_COMPLETE)
        return uint32_t(rscpReleaseWritePermissionAndSema(67));
    Build(c);
    c = rscpmp;
    c->lang.state = 2;
    c->cccVersion = RSCP_CCC_COMPLETE;
    return uint32_t(rscpReleaseWritePermissionAndSema(66));
}

uint32_t rscpLCListGetSize(uint32_t* size)
{
    rscpCcc_t* c = nullptr;
    if (const uint32_t rc = Ready("rscpLCListGetSize", &c); rc != 0)
        return rc;
    const uint32_t length = ListOf(c) != nullptr ? c->lang.listLength : 0;
    if (size != nullptr)
        *size = length;
    char text[100];
    snprintfR(text, sizeof text, "%s: size=%d=%#X\n", "rscpLCListGetSize", int(length), unsigned(length));
    rscpLCTrace(text, __LINE__);
    return 0;
}

uint32_t rscpLCListGet(char* list, int32_t size)
{
    rscpCcc_t* c = nullptr;
    if (const uint32_t rc = Ready("rscpLCListGet", &c); rc != 0)
        return rc;
    const char* ours = ListOf(c);
    const uint32_t length = ours != nullptr ? c->lang.listLength : 0;
    const bool fits = size >= 0 && length <= uint32_t(size);
    if (Tracing()) {
        char text[257];
        int32_t n = snprintfTruncR(text, sizeof text, "%s: listP=%p size=%d; haveSize=%d list=", "rscpLCListGet",
                                   static_cast<const void*>(list), int(size), int(length));
        const uint32_t shown = std::min<uint32_t>(length, uint32_t(sizeof text) - 8 - uint32_t(n));
        rscpmc_printable_copy(ours, int32_t(shown), text + n, int32_t(sizeof text) - n);
        n += int32_t(shown);
        text[n] = '\0';
        if (!fits)
            strcat_sR(text, sizeof text, "TOOLONG");
        rscpLCTrace(text, __LINE__);
    }
    if (!fits)
        return RSCPETOOLONG;
    if (list != nullptr && length > 0)
        std::memcpy(list, ours, length);
    return 0;
}

uint32_t readLClistA(char* cp, const char* list, char language)
{
    if (list == nullptr || list[0] == '\0' || std::strstr(list + 1, "$$") == nullptr) {
        Decision("readLClistA", __LINE__, "RSCPEINVAL", "eTrm", nullptr, language, nullptr);
        return RSCPEINVAL;
    }
    const char* p = list + 1;
    while (*p != '$') {
        if (strnlenR(p, 4) < 4 || std::memchr(p, '$', 4) != nullptr) {
            Decision("readLClistA", __LINE__, "RSCPEINVAL", "eTic", nullptr, language, nullptr);
            return RSCPEINVAL;
        }
        const char* group = p;
        for (p += 4; *p != '$'; ++p)
            if (*p == language) {
                std::memcpy(cp, group, 4);
                Decision("readLClistA", __LINE__, "KOV_O_K", "", cp, language, nullptr);
                return 0;
            }
        ++p;
    }
    Decision("readLClistA", __LINE__, "RSCPENOCONV", "eror", nullptr, language, nullptr);
    return RSCPENOCONV;
}

uint32_t getLocalZnCP(char* cp, char language)
{
    if (ZnTag(language) == nullptr) {
        Decision("getLocalZnCP", __LINE__, "RSCPENOCONV", "SKIP No Zn lang", nullptr, language, nullptr);
        return RSCPENOCONV;
    }
    char found[4];
    const uint32_t rc = rscpGetMBCodePageForLanguage(&language, found, nullptr);
    if (rc == 0) {
        std::memcpy(cp, found, 4);
        Decision("getLocalZnCP", __LINE__, "KOV_O_K", "HIT Zn lang with CP", cp, language, nullptr);
        return 0;
    }
    Decision("getLocalZnCP", __LINE__, "RSCPENOCONV", "MISS Zn lang, but no CP", nullptr, language, nullptr);
    return rc;
}

const char* legacyInfoGet(const char* systemId)
{
    rscpCcc_t* c = nullptr;
    if (Ready("legacyInfoGet", &c) != 0 || systemId == nullptr)
        return nullptr;
    const rscpLangData_t& l = c->lang;
    if (l.legacyOffset == 0 || l.legacyLength == 0 || uint64_t(l.legacyOffset) + l.legacyLength > c->length)
        return nullptr;
    const char* block = reinterpret_cast<const char*>(c) + l.legacyOffset;
    const char* end = block + l.legacyLength;
    const size_t idLength = std::strcspn(systemId, " ");
    // key, NUL, value, NUL, ...: a pair only counts when both end inside the block.
    for (const char* p = block; p < end;) {
        const char* keyEnd = static_cast<const char*>(std::memchr(p, '\0', size_t(end - p)));
        if (keyEnd == nullptr)
            break;
        const char* value = keyEnd + 1;
        const char* valueEnd = value < end ? static_cast<const char*>(std::memchr(value, '\0', size_t(end - value)))
                                           : nullptr;
        if (valueEnd == nullptr)
            break;
        if (size_t(keyEnd - p) == idLength && std::memcmp(p, systemId, idLength) == 0)
            return value;
        p = valueEnd + 1;
    }
    return nullptr;
}

uint32_t rscpLCgetC(char* cp, const char* partner, char language, const char* connection, const char* systemId)
{
    const char* fn = "rscpLCgetC";
    if (Blank(language)) {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "spc", cp, language, connection);
        return 0;
    }
    const auto count = partner != nullptr ? static_cast<unsigned char>(partner[0]) : 0u;
    if (count >= 51) {
        Decision(fn, __LINE__, "RSCPEINVAL", "ncp", nullptr, language, connection);
        return RSCPEINVAL;
    }
    // The list ends at its 0 byte whatever its count says.
    const char* p = partner != nullptr ? partner + 1 : nullptr;
    for (unsigned i = 0; p != nullptr && i < count && strnlenR(p, 4) == 4; ++i) {
        const char* entryCp = p;
        const auto languages = static_cast<unsigned char>(p[4]);
        if (languages == 0) {
            std::memcpy(cp, entryCp, 4);
            Decision(fn, __LINE__, "RSCPENOOBJ", "nl0", cp, language, connection);
            return RSCPENOOBJ;
        }
        p += 5;
        for (unsigned k = 0; k < languages; ++k, ++p) {
            if (*p == '\0')
                p = nullptr;
            if (p == nullptr)
                break;
            if (*p == language) {
                std::memcpy(cp, entryCp, 4);
                Decision(fn, __LINE__, "KOV_O_K", "", cp, language, connection, partner + 1,
                         uint32_t(p + 1 - (partner + 1)));
                return 0;
            }
        }
    }
    const char* legacy = legacyInfoGet(systemId);
    char found[4];
    if (legacy != nullptr && readLClistA(found, legacy, language) == 0) {
        std::memcpy(cp, found, 4);
        Decision(fn, __LINE__, "KOV_O_K", "lcy", cp, language, connection);
        return 0;
    }
    if (getLocalZnCP(found, language) == 0) {
        std::memcpy(cp, found, 4);
        Decision(fn, __LINE__, "KOV_O_K", "fzn", cp, language, connection);
        return 0;
    }
    std::memcpy(cp, connection, 4);
    Decision(fn, __LINE__, "KOV_O_K", LanguageKey(language) ? "fil" : "fia", cp, language, connection);
    return 0;
}

uint32_t rscpLCgetCtry(char* cp, char language, const char* connection, const char* systemId)
{
    const char* fn = "rscpLCgetCtry";
    bool lookTable = true;
    if (const char* legacy = legacyInfoGet(systemId); legacy != nullptr) {
        char found[4] = {'n', 'n', 'n', 'n'};
        const uint32_t rc = readLClistA(found, legacy, language);
        if (rc != RSCPENOCONV) {
            if (rc == 0)
                std::memcpy(cp, found, 4);
            Decision(fn, __LINE__, rc == 0 ? "KOV_O_K" : "RSCPEINVAL", "lcy", found, language, connection);
            return rc;
        }
        lookTable = false;
    }
    if (lookTable) {
        const bool own6 = connection[0] == '6' && std::memcmp(connection, "6100", 4) != 0 &&
                          std::memcmp(connection, "6200", 4) != 0 && std::memcmp(connection, "6500", 4) != 0;
        if (own6 || std::memcmp(connection, "1180", 4) == 0 || std::memcmp(connection, "4110", 4) == 0) {
            std::memcpy(cp, connection, 4);
            Decision(fn, __LINE__, "KOV_O_K", "Cp", cp, language, connection);
            return 0;
        }
        for (const DefaultCp& d : kDefaults)
            if (d.language == language) {
                const char* pick = connection[0] == '0' ? d.ebcdic : d.ascii;
                if (pick == nullptr) {
                    Decision(fn, __LINE__, "RSCPENOCONV", "(no EBCDIC-CP)", nullptr, language, connection);
                    return RSCPENOCONV;
                }
                std::memcpy(cp, pick, 4);
                Decision(fn, __LINE__, "KOV_O_K", "", cp, language, connection);
                return 0;
            }
    }
    char found[4];
    if (Blank(language)) {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "Lng", cp, language, connection);
        return 0;
    }
    if (getLocalZnCP(found, language) == 0) {
        std::memcpy(cp, found, 4);
        return 0;
    }
    if (language == 'Z') {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "Lng", cp, language, connection);
        return 0;
    }
    if (LanguageKey(language)) {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "Lil", cp, language, connection);
        return 0;
    }
    Decision(fn, __LINE__, "RSCPEINVAL", "(language unknown)", nullptr, language, connection);
    return RSCPEINVAL;
}

uint32_t rscpLCgetCdst(char* cp, const char* destinationList, char language, const char* connection,
                       const char* destination)
{
    const char* fn = "rscpLCgetCdst";
    (void)destination;
    if (Blank(language)) {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "@sp", cp, language, connection);
        return 0;
    }
    if (destinationList == nullptr)
        return RSCPEINVAL;
    char copy[251];
    const char* list = destinationList;
    if (std::strchr(destinationList, '-') != nullptr) {
        // A configured list longer than 250 characters is refused.
        if (strnlenR(destinationList, 251) > 250) {
            Decision(fn, __LINE__, "RSCPEINVAL", "CPdst. Overflow listL", nullptr, language, connection);
            return RSCPEINVAL;
        }
        strcpy_sR(copy, sizeof copy, destinationList);
        *std::strchr(copy, '-') = ',';
        list = copy;
    }
    if (list[0] != 'A') {
        Decision(fn, __LINE__, "RSCPEINVAL", "uTyp", nullptr, language, connection);
        return RSCPEINVAL;
    }
    char found[4];
    const uint32_t rc = readLClistA(found, list, language);
    if (rc == 0) {
        std::memcpy(cp, found, 4);
        Decision(fn, __LINE__, "KOV_O_K", "", cp, language, connection);
        return 0;
    }
    if (rc != RSCPENOCONV)
        return RSCPEINVAL;
    if (getLocalZnCP(found, language) == 0) {
        std::memcpy(cp, found, 4);
        Decision(fn, __LINE__, "KOV_O_K", "@zn", cp, language, connection);
        return 0;
    }
    if (LanguageKey(language)) {
        std::memcpy(cp, connection, 4);
        Decision(fn, __LINE__, "KOV_O_K", "@il", cp, language, connection);
        return 0;
    }
    Decision(fn, __LINE__, "RSCPENOCONV", "", nullptr, language, connection);
    return RSCPENOCONV;
}
