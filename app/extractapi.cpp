// In-process extraction entry: runs the extract command with a log manager
// that collects the lines in memory.
#include "app/extractapi.h"

#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "app/logman.h"
#include "app/options.h"

namespace {

char* s_output = nullptr;

}  // namespace

int KovzefExtractArchive(const char* archive, const char* directory)
{
    CApplication& app = CApplication::Instance();
    CAPILogMan* collector = new CAPILogMan();
    // The caller's log manager comes back afterwards, so no deleted one stays installed.
    CLogMan* previous = app.SwapLogMan(collector);

    COptions& options = app.GetOptions();
    options.commandCode = KOV_CMD_EXTRACT;
    options.archiveName = archive;
    options.archiveListBuilt = false;
    options.archiveList.clear();
    options.extractDir = directory;

    app.SetExitStatus(0);
    const int status = CApplication::RunGuarded([&app] { app.Run(); });

    std::free(s_output);
    const std::string& text = collector->Collected();
    s_output = static_cast<char*>(std::malloc(text.size() + 1));
    if (s_output) {
        std::memcpy(s_output, text.data(), text.size());
        s_output[text.size()] = '\0';
    }
    app.SwapLogMan(previous);
    delete collector;
    return status;
}

const char* KovzefExtractOutput()
{
    return s_output;
}
