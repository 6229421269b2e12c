#include "cslib/cstrace.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::atomic<int> cs_trace_level{0};
CsPrinter cs_printer = nullptr;

namespace {
FILE* g_traceFile = nullptr;
bool g_traceOpenFailed = false;
}  // namespace

void CsSetTraceLevel(int level)
{
    cs_trace_level = level;
}
int CsGetTraceLevel()
{
    return cs_trace_level;
}
void CsSetPrinter(CsPrinter printer)
{
    cs_printer = printer;
}

void CsInstallDefaultPrinter()
{
    if (cs_printer == nullptr)
        cs_printer = CsDefaultPrinter;
}

namespace {

// "cstrace.trc" in the working directory, made new; one that is there
// already is written on at its end, and only when it is a plain file of this
// user with no other name.  A link is never followed and no file is cut:
// the working directory may be one that an archive just filled.
FILE* OpenTraceFile()
{
    constexpr const char* kName = "cstrace.trc";
    int fd = open(kName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) {
        fd = open(kName, O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid())) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0)
        return nullptr;
    FILE* f = fdopen(fd, "a");
    if (f == nullptr)
        close(fd);
    return f;
}

}  // namespace

int CsDefaultPrinter(const char* fmt, ...)
{
    if (g_traceFile == nullptr) {
        if (g_traceOpenFailed)
            return 0;
        g_traceFile = OpenTraceFile();
        if (g_traceFile == nullptr) {
            // Report once; later lines are dropped silently.
            g_traceOpenFailed = true;
            std::fputs("\nError:trace file could not be opened", stdout);
            return 0;
        }
    }
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vfprintf(g_traceFile, fmt, ap);
    va_end(ap);
    std::fflush(g_traceFile);
    return n;
}

void CsHexDump(const uint8_t* data, int32_t len, int64_t pos)
{
    if (cs_printer == nullptr || data == nullptr)
        return;
    constexpr int kPerLine = 20;
    for (int32_t off = 0; off < len; off += kPerLine) {
        const int n = len - off < kPerLine ? len - off : kPerLine;
        char hex[kPerLine * 3 + 8];
        char text[kPerLine + 1];
        int h = 0;
        for (int i = 0; i < n; ++i) {
            const uint8_t b = data[off + i];
            h += std::snprintf(hex + h, sizeof hex - static_cast<size_t>(h), "%02x", b);
            if (i % 5 == 4)
                hex[h++] = ' ';
            text[i] = (b >= 0x20 && b <= 0x7F) ? static_cast<char>(b) : '.';
        }
        hex[h] = '\0';
        text[n] = '\0';
        // Full lines are 44 characters of hex; short lines are padded to that.
        cs_printer("%10d | %*s", static_cast<int>(pos + off), -44, hex);
        cs_printer("%*s | %s\n", 0, "", text);
    }
}
