#include "app/oldformatservices.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "oldformat/shownname.h"

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

bool RunOldFormatPass(const std::string& archiveName, uint32_t& errorNumber)
{
    CApplication& application = CApplication::Instance();
    const COptions& options = application.GetOptions();
    application.GetLogMan().Write("processing archive " + KovShown(archiveName) + "...");
    errorNumber = 0;
    char* message = nullptr;
    const int rc = OldFormatRunOne(options.argc, options.argv, nullptr, nullptr, archiveName.c_str(), &errorNumber,
                                   &message, ApplicationOldFormatServices());
    if (rc == 0 && errorNumber != kOldFormatNoSpace && message != nullptr) {
        try {
            application.GetLogMan().Write(std::string(message));
        } catch (...) {
            std::free(message);
            throw;
        }
    }
    std::free(message);
    return rc != 0;
}
