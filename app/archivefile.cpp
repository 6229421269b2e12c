#include "app/archivefile.h"

#include <cstring>
#include <new>
#include <sys/stat.h>

#include "app/application.h"
#include "app/direntry.h"
#include "app/except.h"
#include "app/namecodes.h"
#include "app/options.h"
#include "app/undorecord.h"
#include "krn/rscp/cputf8local.h"

namespace {

// Data blocks up to this length are read past rather than seeked over.
constexpr size_t kReadPastMax = 4096;

bool SameFour(const char* a, const char* b)
{
    return memcmp(a, b, 4) == 0;
}

}  // namespace

CArchiveFile::CArchiveFile(const std::string& path, uint32_t mode, const std::string& shownPath)
    : m_path(shownPath.empty() ? path : shownPath),
      m_manifestContext()
{
    m_stream.Open(path.c_str(), mode);
    Prepare(mode);
}

CArchiveFile::CArchiveFile(int fd, uint32_t mode, const std::string& shownPath)
    : m_path(shownPath),
      m_manifestContext()
{
    m_stream.OpenOn(fd);
    Prepare(mode);
}

void CArchiveFile::Prepare(uint32_t mode)
{
    memset(m_name, 0, sizeof m_name);
    memset(m_magic, 0, sizeof m_magic);
    memset(m_version, 0, sizeof m_version);
    if (!m_stream.IsOpen())
        throw COpenExcept(m_path, m_stream.LastError());
    if (mode & KOV_OPEN_CREATE) {
        memcpy(m_version, KOX_VERSION_201, 4);
        memcpy(m_magic, KOX_MAGIC, 4);
        m_headerRead = true;
        m_isKox = true;
        return;
    }
    m_headerBuffer.assign(KOX_ENTRY_HEADER_SIZE, 0);
    m_fileSlot.storage.reset(new unsigned char[sizeof(CFile)]);
    m_dirSlot.storage.reset(new unsigned char[sizeof(CDirectory)]);
    m_linkSlot.storage.reset(new unsigned char[sizeof(CLink)]);
    m_manifestSlot.storage.reset(new unsigned char[sizeof(CSignedManifest)]);
}

CArchiveFile::~CArchiveFile()
{
    DestroyLiveEntries();
    ManifestClearContext(&m_manifestContext);
}

void CArchiveFile::DestroyLiveEntries()
{
    for (Slot* s : {&m_fileSlot, &m_dirSlot, &m_linkSlot, &m_manifestSlot})
        if (s->alive)
            s->live->~CDirEntry();  // clears s->alive
}

void CArchiveFile::ReleaseEntry(CDirEntry* entry)
{
    if (entry)
        entry->~CDirEntry();
}

void CArchiveFile::ThrowRead() const
{
    CReadExcept failure(m_path);
    // An archive cut short by a writing run that was killed is put back by
    // the next run that writes into it: the reader is told so, after the
    // blank that ends the code suffix.
    if (FILE* handle = m_stream.Handle(); handle != nullptr)
        failure.AddNote(CUndoRecord::TornArchiveNote(fileno(handle), m_path));
    throw failure;
}

bool ArchiveReadsTorn(const std::string& path)
{
    CApplication& application = CApplication::Instance();
    const int32_t status = application.GetExitStatus();
    bool torn = false;
    try {
        CArchiveFile archive(path, KOV_OPEN_READ);
        for (CDirEntry* entry = archive.FirstEntry(); entry != nullptr; entry = archive.NextEntry())
            archive.ReleaseEntry(entry);
    } catch (const CReadExcept&) {
        torn = true;
    } catch (const CExcept&) {
        // Whole as far as a tear goes.
    }
    application.SetExitStatus(status);
    return torn;
}

void CArchiveFile::ThrowUnknownType() const
{
    // Zeros where an entry begins are what a writing run that was killed
    // leaves in place of its first bytes: the archive is torn there.
    const uint8_t* type = m_headerBuffer.data();
    if (type[0] == 0 && type[1] == 0)
        ThrowRead();
    throw CExcept("KOVZEF: unknown entry type encountered", 100, true, 0);
}

void CArchiveFile::Open(const std::string& path, uint32_t mode)
{
    m_path = path;
    m_stream.Open(path.c_str(), mode);
    if (!m_stream.IsOpen())
        throw COpenExcept(path, m_stream.LastError());
}

void CArchiveFile::Close()
{
    if (!m_stream.Close())
        throw CWriteExcept(m_path, m_stream.LastError());
}

void CArchiveFile::SyncAndClose()
{
    if (!m_stream.Sync())
        throw CWriteExcept(m_path, m_stream.LastError());
    Close();
}

void CArchiveFile::Rewind()
{
    m_stream.Seek(0);
    m_headerRead = false;
    m_isKox = false;
}

void CArchiveFile::WriteArchiveHeader()
{
    uint8_t header[KOX_ARCHIVE_HEADER_SIZE];
    memcpy(header, m_magic, 4);
    memcpy(header + 4, m_version, 4);
    size_t put = 0;
    if (!m_stream.Write(header, sizeof header, &put) || put != sizeof header)
        throw CWriteExcept(m_path);
}

bool CArchiveFile::ReadArchiveHeader()
{
    if (m_headerRead)
        return m_isKox;
    m_headerRead = true;
    uint8_t header[KOX_ARCHIVE_HEADER_SIZE];
    size_t got = 0;
    if (!m_stream.Read(header, sizeof header, &got) || got != sizeof header) {
        m_headerRead = false;
        ThrowRead();
    }
    memcpy(m_magic, header, 4);
    memcpy(m_version, header + 4, 4);
    const bool plain = SameFour(m_magic, KOX_MAGIC);
    const bool backup = SameFour(m_magic, KOX_BACKUP_MAGIC);
    m_isKox = false;
    if (!plain && !backup)
        return false;
    if (!SameFour(m_version, KOX_VERSION_201) && !SameFour(m_version, KOX_VERSION_200)) {
        m_headerRead = false;
        throw CUnsupportedArchiveException(
            "archive version " + KovEscapedBytes(GetVersionString()) +
            " is not supported by this release; to extract this archive you need to use a "
            "newer KOVZEF release");
    }
    if (backup) {
        m_headerRead = false;
        throw CUnsupportedArchiveException(
            "archive is a windows backup archive that can be extracted with a unicode-enabled "
            "KOVZEF on windows only");
    }
    m_isKox = true;
    return true;
}

bool CArchiveFile::EntryHeaderOffset(const KoxHeaderInfo& info, uint64_t& offset)
{
    uint64_t position = 0;
    const bool told = m_stream.Tell(&position);
    const uint64_t back = KOX_ENTRY_HEADER_SIZE + uint64_t{info.nameLength} + info.userInfoLength;
    offset = told && position >= back ? position - back : 0;
    return told;
}

bool CArchiveFile::IsVersion200() const
{
    return SameFour(m_version, KOX_VERSION_200);
}

CDirEntry* CArchiveFile::FirstEntry()
{
    // A second walk starts behind the archive header again.
    if (m_headerRead && m_isKox && m_headerBuffer.size() == KOX_ENTRY_HEADER_SIZE) {
        if (!m_stream.Seek(KOX_ARCHIVE_HEADER_SIZE))
            ThrowRead();
    }
    if (!ReadArchiveHeader())
        return nullptr;
    if (m_headerBuffer.size() != KOX_ENTRY_HEADER_SIZE)
        return nullptr;  // create mode
    size_t got = 0;
    if (!m_stream.Read(m_headerBuffer.data(), KOX_ENTRY_HEADER_SIZE, &got))
        ThrowRead();
    if (got == 0)
        return nullptr;
    if (got != KOX_ENTRY_HEADER_SIZE)
        ThrowRead();
    // Garbage right after a valid archive header is an error, not an empty
    // archive.
    if (!KoxIsEntryType(m_headerBuffer.data()))
        ThrowUnknownType();
    return ReadEntryFromHeader();
}

CDirEntry* CArchiveFile::NextEntry()
{
    if (!m_headerRead || !m_isKox || m_headerBuffer.size() != KOX_ENTRY_HEADER_SIZE)
        return nullptr;
    uint8_t* h = m_headerBuffer.data();
    uint64_t fileSize = 0;
    bool haveFileSize = false;  // taken once per call, at the first block skipped
    for (;;) {
        size_t got = 0;
        if (!m_stream.Read(h, 2, &got))
            ThrowRead();
        if (got == 0 && !m_blocksOwed)
            return nullptr;
        if (got != 2)
            ThrowRead();
        if (!KoxIsBlockType(h)) {
            if (m_blocksOwed)
                ThrowRead();
            break;
        }
        uint8_t len[4];
        if (!m_stream.Read(len, 4, &got) || got != 4)
            ThrowRead();
        uint64_t skip = KoxGetU32(len);
        if (KoxIsLastBlockType(h))
            skip += KOX_CHECKSUM_SIZE;
        // A short block is read past: it is in the read buffer more often
        // than not, where a seek would still cost a system call.  Either
        // way, skipping past the end of the file means the archive is cut
        // short.
        if (skip <= kReadPastMax) {
            uint8_t past[kReadPastMax];
            if (!m_stream.Read(past, skip, &got) || got != skip)
                ThrowRead();
            m_blocksOwed = !KoxIsLastBlockType(h);
            continue;
        }
        uint64_t pos = 0;
        if (!haveFileSize) {
            struct stat st;
            if (fstat(fileno(m_stream.Handle()), &st) != 0)
                ThrowRead();
            fileSize = static_cast<uint64_t>(st.st_size);
            haveFileSize = true;
        }
        if (!m_stream.Tell(&pos) || pos + skip > fileSize)
            ThrowRead();
        if (!m_stream.MoveFlPtr(static_cast<int64_t>(skip)))
            throw CExcept("KOVZEF: error in second MoveFlPtr()", 100, true);
        m_blocksOwed = !KoxIsLastBlockType(h);
    }
    size_t got = 0;
    if (!m_stream.Read(h + 2, KOX_ENTRY_HEADER_SIZE - 2, &got) || got != KOX_ENTRY_HEADER_SIZE - 2)
        ThrowRead();
    // An unknown type here is refused by the entry factory, after the name
    // and the user information were read.
    return ReadEntryFromHeader();
}

CDirEntry* CArchiveFile::EntryAt(uint64_t offset)
{
    if (!m_headerRead || !m_isKox || m_headerBuffer.size() != KOX_ENTRY_HEADER_SIZE)
        return nullptr;
    size_t got = 0;
    if (!m_stream.Seek(offset) || !m_stream.Read(m_headerBuffer.data(), KOX_ENTRY_HEADER_SIZE, &got) ||
        got != KOX_ENTRY_HEADER_SIZE)
        ThrowRead();
    if (!KoxIsEntryType(m_headerBuffer.data()))
        ThrowUnknownType();
    return ReadEntryFromHeader();
}

CDirEntry* CArchiveFile::ReadEntryFromHeader()
{
    m_info = KoxDecodeEntryHeader(m_headerBuffer.data());
    // The same rule as the data pass of the entries: a file or manifest
    // with a size and no directory bits has data blocks.
    m_blocksOwed = (m_info.IsType(KOX_TYPE_FILE) || m_info.IsType(KOX_TYPE_MANIFEST)) && m_info.TotalSize() != 0 &&
                   !(m_info.mode & KOX_MODE_DIRECTORY);
    ReadName();
    ReadUserInfo();
    return BuildEntry();
}

void CArchiveFile::ReadName()
{
    memset(m_name, 0, sizeof m_name);
    const size_t length = m_info.nameLength;
    if (length > sizeof m_name)
        ThrowRead();
    size_t got = 0;
    if (length && (!m_stream.Read(m_name, length, &got) || got != length))
        ThrowRead();
    // The name must end inside the buffer.
    if (length == sizeof m_name && memchr(m_name, 0, length) == nullptr)
        ThrowRead();
    // Its terminator is its last byte: a zero byte before it would hide the
    // rest of the name, a missing one would leave it open.
    m_nameDamaged = length != 0 && memchr(m_name, 0, length) != m_name + length - 1;
    m_storedUtf8.assign(m_name, strnlen(m_name, sizeof m_name));
    const bool link = m_info.IsType(KOX_TYPE_LINK) || m_info.IsType(KOX_TYPE_SHORTCUT);
    m_utf8LinkSplit = link ? m_storedUtf8.find(KOX_LINK_SEPARATOR) : std::string::npos;
    m_linkSplit = m_utf8LinkSplit;
    if (m_linkSplit == std::string::npos) {
        uint32_t outLen = 0;
        if (!ConvertedUnlessNoMemory(Utf8nToUcnCPInPlace(m_name, sizeof m_name, &outLen, m_name)))
            throw CConversionExcept();
        m_storedName.assign(m_name, outLen);
        m_nameChanged = m_storedName != m_storedUtf8 && !RoundTrips(m_storedName, m_storedUtf8);
    } else {
        ReadLinkName();
    }
    // The manifest marker is a property of the stored name, not of what
    // -lower or -flat make of it.
    m_storedNameIsManifest = (m_storedName == m_manifestName);

    m_nameLinkSplit = m_linkSplit;
    const COptions& opt = COptions::Instance();
    if (!opt.lowerCase && !opt.flat)
        return;
    // m_name holds the stored name in the local code page: -lower and -flat
    // change it there.
    const size_t total = m_storedName.size();
    const size_t ownEnd = m_linkSplit == std::string::npos ? total : m_linkSplit;
    if (opt.lowerCase) {
        // Only letters of one byte, read by the page's characters: a second
        // byte A-Z of a character is none.
        LowerLettersCP(m_name, ownEnd);
        if (ownEnd < total)
            LowerLettersCP(m_name + ownEnd + 1, total - ownEnd - 1);
    }
    size_t ownLength = ownEnd;
    if (opt.flat) {
        // The text after the last "/" of the name (a link's target stays);
        // trailing separators are dropped first, so "a/b/" becomes "b" (a
        // name of separators only becomes empty and is refused when it is
        // extracted).
        while (ownLength > 0 && m_name[ownLength - 1] == '/')
            --ownLength;
        const char* const slash = static_cast<const char*>(memrchr(m_name, '/', ownLength));
        const size_t start = slash == nullptr ? 0 : static_cast<size_t>(slash - m_name) + 1;
        memmove(m_name, m_name + start, ownLength - start);
        ownLength -= start;
        memmove(m_name + ownLength, m_name + ownEnd, total - ownEnd);
        memset(m_name + ownLength + total - ownEnd, 0, ownEnd - ownLength);
    }
    m_name[ownLength + total - ownEnd] = 0;  // never longer than the stored name
    if (m_linkSplit != std::string::npos)
        m_nameLinkSplit = ownLength;
}

void CArchiveFile::ReadLinkName()
{
    // "|" never stands inside a character of UTF-8: the link's name and its
    // target are converted apart, and stay apart in the local code page,
    // where a byte 0x7C may be the second byte of a character.
    const std::string ownUtf8 = m_storedUtf8.substr(0, m_linkSplit);
    const std::string targetUtf8 = m_storedUtf8.substr(m_linkSplit + 1);
    std::string own, target;
    if (!LocalOfUtf8(ownUtf8, own) || !LocalOfUtf8(targetUtf8, target) ||
        own.size() + 1 + target.size() >= sizeof m_name)
        throw CConversionExcept();
    m_nameChanged = (own != ownUtf8 && !RoundTrips(own, ownUtf8)) ||
                    (target != targetUtf8 && !RoundTrips(target, targetUtf8));
    m_linkSplit = own.size();
    m_storedName = std::move(own);
    m_storedName += KOX_LINK_SEPARATOR;
    m_storedName += target;
    memset(m_name, 0, sizeof m_name);
    memcpy(m_name, m_storedName.data(), m_storedName.size());
}

// Whether the name in the local code page gives the stored UTF-8 name back:
// otherwise the conversion replaced characters the code page cannot hold.
bool CArchiveFile::RoundTrips(const std::string& local, const std::string& utf8)
{
    return Utf8OfLocal(local, m_roundTrip) && m_roundTrip == utf8;
}

void CArchiveFile::ReadUserInfo()
{
    m_userInfo.clear();
    const size_t length = m_info.userInfoLength;
    if (!length)
        return;
    m_userInfo.resize(length);
    size_t got = 0;
    if (!m_stream.Read(m_userInfo.data(), length, &got) || got != length)
        ThrowRead();
}

CDirEntry* CArchiveFile::BuildEntry()
{
    const std::string name(m_name);
    Slot* slot = nullptr;
    enum { kFile, kDir, kLink, kManifest } kind;
    if (m_info.IsType(KOX_TYPE_FILE)) {
        const bool manifest = m_storedNameIsManifest && m_info.mode == KOX_MANIFEST_MODE &&
                              (m_info.size != 0 || m_info.sizeHigh != 0);
        kind = manifest ? kManifest : kFile;
        if (manifest)
            m_manifestSeen = true;
    } else if (m_info.IsType(KOX_TYPE_DIRECTORY)) {
        kind = kDir;
    } else if (m_info.IsType(KOX_TYPE_LINK) || m_info.IsType(KOX_TYPE_SHORTCUT)) {
        kind = kLink;
    } else if (m_info.IsType(KOX_TYPE_MANIFEST)) {
        // A manifest without a size is an ordinary file, as for "RG".
        kind = m_info.TotalSize() != 0 ? kManifest : kFile;
    } else {
        ThrowUnknownType();
    }
    switch (kind) {
    case kFile:
        slot = &m_fileSlot;
        break;
    case kDir:
        slot = &m_dirSlot;
        break;
    case kLink:
        slot = &m_linkSlot;
        break;
    case kManifest:
        slot = &m_manifestSlot;
        break;
    }
    if (slot->alive)
        slot->live->~CDirEntry();

    void* mem = slot->storage.get();
    CDirEntry* entry = nullptr;
    switch (kind) {
    case kFile: {
        auto* f = new (mem) CFile(name, m_storedName, m_info, std::move(m_userInfo));
        const COptions& opt = COptions::Instance();
        f->SetDigestEnabled(opt.verify || opt.sign || opt.commandCode == KOV_CMD_SIGN);
        entry = f;
        break;
    }
    case kDir:
        entry = new (mem) CDirectory(name, m_storedName, m_info, std::move(m_userInfo));
        break;
    case kLink: {
        const size_t bar = m_nameLinkSplit;
        std::string own = bar == std::string::npos ? name : name.substr(0, bar);
        std::string target = bar == std::string::npos ? std::string() : name.substr(bar + 1);
        entry = new (mem) CLink(own, m_storedName, m_linkSplit, target, m_info, std::move(m_userInfo));
        break;
    }
    case kManifest:
        entry = new (mem) CSignedManifest(name, m_storedName, m_info, std::move(m_userInfo), &m_manifestContext);
        break;
    }
    m_userInfo.clear();
    entry->m_archiveContext = &m_manifestContext;
    entry->m_aliveFlag = &slot->alive;
    slot->live = entry;
    slot->alive = true;
    return entry;
}

bool CArchiveFile::GetEntryData(uint8_t* dest, size_t capacity, uint32_t* length, uint32_t* checksum, bool* compressed)
{
    uint8_t head[KOX_BLOCK_HEADER_SIZE];
    size_t got = 0;
    if (!m_stream.Read(head, sizeof head, &got) || got != sizeof head)
        ThrowRead();
    if (!KoxIsBlockType(head))
        throw CExcept("KOVZEF: error in GetEntryData(); unknown block type", 100, true, 0);
    const uint32_t n = KoxGetU32(head + 2);
    if (n > capacity)
        ThrowRead();
    if (n && (!m_stream.Read(dest, n, &got) || got != n))
        ThrowRead();
    *length = n;
    *compressed = head[0] != 'U';
    m_blocksOwed = !KoxIsLastBlockType(head);
    if (m_blocksOwed)
        return true;
    uint8_t crc[KOX_CHECKSUM_SIZE];
    if (!m_stream.Read(crc, sizeof crc, &got) || got != sizeof crc)
        ThrowRead();
    *checksum = KoxGetU32(crc);
    return false;
}

bool CArchiveFile::DataBlockFollows()
{
    uint64_t pos = 0;
    if (!m_stream.Tell(&pos))
        return false;
    uint8_t t[2];
    size_t got = 0;
    bool ok = m_stream.Read(t, 2, &got) && got == 2 && KoxIsBlockType(t);
    m_stream.Seek(pos);
    return ok;
}
