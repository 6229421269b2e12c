// Symbolic links: stored as "name|target" with no data.
#include <cerrno>
#include <unistd.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/namecodes.h"
#include "app/options.h"
#include "app/statistics.h"

CLink::CLink(const std::string& name)
    : CDirEntry(name)
{
}

CLink::CLink(const std::string& name, const std::string& storedName, size_t storedNameLength, const std::string& target,
             const KoxHeaderInfo& info, std::vector<uint8_t> userInfo)
    : CDirEntry(name, storedName, info, std::move(userInfo)),
      m_target(target)
{
    m_linkNameLength = storedNameLength;
}

bool CLink::PrepareStoredName()
{
    if (COptions::Instance().resolveLinks)
        return true;
    char target[KOV_PATH_MAX];
    const ssize_t n = readlink(m_name.c_str(), target, sizeof target - 1);
    // A link that is gone (or is no link any more) since it was listed is
    // reported like a file that vanished; the run goes on.
    if (n < 0 && (errno == ENOENT || errno == ENOTDIR || errno == EINVAL))
        return false;
    if (n < 0)
        throw CReadLinkExcept(m_name);
    m_target.assign(target, static_cast<size_t>(n));
    m_linkNameLength = m_storedName.size();
    m_storedName += KOX_LINK_SEPARATOR;
    m_storedName += m_target;
    return true;
}

std::string CLink::StoreRefusal() const
{
    // The format separates a link's name from its target with "|": a name
    // holding one would be read back as another name and target.  It is
    // looked for in UTF-8, as the reader splits the name, where "|" never
    // stands inside a character (in the local code page a byte 0x7C may).
    if (m_linkNameLength == std::string::npos)
        return {};
    std::string utf8;
    if (Utf8OfLocal(m_storedName.substr(0, m_linkNameLength), utf8) &&
        utf8.find(KOX_LINK_SEPARATOR) == std::string::npos)
        return {};
    return "a link whose name contains \"|\" can not be stored";
}

bool CLink::FillHeaderInfo(KoxHeaderInfo& info)
{
    const COptions& opt = COptions::Instance();
    uint32_t mode = 0, sizeHigh = 0, unused = 0, reserved = 0;
    uint64_t size = 0, mtime = 0;
    if (!GetFileInfo(nullptr, m_name.c_str(), mode, size, sizeHigh, mtime, unused, reserved, opt.resolveLinks))
        return false;
    info.mode = mode;
    info.size = 0;
    info.sizeHigh = 0;
    info.mtime = mtime;
    info.reserved = 0;
    info.nameLength = static_cast<uint16_t>(m_storedName.size());
    if (opt.permissions)
        info.mode = (info.mode & KOX_MODE_TYPE_MASK) | opt.permissions;
    info.SetType(KOX_TYPE_LINK);
    return true;
}

void CLink::Extract(CArchiveFile&)
{
    const COptions& opt = COptions::Instance();
    CApplication& app = CApplication::Instance();
    const bool extract = opt.commandCode == KOV_CMD_EXTRACT;
    if (opt.statistics)
        app.GetStatistics().AddFiles();
    if (opt.verbose)
        app.GetLogMan().Write((extract ? "x " : "d ") + KovShown(m_name));
    if (!extract)
        return;
    m_name = TargetPath();
    if (!CreateParentDirectories(m_name))
        throw CCreateDirExcept(m_name);
    if (symlink(m_target.c_str(), m_name.c_str()) != 0) {
        app.GetLogMan().Write("KOVZEF: could not create symbolic link (error 36). " + GetErrnoText());
        app.SetExitStatus(36);
    }
}

void CLink::ExtractOrTest(CArchiveFile& archive, bool verification)
{
    // A link has no data to check.
    if (!verification)
        Extract(archive);
}
