#include "app/archivewalk.h"

#include "app/application.h"
#include "app/archivefile.h"
#include "app/cmdsignature.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/logman.h"

void StartArchiveWalk(CArchiveFile& archive, const std::string& archiveName, CApplication& application,
                      bool checkSignature)
{
    if (!archive.ReadArchiveHeader()) {
        // An archive of the old format carries no signature: asked to check
        // one, it fails as an unsigned archive does instead of being handed
        // to the old-format library, which would extract it unchecked.
        if (checkSignature)
            ThrowNotSigned(application);
        throw CInvalExcept(archiveName);
    }
    application.GetLogMan().Write("KOVZEF: processing archive " + KovShown(archiveName) + " (version " +
                                  archive.GetVersionString() + ")");
    if (checkSignature)
        VerifyArchiveSignature(false, archive, application);
}

std::string DamageBeforeData(CArchiveFile& archive, const CDirEntry& entry)
{
    if (archive.NameDamaged())
        return "its stored name does not end with its terminator";
    const KoxHeaderInfo& info = entry.GetHeaderInfo();
    const bool isLink = dynamic_cast<const CLink*>(&entry) != nullptr;
    const bool carriesData = entry.IsSignedManifest() || (!isLink && !entry.IsDirectory() &&
                                                          !(info.mode & KOX_MODE_DIRECTORY) && info.TotalSize() != 0);
    if (carriesData || !archive.DataBlockFollows())
        return {};
    return std::string(isLink                ? "a link"
                       : entry.IsDirectory() ? "a directory"
                                             : "an empty file") +
           " entry followed by data blocks";
}

CEntrySelection::CEntrySelection(const std::vector<std::string>& names)
    : m_count(names.size())
{
    m_index.reserve(names.size());
    for (size_t i = 0; i < names.size(); ++i)
        m_index.emplace(names[i], i);
}

size_t CEntrySelection::IndexOf(std::string_view name) const
{
    const auto hit = m_index.find(name);
    return hit == m_index.end() ? kNotListed : hit->second;
}

bool CEntrySelection::Select(const std::string& name, bool directoryMode, size_t* listed)
{
    if (listed)
        *listed = kNotListed;
    if (m_count == 0)
        return true;
    if (const size_t index = IndexOf(name); index != kNotListed) {
        if (listed)
            *listed = index;
        if (directoryMode)
            m_directory = name;
        return true;
    }
    if (m_directory.empty() || name.size() <= m_directory.size() ||
        name.compare(0, m_directory.size(), m_directory) != 0)
        return false;
    return m_directory.back() == '/' || name[m_directory.size()] == '/';
}
