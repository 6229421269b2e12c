// Regular files and directories: construction, header filling from stat and
// creation of directories on extraction.
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/statistics.h"

namespace {

// stat (or lstat with -r) of name into info, or the given stat result when
// there is one; -p replaces the permissions.
bool StatInto(const std::string& name, KoxHeaderInfo& info, size_t storedNameLength, const struct stat* known = nullptr)
{
    const COptions& opt = COptions::Instance();
    uint32_t mode = 0, sizeHigh = 0, unused = 0, reserved = 0;
    uint64_t size = 0, mtime = 0;
    if (known)
        FileInfoFromStat(*known, mode, size, mtime);
    else if (!GetFileInfo(nullptr, name.c_str(), mode, size, sizeHigh, mtime, unused, reserved, opt.resolveLinks))
        return false;
    info.mode = mode;
    info.size = size;
    info.sizeHigh = 0;
    info.mtime = mtime;
    info.reserved = 0;
    info.nameLength = static_cast<uint16_t>(storedNameLength);
    if (opt.permissions)
        info.mode = (info.mode & KOX_MODE_TYPE_MASK) | opt.permissions;
    return true;
}

}  // namespace

// ---- CFile -----------------------------------------------------------------

CFile::CFile(const std::string& name)
    : CDirEntry(name),
      m_digest()
{
    const COptions& opt = COptions::Instance();
    m_digestEnabled = opt.verify || opt.sign || opt.commandCode == KOV_CMD_SIGN;
}

CFile::CFile(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
             std::vector<uint8_t> userInfo)
    : CDirEntry(name, storedName, info, std::move(userInfo)),
      m_digest()
{
}

void CFile::SetFreshStat(const struct stat& st, bool followedLinks)
{
    m_freshStat = st;
    m_freshStatFollowedLinks = followedLinks;
    m_freshStatName = m_name;
    m_haveFreshStat = true;
}

bool CFile::FillHeaderInfo(KoxHeaderInfo& info)
{
    // With -r the header describes a link itself, which a stat does not.
    const bool resolveLinks = COptions::Instance().resolveLinks;
    const bool answers = m_freshStatFollowedLinks == resolveLinks ||
                         (!m_freshStatFollowedLinks && S_ISREG(m_freshStat.st_mode));
    const bool useFresh = m_haveFreshStat && answers && m_freshStatName == m_name;
    m_haveFreshStat = false;
    if (!StatInto(m_name, info, m_storedName.size(), useFresh ? &m_freshStat : nullptr))
        return false;
    info.SetType(KOX_TYPE_FILE);
    return true;
}

// ---- CDirectory ---------------------------------------------------------------

CDirectory::CDirectory(const std::string& name)
    : CDirEntry(name)
{
}

CDirectory::CDirectory(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
                       std::vector<uint8_t> userInfo)
    : CDirEntry(name, storedName, info, std::move(userInfo))
{
}

bool CDirectory::FillHeaderInfo(KoxHeaderInfo& info)
{
    if (!StatInto(m_name, info, m_storedName.size()))
        return false;
    info.SetType(KOX_TYPE_DIRECTORY);
    return true;
}

void CDirectory::ExtractOrTest(CArchiveFile&, bool verification)
{
    const COptions& opt = COptions::Instance();
    const bool extract = opt.commandCode == KOV_CMD_EXTRACT;
    if (!verification) {
        CApplication& app = CApplication::Instance();
        if (opt.statistics)
            app.GetStatistics().AddFiles();
        if (opt.verbose)
            app.GetLogMan().Write((extract ? "x " : "d ") + KovShown(m_name));
    }
    // A directory has no data, whatever its size field says.
    if (extract)
        CreateOnDisk();
}

void CDirectory::CreateOnDisk()
{
    const COptions& opt = COptions::Instance();
    m_name = TargetPath();
    struct stat st;
    if (stat(m_name.c_str(), &st) == 0) {
        // Something else by that name is left alone.
        if (!S_ISDIR(st.st_mode))
            throw CCreateDirExcept(m_name, EEXIST);
        m_existed = true;
        // A link to a directory is the user's own structure: used, but
        // its target's permissions are not this entry's to change.
        struct stat own;
        m_linkOnDisk = lstat(m_name.c_str(), &own) == 0 && S_ISLNK(own.st_mode);
        if (opt.changeDirPermissions && !m_linkOnDisk && chmod(m_name.c_str(), 0700) != 0)
            throw CChgModExcept(m_name);
        return;
    }
    if (errno != ENOENT)
        throw CAccessExcept(m_name);
    if (!CreateParentDirectories(m_name))
        throw CCreateDirExcept(m_name);
    if (!(m_make && m_make(m_name)) && !CreateDirectory(m_name.c_str()))
        throw CCreateDirExcept(m_name);
}
