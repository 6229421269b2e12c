#include "app/oldformatservices.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/application.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"

namespace {

void LogLine(const char* text)
{
    try {
        if (CLogMan* log = CApplication::Instance().GetLogManPtr()) {
            log->Write(std::string(text));
            return;
        }
    } catch (...) {
        // The library throws nothing; fall back to standard output.
    }
    std::printf("%s\n", text);
    std::fflush(stdout);
}

int SameFileSystem(const char* pathA, const char* pathB)
{
    try {
        return IsSameFileSystem(pathA, pathB) ? 1 : 0;
    } catch (const CExcept& failure) {
        errno = errno ? errno : EIO;
        return -1;
    }
}

const OldFormatServices kServices{LogLine, GetAvailableDiskSpace, SameFileSystem};

}  // namespace

const OldFormatServices* ApplicationOldFormatServices()
{
    return &kServices;
}
