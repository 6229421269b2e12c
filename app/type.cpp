#include "app/type.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/archivewalk.h"
#include "app/cmdsignature.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/logman.h"
#include "app/oldformatservices.h"
#include "app/options.h"
#include "app/spaceinfo.h"
#include "app/statistics.h"
#include "krn/snt/manifest.h"
#include "oldformat/oldformat.h"
#include "oldformat/shownname.h"

void CType::Execute()
{
    COptions& options = m_application.GetOptions();
    CLogMan& log = m_application.GetLogMan();
    bool space = options.spaceCheck;
    // S checks the digests as V does: a signature alone says nothing of the
    // entries beside it.
    const bool signature = options.verify || options.sign;
    const bool verification = signature;
    const std::vector<std::string> archives = options.GetArchiveList();
    CEntrySelection selection(options.fileList);
    CSpaceInfo spaceInfo;
    uint32_t invalidDigests = 0;

    for (const std::string& archiveName : archives) {
        try {
            CArchiveFile archive(archiveName, KOV_OPEN_READ);
            StartArchiveWalk(archive, archiveName, m_application, signature);

            for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
                const std::string& name = entry->GetName();
                const KoxHeaderInfo& info = entry->GetHeaderInfo();
                // The manifest's marker mode carries directory bits; it is a file.
                const bool selected = selection.Select(name, info.IsDirectoryMode() && !entry->IsSignedManifest());
                if (verification) {
                    RefuseUnverifiedManifest(archive, *entry);
                    // As when it is tested or extracted: a name that does
                    // not end where its header says is not trusted and
                    // answers to no file of the manifest, data blocks behind
                    // an entry that has none are damage; a link or
                    // directory must not stand for a signed file.
                    if (const std::string damage = DamageBeforeData(archive, *entry); !damage.empty())
                        CDirEntry::ReportDamage(name, damage);
                    if (!archive.NameDamaged()) {
                        RefuseInPlaceOfSignedFile(archive, *entry);
                        CheckEntryDigests(archive, entry, invalidDigests);
                    }
                }
                if (selected) {
                    entry->PrintListing();
                    m_application.GetStatistics().AddFiles();
                    if (space) {
                        // Directories and links carry no data to extract; the
                        // manifest's marker mode is no directory, it becomes a file.
                        const bool hasData = (!info.IsDirectoryMode() || entry->IsSignedManifest()) &&
                                             !entry->IsDirectory() && dynamic_cast<CLink*>(entry) == nullptr;
                        spaceInfo.AddEntry(name, hasData ? static_cast<double>(info.TotalSize()) : 0.0);
                    }
                }
                archive.ReleaseEntry(entry);
            }

            // Every entry's digest was checked, selected or not.
            if (verification)
                CheckEntryDigests(archive, nullptr, invalidDigests, true);
            if (signature)
                ShowSignatureInfo(archive, m_application);
        } catch (const CInvalExcept&) {
            CTypeOld old(m_application, archiveName);
            old.Execute();
            space = false;
        } catch (const COpenExcept& failure) {
            log.Write(failure);
        }
    }
    if (space)
        log.Write(spaceInfo);
}

void CTypeOld::Execute()
{
    // The library would take the -f value itself, a pattern or a list of
    // names among them, and find no archive of that name.
    uint32_t errorNumber = 0;
    if (!RunOldFormatPass(m_archiveName, errorNumber)) {
        // A listing that failed is no success: the same statuses as a failed
        // old-format extraction (40) and as missing free space (30).
        m_application.SetExitStatus(errorNumber == kOldFormatNoSpace ? 30 : 40);
    }
}
