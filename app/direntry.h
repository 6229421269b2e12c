// Members of an archive: regular files, directories, symbolic links and the
// signed manifest.  An entry built from a path on disk fills its header from
// stat/lstat and adds itself to an archive being written; an entry built by
// the archive reader lists itself, extracts or tests its data blocks (with
// the checksum) and creates itself on disk.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/filestream.h"
#include "app/koxformat.h"
#include "krn/snt/manifest.h"

class CArchiveFile;
class CStagingArea;

class CDirEntry {
public:
    // An entry for a path on disk: name and stored name are the path, the
    // header information is zero.
    explicit CDirEntry(const std::string& name);
    // An entry read from an archive: name (after -lower/-flat), stored name
    // (as stored), header information and user information.
    CDirEntry(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
              std::vector<uint8_t> userInfo);
    virtual ~CDirEntry();
    CDirEntry(const CDirEntry&) = delete;
    CDirEntry& operator=(const CDirEntry&) = delete;

    // ExtractOrTest with the verification flag off (CLink: makes the link).
    virtual void Extract(CArchiveFile& archive);
    // Writes (command x, or a manifest under verification) or only checks
    // the entry's data: every block up to "ED"/"UE" is read, decompressed and
    // run through the checksum; a stored checksum other than 0 must match.
    virtual void ExtractOrTest(CArchiveFile& archive, bool verification);
    virtual const std::string& GetName() const { return m_name; }
    // Creates the file (parents first) and opens the entry's stream for
    // writing; CDirectory creates the directory.
    virtual void CreateOnDisk();
    // One listing line (CEntryInfo) through the application's log manager.
    virtual void PrintListing();
    virtual bool IsSignedManifest() const { return false; }
    virtual bool IsDigestVerified() const { return false; }
    virtual bool IsDigestEnabled() const { return false; }
    // Its header went into the archive: the entry was not skipped or
    // reported inaccessible.
    bool InArchive() const { return m_inArchive; }
    // Fills info from the disk (or the manifest context); false on failure.
    virtual bool FillHeaderInfo(KoxHeaderInfo& info) = 0;
    // Writes header, UTF-8 name with NUL and user information in one write.
    virtual void WriteHeader(CArchiveFile& archive, const KoxHeaderInfo& info);
    // The same with utf8, the stored name's UTF-8 form (StoredNameUtf8),
    // converted once for all that the entry's storing asks of it.
    void WriteHeaderNamed(CArchiveFile& archive, const KoxHeaderInfo& info, const std::string& utf8);
    // CLink without -r: stored name becomes name + "|" + target.
    virtual bool PrepareStoredName() { return true; }
    // Why the entry can not be stored (asked after PrepareStoredName), or
    // empty when it can.
    virtual std::string StoreRefusal() const { return {}; }
    virtual bool IsDirectory() const { return false; }
    virtual ManifestFile* GetDigestContext() { return nullptr; }

    // Adds the entry to an archive being written (selection, -P, -T, -v,
    // inaccessible files, header and data).
    void AddToArchive(CArchiveFile& archive);

    const std::string& GetStoredName() const { return m_storedName; }
    // A link's stored name is "name|target": the length of its name there
    // (in the local code page "|" may be a byte of a character), else npos.
    size_t StoredLinkNameLength() const { return m_linkNameLength; }
    void SetStoredName(const std::string& storedName) { m_storedName = storedName; }
    const KoxHeaderInfo& GetHeaderInfo() const { return m_info; }
    KoxHeaderInfo& HeaderInfo() { return m_info; }
    const std::vector<uint8_t>& GetUserInfo() const { return m_userInfo; }
    // The stream data is read from or written to; the entry's own by default.
    CFileStream* GetStream() { return m_stream; }
    void SetStream(CFileStream* stream) { m_stream = stream ? stream : &m_ownStream; }
    // Closes the entry's own stream; CWriteExcept naming the entry when the
    // final flush of an extracted file fails.
    void CloseStream();
    bool Existed() const { return m_existed; }
    // The path the extract command decided for this entry; TargetPath then
    // gives it instead of joining -R and the name again.
    void SetTargetPath(std::string path) { m_targetPath = std::move(path); }
    // For the extract command: creates the entry's file at path when nothing
    // has that name yet (false, nothing changed, otherwise); and keeps the
    // stream open after the data, so that the command finishes the file on
    // its descriptor and puts it in place or closes it (CommitStaged).
    bool CreateNewFile(const std::string& path) { return m_ownStream.CreateNew(path.c_str()); }
    void LeaveStreamOpen() { m_leaveStreamOpen = true; }
    // For the extract command under verification: no byte of the file
    // reaches its path before its data and digest have passed, and what is
    // at the path stays as it was until then.  The data goes to a new file
    // in the path's directory, without a name where the file system allows,
    // else under a hidden name (mode 0600, locked while the run lives), which
    // CommitStaged puts in place whole.  pathFree: nothing had the path's
    // name when the extract command looked; the file then takes the name
    // only while nothing else has it.  A staged file that is not committed
    // is gone when the entry ends.  A device at the path (without -j) is
    // written as it is, and a directory there is refused as before: neither
    // is staged.
    void StageFile(bool pathFree);
    // The same where the extract command found something at the path with
    // lstat a moment before: found is what it returned, asked for again
    // instead of a second call.
    void StageFile(const struct stat& found);
    // The same in a directory the extract command fills under a hidden
    // name (see CStagingDirectory): the file was made there as base,
    // relative to directoryFd (which outlives the entry), and is open on
    // fd, which the entry now owns.  CommitStaged only closes it; one that
    // is not committed is gone when the entry ends.
    void StageInHiddenDirectory(int fd, int directoryFd, std::string base);
    // Whether the entry's data is staged (so that ending the entry undoes
    // what it made).
    bool Staged() const { return m_stagedUnnamed || !m_stagedPath.empty() || m_stagingDirectory >= 0; }
    // Whether the data of the last extraction holds what its header says;
    // a staged file that does not is not put in place.
    bool DataComplete() const { return m_dataComplete; }
    // Puts the staged file in place and closes the stream (CloseStream when
    // nothing was staged).  A file for a free path takes it only when
    // nothing else has it meanwhile, or else as it would replace a file that
    // was there: a device that appeared there is not replaced (without -j).
    // CExcept (28) or CWriteExcept when that fails; the staged file is then
    // gone.  area, when given, is where a file without a name gets one
    // before it replaces what is at its path.
    void CommitStaged(CStagingArea* area = nullptr);
    // Gives the file written so far its full size (a hole left at its end);
    // CWriteExcept naming the entry when that fails.
    void CompleteFile();
    // The descriptor of the entry's own file stream while one is open on it
    // directly, else -1.
    int FileDescriptor() const { return m_stream == &m_ownStream ? m_ownStream.Descriptor() : -1; }
    // Reports the entry named name as damaged (what says how) with the
    // status of a checksum error; the run goes on.  kept: an extracted file
    // keeps what was read of it, and the line says so.
    static void ReportDamage(const std::string& name, const std::string& what, bool kept = false);

    // The kinds of path a directory listing reports (their numbers are
    // the ones the kind has always had).
    enum PathKind { kKindDirectory = 0, kKindRegular = 1, kKindSymlink = 3, kKindOther = 6 };
    // kKindDirectory when the directory attribute (16) is set, else by the
    // mode's type bits.
    static int GetFindDataKind(uint32_t attributes, uint32_t mode);
    // path below directory as JoinTargetDirectory joins them (one leading
    // "/" of path dropped); path itself without a directory or when empty.
    static std::string JoinPath(const std::string& path, const std::string& directory);
    // Creates the missing parent directories of name; false when one fails.
    static bool CreateParentDirectories(const std::string& name);
    // The UTF-8 form of the stored name (a link's name and target converted
    // apart); CConversionExcept when it fails.
    std::string StoredNameUtf8() const;
    // Whether utf8, the UTF-8 form of the stored name, gives the stored name
    // back: otherwise the conversion put "#" for what UTF-8 can not take (or
    // the code page has another form of that text), and the name the
    // archive holds is not the file's.
    bool StoredNameComesBack(const std::string& utf8) const;

protected:
    // One pass over the data blocks; see ExtractOrTest.  Returns the number
    // of data bytes the blocks held.
    uint64_t ProcessData(CArchiveFile& archive, bool write);
    void RunDigestOfEmptyFile(ManifestContext* context);
    // The path set by SetTargetPath, else the -R directory joined in front
    // of a relative name.
    std::string TargetPath() const;
    // CreateOnDisk of a file to stage: makes the staged file beside m_name
    // and opens the entry's stream on it; false, nothing changed, when what
    // is at m_name is kept from staging (see StageFile).
    bool CreateStaged();
    // Opens a new file without a name (or, where the file system makes
    // none, with a hidden one) in m_name's directory; its descriptor, or -1
    // with errno set.
    int OpenStagedFile();
    // For CommitStaged of a file for a free path that could not take the
    // name (errno err): returns when what has the name now is to be
    // replaced, else throws CExcept (28).
    void CheckWhatTookFreePath(int err) const;
    // Removes the staged file, if any.
    void DiscardStaged() noexcept;
    // After the staged file took its path: it has no hidden name any more.
    void ForgetStaged() noexcept;
    // For adding to an archive: says when utf8, the stored name's UTF-8
    // form, is not the stored name (StoredNameComesBack), and ends the run
    // with 47 when it lands on the place of another file or link this run
    // stored from another file.
    void NoteStoredName(const std::string& utf8) const;
    // For NoteStoredName: the file the entry came from, as a path without
    // empty and "." components (see NormalPath), written into buffer: its
    // name on disk in UTF-8 where it converts into UTF-8 and back as it was
    // (no other name on disk has that form), else its bytes behind a zero
    // byte, which no name holds.  storedUtf8: the UTF-8 form of the stored
    // name (a link's without its target), the name on disk's unless the
    // entry was renamed; changed: that form does not come back.
    std::string_view SourceOf(std::string_view storedUtf8, bool renamed, bool changed, std::string& buffer) const;

    std::string m_name;
    std::string m_storedName;
    // A link's stored name is "name|target": the length of its name there,
    // else npos.
    size_t m_linkNameLength = std::string::npos;
    KoxHeaderInfo m_info;
    CFileStream* m_stream;
    std::vector<uint8_t> m_userInfo;
    bool m_digestVerified = false;
    bool m_inArchive = false;
    bool m_existed = false;
    bool m_leaveStreamOpen = false;
    bool m_dataComplete = true;
    bool m_stage = false;
    bool m_pathFree = false;    // nothing had the path's name when the file was staged
    bool m_foundKnown = false;  // m_foundMode holds what lstat found at the path
    mode_t m_foundMode = 0;
    bool m_unnamedRefused = false;  // the file system makes no file without a name
    bool m_stagedUnnamed = false;   // the staged file is open on the stream, without a name
    std::string m_stagedPath;       // the staged file's hidden name while it has one
    int m_stagedAt = AT_FDCWD;      // the directory m_stagedPath is relative to (a staging area's)
    int m_stagingDirectory = -1;    // the hidden directory the staged file was made in, or -1
    std::string m_stagedBase;       // its name there
    std::string m_targetPath;
    CFileStream m_ownStream;
    ManifestContext* m_archiveContext = nullptr;  // set by the reader

private:
    friend class CArchiveFile;
    bool* m_aliveFlag = nullptr;  // cleared when an entry built in archive storage ends
};

class CFile : public CDirEntry {
public:
    explicit CFile(const std::string& name);
    CFile(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
          std::vector<uint8_t> userInfo);
    bool IsDigestVerified() const override { return m_digestVerified; }
    bool IsDigestEnabled() const override { return m_digestEnabled; }
    bool FillHeaderInfo(KoxHeaderInfo& info) override;
    ManifestFile* GetDigestContext() override { return &m_digest; }
    void SetDigestEnabled(bool enabled) { m_digestEnabled = enabled; }
    // A stat (followedLinks) or lstat of the entry's name that its creator
    // made a moment before; the header is filled from it instead of a second
    // call while the name is unchanged and it answers what that call would
    // (the same kind of call, or an lstat that shows a regular file, which
    // stat would show alike).  Used once.
    void SetFreshStat(const struct stat& st, bool followedLinks);
    // The entry's regular file, already open on fd (which the entry now
    // owns): adding it to an archive reads it from there.
    void AdoptOpenFile(int fd) { m_ownStream.AdoptDirect(fd, true); }

private:
    ManifestFile m_digest;
    bool m_digestEnabled = false;
    bool m_haveFreshStat = false;
    bool m_freshStatFollowedLinks = false;
    std::string m_freshStatName;
    struct stat m_freshStat { };
};

class CDirectory : public CDirEntry {
public:
    explicit CDirectory(const std::string& name);
    CDirectory(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
               std::vector<uint8_t> userInfo);
    void ExtractOrTest(CArchiveFile& archive, bool verification) override;
    void CreateOnDisk() override;
    bool FillHeaderInfo(KoxHeaderInfo& info) override;
    bool IsDirectory() const override { return true; }
    // Extraction found a symbolic link to a directory at the path: its
    // target gets neither this entry's time nor its permissions.
    bool LinkOnDisk() const { return m_linkOnDisk; }
    // For the extract command: the directory this entry makes (nothing had
    // its path) is made by make, given the path, instead (a verified
    // extraction makes it under a hidden name, to fill it there); where
    // make returns false it is made at its path.
    void MakeWith(std::function<bool(const std::string&)> make) { m_make = std::move(make); }

private:
    bool m_linkOnDisk = false;
    std::function<bool(const std::string&)> m_make;
};

class CLink : public CDirEntry {
public:
    explicit CLink(const std::string& name);
    // storedName: "name|target" as stored, in the local code page, its name
    // of storedNameLength bytes (npos: no "|", no target).
    CLink(const std::string& name, const std::string& storedName, size_t storedNameLength, const std::string& target,
          const KoxHeaderInfo& info, std::vector<uint8_t> userInfo);
    void Extract(CArchiveFile& archive) override;
    std::string StoreRefusal() const override;
    void ExtractOrTest(CArchiveFile& archive, bool verification) override;
    bool FillHeaderInfo(KoxHeaderInfo& info) override;
    bool PrepareStoredName() override;
    const std::string& GetTarget() const { return m_target; }

private:
    std::string m_target;
};

class CSignedManifest : public CDirEntry {
public:
    // The manifest entry of a signing run: its data is the context's text.
    CSignedManifest(const std::string& name, ManifestContext* context);
    // The manifest entry read from an archive (mode becomes 0600; with
    // -manifest that file's name replaces the entry name).
    CSignedManifest(const std::string& name, const std::string& storedName, const KoxHeaderInfo& info,
                    std::vector<uint8_t> userInfo, ManifestContext* context);
    void ExtractOrTest(CArchiveFile& archive, bool verification) override;
    bool IsSignedManifest() const override { return true; }
    bool FillHeaderInfo(KoxHeaderInfo& info) override;

    CNullStream& NullStream() { return m_nullStream; }
    CBufferedStream& BufferedStream() { return m_bufferedStream; }
    uint64_t HeaderOffset() const { return m_headerOffset; }
    ManifestContext* Context() const { return m_context; }
    std::string text1, text2, text3;  // free for the signature commands

private:
    CNullStream m_nullStream;
    CBufferedStream m_bufferedStream;
    uint64_t m_headerOffset = 0;
    ManifestContext* m_context = nullptr;
};
