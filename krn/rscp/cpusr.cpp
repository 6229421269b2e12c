// The convenience layer over converter objects: set-up with reports, the
// pair of converters between UTF-16 and the local code page, conversions
// that explain their failures, the hex dump of the input around a failure,
// Thai display cells and the default code pages.
#include "krn/rscp/cpusr.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpconvert.h"
#include "krn/rscp/cphook.h"
#include "krn/rscp/cpwrap.h"

namespace {

const char kModule[] = "@(#) $Id: rscpcusr#1 $";

const char kDefaultCodePages[] = "41034102410341101100";

int32_t Write(rscpUsrWriter writer, const char* text)
{
    return writer(text, int32_t(std::strlen(text)));
}

// ---- reports ----------------------------------------------------------------

void Report(const char* text, const char* call, rscpeSinkFunc writer, rscpeOutputFunc context)
{
    const char* t = text != nullptr ? text : "";
    writer(t, int32_t(std::strlen(t)), context);
    writer(call, int32_t(std::strlen(call)), context);
    rscpe_box_print(rscpe_get_error_record(), writer, context);
}

// ---- the pair ----------------------------------------------------------------

uint32_t SetUp(rscpCObj_t* o, const char* source, const char* target)
{
    uint32_t rc = rscpCInit(o, source, target, RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPFILL_NEVER);
    if (rc == RSCP_OK)
        rc = rscpCSetCtrlCodeCv(o, RSCPCTRL_TRY);
    if (rc == RSCP_OK)
        rc = rscpCSetKOVOwnChCv(o, RSCPOWN_IGNORE);
    if (rc == RSCP_OK)
        rc = rscpCActivate(o);
    return rc;
}

// The pair dump's writer, for the converter dumps' lines.
rscpUsrWriter g_pairWriter = nullptr;

void PairDumpLine(const char* text, int32_t length)
{
    char line[512] = "| ";
    const int32_t n = length < 0 ? 0 : length > 510 ? 510 : length;
    if (n > 0)
        std::memcpy(line + 2, text, size_t(n));
    g_pairWriter(line, n + 2);
}

// ---- explanations ---------------------------------------------------------------

// The explaining call's writer, for the error printers' lines.
rscpUsrWriter g_explainWriter = nullptr;

void ExplainLine(const char* text, int32_t length)
{
    g_explainWriter(text, length);
}

typedef uint32_t (*ConvertFunc)(rscpCObj_t*, uint8_t**, uint8_t*, const uint8_t**, const uint8_t*);

uint32_t Explain(ConvertFunc convert, rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                 const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer)
{
    uint8_t* const d0 = dst != nullptr ? *dst : nullptr;
    const uint8_t* const s0 = src != nullptr ? *src : nullptr;
    const uint32_t rc = convert(conv, dst, dstEnd, src, srcEnd);
    if (rc == RSCP_OK || writer == nullptr)
        return rc;
    const uint8_t* const now = src != nullptr ? *src : nullptr;
    Write(writer, heading != nullptr ? heading : "");
    g_explainWriter = writer;
    const rscpErrRecord* record = rscpe_get_error_record();
    if (rc == RSCPEUNIQ || rc == RSCPENOCONV) {
        Write(writer, rc == RSCPEUNIQ ? "RSCPEUNIQ: Input ends within a multi-byte character"
                                      : "RSCPENOCONV: Conversion error");
        rscpe_print_error_stack(record, ExplainLine);
        Write(writer, "Input data:");
        rscpDumpInputBuffer(s0, now, srcEnd, 32, 32, writer);
    } else if (rc == RSCPETOOLONG) {
        char line[80];
        Write(writer, "RSCPETOOLONG: The output buffer was too short.");
        std::snprintf(line, sizeof line, "  Size of output buffer was%9ld bytes", static_cast<long>(dstEnd - d0));
        Write(writer, line);
        std::snprintf(line, sizeof line, "  Size of input buffer was %9ld bytes", static_cast<long>(srcEnd - s0));
        Write(writer, line);
        std::snprintf(line, sizeof line, "  But only %ld bytes could be consumed",
                      static_cast<long>(int32_t(now - s0)));
        Write(writer, line);
        rscpDumpInputBuffer(s0, now, srcEnd, 64, 16, writer);
    } else {
        rscpe_print_errors(record, ExplainLine);
        Write(writer, "Input data:");
        rscpDumpInputBuffer(s0, now, srcEnd, 32, 32, writer);
    }
    return rc;
}

// ---- Thai cells -------------------------------------------------------------------

struct ThaiWidths {
    uint32_t width[256];
    constexpr ThaiWidths()
        : width()
    {
        for (int b = 0; b < 256; ++b)
            width[b] = (b == 0xD1 || (b >= 0xD4 && b <= 0xDA) || (b >= 0xE7 && b <= 0xEE)) ? 0 : 1;
    }
};
constexpr ThaiWidths kThai;

}  // namespace

uint32_t rscpCActivateReport(rscpCObj_t* conv, const char* text, rscpeSinkFunc writer, rscpeOutputFunc context)
{
    const uint32_t rc = rscpCActivate(conv);
    if (rc != RSCP_OK && writer != nullptr)
        Report(text, "rscpCActivate.", writer, context);
    return rc;
}

uint32_t rscpCInitReport(rscpCObj_t* conv, const char* source, const char* target, int32_t miss, int32_t broken,
                         int32_t fill, uint32_t substU4, uint8_t filter, int32_t useF1, int32_t ctrlCodes,
                         int32_t ownCh, int32_t drop, const char* text, rscpeSinkFunc writer, rscpeOutputFunc context)
{
    const char* call = "rscpCInit.";
    uint32_t rc = rscpCInit(conv, source, target, miss, broken, fill);
    if (rc == RSCP_OK && (rc = rscpCPreSetSubstU4(conv, substU4)) != RSCP_OK)
        call = "rscpCPreSetSubstU4.";
    if (rc == RSCP_OK && (rc = rscpCSetFilter(conv, filter)) != RSCP_OK)
        call = "rscpCSetFilter.";
    if (rc == RSCP_OK && (rc = rscpCSetUseF1(conv, useF1)) != RSCP_OK)
        call = "rscpCSetUseF1.";
    if (rc == RSCP_OK && (rc = rscpCSetCtrlCodeCv(conv, ctrlCodes)) != RSCP_OK)
        call = "rscpCSetCtrlCodeCv.";
    if (rc == RSCP_OK && (rc = rscpCSetKOVOwnChCv(conv, ownCh)) != RSCP_OK)
        call = "rscpCSetKOVOwnChCv.";
    if (rc == RSCP_OK && (rc = rscpCSetDrop(conv, drop)) != RSCP_OK)
        call = "rscpCSetDrop.";
    if (rc != RSCP_OK && writer != nullptr)
        Report(text, call, writer, context);
    return rc;
}

uint32_t rscpCPairInitActivate(rscpCPair* pair, int32_t mode)
{
    char local[4] = {' ', ' ', ' ', ' '};
    rscph_HookTable.LocalCodePage(local);
    if (pair == nullptr)
        return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 1, 850, "rscpCPairInitActivate: no pair", "CP9",
                            "rscpCPairInitActivate", -1, nullptr, 0);
    if (pair->private1 >= 1 && pair->private1 <= 3)
        return RSCP_OK;
    if (mode != 1)
        return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 1, 864,
                            "rscpCPairInitActivate: unknown par.val.", "CP9", "rscpCPairInitActivate", -1, nullptr, 0);
    if (pair->private1 != 0) {
        rscpCRelease(&pair->fromUtf16);
        rscpCRelease(&pair->toUtf16);
    }
    const char* const utf16 = kDefaultCodePages;  // the first of the defaults
    uint32_t rc = SetUp(&pair->fromUtf16, utf16, local);
    if (rc != RSCP_OK) {
        pair->private1 = 0;
        return rc;
    }
    rc = SetUp(&pair->toUtf16, local, utf16);
    if (rc != RSCP_OK) {
        rscpCRelease(&pair->fromUtf16);
        pair->private1 = 0;
        return rc;
    }
    pair->private1 = 1;
    return RSCP_OK;
}

uint32_t rscpCPairRelease(rscpCPair* pair)
{
    if (pair == nullptr)
        return RSCP_OK;
    pair->private1 = 0;
    const uint32_t a = rscpCRelease(&pair->fromUtf16);
    const uint32_t b = rscpCRelease(&pair->toUtf16);
    return a | b;
}

int32_t rscpCPairDump(const rscpCPair* pair, rscpUsrWriter writer, int32_t level)
{
    if (pair == nullptr || writer == nullptr)
        return 0;
    g_pairWriter = writer;
    char line[48];
    writer("--------- pair of converters between KOV_UC and UTF-16 ---", 58);
    std::snprintf(line, sizeof line, "private1    %d", static_cast<int>(pair->private1));
    Write(writer, line);
    std::snprintf(line, sizeof line, "private2    %d", static_cast<int>(pair->private2));
    Write(writer, line);
    PairDumpLine("from UC to UTF-16", 17);
    rscpCDump(&pair->toUtf16, PairDumpLine, level);
    PairDumpLine("to UC from UTF-16", 17);
    rscpCDump(&pair->fromUtf16, PairDumpLine, level);
    return writer("--------- end of pair of conver. bw. KOV_UC and UTF-16 ---", 58);
}

uint32_t rscpCConvertExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                             const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer)
{
    return Explain(rscpCConvert, conv, dst, dstEnd, src, srcEnd, heading, writer);
}

uint32_t rscpCConvertNeutralExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                    const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer)
{
    return Explain(rscpCConvertNeutral, conv, dst, dstEnd, src, srcEnd, heading, writer);
}

uint32_t rscpCConvertNeutralAExplain(rscpCObj_t* conv, uint8_t** dst, uint8_t* dstEnd, const uint8_t** src,
                                     const uint8_t* srcEnd, const char* heading, rscpUsrWriter writer)
{
    return Explain(rscpCConvertNeutralA, conv, dst, dstEnd, src, srcEnd, heading, writer);
}

int32_t rscpHexDump(const void* data, int32_t length, const char* prefix, const char* contPrefix, uint64_t address,
                    uint32_t width, rscpUsrWriter writer)
{
    if (writer == nullptr)
        return 0;
    char line[256];
    if (data == nullptr || length < 1) {
        const int n = std::snprintf(line, sizeof line, "%.64s ? ?  addr=%p , len=%ld", prefix != nullptr ? prefix : "",
                                    data, static_cast<long>(length));
        return writer(line, n);
    }
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t column = uint32_t(address & 15);
    uint64_t lineAddress = address - column;
    int32_t rc = 0;
    const char* pre = prefix;
    for (int32_t i = 0; i < length;) {
        int n = std::snprintf(line, sizeof line, "%.64s", pre != nullptr ? pre : "");
        const auto where = static_cast<unsigned long long>(lineAddress);
        if (width == 8)
            n += std::snprintf(line + n, sizeof line - size_t(n), "%08llx", where);
        else if (width == 16)
            n += std::snprintf(line + n, sizeof line - size_t(n), "%016llx", where);
        char chars[16];
        for (uint32_t c = 0; c < 16; ++c) {
            if (c < column || i >= length) {
                std::memcpy(line + n, "   ", 3);
                chars[c] = ' ';
            } else {
                const uint8_t b = p[i++];
                std::snprintf(line + n, 4, " %02x", b);
                chars[c] = std::isprint(b) ? char(b) : '.';
            }
            n += 3;
        }
        line[n++] = ' ';
        line[n++] = '|';
        std::memcpy(line + n, chars, 16);
        n += 16;
        line[n++] = '|';
        rc = writer(line, n);
        column = 0;
        lineAddress += 16;
        pre = contPrefix;
    }
    return rc;
}

void rscpDumpInputBuffer(const uint8_t* start, const uint8_t* current, const uint8_t* end, int32_t usedLimit,
                         int32_t unusedLimit, rscpUsrWriter writer)
{
    if (writer == nullptr)
        return;
    char line[64];
    if (start == nullptr || current < start || current > end || start >= end) {
        // Pointers that make no sense are shown, never followed.
        writer("? stange buffer", 15);
        std::snprintf(line, sizeof line, "start %p", static_cast<const void*>(start));
        Write(writer, line);
        std::snprintf(line, sizeof line, "cur t %p", static_cast<const void*>(current));
        Write(writer, line);
        std::snprintf(line, sizeof line, "end   %p", static_cast<const void*>(end));
        Write(writer, line);
        return;
    }
    const long used = long(current - start), unused = long(end - current);
    char number[24], pre[8];
    std::snprintf(number, sizeof number, "(%ld)", used);
    std::snprintf(pre, sizeof pre, "%-6.6s", number);
    if (usedLimit < 1) {
        writer("  nothing used.", 15);
    } else {
        long n = used;
        while (n > usedLimit && n > 16)
            n -= 16;
        rscpHexDump(start + used - n, int32_t(n), "used  ", pre, uint64_t(used - n), 8, writer);
    }
    if (unusedLimit < 1)
        return;
    std::snprintf(number, sizeof number, "(%ld)", unused);
    std::snprintf(pre, sizeof pre, "%.6s", number);
    long m = unused;
    if (unused > unusedLimit) {
        if ((used + unused) % 16 != 0 && unused > 1) {
            m = unused - 1;
            while ((used + m) % 16 != 0 && m > 1)
                --m;
        }
        while (m > unusedLimit && m > 16)
            m -= 16;
    }
    rscpHexDump(current, int32_t(m), "unused", pre, uint64_t(used), 8, writer);
}

uint32_t rscpThaiCellWidth(uint8_t byte)
{
    return kThai.width[byte];
}

int32_t rscpThaiCellLen(const uint8_t* text)
{
    if (text == nullptr || text[0] < 0xA0 || kThai.width[text[0]] == 0)
        return 1;
    int32_t n = 1;
    while (text[n] != 0 && kThai.width[text[n]] == 0)
        ++n;
    return n;
}

const char* rscpDefaultCodePages()
{
    return kDefaultCodePages;
}
