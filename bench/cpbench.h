// Shared set-up of the code page benchmarks: the converter cache started
// once for the run, and converter objects for a pair.
#pragma once

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"

namespace cpbench {

inline bool Started()
{
    static const bool ok = rscpi_init(RSCP_ALL_ERRORS) == 0;
    return ok;
}

// An object for the pair that substitutes what is missing or broken and
// converts control codes; not activated yet.
inline rscpCObj_t Object(const char* in, const char* out)
{
    rscpCObj_t o;
    rscpCInit(&o, in, out, 1, 1, 0);
    rscpCSetCtrlCodes(&o, 1);
    return o;
}

}  // namespace cpbench
