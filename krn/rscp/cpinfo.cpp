// Read-only questions about the converter cache.  Each one that reads the
// cache first runs the generation check with a generation of its own, so that
// a cache reorganised elsewhere in the process is brought up to date.
#include "krn/rscp/cpinfo.h"

#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"

namespace {

// The queries come from two source units.
const char kModule[] = "@(#) $Id: rscpmi#1 $";
const char kModule2[] = "@(#) $Id: rscpmi2#1 $";

uint32_t Error(uint32_t code, uint32_t mask, int32_t location, int32_t line, const char* text, const char* msgid,
               const char* arg1 = nullptr, int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0,
               const char* module = kModule)
{
    return rscpe__error(code, 'C', mask, module, location, line, text, msgid, arg1, len1, arg2, len2);
}

// A setting of the cache through the generation check of its getter.
template <typename Field>
uint32_t Setting(uint32_t* value, Field rscpCcc_t::*field, uint32_t* generation, const char* module, int32_t location,
                 int32_t line)
{
    rscpCcc_t* c = rscpmp;
    uint32_t v = 0, rc = 0;
    if (c == nullptr)
        rc = Error(RSCPETOOLONG, RSCP_ALL_ERRORS, location, line, "Still no shm for CCC", "F44", nullptr, 0, nullptr, 0,
                   module);
    else if ((rc = rscprc__reorg_check(&c, generation)) == 0)
        v = static_cast<uint32_t>(c->*field);
    if (value != nullptr)
        *value = v;
    return rc;
}

void Trace(bool enter, const char* name, int32_t rc, const char* text, int32_t length)
{
    if (!rscphTracing())
        return;
    if (enter)
        rscph_HookTable.TraceEnter(name, -1, text, length, nullptr);
    else
        rscph_HookTable.TraceExit(rc, text, length, nullptr);
}

rscpCodePageV Value(const char* cp)
{
    rscpCodePageV v;
    std::memcpy(v.cp, cp, 4);
    return v;
}

}  // namespace

uint32_t rscpGetUtf8GuiAllow(uint32_t* value)
{
    static uint32_t generation = 0xFFFFFFFFu;
    return Setting(value, &rscpCcc_t::utf8guiAllow, &generation, kModule, 10, 2192);
}

uint32_t rscpGetRtlInLtrAllow(uint32_t* value)
{
    static uint32_t generation = 0xFFFFFFFFu;
    return Setting(value, &rscpCcc_t::rtlinltrAllow, &generation, kModule, 13, 2224);
}

uint32_t rscpGetIndicDigits(uint32_t* value)
{
    static uint32_t generation = 0xFFFFFFFFu;
    return Setting(value, &rscpCcc_t::indicDigits, &generation, kModule2, 10, 651);
}

uint32_t rscpGetBidiCtrlFilter(uint32_t* value)
{
    static uint32_t generation = 0xFFFFFFFFu;
    return Setting(value, &rscpCcc_t::bidiCtrlFilter, &generation, kModule2, 10, 621);
}

uint32_t rscpGetCFontCacheVersion(uint32_t* value)
{
    static uint32_t generation = 0xFFFFFFFFu;
    return Setting(value, &rscpCcc_t::cfontCacheVersion, &generation, kModule2, 10, 681);
}

rscpCodePageV rscpGetLegacyCodePage()
{
    static uint32_t generation = 0xFFFFFFFFu;
    rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        static const char kText[] = "rscpGetLegacyCodePage: CP 1100 fallback due to uninitialized CCC cache.\n";
        rscpe_get_output_func(2)(kText, int32_t(sizeof kText - 1));
        return Value("1100");
    }
    if (rscprc__reorg_check(&c, &generation) != 0) {
        static const char kText[] = "rscpGetLegacyCodePage: CP 1100 fallback due to failed reorg check.\n";
        rscpe_get_output_func(2)(kText, int32_t(sizeof kText - 1));
        return Value("1100");
    }
    return fixstr_trimmed_len(c->legacyCp, 4) == 0 ? Value("1100") : Value(c->legacyCp);
}

rscpCodePageV rscpGetUnicodeCodePage()
{
    static uint32_t generation = 0xFFFFFFFFu;
    rscpCcc_t* c = rscpmp;
    if (c != nullptr && rscprc__reorg_check(&c, &generation) == 0)
        return Value("4102");
    return Value(rscpfc__fallback_code_page());
}

int32_t rscpIsMultiCodePageDB()
{
    static uint32_t generation = 0xFFFFFFFFu;
    rscpCcc_t* c = rscpmp;
    return c != nullptr && rscprc__reorg_check(&c, &generation) == 0 && c->dbCpCount > 1 ? 1 : 0;
}

uint32_t rscpcpa_codepage_allowed(const char* cp, char* list, uint32_t mask)
{
    static uint32_t generation = 0xFFFFFFFFu;
    Trace(true, "rscpcpa_codepage_allowed", 0, cp, 4);
    if (list != nullptr)
        std::memcpy(list, ".", 2);
    rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        const uint32_t rc = Error(RSCPEBUSY, mask, 2, 1898, "Shared mem CCC not yet initialized", "CP6",
                                  "CCC not yet initialized", 23);
        Trace(false, nullptr, int32_t(rc), "CCC not init", 12);
        return rc;
    }
    if (c->cccVersion != RSCP_CCC_LOADED) {
        const uint32_t rc = rscprc__reorg_check(&c, &generation);
        if (rc != 0)
            return rc;
    }
    const int n = c->dbCpCount > RSCP_TCPDB_MAX ? RSCP_TCPDB_MAX : c->dbCpCount;
    if (n == 0)
        return RSCPEBADO;
    char* end = list;
    for (int i = 0; i < n; ++i) {
        if (std::memcmp(c->dbCp[i], cp, 4) == 0) {
            Trace(false, nullptr, 0, "", 0);
            return 0;
        }
        if (end != nullptr) {
            std::memcpy(end, c->dbCp[i], 4);
            end[4] = '.';
            end[5] = '\0';
            end += 5;
        }
    }
    const uint32_t rc = Error(RSCPENOOBJ, mask, 12, 1971, "code page not allowed", "CP3", cp, 4, "&TCPDB&", 7);
    Trace(false, nullptr, int32_t(rc), "not allowed", 11);
    return rc;
}

uint32_t rscpGetCacheInfo(uint64_t* address, char* kind, int32_t kindSize, uint32_t* length)
{
    const rscpCcc_t* c = rscpmp;
    if (address != nullptr)
        *address = c != nullptr ? reinterpret_cast<uint64_t>(c) : 0;
    if (length != nullptr)
        *length = c != nullptr ? c->length : 0;
    if (kind != nullptr && kindSize > 0) {
        if (c != nullptr)
            fixstr_copy_pad(kind, kindSize, c->memoryKind, int32_t(sizeof c->memoryKind));
        else
            fixstr_copy_str_pad(kind, "no memory", kindSize);
    }
    return h_ccc_state;
}

int32_t rscpgi2__get_iso2022_entry(int32_t n, uint32_t* strtLength, const uint8_t** strt, uint32_t* backLength,
                                   const uint8_t** back)
{
    const rscpCcc_t* c = rscpmp;
    if (c == nullptr || n < 0 || n >= RSCP_SOSI_MAX || n >= c->soSiCount)
        return 0;
    const rscpSoSi_t& e = c->soSi[n];
    if (strtLength != nullptr)
        *strtLength = e.soLen;
    if (strt != nullptr)
        *strt = e.so;
    if (backLength != nullptr)
        *backLength = e.siLen;
    if (back != nullptr)
        *back = e.si;
    return 1;
}

uint32_t rscpfi2__find_iso2022_entry(uint32_t strtLength, const uint8_t* strt, uint32_t backLength, const uint8_t* back)
{
    const rscpCcc_t* c = rscpmp;
    const int n = c == nullptr ? 0 : (c->soSiCount > RSCP_SOSI_MAX ? RSCP_SOSI_MAX : c->soSiCount);
    if (strtLength > 10 || backLength > 10)
        return 0xFFFFFFFFu;
    for (int i = 0; i < n; ++i) {
        const rscpSoSi_t& e = c->soSi[i];
        if (e.soLen == strtLength && e.siLen == backLength && std::memcmp(e.so, strt, strtLength) == 0 &&
            std::memcmp(e.si, back, backLength) == 0)
            return uint32_t(i);
    }
    return 0xFFFFFFFFu;
}

uint32_t rscpfb2__find_iso2022_back(int32_t backLength, const uint8_t* back)
{
    const rscpCcc_t* c = rscpmp;
    const int n = c == nullptr ? 0 : (c->soSiCount > RSCP_SOSI_MAX ? RSCP_SOSI_MAX : c->soSiCount);
    if (backLength < 0 || backLength > 10)
        return 0xFFFFFFFFu;
    for (int i = 0; i < n; ++i)
        if (c->soSi[i].siLen == uint32_t(backLength) && std::memcmp(c->soSi[i].si, back, size_t(backLength)) == 0)
            return uint32_t(i);
    return 0xFFFFFFFFu;
}
