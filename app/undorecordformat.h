// The stored form of an undo record (see CUndoRecord): the fields, and the
// bytes they are written as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// How many of a run's first bytes a record keeps.
inline constexpr size_t kUndoFirstBytes = 4096;
// The longest archive name a record holds: the longest a directory entry
// can have.
inline constexpr size_t kUndoLongestBase = 255;
// The layout a run writes its record in, the digit its magic ends in.
// Records of every earlier layout are read too: those of version 2 (the two
// releases before this layout) hold no spreadCrc and are judged without it.
inline constexpr unsigned kUndoRecordVersion = 3;
// A record's fields of fixed size, its checksum included, in the largest
// layout (the one a run writes).
inline constexpr size_t kUndoRecordFieldBytes = 8 + 8 * 8 + 3 * 4 + 2 * 2 + 4;
// What a record holds besides the bytes written over, at most.
inline constexpr size_t kUndoRecordFixedBytes = kUndoRecordFieldBytes + kUndoLongestBase + kUndoFirstBytes;

// A record as it is stored.  The run wrote into the archive of device dev
// and inode ino, first at writeAt; the archive was oldLength bytes long and
// tail is what stood from writeAt to that end (nothing for a run that only
// adds behind it).  headCrc, windowCrc and spreadCrc are CRC-32s of the
// archive's first bytes, of those just before writeAt and of pieces spread
// over what lies between, as the run found them (see the record's judgement
// in undorecord.h); first is what the run wrote first at writeAt, right
// after the record was written at time (seconds since the epoch).  pid and
// start: the writing process and its start time.  base: the archive's name
// in its directory.  version: the record's layout (spreadCrc is 0 in one
// that holds none, see UndoRecordHoldsSpread).
struct UndoRecordFields {
    uint64_t dev = 0, ino = 0, pid = 0, start = 0, oldLength = 0, writeAt = 0, time = 0;
    uint32_t headCrc = 0, windowCrc = 0, spreadCrc = 0;
    unsigned version = kUndoRecordVersion;
    std::string base, tail, first;
};

// Whether a record of the layout version holds spreadCrc (those of version
// 2 do not).
bool UndoRecordHoldsSpread(unsigned version);

// How many bytes of a record tell its length: its magic and fixed fields
// (the largest layout's; every record of a smaller one is longer than that).
inline constexpr size_t kUndoRecordLeadBytes = kUndoRecordFieldBytes - 4;
// The length of the record whose first kUndoRecordLeadBytes bytes lead
// holds, from its fields; 0 when they begin no record of a layout this
// program reads.
uint64_t UndoRecordLength(const std::string& lead);

// The bytes of a record, in the layout of fields.version (the one a run
// writes, unless that is no layout this program knows); DecodeUndoRecord
// takes nothing but one whole record of a layout it reads, its lengths and
// checksum right, and gives false for anything else.
std::string EncodeUndoRecord(const UndoRecordFields& fields);
bool DecodeUndoRecord(const std::string& bytes, UndoRecordFields& fields);
// Puts the n bytes at offset of a stored record into out; false when they
// can not all be had.
using UndoRecordReader = std::function<bool(uint64_t offset, size_t n, std::string& out)>;
// DecodeUndoRecord for a record of size bytes that read gives, held in
// pieces of at most kUndoRecordPiece bytes whatever its length: all of it is
// checked, but the bytes written over stay where they are (fields.tail is
// left empty; they begin at tailAt and reach oldLength - writeAt bytes).
inline constexpr size_t kUndoRecordPiece = 64 * 1024;
bool DecodeUndoRecordFrom(const UndoRecordReader& read, uint64_t size, UndoRecordFields& fields, uint64_t& tailAt);
// The CRC-32 of n bytes, as records use it.
uint32_t UndoChecksum(const char* data, size_t n);
