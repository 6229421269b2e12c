// Runtime stand-ins and small runtime helpers.
#include "krn/runt/abrt.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "krn/rstr/contloct.h"
#include "krn/rstr/fixstr.h"
#include "krn/runt/rstg.h"
#include "nls/kovstr.h"

AbSysInfo ab_sysinfo;
uint32_t ab_version = 0;
AbTextArea* zttaptr = nullptr;
void* spaptr = nullptr;
AbUserArea* spauptr = nullptr;

namespace {

const char kIdent[] = "@(#)abcglob 7.20 ";
char g_systext[245];
struct utsname g_uts;
AlRslgCallback g_rslg = nullptr;
AbUserArea g_user;

void Frame(const char* text)
{
    std::fprintf(stderr, " *\n *  %s\n *\n", text);
}

}  // namespace

const char* ab_systext()
{
    return g_systext;
}

void abcglob_init(int keepCodepage)
{
    unsigned major = 0, minor = 0;
    if (std::sscanf(kIdent, "@(#)abcglob %u.%u ", &major, &minor) == 2)
        ab_version = major << 16 | minor;
    const uint32_t one = 1;
    unsigned char first;
    std::memcpy(&first, &one, 1);
    if (first != 1) {
        Frame("Wrong int format in kovtype");
        std::abort();
    }
    static const unsigned char kIeeeOne[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};
    const double d = 1.0;
    if (std::memcmp(&d, kIeeeOne, 8) != 0) {
        Frame("Wrong float format in kovtype");
        std::abort();
    }
    ab_sysinfo.byteOrder = 1;
    ab_sysinfo.floatFormat = 1;
    if (ab_sysinfo.codepage[0] == 0)
        std::memcpy(ab_sysinfo.codepage, "1100", 4);
    if (uname(&g_uts) == 0) {
        ab_sysinfo.sysname = g_uts.sysname;
        ab_sysinfo.release = g_uts.release;
        ab_sysinfo.machine = g_uts.machine;
        ab_sysinfo.nodename = g_uts.nodename;
    }
    if (!keepCodepage) {
        if (const char* cp = std::getenv("KOV_CODEPAGE")) {
            const size_t n = strnlenR(cp, 5);
            fixstr_copy_pad(ab_sysinfo.codepage, 4, cp, static_cast<int32_t>(n < 4 ? n : 4));
            ab_sysinfo.codepageExtra = n > 4 ? cp[4] : 0;
        }
    }
    // The system text record: "%02X%1X" of 1 and 1, the code page, 390, then
    // the blank-padded fields.
    std::memset(g_systext, ' ', sizeof g_systext);
    char head[32];
    const int32_t n = snprintfTruncR(head, sizeof head, "%02X%1X%-4.4s%5d", 1, 1, "", 390);
    std::memcpy(g_systext, head, static_cast<size_t>(n));
    fixstr_copy_pad(g_systext + 3, 4, ab_sysinfo.codepage, 4);
    fixstr_copy_str_pad(g_systext + 12, "LIT", 3);
    fixstr_copy_str_pad(g_systext + 15, "IE3", 3);
    fixstr_copy_str_pad(g_systext + 18, ab_sysinfo.nodename, 8);
    fixstr_copy_str_pad(g_systext + 26, ab_sysinfo.nodename, 32);
    fixstr_copy_str_pad(g_systext + 58, ab_sysinfo.sysname, 10);
}

void abcglob_set_codepage(const char* codepage)
{
    if (codepage)
        std::memcpy(ab_sysinfo.codepage, codepage, 4);
}

unsigned char ab_relinfo_field(int index)
{
    // The release "720" and patch level as one row of text.
    static const char kRow[] = "720721";
    if (index < 0 || index >= static_cast<int>(sizeof kRow - 1))
        return 0;
    return static_cast<unsigned char>(kRow[index]);
}

int ab_ztta_init()
{
    auto* area = static_cast<AbTextArea*>(rstg_get(2, 0, "*ZTTA*", AB_ZTTA_SIZE, 0));
    if (!area)
        return 0;
    spauptr = &g_user;
    area->user = &g_user;
    area->spaAddress = &spaptr;
    area->spauAddress = &spauptr;
    area->size = AB_ZTTA_SIZE;
    area->size2 = AB_ZTTA_SIZE;
    fixstr_copy_str_pad(g_user.userName, "000ZEMOUSER", sizeof g_user.userName);
    g_user.logonLanguage = 'D';
    zttaptr = area;
    return 0;
}

const char* ab_terminal_name(int kind)
{
    switch (kind) {
    case 2:
        return "***batch***     ";
    case 1:
        return "000";
    case 6:
        return "1";
    case 7:
        return " ";
    default:
        return nullptr;
    }
}

int ab_currency_decimals(const char* code, int flag)
{
    static const struct {
        char code[6];
        int decimals;
    } kTable[] = {{"LIT  ", 0}, {"ITL  ", 0}, {"BFR  ", 0}, {"BEF  ", 0}, {"PTAS ", 0},
                  {"PTS  ", 0}, {"ESB  ", 0}, {"YEN  ", 0}, {"KUD  ", 3}, {"#0   ", 0},
                  {"#1   ", 1}, {"#2   ", 2}, {"#3   ", 3}, {"#4   ", 4}, {"#5   ", 5}};
    if (flag == 1)
        return 2;
    if (code)
        for (const auto& row : kTable)
            if (std::strncmp(code, row.code, 5) == 0)  // stops at a shorter code's NUL
                return row.decimals;
    return 2;
}

void ab_message(int type, const char* msgClass, int number, int count, const char* p1, int l1, const char* p2, int l2,
                const char* p3, int l3)
{
    const char cls0 = msgClass ? msgClass[0] : ' ';
    const char cls1 = msgClass && cls0 ? msgClass[1] : ' ';
    if (cls1 == 'Y' && (cls0 == 'S' || cls0 == '$')) {
        if (type != 9)
            std::exit(number);
        return;
    }
    static const char kLetters[] = "EWIADecmSX";
    const char letter = type >= 0 && type <= 9 ? kLetters[type] : '?';
    std::fprintf(stderr, "Message code %c %2.2s%03d.\n", letter, msgClass ? msgClass : "", number);
    std::fprintf(stderr, "%d parameters :\n", count);
    const char* p[3] = {p1, p2, p3};
    const int l[3] = {l1, l2, l3};
    for (int i = 0; i < count && i < 3; ++i)
        std::fprintf(stderr, "  %d:  %.*s\n", i + 1, p[i] ? (l[i] > 0 ? l[i] : 0) : 0, p[i] ? p[i] : "");
    std::fflush(stderr);
    if (type != 9)
        std::exit(number);
}

void ab_zero12(char* field)
{
    std::memset(field, '0', 12);
}

void ab_zero16(char* field)
{
    std::memset(field, '0', 16);
}

const char* ab_whatstring_name(const char* text)
{
    static char padded[9];
    const char* p = text ? text : "";
    if (std::strncmp(p, "@(#)", 4) == 0)
        p += 4;
    if (*p == ')')
        ++p;
    if (*p == ' ')
        ++p;
    if (std::strncmp(p, "$Id:", 4) == 0) {
        p += 4;
        while (*p == ' ')
            ++p;
    }
    const char* end = p;
    while (*end && *end != ' ' && *end != '\t')
        ++end;
    for (const char* q = p; q < end; ++q)
        if (*q == '/')
            p = q + 1;
    size_t n = 0;
    while (p[n] && !std::strchr(". #\t", p[n]))
        ++n;
    if (n >= 8)
        return p;
    std::memset(padded, ' ', 8);
    std::memcpy(padded, p, n);
    padded[8] = '\0';
    return padded;
}

void ab_timestamp16(char* field)
{
    const time_t now = std::time(nullptr);
    struct tm tm;
    if (!ContLoctLocaltimeR(&now, &tm))
        std::memset(&tm, 0, sizeof tm);
    char buf[32];
    snprintfTruncR(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d00", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                   tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::memcpy(field, buf, 16);
}

int ab_timestamp16_valid(const char* field)
{
    // Highest digit per position: year, month, day, hour, minute, second.
    static const char kMax[] = "29991939295959";
    for (int i = 0; i < 14; ++i)
        if (field[i] < '0' || field[i] > kMax[i])
            return 0;
    return field[14] == '0' && field[15] == '0' ? 1 : 0;
}

int AlRslgSetCallbackFunction(AlRslgCallback callback)
{
    g_rslg = callback;
    return 0;
}

int AlRslgCallCallback(void* a, void* b, void* c, void* d, void* e, void* f)
{
    if (g_rslg)
        g_rslg(a, b, c, d, e, f);
    return 0;
}

void ab_hexdump(FILE* f, const void* data, size_t length, const char* prefix, unsigned long offset, int width)
{
    const auto* d = static_cast<const unsigned char*>(data);
    for (size_t line = 0; line < length; line += 16) {
        std::fputs(prefix ? prefix : "", f);
        if (width == 8)
            std::fprintf(f, "%08lx", offset + line);
        char chars[17];
        for (size_t k = 0; k < 16; ++k) {
            if (line + k < length) {
                std::fprintf(f, " %02x", d[line + k]);
                chars[k] = d[line + k] >= 0x20 && d[line + k] < 0x7F ? static_cast<char>(d[line + k]) : '.';
            } else {
                std::fputs("   ", f);
                chars[k] = ' ';
            }
        }
        chars[16] = '\0';
        std::fprintf(f, " |%-16.16s|\n", chars);
    }
}

void ab_sleep(unsigned long seconds)
{
    char text[32];
    snprintfTruncR(text, sizeof text, "%lu sec", seconds);
    (void)text;  // the trace of this text is not written in this build
    sleep(static_cast<unsigned>(seconds));
}

char* rstr_setlocale(int category, const char* locale)
{
    return std::setlocale(category, locale);
}
