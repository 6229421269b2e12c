#include "app/create.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/chunkpipeline.h"
#include "app/cmdsignature.h"
#include "app/compressstrategy.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/handleworkers.h"
#include "app/options.h"
#include "app/signedplaces.h"
#include "app/stdoutarchive.h"
#include "app/stopsignal.h"

namespace {

// stdio buffer of the archive being written: two chunks, so most blocks
// leave in whole-buffer writes.
constexpr size_t kArchiveBufferSize = 2 * KOX_CHUNK_SIZE;

template <class T>
unsigned char* AllocateStorage()
{
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    return new unsigned char[sizeof(T)];
}

// Ends the life of an entry built in one of the command's storages, also
// when writing it throws.
struct EntryInStorage {
    CDirEntry* entry = nullptr;
    ~EntryInStorage()
    {
        if (entry != nullptr)
            entry->~CDirEntry();
    }
};

bool HasWildcard(const std::string& name)
{
    size_t slash = name.rfind('/');
    size_t start = slash == std::string::npos ? 0 : slash + 1;
    return name.find_first_of("*?", start) != std::string::npos;
}

// Puts a name into a find record (bounded, terminated, no padding).
void SetFindName(FindData& data, const std::string& name)
{
    const size_t n = std::min(name.size(), sizeof data.name - 1);
    std::memcpy(data.name, name.data(), n);
    data.name[n] = '\0';
}

// Attribute word of a path as the directory reader would give it.
bool LinkAttributes(const std::string& path, uint32_t& attributes)
{
    return GetLinkAttributes(path.c_str(), attributes);
}

// Archive open mode and whether an archive header must be written first.
struct OpenPlan {
    uint32_t mode = KOV_OPEN_CREATE;
    bool writeHeader = true;
};

// An append or sign run keeps the bytes already there.  A missing or empty
// file (for which the run writes a new one, fresh) gets an archive header
// first; anything but a "2.01" KOX archive is refused before it is opened
// for writing.
OpenPlan PlanExistingArchive(const std::string& name, bool signing, bool fresh)
{
    OpenPlan plan;
    plan.mode = signing ? KOV_OPEN_UPDATE : KOV_OPEN_APPEND;
    struct stat st;
    if (fresh || stat(name.c_str(), &st) != 0) {
        // Missing: created by the append open (an update open reports it).
        plan.writeHeader = true;
        return plan;
    }
    const std::string refusal = "KOVZEF: can not append to " + KovShown(name) +
                                ", which is no KOX archive of version 2.01";
    if (!S_ISREG(st.st_mode))
        throw CExcept(refusal, 1, false);
    if (st.st_size == 0) {
        plan.writeHeader = true;
        return plan;
    }
    plan.writeHeader = false;
    CFileStream stream(name.c_str(), KOV_OPEN_READ);
    if (!stream.IsOpen())
        throw COpenExcept(name, stream.LastError());
    char header[KOX_ARCHIVE_HEADER_SIZE];
    size_t got = 0;
    if (!stream.Read(header, sizeof header, &got) || got != sizeof header || std::memcmp(header, KOX_MAGIC, 4) != 0 ||
        std::memcmp(header + 4, KOX_VERSION_201, 4) != 0)
        throw CExcept(refusal, 1, false);
    // Entries written behind a cut or damaged entry would be read as part of
    // it and be lost: the existing entries are walked first (their data
    // blocks are skipped, not read), and a failure ends the run untouched.
    CArchiveFile existing(name, KOV_OPEN_READ);
    for (CDirEntry* entry = existing.FirstEntry(); entry != nullptr; entry = existing.NextEntry())
        existing.ReleaseEntry(entry);
    return plan;
}

// An append or signing run whose signature step failed, its archive kept
// all the same (option i): the archive ends where the entries the run wrote
// end (what they did not write over of an old manifest entry goes, as the
// new manifest would have taken it), and it is put on storage with the
// run's first bytes, before the run's undo record can go.  A run that wrote
// no entry (from where its entries begin on) leaves the archive as it was.
void KeepEntriesUnsigned(CArchiveFile& archive, uint64_t entriesFrom)
{
    CFileStream& stream = archive.Stream();
    uint64_t end = 0;
    struct stat st;
    if (!stream.Tell(&end) || fstat(fileno(stream.Handle()), &st) != 0)
        throw CWriteExcept(archive.GetPath(), errno);
    if (end == entriesFrom)
        return;
    if (static_cast<uint64_t>(st.st_size) > end && (!stream.Seek(end) || !stream.Truncate()))
        throw CWriteExcept(archive.GetPath(), errno);
    archive.SyncAndClose();
}

}  // namespace

CCreate::CCreate(CApplication& application)
    : m_application(application),
      m_directoryStorage(AllocateStorage<CDirectory>()),
      m_fileStorage(AllocateStorage<CFile>()),
      m_linkStorage(AllocateStorage<CLink>())
{
}

CCreate::~CCreate()
{
    delete[] m_directoryStorage;
    delete[] m_fileStorage;
    delete[] m_linkStorage;
    if (m_strategy != nullptr) {
        ICompressStrategy::Publish(nullptr);
        delete m_strategy;
    }
}

void CCreate::Execute()
{
    COptions& options = m_application.GetOptions();
    const int32_t command = options.commandCode;
    const bool signing = SignatureRequested(m_application);
    const std::string archiveName = m_application.GetArchiveName();

    // A signing run keeps its entries' places (see CSigningPlaces) as long
    // as its archive is open.
    CSigningPlaces places;
    // An archive that goes to standard output is a new one, as a create's.
    OpenPlan plan;
    if (command != KOV_CMD_CREATE && !m_application.WritesStandardOutput())
        plan = PlanExistingArchive(archiveName, signing, m_application.WritesNewArchive());

    // A create writes a new file beside the archive, which replaces it at
    // the end of a successful run; messages name the archive all the same.
    // An archive that goes to standard output is written to descriptor 1
    // where it stands.
    std::unique_ptr<CArchiveFile> opened;
    if (m_application.WritesStandardOutput())
        opened = std::make_unique<CArchiveFile>(DuplicateStandardOutput(), plan.mode, archiveName);
    else
        opened = std::make_unique<CArchiveFile>(m_application.GetArchiveWriteName(), plan.mode, archiveName);
    CArchiveFile& archive = *opened;
    // Blocks of up to a chunk and their headers go out in large writes.
    archive.Stream().SetBufferSize(kArchiveBufferSize);
    // An archive that was there gets the run's undo record first.
    m_application.WatchArchiveWrites(archive.Stream());

    // The archive is never added to itself, whatever name leads to it.
    struct stat self;
    if (FILE* handle = archive.Stream().Handle(); handle != nullptr && fstat(fileno(handle), &self) == 0) {
        m_haveArchiveId = true;
        m_archiveDev = self.st_dev;
        m_archiveIno = self.st_ino;
    }

    if (options.changeDir != nullptr && chdir(options.changeDir) != 0)
        throw CChgDirExcept(options.changeDir);

    auto* strategy = new CNormalCompress();
    m_strategy = strategy;
    ICompressStrategy::Publish(m_strategy);
    // Chunks are compressed on worker threads when the machine has cores to
    // spare; the archive comes out the same.  A signing run too: each file's
    // digest is taken on this thread from the data as read, before the chunk
    // is handed over, and every read or seek of the archive (the signature
    // check, the manifest's place) first writes out what is queued.  The
    // pipeline is declared after the archive: when the run ends early it
    // writes what it still holds and is gone before the archive is closed.
    std::unique_ptr<CChunkPipeline> pipeline = CChunkPipeline::Attach(archive.Stream(),
                                                                      CHandleWorkers::ForThisMachine());
    struct PipelineInUse {
        CNormalCompress* strategy;
        ~PipelineInUse() { strategy->SetPipeline(nullptr); }
    } pipelineInUse{strategy};
    strategy->SetPipeline(pipeline.get());
    m_digestEnabled = options.verify || command == KOV_CMD_SIGN;
    m_failedDigests = 0;

    if (plan.writeHeader) {
        if (plan.mode == KOV_OPEN_CREATE) {
            archive.WriteArchiveHeader();
        } else {
            // An archive object opened on an existing file holds no header of
            // its own to write: a new or empty file gets the current one.
            uint8_t header[KOX_ARCHIVE_HEADER_SIZE];
            std::memcpy(header, KOX_MAGIC, 4);
            std::memcpy(header + 4, KOX_VERSION_201, 4);
            size_t put = 0;
            if (!archive.Stream().Write(header, sizeof header, &put) || put != sizeof header)
                throw CWriteExcept(archiveName);
        }
        m_application.NoteArchiveBegun();
    }

    // Where the entries of an append or signing run begin, in a file it
    // may keep without a signature (below).
    const bool keptInFile = command != KOV_CMD_CREATE && !m_application.WritesStandardOutput();
    uint64_t entriesFrom = 0;
    if (signing) {
        archive.SetSigningPlaces(&places);
        VerifyArchiveSignature(true, archive, m_application);
        if (keptInFile && !archive.Stream().Tell(&entriesFrom))
            throw CGetFilePosExcept();
    }

    for (const std::string& name : options.fileList) {
        if (HasWildcard(name)) {
            ProcessDirectory(name, archive);
            continue;
        }
        if (name == "." || name == "..") {
            ProcessDirectory(name + "/*", archive);
            continue;
        }
        // A name is looked up directly: its last component is no pattern, so
        // listing the whole directory to find it would only cost time.  A
        // trailing "/" leaves an empty last component that names nothing.
        uint32_t attributes = 0;
        if (name.empty() || name.back() == '/' || !LinkAttributes(name, attributes)) {
            m_application.ReportInaccessible(name);
            continue;
        }
        FindData data;
        SetFindName(data, name);
        switch (CDirEntry::GetFindDataKind(attributes, attributes)) {
        case CDirEntry::kKindDirectory:
            WriteDirectory(name, archive);
            ProcessDirectory(name + "/*", archive);
            break;
        case CDirEntry::kKindRegular:
            WriteFileUnlessArchive(name, archive, true);
            break;
        case CDirEntry::kKindSymlink:
            if (!options.resolveLinks)
                WriteLink(name, archive);
            else
                WriteResolvedLink(name, data, archive, true);
            break;
        default:
            m_application.ReportInaccessible(name);
            break;
        }
    }

    if (signing) {
        // A new archive that is kept takes its name once on storage, as a
        // whole one does; one on standard output is ended as the run's
        // failure has it.
        const auto keepUnsigned = [&] {
            if (!m_application.KeepsArchiveOfFailedSigning() || m_application.WritesStandardOutput())
                return;
            if (keptInFile)
                KeepEntriesUnsigned(archive, entriesFrom);
            else
                archive.SyncAndClose();
        };
        try {
            CheckEntryDigests(archive, nullptr, m_failedDigests);
            SignArchive(archive, m_application, *m_strategy, plan.mode);
        } catch (const CInvalManifestExcept&) {
            keepUnsigned();
            throw;
        } catch (const CInvalSignatureExcept&) {
            keepUnsigned();
            throw;
        }
    }
    archive.SyncAndClose();
}

bool CCreate::IsArchiveItself(const std::string& path) const
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    return IsArchiveItself(st);
}

bool CCreate::IsArchiveItself(const struct stat& st) const
{
    return (m_haveArchiveId && st.st_dev == m_archiveDev && st.st_ino == m_archiveIno) ||
           m_application.IsReplacedArchive(st);
}

void CCreate::WriteFileUnlessArchive(const std::string& path, CArchiveFile& archive, bool countDigest)
{
    // The stat that compares the file with the archive also fills the
    // entry's header, so a file costs one call here instead of two.  With
    // -r the header wants an lstat: for a file that is no link it answers
    // like stat, so it serves both; anything else takes the long way.
    const bool followLinks = m_application.GetOptions().resolveLinks;
    struct stat st;
    // A file the listing showed to be regular is opened at once and told
    // apart from the archive, and described, by its descriptor: one call
    // fewer than a stat by name.  Anything else goes the long way.
    if (m_haveArchiveId) {
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                if (IsArchiveItself(st))
                    close(fd);
                else
                    WriteFile(path, archive, countDigest, &st, false, fd);
                return;
            }
            close(fd);
        }
    }
    if (!m_haveArchiveId || (followLinks ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0 ||
        (!followLinks && !S_ISREG(st.st_mode))) {
        if (!IsArchiveItself(path))
            WriteFile(path, archive, countDigest);
        return;
    }
    if (!IsArchiveItself(st))
        WriteFile(path, archive, countDigest, &st, followLinks);
}

void CCreate::WriteEntry(CDirEntry* entry, CArchiveFile& archive)
{
    StopIfRequested();
    m_strategy->SetEntry(entry);
    entry->AddToArchive(archive);
    m_strategy->SetEntry(nullptr);
}

void CCreate::WriteDirectory(const std::string& path, CArchiveFile& archive)
{
    EntryInStorage guard;
    guard.entry = new (m_directoryStorage) CDirectory(path);
    WriteEntry(guard.entry, archive);
}

void CCreate::WriteFile(const std::string& path, CArchiveFile& archive, bool countDigest, const struct stat* seen,
                        bool seenFollowedLinks, int fd)
{
    EntryInStorage guard;
    CFile* file = new (m_fileStorage) CFile(path);
    guard.entry = file;
    file->SetDigestEnabled(m_digestEnabled);
    if (seen)
        file->SetFreshStat(*seen, seenFollowedLinks);
    if (fd >= 0)
        file->AdoptOpenFile(fd);
    WriteEntry(file, archive);
    if (countDigest)
        CountMissingDigest(*file);
}

void CCreate::CountMissingDigest(const CDirEntry& entry)
{
    // A file that was skipped or reported inaccessible is not in the
    // archive, and the manifest rightly does not list it.
    if (entry.InArchive() && entry.IsDigestEnabled() && !entry.IsDigestVerified())
        ++m_failedDigests;
}

void CCreate::WriteLink(const std::string& path, CArchiveFile& archive)
{
    EntryInStorage guard;
    guard.entry = new (m_linkStorage) CLink(path);
    WriteEntry(guard.entry, archive);
}

void CCreate::WriteResolvedLink(const std::string& path, const FindData& data, CArchiveFile& archive, bool countDigest)
{
    EntryInStorage guard;
    guard.entry = CreateFileObject(path, data);
    if (guard.entry == nullptr) {
        // The link is gone since it was listed: reported like a file that
        // vanished, and the run goes on.
        m_application.ReportInaccessible(path, KovSystemErrorText(errno));
        return;
    }
    if (!guard.entry->IsDirectory() && IsArchiveItself(path))
        return;
    WriteEntry(guard.entry, archive);
    if (countDigest)
        CountMissingDigest(*guard.entry);
}

CDirEntry* CCreate::CreateFileObject(const std::string& path, const FindData& /*data*/)
{
    // Each look at the link decides on what it finds, so that a link gone
    // at any moment since it was listed is reported, not taken for an error
    // of the run.
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return new (m_directoryStorage) CDirectory(path);
        if (!S_ISREG(st.st_mode))
            throw CExcept("KOVZEF: error creating file object for " + KovShown(path), 100, true);
    } else {
        const int statError = errno;
        struct stat own;
        if (lstat(path.c_str(), &own) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return nullptr;
            throw CAccessExcept(path);
        }
        if (!S_ISLNK(own.st_mode))
            throw CExcept("KOVZEF: error creating file object for " + KovShown(path), 100, true, statError);
        if (statError == ELOOP)
            throw CStatExcept(path, statError);
        // A link that leads nowhere is stored as a file, which reports it.
    }
    CFile* file = new (m_fileStorage) CFile(path);
    file->SetDigestEnabled(m_digestEnabled);
    return file;
}

void CCreate::AddChild(const std::string& path, uint32_t attributes, const FindData& data, CArchiveFile& archive)
{
    switch (CDirEntry::GetFindDataKind(attributes, attributes)) {
    case CDirEntry::kKindDirectory:
        WriteDirectory(path, archive);
        ProcessDirectory(path + "/*", archive);
        break;
    case CDirEntry::kKindRegular:
        WriteFileUnlessArchive(path, archive, false);
        break;
    case CDirEntry::kKindSymlink:
        if (!m_application.GetOptions().resolveLinks)
            WriteLink(path, archive);
        else
            WriteResolvedLink(path, data, archive, false);
        break;
    default:
        break;  // devices, pipes and sockets met inside a walk are skipped
    }
}

void CCreate::ProcessDirectory(const std::string& path, CArchiveFile& archive)
{
    // Directory part: the whole path without a "/", the root or the single
    // first character when the last "/" is at position 0 or 1, else the text
    // before the last "/".  Children are named below it unless it is the path.
    std::string directory;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        directory = path;
    else if (slash <= 1)
        directory = path.substr(0, 1);
    else
        directory = path.substr(0, slash);
    const std::string prefix = directory == path ? std::string() : directory;

    // The listing lives on the heap and is closed before recursing, so a deep
    // tree costs neither stack nor open directories per level.
    auto data = std::make_unique<FindData>();
    std::vector<FoundEntry> entries;
    int endCode = KOV_NO_MORE_FILES;
    if (!FindAll(path.c_str(), *data, entries, endCode)) {
        m_application.ReportInaccessible(path);
        return;
    }
    std::string child;
    for (const FoundEntry& found : entries) {
        const std::string& name = found.name;
        if (name == "." || name == "..")
            continue;
        if (prefix.empty()) {
            child = name;
        } else {
            child = prefix;
            if (child.back() != '/' && name.front() != '/')
                child += '/';
            child += name;
        }
        SetFindName(*data, name);
        AddChild(child, found.attributes, *data, archive);
    }
    if (endCode != KOV_NO_MORE_FILES)
        throw CExcept("KOVZEF: error in CCreate::ProcessDirectory", 100, true, endCode);
}
