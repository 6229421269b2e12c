// The application's file stream over stdio with 64-bit offsets, and two
// in-memory variants: CBufferedStream keeps what is written, CNullStream drops
// it.  No operation throws: each returns a success flag and a failed open,
// read or close leaves errno in LastError() for the caller's message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

// Open-mode bits, tested in this order; the first set one decides.
inline constexpr uint32_t KOV_OPEN_APPEND = 0x10000000;  // "a"
inline constexpr uint32_t KOV_OPEN_CREATE = 0x20000000;  // "w"
inline constexpr uint32_t KOV_OPEN_READ = 0x40000000;    // "r"
inline constexpr uint32_t KOV_OPEN_UPDATE = 0x02000000;  // "r+"

// Takes over the writes of a stream: the bytes are kept in order behind work
// still being done elsewhere and reach the file later through WriteThrough.
class IWriteBehind {
public:
    virtual ~IWriteBehind() = default;
    // Queues length bytes after everything queued before; false when data
    // queued earlier could not be written.
    virtual bool Append(const void* buffer, size_t length) = 0;
    // Writes everything queued; false on a write error.
    virtual bool Flush() = 0;
};

// Is told of the first bytes a stream writes before any of them reaches its
// file, so that it can first put on storage what a later look at the file
// needs (what a run killed after that write would have to have undone).
// Those first bytes are the last the stream puts into its file: until Sync
// the file holds zero bytes in their place, so that a reader of the file
// meets zeros where the stream's bytes begin until all of them are there.
class IFirstWrite {
public:
    virtual ~IFirstWrite() = default;
    // bytes: the first n bytes the stream writes from where it stands (as
    // many as were asked for, fewer when the stream had to reach its file
    // sooner, none for a cut).  False, errno set, refuses the write: the
    // stream then writes nothing more.  Throws nothing.
    virtual bool BeforeFirstWrite(const void* bytes, size_t n) = 0;
    // After BeforeFirstWrite: whether the stream is to put those bytes in
    // last (false: they go out in their place, as any other bytes).
    virtual bool FirstBytesLast() const { return true; }
};

class CFileStream {
public:
    CFileStream() = default;
    CFileStream(const char* path, uint32_t mode) { Open(path, mode); }
    virtual ~CFileStream();
    CFileStream(const CFileStream&) = delete;
    CFileStream& operator=(const CFileStream&) = delete;

    // Reads up to length bytes; *count receives what came.  True when all
    // came or the end of the file was reached (so a short count with true
    // means end of file); false on a read error (errno kept).
    virtual bool Read(void* buffer, size_t length, size_t* count);
    // Writes length bytes; true when all were written.
    virtual bool Write(const void* buffer, size_t length, size_t* count);
    // Opens path with the mode chosen by the bits; any handle held before is
    // closed first.  Success shows in IsOpen(); no known bit: no handle, EINVAL.
    virtual void Open(const char* path, uint32_t mode);
    virtual bool IsOpen() const { return m_file != nullptr || m_fd >= 0; }
    // Open, but on the bare descriptor instead of stdio: each Read and Write
    // is one system call (or as many as the transfer takes) straight to the
    // caller's buffer, and opening costs no calls of stdio's own.  For files
    // moved in large pieces; Handle() is null, Seek, Tell and MoveFlPtr fail.
    void OpenDirect(const char* path, uint32_t mode);
    // Creates path as a new file (mode 0666 less the creation mask) on the
    // bare descriptor, as OpenDirect does; fails with EEXIST, leaving the
    // name alone, when anything has that name.  False with LastError set.
    bool CreateNew(const char* path);
    // Takes over fd, a descriptor its caller opened, as OpenDirect would
    // have opened it; regular: it is a regular file.
    void AdoptDirect(int fd, bool regular);
    // Opens the stream for writing, as Open would, on fd, a descriptor its
    // caller opened and hands over (closed also on failure): the file, its
    // offset and its flags stay as they are, so nothing is cut and a
    // descriptor that appends goes on appending.
    void OpenOn(int fd);
    // The bare descriptor of a stream opened by OpenDirect or CreateNew, -1
    // for any other.
    int Descriptor() const { return m_fd; }
    // Leaves n bytes that are all zero unwritten where the file system can
    // keep them as a hole (a regular file opened by OpenDirect or
    // CreateNew): the next Write starts behind them and Close gives the file
    // its full size.  Otherwise writes them.  Same result as Write.
    bool WriteZeros(const void* zeros, size_t n, size_t* count);
    // Gives the file the size of what was written, the hole left at its end
    // included, before Close (which does it too); false with LastError set.
    bool CloseHole();
    // Drops stdio's buffer, right after Open and before any other operation:
    // each Read is then one read call straight into the caller's buffer,
    // for streams moved in large chunks.  False when no handle is held.
    bool SetUnbuffered();
    // Gives stdio a buffer of size bytes, owned by the stream, right after
    // Open and before any other operation: a stream written in many pieces
    // then reaches the file in fewer, larger writes.  False when no handle
    // is held or stdio refuses.
    bool SetBufferSize(size_t size);

    // Absolute seek from the start, seek to the end, current offset; each is
    // false when no handle is held or the call fails.
    bool Seek(uint64_t offset);
    bool SeekEnd();
    bool Tell(uint64_t* offset);
    // Moves forward by count bytes with a seek; false for a negative count, no
    // handle or a failed seek.  Moving past the end of the file is not
    // detected here (the next read then reports end of file).
    bool MoveFlPtr(int64_t count);
    // Cuts the file at the current offset (buffered data is flushed first).
    bool Truncate();
    // Writes out everything queued and buffered and has the system put a
    // regular file's data on its storage (fsync), so that it survives a
    // crash; true when that is done or the stream is no regular file (a
    // pipe, a terminal, a device), false with LastError set.
    bool Sync();
    // Flushes and closes; true on success or when nothing was open.  A failed
    // close (for instance a full disk on the final flush) stores errno and
    // returns false.  The handle is gone afterwards in both cases.
    bool Close();
    int LastError() const { return m_lastError; }
    FILE* Handle() const { return m_file; }

    // Hands every later Write to writeBehind (nullptr ends that); any other
    // operation first has it write out what it holds.
    void SetWriteBehind(IWriteBehind* writeBehind) { m_writeBehind = writeBehind; }
    // Writes to the file itself, past any write-behind queue.
    bool WriteThrough(const void* buffer, size_t length, size_t* count);
    // Holds back the first bytes written from now on (up to bytes of them)
    // and hands them to watcher before anything reaches the file: once that
    // many are held, or when any other operation needs the file as written
    // (a read, seek, sync, cut or close).  Zero bytes then stand in the file
    // in their place (on storage before anything else the stream writes
    // when they lie inside the file's length), and reads see the held bytes
    // there; Sync puts them in last, after what followed them is on
    // storage.  A stream closed without Sync leaves the zeros.  For streams
    // opened with Open only.
    void WatchFirstWrite(IFirstWrite* watcher, size_t bytes);

    // Operations of the other platform's backup strategy; false here.
    bool BackupRead(void* buffer, size_t length, size_t* count);
    bool BackupWrite(const void* buffer, size_t length, size_t* count);
    bool BackupEnd();

protected:
    uint32_t m_reserved1 = 0;
    uint32_t m_reserved2 = 0;
    int m_lastError = 0;
    FILE* m_file = nullptr;
    int m_fd = -1;             // the bare descriptor of OpenDirect and CreateNew
    bool m_regular = false;    // the bare descriptor is a regular file
    uint64_t m_holeAhead = 0;  // zero bytes left unwritten behind the last write
    // The buffer given by SetBufferSize; it outlives the handle using it.
    std::unique_ptr<char[]> m_stdioBuffer;
    IWriteBehind* m_writeBehind = nullptr;
    IFirstWrite* m_firstWrite = nullptr;  // told before the first bytes go out
    size_t m_holdLimit = 0;               // how many of them it is handed at most
    std::vector<uint8_t> m_held;          // the first bytes, held back until then
    int m_refusedError = 0;               // it refused them: no write succeeds any more
    std::vector<uint8_t> m_head;          // the first bytes, zeros in the file in their place
    uint64_t m_headAt = 0;                // where they go
    bool m_cutBeforeHead = false;         // the file was cut while they were held out

    // Has the write-behind queue, if any, write out what it holds, then the
    // first bytes held back for their watcher.
    bool FlushWriteBehind()
    {
        return (m_writeBehind == nullptr || m_writeBehind->Flush()) && (m_firstWrite == nullptr || ReleaseHeld(false));
    }

private:
    // Hands the held bytes to their watcher, then writes them; with
    // evenNone also when none are held (the file is about to change
    // otherwise).  False, with LastError set, when the watcher refuses
    // them or the write fails.
    bool ReleaseHeld(bool evenNone);
    // Lets go of the watcher, its held bytes written first, and of a refusal:
    // a file opened anew starts without either.
    void ForgetFirstWrite();
    // WriteThrough while bytes are held back or refused.
    bool HoldThrough(const void* buffer, size_t length, size_t* count);
    // Writes zeros in place of the held bytes and keeps those for PutHead.
    bool StandInForHead(std::vector<uint8_t>& held);
    // Puts the first bytes where the zeros stand, behind everything else
    // the stream wrote, which goes on storage first (Sync).
    bool PutHead();
    // Shows a read of length bytes at offset the first bytes where zeros
    // still stand in for them.
    void OverlayHead(uint64_t offset, void* buffer, size_t length) const;
    // Opens path for Open and OpenDirect: the descriptor, or -1 with the
    // error in m_lastError; text receives the stdio mode.
    int OpenDescriptor(const char* path, uint32_t mode, const char** text);
    // Moves the bare descriptor over the hole left so far.
    bool PassHole();
};

// Keeps every written byte in memory; reads give them back from a read
// position that the user sets with SetReadPosition (none until then).
class CBufferedStream : public CFileStream {
public:
    CBufferedStream() = default;
    ~CBufferedStream() override = default;

    bool Read(void* buffer, size_t length, size_t* count) override;
    bool Write(const void* buffer, size_t length, size_t* count) override;
    void Open(const char*, uint32_t) override { }
    bool IsOpen() const override { return true; }

    // Starts reading at offset (clamped to the buffer's end).
    void SetReadPosition(size_t offset = 0);
    bool HasReadPosition() const { return m_hasReadPosition; }
    const uint8_t* Data() const { return m_buffer.data(); }
    size_t Length() const { return m_buffer.size(); }
    // Empties the stream and lifts its limit.
    void Clear();
    // Writes that would make the stream longer than limit bytes fail and
    // keep nothing of theirs; LimitReached then tells why.  Room for
    // expected bytes (at most the limit) is taken at once.
    void SetLimit(size_t limit, size_t expected = 0);
    bool LimitReached() const { return m_limitReached; }
    // Hands the bytes written over to out without a copy; the stream is
    // then empty.
    void TakeData(std::vector<uint8_t>& out)
    {
        out.swap(m_buffer);
        Clear();
    }

private:
    bool m_hasReadPosition = false;
    size_t m_readPosition = 0;
    size_t m_limit = SIZE_MAX;
    bool m_limitReached = false;
    std::vector<uint8_t> m_buffer;
};

// Swallows writes and answers reads as fully done without copying anything.
class CNullStream : public CFileStream {
public:
    CNullStream() = default;
    ~CNullStream() override = default;

    bool Read(void*, size_t length, size_t* count) override;
    bool Write(const void*, size_t length, size_t* count) override;
    void Open(const char*, uint32_t) override { }
    bool IsOpen() const override { return true; }
};
