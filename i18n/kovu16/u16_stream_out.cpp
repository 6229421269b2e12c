// Writing 16-bit text to stdio streams as UTF-8.
#include <cstring>

#include "i18n/kovu16/u16_stream.h"
#include "i18n/kovu16/u16_utf8.h"

size_t fwriteU16_unlocked(const KOV_UTF16* units, size_t size, size_t count, FILE* stream, size_t* bytes)
{
    size_t total = 0, written = 0;
    if (size != 0 && count != 0 && !__builtin_mul_overflow(size, count, &total)) {
        // Encoded a block at a time; a short write is traced back to the last
        // unit whose bytes all went out.
        char buf[3 * 512];
        size_t done = 0;
        while (done < total) {
            const size_t k = total - done < 512 ? total - done : 512;
            size_t n = 0;
            for (size_t i = 0; i < k; ++i)
                n += static_cast<size_t>(u16_encodeUnit(units[done + i], buf + n));
            const size_t out = fwrite_unlocked(buf, 1, n, stream);
            written += out;
            if (out < n) {
                // Count the units of this block whose bytes all went out.
                const KOV_UTF16* block = units + done;
                size_t used = 0, whole = 0;
                while (whole < k) {
                    const size_t len = u16_encodedLength(block[whole]);
                    if (used + len > out)
                        break;
                    used += len;
                    ++whole;
                }
                done += whole;
                break;
            }
            done += k;
        }
        total = done;
    } else {
        total = 0;
    }
    if (bytes != nullptr)
        *bytes = written;
    return size == 0 ? 0 : total / size;
}

size_t fwriteU16(const KOV_UTF16* units, size_t size, size_t count, FILE* stream, size_t* bytes)
{
    flockfile(stream);
    const size_t r = fwriteU16_unlocked(units, size, count, stream, bytes);
    funlockfile(stream);
    return r;
}

int fputsU16(const KOV_UTF16* s, FILE* stream)
{
    const size_t len = strlenU16(s);
    size_t bytes = 0;
    if (fwriteU16(s, 1, len, stream, &bytes) != len)
        return -1;
    return static_cast<int>(bytes);
}

int putsU16(const KOV_UTF16* s)
{
    flockfile(stdout);
    const size_t len = strlenU16(s);
    size_t bytes = 0;
    int r = -1;
    if (fwriteU16_unlocked(s, 1, len, stdout, &bytes) == len && putc_unlocked('\n', stdout) != EOF)
        r = static_cast<int>(bytes + 1);
    funlockfile(stdout);
    return r;
}

int fputcU16(KOV_UTF16 unit, FILE* stream)
{
    return fwriteU16(&unit, 1, 1, stream, nullptr) == 1 ? unit : EOF;
}
