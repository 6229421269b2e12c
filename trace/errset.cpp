// Setting, clearing and testing the error-information record.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "krn/rstr/contloct.h"
#include "krn/rstr/thr.h"
#include "nls/kovstr.h"
#include "trace/ctrc_adm.h"
#include "trace/errinfo_int.h"

char* err_record = nullptr;
char* err_print = nullptr;
uint32_t err_length = 0;
int32_t err_counter = 0;
uint16_t err_msgno_len = 0;

namespace {

const char kEye[] = "*ERR*";
const char kRelease[] = "720";
constexpr size_t kTemplate = 500;         // a template is cut at 499 characters
constexpr size_t kSpecs = 3 * kTemplate;  // specification list of one template
char* g_location = nullptr;

// The specification lists of both templates as one format.
void VargsFormats(const char* descr, const char* detail, char* out, size_t size)
{
    char a[kSpecs], b[kSpecs];
    ErrVargsFormatN(a, sizeof a, descr);
    ErrVargsFormatN(b, sizeof b, detail);
    snprintfTruncR(out, size, "%s::::%s", a, b);
}

// Splits text at the first "::::" into its two parts (pointers into text).
void Split(char* text, const char** first, const char** second)
{
    *first = text;
    char* sep = std::strstr(text, "::::");
    if (!sep) {
        *second = "";
        return;
    }
    *sep = '\0';
    *second = sep + 4;
}

void Decimal(char* buf, size_t size, int value)
{
    if (value == 0)
        buf[0] = '\0';
    else
        snprintfTruncR(buf, size, "%d", value);
}

// Common part of ErrSet and ErrSetSys.  textSize is the size of the buffers
// the texts and the argument texts are formatted into.
int SetFromTemplates(const char* component, int version, const char* module, int line, unsigned char logFlag,
                     const char* descr, int rc, const char* detail, const char* syscall, int err, bool sys,
                     size_t textSize, va_list ap)
{
    char d[kTemplate], t[kTemplate];
    const char* dIn = descr ? descr : "";
    const char* tIn = detail ? detail : "";
    snprintfTruncR(d, sizeof d, "%.*s", static_cast<int>(DpTrcFormatCut(dIn, kTemplate - 1)), dIn);
    snprintfTruncR(t, sizeof t, "%.*s", static_cast<int>(DpTrcFormatCut(tIn, kTemplate - 1)), tIn);
    char dNo[12], tNo[12];
    const char* dProper = ErrSplitMsgNo(d, dNo);
    const char* tProper = ErrSplitMsgNo(t, tNo);

    char specs[2 * kSpecs + 8];
    VargsFormats(dProper, tProper, specs, sizeof specs);
    char* vargs = static_cast<char*>(std::malloc(textSize));
    char* texts = static_cast<char*>(std::malloc(textSize));
    if (!vargs || !texts) {
        std::free(vargs);
        std::free(texts);
        return -5;
    }
    va_list ap2;
    va_copy(ap2, ap);
    ErrFormatText(vargs, textSize, specs, ap);
    char both[2 * kTemplate + 8];
    snprintfTruncR(both, sizeof both, "%s::::%s", dProper, tProper);
    ErrFormatText(texts, textSize, both, ap2);
    va_end(ap2);
    const char *dVargs, *tVargs, *dText, *tText;
    Split(vargs, &dVargs, &tVargs);
    Split(texts, &dText, &tText);
    if (!sys) {
        if (!*dNo)
            dVargs = "";
        if (!*tNo)
            tVargs = "";
    }
    const int rcSet = ErrISetSys(component, version, module, line, logFlag, dText, rc, tText, syscall, err, dNo, dVargs,
                                 tNo, tVargs);
    std::free(vargs);
    std::free(texts);
    return rcSet;
}

}  // namespace

bool ErrEnsureBuffers()
{
    if (!err_record) {
        err_record = static_cast<char*>(std::calloc(ERR_MAX_RECORD, 1));
        if (!err_record)
            return false;
    }
    if (!err_print) {
        err_print = static_cast<char*>(std::calloc(ERR_PRINT_SIZE, 1));
        if (!err_print) {
            if (err_length == 0) {
                std::free(err_record);
                err_record = nullptr;
            }
            return false;
        }
    }
    return true;
}

void ErrTraceErr(int line, const char* fmt, ...)
{
    if (ct_level < 1)
        return;
    va_list ap;
    va_start(ap, fmt);
    DpTrcLockAcquire();
    DpTrcSaveLoc("err", line);
    DpTrcErrV(tf, fmt, ap);
    DpTrcLockRelease();
    va_end(ap);
}

void ErrTraceInfo(const char* fmt, ...)
{
    if (ct_level < 2)
        return;
    va_list ap;
    va_start(ap, fmt);
    DpTrcLockAcquire();
    DpTrcSaveLoc("err", __LINE__);
    DpTrcV(tf, fmt, ap);
    DpTrcLockRelease();
    va_end(ap);
}

// The format is often a stored message template, so it is no literal.
void ErrFormatText(char* buf, size_t size, const char* fmt, va_list ap)
{
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    if (std::vsnprintf(buf, size, fmt, ap) < 0)
        buf[0] = '\0';
#pragma GCC diagnostic pop
    buf[size - 1] = '\0';
}

const char* ErrSplitMsgNo(const char* tmpl, char* msgNo)
{
    const size_t w = err_msgno_len;
    msgNo[0] = '\0';
    if (strnlenR(tmpl, w + 2) < w + 2 || tmpl[0] != '(' || tmpl[w + 1] != ')')
        return tmpl;
    std::memcpy(msgNo, tmpl + 1, w);
    msgNo[w] = '\0';
    return tmpl + w + 2;
}

void ErrVargsFormatN(char* out, size_t size, const char* fmt)
{
    static const char kEnds[] = "dsouxXeEfgni";
    size_t n = 0;
    out[0] = '\0';
    for (const char* p = fmt; *p;) {
        if (*p != '%') {
            ++p;
            continue;
        }
        if (p[1] == '%') {
            p += 2;
            continue;
        }
        const char* q = p + 1;
        while (*q && !std::strchr(kEnds, *q))
            ++q;
        if (*q)
            ++q;
        const size_t specLen = static_cast<size_t>(q - p);
        const size_t sep = n ? 4 : 0;
        if (n + sep + specLen + 1 > size)
            break;  // never a partial specification
        if (sep) {
            std::memcpy(out + n, ";;;;", 4);
            n += 4;
        }
        std::memcpy(out + n, p, specLen);
        n += specLen;
        out[n] = '\0';
        p = q;
    }
}

int ErrVargsFormat(char* out, const char* fmt)
{
    ErrVargsFormatN(out, 3 * std::strlen(fmt) + 1, fmt);
    return 0;
}

int ErrSet(const char* component, int version, const char* module, int line, const char* descr, int rc,
           const char* detail, ...)
{
    va_list ap;
    va_start(ap, detail);
    const int r = SetFromTemplates(component, version, module, line, 0, descr, rc, detail, nullptr, 0, false, 2000, ap);
    va_end(ap);
    return r;
}

int ErrSetSys(const char* component, int version, const char* module, int line, unsigned char logFlag,
              const char* descr, int rc, const char* detail, const char* syscall, int err, ...)
{
    va_list ap;
    va_start(ap, err);
    const int r = SetFromTemplates(component, version, module, line, logFlag, descr, rc, detail, syscall, err, true,
                                   500, ap);
    va_end(ap);
    return r;
}

int ErrISetSys(const char* component, int version, const char* module, int line, unsigned char logFlag,
               const char* descr, int rc, const char* detail, const char* syscall, int err, const char* descrMsgNo,
               const char* descrVargs, const char* detailMsgNo, const char* detailVargs)
{
    if (!ErrEnsureBuffers())
        return -5;
    ++err_counter;
    char counter[11], ver[11], rcText[11], lineText[11], errText[15], errnoText[128];
    snprintfTruncR(counter, sizeof counter, "%d", err_counter);
    Decimal(ver, sizeof ver, version);
    Decimal(rcText, sizeof rcText, rc);
    Decimal(lineText, sizeof lineText, line);
    Decimal(errText, sizeof errText, err);
    errnoText[0] = '\0';
    if (err != 0)
        ErrGetErrnoTxt(err, errnoText, sizeof errnoText);
    char when[64] = "error in localtime";
    const time_t now = std::time(nullptr);
    struct tm tm;
    if (ContLoctLocaltimeR(&now, &tm) && asctime_r(&tm, when)) {
        const size_t n = std::strlen(when);
        if (n && when[n - 1] == '\n')
            when[n - 1] = '\0';
    } else {
        std::strcpy(when, "error in localtime");
    }
    auto text = [](const char* s) { return s ? s : ""; };
    const char* f[ERR_FIELDS] = {kEye,
                                 "1",
                                 text(descr),
                                 rcText,
                                 text(component),
                                 kRelease,
                                 ver,
                                 text(module),
                                 lineText,
                                 text(detail),
                                 when,
                                 text(syscall),
                                 errText,
                                 errnoText,
                                 counter,
                                 ErrGetLocation(),
                                 text(descrMsgNo),
                                 text(descrVargs),
                                 text(detailMsgNo),
                                 text(detailVargs),
                                 kEye};
    size_t len[ERR_FIELDS];
    size_t total = ERR_FIELDS;
    for (int i = 0; i < ERR_FIELDS; ++i) {
        len[i] = std::strlen(f[i]);
        total += len[i];
    }
    if (total > ERR_MAX_RECORD) {
        if (ct_level >= 1) {
            ErrTraceErr(__LINE__, "ErrISetSys: error info too large");
            static const int kOrder[] = {15, 2, 10, 5, 4, 6, 3, 7, 8, 9, 11, 12, 13, 16, 17, 18, 19, 14};
            static const char* const kLabel[] = {
                "",        "",         "ERROR",        "RC",          "COMPONENT",     "RELEASE",     "VERSION",
                "MODULE",  "LINE",     "DETAIL",       "TIME",        "SYSTEM CALL",   "ERRNO",       "ERRNO TEXT",
                "COUNTER", "LOCATION", "DESCR MSG NO", "DESCR VARGS", "DETAIL MSG NO", "DETAIL VARGS"};
            DpTrcLockAcquire();
            EntLev = 1;
            DpTrc(tf, "%s\n", when);
            for (int i : kOrder)
                DpTrc(tf, "%-12.12s%s\n", kLabel[i], f[i]);
            EntLev = 2;
            DpTrcLockRelease();
        }
        err_length = 0;
        return -1;
    }
    if (logFlag && ct_log_level > 0) {
        DpTrcLockAcquire();
        if (ct_level >= 1) {
            EntLev = 1;
            DpTrc(tf, "***LOG Q0I=> %s: %s ", f[9], f[11]);
            if (err != 0)
                DpTrcNoPrefix(tf, "(%d: %s) ", err, errnoText);
            DpTrcNoPrefix(tf, "[%s %d]\n", f[7], line);
            EntLev = 2;
        }
        DpTrcSaveLoc(f[7], line);
        DpTrcSysLog("Q0I", f[9], f[11], "%14.14s%3d", f[11], err);
        DpTrcLockRelease();
    }
    // A field text may point into the record itself (a replacement builds
    // from its own fields), so assemble aside first.
    char rec[ERR_MAX_RECORD];
    size_t pos = 0;
    for (int i = 0; i < ERR_FIELDS; ++i) {
        std::memcpy(rec + pos, f[i], len[i]);
        pos += len[i];
        rec[pos++] = '\0';
    }
    std::memcpy(err_record, rec, pos);
    err_length = static_cast<uint32_t>(pos);
    return 0;
}

int ErrClear()
{
    if (err_length && err_record)
        std::memset(err_record, 0, ERR_MAX_RECORD);
    err_length = 0;
    return 0;
}

int ErrIsSet()
{
    return err_length != 0 ? 1 : 0;
}

int ErrSetLocation(const char* fmt, ...)
{
    char buf[ERR_TEXT_SIZE];
    va_list ap;
    va_start(ap, fmt);
    ErrFormatText(buf, sizeof buf, fmt, ap);
    va_end(ap);
    const size_t n = std::strlen(buf) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (!copy)
        return -5;
    std::memcpy(copy, buf, n);
    std::free(g_location);
    g_location = copy;
    return 0;
}

const char* ErrGetLocation()
{
    return g_location ? g_location : "";
}

char* ErrQuotePercent(const char* src, char* dst, size_t size)
{
    if (size == 0)
        return nullptr;
    size_t in = 0, out = 0;
    while (src[in]) {
        const size_t need = src[in] == '%' ? 2 : 1;
        if (out + need > size - 1)
            break;
        out += need;
        ++in;
    }
    dst[out] = '\0';
    // Backwards, so that copying in place never overwrites unread input.
    while (in > 0) {
        const char c = src[--in];
        dst[--out] = c;
        if (c == '%')
            dst[--out] = '%';
    }
    return dst;
}

char* ErrGetErrnoTxt(int err, char* buf, int size)
{
    if (size < 1)
        return nullptr;
    buf[0] = '\0';
    if (err == 0 || err > 9999)
        return buf;
    return ThrStrerrorR(err, buf, size);
}

const char* ErrErrnoText(int err)
{
    if (err == 0 || err > 9999)
        return "";
    const char* t = std::strerror(err);
    return t ? t : "";
}

void ErrGetRelease(char* buf, int size)
{
    if (!buf || size < 1)
        return;
    snprintfTruncR(buf, static_cast<size_t>(size), "%s", kRelease);
}
