// Collects what the 16-bit library passes to its trace output function.
#pragma once

#include <string>
#include <vector>

#include "i18n/kovu16/u16_diag.h"

inline std::vector<std::string>& traced()
{
    static std::vector<std::string> lines;
    return lines;
}

inline void capture_trace(const char* text, int len)
{
    traced().emplace_back(text, static_cast<size_t>(len));
}

// Captures from construction to destruction at the given level.
struct TraceCapture {
    explicit TraceCapture(int level = U16_TRACE_MEDIUM)
        : old_level(u16_trace_level),
          old_func(u16_trace_func)
    {
        u16_trace_level = level;
        u16_trace_func = capture_trace;
        traced().clear();
    }
    ~TraceCapture()
    {
        u16_trace_level = old_level;
        u16_trace_func = old_func;
    }
    int old_level;
    U16TraceFunc old_func;
};
