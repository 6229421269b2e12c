// Program entry: usage text and version report for short command lines,
// otherwise parse the command line and run one command.
#include <cerrno>

#include "app/application.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/usage.h"
#include "krn/rscp/rscp.h"
#include "krn/runt/kovrel.h"

int main(int argc, char** argv)
{
    rscpi_init(-1);
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

    const int status = app.GetExitStatus();
    CApplication::Destroy();
    return status;
}
