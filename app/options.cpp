#include "app/options.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "app/application.h"
#include "app/except.h"
#include "app/logman.h"

namespace {

COptions* g_options = nullptr;

}  // namespace

COptions& COptions::Instance()
{
    if (g_options == nullptr)
        g_options = new COptions();
    return *g_options;
}

void COptions::DestroyInstance()
{
    delete g_options;
    g_options = nullptr;
}

void COptions::SetStringOption(const char*& field, const char* value, const char* name)
{
    if (field != nullptr)
        throw CExcept(std::string("KOVZEF: ") + name + ": use option only once", 18, true);
    if (value != nullptr && value[0] != '-') {
        field = value;
        return;
    }
    throw CExcept(std::string("KOVZEF: ") + name + "-option specified without filename", 19, true);
}

// "-p" takes the next word as an octal permission value.  Leading white space
// and a "+" are accepted and reading stops at the first non-octal character;
// only values from 0 to 07777 are permission bits, anything larger or negative
// would reach into the file-type bits of the stored mode and is refused.
void COptions::ParsePermissions(int& i)
{
    if (permissionText != nullptr)
        throw CExcept("KOVZEF: use p-option only once", 18, true);
    if (i + 1 >= argc)
        return;
    permissionText = argv[++i];

    const char* p = permissionText;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool valid = true;
    if (*p == '+') {
        ++p;
    } else if (*p == '-') {
        valid = false;
    }
    uint32_t value = 0;
    const char* digits = p;
    while (valid && *p >= '0' && *p <= '7') {
        value = value * 8 + static_cast<uint32_t>(*p - '0');
        if (value > 07777)
            valid = false;
        ++p;
    }
    if (!valid || p == digits)
        throw CExcept("KOVZEF: no octal value specified for p-option", 27, true);
    permissions = value;
}

// One word of letters after a "-".  Command letters overwrite the command
// code; S and M look at the code set so far, so their position matters.
void COptions::ParseCluster(int& i)
{
    const char* word = argv[i];
    for (const char* c = word + 1; *c != '\0'; ++c) {
        switch (*c) {
        case 'c':
            commandCode = KOV_CMD_CREATE;
            break;
        case 'd':
            commandCode = KOV_CMD_TEST;
            break;
        case 'x':
            commandCode = KOV_CMD_EXTRACT;
            break;
        case 't':
            commandCode = KOV_CMD_LIST;
            break;
        case 'a':
            commandCode = KOV_CMD_APPEND;
            break;
        case 'm':
            commandCode = KOV_CMD_MERGE;
            break;
        case 'l':
            commandCode = KOV_CMD_SCAN;
            break;
        case 'S':
            sign = true;
            if (commandCode == KOV_CMD_CREATE || commandCode == KOV_CMD_EXTRACT || commandCode == KOV_CMD_APPEND) {
                verify = true;
            } else if (commandCode == KOV_CMD_NONE) {
                commandCode = KOV_CMD_SIGN;
                verify = false;
            }
            break;
        case 'M':
            verify = true;
            if (commandCode == KOV_CMD_NONE)
                commandCode = KOV_CMD_MANIFEST;
            break;
        case 'V':
            verify = true;
            break;
        case 'v':
            verbose = true;
            break;
        case 's':
            spaceCheck = true;
            break;
        case 'i':
            ignoreInaccessible = true;
            break;
        case 'r':
            resolveLinks = false;
            break;
        case 'n':
            statistics = true;
            break;
        case 'h':
            changeDirPermissions = false;
            break;
        case 'j':
            forceExtraction = true;
            changeDirPermissions = false;
            break;
        case 'g':
            ignoreCase = true;
            break;
        case 'f': {
            const char* value = i + 1 < argc ? argv[++i] : nullptr;
            SetStringOption(archiveName, value, "f");
            return;  // the rest of the cluster is ignored
        }
        default:
            // The letters behind it are read all the same: an f among them
            // names the archive, which decides where the failure is told.
            KeepFailure(std::make_exception_ptr(CExcept(std::string("KOVZEF: unknown command option ") + c, 20, true)));
            break;
        }
    }
}

void COptions::Parse(int count, char** words)
{
    argc = count;
    argv = words;
    // Parser failures append the system error text; start from a clean errno
    // so that an unrelated earlier failure does not show up in them.
    errno = 0;

    // The notices of the command line, and its first bad word, are written
    // once all of it is read: only then is it known where messages go
    // (standard error when the archive goes to standard output).
    int ignoredBackups = 0;
    m_failure = nullptr;
    try {
        ParseWords(ignoredBackups);
    } catch (...) {
        AnnounceParsed(ignoredBackups);
        throw;
    }
    AnnounceParsed(ignoredBackups);
    if (m_failure) {
        CApplication::Instance().SetExitStatus(m_failureStatus);
        std::rethrow_exception(std::exchange(m_failure, nullptr));
    }
}

void COptions::KeepFailure(std::exception_ptr failure)
{
    // Building a failure stored its code as the exit status: the first
    // one's is the run's.
    if (m_failure)
        return;
    m_failure = failure;
    m_failureStatus = CApplication::Instance().GetExitStatus();
}

void COptions::AnnounceParsed(int ignoredBackups)
{
    CApplication& application = CApplication::Instance();
    application.ChooseMessageStream(*this);
    CLogMan* log = application.GetLogManPtr();
    for (; log != nullptr && ignoredBackups > 0; --ignoredBackups)
        log->Write("KOVZEF: option -backup not supported on non-Windows platforms (option ignored)");
}

void COptions::ParseWords(int& ignoredBackups)
{
    // A bad word is kept and the words behind it are read all the same.
    for (int i = 1; i < argc; ++i) {
        try {
            ParseWord(i, ignoredBackups);
        } catch (CExcept&) {
            KeepFailure(std::current_exception());
        }
    }
}

void COptions::ParseWord(int& i, int& ignoredBackups)
{
    struct ValueOption {
        const char* word;
        const char* COptions::*field;
        const char* name;
    };
    static const ValueOption kValueOptions[] = {
        {"-T", &COptions::renameFile, "T"},
        {"-C", &COptions::changeDir, "C"},
        {"-f", &COptions::archiveName, "f"},
        {"-A", &COptions::includeFile, "A"},
        {"-R", &COptions::extractDir, "R"},
        {"-H", &COptions::fileHashAlgorithm, "H"},
        {"-key", &COptions::keyStore, "key"},
        {"-L", &COptions::securityLibrary, "L"},
        {"-pwd", &COptions::keyStorePassword, "pwd"},
        {"-y", &COptions::signatureHashAlgorithm, "y"},
        {"-manifest", &COptions::externalManifest, "manifest"},
        {"-crl", &COptions::revocationList, "crl"},
        {"-F", &COptions::signatureFormat, "F"},
        {"-tsaurl", &COptions::timestampServer, "tsaurl"},
        {"-proxy", &COptions::proxy, "proxy"},
    };

    const char* word = argv[i];
    if (word[0] != '-') {
        fileList.emplace_back(word);
        return;
    }
    // Word options are whole words; the flags first, then those with a value.
    if (std::strcmp(word, "-X") == 0) {
        SetStringOption(excludeFile, i + 1 < argc ? argv[++i] : nullptr, "X");
    } else if (std::strcmp(word, "-backup") == 0) {
        ++ignoredBackups;
    } else if (std::strcmp(word, "-lower") == 0) {
        lowerCase = true;
    } else if (std::strcmp(word, "-flat") == 0) {
        flat = true;
    } else if (std::strcmp(word, "-V") == 0) {
        verify = true;
    } else if (std::strcmp(word, "-v") == 0) {
        verbose = true;
    } else if (std::strcmp(word, "-e") == 0) {
        redirectOutput = true;
    } else if (std::strcmp(word, "-g") == 0) {
        ignoreCase = true;
    } else if (std::strcmp(word, "-h") == 0) {
        changeDirPermissions = false;
    } else if (std::strcmp(word, "-j") == 0) {
        forceExtraction = true;
        changeDirPermissions = false;
    } else if (std::strcmp(word, "-n") == 0) {
        statistics = true;
    } else if (std::strcmp(word, "-P") == 0) {
        absolutePaths = true;
    } else if (std::strcmp(word, "-p") == 0) {
        ParsePermissions(i);
    } else {
        for (const ValueOption& opt : kValueOptions) {
            if (std::strcmp(word, opt.word) == 0) {
                SetStringOption(this->*opt.field, i + 1 < argc ? argv[++i] : nullptr, opt.name);
                return;
            }
        }
        ParseCluster(i);
    }
}
