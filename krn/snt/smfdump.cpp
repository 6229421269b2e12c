// Debug dumps of binary data at trace level 3: a Base64 file and a raw file
// per dump in the current directory, numbered within the second.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "crypto/coding.h"
#include "krn/snt/smfutil.h"

namespace {

time_t s_dumpSecond = 0;
unsigned s_dumpCounter = 0;

// Writes all bytes to a new file (an existing one is replaced; a symbolic
// link is not followed).  False when the file cannot be opened or written.
bool WriteFile(const char* name, const void* data, size_t length)
{
    const int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    bool ok = true;
    while (ok && length > 0) {
        const ssize_t n = write(fd, p, length);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            p += n;
            length -= static_cast<size_t>(n);
        }
    }
    return close(fd) == 0 && ok;
}

}  // namespace

void SmfUtilDebugDump(SmfUtilMsg* msg, const void* data, size_t length, const char* shortName, const char* description)
{
    if (ct_level <= 2 || !data || !shortName)
        return;
    const size_t cap = coBase64EncodedLength(length, 64, 1);
    if (cap == SIZE_MAX)
        return;
    char* text = static_cast<char*>(SMF_ALLOC(SMFUTIL_CHARS, 0, cap));
    if (!text)
        return;
    size_t textLen = 0;
    if (coBase64Encode56(data, length, CO_MODE_DIGEST, 64, "\n", text, cap, &textLen) == CO_OK) {
        const time_t now = time(nullptr);
        if (now != s_dumpSecond) {
            s_dumpSecond = now;
            s_dumpCounter = 0;
        }
        const unsigned counter = s_dumpCounter++;
        char name[256];
        std::snprintf(name, sizeof name, "dev_smfutil_%lu_%u_%s.b64", static_cast<unsigned long>(now), counter,
                      shortName);
        if (WriteFile(name, text, textLen)) {
            SMF_TRACE(3, msg, "Created file \"%s\" with the Base64 represenatation of \"%s\"", name,
                      description ? description : "");
            std::snprintf(name, sizeof name, "dev_smfutil_%lu_%u_%s.bin", static_cast<unsigned long>(now), counter,
                          shortName);
            WriteFile(name, data, length);
        }
    }
    SMF_FREE(text);
}
