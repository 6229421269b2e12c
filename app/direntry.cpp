// Common parts of all entries: construction, header writing, adding to an
// archive, the data pass of extraction and testing, and the path helpers.
#include "app/direntry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/blockdecoder.h"
#include "app/cmdsignature.h"
#include "app/compressstrategy.h"
#include "app/entryinfo.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/namecodes.h"
#include "app/statistics.h"
#include "app/stagingarea.h"
#include "app/stalefiles.h"
#include "app/stopsignal.h"
#include "app/writtennames.h"
#include "cslib/cslib.h"
#include "cslib/crc32.h"
#include "krn/rscp/cputf8local.h"
#include "oldformat/entrypath.h"

namespace {

// The failures of putting a file at its path, with the name shown escaped.
[[noreturn]] void ThrowNotWritable(const std::string& name, int err = errno)
{
    throw CExcept("KOVZEF: could not open for writing " + KovShown(name), 28, true, err);
}

[[noreturn]] void ThrowNotDeleted(const std::string& name)
{
    throw CExcept("KOVZEF: force mode (option -j): could not delete " + KovShown(name), 28, true);
}

// Directories left out by the exclude list; their contents are left out too.
std::unordered_set<std::string>& ExcludedDirectories()
{
    static std::unordered_set<std::string> dirs;
    return dirs;
}

// The places of the files and links this run stored, with the names on disk
// they came from.
CWrittenNames& StoredNames()
{
    static CWrittenNames names;
    return names;
}

bool UnderExcludedDirectory(const std::string& name)
{
    const auto& dirs = ExcludedDirectories();
    if (dirs.empty())
        return false;
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1))
        if (dirs.count(name.substr(0, pos)))
            return true;
    return false;
}

bool IsLinkOnDisk(const std::string& name)
{
    uint32_t attributes = 0;
    return GetLinkAttributes(name.c_str(), attributes) && attributes == KOV_ATTR_SYMLINK;
}

}  // namespace

CDirEntry::CDirEntry(const std::string& name)
    : m_name(name),
      m_storedName(name),
      m_stream(&m_ownStream)
{
}

CDirEntry::CDirEntry(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
                     std::vector<uint8_t> userInfo)
    : m_name(name),
      m_storedName(storedName),
      m_info(info),
      m_stream(&m_ownStream),
      m_userInfo(std::move(userInfo))
{
}

CDirEntry::~CDirEntry()
{
    DiscardStaged();
    if (m_aliveFlag)
        *m_aliveFlag = false;
}

void CDirEntry::CloseStream()
{
    if (!m_stream->Close())
        throw CWriteExcept(m_name, m_stream->LastError());
}

int CDirEntry::GetFindDataKind(uint32_t attributes, uint32_t mode)
{
    if (attributes & KOV_ATTR_DIRECTORY)
        return kKindDirectory;
    switch (mode & KOX_MODE_TYPE_MASK) {
    case KOX_MODE_SYMLINK:
        return kKindSymlink;
    case KOX_MODE_REGULAR:
        return kKindRegular;
    default:
        return kKindOther;
    }
}

std::string CDirEntry::JoinPath(const std::string& path, const std::string& directory)
{
    if (directory.empty() || path.empty())
        return path;
    return JoinTargetDirectory(directory, std::string_view(path).substr(path[0] == '/' ? 1 : 0));
}

bool CDirEntry::CreateParentDirectories(const std::string& name)
{
    // Only "/" separates the parts: a backslash is a character of the file's
    // name, as the file is created under that name when its directory is
    // there, so "d\f.txt" makes no directory "d".
    auto IsSeparator = [&name](size_t i) { return name[i] == '/'; };
    // The longest leading part that exists, scanning from the end; a name
    // whose only separator leads it counts the root as existing.
    size_t start = std::string::npos;
    for (size_t i = name.size(); i-- > 0;) {
        if (!IsSeparator(i))
            continue;
        if (i == 0 || access(name.substr(0, i).c_str(), F_OK) == 0) {
            start = i;
            break;
        }
    }
    for (size_t i = start == std::string::npos ? 0 : start + 1; i < name.size(); ++i) {
        if (!IsSeparator(i) || i == 0)
            continue;
        if (!CreateDirectory(name.substr(0, i).c_str()))
            return false;
    }
    return true;
}

std::string CDirEntry::TargetPath() const
{
    if (!m_targetPath.empty())
        return m_targetPath;
    const COptions& opt = COptions::Instance();
    if (opt.extractDir && !m_name.empty() && m_name[0] != '/')
        return JoinPath(m_name, opt.extractDir);
    return m_name;
}

std::string CDirEntry::StoredNameUtf8() const
{
    std::string utf8;
    if (m_linkNameLength == std::string::npos) {
        if (!Utf8OfLocal(m_storedName, utf8))
            throw CConversionExcept(m_storedName);
        return utf8;
    }
    // A link's name and target apart: a character its name ends in never
    // takes the "|" for one of its bytes.
    std::string target;
    if (!Utf8OfLocal(m_storedName.substr(0, m_linkNameLength), utf8) ||
        !Utf8OfLocal(m_storedName.substr(m_linkNameLength + 1), target))
        throw CConversionExcept(m_storedName);
    utf8 += KOX_LINK_SEPARATOR;
    utf8 += target;
    return utf8;
}

bool CDirEntry::StoredNameComesBack(const std::string& utf8) const
{
    // Bytes that are their own UTF-8 form are the same text; so are bytes
    // the code page converts one by one, each to a character of its own.
    if (utf8 == m_storedName ||
        (m_linkNameLength == std::string::npos && ComesBackByCharactersCP(m_storedName.data(), m_storedName.size())))
        return true;
    std::string local, target;
    if (m_linkNameLength == std::string::npos)
        return LocalOfUtf8(utf8, local) && local == m_storedName;
    const size_t bar = utf8.find(KOX_LINK_SEPARATOR);
    if (bar == std::string::npos || !LocalOfUtf8(utf8.substr(0, bar), local) ||
        !LocalOfUtf8(utf8.substr(bar + 1), target))
        return false;
    return local.size() == m_linkNameLength && m_storedName.compare(0, local.size(), local) == 0 &&
           m_storedName.compare(local.size() + 1, std::string::npos, target) == 0;
}

void CDirEntry::WriteHeader(CArchiveFile& archive, const KoxHeaderInfo& info)
{
    WriteHeaderNamed(archive, info, StoredNameUtf8());
}

void CDirEntry::WriteHeaderNamed(CArchiveFile& archive, const KoxHeaderInfo& info, const std::string& utf8)
{
    // A signing run adds nothing that its archive's readers would refuse.
    RefuseAddedInTakenPlace(archive, *this, info);
    if (utf8.size() + 1 > KOX_NAME_BUFFER_SIZE)
        throw CExcept("KOVZEF: name too long for the archive: " + KovShown(m_storedName), 100, false);
    KoxHeaderInfo h = info;
    h.nameLength = static_cast<uint16_t>(utf8.size() + 1);
    h.userInfoLength = static_cast<uint16_t>(m_userInfo.size());
    std::vector<uint8_t> record(KOX_ENTRY_HEADER_SIZE + utf8.size() + 1 + m_userInfo.size());
    KoxEncodeEntryHeader(h, record.data());
    memcpy(record.data() + KOX_ENTRY_HEADER_SIZE, utf8.data(), utf8.size());
    record[KOX_ENTRY_HEADER_SIZE + utf8.size()] = 0;
    if (!m_userInfo.empty())
        memcpy(record.data() + KOX_ENTRY_HEADER_SIZE + utf8.size() + 1, m_userInfo.data(), m_userInfo.size());
    size_t put = 0;
    if (!archive.Stream().Write(record.data(), record.size(), &put) || put != record.size())
        throw CWriteExcept(archive.GetPath());
    m_inArchive = true;
}

void CDirEntry::PrintListing()
{
    CEntryInfo line(m_info, m_name, IsDigestVerified() ? 1 : 0);
    CApplication::Instance().GetLogMan().Write(line);
}

void CDirEntry::RunDigestOfEmptyFile(ManifestContext* context)
{
    ManifestFile* digest = GetDigestContext();
    if (!digest)
        return;
    const bool ok = ManifestOpenFile(context, digest, m_storedName.c_str(), m_storedName.size(), 0) == 0 &&
                    ManifestUpdateFile(digest, nullptr, 0) == 0;
    m_digestVerified = ManifestCloseFile(digest) == 0 && ok;
}

// ---- adding to an archive ----------------------------------------------------

void CDirEntry::NoteStoredName(const std::string& utf8) const
{
    CApplication& app = CApplication::Instance();
    const bool changed = !StoredNameComesBack(utf8);
    if (changed)
        app.GetLogMan().Write("KOVZEF: " + KovShown(m_name) + ": name changed, stored as \"" + KovEscapedBytes(utf8) +
                              "\"");
    if (IsDirectory())
        return;
    // Every file and link is noted by the place its stored name lands on
    // (a link where its own name says), with the file it came from: two
    // names of one place would be one file when extracted, however the
    // place came to be spelled so ("./a" and "a", a character the code
    // page could not convert, a second spelling in a stateful page, a
    // rename list).  The same file given twice takes its own place.
    const size_t ownUtf8 = m_linkNameLength == std::string::npos ? utf8.size() : utf8.find(KOX_LINK_SEPARATOR);
    const std::string_view stored = std::string_view(utf8).substr(0, ownUtf8);
    std::string placeBuffer, sourceBuffer;
    const std::string_view place = LandingPlace(stored, false, placeBuffer);
    if (place.empty())
        return;  // extraction refuses the name
    const bool renamed = std::string_view(m_storedName).substr(0, m_linkNameLength) != m_name;
    const std::string_view source = !renamed && !changed && stored == place
                                        ? place
                                        : SourceOf(stored, renamed, changed, sourceBuffer);
    if (!StoredNames().Take(place, source)) {
        app.GetLogMan().Write("KOVZEF: " + KovShown(m_name) +
                              ": stored under the name of another file of this run, \"" + KovEscapedBytes(stored) +
                              "\" (error 47)");
        app.SetExitStatus(47);
    }
}

std::string_view CDirEntry::SourceOf(std::string_view storedUtf8, bool renamed, bool changed, std::string& buffer) const
{
    std::string utf8, local;
    if (!renamed)
        utf8 = storedUtf8;
    const bool back = renamed ? Utf8OfLocal(m_name, utf8) && (ComesBackByCharactersCP(m_name.data(), m_name.size()) ||
                                                              (LocalOfUtf8(utf8, local) && local == m_name))
                              : !changed;
    std::string normal;
    if (back) {
        buffer = NormalPath(utf8, normal);
        return buffer;
    }
    buffer.assign(1, '\0');
    buffer += NormalPath(m_name, normal);
    return buffer;
}

void CDirEntry::AddToArchive(CArchiveFile& archive)
{
    CApplication& app = CApplication::Instance();
    COptions& opt = COptions::Instance();
    const bool digestEnabled = IsDigestEnabled();
    const bool manifest = IsSignedManifest();

    // The manifest entry keeps its fixed name: selection and renaming do not
    // apply to it.
    if (!manifest) {
        if (!opt.excludeList.empty()) {
            if (app.IsListed(m_name)) {
                if (IsDirectory())
                    ExcludedDirectories().insert(m_name);
                return;
            }
            if (UnderExcludedDirectory(m_name))
                return;
        }
        if (opt.absolutePaths && !m_name.empty() && m_name[0] != '/') {
            char cwd[KOV_PATH_MAX];
            if (!getcwd(cwd, sizeof cwd))
                throw CGetCwdExcept();
            m_name = JoinPath(m_name, cwd);
            m_storedName = m_name;
        }
        if (!opt.renameMap.empty())
            opt.GetNewName(m_name, m_storedName);
    }
    if (opt.statistics)
        app.GetStatistics().AddFiles();
    if (opt.verbose && !manifest)
        app.GetLogMan().Write((g_abandonArchive ? "t " : "a ") + KovShown(m_name));

    errno = 0;
    if (!PrepareStoredName() || !FillHeaderInfo(m_info)) {
        const int err = errno;
        if (IsLinkOnDisk(m_name)) {
            app.SetExitStatus(45);
            app.ReportInaccessible(m_name, "broken link");
        } else {
            app.ReportInaccessible(m_name, KovSystemErrorText(err));
        }
        return;
    }
    // A name its own reader would refuse is not written.
    const std::string utf8 = StoredNameUtf8();
    const size_t utf8Length = utf8.size();
    if (utf8Length + 1 > KOX_NAME_BUFFER_SIZE) {
        app.ReportInaccessible(m_name, "name too long for the archive (" + std::to_string(utf8Length) +
                                           " bytes in UTF-8, at most " + std::to_string(KOX_NAME_BUFFER_SIZE - 1) +
                                           ")");
        return;
    }
    // The manifest lists a name with slashes for its backslashes, and a
    // signed file is looked up under its name as stored: a file named with
    // a backslash would be signed under a name it does not have and never
    // pass verification.
    if (digestEnabled && utf8.find('\\') != std::string::npos) {
        app.ReportInaccessible(m_name, "a signed archive can not hold a backslash in a name");
        return;
    }

    if (const std::string refusal = StoreRefusal(); !refusal.empty()) {
        app.ReportInaccessible(m_name, refusal);
        return;
    }
    NoteStoredName(utf8);

    ICompressStrategy& strategy = ICompressStrategy::Current();
    if (m_info.mode & KOX_MODE_DIRECTORY) {
        if (g_abandonArchive)
            return;
        WriteHeaderNamed(archive, m_info, utf8);
        if (manifest) {
            strategy.SetEntry(this);
            strategy.Compress(archive);
        }
        return;
    }

    const uint32_t type = m_info.mode & KOX_MODE_TYPE_MASK;
    if (type == KOX_MODE_FIFO || type == KOX_MODE_SOCKET) {
        // Opening a pipe would wait for a writer; sockets cannot be read.
        app.ReportInaccessible(m_name, "not a regular file");
        return;
    }
    const bool storedLink = m_info.IsType(KOX_TYPE_LINK) && !opt.resolveLinks;
    if (!storedLink) {
        // A file of its own is read on the bare descriptor, in whole chunks
        // (its creator may have opened it already).
        if (m_stream != &m_ownStream)
            m_stream->Open(m_name.c_str(), KOV_OPEN_READ);
        else if (!m_ownStream.IsOpen())
            m_ownStream.OpenDirect(m_name.c_str(), KOV_OPEN_READ);
        if (!m_stream->IsOpen()) {
            const int err = m_stream->LastError();
            const bool link = IsLinkOnDisk(m_name);
            if (link && !opt.resolveLinks) {
                if (!g_abandonArchive)
                    WriteHeaderNamed(archive, m_info, utf8);
            } else if (link) {
                app.SetExitStatus(45);
                app.ReportInaccessible(m_name, "broken link");
            } else {
                app.ReportInaccessible(m_name, KovSystemErrorText(err));
            }
            return;
        }
        // The data is read in whole chunks into the transfer buffer.
        m_stream->SetUnbuffered();
    }
    if (g_abandonArchive) {
        m_stream->Close();
        return;
    }
    WriteHeaderNamed(archive, m_info, utf8);
    ManifestContext* context = archive.GetManifestContext();
    if (m_info.TotalSize() == 0) {
        if (m_info.IsType(KOX_TYPE_FILE) && digestEnabled)
            RunDigestOfEmptyFile(context);
        // An empty file is stored empty; one that gained bytes meanwhile is
        // reported like any file that grew.
        if (m_info.IsType(KOX_TYPE_FILE) && type == KOX_MODE_REGULAR)
            ReportIfFileGrew(*m_stream, m_name, 0);
    } else {
        ManifestFile* digest = GetDigestContext();
        if (digestEnabled && digest) {
            const int rc = ManifestOpenFile(context, digest, m_storedName.c_str(), m_storedName.size(), 0);
            if (rc != 0)
                throw CInvalManifestExcept("KOVZEF: Cannot hash file " + KovShown(m_name), rc,
                                           ManifestGetSsfRc(context));
        }
        strategy.SetEntry(this);
        strategy.Compress(archive);
        if (digestEnabled && digest) {
            const int rc = ManifestCloseFile(digest);
            if (rc != 0) {
                std::string detail = "KOVZEF: Manifest file hash creation invalid for " + KovShown(m_name);
                if (opt.verbose)
                    detail += std::string(" Error \n") + ManifestGetLastError(context);
                throw CInvalManifestExcept(detail, rc, ManifestGetSsfRc(context));
            }
            m_digestVerified = true;
        }
    }
    m_stream->Close();
}

// ---- extraction and test -------------------------------------------------------

void CDirEntry::Extract(CArchiveFile& archive)
{
    ExtractOrTest(archive, false);
}

void CDirEntry::ExtractOrTest(CArchiveFile& archive, bool verification)
{
    const COptions& opt = COptions::Instance();
    const bool extract = opt.commandCode == KOV_CMD_EXTRACT;
    const bool write = extract || (verification && IsSignedManifest());
    const std::string shownName = m_name;
    if (!verification) {
        CApplication& app = CApplication::Instance();
        if (opt.statistics)
            app.GetStatistics().AddFiles();
        if (opt.verbose)
            app.GetLogMan().Write((extract ? "x " : "d ") + KovShown(m_name));
    }
    if (write)
        CreateOnDisk();
    // Data is read when the header announces it; blocks behind a header
    // that announces none are the reader's to report and skip.  The
    // manifest's marker mode carries directory bits: its blocks are read
    // whenever they are there.
    const bool manifest = IsSignedManifest();
    const uint64_t announced = (m_info.mode & KOX_MODE_DIRECTORY) ? 0 : m_info.TotalSize();
    // Blocks behind a header that announces none, or fewer or more bytes
    // than it announces: a staged file with either is not put in place.
    m_dataComplete = announced != 0 || manifest || !archive.DataBlockFollows();
    if (announced != 0 || (manifest && archive.DataBlockFollows())) {
        const uint64_t held = ProcessData(archive, write);
        // The manifest's header gives its text's length whatever its mode.
        const uint64_t expected = manifest ? m_info.TotalSize() : announced;
        m_dataComplete = held == expected;
        if (held != expected) {
            const std::string what = "its data blocks hold " + std::to_string(held) + " bytes, its header says " +
                                     std::to_string(expected);
            // A manifest read to be verified is not trusted with a length
            // other than its header's, nor is any entry that an append or a
            // signing run checks before it writes: the run ends, as on a
            // checksum error, before anything is written.
            const bool checkBeforeWriting = opt.commandCode == KOV_CMD_APPEND || opt.commandCode == KOV_CMD_SIGN;
            if (verification && (manifest || checkBeforeWriting))
                throw CExcept("KOVZEF: " + KovShown(shownName) + " is damaged: " + what, KOV_STATUS_DAMAGED, true, 0);
            ReportDamage(shownName, what, write && !Staged());
        }
    } else if (IsDigestEnabled()) {
        // Every file entry without data answers to the manifest, whatever
        // its type ("SM" without a size is a file too).
        RunDigestOfEmptyFile(m_archiveContext);
    }
    if (write && !m_leaveStreamOpen)
        CloseStream();
}

void CDirEntry::ReportDamage(const std::string& name, const std::string& what, bool kept)
{
    CApplication& app = CApplication::Instance();
    std::string line = "KOVZEF: " + KovShown(name) + " is damaged: " + what;
    if (kept)
        line += "; what was read of it was kept";
    app.GetLogMan().Write(line);
    app.SetExitStatus(KOV_STATUS_DAMAGED);
}

namespace {

// The data pass of one entry over its blocks in order: decoding (or taking
// what a worker decoded), the checksum, the digest and the file.
class DataPass : public IBlockConsumer {
public:
    DataPass(CArchiveFile& archive, const std::string& name, CFileStream* stream, bool write, ManifestFile* digest,
             uint8_t* out)
        : m_archive(archive),
          m_name(name),
          m_stream(stream),
          m_write(write),
          m_digest(digest),
          m_out(out),
          m_checkLength(!archive.IsVersion200())
    {
    }

    void Block(const uint8_t* data, uint32_t length, bool compressed, const DecodedBlock* decoded) override
    {
        StopIfRequested();
        if (!compressed) {
            if (m_streamOpen)
                throw Failure("compressed data cut short");
            Emit(data, length);
            return;
        }
        const bool first = !m_streamOpen;
        if (first && m_checkLength && StartsStreamLongerThanChunk(data, length))
            throw CReadExcept(m_archive.GetPath());
        // A worker's decoding counts where the block starts a stream, as it
        // assumed; otherwise the block continues the open stream here.
        if (first && decoded != nullptr) {
            Emit(decoded->data, decoded->length);
            if (decoded->end == BlockEnd::kFailed)
                throw Failure(decoded->failure);
            m_streamOpen = false;
            return;
        }
        auto step = [](const uint8_t* p, int32_t left, uint8_t* out, bool firstStep, int32_t* read, int32_t* written) {
            return CsDecompr(p, left, out, static_cast<int32_t>(KOX_CHUNK_SIZE), firstStep ? 1 : 0, read, written,
                             "iaxxcmpmn", 102);
        };
        std::string failure;
        const BlockEnd end = DecodeBlock(
            data, static_cast<int32_t>(length), first, step, [this] { return m_out; },
            [this](size_t n) { Emit(m_out, n); }, failure);
        if (end == BlockEnd::kFailed)
            throw Failure(failure);
        m_streamOpen = end == BlockEnd::kOpen;
    }

    // The end of the blocks.
    void End()
    {
        if (m_streamOpen)
            throw Failure("compressed data cut short");
    }
    uint64_t Held() const { return m_held; }
    uint32_t Computed() const { return m_computed; }

private:
    CDecompExcept Failure(const std::string& what) const { return CDecompExcept(m_name + " (" + what + ")"); }

    void Emit(const uint8_t* bytes, size_t n)
    {
        if (!n)
            return;
        m_held += n;
        m_computed = CsCrc32Update(m_computed, bytes, n);
        if (m_digest)
            ManifestUpdateFile(m_digest, bytes, n);
        if (m_write) {
            // A chunk of zeros becomes a hole where the file allows one.
            size_t put = 0;
            const bool ok = n >= kHoleMin && IsAllZero(bytes, n) ? m_stream->WriteZeros(bytes, n, &put)
                                                                 : m_stream->Write(bytes, n, &put);
            if (!ok || put != n)
                throw CWriteExcept(m_name);
        }
    }

    static bool IsAllZero(const uint8_t* p, size_t n) { return p[0] == 0 && std::memcmp(p, p + 1, n - 1) == 0; }

    // Zero runs shorter than this are written: they would not free a block.
    static constexpr size_t kHoleMin = 4096;

    CArchiveFile& m_archive;
    const std::string& m_name;
    CFileStream* m_stream;
    const bool m_write;
    ManifestFile* m_digest;
    uint8_t* const m_out;
    const bool m_checkLength;
    bool m_streamOpen = false;  // a compressed stream still wants input
    uint64_t m_held = 0;
    uint32_t m_computed = 0;
};

}  // namespace

uint64_t CDirEntry::ProcessData(CArchiveFile& archive, bool write)
{
    CTransferBuffers& tb = CTransferBuffers::Instance();
    ManifestFile* digest = IsDigestEnabled() ? GetDigestContext() : nullptr;
    if (digest && ManifestOpenFile(m_archiveContext, digest, m_storedName.c_str(), m_storedName.size(), 0) != 0)
        digest = nullptr;
    m_digestVerified = false;
    // Data that fails on its way (damaged blocks, a cut archive, a failed
    // write) still closes the digest it fed, which holds the file's name.
    struct OpenDigest {
        ManifestFile* file;
        ~OpenDigest()
        {
            if (file != nullptr)
                ManifestCloseFile(file);
        }
    } openDigest{digest};

    DataPass pass(archive, m_name, m_stream, write, digest, tb.Output());
    uint32_t stored = 0;
    // Large entries are decoded on worker threads; the result is the same.
    CBlockDecoder* decoder = CBlockDecoder::Current();
    if (decoder != nullptr && m_info.TotalSize() >= CBlockDecoder::kMinEntrySize) {
        stored = decoder->Run(archive, !archive.IsVersion200(), pass);
    } else {
        uint8_t* in = tb.Input();
        for (bool more = true; more;) {
            uint32_t length = 0;
            uint32_t checksum = 0;
            bool compressed = false;
            more = archive.GetEntryData(in, CTransferBuffers::kInputSize, &length, &checksum, &compressed);
            if (!more)
                stored = checksum;
            pass.Block(in, length, compressed, nullptr);
        }
    }
    pass.End();
    openDigest.file = nullptr;
    if (digest)
        m_digestVerified = ManifestCloseFile(digest) == 0;
    if (stored != 0 && stored != pass.Computed())
        throw CExcept("KOVZEF: checksum error in " + KovShown(m_name), KOV_STATUS_DAMAGED, true, 0);
    return pass.Held();
}

void CDirEntry::CompleteFile()
{
    if (!m_ownStream.CloseHole())
        throw CWriteExcept(m_name, m_ownStream.LastError());
}

void CDirEntry::CreateOnDisk()
{
    // Data going to memory (the manifest under verification) touches no file.
    if (m_stream != &m_ownStream) {
        m_stream->Open(m_name.c_str(), KOV_OPEN_CREATE);
        return;
    }
    const COptions& opt = COptions::Instance();
    m_name = TargetPath();
    if (m_name.empty())
        throw CCreateDirExcept(m_name, ENOENT);
    if (m_stage && !m_ownStream.IsOpen() && CreateStaged())
        return;
    // A name nothing has yet is simply created (the extract command may have
    // done that already); a missing directory on its way is made first.
    if (m_ownStream.IsOpen() || m_ownStream.CreateNew(m_name.c_str()))
        return;
    if (m_ownStream.LastError() == ENOENT) {
        if (!CreateParentDirectories(m_name))
            throw CCreateDirExcept(m_name);
        if (m_ownStream.CreateNew(m_name.c_str()))
            return;
    }
    if (!CreateParentDirectories(m_name))
        throw CCreateDirExcept(m_name);
    struct stat st;
    if (opt.forceExtraction && lstat(m_name.c_str(), &st) == 0 && !RemoveFile(m_name.c_str()))
        ThrowNotDeleted(m_name);
    // What else is at the file's own path is replaced, never written through.
    switch (ClearEntryPath(m_name)) {
    case EntryPathState::kFree:
        if (m_ownStream.CreateNew(m_name.c_str()))
            return;
        break;
    case EntryPathState::kDevice:
        m_ownStream.OpenDirect(m_name.c_str(), KOV_OPEN_CREATE);
        if (m_ownStream.IsOpen())
            return;
        break;
    case EntryPathState::kFailed:
        ThrowNotWritable(m_name);
    }
    ThrowNotWritable(m_name, m_ownStream.LastError());
}

namespace {

// Whether files can be made without a name (O_TMPFILE) and named later:
// linkat needs either the right to link by descriptor or /proc.
bool UnnamedFilesLinkable()
{
    static const bool linkable = geteuid() == 0 || access("/proc/self/fd", X_OK) == 0;
    return linkable;
}

// Where the last component of path begins.
size_t BaseStart(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The next hidden name beside path for a file staged by this process.
std::string HiddenNameBeside(const std::string& path)
{
    static unsigned s_hiddenCount = 0;
    return StagedFileName(path, s_hiddenCount++);
}

}  // namespace

void CDirEntry::StageFile(bool pathFree)
{
    m_stage = true;
    m_pathFree = pathFree;
}

void CDirEntry::StageFile(const struct stat& found)
{
    StageFile(false);
    m_foundKnown = true;
    m_foundMode = found.st_mode;
}

void CDirEntry::StageInHiddenDirectory(int fd, int directoryFd, std::string base)
{
    m_stage = true;
    m_ownStream.AdoptDirect(fd, true);
    m_stagingDirectory = directoryFd;
    m_stagedBase = std::move(base);
}

int CDirEntry::OpenStagedFile()
{
    const size_t baseStart = BaseStart(m_name);
    if (UnnamedFilesLinkable() && !m_unnamedRefused) {
        const std::string directory = baseStart == 0 ? std::string(".") : m_name.substr(0, baseStart);
        const int fd = open64(directory.c_str(), O_WRONLY | O_TMPFILE | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_stagedUnnamed = true;
            return fd;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return -1;
        m_unnamedRefused = true;
    }
    for (unsigned taken = 0; taken < 100; ++taken) {
        std::string hidden = HiddenNameBeside(m_name);
        // Marked as this run's (in a form the next extraction here tells
        // for a lost one until then) and locked while this run lives, so
        // that the next extraction here can tell it from one a killed run
        // left behind.
        const int fd = MakeNamedTransient(AT_FDCWD, hidden.c_str(), 0600);
        if (fd >= 0) {
            flock(fd, LOCK_EX | LOCK_NB);
            m_stagedPath = std::move(hidden);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

bool CDirEntry::CreateStaged()
{
    struct stat st;
    if (m_pathFree) {
        // Nothing to keep from staging.
    } else if (m_foundKnown || lstat(m_name.c_str(), &st) == 0) {
        // Only -j removes a directory or a device at the path, and then
        // only once the file is there to take its place.
        const mode_t mode = m_foundKnown ? m_foundMode : st.st_mode;
        const bool keptInPlace = S_ISDIR(mode) || S_ISCHR(mode) || S_ISBLK(mode);
        if (keptInPlace && !COptions::Instance().forceExtraction)
            return false;
    } else if (errno != ENOENT) {
        return false;  // the usual creation reports it
    }
    if (BaseStart(m_name) == m_name.size())
        return false;  // no file can have this name
    int fd = OpenStagedFile();
    if (fd < 0 && errno == ENOENT) {
        if (!CreateParentDirectories(m_name))
            throw CCreateDirExcept(m_name);
        fd = OpenStagedFile();
    }
    if (fd < 0)
        ThrowNotWritable(m_name);
    m_ownStream.AdoptDirect(fd, true);
    return true;
}

void CDirEntry::CheckWhatTookFreePath(int err) const
{
    // Something took the name since the path was found free: it is
    // replaced only as it would have been had it been there, and a device
    // there would have been written as it is.
    struct stat st;
    const bool device = lstat(m_name.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode));
    if (err != EEXIST || (device && !COptions::Instance().forceExtraction))
        ThrowNotWritable(m_name, err);
}

void CDirEntry::CommitStaged(CStagingArea* area)
{
    if (m_stagingDirectory >= 0) {
        // The directory gets its name with the file in it; a file whose
        // last writes fail is not left there.
        if (!m_ownStream.Close()) {
            const int err = m_ownStream.LastError();
            DiscardStaged();
            throw CWriteExcept(m_name, err);
        }
        m_stagingDirectory = -1;
        return;
    }
    if (m_stagedUnnamed) {
        const int fd = m_ownStream.Descriptor();
        if (m_pathFree) {
            if (LinkOpenFile(fd, AT_FDCWD, m_name.c_str())) {
                m_stagedUnnamed = false;
                // A file whose last writes fail is not left at the path.
                if (!m_ownStream.Close()) {
                    const int err = m_ownStream.LastError();
                    unlink(m_name.c_str());
                    throw CWriteExcept(m_name, err);
                }
                return;
            }
            CheckWhatTookFreePath(errno);
            m_pathFree = false;  // it goes as a file that was there
        }
        // A hidden name first, locked as one made so, then in place of what
        // is at the path: its own name in the run's staging area beside it,
        // else a hidden name beside it that carries the mark itself.
        flock(fd, LOCK_EX | LOCK_NB);
        const int areaFd = area != nullptr ? area->For(m_name) : -1;
        const char* base = m_name.c_str() + BaseStart(m_name);
        if (areaFd >= 0 && LinkOpenFile(fd, areaFd, base)) {
            m_stagedAt = areaFd;
            m_stagedPath = base;
        }
        for (unsigned taken = 0; m_stagedPath.empty(); ++taken) {
            std::string hidden = HiddenNameBeside(m_name);
            MarkTransient(fd, hidden);
            if (LinkOpenFile(fd, AT_FDCWD, hidden.c_str()))
                m_stagedPath = std::move(hidden);
            else if (errno != EEXIST || taken >= 100)
                ThrowNotWritable(m_name);
        }
        m_stagedUnnamed = false;
    }
    CloseStream();
    if (m_stagedPath.empty())
        return;  // nothing was staged
    const char* staged = m_stagedPath.c_str();
    if (m_pathFree) {
        if (RenameToFreeName(m_stagedAt, staged, AT_FDCWD, m_name.c_str())) {
            ForgetStaged();
            return;
        }
        CheckWhatTookFreePath(errno);
    }
    if (renameat(m_stagedAt, staged, AT_FDCWD, m_name.c_str()) != 0) {
        const int err = errno;
        // -j: a directory at the path goes when it is empty, as it would
        // have before the file was written.
        struct stat st;
        const bool directory = lstat(m_name.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (!directory || !COptions::Instance().forceExtraction)
            ThrowNotWritable(m_name, err);
        if (!RemoveFile(m_name.c_str()))
            ThrowNotDeleted(m_name);
        if (renameat(m_stagedAt, staged, AT_FDCWD, m_name.c_str()) != 0)
            ThrowNotWritable(m_name);
    }
    ForgetStaged();
}

void CDirEntry::ForgetStaged() noexcept
{
    // A hidden name beside the path carried the mark, which the file no
    // longer needs at its own name.
    if (m_stagedAt == AT_FDCWD)
        UnmarkTransient(m_name.c_str());
    m_stagedPath.clear();
    m_stagedAt = AT_FDCWD;
}

void CDirEntry::DiscardStaged() noexcept
{
    // A file without a name goes when its descriptor is closed.
    m_stagedUnnamed = false;
    if (m_stagingDirectory >= 0) {
        unlinkat(m_stagingDirectory, m_stagedBase.c_str(), 0);
        m_stagingDirectory = -1;
    }
    if (!m_stagedPath.empty()) {
        unlinkat(m_stagedAt, m_stagedPath.c_str(), 0);
        m_stagedPath.clear();
        m_stagedAt = AT_FDCWD;
    }
}
