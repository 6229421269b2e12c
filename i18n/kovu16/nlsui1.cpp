// Argument and environment arrays as 16-bit strings, the command-line text of
// the 16-bit library's trace, and the ecvt-style digit splitter.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "i18n/kovu16/nlsui_u16.h"
#include "i18n/kovu16/u16_diag.h"
#include "i18n/kovu16/u16_utf8.h"
#include "nls/kovstr.h"

extern char** environ;

namespace {

void free_converted(KOV_UTF16** array, int n)
{
    for (int i = 0; i < n; ++i)
        std::free(array[i]);
    std::free(array);
}

}  // namespace

KOV_UTF16** nlsui_convArrayU16(int n, char** vec, int mode)
{
    if (mode != 0 && mode != 1) {
        if (u16_trace_level != 0)
            u16_frameMessage("Internal error", "nlsui1.cpp", __LINE__, true);
        exit(-1);
    }
    const char* what = mode == 0 ? "Command Line Conversion" : "Environment Conversion";
    const size_t slots = n > 0 ? static_cast<size_t>(n) + 1 : 1;
    auto** array = static_cast<KOV_UTF16**>(std::calloc(slots, sizeof(KOV_UTF16*)));
    if (array == nullptr) {
        u16_reportOutOfMemory(what, "nlsui1.cpp", __LINE__);
        exit(-1);
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        const size_t len = strnlenR(vec[i], SIZE_MAX);
        auto* s = static_cast<KOV_UTF16*>(std::malloc(2 * (len + 1)));
        if (s == nullptr) {
            u16_reportOutOfMemory(what, "nlsui1.cpp", __LINE__);
            free_converted(array, kept);
            exit(-1);
        }
        if (Utf8ToU16Str(s, vec[i], len + 1) < 0) {
            u16_reportInvalidInput(what, "nlsui1.cpp", __LINE__);
            std::free(s);
            if (mode == 0) {
                free_converted(array, kept);
                exit(-1);
            }
            continue;  // an invalid environment entry is left out
        }
        array[kept++] = s;
    }
    array[kept] = nullptr;
    return array;
}

KOV_UTF16** nlsui_argvU16(int argc, char** argv)
{
    return nlsui_convArrayU16(argc, argv, 0);
}

KOV_UTF16** nlsui_environU16()
{
    if (environ == nullptr)
        return nullptr;
    int n = 0;
    while (environ[n] != nullptr)
        ++n;
    return nlsui_convArrayU16(n, environ, 1);
}

int nlsui_freeStrArray(KOV_UTF16** array)
{
    if (array == nullptr)
        return 1;
    for (KOV_UTF16** p = array; *p != nullptr; ++p)
        std::free(*p);
    std::free(array);
    return 1;
}

char* nlsui_argv2cmdline(int argc, char** argv)
{
    char text[257];
    size_t n = 0;
    for (int i = 0; i < argc && n < 256; ++i) {
        if (i > 0)
            text[n++] = ' ';
        for (const char* p = argv[i]; *p != '\0' && n < 256; ++p)
            text[n++] = static_cast<unsigned char>(*p) >= 0x80 ? '#' : *p;
    }
    text[n] = '\0';
    u16_saveCmdline(text);
    return u16_cmdlineBuffer();
}

char* nlsui_ecvt(int n, int* position, int* sign, double value)
{
    // 502 digits, sign, point, exponent and terminator.
    static char digits[520];
    char text[560];
    const int m = n > 502 ? 502 : n;
    if (n > 0)
        snprintf(text, sizeof text, "%-+#*.*e", m + 7, m - 1, value);
    else
        snprintf(text, sizeof text, "%-+#*.*e", 8, 0, value);
    *sign = text[0] == '-' ? 1 : 0;
    size_t k = 0;
    const char* p = text + 1;  // after the sign
    if (!std::isfinite(value)) {
        // No digits to split: the word itself, at position 0.
        for (; *p != '\0' && *p != ' ' && k + 1 < sizeof digits; ++p)
            digits[k++] = *p;
        digits[k] = '\0';
        *position = 0;
        return digits;
    }
    if (n > 0) {
        for (; *p != '\0' && *p != 'e'; ++p)
            if (*p >= '0' && *p <= '9')
                digits[k++] = *p;
    }
    digits[k] = '\0';
    const char* e = std::strchr(text, 'e');
    *position = (value == 0.0 || e == nullptr) ? 0 : std::atoi(e + 1) + 1;
    return digits;
}
