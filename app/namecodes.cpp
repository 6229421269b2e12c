#include "app/namecodes.h"

#include <new>
#include <vector>

#include "krn/rscp/cpcodes.h"
#include "krn/rscp/cputf8local.h"

bool ConvertedUnlessNoMemory(uint32_t rc)
{
    if (rc == RSCPENOMEM)
        throw std::bad_alloc();
    return rc == RSCP_OK;
}

bool Utf8OfLocal(const std::string& local, std::string& utf8)
{
    std::vector<char> buffer(6 * local.size() + 1);
    uint32_t length = 0;
    if (!ConvertedUnlessNoMemory(
            UcnToUtf8nCPStr(buffer.data(), static_cast<int32_t>(buffer.size()), &length, local.c_str())))
        return false;
    utf8.assign(buffer.data(), length);
    return true;
}

bool LocalOfUtf8(const std::string& utf8, std::string& local)
{
    // A stateful page writes a shift of three bytes before a character of
    // one or two bytes: at most four bytes for one of UTF-8, and the shift
    // back at the end.
    std::vector<char> buffer(4 * utf8.size() + 16);
    uint32_t length = 0;
    if (!ConvertedUnlessNoMemory(
            Utf8nToUcnCPStr(buffer.data(), static_cast<int32_t>(buffer.size()), &length, utf8.c_str())))
        return false;
    local.assign(buffer.data(), length);
    return true;
}
