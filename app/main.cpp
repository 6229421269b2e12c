// Program entry: usage text and version report for short command lines,
// otherwise parse the command line and run one command.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "app/application.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/stdoutarchive.h"
#include "app/usage.h"
#include "krn/rscp/cpcache.h"
#include "krn/runt/kovrel.h"

int main(int argc, char** argv)
{
    HoldClosedStandardDescriptors();
    // Under a file-size limit a write that would pass it must fail with
    // EFBIG, so that the run cleans up as after any failed write, instead of
    // the process being killed with the archive half written.
    std::signal(SIGXFSZ, SIG_IGN);
    rscpi_init(RSCP_ALL_ERRORS);
    CApplication& app = CApplication::Instance();
    app.SetLogMan(new CConsoleLogMan());

    CApplication::RunGuarded([&] {
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
