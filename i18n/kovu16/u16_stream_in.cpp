// Reading 16-bit text from stdio streams by decoding UTF-8, with the reports
// of invalid input.
#include <cerrno>
#include <ctime>

#include "i18n/kovu16/u16_decode_stream.h"
#include "i18n/kovu16/u16_stream.h"
#include "nls/kovstr.h"

int no_fgetcU_errors = 0;
int no_fgetcU_errors_max = 100;
int fgetcU_errors_interval = 3600;
time_t last_fgetcU_error = 0;

void u16_setFgetcLimits(int maximum, int interval)
{
    if (maximum >= 0)
        no_fgetcU_errors_max = maximum;
    if (interval >= 0)
        fgetcU_errors_interval = interval;
}

int u16_decodeLocked(FILE* stream, U16DecodeRecord* rec)
{
    rec->nbytes = 0;
    rec->status = 0;
    const int c = getc_unlocked(stream);
    if (c == EOF)
        return -1;
    rec->bytes[0] = static_cast<unsigned char>(c);
    rec->nbytes = 1;
    if (c < 0x80)
        return c;
    int n = 0;
    unsigned v = 0;
    if (c >= 0xC0 && c < 0xE0) {
        n = 2;
        v = static_cast<unsigned>(c) & 0x1F;
    } else if (c >= 0xE0 && c < 0xF0) {
        n = 3;
        v = static_cast<unsigned>(c) & 0x0F;
    } else if (c >= 0xF0 && c < 0xF8) {
        n = 4;
        v = static_cast<unsigned>(c) & 0x07;
    }
    for (int i = 1; i < n; ++i) {
        const int b = getc_unlocked(stream);
        if (b == EOF) {
            n = 0;
            break;
        }
        if ((b & 0xC0) != 0x80) {
            ungetc(b, stream);
            n = 0;
            break;
        }
        rec->bytes[rec->nbytes++] = static_cast<unsigned char>(b);
        v = (v << 6) | (static_cast<unsigned>(b) & 0x3F);
    }
    if (n == 0 || v >= 0x110000) {
        rec->status = EILSEQ;
        return -2;
    }
    return static_cast<int>(v);
}

namespace {

void report_fgetc(FILE* stream, const U16DecodeRecord* rec)
{
    if (u16_trace_level == 0)
        return;
    ++no_fgetcU_errors;
    char text[160];
    if (no_fgetcU_errors < no_fgetcU_errors_max) {
        snprintfTruncR(text, sizeof text, "Invalid UTF-8 encountered by fgetcU16 (fileno 0x%x)",
                       static_cast<unsigned>(fileno(stream)));
        u16_frameMessage(text, "u16_get.c", 237, false);
        u16_dumpBytes(rec->bytes, static_cast<size_t>(rec->nbytes));
        u16_traceStream(stream);
        u16_endOfMessage();
    } else if (no_fgetcU_errors == no_fgetcU_errors_max) {
        snprintfTruncR(text, sizeof text,
                       "Too many invalid UTF-8 in fgetcU16, no more error message will be written for %d seconds",
                       fgetcU_errors_interval);
        u16_frameMessage(text, "u16_get.c", 243, false);
        u16_endOfMessage();
        last_fgetcU_error = time(nullptr);
    } else if (time(nullptr) > last_fgetcU_error + fgetcU_errors_interval) {
        u16_frameMessage("fgetcU16 error counter reset", "u16_get.c", 248, false);
        u16_endOfMessage();
        no_fgetcU_errors = 0;
    }
}

// One character as units: '#' for invalid input, a surrogate pair above the
// BMP.  Returns the units (1 or 2), 0 at end of file or on error.
int read_units(FILE* stream, KOV_UTF16 out[2], U16DecodeRecord* rec, bool* invalid)
{
    const int cp = u16_decodeLocked(stream, rec);
    if (cp == -1)
        return 0;
    *invalid = cp == -2;
    if (cp == -2) {
        errno = EILSEQ;
        out[0] = '#';
        return 1;
    }
    if (cp >= 0x10000) {
        out[0] = static_cast<KOV_UTF16>(((cp - 0x10000) >> 10) + 0xD800);
        out[1] = static_cast<KOV_UTF16>((cp & 0x3FF) + 0xDC00);
        return 2;
    }
    out[0] = static_cast<KOV_UTF16>(cp);
    return 1;
}

// Reads up to max units (stopping after a newline when asked); returns the
// units stored.  rec and last_invalid describe the last character read.
size_t read_text(FILE* stream, KOV_UTF16* buf, size_t max, bool line, U16DecodeRecord* rec, bool* last_invalid)
{
    size_t n = 0;
    *last_invalid = false;
    while (n < max) {
        KOV_UTF16 u[2];
        U16DecodeRecord cur;
        const int k = read_units(stream, u, &cur, last_invalid);
        if (k == 0)
            break;
        *rec = cur;
        buf[n++] = u[0];
        if (k == 2 && n < max)
            buf[n++] = u[1];
        if (line && u[0] == '\n')
            break;
    }
    return n;
}

void report_reader(const char* text, int line, const U16DecodeRecord* rec, const KOV_UTF16* start, const KOV_UTF16* end)
{
    u16_frameMessage(text, "u16_get.c", line, false);
    u16_dumpReadContext(rec, start, end);
    u16_endOfMessage();
}

}  // namespace

int fgetcU16(FILE* stream)
{
    U16DecodeRecord rec;
    flockfile(stream);
    const int cp = u16_decodeLocked(stream, &rec);
    funlockfile(stream);
    if (cp == -1)
        return -1;
    if (cp >= 0 && cp < 0x10000)
        return cp;
    int r = 0xFFFD;
    if (cp == -2) {
        r = '#';
        errno = EILSEQ;
    }
    report_fgetc(stream, &rec);
    if (cp == -2)
        errno = EILSEQ;
    return r;
}

KOV_UTF16* fgetsU16(KOV_UTF16* buf, int size, FILE* stream)
{
    if (size <= 0)
        return nullptr;
    U16DecodeRecord rec{};
    bool invalid = false;
    flockfile(stream);
    const bool had_error = ferror(stream) != 0;
    const size_t n = read_text(stream, buf, static_cast<size_t>(size - 1), true, &rec, &invalid);
    const bool failed = (n == 0 && size > 1) || (!had_error && ferror(stream) != 0);
    funlockfile(stream);
    buf[n] = 0;
    if (invalid && u16_trace_level != 0) {
        char text[96];
        snprintfTruncR(text, sizeof text, "Invalid UTF-8 encountered by fgetsU16 (fileno 0x%x)",
                       static_cast<unsigned>(fileno(stream)));
        report_reader(text, 305, &rec, buf, buf + n);
    }
    return failed ? nullptr : buf;
}

KOV_UTF16* getsU16(KOV_UTF16* buf, int size)
{
    if (size <= 0)
        return nullptr;
    U16DecodeRecord rec{};
    bool invalid = false;
    flockfile(stdin);
    const bool had_error = ferror(stdin) != 0;
    size_t n = read_text(stdin, buf, static_cast<size_t>(size - 1), true, &rec, &invalid);
    const bool failed = (n == 0 && size > 1) || (!had_error && ferror(stdin) != 0);
    funlockfile(stdin);
    if (n > 0 && buf[n - 1] == '\n')
        --n;
    buf[n] = 0;
    if (invalid && u16_trace_level != 0)
        report_reader("Invalid UTF-8 encountered by getsU16", 434, &rec, buf, buf + n);
    return failed ? nullptr : buf;
}

size_t freadU16(KOV_UTF16* buf, size_t size, size_t count, FILE* stream)
{
    size_t total;
    if (size == 0 || __builtin_mul_overflow(size, count, &total))
        return 0;
    U16DecodeRecord rec{};
    bool invalid = false;
    flockfile(stream);
    const size_t n = read_text(stream, buf, total, false, &rec, &invalid);
    funlockfile(stream);
    if (invalid && u16_trace_level != 0) {
        char text[96];
        snprintfTruncR(text, sizeof text, "Invalid UTF-8 encountered by freadU16 (fileno 0x%x)",
                       static_cast<unsigned>(fileno(stream)));
        report_reader(text, 542, &rec, buf, buf + n);
    }
    return n / size;
}
