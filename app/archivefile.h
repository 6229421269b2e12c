// One open KOX archive: its stream, its archive header, the walk over its
// entries (FirstEntry/NextEntry with block skipping), the data blocks of the
// current entry (GetEntryData) and the manifest context used when signatures
// are made or checked.  Every failure is an exception (app/except.h) naming
// the archive or carrying the fixed texts of the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/filestream.h"
#include "app/koxformat.h"
#include "krn/snt/manifest.h"

class CDirEntry;
class CFile;
class CDirectory;
class CLink;
class CSignedManifest;
class CSigningPlaces;

class CArchiveFile {
public:
    // Opens path with the mode bits (KOV_OPEN_READ to read, KOV_OPEN_CREATE to
    // create).  Create mode: magic "ZEF ", version "2.01", nothing to read.
    // Throws COpenExcept naming the path when the stream does not open.
    // Messages name shownPath when one is given (the archive a new file
    // written under another name will replace).
    CArchiveFile(const std::string& path, uint32_t mode, const std::string& shownPath = {});
    // The same, for writing, on fd, a descriptor the caller opened and
    // hands over: the archive is written where it stands (see
    // CFileStream::OpenOn).
    CArchiveFile(int fd, uint32_t mode, const std::string& shownPath);
    // Releases the manifest context, the entry objects still alive and closes
    // the stream without reporting (use Close() to learn about close errors).
    ~CArchiveFile();
    CArchiveFile(const CArchiveFile&) = delete;
    CArchiveFile& operator=(const CArchiveFile&) = delete;

    // Opens the stream again with other bits; COpenExcept when it fails.
    void Open(const std::string& path, uint32_t mode);
    // Closes the stream; CWriteExcept naming the archive when the final
    // flush or close fails (full disk, quota).  Safe to call twice.
    void Close();
    // Closes the stream of a written archive once the system holds its
    // bytes on storage (a regular file is fsync'ed): a crash after the run
    // reported success cannot take them.  Throws as Close.
    void SyncAndClose();
    // Back to offset 0; the archive header is checked again by the next
    // FirstEntry.
    void Rewind();
    // The offset of the header of the entry just read, described by info,
    // while the stream stands behind its name and user information; false
    // (offset 0) when the position cannot be told.
    bool EntryHeaderOffset(const KoxHeaderInfo& info, uint64_t& offset);

    // Writes "ZEF " "2.01"; CWriteExcept when short.
    void WriteArchiveHeader();
    // Whether the file is a KOX archive (answer kept after the first call).
    // Fewer than 8 bytes: CReadExcept; unknown version or backup magic:
    // CUnsupportedArchiveException.
    bool ReadArchiveHeader();
    const char* GetVersion() const { return m_version; }  // 4 characters, not terminated
    std::string GetVersionString() const { return std::string(m_version, 4); }
    bool IsVersion200() const;

    // The first entry, or null when there is none (or the file is no KOX
    // archive).  The entry lives in this object's storage: end its life with
    // ReleaseEntry (or its destructor called in place); never delete it.
    CDirEntry* FirstEntry();
    // Skips what is left of the current entry's data blocks and returns the
    // next entry, or null at the end of the archive.
    CDirEntry* NextEntry();
    // The entry whose header lies at offset (one FirstEntry or NextEntry
    // met before); NextEntry goes on behind it.  Read failures as there.
    CDirEntry* EntryAt(uint64_t offset);
    // Ends the life of an entry returned by FirstEntry/NextEntry/EntryAt.
    void ReleaseEntry(CDirEntry* entry);

    // Reads one data block of the current entry into dest (capacity bytes;
    // a longer block is a read failure).  Returns whether more blocks of the
    // entry follow.  For the last block ("ED"/"UE") *checksum receives the
    // stored checksum.  Short reads: CReadExcept; an unknown block type:
    // CExcept "KOVZEF: error in GetEntryData(); unknown block type".
    bool GetEntryData(uint8_t* dest, size_t capacity, uint32_t* length, uint32_t* checksum, bool* compressed);
    // True when the next two bytes name a data block (position unchanged).
    bool DataBlockFollows();

    const std::string& GetPath() const { return m_path; }
    CFileStream& Stream() { return m_stream; }
    ManifestContext* GetManifestContext() { return &m_manifestContext; }
    bool ManifestSeen() const { return m_manifestSeen; }
    // The header offset of the signed manifest entry whose text was
    // verified, 0 while none was.
    uint64_t VerifiedManifestOffset() const { return m_verifiedManifestOffset; }
    void SetVerifiedManifestOffset(uint64_t offset) { m_verifiedManifestOffset = offset; }
    // The places of signed files that links and directories take (true: a
    // link), noted before the entries are walked: such a file is refused
    // before anything of it is made even when the link or directory that
    // would take its place comes after it.  The same for the places of links
    // where extraction makes a directory for a signed file below.
    void NoteSignedNameTaken(const std::string& name, bool link) { m_signedNamesTaken.emplace(name, link); }
    void NoteLinkAboveSignedFile(const std::string& place) { m_linksAboveSignedFiles.insert(place); }
    bool AnySignedNameTaken() const { return !m_signedNamesTaken.empty() || !m_linksAboveSignedFiles.empty(); }
    bool LinkAboveSignedFile(const std::string& place) const
    {
        return !m_linksAboveSignedFiles.empty() && m_linksAboveSignedFiles.count(place) != 0;
    }
    // Whether a link or a directory takes that name (*link tells which).
    bool SignedNameTaken(const std::string& name, bool* link = nullptr) const
    {
        if (m_signedNamesTaken.empty())
            return false;
        const auto found = m_signedNamesTaken.find(name);
        if (found == m_signedNamesTaken.end())
            return false;
        if (link != nullptr)
            *link = found->second;
        return true;
    }
    // The places of the entries of an archive that the run signs anew, those
    // it holds and those it adds (see CSigningPlaces); null in other runs.
    CSigningPlaces* SigningPlaces() const { return m_signingPlaces; }
    void SetSigningPlaces(CSigningPlaces* places) { m_signingPlaces = places; }
    // The current entry's stored name does not end with its terminator.
    bool NameDamaged() const { return m_nameDamaged; }
    // The current entry's stored name holds characters that the local code
    // page cannot hold: its name on disk is not the stored one.
    bool NameChanged() const { return m_nameChanged; }
    const std::string& StoredNameUtf8() const { return m_storedUtf8; }
    // The current entry's stored name in the local code page, before -lower
    // and -flat, a link's without its target.
    std::string_view StoredOwnName() const { return std::string_view(m_storedName).substr(0, m_linkSplit); }
    // The same, a link's without its target.
    std::string_view StoredOwnNameUtf8() const { return std::string_view(m_storedUtf8).substr(0, m_utf8LinkSplit); }
    // The current entry's decoded header.
    const KoxHeaderInfo& CurrentInfo() const { return m_info; }

private:
    // The constructors' common part, once the stream is opened.
    void Prepare(uint32_t mode);
    CDirEntry* ReadEntryFromHeader();
    void ReadName();
    void ReadLinkName();
    bool RoundTrips(const std::string& local, const std::string& utf8);
    void ReadUserInfo();
    CDirEntry* BuildEntry();
    void DestroyLiveEntries();
    [[noreturn]] void ThrowRead() const;
    // An entry header of a type no entry has: a read error where it is
    // zeros (a torn archive), else the unknown type.
    [[noreturn]] void ThrowUnknownType() const;

    std::vector<uint8_t> m_headerBuffer;  // 34 bytes, read mode only
    char m_name[KOX_NAME_BUFFER_SIZE];
    std::string m_storedName;  // the name as stored, before -lower/-flat
    std::vector<uint8_t> m_userInfo;
    std::string m_path;
    CFileStream m_stream;
    char m_magic[4];
    char m_version[4];
    KoxHeaderInfo m_info;
    bool m_headerRead = false;
    bool m_isKox = false;
    bool m_storedNameIsManifest = false;
    bool m_nameDamaged = false;
    bool m_nameChanged = false;
    // A link's stored name is "name|target": where its "|" stands in the
    // local form of the stored name (m_storedName) and in the name after
    // -lower and -flat (m_name), else npos.
    size_t m_linkSplit = std::string::npos;
    size_t m_utf8LinkSplit = std::string::npos;  // the same in m_storedUtf8
    size_t m_nameLinkSplit = std::string::npos;
    std::string m_storedUtf8;  // the stored name as read
    std::string m_roundTrip;   // its local form back in UTF-8
    std::string m_manifestName = KOX_MANIFEST_NAME;
    ManifestContext m_manifestContext;
    bool m_manifestSeen = false;
    uint64_t m_verifiedManifestOffset = 0;
    std::unordered_map<std::string, bool> m_signedNamesTaken;
    std::unordered_set<std::string> m_linksAboveSignedFiles;
    CSigningPlaces* m_signingPlaces = nullptr;
    // The current entry still owes data blocks: it announced data and its
    // last block ("ED"/"UE") has not been read or skipped yet.  The end of
    // the file is then a cut archive, not its end.
    bool m_blocksOwed = false;

    // Storage of one entry object per class (read mode), and whether the
    // object in it is alive.
    struct Slot {
        std::unique_ptr<unsigned char[]> storage;
        CDirEntry* live = nullptr;
        bool alive = false;
    };
    Slot m_fileSlot, m_dirSlot, m_linkSlot, m_manifestSlot;
    friend class CDirEntry;
};

// Whether the archive at path reads as torn: a walk of its entries (their
// data skipped) fails there as every reader does, with a read error (the
// end of its data too early, zeros where an entry begins).  False for one
// that reads whole, that can not be opened, or that fails otherwise (no KOX
// archive, a damaged entry).  The exit status stays as it was.
bool ArchiveReadsTorn(const std::string& path);
