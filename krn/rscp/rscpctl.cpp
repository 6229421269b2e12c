// Temporary layer: the converter cache side's process data, hook table and
// error recorder, reduced to what the converter objects use, until the cache
// start-up, the hook table and the error recorder are built.  No cache is
// built here: h_ccc_state stays 0 and rscpmp NULL until a caller attaches one.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpccc.h"

uint32_t h_ccc_state = 0;
rscpCcc_t* rscpmp = nullptr;

namespace {

rscpCtlRecord_t g_ctl;

const char* NoParameter(const char*) { return nullptr; }
int32_t LocalCodePage(char* cp4)
{
    std::memcpy(cp4, "1100", 4);
    return 128;
}
int32_t Language(char* lang)
{
    *lang = 'E';
    return 128;
}
int32_t LanguageCodePage(char* cp4, const char*)
{
    std::memcpy(cp4, "0000", 4);
    return 128;
}
int32_t NoLock(int32_t, int32_t) { return 0; }

void StderrOutput(const char* text, int32_t length)
{
    std::fprintf(stderr, "%*.*s\n", length, length, text);
}
void NoOutput(const char*, int32_t) {}

}  // namespace

rscph_HookTable_t rscph_HookTable = {1, 3, &g_ctl, NoParameter, LocalCodePage, Language, LanguageCodePage,
                                     NoLock, NoLock};

rscpeOutputFunc rscpe_get_output_func(int32_t number)
{
    return number == 1 ? StderrOutput : NoOutput;
}

struct rscpErrRecord {
    uint32_t count;
    uint32_t code;
    char kind;
    char msgid[4];
    char text[69];
    char arg1[65];
    char arg2[65];
};

namespace {

rscpErrRecord g_err;

void Copy(char* dst, std::size_t size, const char* src, int32_t len)
{
    if (src == nullptr || len == 0) {
        dst[0] = '\0';
        return;
    }
    std::size_t n = len < 0 ? std::strlen(src) : static_cast<std::size_t>(len);
    if (n >= size)
        n = size - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

}  // namespace

uint32_t rscpe__error(uint32_t code, char kind, uint32_t mask, const char* module, int32_t location, int32_t line,
                      const char* text, const char* msgid, const char* arg1, int32_t len1, const char* arg2,
                      int32_t len2)
{
    ++g_err.count;
    g_err.code = code;
    g_err.kind = kind;
    Copy(g_err.msgid, sizeof g_err.msgid, msgid != nullptr ? msgid : "   ", 3);
    Copy(g_err.text, sizeof g_err.text, text != nullptr ? text : "?text?", -1);
    Copy(g_err.arg1, sizeof g_err.arg1, arg1, len1);
    Copy(g_err.arg2, sizeof g_err.arg2, arg2, len2);
    if ((code & mask) != 0)
        return code;
    std::fflush(stdout);
    std::fprintf(stderr, "code page library: fatal error %u (%s) at %s(%d;%d): %s (%s, %s)\n", code, g_err.msgid,
                 module != nullptr ? module : "?modul?", location, line, g_err.text, g_err.arg1, g_err.arg2);
    std::fflush(stderr);
    std::abort();
}

const rscpErrRecord* rscpe_get_error_record() { return &g_err; }

uint32_t rscpe_get_last_rc(const rscpErrRecord* r) { return r != nullptr ? r->code : RSCPEINVAL; }

void rscpe_get_last_text(const rscpErrRecord* r, char* buffer, int32_t size)
{
    if (buffer == nullptr || size < 1)
        return;
    Copy(buffer, static_cast<std::size_t>(size), r != nullptr ? r->text : "", -1);
}

uint32_t rscpi_init_just_in_case(const char*)
{
    return 0;
}

uint32_t rscpnr__need_reorg(int32_t, uint32_t)
{
    return 0;
}

uint32_t rscpr__reconnect(uint32_t)
{
    return 0;
}
