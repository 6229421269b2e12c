// Program entry: usage text and version report for short command lines,
// otherwise parse the command line and run one command.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "app/application.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/stdoutarchive.h"
#include "app/usage.h"
#include "krn/rscp/cpcache.h"
#include "krn/runt/kovrel.h"

namespace {

std::terminate_handler g_terminateAfterStartUp = nullptr;

// Until the run has its application and log manager, what ends the process
// through std::terminate is an allocation that failed: a static
// initialiser's, the first ones of main, or that of the exception itself.
// Nothing has been made or written then, so the process ends as a run out
// of memory does (its message on standard error, which is never the
// archive), without an allocation.
[[noreturn]] void TerminateAtStartUp()
{
    static const char kNoMemory[] = "KOVZEF: can not allocate new memory\n";
    const ssize_t written = write(STDERR_FILENO, kNoMemory, sizeof kNoMemory - 1);
    static_cast<void>(written);
    _exit(2);
}

// Ahead of every static initialiser of the program (they run at the default
// priority).
__attribute__((constructor(101))) void TerminateAtStartUpAsOutOfMemory()
{
    g_terminateAfterStartUp = std::set_terminate(TerminateAtStartUp);
}

}  // namespace

int main(int argc, char** argv)
{
    HoldClosedStandardDescriptors();
    // Under a file-size limit a write that would pass it must fail with
    // EFBIG, so that the run cleans up as after any failed write, instead of
    // the process being killed with the archive half written.
    std::signal(SIGXFSZ, SIG_IGN);
    CApplication& app = CApplication::Instance();
    app.SetLogMan(new CConsoleLogMan());
    // From here on the run ends through its own handling.
    std::set_terminate(g_terminateAfterStartUp);

    CApplication::RunGuarded([&] {
        // The code page tables take some MiB: without them no name can be
        // converted, and the run ends as out of memory before it begins.
        // The options are not read yet, so standard output may be the
        // archive: the message goes to standard error, as every failure of
        // the start-up does.
        if (rscpi_init(RSCP_ALL_ERRORS) == RSCPENOMEM) {
            CConsoleLogMan::UseStandardError();
            throw std::bad_alloc();
        }
        if (argc <= 1) {
            app.GetLogMan().Write(CUsage());
            // Without arguments this prints the version report and exits with 0.
            KovRelCheckVersionOption(argc, argv, 16);
        } else if (argc == 2) {
            KovRelPrintAndExit(1, 16);
        } else {
            COptions& options = COptions::Instance();
            options.argc = argc;
            options.argv = argv;
            errno = 0;
            options.Parse(argc, argv);
            app.Run();
        }
    });

    int status = app.GetExitStatus();
    // What could not be written to standard output (a listing sent to a
    // full device) is a write error, not success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int err = CConsoleLogMan::OutputError() ? CConsoleLogMan::OutputError() : errno;
        std::fprintf(stderr, "KOVZEF: error writing to standard output (error 4). %s\n", err ? std::strerror(err) : "");
        if (status == 0)
            status = 4;
    }
    app.EndStandardOutputArchive(status);
    CApplication::Destroy();
    return status;
}
