// The plain entry points on the fixed handles 300 (compression) and 301
// (decompression), traced and untraced.
#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/cstrace.h"
#include "cslib/cswork.h"

namespace {

inline bool TraceEntries()
{
    return cs_trace_level == 16;
}

// A first call opens the fixed handle; a failure to do so is the call's result.
inline int OpenIfFirst(int handle, int option)
{
    if ((option & 1) == 0)
        return 0;
    const int rc = CsOpenFixedHandle(handle);
    return rc < 0 ? rc : 0;
}

}  // namespace

int CsComprUntraced(int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option,
                    int32_t* read, int32_t* written)
{
    const int open = OpenIfFirst(CS_HANDLE_COMPR, option);
    if (open < 0)
        return open;
    return CsRCompress(CS_HANDLE_COMPR, streamLen, in, inLen, out, outLen, option, read, written);
}

int CsDecomprUntraced(const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
                      int32_t* written)
{
    const int open = OpenIfFirst(CS_HANDLE_DECOMPR, option);
    if (open < 0)
        return open;
    return CsRDecompress(CS_HANDLE_DECOMPR, in, inLen, out, outLen, option, read, written);
}

int CsInitComprUntraced(uint8_t* out, int32_t streamLen, int option)
{
    const int open = OpenIfFirst(CS_HANDLE_COMPR, CS_INIT_COMPRESS);
    if (open < 0)
        return open;
    return CsRInitCompress(CS_HANDLE_COMPR, out, streamLen, option);
}

int CsInitDecomprUntraced(const uint8_t* in)
{
    const int open = OpenIfFirst(CS_HANDLE_DECOMPR, CS_INIT_DECOMPRESS);
    if (open < 0)
        return open;
    return CsRInitDecompress(CS_HANDLE_DECOMPR, in);
}

int CsCompr(int32_t streamLen, const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option,
            int32_t* read, int32_t* written, const char* file, int line)
{
    const int open = OpenIfFirst(CS_HANDLE_COMPR, option);
    if (open < 0)
        return open;
    CsInstallDefaultPrinter();
    if (TraceEntries())
        CS_PRINT("CS: %s(%d): CsCompr:  option = %d", file ? file : "", line, option);
    const int rc = CsRCompress(CS_HANDLE_COMPR, streamLen, in, inLen, out, outLen, option, read, written);
    if (TraceEntries())
        CS_PRINT("  rc = %d\n", rc);
    return rc;
}

int CsDecompr(const uint8_t* in, int32_t inLen, uint8_t* out, int32_t outLen, int option, int32_t* read,
              int32_t* written, const char* file, int line)
{
    const int open = OpenIfFirst(CS_HANDLE_DECOMPR, option);
    if (open < 0)
        return open;
    CsInstallDefaultPrinter();
    if (TraceEntries())
        CS_PRINT("CS: %s(%d): CsDecompr:  option = %d", file ? file : "", line, option);
    const int rc = CsRDecompress(CS_HANDLE_DECOMPR, in, inLen, out, outLen, option, read, written);
    if (TraceEntries())
        CS_PRINT("  rc = %d\n", rc);
    return rc;
}

int CsInitCompr(uint8_t* out, int32_t streamLen, int option, const char* file, int line)
{
    const int open = OpenIfFirst(CS_HANDLE_COMPR, CS_INIT_COMPRESS);
    if (open < 0)
        return open;
    CsInstallDefaultPrinter();
    if (TraceEntries())
        CS_PRINT("CS: %s(%d): CsInitCompr:", file ? file : "", line);
    const int rc = CsRInitCompress(CS_HANDLE_COMPR, out, streamLen, option);
    if (TraceEntries())
        CS_PRINT("  rc = %d\n", rc);
    return rc;
}

int CsInitDecompr(const uint8_t* in, const char* file, int line)
{
    const int open = OpenIfFirst(CS_HANDLE_DECOMPR, CS_INIT_DECOMPRESS);
    if (open < 0)
        return open;
    CsInstallDefaultPrinter();
    if (TraceEntries())
        CS_PRINT("CS: %s(%d): CsInitDecompr:", file ? file : "", line);
    const int rc = CsRInitDecompress(CS_HANDLE_DECOMPR, in);
    if (TraceEntries())
        CS_PRINT("  rc = %d\n", rc);
    return rc;
}
