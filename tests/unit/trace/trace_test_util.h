// Helpers of the trace tests: a scratch stream read back as a string, and a
// fixed clock for time stamps.
#pragma once
#include <sys/time.h>

#include <cstdio>
#include <string>

#include "trace/ctrc_adm.h"

struct ScratchStream {
    FILE* f = std::tmpfile();
    ~ScratchStream() { std::fclose(f); }
    std::string Take()
    {
        std::fflush(f);
        const long n = std::ftell(f);
        std::string s(static_cast<size_t>(n), '\0');
        std::rewind(f);
        const size_t got = std::fread(s.data(), 1, s.size(), f);
        s.resize(got);
        std::rewind(f);
        (void)!ftruncate(fileno(f), 0);
        return s;
    }
};

inline struct timeval g_testClock = {0, 0};
inline void TestClock(struct timeval* tv)
{
    *tv = g_testClock;
}
