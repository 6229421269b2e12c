// Lines of the old-format library go to its caller's line writer when one
// was passed in, else to standard output.
#include <cstdio>

#include "oldformat/ofinternal.h"

void OfLogLine(const OfHandle& h, const std::string& text)
{
    // Lines printed with stdio so far must come out before this one.
    std::fflush(stdout);
    if (h.services && h.services->logLine) {
        h.services->logLine(text.c_str());
        return;
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}
