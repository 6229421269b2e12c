// Hex dumps with masking of confidential byte runs.
#include "trace/dptrc_hex.h"

#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"
#include "nls/nlsui.h"

namespace {

constexpr long kUnknown = -1;
const char kRule[] = "------------------------------------------------------------------------";

// Masking state, reset at the first line of every dump.
bool g_inRegion = false;
long g_regionStart = kUnknown;
long g_regionEnd = kUnknown;

// The characters where code page 273 departs from code page 500: each pair
// swaps places.
const unsigned char kSwaps[][2] = {{0x4A, 0x63}, {0x5A, 0xFC}, {0xC0, 0x43}, {0xD0, 0xDC},
                                   {0xE0, 0xEC}, {0x7C, 0xB5}, {0xA1, 0x59}, {0x6A, 0xCC}};

unsigned char From273To500(unsigned char c)
{
    for (const auto& s : kSwaps) {
        if (c == s[0])
            return s[1];
        if (c == s[1])
            return s[0];
    }
    return c;
}

bool Printable(unsigned char c)
{
    return c >= 0x20 && c <= 0x7E;
}

void ResetMask()
{
    g_inRegion = false;
    g_regionStart = kUnknown;
    g_regionEnd = kUnknown;
}

DpTrcHexConv Conv(int mode)
{
    switch (mode) {
    case 0:
        return PrEcho;
    case 1:
        return PrToAscii;
    case 2:
        return PrToEbcdic;
    default:
        return nullptr;
    }
}

}  // namespace

unsigned char PrEcho(unsigned char c)
{
    return c;
}

unsigned char PrToAscii(unsigned char c)
{
    const unsigned char l = nlsui_e2l1_char(From273To500(c));
    if (l == '\t' || l == '\n')
        return l;
    return (l < 0x20 || (l >= 0x7F && l < 0xA0)) ? ' ' : l;
}

unsigned char PrToEbcdic(unsigned char c)
{
    if (c == '\t')
        return 0x05;
    if (c == '\n')
        return 0x25;
    if (c < 0x20 || (c >= 0x7F && c < 0xA0))
        return 0x40;
    return From273To500(nlsui_l12e_char(c));
}

const char* DpTrcHexPtr(const void* p)
{
    static char buf[32];
    snprintfTruncR(buf, sizeof buf, "%p", p);
    return buf;
}

void DpTrcHexLine(char* buffer, const void* address, int start, int lineIndex, int offset, const void* data, int length,
                  int lineCount, int lastIndex, DpTrcHexConv conv, int rawLimit, int reset)
{
    const auto* d = static_cast<const unsigned char*>(data);
    if (reset)
        ResetMask();
    int n = snprintfTruncR(buffer, 64, "%p  %6.6d  ", address, offset);
    bool exists[16], masked[16];
    const long len = length;
    for (int k = 0; k < 16; ++k) {
        const long i = static_cast<long>(start) + k;
        exists[k] = (lineIndex != lineCount - 1 || k <= lastIndex) && i < len;
        masked[k] = false;
        if (exists[k] && dpTrcHidingActive) {
            if (!g_inRegion && ((len > 9 && i < len - 9 && std::memcmp(d + i, "SID:ANON:", 9) == 0) ||
                                (len >= 14 && i < len - 13 && std::memcmp(d + i, "SID%3aANON%3a", 13) == 0))) {
                g_inRegion = true;
                g_regionStart = i;
                g_regionEnd = kUnknown;
            }
            if (g_inRegion && g_regionEnd == kUnknown && i < len - 4 &&
                (std::memcmp(d + i, "-ATT", 4) == 0 || std::memcmp(d + i, "-NEW", 4) == 0))
                g_regionEnd = i + 4;
            masked[k] = g_inRegion && g_regionStart <= i && (g_regionEnd == kUnknown || g_regionEnd > i);
        }
        if (!exists[k]) {
            buffer[n++] = ' ';
            buffer[n++] = ' ';
        } else if (masked[k]) {
            buffer[n++] = 'x';
            buffer[n++] = 'x';
        } else {
            n += snprintfTruncR(buffer + n, 3, "%.2x", d[i]);
        }
        if (k % 4 == 3)
            buffer[n++] = ' ';
    }
    buffer[n++] = '|';
    for (int k = 0; k < 16; ++k) {
        const long i = static_cast<long>(start) + k;
        char c;
        if (!exists[k]) {
            c = ' ';
        } else if (masked[k]) {
            c = '.';
        } else {
            const unsigned char b = i < rawLimit ? d[i] : conv(d[i]);
            c = Printable(b) ? static_cast<char>(b) : '.';
        }
        buffer[n++] = c;
        if (g_inRegion && g_regionEnd != kUnknown && i >= g_regionEnd)
            ResetMask();
    }
    buffer[n++] = '|';
    buffer[n++] = '\n';
    buffer[n] = '\0';
}

void DpTrcHexDump(DpTrcHdl hdl, const char* title, const void* data, int length, int mode, int printFlag, int rawLimit)
{
    const DpTrcHexConv conv = Conv(mode);
    if (!data || length <= 0 || !conv || !printFlag)
        return;
    const int lines = (length + 15) / 16;
    const int lastIndex = (length - 1) % 16;
    const auto* d = static_cast<const unsigned char*>(data);
    DpTrcLockAcquire();
    const int32_t saved = EntLev;
    EntLev = 2;
    DpTrcNoStamp(hdl, "Adresse   Offset  %s\n", title ? title : "");
    DpTrcNoStamp(hdl, "%s\n", kRule);
    char line[128];
    for (int l = 0; l < lines; ++l) {
        DpTrcHexLine(line, d + 16 * l, 16 * l, l, 16 * l, data, length, lines, lastIndex, conv, rawLimit, l == 0);
        DpTrcLockAcquire();
        DpTrcNoStamp(hdl, "%s", line);
        DpTrcLockRelease();
    }
    DpTrcNoStamp(hdl, "%s\n", kRule);
    EntLev = saved;
    DpTrcLockRelease();
}

void DpTrcHexDumpShort(DpTrcHdl hdl, const char* title, const void* data, int length, int mode)
{
    DpTrcHexDump(hdl, title, data, length, mode, 1, 0);
}

void DpTrcHexDumpMsg(DpTrcHdl hdl, const char* title, const void* data, int length, int mode, int printFlag,
                     int headerFlag)
{
    if (!data || length <= 0)
        return;
    // The masked fields are overwritten in a copy, so the caller's data stay
    // untouched even when they are read-only.
    auto* m = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(length)));
    if (!m)
        return;
    std::memcpy(m, data, static_cast<size_t>(length));
    auto mask = [&](long at, unsigned char c) {
        for (long i = at; i < at + 8 && i < length; ++i)
            if (i >= 0)
                m[i] = c;
    };
    if (headerFlag && length > 1) {
        if (m[1] == 0xC9 && length > 80)
            mask(80, 'X');
        else if (m[1] == 0x11)
            mask(48, 'X');
        else if (m[1] == 0xCA && length > 419) {
            long block = -1;
            if (m[0] <= 4)
                block = 78;
            else if (length > 30 && (m[30] & 4))
                block = length - 340;
            if (block >= 0 && block + 340 <= length)
                mask(block + 228, 'X');
        }
    }
    if (headerFlag && length <= 80) {
        DpTrcHexDump(hdl, title, m, length, 0, printFlag, 0);
    } else {
        const long bodyAt = headerFlag ? 80 : 0;
        static const unsigned char kConn[] = {0xC3, 0xD6, 0xD5, 0xD5};
        if (length - bodyAt >= 4 && std::memcmp(m + bodyAt, kConn, 4) == 0)
            mask(bodyAt + 27, mode == 1 ? 0xE7 : mode == 2 ? 0xEC : 'X');
        DpTrcHexDump(hdl, title, m, length, mode, printFlag, headerFlag ? 80 : 0);
    }
    std::free(m);
}

void DpTrcHexDumpMsgHdr(DpTrcHdl hdl, const char* title, const void* data, int length, int mode)
{
    DpTrcHexDumpMsg(hdl, title, data, length, mode, 1, 1);
}

void DpTrcHexDumpMsgNoHdr(DpTrcHdl hdl, const char* title, const void* data, int length, int mode)
{
    DpTrcHexDumpMsg(hdl, title, data, length, mode, 1, 0);
}
