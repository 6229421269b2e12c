// Reading and changing fields of the error-information record, and taking it
// over from and handing it to callers and peers.
#include <cstdlib>
#include <cstring>

#include "nls/kovstr.h"
#include "nls/nlsui.h"
#include "trace/ctrc_adm.h"
#include "trace/dptrc_hex.h"
#include "trace/errinfo_int.h"

namespace {

const char kEye[] = "*ERR*";  // with its NUL: 6 bytes

bool EyecatchersOk(const char* rec, uint32_t len)
{
    return len >= 6 && std::memcmp(rec, kEye, 6) == 0 && std::memcmp(rec + len - 6, kEye, 6) == 0;
}

// Start and length of field n within the record; false when the record has
// fewer fields.
bool FieldSpan(int n, size_t* start, size_t* len)
{
    size_t pos = 0;
    for (int i = 0; i < n; ++i) {
        const void* nul = std::memchr(err_record + pos, '\0', err_length - pos);
        if (!nul)
            return false;
        pos = static_cast<size_t>(static_cast<const char*>(nul) - err_record) + 1;
        if (pos >= err_length)
            return false;
    }
    const void* nul = std::memchr(err_record + pos, '\0', err_length - pos);
    if (!nul)
        return false;
    *start = pos;
    *len = static_cast<size_t>(static_cast<const char*>(nul) - err_record) - pos;
    return true;
}

// Puts text in place of field n (step 4 and 5 of a replacement).
int ReplaceText(int n, const char* text)
{
    size_t start, oldLen;
    if (!FieldSpan(n, &start, &oldLen))
        return -7;
    const size_t newLen = std::strlen(text);
    const size_t total = err_length - oldLen + newLen;
    if (total > ERR_MAX_RECORD) {
        ErrTraceErr(__LINE__, "ErrReplace: error info too large");
        return -1;
    }
    char rec[ERR_MAX_RECORD];
    std::memcpy(rec, err_record, start);
    std::memcpy(rec + start, text, newLen);
    const size_t tail = err_length - start - oldLen;  // from the field's NUL on
    std::memcpy(rec + start + newLen, err_record + start + oldLen, tail);
    std::memcpy(err_record, rec, total);
    if (total < err_length)
        std::memset(err_record + total, 0, err_length - total);
    err_length = static_cast<uint32_t>(total);
    return 0;
}

// Message number and argument texts of a description or detail template.
int ReplaceTemplate(int field, int noField, va_list ap)
{
    const char* tmpl = va_arg(ap, const char*);
    if (!tmpl)
        tmpl = "";
    char no[12];
    const char* proper = ErrSplitMsgNo(tmpl, no);
    char cut[ERR_TEXT_SIZE];
    snprintfTruncR(cut, sizeof cut, "%.*s", static_cast<int>(DpTrcFormatCut(proper, ERR_TEXT_SIZE - 1)), proper);
    char text[ERR_TEXT_SIZE], specs[3 * ERR_TEXT_SIZE], vargs[ERR_TEXT_SIZE];
    va_list ap2;
    va_copy(ap2, ap);
    ErrFormatText(text, sizeof text, cut, ap);
    ErrVargsFormatN(specs, sizeof specs, cut);
    ErrFormatText(vargs, sizeof vargs, specs, ap2);
    va_end(ap2);
    int rc = ReplaceText(field, text);
    if (rc != 0)
        return rc;
    rc = ReplaceText(noField, no);
    if (rc != 0)
        return rc;
    return ReplaceText(noField + 1, *no ? vargs : "");
}

}  // namespace

int ErrCountFields(const char* rec, uint32_t len)
{
    int n = 0;
    for (uint32_t i = 0; i < len; ++i)
        n += rec[i] == '\0';
    return n;
}

const char* ErrGetFld(int field)
{
    if (err_length == 0 || !err_record) {
        ErrTraceInfo("ErrGetFld: no error info available\n");
        return "";
    }
    const int nuls = ErrCountFields(err_record, err_length);
    if (nuls <= 20) {
        ErrTraceErr(__LINE__, "ErrIGet: error info incomplete (%d fields only)", nuls);
        return "";
    }
    if (field > 20)
        return "";
    size_t start, len;
    if (!FieldSpan(field < 1 ? 0 : field, &start, &len))
        return "";
    return err_record + start;
}

int ErrIGet(char lang, const char** component, const char** version, const char** module, const char** line,
            const char** error, const char** rc, const char** detail, const char** syscall, const char** err,
            const char** location, const char** time, const char** release, const char** errText, const char** counter,
            const char** descrMsgNo, const char** descrVargs, const char** detailMsgNo, const char** detailVargs)
{
    // Out pointer per field number 2..19.
    const char** out[ERR_FIELDS] = {nullptr, nullptr,  error,      rc,         component,   release,     version,
                                    module,  line,     detail,     time,       syscall,     err,         errText,
                                    counter, location, descrMsgNo, descrVargs, detailMsgNo, detailVargs, nullptr};
    for (const char** p : out)
        if (p)
            *p = "";
    if (err_length == 0 || !err_record) {
        ErrTraceInfo("ErrIGet: no KOV error info available\n");
        return -2;
    }
    if (err_length > ERR_MAX_RECORD) {
        ErrTraceErr(__LINE__, "ErrIGet: bad length (%d)\n", static_cast<int>(err_length));
        return -4;
    }
    if (!EyecatchersOk(err_record, err_length)) {
        ErrTraceErr(__LINE__, "ErrIGet: eyecatcher destroyed");
        ErrDumpBad(err_record, err_length, "bad err info");
        return -6;
    }
    const int nuls = ErrCountFields(err_record, err_length);
    if (nuls <= 20) {
        ErrTraceErr(__LINE__, "ErrIGet: error info incomplete (%d fields only)", nuls);
        return -7;
    }
    const char* p = err_record;
    const char* f[ERR_FIELDS];
    for (int i = 0; i < ERR_FIELDS; ++i) {
        f[i] = p;
        p += std::strlen(p) + 1;
    }
    for (int i = 2; i <= 19; ++i)
        if (out[i])
            *out[i] = f[i];
    if (lang != ' ')
        ErrLookupTexts(lang, error, detail, f[16], f[17], f[18], f[19]);
    return 0;
}

int ErrGetLang(char lang, const char** component, const char** version, const char** module, const char** line,
               const char** error, const char** rc, const char** detail, const char** syscall, const char** err,
               const char** location, const char** time, const char** release, const char** errText,
               const char** counter)
{
    return ErrIGet(lang, component, version, module, line, error, rc, detail, syscall, err, location, time, release,
                   errText, counter, nullptr, nullptr, nullptr, nullptr);
}

int ErrGet(const char** component, const char** version, const char** module, const char** line, const char** error,
           const char** rc, const char** detail, const char** syscall, const char** err, const char** location,
           const char** time, const char** release, const char** errText, const char** counter)
{
    return ErrIGet(' ', component, version, module, line, error, rc, detail, syscall, err, location, time, release,
                   errText, counter, nullptr, nullptr, nullptr, nullptr);
}

int ErrGetAll(const char** component, const char** version, const char** module, const char** line, const char** error,
              const char** rc, const char** detail, const char** syscall, const char** err, const char** location,
              const char** time, const char** release, const char** errText, const char** counter,
              const char** descrMsgNo, const char** descrVargs, const char** detailMsgNo, const char** detailVargs)
{
    return ErrIGet(' ', component, version, module, line, error, rc, detail, syscall, err, location, time, release,
                   errText, counter, descrMsgNo, descrVargs, detailMsgNo, detailVargs);
}

const char* ErrGetFldLang(int field, char lang)
{
    const char* v[ERR_FIELDS] = {};
    if (field < 2 || field > 15)
        return "";
    if (ErrGetLang(lang, &v[4], &v[6], &v[7], &v[8], &v[2], &v[3], &v[9], &v[11], &v[12], &v[15], &v[10], &v[5], &v[13],
                   &v[14]) != 0)
        return "";
    return v[field] ? v[field] : "";
}

int ErrReplace(int field, ...)
{
    if (err_length == 0 || !err_record) {
        ErrTraceInfo("ErrReplace: no error info available\n");
        return -2;
    }
    if (field < 2 || field > 19 || field == 10)
        return -3;
    va_list ap;
    va_start(ap, field);
    int rc;
    char text[ERR_TEXT_SIZE];
    switch (field) {
    case 2:
        rc = ReplaceTemplate(2, 16, ap);
        break;
    case 9:
        rc = ReplaceTemplate(9, 18, ap);
        break;
    case 3:
    case 14: {
        const int v = va_arg(ap, int);
        text[0] = '\0';
        if (v != 0)
            snprintfTruncR(text, sizeof text, "%d", v);
        rc = ReplaceText(field, text);
        break;
    }
    case 12: {
        const int v = va_arg(ap, int);
        snprintfTruncR(text, sizeof text, "%d", v);
        rc = ReplaceText(12, text);
        if (rc == 0) {
            char e[128];
            ErrGetErrnoTxt(v, e, sizeof e);
            rc = ReplaceText(13, e);
        }
        break;
    }
    case 15:
    case 16:
    case 18: {
        const char* fmt = va_arg(ap, const char*);
        ErrFormatText(text, sizeof text, fmt ? fmt : "", ap);
        rc = ReplaceText(field, text);
        break;
    }
    default: {
        const char* s = va_arg(ap, const char*);
        rc = ReplaceText(field, s ? s : "");
        break;
    }
    }
    va_end(ap);
    return rc;
}

int ErrSetLength(unsigned length)
{
    if (length > ERR_MAX_RECORD) {
        ErrTraceErr(__LINE__, "ErrSetLength: bad parameter len (%u)", length);
        return -4;
    }
    err_length = length;
    return 0;
}

int ErrGetAttr(char** record, unsigned* length)
{
    if (!ErrEnsureBuffers())
        return -5;
    if (record)
        *record = err_record;
    if (length)
        *length = err_length;
    return err_length ? 0 : -2;
}

int ErrCpFrom(void* area, unsigned size)
{
    if (!ErrEnsureBuffers())
        return -5;
    if (err_length > size) {
        ErrTraceErr(__LINE__, "ErrCpFrom: user error area too small (%d bytes)", static_cast<int>(size));
        return -1;
    }
    if (err_length)
        std::memcpy(area, err_record, err_length);
    return 0;
}

int ErrCpTo(const void* area, unsigned length)
{
    if (!ErrEnsureBuffers())
        return -5;
    const char* rec = static_cast<const char*>(area);
    if (!rec || !EyecatchersOk(rec, length)) {
        ErrTraceErr(__LINE__, "ErrCpTo: bad err info (eyecatcher destroyed)");
        if (rec)
            ErrDumpBad(rec, length, "bad err info");
        return -6;
    }
    if (length > ERR_MAX_RECORD) {
        ErrTraceErr(__LINE__, "ErrCpTo: error info too large (%d bytes)", static_cast<int>(length));
        return -1;
    }
    std::memcpy(err_record, rec, length);
    err_length = length;
    ++err_counter;
    return ErrReplace(14, err_counter);
}

int ErrCpToNet(void* area, unsigned* outLength, unsigned size)
{
    if (!ErrEnsureBuffers())
        return -5;
    if (err_length == 0) {
        if (outLength)
            *outLength = 0;
        return 0;
    }
    size_t n = 0;
    if (nlsui_mem2a7cnt(static_cast<char*>(area), size, &n, err_record, err_length) != 0)
        return -8;
    if (outLength)
        *outLength = static_cast<unsigned>(n);
    return 0;
}

int ErrCpNetToInt(const void* data, unsigned length)
{
    if (!ErrEnsureBuffers())
        return -5;
    if (length > ERR_MAX_RECORD) {
        ErrTraceErr(__LINE__, "ErrCpNetToInt2: internal area too small (%d<%d)", ERR_MAX_RECORD,
                    static_cast<int>(length));
        return -1;
    }
    const auto* in = static_cast<const unsigned char*>(data);
    static const unsigned char kEbcdicEye[] = {0x5C, 0xC5, 0xD9, 0xD9, 0x5C};
    if (length > 4 && std::memcmp(in, kEbcdicEye, 5) == 0) {
        nlsui_e2l1_mem(err_record, static_cast<const char*>(data), static_cast<int32_t>(length));
    } else if (nlsui_mem2a7(err_record, ERR_MAX_RECORD, nullptr, static_cast<const char*>(data), length) != 0) {
        err_length = 0;
        return -8;
    }
    err_length = length;
    if (length > 7 && EyecatchersOk(err_record, length)) {
        const int nuls = ErrCountFields(err_record, length);
        // A record of a later version may carry more fields; the first 21
        // are read as ever.
        if (nuls >= ERR_FIELDS)
            return 0;
        ErrTraceErr(__LINE__, "ErrCpNetToInt: error info incomplete (%d fields only)", nuls);
        ErrClear();
        return -6;
    }
    ErrTraceErr(__LINE__, "ErrCpNetToInt: bad err info (eyecatcher destroyed)");
    ErrDumpBad(err_record, length, "bad err info");
    ErrClear();
    return -6;
}

int ErrDumpBad(const void* data, unsigned length, const char* title)
{
    if (ct_level == 0)
        return 0;
    const int32_t saved = ct_level;
    ct_level = 2;
    DpTrcLockAcquire();
    DpTrcSaveLoc("err", __LINE__);
    DpTrc(tf, "\n");
    if (ct_level > 1 && CTrcGetHdlLevel(tf) > 1)
        DpTrcHexDumpShort(tf, title, data, static_cast<int>(length), 0);
    if (ct_level > 1)
        DpTrc(tf, "\n");
    DpTrcLockRelease();
    ct_level = saved;
    return 0;
}
