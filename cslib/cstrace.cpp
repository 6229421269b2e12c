#include "cslib/cstrace.h"

#include <cstdarg>
#include <cstdio>

std::atomic<int> cs_trace_level{0};
CsPrinter cs_printer = nullptr;

namespace {
FILE* g_traceFile = nullptr;
bool g_traceOpenFailed = false;
}  // namespace

void CsSetTraceLevel(int level) { cs_trace_level = level; }
int CsGetTraceLevel() { return cs_trace_level; }
void CsSetPrinter(CsPrinter printer) { cs_printer = printer; }

void CsInstallDefaultPrinter() {
  if (cs_printer == nullptr) cs_printer = CsDefaultPrinter;
}

int CsDefaultPrinter(const char* fmt, ...) {
  if (g_traceFile == nullptr) {
    if (g_traceOpenFailed) return 0;
    g_traceFile = std::fopen("cstrace.trc", "wb");
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

void CsHexDump(const uint8_t* data, int32_t len, int64_t pos) {
  if (cs_printer == nullptr || data == nullptr) return;
  constexpr int kPerLine = 20;
  for (int32_t off = 0; off < len; off += kPerLine) {
    const int n = len - off < kPerLine ? len - off : kPerLine;
    char hex[kPerLine * 3 + 8];
    char text[kPerLine + 1];
    int h = 0;
    for (int i = 0; i < n; ++i) {
      const uint8_t b = data[off + i];
      h += std::snprintf(hex + h, sizeof hex - static_cast<size_t>(h), "%02x", b);
      if (i % 5 == 4) hex[h++] = ' ';
      text[i] = (b >= 0x20 && b <= 0x7F) ? static_cast<char>(b) : '.';
    }
    hex[h] = '\0';
    text[n] = '\0';
    // Full lines are 44 characters of hex; short lines are padded to that.
    cs_printer("%10d | %*s", static_cast<int>(pos + off), -44, hex);
    cs_printer("%*s | %s\n", 0, "", text);
  }
}
