// Messages of the old-format library go through the application's log
// manager, in line with what the library printed to standard output.
#include <cstdio>

#include "app/application.h"
#include "app/logman.h"
#include "oldformat/ofinternal.h"

void OfLogLine(const std::string& text) {
    // Lines printed with stdio so far must come out before this one.
    std::fflush(stdout);
    try {
        if (CLogMan* log = CApplication::Instance().GetLogManPtr()) {
            log->Write(text);
            return;
        }
    } catch (...) {
        // The library throws nothing; fall back to standard output.
    }
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}
