#include "app/spaceinfo.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "app/application.h"
#include "app/fshelpers.h"
#include "app/options.h"
#include "krn/rscp/cputf8local.h"
#include "oldformat/entrypath.h"
#include "oldformat/shownname.h"

namespace {

// path with every separator made "/": a backslash separates the parts of a
// path as "/" does, but a byte 0x5C inside a double-byte character of the
// local code page is part of a name.
std::string WithSlashSeparators(std::string path)
{
    BackslashToSlashCP(path.data(), path.size());
    return path;
}

}  // namespace

CSpaceInfo::FreeSpaceFn CSpaceInfo::freeSpaceQuery = &CSpaceInfo::QueryFreeSpace;

double CSpaceInfo::QueryFreeSpace(const char* path)
{
    return GetAvailableDiskSpace(path);
}

std::string CSpaceInfo::FindExistingParent(const std::string& path)
{
    if (path.empty())
        return std::string();
    const std::string separators = WithSlashSeparators(path);
    for (size_t cut = path.size(); cut-- > 1;) {
        if (separators[cut] != '/')
            continue;
        std::string part = path.substr(0, cut);
        if (access(part.c_str(), F_OK) == 0)
            return part;
    }
    if (separators[0] == '/')
        return "/";
    // A relative path none of whose leading parts exists lies below the
    // current directory.
    return ".";
}

CSpaceInfo::FileSystemNeed* CSpaceInfo::FindFileSystem(const std::string& directory, uint64_t device, bool haveDevice)
{
    if (directory.empty())
        return nullptr;
    for (FileSystemNeed& item : m_items) {
        if (item.directory.empty())
            continue;
        if (item.directory == directory)
            return &item;
        // Everything on one file system draws on the same free space, so it
        // is summed there, whether or not the paths contain one another.
        if (haveDevice && item.haveDevice) {
            if (item.device == device)
                return &item;
            continue;
        }
        if ((item.directory.find(directory) != std::string::npos ||
             directory.find(item.directory) != std::string::npos) &&
            IsSameFileSystem(directory.c_str(), item.directory.c_str()))
            return &item;
    }
    return nullptr;
}

void CSpaceInfo::AddEntry(const std::string& name, double size)
{
    const char* extractDir = COptions::Instance().extractDir;
    const std::string_view base = extractDir != nullptr ? extractDir : ".";
    const std::string path = !base.empty() && !name.empty() && name.front() != '/' ? JoinTargetDirectory(base, name)
                                                                                   : name;
    double existing = 0.0;
    double needed = size;
    if (GetFileSize(path.c_str(), existing))
        needed = size - existing;
    if (!(needed > 0.0))
        return;

    // Consecutive entries mostly share their directory: reuse its answer.
    const size_t sep = WithSlashSeparators(path).rfind('/');
    std::string key = sep == std::string::npos ? std::string() : path.substr(0, sep);
    std::string directory;
    if (m_haveLastParent && key == m_lastParentKey) {
        directory = m_lastParent;
    } else {
        directory = FindExistingParent(path);
        m_lastParentKey = key;
        m_lastParent = directory;
        m_haveLastParent = true;
    }
    struct stat st;
    const bool haveDevice = stat(directory.c_str(), &st) == 0;
    const uint64_t device = haveDevice ? static_cast<uint64_t>(st.st_dev) : 0;
    if (FileSystemNeed* item = FindFileSystem(directory, device, haveDevice)) {
        item->needed += needed;
        return;
    }
    m_items.push_back({directory, needed, device, haveDevice});
}

bool CSpaceInfo::HasEnoughSpace(std::vector<FileSystemNeed>& items)
{
    bool result = true;
    for (FileSystemNeed& item : items) {
        const double remaining = freeSpaceQuery(item.directory.c_str()) - item.needed;
        if (remaining < 1.0) {
            item.needed = remaining;
            result = false;
        }
    }
    return result;
}

void CSpaceInfo::WriteNeed(std::ostream& out, const FileSystemNeed& item)
{
    out << '\t' << std::setw(15) << std::fabs(item.needed) / 1024.0 << " KB in ";
    if (item.directory == ".") {
        char cwd[KOV_PATH_BUFFER];
        if (getcwd(cwd, sizeof cwd) != nullptr) {
            out << KovShown(WithSlashSeparators(cwd));
        } else {
            out << "the current directory";
        }
    } else {
        out << KovShown(item.directory);
    }
}

std::string CSpaceInfo::GetText() const
{
    std::ostringstream out;
    out << '\n';
    if (m_items.empty()) {
        out << "The extraction does not require free disk space (maybe\n"
               "the extraction will only overwrite existing files of\n"
               "greater or equal size or the uncompressed size of each\n"
               "file in the archive is zero).";
        return out.str();
    }
    // The comparison works on a copy, so the report can be asked for again.
    std::vector<FileSystemNeed> items = m_items;
    out << std::fixed << std::setprecision(6) << std::right;
    if (HasEnoughSpace(items)) {
        out << "The extraction requires approximately...\n";
        for (const FileSystemNeed& item : items)
            WriteNeed(out, item);
    } else {
        CApplication::Instance().SetExitStatus(30);
        out << "There is free space missing... \n";
        for (const FileSystemNeed& item : items)
            if (item.needed < 0.0)
                WriteNeed(out, item);
    }
    return out.str();
}
