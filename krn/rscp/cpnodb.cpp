// The library without a database: every database-backed operation keeps its
// interface and answers with a fixed result, recording an error where its
// callers expect one.  One operation is real: the locale lookup in the flat
// file "TCP0C.DAT".
#include "krn/rscp/cpnodb.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcache.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpf1.h"
#include "krn/rscp/cpstore.h"
#include "krn/rstr/fixstr.h"

namespace {

// The stubs come from three source units: the migration and table stubs with
// the TCP0C lookup, the database services, and the inter-process control.
const char kModule[] = "@(#) $Id: rscploca#1 $";
const char kModuleIpc[] = "@(#) $Id: rscpmm#1 $";

uint32_t Record(uint32_t code, uint32_t mask, int32_t location, int32_t line, const char* text, const char* id,
                const char* arg1, int32_t len1 = -1, const char* arg2 = nullptr, int32_t len2 = 0,
                const char* module = kModule)
{
    return rscpe__error(code, 'C', mask, module, location, line, text, id, arg1, len1, arg2, len2);
}

uint32_t NoSettings(uint32_t* sw, const char* note, int32_t location, int32_t line)
{
    std::fputs(note, stderr);
    if (sw != nullptr)
        *sw = 1;
    return Record(RSCPEODATA, RSCP_ALL_ERRORS, location, line, "no DB => no UMGSETTING(S)", "CQB", "UMGSETTING(S)");
}

// A blank-padded field as a filter: NULL when it is all blanks.
const char* Filter(char* out, const char* field, int32_t n)
{
    fixstr_copy_trim(out, field, n);
    return out[0] != '\0' ? out : nullptr;
}

void Put(char* field, int32_t n, const char* value)
{
    if (value != nullptr)
        fixstr_copy_pad(field, n, value, static_cast<int32_t>(strnlen(value, static_cast<size_t>(n))));
}

uint32_t DummyIpc(int32_t mode, int32_t location, int32_t line, const char* name)
{
    if (mode == 0)
        return 0;
    if (mode == 1)
        return RSCPENOOBJ;
    return Record(RSCPENOOBJ, RSCP_ALL_ERRORS, location, line, "Dummy module without real rscpmc[34]", "CPV",
                  "Dummy-IPC ", -1, name, -1, kModuleIpc);
}

}  // namespace

// ---- Unicode-migration and table settings --------------------------------------

uint32_t rscpumgGetExportToSw(uint32_t* sw)
{
    return NoSettings(sw, "rscpumgGetExportToSw: If there is no database, then there is no table UMGCCTL.\n", 14, 450);
}

uint32_t rscpumgGetW5transSw(uint32_t* sw)
{
    return NoSettings(sw, "rscpumgGetW5transSw: If there is no database, then there is no table UMGCCTL.\n", 13, 438);
}

uint32_t rscpumgGetFallBackCP(char* cp4)
{
    std::fputs("rscpumgGetFallBackCP: If there is no database, then there is no table UMGCCTL.\n", stderr);
    if (cp4 != nullptr)
        kovlcpGetLocalCodePage(cp4);
    return Record(RSCPEODATA, RSCP_ALL_ERRORS, 12, 426, "no DB => no UMGSETTING(S)", "CQB", "UMGSETTING(S)");
}

uint32_t rscpumgGetSystemCP(char* cp4, uint8_t* flag)
{
    if (cp4 != nullptr)
        kovlcpGetLocalCodePage(cp4);
    if (flag != nullptr)
        *flag = 1;
    return 0;
}

uint32_t rscpumgReadUMGCCTL(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t* flag)
{
    if (flag != nullptr)
        *flag = 1;
    return Record(RSCPENOOBJ, RSCP_ALL_ERRORS, 3, 365, "no DB => no UMGCCTL", "CQB", "UMGCCTL");
}

uint32_t rscpumgLoadUMGCCTL(rscpPrintFunc print)
{
    const uint32_t rc = Record(RSCPEODATA, RSCP_ALL_ERRORS, 2, 339, "no DB => no UMGCCTL", "CQB", "UMGCCTL");
    if (print != nullptr)
        print("no DB => no UMGCCTL", 19);
    return rc;
}

void rscpumgShowUMGCCTL(rscpPrintFunc print)
{
    if (print == nullptr)
        return;
    print("As there is no database connect included in this module,", 56);
    print("  the cache for UMGCCTL is empty.", 33);
}

uint32_t rscpReadTCP09(const void*, uint32_t mask)
{
    return Record(RSCPENOOBJ, mask, 1, 204, "No database, no TCP09", "F12", "TCP09", 5);
}

uint32_t rscpLookupTCP0C(rscpTcp0cRecord_t* record, uint32_t mask)
{
    int opened = -1, read = -1;
    if (record != nullptr) {
        char platform[17], language[2], country[4], modifier[9];
        opened = rscpotd__open_tcp0c_dump("TCP0C.DAT", Filter(platform, record->platform, 16),
                                          Filter(language, record->language, 1), Filter(country, record->country, 3),
                                          Filter(modifier, record->modifier, 8), nullptr);
        const char *lang = nullptr, *ctry = nullptr, *mod = nullptr, *cp = nullptr, *locale = nullptr;
        if (opened == 0 && (read = rscprtr__read_tcp0c_record(&lang, &ctry, &mod, &cp, &locale)) == 0) {
            Put(record->language, 1, lang);
            Put(record->country, 3, ctry);
            Put(record->modifier, 8, mod);
            Put(record->codePage, 4, cp);
            Put(record->locale, 255, locale);
        }
    }
    const int error = errno;
    rscpctd__close_tcp0c_dump();
    if (opened == 0 && read == 0)
        return 0;
    char arg[32];
    std::snprintf(arg, sizeof arg, "%d&TCP0C&", error);
    rscph_HookTable.SyslogText("TCP0C.DAT", 9);
    // The record keeps the first character of the argument only.
    return Record(RSCPENOOBJ, mask, 11, 297, "Cannot read TCP0C file", "CQA", arg, 1);
}

uint32_t rscpFillIncompleteTail(uint8_t* buffer, int32_t length, uint8_t fill, uint32_t* count)
{
    if (count != nullptr)
        *count = 0;
    if (buffer == nullptr || length <= 0 || buffer[length - 1] < 0x80)
        return 0;
    static rscpCharLenHandle_t handle{};
    static bool ready = false;
    char cp[4];
    kovlcpGetLocalCodePage(cp);
    if (!ready || std::memcmp(cp, handle.cp, 4) != 0) {
        ready = rscpInitCharLenHandle(&handle, cp) == 0;
        if (!ready)
            return 1;
    }
    for (int32_t at = 0; at < length;) {
        const int32_t n = static_cast<int32_t>(rscpLengthOfChar(&handle, buffer + at, length - at));
        if (n > length - at) {
            std::memset(buffer + at, fill, static_cast<size_t>(length - at));
            if (count != nullptr)
                *count = static_cast<uint32_t>(length - at);
            return 0;
        }
        at += n;
    }
    return 0;
}

uint32_t rscpPairCompatibleOrCustomized(const char* source, const char* target)
{
    // Without a database no customised pair exists, so the pair filter's
    // verdict stands.
    return rscpf1__pair_compatible(source, target);
}

// ---- database services --------------------------------------------------------------

uint32_t rscptua_no_db()
{
    std::fputs("rscptua.c: There is no DB connection.\n", stderr);
    return RSCPENOOBJ;
}

uint32_t rscpctdd__check_tabin_DD()
{
    if (rscpe_trace_verbose())
        std::fputs("rscpctdd__check_tabin_DD returned 2 without doing anything \n", stderr);
    return 2;
}

uint32_t rscpgdi__general_db_init(uint32_t)
{
    if (rscpe_trace_verbose())
        std::fputs("rscpgdi__general_db_init ignored \n", stderr);
    return 0;
}

void rscpccf()
{
    if (rscpe_trace_on())
        std::fputs("rscpccf: Connected to no Database.\n", stderr);
}

uint32_t rstshxp__has_exec_permission(uint32_t, uint8_t* permission, uint8_t* second)
{
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rstshxp__has_exec_permission", -1, " ", 1, nullptr);
    if (rscpe_trace_on())
        std::fputs("exec permissions granted without checking\n", stderr);
    if (permission != nullptr)
        *permission = 1;
    if (second != nullptr)
        *second = 1;
    if (rscphTracing())
        rscph_HookTable.TraceExit(0, " ", 1, nullptr);
    return 0;
}

uint32_t rscpf1t__flush_one_table(const char* table)
{
    if (rscpe_trace_on())
        std::fprintf(stderr,
                     "rscpf1t__flush_one_table: I guess db_ntab would have answered \"unbuffered\" for table %s\n",
                     table != nullptr ? table : "");
    return 0;
}

uint32_t rscpGetTableInfo(uint32_t, uint32_t, char* out, int32_t size)
{
    if (out != nullptr && size > 0) {
        if (size < 7)
            std::memset(out, 'n', static_cast<size_t>(size));
        else
            fixstr_copy_str_pad(out, "no info", size);
    }
    return 2;
}

uint32_t rscpDisableOption7()
{
    rscpso_set_option(7, 0, 0);
    return 1;
}

void rscpEbcdicDigitsToAscii(char* cp4)
{
    const uint8_t first = static_cast<uint8_t>(cp4[0]);
    if ((first < '0' || first > '9') && first >= 0xF0 && first <= 0xF9)
        for (int i = 0; i < 4; ++i)
            cp4[i] = static_cast<char>(static_cast<uint8_t>(cp4[i]) + 0x40);
}

// ---- inter-process cache control ------------------------------------------------------

uint32_t rscpmc4_init(int32_t mode)
{
    return DummyIpc(mode, 2, 101, "rscpmc4_init");
}
uint32_t rscpmc3_init(int32_t mode)
{
    return DummyIpc(mode, 1, 80, "rscpmc3_init");
}
