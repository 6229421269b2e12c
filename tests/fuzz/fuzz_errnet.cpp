// fuzz-libs: kov_trace kov_krn_rstr kov_nls
// A received error-information record is untrusted: take arbitrary bytes
// over as the current record, then read, print, replace and send it back.
// A record that was taken over must survive the way out and in unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "trace/errinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 600)
        return 0;
    ErrClear();
    if (ErrCpNetToInt(data, static_cast<unsigned>(size)) != 0) {
        if (ErrIsSet())
            std::abort();  // a refused record must leave none behind
        return 0;
    }
    const char* f[18];
    ErrGetAll(&f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6], &f[7], &f[8], &f[9], &f[10], &f[11], &f[12], &f[13],
              &f[14], &f[15], &f[16], &f[17]);
    for (int i = 0; i <= 21; ++i)
        (void)std::strlen(ErrGetFld(i));
    (void)std::strlen(ErrFormat());
    char out[ERR_MAX_RECORD];
    unsigned n = 0;
    if (ErrCpToNet(out, &n, sizeof out) != 0 || n != size)
        std::abort();
    ErrReplace(9, "%s", "replaced detail");
    ErrReplace(12, 5);
    ErrClear();
    if (ErrCpNetToInt(out, n) != 0)
        std::abort();
    return 0;
}
