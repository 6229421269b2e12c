// The process's local code page and the provider of the database code pages,
// which the cache start-up registers.
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: //krn/rscp/cplocal.cpp#1 $";

char g_localCodePage[4] = {'1', '1', '0', '0'};
kovlcpDBCodePageFunc g_dbCodePages = nullptr;

}  // namespace

void kovlcpGetLocalCodePage(char* cp) { std::memcpy(cp, g_localCodePage, 4); }

int32_t kovlcpSetDBCodePageFunc(kovlcpDBCodePageFunc f)
{
    g_dbCodePages = f;
    return 0;
}

kovlcpDBCodePageFunc kovlcpGetDBCodePageFunc() { return g_dbCodePages; }

uint32_t rscpGetDBCodePages(char* cps, int32_t capacity, uint32_t* count)
{
    static uint32_t generation = 0xFFFFFFFFu;
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpGetDBCodePages", -1, " ", 1, nullptr);
    rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        const uint32_t rc = rscpe__error(RSCPEBUSY, 'C', RSCP_ALL_ERRORS, kModule, 3, 2025,
                                         "Shared mem CCC not yet initialized", "CP6", "CCC not yet initialized", 23,
                                         nullptr, 0);
        if (count != nullptr)
            *count = 0;
        if (rscphTracing())
            rscph_HookTable.TraceExit(static_cast<int32_t>(rc), "CCC not init", 12, nullptr);
        return rc;
    }
    const uint32_t check = rscprc__reorg_check(&c, &generation);
    if (check != 0)
        return check;
    int32_t n = c->dbCpCount > RSCP_TCPDB_MAX ? RSCP_TCPDB_MAX : c->dbCpCount;
    char text[40];
    snprintfR(text, sizeof text, "%ld code pages", static_cast<long>(n));
    uint32_t rc = 0;
    if (capacity < n) {
        rc = rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 4, 2049, "Too many code pages for output", "CP8",
                          text, -1, "&", 1);
        n = capacity < 0 ? 0 : capacity;
    }
    if (n > 0 && cps != nullptr)
        std::memcpy(cps, c->dbCp, 4 * static_cast<size_t>(n));
    if (count != nullptr)
        *count = static_cast<uint32_t>(n);
    if (rscphTracing())
        rscph_HookTable.TraceExit(static_cast<int32_t>(rc), text, -1, nullptr);
    return rc;
}
