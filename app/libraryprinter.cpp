#include "app/libraryprinter.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "app/application.h"
#include "app/logman.h"
#include "cslib/cslib.h"

namespace {

// Set before any worker thread starts, read by all of them.
std::thread::id s_printingThread;

__attribute__((format(printf, 1, 2))) int PrintLibraryMessage(const char* format, ...)
{
    if (std::this_thread::get_id() != s_printingThread)
        return 0;
    char text[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0)
        return n;
    // The library frames its messages with line breaks; each line of one
    // becomes a line of the log.
    std::string_view rest(text, std::min(static_cast<size_t>(n), sizeof text - 1));
    CLogMan& log = CApplication::Instance().GetLogMan();
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        if (!line.empty())
            log.Write(std::string(line));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    return n;
}

}  // namespace

void InstallLibraryPrinter()
{
    s_printingThread = std::this_thread::get_id();
    CsSetPrinter(PrintLibraryMessage);
}

void RemoveLibraryPrinter()
{
    CsSetPrinter(nullptr);
}
