#include "app/namecodes.h"

#include <cstdint>
#include <vector>

#include "krn/rscp/cputf8local.h"

bool Utf8OfLocal(const std::string& local, std::string& utf8)
{
    std::vector<char> buffer(6 * local.size() + 1);
    uint32_t length = 0;
    if (UcnToUtf8nCPStr(buffer.data(), static_cast<int32_t>(buffer.size()), &length, local.c_str()) != 0)
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
    if (Utf8nToUcnCPStr(buffer.data(), static_cast<int32_t>(buffer.size()), &length, utf8.c_str()) != 0)
        return false;
    local.assign(buffer.data(), length);
    return true;
}
