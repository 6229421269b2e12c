// Catalogue fill of a cache being built: the code page list and the
// character-number map from the compiled-in store, the system language, the
// database code pages from "TCPDB.DAT" (or the parameter that overrides it),
// the legacy code page and the RFC destinations.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpstore.h"
#include "nls/kovstr.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscpdl#1 $";
const char kTcpdbFile[] = "TCPDB.DAT";

rscpCtlRecord_t& Ctl()
{
    return *rscph_HookTable.ctl;
}

}  // namespace

uint32_t rscplt00__load_tcp00(uint32_t mask)
{
    rscpCcc_t* c = rscpmp;
    char row[RSCP_TCP00_WIDELEN];
    for (uint32_t i = 0; i < rscpF5Tcp00Count; ++i) {
        const char* stored = rscpF5Tcp00 + static_cast<size_t>(i) * RSCP_TCP00_ROWLEN;
        if (stored[0] == ' ')
            break;
        const uint64_t end = c->cpListOffset + (static_cast<uint64_t>(c->cpCount) + 1) * sizeof(rscpCpInfo_t);
        if (end > c->endT2 || c->cpCount == UINT16_MAX) {
            char arg[40];
            snprintfR(arg, sizeof arg, "cachesize&%ld&?&", static_cast<long>(c->length));
            return rscpe__error(RSCPEINTERN, 'C', mask, kModule, 1, __LINE__, "KOVPARAM(rsts/ccc/cachesize) too small",
                                "F24", arg, -1, nullptr, 0);
        }
        ++Ctl().tcp00Rows;
        rscpct0__copy_tcp00_row(row, stored);
        if (row[85] == ' ' || row[85] == '3' || row[85] == '4')
            row[85] = '2';
        rscpa0__add_tcp00_row(row, static_cast<int32_t>(rscpF5Head.fieldCount), '2');
        // A row whose top segment the store lacks can never be loaded.
        const rscpCpInfo_t& added = rscpCccCpList(c)[c->cpCount - 1];
        if (rscplsd__lookup_segment_dir(added.segId) == nullptr)
            ++c->unusedTcp00;
    }
    if (c->cpCount == 0) {
        const int64_t d = rscpF5Head.buildDate;
        char arg[40];
        snprintfR(arg, sizeof arg, "%04ld/%02ld/%02ld&", static_cast<long>(d / 10000), static_cast<long>(d / 100 % 100),
                  static_cast<long>(d % 100));
        return rscpe__error(RSCPEINTERN, 'C', mask, kModule, 2, __LINE__, "F5 TCP00: cannot find any char code", "CPB",
                            arg, -1, nullptr, 0);
    }
    return 0;
}

uint32_t rscplt01__load_tcp01(uint32_t)
{
    char row[RSCP_TCP01_TEXTLEN + 1];
    std::memset(row, ' ', RSCP_TCP01_TEXTLEN);
    const unsigned long top = rscpF5Tcp01Max() > 99999 ? 99999 : rscpF5Tcp01Max();
    char number[8];
    snprintfR(number, sizeof number, "%0*lu", 5, top);
    std::memcpy(row, number, 5);
    static const char kLast[] = "from TCP01_last_kovcode_max";
    std::memcpy(row + 5, kLast, sizeof kLast - 1);
    rscpa1__add_tcp01_row(row);
    const uint8_t* cursor = rscpF5Tcp01;
    while (rscpnt1__next_tcp01_row(row, &cursor) != 0) {
        ++Ctl().tcp01Rows;
        rscpa1__add_tcp01_row(row);
    }
    return 0;
}

uint32_t rscpt0d__take_system_language(uint32_t)
{
    const char* language = rscpParam("zcsa/system_language");
    rscph_ClearSystemLanguages();
    Ctl().tcp0dRowsSeen = 0;
    Ctl().tcp0dFormat = 2;
    const char row[4] = {' ', ' ', ' ', language != nullptr && language[0] != '\0' ? language[0] : ' '};
    rscpad__add_tcp0d_row(row);
    rscpcd__check_tcp0d();
    ++Ctl().tcp0dRows;
    return 0;
}

uint32_t rscptdb__take_tcpdb_code_page(const char* cp, uint32_t)
{
    ++Ctl().tcpdbRows;
    rscpadb__add_tcpdb_row(cp);
    if (cp[0] != '6')
        return 0;
    const bool ambiguous = std::memcmp(cp, "6100", 4) == 0 || std::memcmp(cp, "6200", 4) == 0 ||
                           std::memcmp(cp, "6500", 4) == 0;
    rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 3, __LINE__,
                 ambiguous ? "Still using ambiguous blended code page?" : "Still using unambiguous blended code page?",
                 "CP6", "TCPDB&", -1,
                 ambiguous ? "see notes on ambiguous blended code pages" : "see notes on blended code pages", -1);
    return 0;
}

namespace {

uint32_t NoMemoryForTcpdb(uint32_t mask)
{
    return rscpe__error(RSCPENOMEM, 'C', mask, kModule, 4, __LINE__, "no memory to read TCPDB.DAT", "F1A", nullptr, 0,
                        nullptr, 0);
}

}  // namespace

uint32_t rscprtd__read_tcpdb(uint32_t mask)
{
    rscph_ClearTCPDB();
    FILE* f = nullptr;
    errno = 0;
    if (const char* run = rscpParam("rscp/operride/TCPDB")) {
        const size_t n = std::strlen(run);
        for (size_t i = 0; i + 4 <= n; i += 4)
            rscptdb__take_tcpdb_code_page(run + i, mask);
    } else if ((f = std::fopen(kTcpdbFile, "r")) != nullptr) {
        char line[8];
        int number = 0;
        // A file that could not be read for memory is no file read short.
        errno = 0;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            ++number;
            size_t n = std::strlen(line);
            if (n > 0 && line[n - 1] == '\n')
                line[--n] = '\0';
            if (n > 0 && line[n - 1] == '\r')
                line[--n] = '\0';
            if (number == 1 && std::strncmp(line, "TCPDB", 5) == 0)
                continue;
            if (n == 4)
                rscptdb__take_tcpdb_code_page(line, mask);
            else
                std::fprintf(stderr, "%s line %d: format error: \"%.20s\".\n", kTcpdbFile, number, line);
        }
        const bool noMemory = std::ferror(f) && errno == ENOMEM;
        std::fclose(f);
        if (noMemory)
            return NoMemoryForTcpdb(mask);
    } else if (errno == ENOMEM) {
        return NoMemoryForTcpdb(mask);
    } else if (rscpe_trace_on()) {
        std::perror(kTcpdbFile);
    }
    rscpcdb__check_tcpdb(0);
    return 0;
}

uint32_t read_TCP0I(uint32_t)
{
    rscph_ClearTCP0I();
    if (const char* legacy = std::getenv("SNC_LEGACY_KOV_CP")) {
        char row[RSCP_TCP0I_ROWLEN];
        nlsui_str2fix(row, "legacy_cp", 20);
        row[20] = 'X';
        nlsui_str2fix(row + 21, "?", 14);
        nlsui_str2fix(row + 35, legacy, 240);
        nlsui_str2fix(row + 275, "getenvU", 12);
        rscpti__take_tcp0i_row(row);
        ++Ctl().tcp0iRows;
    } else if (rscpe_trace_on()) {
        std::fputs("read_TCP0I was called and returned OK without doing anything.\n", stderr);
    }
    rscph_EndTCP0I();
    return 0;
}

uint32_t read_RFCDES(uint32_t)
{
    rscph_BeginRFCDES();
    if (rscpe_trace_on())
        std::fputs("read_RFCDES was called and returned OK without doing anything.\n", stderr);
    rscph_EndRFCDES();
    return 0;
}

uint32_t rscpcsn__charset_name(char* dst, const char* cp, int32_t size, const rscpCharsetRow* table)
{
    if (dst == nullptr || size < 1)
        return 0;
    dst[0] = '\0';
    for (const rscpCharsetRow* r = table; r != nullptr && cp != nullptr && r->name != nullptr; ++r)
        if (std::memcmp(r->cp, cp, 4) == 0) {
            snprintfTruncR(dst, static_cast<size_t>(size), "%s", r->name);
            break;
        }
    return 0;
}
