// Captures what the timestamp client's support code traces, in a temporary
// file, at a chosen trace level.
#pragma once
#include <cstdio>
#include <string>

#include "krn/snt/smfutil.h"

class TraceCapture {
public:
    explicit TraceCapture(int level)
        : file_(std::tmpfile()),
          oldLevel_(ct_level)
    {
        SmfUtilSetTraceFile(file_);
        ct_level = level;
    }
    ~TraceCapture()
    {
        ct_level = oldLevel_;
        SmfUtilSetTraceFile(nullptr);
        std::fclose(file_);
    }
    std::string Text() const
    {
        std::fflush(file_);
        std::string out;
        std::rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
            out.append(buf, n);
        return out;
    }

private:
    FILE* file_;
    int oldLevel_;
};
