// Printed forms of the error information: the starred trace block and the
// plain text block.
#include <cstring>
#include <string_view>

#include "nls/kovstr.h"
#include "trace/errinfo_int.h"

namespace {

constexpr size_t kWidth = 62;  // characters of a value per line
const char kStars[] = "*****************************************************************************";

void Append(char* out, size_t size, size_t* len, const char* fmt, ...) __attribute__((format(printf, 4, 5)));
void Append(char* out, size_t size, size_t* len, const char* fmt, ...)
{
    if (*len + 1 >= size)
        return;
    va_list ap;
    va_start(ap, fmt);
    const int32_t n = vsnprintfTruncR(out + *len, size - *len, fmt, ap);
    va_end(ap);
    *len += static_cast<size_t>(n) >= size - *len ? size - *len - 1 : static_cast<size_t>(n);
}

// Where a line longer than the width is cut.
size_t CutAt(const char* s)
{
    if (s[kWidth] == ' ')
        return kWidth;
    for (size_t i = kWidth - 1; i >= 1; --i)
        if (s[i] == ' ')
            return i;
    return kWidth;
}

// Writes one line of the block: "%s%-12.12s%.*s\n".
void Line(DpTrcHdl hdl, const char* text)
{
    EntLev = 1;
    DpTrc(hdl, "%s", text);
    EntLev = 2;
}

}  // namespace

int ErrFmtField(const char* prefix, const char* label, const char* value, char* out, size_t size)
{
    if (!out || size == 0)
        return 0;
    size_t len = strnlenR(out, size);
    if (len >= size)
        return 0;
    const char* pfx = prefix ? prefix : "";
    const char* lab = label ? label : "";
    bool first = true;
    for (const char* p = value ? value : ""; *p || first;) {
        const char* nl = std::strchr(p, '\n');
        const size_t n = nl ? static_cast<size_t>(nl - p) : std::strlen(p);
        const char* usePfx = (!first && pfx[0] == '\n') ? pfx + 1 : pfx;
        if (n == 0) {
            if (nl)
                Append(out, size, &len, "%s%-12.12s\n", usePfx, lab);
        } else if (n <= kWidth) {
            Append(out, size, &len, "%s%-12.12s%.*s\n", usePfx, lab, static_cast<int>(n), p);
        } else {
            // Cut within this line only: work on a copy bounded by the line.
            std::string_view rest(p, n);
            char tmp[kWidth + 2];
            auto cut = [&](std::string_view s) {
                const size_t m = s.size() < kWidth + 1 ? s.size() : kWidth + 1;
                std::memcpy(tmp, s.data(), m);
                tmp[m] = '\0';
                return s.size() <= kWidth ? s.size() : CutAt(tmp);
            };
            size_t c = cut(rest);
            Append(out, size, &len, "%s%-12.12s%.*s\n", usePfx, lab, static_cast<int>(c), rest.data());
            rest.remove_prefix(c);
            if (!rest.empty() && rest[0] == ' ')
                rest.remove_prefix(1);
            const char* contPfx = pfx[0] == '\n' ? pfx + 1 : pfx;
            while (rest.size() > kWidth) {
                c = cut(rest);
                Append(out, size, &len, "%s            %.*s\n", contPfx, static_cast<int>(c), rest.data());
                rest.remove_prefix(c);
                if (!rest.empty() && rest[0] == ' ')
                    rest.remove_prefix(1);
            }
            Append(out, size, &len, "%s            %.*s\n", contPfx, static_cast<int>(rest.size()), rest.data());
        }
        first = false;
        lab = "";
        if (!nl)
            break;
        p = nl + 1;
        if (!*p)
            break;
    }
    return 0;
}

int ErrTrace(DpTrcHdl hdl)
{
    if (hdl == tf && ct_level == 0)
        return 0;
    if (err_length == 0) {
        ErrTraceErr(__LINE__, "ErrTrace: no error info available\n");
        return -2;
    }
    const char *comp, *ver, *mod, *line, *error, *rc, *detail, *sys, *err, *loc, *time, *rel, *errText, *counter;
    const int r = ErrGet(&comp, &ver, &mod, &line, &error, &rc, &detail, &sys, &err, &loc, &time, &rel, &errText,
                         &counter);
    if (r != 0)
        return r;
    if (ct_level < 1)
        return 0;
    const char* pfx = "*  ";
    char buf[ERR_TEXT_SIZE];
    auto field = [&](const char* label, const char* value) {
        if (!*value)
            return;
        buf[0] = '\0';
        ErrFmtField(pfx, label, value, buf, sizeof buf);
        Line(hdl, buf);
    };
    auto single = [&](const char* label, const char* value) {
        if (!*value)
            return;
        snprintfTruncR(buf, sizeof buf, "%s%-12.12s%s\n", pfx, label, value);
        Line(hdl, buf);
    };
    DpTrcLockAcquire();
    DpTrcSaveLoc("err", __LINE__);
    snprintfTruncR(buf, sizeof buf, "\n%s\n*\n", kStars);
    Line(hdl, buf);
    field("LOCATION", loc);
    field("ERROR", error);
    snprintfTruncR(buf, sizeof buf, "*\n%s%-12.12s%s\n", pfx, "TIME", time);
    Line(hdl, buf);
    single("RELEASE", rel);
    single("COMPONENT", comp);
    single("VERSION", ver);
    single("RC", rc);
    single("MODULE", mod);
    single("LINE", line);
    field("DETAIL", detail);
    single("SYSTEM CALL", sys);
    single("ERRNO", err);
    field("ERRNO TEXT", errText);
    single("COUNTER", counter);
    snprintfTruncR(buf, sizeof buf, "*\n%s\n\n", kStars);
    Line(hdl, buf);
    DpTrcLockRelease();
    return 0;
}

const char* ErrIFormat(char lang)
{
    if (err_length == 0 || !err_print)
        return "";
    char* out = err_print;
    const size_t size = ERR_PRINT_SIZE;
    out[0] = '\0';
    const char *comp = "", *ver = "", *mod = "", *line = "", *error = "", *rc = "", *detail = "", *sys = "", *err = "",
               *loc = "", *time = "", *rel = "", *errText = "", *counter = "";
    ErrGetLang(lang, &comp, &ver, &mod, &line, &error, &rc, &detail, &sys, &err, &loc, &time, &rel, &errText, &counter);
    size_t len = 0;
    auto strip = [&]() {
        len = std::strlen(out);
        if (len && out[len - 1] == '\n')
            out[--len] = '\0';
    };
    auto field = [&](const char* label, const char* value) {
        if (!*value)
            return;
        strip();
        ErrFmtField("\n", label, value, out, size);
    };
    field("LOCATION", loc);
    field("ERROR", error);
    strip();
    Append(out, size, &len, "\n%-12.12s%s", "TIME", time);
    field("RELEASE", rel);
    field("COMPONENT", comp);
    field("VERSION", ver);
    field("RC", rc);
    field("MODULE", mod);
    field("LINE", line);
    field("DETAIL", detail);
    field("SYSTEM CALL", sys);
    field("ERRNO", err);
    field("ERRNO TEXT", errText);
    if (*counter) {
        strip();
        Append(out, size, &len, "\n%-12.12s%s", "COUNTER", counter);
    }
    strip();
    Append(out, size, &len, "\n");
    return out;
}

const char* ErrFormatLang(char lang)
{
    return ErrIFormat(lang);
}

const char* ErrFormat()
{
    return ErrIFormat(' ');
}
