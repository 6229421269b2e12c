// Common parts of all entries: construction, header writing, adding to an
// archive, the data pass of extraction and testing, and the path helpers.
#include "app/direntry.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "app/application.h"
#include "app/archivefile.h"
#include "app/compressstrategy.h"
#include "app/entryinfo.h"
#include "app/except.h"
#include "app/fshelpers.h"
#include "app/logman.h"
#include "app/options.h"
#include "app/statistics.h"
#include "cslib/csheader.h"
#include "cslib/cslib.h"
#include "cslib/crc32.h"
#include "krn/rscp/rscp.h"

namespace {

// Directories left out by the exclude list; their contents are left out too.
std::unordered_set<std::string>& ExcludedDirectories() {
    static std::unordered_set<std::string> dirs;
    return dirs;
}

bool UnderExcludedDirectory(const std::string& name) {
    const auto& dirs = ExcludedDirectories();
    if (dirs.empty()) return false;
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1))
        if (dirs.count(name.substr(0, pos))) return true;
    return false;
}

bool IsLinkOnDisk(const std::string& name) {
    uint32_t attributes = 0;
    return GetLinkAttributes(name.c_str(), attributes) && attributes == KOV_ATTR_SYMLINK;
}

}  // namespace

CDirEntry::CDirEntry(const std::string& name)
    : m_name(name), m_storedName(name), m_stream(&m_ownStream) {}

CDirEntry::CDirEntry(const std::string& name, const std::string& storedName,
                     const KoxHeaderInfo& info, std::vector<uint8_t> userInfo)
    : m_name(name),
      m_storedName(storedName),
      m_info(info),
      m_stream(&m_ownStream),
      m_userInfo(std::move(userInfo)) {}

CDirEntry::~CDirEntry() {
    if (m_aliveFlag) *m_aliveFlag = false;
}

void CDirEntry::CloseStream() {
    if (!m_stream->Close()) throw CWriteExcept(m_name, m_stream->LastError());
}

int CDirEntry::GetFindDataKind(uint32_t attributes, uint32_t mode) {
    if (attributes & KOV_ATTR_DIRECTORY) return kKindDirectory;
    switch (mode & KOX_MODE_TYPE_MASK) {
        case KOX_MODE_SYMLINK: return kKindSymlink;
        case KOX_MODE_REGULAR: return kKindRegular;
        default: return kKindOther;
    }
}

std::string CDirEntry::JoinPath(const std::string& path, const std::string& directory) {
    if (directory.empty() || path.empty()) return path;
    std::string result = directory;
    for (char& c : result)
        if (c == '\\') c = '/';
    if (result.back() != '/') result += '/';
    result.append(path, path[0] == '/' ? 1 : 0, std::string::npos);
    return result;
}

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool CDirEntry::CreateParentDirectories(const std::string& name) {
    // The longest leading part that exists, scanning from the end; a name
    // whose only separator leads it counts the root as existing.
    size_t start = std::string::npos;
    for (size_t i = name.size(); i-- > 0;) {
        if (!IsSeparator(name[i])) continue;
        if (i == 0 || access(name.substr(0, i).c_str(), F_OK) == 0) {
            start = i;
            break;
        }
    }
    for (size_t i = start == std::string::npos ? 0 : start + 1; i < name.size(); ++i) {
        if (!IsSeparator(name[i]) || i == 0) continue;
        if (!CreateDirectory(name.substr(0, i).c_str())) return false;
    }
    return true;
}

std::string CDirEntry::TargetPath() const {
    if (!m_targetPath.empty()) return m_targetPath;
    const COptions& opt = COptions::Instance();
    if (opt.extractDir && !m_name.empty() && m_name[0] != '/')
        return JoinPath(m_name, opt.extractDir);
    return m_name;
}

std::string CDirEntry::StoredNameUtf8() const {
    std::vector<char> buffer(6 * m_storedName.size() + 1);
    size_t length = 0;
    if (UcnToUtf8nCPStr(buffer.data(), buffer.size(), &length, m_storedName.c_str()) != RSCP_OK)
        throw CConversionExcept(m_storedName);
    return std::string(buffer.data(), length);
}

void CDirEntry::WriteHeader(CArchiveFile& archive, const KoxHeaderInfo& info) {
    const std::string utf8 = StoredNameUtf8();
    if (utf8.size() + 1 > KOX_NAME_BUFFER_SIZE)
        throw CExcept("KOVZEF: name too long for the archive: " + m_storedName, 100, false);
    KoxHeaderInfo h = info;
    h.nameLength = static_cast<uint16_t>(utf8.size() + 1);
    h.userInfoLength = static_cast<uint16_t>(m_userInfo.size());
    std::vector<uint8_t> record(KOX_ENTRY_HEADER_SIZE + utf8.size() + 1 + m_userInfo.size());
    KoxEncodeEntryHeader(h, record.data());
    memcpy(record.data() + KOX_ENTRY_HEADER_SIZE, utf8.data(), utf8.size());
    record[KOX_ENTRY_HEADER_SIZE + utf8.size()] = 0;
    if (!m_userInfo.empty())
        memcpy(record.data() + KOX_ENTRY_HEADER_SIZE + utf8.size() + 1, m_userInfo.data(),
               m_userInfo.size());
    size_t put = 0;
    if (!archive.Stream().Write(record.data(), record.size(), &put) || put != record.size())
        throw CWriteExcept(archive.GetPath());
}

void CDirEntry::PrintListing() {
    CEntryInfo line(m_info, m_name, IsDigestVerified() ? 1 : 0);
    CApplication::Instance().GetLogMan().Write(line);
}

void CDirEntry::RunDigestOfEmptyFile(ManifestContext* context) {
    ManifestFile* digest = GetDigestContext();
    if (!digest) return;
    const bool ok = ManifestOpenFile(context, digest, m_storedName.c_str(), m_storedName.size(),
                                     0) == 0 &&
                    ManifestUpdateFile(digest, nullptr, 0) == 0;
    m_digestVerified = ManifestCloseFile(digest) == 0 && ok;
}

// ---- adding to an archive ----------------------------------------------------

void CDirEntry::AddToArchive(CArchiveFile& archive) {
    CApplication& app = CApplication::Instance();
    COptions& opt = COptions::Instance();
    const bool digestEnabled = IsDigestEnabled();
    const bool manifest = IsSignedManifest();

    // The manifest entry keeps its fixed name: selection and renaming do not
    // apply to it.
    if (!manifest) {
        if (!opt.excludeList.empty()) {
            if (app.IsListed(m_name)) {
                if (IsDirectory()) ExcludedDirectories().insert(m_name);
                return;
            }
            if (UnderExcludedDirectory(m_name)) return;
        }
        if (opt.absolutePaths && !m_name.empty() && m_name[0] != '/') {
            char cwd[KOV_PATH_MAX];
            if (!getcwd(cwd, sizeof cwd)) throw CGetCwdExcept();
            m_name = JoinPath(m_name, cwd);
            m_storedName = m_name;
        }
        if (!opt.renameMap.empty()) opt.GetNewName(m_name, m_storedName);
    }
    if (opt.statistics) app.GetStatistics().AddFiles();
    if (opt.verbose && !manifest)
        app.GetLogMan().Write((g_abandonArchive ? "t " : "a ") + m_name);

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
    const size_t utf8Length = StoredNameUtf8().size();
    if (utf8Length + 1 > KOX_NAME_BUFFER_SIZE) {
        app.ReportInaccessible(m_name, "name too long for the archive (" +
                                           std::to_string(utf8Length) +
                                           " bytes in UTF-8, at most " +
                                           std::to_string(KOX_NAME_BUFFER_SIZE - 1) + ")");
        return;
    }

    if (const std::string refusal = StoreRefusal(); !refusal.empty()) {
        app.ReportInaccessible(m_name, refusal);
        return;
    }

    ICompressStrategy& strategy = ICompressStrategy::Current();
    if (m_info.mode & KOX_MODE_DIRECTORY) {
        if (g_abandonArchive) return;
        WriteHeader(archive, m_info);
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
        m_stream->Open(m_name.c_str(), KOV_OPEN_READ);
        if (!m_stream->IsOpen()) {
            const int err = m_stream->LastError();
            const bool link = IsLinkOnDisk(m_name);
            if (link && !opt.resolveLinks) {
                if (!g_abandonArchive) WriteHeader(archive, m_info);
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
    WriteHeader(archive, m_info);
    ManifestContext* context = archive.GetManifestContext();
    if (m_info.TotalSize() == 0) {
        if (m_info.IsType(KOX_TYPE_FILE) && digestEnabled) RunDigestOfEmptyFile(context);
        // An empty file is stored empty; one that gained bytes meanwhile is
        // reported like any file that grew.
        if (m_info.IsType(KOX_TYPE_FILE) && type == KOX_MODE_REGULAR)
            ReportIfFileGrew(*m_stream, m_name, 0);
    } else {
        ManifestFile* digest = GetDigestContext();
        if (digestEnabled && digest) {
            const int rc = ManifestOpenFile(context, digest, m_storedName.c_str(),
                                            m_storedName.size(), 0);
            if (rc != 0)
                throw CInvalManifestExcept("KOVZEF: Cannot hash file " + m_name, rc,
                                           ManifestGetSsfRc(context));
        }
        strategy.SetEntry(this);
        strategy.Compress(archive);
        if (digestEnabled && digest) {
            const int rc = ManifestCloseFile(digest);
            if (rc != 0) {
                std::string detail = "KOVZEF: Manifest file hash creation invalid for " + m_name;
                if (opt.verbose) detail += std::string(" Error \n") + ManifestGetLastError(context);
                throw CInvalManifestExcept(detail, rc, ManifestGetSsfRc(context));
            }
            m_digestVerified = true;
        }
    }
    m_stream->Close();
}

// ---- extraction and test -------------------------------------------------------

void CDirEntry::Extract(CArchiveFile& archive) { ExtractOrTest(archive, false); }

void CDirEntry::ExtractOrTest(CArchiveFile& archive, bool verification) {
    const COptions& opt = COptions::Instance();
    const bool extract = opt.commandCode == KOV_CMD_EXTRACT;
    const bool write = extract || (verification && IsSignedManifest());
    const std::string shownName = m_name;
    if (!verification) {
        CApplication& app = CApplication::Instance();
        if (opt.statistics) app.GetStatistics().AddFiles();
        if (opt.verbose) app.GetLogMan().Write((extract ? "x " : "d ") + m_name);
    }
    if (write) CreateOnDisk();
    // Data is read when the header announces it; blocks behind a header
    // that announces none are the reader's to report and skip.  The
    // manifest's marker mode carries directory bits: its blocks are read
    // whenever they are there.
    const bool manifest = IsSignedManifest();
    const uint64_t announced = (m_info.mode & KOX_MODE_DIRECTORY) ? 0 : m_info.TotalSize();
    if (announced != 0 || (manifest && archive.DataBlockFollows())) {
        const uint64_t held = ProcessData(archive, write);
        if (!manifest && held != announced)
            ReportDamage(shownName,
                         "its data blocks hold " + std::to_string(held) +
                             " bytes, its header says " + std::to_string(announced),
                         write);
    } else if (m_info.IsType(KOX_TYPE_FILE) && IsDigestEnabled()) {
        RunDigestOfEmptyFile(m_archiveContext);
    }
    if (write) CloseStream();
}

void CDirEntry::ReportDamage(const std::string& name, const std::string& what, bool kept) {
    CApplication& app = CApplication::Instance();
    std::string line = "KOVZEF: " + name + " is damaged: " + what;
    if (kept) line += "; what was read of it was kept";
    app.GetLogMan().Write(line);
    app.SetExitStatus(KOV_STATUS_DAMAGED);
}

uint64_t CDirEntry::ProcessData(CArchiveFile& archive, bool write) {
    CTransferBuffers& tb = CTransferBuffers::Instance();
    uint8_t* in = tb.Input();
    uint8_t* out = tb.Output();
    ManifestFile* digest = IsDigestEnabled() ? GetDigestContext() : nullptr;
    if (digest && ManifestOpenFile(m_archiveContext, digest, m_storedName.c_str(),
                                   m_storedName.size(), 0) != 0)
        digest = nullptr;
    m_digestVerified = false;

    uint32_t computed = 0;
    uint32_t stored = 0;
    uint64_t held = 0;
    auto emit = [&](const uint8_t* bytes, size_t n) {
        if (!n) return;
        held += n;
        computed = CsCrc32Update(computed, bytes, n);
        if (digest) ManifestUpdateFile(digest, bytes, n);
        if (write) {
            size_t put = 0;
            if (!m_stream->Write(bytes, n, &put) || put != n) throw CWriteExcept(m_name);
        }
    };
    auto decompError = [&](const std::string& what) {
        return CDecompExcept(m_name + " (" + what + ")");
    };

    const bool checkStreamLength = !archive.IsVersion200();
    bool streamOpen = false;  // a compressed stream still wants input
    bool more = true;
    while (more) {
        uint32_t length = 0;
        uint32_t checksum = 0;
        bool compressed = false;
        more = archive.GetEntryData(in, CTransferBuffers::kInputSize, &length, &checksum,
                                    &compressed);
        if (!more) stored = checksum;
        if (!compressed) {
            if (streamOpen) throw decompError("compressed data cut short");
            emit(in, length);
            continue;
        }
        const uint8_t* p = in;
        int32_t left = static_cast<int32_t>(length);
        bool first = !streamOpen;
        // One block of a "2.01" archive holds at most one chunk.
        if (first && checkStreamLength && length >= static_cast<uint32_t>(CS_HEAD_SIZE) &&
            CsHeaderLength(p) > static_cast<int32_t>(KOX_CHUNK_SIZE))
            throw CReadExcept(archive.GetPath());
        for (;;) {
            int32_t read = 0, written = 0;
            const int rc = CsDecompr(p, left, out, static_cast<int32_t>(KOX_CHUNK_SIZE),
                                     first ? 1 : 0, &read, &written, "iaxxcmpmn", 102);
            if (rc < 0) throw decompError("cslib error " + std::to_string(rc));
            emit(out, static_cast<size_t>(written));
            p += read;
            left -= read;
            first = false;
            if (rc == CS_END_OF_STREAM) {
                streamOpen = false;
                break;
            }
            if (read == 0 && written == 0) {
                if (rc == CS_END_OUTBUFFER) throw decompError("cslib made no progress");
                streamOpen = true;
                break;
            }
            if (rc != CS_END_OUTBUFFER && left <= 0) {
                streamOpen = true;
                break;
            }
        }
    }
    if (streamOpen) throw decompError("compressed data cut short");
    if (digest) m_digestVerified = ManifestCloseFile(digest) == 0;
    if (stored != 0 && stored != computed)
        throw CExcept("KOVZEF: checksum error in " + m_name, KOV_STATUS_DAMAGED, true, 0);
    return held;
}

void CDirEntry::CreateOnDisk() {
    // Data going to memory (the manifest under verification) touches no file.
    if (m_stream != &m_ownStream) {
        m_stream->Open(m_name.c_str(), KOV_OPEN_CREATE);
        return;
    }
    const COptions& opt = COptions::Instance();
    m_name = TargetPath();
    if (m_name.empty()) throw CCreateDirExcept(m_name, ENOENT);
    if (!CreateParentDirectories(m_name)) throw CCreateDirExcept(m_name);
    struct stat st;
    // A symbolic link at the file's own path is replaced, never written
    // through: what it leads to is not this entry's.
    if (lstat(m_name.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && unlink(m_name.c_str()) != 0)
        throw CExcept("KOVZEF: could not open for writing " + m_name, 28, true);
    if (opt.forceExtraction && lstat(m_name.c_str(), &st) == 0 && !RemoveFile(m_name.c_str()))
        throw CExcept("KOVZEF: force mode (option -j): could not delete " + m_name, 28, true);
    m_stream->Open(m_name.c_str(), KOV_OPEN_CREATE);
    if (!m_stream->IsOpen())
        throw CExcept("KOVZEF: could not open for writing " + m_name, 28, true,
                      m_stream->LastError());
}
