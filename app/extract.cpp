#include "app/extract.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/archivewalk.h"
#include "app/blockdecoder.h"
#include "app/cmdsignature.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/handleworkers.h"
#include "app/logman.h"
#include "app/oldformatservices.h"
#include "app/options.h"
#include "app/stagingarea.h"
#include "app/stalefiles.h"
#include "app/stagingdirectory.h"
#include "app/statistics.h"
#include "app/stopsignal.h"
#include "app/writtennames.h"
#include "krn/snt/manifest.h"
#include "oldformat/entrypath.h"
#include "oldformat/oldformat.h"

namespace {

// stdio buffer of an archive being read.
constexpr size_t kArchiveReadBuffer = 128 * 1024;

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

// Removes the regular file a failed entry wrote at path; a device there
// was only written, and stays.
void RemoveMadeFile(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        RemoveFile(path.c_str());
}

// A file's place by its identity (device and inode).
using FilePlace = std::pair<dev_t, ino_t>;

// Whether something other than a directory took the place of the directory
// at path since its entry was extracted (with -j a later file entry removes
// it, and a link entry may then be made there), or a directory of those in
// notOwn (which this run did not fill alone) is there: its time and mode
// are then no longer the entry's to set, least of all through a link.
bool ReplacedSinceMade(std::string path, const std::set<FilePlace>& notOwn)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();  // a trailing "/" would have lstat follow a link
    struct stat st;
    return lstat(path.c_str(), &st) == 0 &&
           (!S_ISDIR(st.st_mode) || (!notOwn.empty() && notOwn.count({st.st_dev, st.st_ino}) != 0));
}

// A set of names that may answer "held" for a name it was not given, never
// "not held" for one it was: a bit per hash value, so that adding and asking
// cost no allocation.
class CNameFilter {
public:
    void Add(const char* name)
    {
        if (m_bits.empty())
            m_bits.resize(kBits / 64);
        const uint32_t bit = Bit(name);
        m_bits[bit / 64] |= uint64_t{1} << (bit % 64);
        m_set.push_back(bit);
    }
    bool Empty() const { return m_set.empty(); }
    bool MayHold(const char* name) const
    {
        if (m_set.empty())
            return false;
        const uint32_t bit = Bit(name);
        return (m_bits[bit / 64] >> (bit % 64) & 1) != 0;
    }
    void Clear()
    {
        for (uint32_t bit : m_set)
            m_bits[bit / 64] = 0;
        m_set.clear();
    }

private:
    static constexpr uint32_t kBits = uint32_t{1} << 16;  // 8 KiB: stays in the cache
    static uint32_t Bit(const char* name) { return std::hash<std::string_view>{}(name) & (kBits - 1); }

    std::vector<uint64_t> m_bits;
    std::vector<uint32_t> m_set;  // the bits set, so that clearing costs what adding did
};

// State of an extraction run that outlives one archive: the links this run
// made (so later entries are never written through them), the directories
// waiting for their final mode, and the private creation mask.
class ExtractionState {
public:
    explicit ExtractionState(bool extracting)
        : m_extracting(extracting)
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
        size_t end = path.rfind('/');
        if (end == std::string::npos || end == 0)
            return;
        std::string parent = path.substr(0, end);
        if (parent == m_lastExistingParent)
            return;
        for (;;) {
            // The directory being filled under a hidden name is there.
            if ((m_staging.Active() && parent == m_staging.Directory()) || access(parent.c_str(), F_OK) == 0)
                break;
            m_missingParents.push_back(parent);
            end = parent.rfind('/');
            if (end == std::string::npos || end == 0)
                break;
            parent.resize(end);
        }
        m_lastExistingParent = path.substr(0, path.rfind('/'));
        // The directory the first of them is made in is cleaned too, before
        // the run makes it.
        if (!m_missingParents.empty())
            CleanDirectoryOf(m_missingParents.back());
        if (m_freshTracked)
            NoteFreshDirectory(path);
    }
    void FixCreatedParents()
    {
        const mode_t mode = 0755 & ~m_savedMask;
        for (const std::string& dir : m_missingParents) {
            // The directory being filled under a hidden name gets its mode
            // through its own descriptor: what has its name meanwhile is
            // not this run's.
            if (m_staging.Active() && dir == m_staging.Directory())
                continue;
            struct stat st;
            if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                chmod(dir.c_str(), mode);
                NoteLookalike(dir, st);
            }
        }
        m_missingParents.clear();
    }
    void ForgetParentCache()
    {
        m_lastExistingParent.clear();
        m_freshDirectory.clear();
        m_freshNames.Clear();
    }

    // Whether nothing has the name path, so that a file staged for it can
    // take it without replacing anything.  In a directory this run made
    // (see TrackFreshDirectories) the names it put there answer.
    // found: what lstat found at path when it was asked and found
    // something (found.st_mode 0 otherwise, which no file has).
    bool NameFree(const std::string& path, struct stat& found) const
    {
        found.st_mode = 0;
        const size_t slash = path.rfind('/');
        if (!m_freshDirectory.empty() && slash == m_freshDirectory.size() &&
            path.compare(0, slash, m_freshDirectory) == 0 && !m_freshNames.MayHold(path.c_str() + slash + 1))
            return true;
        if (lstat(path.c_str(), &found) == 0)
            return false;
        found.st_mode = 0;
        return errno == ENOENT;
    }
    // This run put a file or directory at path.
    void NoteMade(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        if (!m_freshDirectory.empty() && slash == m_freshDirectory.size() &&
            path.compare(0, slash, m_freshDirectory) == 0)
            m_freshNames.Add(path.c_str() + slash + 1);
    }
    // The directory entry of path made its directory, which gets mode:
    // nothing is in it yet.
    void NoteMadeDirectory(std::string path, mode_t mode)
    {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        m_cleaned.insert(path);
        if (m_freshTracked) {
            m_freshDirectory = std::move(path);
            m_freshMode = mode & 07777;
            m_freshNames.Clear();
        }
    }
    // From now on a directory the run makes for its entries is known to
    // hold only what the run puts there (NoteMade) while the entries go
    // into it one after another: NameFree then asks no system call.
    // Something else that takes a name there meanwhile is met when the
    // staged file takes its name.
    void TrackFreshDirectories() { m_freshTracked = true; }

    // Before this run first writes into the directory of path: removes the
    // files staged there by verified extractions that were killed.  What
    // this run made that only looks like such a file stays (another
    // spelling of a directory, or a link to it, is cleaned apart).
    void CleanDirectoryOf(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        const std::string_view directory = slash == std::string::npos ? std::string_view(".")
                                           : slash == 0               ? std::string_view("/")
                                                                      : std::string_view(path).substr(0, slash);
        if (directory == m_lastCleaned)
            return;
        m_lastCleaned = directory;
        if (!m_cleaned.insert(m_lastCleaned).second)
            return;
        if (m_spared.empty()) {
            RemoveLostStagedFiles(AT_FDCWD, m_lastCleaned);
            return;
        }
        RemoveLostStagedFiles(AT_FDCWD, m_lastCleaned, [this](const struct stat& st) {
            return m_spared.count({st.st_dev, st.st_ino}) != 0;
        });
    }
    // The clean-ups leave the archive of status st, which this run reads.
    void SpareArchive(const struct stat& st) { m_spared.insert({st.st_dev, st.st_ino}); }
    // This run made what is at path (a file or directory): when its name
    // has the form of a staged file's, the clean-up is to leave it.
    void NoteMadeLookalike(const std::string& path)
    {
        if (StagedFileOwner(BaseOf(path)) == 0)
            return;
        struct stat st;
        if (m_staging.Holds(path) ? fstatat(m_staging.Descriptor(), BaseOf(path).data(), &st, AT_SYMLINK_NOFOLLOW) == 0
                                  : lstat(path.c_str(), &st) == 0)
            m_spared.insert({st.st_dev, st.st_ino});
    }

    // Whether a file for path goes into the directory being filled under a
    // hidden name (see CStagingDirectory), under its last component.
    bool IntoStagingDirectory(const std::string& path) const { return m_staging.Holds(path); }
    // Where a verified file for path is made: in its directory, made under
    // a hidden name and filled there as a whole, when that is being filled
    // already, or when this run is about to make it for the file (it has
    // no entry of its own); the hidden directory's descriptor, else -1.
    // Never a directory that had its name: another run may be writing a
    // file there.  Called after NoteMissingParents(path).
    int StagingDirectoryFor(const std::string& path)
    {
        if (m_staging.Holds(path))
            return m_staging.Descriptor();
        const size_t slash = path.rfind('/');
        if (m_freshDirectory.empty() || slash != m_freshDirectory.size() ||
            path.compare(0, slash, m_freshDirectory) != 0 || !m_freshNames.Empty() ||
            std::find(m_missingParents.begin(), m_missingParents.end(), m_freshDirectory) == m_missingParents.end())
            return -1;
        if (!CDirEntry::CreateParentDirectories(m_freshDirectory))
            return -1;
        FinishStaging();
        // It gets the usual mode once named, as the other parents made for
        // the file; another run of this user may give it its name first,
        // with that mode or one the user's mask allows.
        if (!m_staging.Begin(m_freshDirectory, 0755 & ~m_savedMask, (m_freshMode | (0777 & ~m_savedMask)) & 0222))
            return -1;
        return m_staging.Holds(path) ? m_staging.Descriptor() : -1;
    }
    // Makes the directory of a directory entry at path, which nothing has,
    // under a hidden name to be filled there, mode being the entry's;
    // false when it is to be made at path instead.
    bool StageDirectory(const std::string& path, mode_t mode)
    {
        FinishStaging();
        // Another run of this user may give the directory its name first,
        // with the mode this run gives it or one the user's mask allows.
        return m_staging.Begin(path, 0, (mode | (0777 & ~m_savedMask)) & 0222);
    }
    // Where staged files get a name before they replace what is at their
    // paths (see CStagingArea).
    CStagingArea& StagingArea() { return m_area; }
    // Gives the directory being filled under a hidden name its name.
    void FinishStaging()
    {
        if (!m_staging.Active())
            return;
        const std::string directory = m_staging.Directory();
        try {
            m_staging.Finish();
        } catch (...) {
            NoteNotFilledAlone(directory);
            throw;
        }
        NoteMadeLookalike(directory);
    }

    std::vector<PendingDirectory> pending;
    // The places of the files and links written, with the stored names
    // they came from.
    CWrittenNames written;

    // Time first, then permissions, in extraction order.  What an error
    // leaves unprocessed is still applied when the state is destroyed.
    void ApplyPending()
    {
        FinishStaging();
        m_area.Remove();
        size_t done = 0;
        try {
            for (; done < pending.size(); ++done) {
                const PendingDirectory& dir = pending[done];
                if (ReplacedSinceMade(dir.path, m_notFilledAlone))
                    continue;
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
        // Where verified files had to stay is said; the failure that ends
        // the run keeps its status.
        m_area.Remove();
        CApplication& application = CApplication::Instance();
        const int32_t status = application.GetExitStatus();
        const std::string filled = m_staging.Directory();
        if (const std::string failure = m_staging.FinishQuietly(); !failure.empty()) {
            NoteNotFilledAlone(filled);
            if (status != 0)
                application.SetExitStatus(status);
            try {
                application.GetLogMan().Write(failure);
            } catch (...) {
                // The status tells of the failure.
            }
        }
        for (const PendingDirectory& dir : pending) {
            if (ReplacedSinceMade(dir.path, m_notFilledAlone))
                continue;
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
    std::string m_lastCleaned;
    std::unordered_set<std::string> m_cleaned;
    std::set<FilePlace> m_spared;  // see SpareArchive, NoteMadeLookalike
    bool m_freshTracked = false;
    std::string m_freshDirectory;          // made by this run for the entries now extracted
    mode_t m_freshMode = 0;                // the mode the run gives it
    CNameFilter m_freshNames;              // the names the run put there
    CStagingDirectory m_staging;           // a fresh directory filled under a hidden name
    CStagingArea m_area;                   // where staged files replacing others get a name
    std::set<FilePlace> m_notFilledAlone;  // see NoteNotFilledAlone

    static std::string_view BaseOf(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        return std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
    }
    // The directory filled under a hidden name could not take its name,
    // nor give its files to what took it (status 28): what is there now
    // keeps the mode and time it has, whoever made it.
    void NoteNotFilledAlone(const std::string& directory)
    {
        struct stat st;
        if (lstat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            m_notFilledAlone.insert({st.st_dev, st.st_ino});
    }
    void NoteLookalike(const std::string& path, const struct stat& st)
    {
        if (StagedFileOwner(BaseOf(path)) != 0)
            m_spared.insert({st.st_dev, st.st_ino});
    }

    // For NoteMissingParents: the directory of path is fresh when it is
    // missing, and stays so while nothing else is made for path.
    void NoteFreshDirectory(const std::string& path)
    {
        const size_t slash = path.rfind('/');
        const std::string_view directory(path.data(), slash == std::string::npos ? 0 : slash);
        if (m_missingParents.empty() && directory == m_freshDirectory)
            return;
        m_freshDirectory.clear();
        m_freshNames.Clear();
        for (const std::string& missing : m_missingParents)
            if (slash != std::string::npos && missing == directory) {
                m_freshDirectory = missing;
                m_freshMode = 0755 & ~m_savedMask;
            }
    }
};

// One archive of an extract or test run: its entries one at a time, then
// the links it holds.
class ArchiveExtraction {
public:
    ArchiveExtraction(CApplication& application, ExtractionState& state, CEntrySelection& selection,
                      CArchiveFile& archive, const std::string& archiveName, uint32_t& digestFailures)
        : m_application(application),
          m_options(application.GetOptions()),
          m_log(application.GetLogMan()),
          m_state(state),
          m_selection(selection),
          m_archive(archive),
          m_archiveName(archiveName),
          m_digestFailures(digestFailures),
          m_extract(m_options.commandCode == KOV_CMD_EXTRACT),
          m_verify(m_options.verify || m_options.sign),
          m_matched(m_options.fileList.size(), 0)
    {
        // The archive itself, so that no entry of it is written over it.
        FILE* handle = archive.Stream().Handle();
        m_archiveKnown = handle != nullptr && fstat(fileno(handle), &m_archiveStat) == 0;
    }

    // Selects, checks and extracts or tests one entry, and releases it.
    void Entry(CDirEntry* entry);
    // Makes the links of the archive, after its other entries.
    void MakeLinks();
    // Whether everything listed was found and done.
    bool Complete() const;

    uint32_t filesDone = 0;

private:
    bool Selected(CDirEntry* entry, const std::string& name);
    // Reports damage visible before the entry's data; true when the entry
    // is not to be processed at all.
    bool DamagedBeforeData(CDirEntry* entry, const std::string& name);
    // Takes the place the file or link named name (its name on disk) lands
    // on for the current entry; false when a file or link of another stored
    // name took it before in this run.
    bool TakePlace(const std::string& name);
    // Why the entry may not be written at path, or empty.  checkArchive:
    // whether path may still be the archive itself (a name just created
    // is not).
    std::string Refusal(const std::string& name, const EntryPath& plan, bool isLink, bool isDirectory,
                        bool checkArchive) const;
    // Makes the file of a verified entry for path in the hidden directory
    // its directory is filled under, where that is how the directory is
    // filled (see ExtractionState::StagingDirectoryFor); false when not.
    bool CreateInStagingDirectory(CFile& file, const std::string& path);
    // Time, mode and user information of an extracted entry (a file still
    // open on fd gets them through it).
    void FinishOnDisk(const std::string& path, const KoxHeaderInfo& info, bool isDirectory, bool directoryIsLink,
                      bool setMode, const std::vector<uint8_t>& userInfo, int fd = -1);

    CApplication& m_application;
    COptions& m_options;
    CLogMan& m_log;
    ExtractionState& m_state;
    CEntrySelection& m_selection;
    CArchiveFile& m_archive;
    const std::string& m_archiveName;
    uint32_t& m_digestFailures;
    const bool m_extract;
    const bool m_verify;
    std::vector<char> m_matched;
    std::vector<PendingLink> m_links;
    struct stat m_archiveStat { };
    bool m_archiveKnown = false;
    bool m_leadingNoticeGiven = false;
    bool m_refused = false;
};

bool ArchiveExtraction::Selected(CDirEntry* entry, const std::string& name)
{
    // The manifest's marker mode carries directory bits; it is a file.
    const bool directoryMode = entry->GetHeaderInfo().IsDirectoryMode() && !entry->IsSignedManifest();
    size_t listed = CEntrySelection::kNotListed;
    bool selected = false;
    // An external manifest check names the manifest by its fixed name.
    if (entry->IsSignedManifest() && m_options.externalManifest != nullptr &&
        m_selection.IndexOf(name) == CEntrySelection::kNotListed) {
        listed = m_selection.IndexOf(KOX_MANIFEST_NAME);
        selected = listed != CEntrySelection::kNotListed;
    }
    if (!selected)
        selected = m_selection.Select(name, directoryMode, &listed);
    if (listed != CEntrySelection::kNotListed)
        m_matched[listed] = 1;
    return selected;
}

bool ArchiveExtraction::DamagedBeforeData(CDirEntry* entry, const std::string& name)
{
    // A name that does not end where its header says is not trusted; data
    // blocks behind an entry that has none are reported, the reader skips
    // them and nothing of them is written.
    const std::string damage = DamageBeforeData(m_archive, *entry);
    if (damage.empty())
        return false;
    CDirEntry::ReportDamage(name, damage);
    return m_archive.NameDamaged();
}

bool ArchiveExtraction::TakePlace(const std::string& name)
{
    std::string placeBuffer, sourceBuffer;
    const std::string_view place = LandingPlace(name, m_options.absolutePaths, placeBuffer);
    if (place.empty())
        return true;  // refused by its name
    // The stored name an entry came from, by its place too (stored twice,
    // in whatever spelling, it is the same name again): in the local code
    // page where it converted into it as it was (no other stored name has
    // that form, and one that -lower and -flat leave is its own place),
    // else in UTF-8 behind a zero byte, which no name holds.  One that would
    // land nowhere (only -flat gave it a place) counts as it is spelled.
    const bool local = !m_archive.NameChanged();
    const std::string_view stored = local ? m_archive.StoredOwnName() : m_archive.StoredOwnNameUtf8();
    std::string_view source = local && stored == name ? place
                                                      : LandingPlace(stored, m_options.absolutePaths, sourceBuffer);
    if (source.empty())
        source = stored;
    if (local)
        return m_state.written.Take(place, source);
    std::string marked(1, '\0');
    marked += source;
    return m_state.written.Take(place, marked);
}

std::string ArchiveExtraction::Refusal(const std::string& name, const EntryPath& plan, bool isLink, bool isDirectory,
                                       bool checkArchive) const
{
    const std::string& path = plan.path;
    struct stat st;
    if (name.empty())
        return "KOVZEF: an entry without a name was not extracted";
    if (plan.parentComponent)
        return "KOVZEF: " + name + " not extracted: its name contains a \"..\" component";
    if (path.empty())
        return "KOVZEF: " + name + " not extracted: no name is left without its leading \"/\" and \"../\"";
    if (m_state.LeadsThroughOwnLink(path))
        return "KOVZEF: " + name + " not extracted: its path leads through a symbolic link made by this run";
    if (checkArchive && m_archiveKnown && !isLink && stat(path.c_str(), &st) == 0 &&
        st.st_dev == m_archiveStat.st_dev && st.st_ino == m_archiveStat.st_ino)
        return "KOVZEF: " + name + " not extracted: " + path + " is the archive being read";
    if (isDirectory && !isLink && lstat(path.c_str(), &st) == 0 &&
        (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return "KOVZEF: " + name + " not extracted: " + path + " exists and is no directory";
    return {};
}

void ArchiveExtraction::Entry(CDirEntry* entry)
{
    struct Release {
        CArchiveFile& archive;
        CDirEntry* entry;
        ~Release()
        {
            if (entry != nullptr)
                archive.ReleaseEntry(entry);
        }
    } release{m_archive, entry};

    const std::string name = entry->GetName();
    if (!Selected(entry, name) || DamagedBeforeData(entry, name))
        return;
    if (m_verify)
        RefuseInPlaceOfSignedFile(m_archive, *entry);
    const KoxHeaderInfo info = entry->GetHeaderInfo();
    const bool isDirectory = entry->IsDirectory();
    auto* link = dynamic_cast<CLink*>(entry);
    auto* file = dynamic_cast<CFile*>(entry);
    // Under verification a file the manifest does not list, or lists fewer
    // times than it occurs, fails its digest whatever it holds: it is only
    // tested, which records and counts that failure, and nothing of it
    // touches the disk, not even an existing file of its name.
    if (m_extract && file != nullptr && entry->IsDigestEnabled() &&
        ManifestNameUnanswered(m_archive.GetManifestContext(), entry->GetStoredName().data(),
                               entry->GetStoredName().size()) == 0) {
        CheckEntryDigests(m_archive, entry, m_digestFailures);
        return;
    }
    const EntryPath plan = PlanEntryPath(name, m_options.extractDir ? m_options.extractDir : "",
                                         m_options.absolutePaths);
    const std::string& path = plan.path;
    const bool stage = m_extract && m_verify && (file != nullptr || entry->IsSignedManifest());

    if (m_extract) {
        // Whatever else this run checks or makes on disk finds the
        // directory filled under a hidden name at its path.
        if (!(stage && file != nullptr && m_state.IntoStagingDirectory(path)) && link == nullptr)
            m_state.FinishStaging();
        if (plan.leadingRemoved && !m_leadingNoticeGiven) {
            m_leadingNoticeGiven = true;
            m_log.Write("KOVZEF: leading \"/\" and \"../\" removed from the entry names of " + KovShown(m_archiveName));
        }
        // A name the local code page cannot hold is written changed, never
        // silently; nor does it, or a name that -lower or -flat gave another
        // path, take the place of a file of another stored name.
        if (m_archive.NameChanged())
            m_log.Write(ChangedNameNotice(name, m_archive.StoredNameUtf8()));
        if (!isDirectory && !TakePlace(name)) {
            m_log.Write("KOVZEF: " + KovShown(name) +
                        " not extracted: a file of this name was written before by this run");
            m_refused = true;
            return;
        }
        // A file whose name nothing has yet is created at once, once the
        // name itself passes: that is one call instead of the checks of a
        // name that exists, and shows the name is not the archive.  Under
        // verification a file and the manifest are staged (see StageFile):
        // nothing of them reaches the path, and what is at the path stays,
        // until they passed; a free name is only looked up.
        bool pathFree = false;
        struct stat found { };
        std::string refusal = Refusal(name, plan, link != nullptr, isDirectory, file == nullptr);
        // Cleaned before this run makes anything there, so that nothing it
        // makes is taken for what a killed run left.
        if (refusal.empty() && link == nullptr) {
            m_state.CleanDirectoryOf(path);
            m_state.NoteMissingParents(path);
        }
        const bool inStagingDirectory = refusal.empty() && stage && file != nullptr &&
                                        CreateInStagingDirectory(*file, path);
        if (refusal.empty() && !inStagingDirectory && (file != nullptr || stage)) {
            pathFree = stage ? m_state.NameFree(path, found) : file->CreateNewFile(path);
            if (!pathFree && file != nullptr)
                refusal = Refusal(name, plan, false, false, true);
        }
        if (!refusal.empty()) {
            m_log.Write(KovShown(refusal));
            m_refused = true;
            return;
        }
        if (link != nullptr) {
            // Counted and shown now; made after the archive's other entries.
            if (m_options.statistics)
                m_application.GetStatistics().AddFiles();
            if (m_options.verbose)
                m_log.Write("x " + KovShown(name));
            m_links.push_back({name, path, link->GetTarget()});
            ++filesDone;
            return;
        }
        entry->SetTargetPath(path);
        if (stage && !inStagingDirectory && !pathFree && found.st_mode != 0)
            entry->StageFile(found);
        else if (stage && !inStagingDirectory)
            entry->StageFile(pathFree);
    }

    auto* directory = dynamic_cast<CDirectory*>(entry);
    if (m_extract && m_verify && directory != nullptr)
        directory->MakeWith([this, mode = static_cast<mode_t>(info.mode)](const std::string& made) {
            return m_state.StageDirectory(made, mode);
        });
    std::vector<uint8_t> userInfo;
    if (m_extract)
        userInfo = entry->GetUserInfo();
    // A file (and a staged manifest) is finished on its open descriptor.
    const bool onDescriptor = m_extract && (file != nullptr || stage);
    if (onDescriptor)
        entry->LeaveStreamOpen();
    try {
        entry->Extract(m_archive);
    } catch (...) {
        if (m_extract)
            m_state.NoteMadeLookalike(path);
        // Under verification a file whose data did not pass whole (damaged
        // blocks, a cut archive, a failed write) was never verified: a
        // staged file goes with its entry, and what is at the path stays.
        if (m_extract && file != nullptr && !entry->Staged() && file->FileDescriptor() >= 0 && m_verify)
            RemoveMadeFile(path);
        throw;
    }
    const bool existed = entry->Existed();
    const bool directoryIsLink = directory != nullptr && directory->LinkOnDisk();
    const bool digestFailed = !existed && entry->IsDigestEnabled() && !entry->IsDigestVerified();
    const bool staged = entry->Staged();
    // A staged file takes its place only when both its digest and its data
    // passed (a size its data does not have was reported as damage).
    const bool failed = digestFailed || (staged && !entry->DataComplete());
    bool finished = false;
    if (onDescriptor && !failed && entry->FileDescriptor() >= 0) {
        entry->CompleteFile();
        FinishOnDisk(path, info, false, false, true, userInfo, entry->FileDescriptor());
        finished = true;
    }
    if (m_extract) {
        // Only a file that passed takes its place; one that failed goes
        // with its entry.
        if (!failed)
            entry->CommitStaged(&m_state.StagingArea());
        else
            entry->CloseStream();
        if (directory != nullptr && !existed)
            m_state.NoteMadeDirectory(path, static_cast<mode_t>(info.mode));
        else if (!failed && (staged || isDirectory))
            m_state.NoteMade(path);
        if (!existed)
            m_state.NoteMadeLookalike(path);
    }
    m_archive.ReleaseEntry(entry);
    release.entry = nullptr;
    if (m_extract)
        m_state.FixCreatedParents();

    if (digestFailed) {
        ++m_digestFailures;
        if (m_extract && !staged)
            RemoveMadeFile(path);
        return;
    }
    if (failed)
        return;
    ++filesDone;
    if (m_extract && !finished)
        FinishOnDisk(path, info, isDirectory, directoryIsLink, !existed || m_options.changeDirPermissions, userInfo);
}

bool ArchiveExtraction::CreateInStagingDirectory(CFile& file, const std::string& path)
{
    const int directory = m_state.StagingDirectoryFor(path);
    if (directory < 0)
        return false;
    const char* base = path.c_str() + path.rfind('/') + 1;
    const int fd = openat(directory, base, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // Something else took the name there meanwhile: the directory gets
        // its name, and the file is staged beside its path as elsewhere.
        m_state.FinishStaging();
        return false;
    }
    file.StageInHiddenDirectory(fd, directory, base);
    return true;
}

void ArchiveExtraction::FinishOnDisk(const std::string& path, const KoxHeaderInfo& info, bool isDirectory,
                                     bool directoryIsLink, bool setMode, const std::vector<uint8_t>& userInfo, int fd)
{
    if (!userInfo.empty()) {
        std::string message;
        if (!RestoreUserInfo(path.c_str(), userInfo.data(), message))
            m_log.Write(message);
    }
    if (fd >= 0)
        SetDescriptorModeAndTime(fd, path.c_str(), info.mode, info.mtime);
    else if (!isDirectory)
        SetFileModeAndTime(path.c_str(), info.mode, info.mtime);
    else if (!directoryIsLink)  // a link's target keeps its own time and mode
        m_state.pending.push_back({info.mtime, path, info.mode, setMode});
}

void ArchiveExtraction::MakeLinks()
{
    // Each link is checked against the links made before it.
    for (const PendingLink& link : m_links) {
        if (m_state.LeadsThroughOwnLink(link.path)) {
            m_log.Write("KOVZEF: " + KovShown(link.name) +
                        " not extracted: its path leads through a symbolic link made by this run");
            m_refused = true;
            --filesDone;
            continue;
        }
        m_state.CleanDirectoryOf(link.path);
        m_state.NoteMissingParents(link.path);
        if (!CDirEntry::CreateParentDirectories(link.path))
            throw CCreateDirExcept(link.path);
        m_state.FixCreatedParents();
        if (symlink(link.target.c_str(), link.path.c_str()) != 0) {
            m_log.Write("KOVZEF: could not create symbolic link (error 36). " + GetErrnoText());
            m_application.SetExitStatus(36);
            continue;
        }
        m_state.RememberLink(link.path);
    }
}

bool ArchiveExtraction::Complete() const
{
    if (m_refused)
        return false;
    const size_t listed = m_options.fileList.size();
    if (listed == 0)
        return true;
    if (filesDone < listed)
        return false;
    for (char hit : m_matched)
        if (!hit)
            return false;
    return true;
}

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

    const std::vector<std::string> archives = options.GetArchiveList();
    CEntrySelection selection(options.fileList);
    ExtractionState state(isExtract);
    // No clean-up takes an archive this run is to read, whatever its name.
    if (isExtract)
        for (const std::string& archiveName : archives)
            if (struct stat st; stat(archiveName.c_str(), &st) == 0)
                state.SpareArchive(st);
    if (isExtract && verify)
        state.TrackFreshDirectories();
    // Large entries are decoded on worker threads when the machine has
    // processors to spare; the output and the messages are the same.
    // A verified extraction stops at its next safe point on a stop signal,
    // so that the file it is writing is removed, not left behind.
    if (isExtract && verify)
        InstallStopSignalHandlers();
    std::unique_ptr<CBlockDecoder> decoder = CBlockDecoder::Create(CHandleWorkers::ForThisMachine());
    struct Published {
        explicit Published(CBlockDecoder* decoder) { CBlockDecoder::Publish(decoder); }
        ~Published() { CBlockDecoder::Publish(nullptr); }
    } published(decoder.get());

    for (const std::string& archiveName : archives) {
        try {
            bool complete = true;
            {
                CArchiveFile archive(archiveName, KOV_OPEN_READ);
                // Entry headers and small files come in few large reads.
                archive.Stream().SetBufferSize(kArchiveReadBuffer);
                StartArchiveWalk(archive, archiveName, m_application, verify);
                state.ForgetParentCache();
                ArchiveExtraction run(m_application, state, selection, archive, archiveName, digestFailures);
                try {
                    for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry()) {
                        StopIfRequested();
                        if (verify)
                            RefuseUnverifiedManifest(archive, *entry);
                        run.Entry(entry);
                    }
                    state.FinishStaging();
                    // Without names every entry was checked, so every file
                    // the manifest lists must have been met.  Checked before
                    // the links are made: an archive that fails verification
                    // leaves no link behind, not even one in the place of a
                    // signed file it lacks.
                    if (verify)
                        CheckEntryDigests(archive, nullptr, digestFailures, options.fileList.empty());
                    run.MakeLinks();
                } catch (...) {
                    filesDone += run.filesDone;
                    throw;
                }
                filesDone += run.filesDone;

                if (isExtract)
                    state.ApplyPending();

                if (verify)
                    ShowSignatureInfo(archive, m_application);
                complete = run.Complete();
            }  // the archive is closed here
            if (!complete) {
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
            if (isExtract && state.MadeLinks()) {
                // The old-format library creates its files by path and knows
                // nothing of the links made here, so it could write through
                // them: once links exist it is not run for extraction.
                log.Write(
                    "KOVZEF: " + KovShown(archiveName) +
                    " not extracted: old-format archives are not extracted after symbolic links made by this run");
                m_application.SetExitStatus(40);
                continue;
            }
            // Each archive the expansion of -f gave is handed on by its name,
            // as the list command does.
            const uint32_t filesBefore = oldArchiveFilesDone;
            uint32_t errorNumber = 0;
            state.SuspendMask();
            try {
                if (!RunOldFormatPass(archiveName, errorNumber))
                    m_application.SetExitStatus(40);
            } catch (...) {
                state.ResumeMask();
                throw;
            }
            state.ResumeMask();
            filesDone += oldArchiveFilesDone - filesBefore;
            printSummary = false;
        }
    }
}
