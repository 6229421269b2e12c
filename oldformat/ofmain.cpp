// Entry points of the old-format library: one pass per archive, and the
// expansion of an archive-name list into several passes for extraction.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "oldformat/ofinternal.h"
#include "oldformat/shownname.h"

namespace {

void Deliver(const OfError& error, uint32_t* errorNumber, char** message)
{
    if (errorNumber)
        *errorNumber = error.number;
    if (!message)
        return;
    *message = nullptr;
    if (error.number != 0)
        *message = strdup(error.message.c_str());
}

std::string WorkingDirectory()
{
    std::vector<char> buf(4096);
    for (int i = 0; i < 8; ++i) {
        if (getcwd(buf.data(), buf.size()))
            return std::string(buf.data());
        if (errno != ERANGE)
            break;
        buf.resize(buf.size() * 2);
    }
    return ".";
}

// One pass over one archive; with extractOnly every command but 'x' does
// nothing.
bool RunPass(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const OldFormatServices* services,
             const char* archiveName, OfError& error, bool extractOnly = false)
{
    try {
        OfClearError(error);
        OfHandle h;
        h.callback = callback;
        h.context = context;
        h.services = services;
        h.workDir = WorkingDirectory();
        if (!OfParseOptions(h, argc, argv, error))
            return false;
        if (archiveName)
            h.archive = OfNormalisePath(archiveName);
        if (extractOnly && h.command != 'x')
            return true;
        switch (h.command) {
        case 'x':
        case 'd':
            if (h.includeFile && !OfReadIncludeFile(h, error))
                return false;
            if (!OfReadHeaders(h, error))
                return false;
            if (h.sFlag && h.command == 'x' && !OfCheckDiskSpace(h, error))
                return false;
            return OfExtractEntries(h, error);
        case 't':
            // The listing comes with the headers; the free-space estimate
            // needs all of them and follows it.
            if (!OfReadHeaders(h, error))
                return false;
            OfListEntries(h);
            return !h.sFlag || OfCheckDiskSpace(h, error);
        default:  // 'c': nothing to do with an old archive
            return true;
        }
    } catch (const std::bad_alloc&) {
        error.number = OF_E_MEMORY;
        error.message = OfErrorText(OF_E_MEMORY);
        return false;
    }
}

// Whether path begins with the magic of a KOX archive (or of its backup
// variant): such an archive is read by the caller, never as an old one.
bool IsKoxArchive(const std::string& path)
{
    char magic[4] = {};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    const bool kox = std::fread(magic, 1, sizeof magic, f) == sizeof magic && std::memcmp(magic, "ZEF", 3) == 0 &&
                     (magic[3] == ' ' || magic[3] == '\0');
    std::fclose(f);
    return kox;
}

// The archives matching one name of the list, sorted; false with error 4
// when the directory cannot be read or nothing matches.
bool MatchArchives(const std::string& item, std::vector<std::string>& paths, OfError& error)
{
    const size_t slash = item.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : item.substr(0, slash);
    const std::string pattern = slash == std::string::npos ? item : item.substr(slash + 1);
    DIR* d = opendir(dir.c_str());
    if (!d) {
        OfSetError(error, OF_E_SYSTEM, dir.c_str(), errno);
        return false;
    }
    std::vector<std::string> found;
    bool matched = false;
    while (const dirent* ent = readdir(d)) {
        if (!OfMatchPattern(pattern.c_str(), ent->d_name))
            continue;
        std::string path = slash == std::string::npos ? std::string(ent->d_name)
                                                      : item.substr(0, slash + 1) + ent->d_name;
        struct stat st;
        // Only files can be archives; "." and ".." and subdirectories are not.
        if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        matched = true;
        if (!S_ISREG(st.st_mode) || !IsKoxArchive(path))
            found.push_back(std::move(path));
    }
    closedir(d);
    if (!matched) {
        OfSetError(error, OF_E_SYSTEM, item.c_str(), ENOENT);
        return false;
    }
    std::sort(found.begin(), found.end());
    paths.insert(paths.end(), found.begin(), found.end());
    return true;
}

bool RunList(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const OldFormatServices* services,
             const std::string& list, OfError& error)
{
    try {
        // Commas separate the names as blanks do, as in the caller's list.
        std::string names = list;
        std::replace(names.begin(), names.end(), ',', ' ');
        size_t i = 0;
        while (i < names.size()) {
            while (i < names.size() && std::isspace(static_cast<unsigned char>(names[i])))
                ++i;
            size_t j = i;
            while (j < names.size() && !std::isspace(static_cast<unsigned char>(names[j])))
                ++j;
            if (j == i)
                break;
            std::vector<std::string> paths;
            if (!MatchArchives(names.substr(i, j - i), paths, error))
                return false;
            for (const std::string& path : paths) {
                std::printf("processing archive %s...\n", KovShown(path).c_str());
                if (!RunPass(argc, argv, callback, context, services, path.c_str(), error))
                    return false;
            }
            i = j;
        }
        return true;
    } catch (const std::bad_alloc&) {
        error.number = OF_E_MEMORY;
        error.message = OfErrorText(OF_E_MEMORY);
        return false;
    }
}

}  // namespace

int OldFormatRunOne(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const char* archiveName,
                    uint32_t* errorNumber, char** message, const OldFormatServices* services)
{
    OfError error;
    const bool ok = RunPass(argc, argv, callback, context, services, archiveName, error);
    std::fflush(stdout);
    Deliver(error, errorNumber, message);
    return ok ? 1 : 0;
}

int OldFormatMain(int argc, char* const* argv, OldFormatOutputFn callback, void* context, uint32_t* errorNumber,
                  char** message, const OldFormatServices* services)
{
    OfError error;
    std::optional<std::string> list;
    if (argc >= 3) {
        try {
            list = OfFindExtractList(argc, argv);
        } catch (const std::bad_alloc&) {
            OfSetError(error, OF_E_MEMORY, nullptr);
            Deliver(error, errorNumber, message);
            return 0;
        }
    }
    const bool ok = list ? RunList(argc, argv, callback, context, services, *list, error)
                         : RunPass(argc, argv, callback, context, services, nullptr, error);
    std::fflush(stdout);
    Deliver(error, errorNumber, message);
    return ok ? 1 : 0;
}

int OldFormatExtractOne(int argc, char* const* argv, OldFormatOutputFn callback, void* context, const char* archiveName,
                        uint32_t* errorNumber, char** message, const OldFormatServices* services)
{
    OfError error;
    const bool ok = RunPass(argc, argv, callback, context, services, archiveName, error, true);
    std::fflush(stdout);
    Deliver(error, errorNumber, message);
    return ok ? 1 : 0;
}

int OldFormatTotalSize(const char* archiveName, uint64_t* total, uint32_t* errorNumber, char** message)
{
    OfError error;
    bool ok = false;
    if (total)
        *total = 0;
    try {
        OfHandle h;
        h.workDir = WorkingDirectory();
        if (archiveName)
            h.archive = OfNormalisePath(archiveName);
        ok = OfReadHeaders(h, error);
        if (ok && total) {
            uint64_t sum = 0;
            for (const OfEntry& e : h.entries)
                sum += e.size;
            *total = sum;
        }
    } catch (const std::bad_alloc&) {
        OfSetError(error, OF_E_MEMORY, nullptr);
        ok = false;
    }
    Deliver(error, errorNumber, message);
    return ok ? 1 : 0;
}

int OldFormatExtractArchive(const char* archiveName, bool gFlag, uint32_t* errorNumber, char** message)
{
    std::vector<std::string> words{"ZEF", "-x"};
    if (gFlag)
        words.emplace_back("-g");
    if (archiveName) {
        words.emplace_back("-f");
        words.emplace_back(archiveName);
    }
    char* argv[6] = {};
    const int argc = static_cast<int>(words.size());
    for (int i = 0; i < argc; ++i)
        argv[i] = words[i].data();
    return OldFormatMain(argc, argv, nullptr, nullptr, errorNumber, message);
}

int OldFormatMainNoCallback(int argc, char* const* argv, uint32_t* errorNumber, char** message)
{
    return OldFormatMain(argc, argv, nullptr, nullptr, errorNumber, message);
}
