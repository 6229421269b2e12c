#include "app/extract.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/cmdsignature.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/oldformatservices.h"
#include "app/options.h"
#include "app/statistics.h"
#include "krn/snt/manifest.h"
#include "oldformat/entrypath.h"
#include "oldformat/oldformat.h"

bool oldFormatExtractionDone = false;

namespace {

// A directory whose time and permissions are set once every entry of its
// archive is on disk, so that later entries neither change its time nor are
// blocked by a read-only mode.
struct PendingDirectory {
    uint64_t mtime = 0;
    std::string path;
    uint32_t mode = 0;
    bool setMode = false;
};

// A link that is made only after the other entries of its archive, so that
// no entry of the archive can be written through it.
struct PendingLink {
    std::string name;
    std::string path;
    std::string target;
};

// Access and modification time of a directory; CChgDateExcept on failure.
void SetTime(const std::string& path, uint64_t mtime)
{
    struct utimbuf times;
    times.actime = times.modtime = static_cast<time_t>(mtime);
    if (utime(path.c_str(), &times) != 0)
        throw CChgDateExcept(path);
}

// State of an extraction run that outlives one archive: the links this run
// made (so later entries are never written through them), the directories
// waiting for their final mode, and the private creation mask.
class ExtractionState {
public:
    explicit ExtractionState(bool extracting) : m_extracting(extracting)
    {
        if (m_extracting)
            m_savedMask = umask(077);
    }
    ~ExtractionState()
    {
        ApplyPendingQuietly();
        if (m_extracting)
            umask(m_savedMask);
    }
    ExtractionState(const ExtractionState&) = delete;
    ExtractionState& operator=(const ExtractionState&) = delete;

    // The old-format library runs with the caller's own creation mask.
    void SuspendMask()
    {
        if (m_extracting)
            umask(m_savedMask);
    }
    void ResumeMask()
    {
        if (m_extracting)
            umask(077);
    }

    // True when a leading part of path, or path itself, is a symbolic link
    // that this run created.
    bool LeadsThroughOwnLink(const std::string& path) const
    {
        if (m_ownLinks.empty())
            return false;
        struct stat st;
        size_t pos = 0;
        for (;;) {
            size_t slash = path.find('/', pos);
            std::string part = slash == std::string::npos ? path : path.substr(0, slash);
            if (!part.empty() && lstat(part.c_str(), &st) == 0 && S_ISLNK(st.st_mode) &&
                m_ownLinks.count({st.st_dev, st.st_ino}) != 0)
                return true;
            if (slash == std::string::npos)
                return false;
            pos = slash + 1;
        }
    }
    // Whether this run has made any symbolic link so far.
    bool MadeLinks() const { return !m_ownLinks.empty(); }
    void RememberLink(const std::string& path)
    {
        struct stat st;
        if (lstat(path.c_str(), &st) == 0)
            m_ownLinks.insert({st.st_dev, st.st_ino});
    }

    // Parent directories that extracting path will create; they are made
    // with the private mask and get the usual mode afterwards.
    void NoteMissingParents(const std::string& path)
    {
        m_missingParents.clear();
        size_t end = path.find_last_of("/\\");
        if (end == std::string::npos || end == 0)
            return;
        std::string parent = path.substr(0, end);
        if (parent == m_lastExistingParent)
            return;
        for (;;) {
            if (access(parent.c_str(), F_OK) == 0)
                break;
            m_missingParents.push_back(parent);
            end = parent.find_last_of("/\\");
            if (end == std::string::npos || end == 0)
                break;
            parent.resize(end);
        }
        m_lastExistingParent = path.substr(0, path.find_last_of("/\\"));
    }
    void FixCreatedParents()
    {
        const mode_t mode = 0755 & ~m_savedMask;
        for (const std::string& dir : m_missingParents) {
            struct stat st;
            if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                chmod(dir.c_str(), mode);
        }
        m_missingParents.clear();
    }
    void ForgetParentCache() { m_lastExistingParent.clear(); }

    std::vector<PendingDirectory> pending;

    // Time first, then permissions, in extraction order.  What an error
    // leaves unprocessed is still applied when the state is destroyed.
    void ApplyPending()
    {
        size_t done = 0;
        try {
            for (; done < pending.size(); ++done) {
                const PendingDirectory& dir = pending[done];
                SetTime(dir.path, dir.mtime);
                if (dir.setMode && chmod(dir.path.c_str(), dir.mode & 07777) != 0)
                    throw CChgModExcept(dir.path);
            }
        } catch (...) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(done) + 1);
            throw;
        }
        pending.clear();
    }
    // The same when the run ends by an exception: no error may replace it.
    void ApplyPendingQuietly() noexcept
    {
        for (const PendingDirectory& dir : pending) {
            struct utimbuf times;
            times.actime = times.modtime = static_cast<time_t>(dir.mtime);
            utime(dir.path.c_str(), &times);
            if (dir.setMode)
                chmod(dir.path.c_str(), dir.mode & 07777);
        }
        pending.clear();
    }

private:
    bool m_extracting;
    mode_t m_savedMask = 0;
    std::set<std::pair<dev_t, ino_t>> m_ownLinks;
    std::vector<std::string> m_missingParents;
    std::string m_lastExistingParent;
};

}  // namespace

void CExtract::Execute()
{
    COptions& options = m_application.GetOptions();
    CLogMan& log = m_application.GetLogMan();
    const bool isExtract = options.commandCode == KOV_CMD_EXTRACT;
    const bool verify = options.verify || options.sign;
    const char* const doneWord = isExtract ? "extracted" : "tested";
    bool printSummary = true;
    uint32_t filesDone = 0;
    uint32_t digestFailures = 0;
    std::string lastSelectedDirectory;

    const std::vector<std::string> archives = options.GetArchiveList();
    const std::vector<std::string>& fileList = options.fileList;
    // Exact-name lookup of the file list; the first index of each name.
    std::unordered_map<std::string_view, size_t> listIndex;
    listIndex.reserve(fileList.size());
    for (size_t i = 0; i < fileList.size(); ++i)
        listIndex.emplace(fileList[i], i);

    ExtractionState state(isExtract);

    for (const std::string& archiveName : archives) {
        uint32_t filesThisArchive = 0;
        try {
            bool incomplete = false;
            {
                CArchiveFile archive(archiveName, KOV_OPEN_READ);
                if (!archive.ReadArchiveHeader())
                    throw CInvalExcept(archiveName);
                log.Write("KOVZEF: processing archive " + archiveName + " (version " +
                          archive.GetVersionString() + ")");
                if (verify)
                    VerifySignatureAfterReading(archive, m_application);

                // The archive itself, so that no entry of it is written over it.
                struct stat archiveStat {};
                const bool archiveKnown = archive.Stream().Handle() != nullptr &&
                                          fstat(fileno(archive.Stream().Handle()), &archiveStat) == 0;

                std::vector<char> matched(fileList.size(), 0);
                std::vector<PendingLink> links;
                state.ForgetParentCache();
                bool leadingNoticeGiven = false;

                for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr;
                     entry = archive.NextEntry()) {
                    const std::string name = entry->GetName();
                    const KoxHeaderInfo info = entry->GetHeaderInfo();
                    // The manifest's marker mode carries directory bits; it is a file.
                    const bool dirMode = info.IsDirectoryMode() && !entry->IsSignedManifest();
                    const bool isDirectory = entry->IsDirectory();
                    bool setMode = options.changeDirPermissions;

                    bool selected = fileList.empty();
                    if (!selected) {
                        auto hit = listIndex.find(name);
                        if (hit != listIndex.end()) {
                            selected = true;
                            matched[hit->second] = 1;
                            if (dirMode)
                                lastSelectedDirectory = name;
                        } else if (entry->IsSignedManifest() && options.externalManifest != nullptr &&
                                   (hit = listIndex.find(KOX_MANIFEST_NAME)) != listIndex.end()) {
                            selected = true;
                            matched[hit->second] = 1;
                        } else if (!lastSelectedDirectory.empty() && !name.empty() &&
                                   name.size() > lastSelectedDirectory.size() &&
                                   name.compare(0, lastSelectedDirectory.size(), lastSelectedDirectory) == 0) {
                            size_t cut = lastSelectedDirectory.size();
                            if (lastSelectedDirectory.back() == '/')
                                selected = true;
                            else
                                selected = name[cut] == '/';
                        }
                    }
                    if (!selected) {
                        archive.ReleaseEntry(entry);
                        continue;
                    }

                    const EntryPath plan = PlanEntryPath(
                        name, options.extractDir ? options.extractDir : "", options.absolutePaths);
                    const std::string& path = plan.path;
                    CLink* link = dynamic_cast<CLink*>(entry);

                    // Damage seen before the entry's data: a name that does
                    // not end where its header says, data blocks behind an
                    // entry that has none (they are skipped, never written).
                    if (archive.NameDamaged()) {
                        CDirEntry::ReportDamage(name, "its stored name does not end with its terminator");
                        archive.ReleaseEntry(entry);
                        continue;
                    }
                    const bool carriesData = entry->IsSignedManifest() ||
                                             (link == nullptr && !isDirectory &&
                                              !(info.mode & KOX_MODE_DIRECTORY) && info.TotalSize() != 0);
                    if (!carriesData && archive.DataBlockFollows())
                        CDirEntry::ReportDamage(name, std::string(link ? "a link" : isDirectory ? "a directory" : "an empty file") +
                                                          " entry followed by data blocks");

                    if (isExtract) {
                        if (plan.leadingRemoved && !leadingNoticeGiven) {
                            leadingNoticeGiven = true;
                            log.Write("KOVZEF: leading \"/\" and \"../\" removed from the entry names of " +
                                      archiveName);
                        }
                        std::string refusal;
                        if (name.empty())
                            refusal = "KOVZEF: an entry without a name was not extracted";
                        else if (plan.parentComponent)
                            refusal = "KOVZEF: " + name +
                                      " not extracted: its name contains a \"..\" component";
                        else if (path.empty())
                            refusal = "KOVZEF: " + name +
                                      " not extracted: no name is left without its leading \"/\" and \"../\"";
                        else if (state.LeadsThroughOwnLink(path))
                            refusal = "KOVZEF: " + name +
                                      " not extracted: its path leads through a symbolic link made by this run";
                        else if (struct stat st; archiveKnown && link == nullptr &&
                                 stat(path.c_str(), &st) == 0 && st.st_dev == archiveStat.st_dev &&
                                 st.st_ino == archiveStat.st_ino)
                            refusal = "KOVZEF: " + name + " not extracted: " + path +
                                      " is the archive being read";
                        else if (isDirectory && link == nullptr) {
                            struct stat st;
                            if (lstat(path.c_str(), &st) == 0 &&
                                (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
                                refusal = "KOVZEF: " + name +
                                          " not extracted: " + path + " exists and is no directory";
                        }
                        if (!refusal.empty()) {
                            log.Write(refusal);
                            incomplete = true;
                            archive.ReleaseEntry(entry);
                            continue;
                        }
                        if (link != nullptr) {
                            // Counted and shown now; made after the archive's
                            // other entries.
                            if (options.statistics)
                                m_application.GetStatistics().AddFiles();
                            if (options.verbose)
                                log.Write("x " + name);
                            links.push_back({name, path, link->GetTarget()});
                            archive.ReleaseEntry(entry);
                            ++filesDone;
                            ++filesThisArchive;
                            continue;
                        }
                        state.NoteMissingParents(path);
                        entry->SetTargetPath(path);
                    }

                    bool digestFailed = false;
                    bool existed = false;
                    const bool hasUserInfo = !entry->GetUserInfo().empty();
                    std::vector<uint8_t> userInfo;
                    if (hasUserInfo && isExtract)
                        userInfo = entry->GetUserInfo();
                    entry->Extract(archive);
                    existed = entry->Existed();
                    auto* directory = dynamic_cast<CDirectory*>(entry);
                    const bool directoryIsLink = directory != nullptr && directory->LinkOnDisk();
                    if (!existed) {
                        setMode = true;
                        if (entry->IsDigestEnabled() && !entry->IsDigestVerified()) {
                            digestFailed = true;
                            ++digestFailures;
                        }
                    }
                    if (isExtract)
                        entry->CloseStream();
                    archive.ReleaseEntry(entry);
                    if (isExtract)
                        state.FixCreatedParents();
                    ++filesDone;
                    ++filesThisArchive;

                    if (digestFailed) {
                        --filesDone;
                        --filesThisArchive;
                        if (isExtract)
                            RemoveFile(path.c_str());
                        continue;
                    }
                    if (!isExtract)
                        continue;
                    if (hasUserInfo) {
                        std::string message;
                        if (!RestoreUserInfo(path.c_str(), userInfo.data(), message))
                            log.Write(message);
                    }
                    if (isDirectory) {
                        // A link's target keeps its own time and mode.
                        if (!directoryIsLink)
                            state.pending.push_back({info.mtime, path, info.mode, setMode});
                    } else
                        SetFileModeAndTime(path.c_str(), info.mode, info.mtime);
                }

                // Links last, each checked against the links made before it.
                for (const PendingLink& link : links) {
                    if (state.LeadsThroughOwnLink(link.path)) {
                        log.Write("KOVZEF: " + link.name +
                                  " not extracted: its path leads through a symbolic link made by this run");
                        incomplete = true;
                        --filesDone;
                        --filesThisArchive;
                        continue;
                    }
                    state.NoteMissingParents(link.path);
                    if (!CDirEntry::CreateParentDirectories(link.path))
                        throw CCreateDirExcept(link.path);
                    state.FixCreatedParents();
                    if (symlink(link.target.c_str(), link.path.c_str()) != 0) {
                        log.Write("KOVZEF: could not create symbolic link (error 36). " + GetErrnoText());
                        m_application.SetExitStatus(36);
                        continue;
                    }
                    state.RememberLink(link.path);
                }

                if (isExtract)
                    state.ApplyPending();

                if (verify && digestFailures != 0) {
                    ManifestContext* context = archive.GetManifestContext();
                    std::string detail = ManifestGetLastError(context);
                    if (digestFailures > 1)
                        detail = std::to_string(digestFailures) + " files of the archive are invalid:\n" + detail;
                    throw CInvalManifestExcept(detail, ManifestGetSmfRc(context), ManifestGetSsfRc(context));
                }

                if (!fileList.empty()) {
                    if (filesThisArchive < fileList.size())
                        incomplete = true;
                    for (char hit : matched)
                        if (!hit)
                            incomplete = true;
                }
            }  // the archive is closed here
            if (incomplete) {
                m_application.SetExitStatus(40);
                log.Write(std::string("KOVZEF: not all files could be ") + doneWord);
            }
            if (printSummary)
                log.Write("KOVZEF: " + std::to_string(filesDone) + " file(s) " + doneWord);
        } catch (const COpenExcept& failure) {
            state.ApplyPendingQuietly();
            log.Write(failure);
            if (printSummary)
                log.Write("KOVZEF: " + std::to_string(filesDone) + " file(s) " + doneWord);
        } catch (const CInvalExcept&) {
            state.ApplyPendingQuietly();
            if (isExtract && state.MadeLinks() && !oldFormatExtractionDone) {
                // The old-format library creates its files by path and knows
                // nothing of the links made here, so it could write through
                // them: once links exist it is not run for extraction.
                log.Write("KOVZEF: " + archiveName +
                          " not extracted: old-format archives are not extracted after symbolic links made by this run");
                m_application.SetExitStatus(40);
                continue;
            }
            state.SuspendMask();
            try {
                CExtractOld old(m_application, *this);
                old.Execute();
            } catch (...) {
                state.ResumeMask();
                throw;
            }
            state.ResumeMask();
            filesDone += oldFilesDone;
            printSummary = false;
        }
    }
}

void CExtractOld::Execute()
{
    if (oldFormatExtractionDone)
        return;
    oldFormatExtractionDone = true;
    const COptions& options = m_application.GetOptions();
    uint32_t errorNumber = 0;
    char* message = nullptr;
    int rc = OldFormatMain(options.argc, options.argv, nullptr, nullptr, &errorNumber, &message,
                           ApplicationOldFormatServices());
    if (rc == 0 && message != nullptr) {
        m_application.GetLogMan().Write(std::string(message));
        m_application.SetExitStatus(40);
    }
    std::free(message);
    m_owner->oldFilesDone = oldArchiveFilesDone;
}
