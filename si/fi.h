// Offset-linked block structures in caller memory.
//
// Fi index: keyed indices inside one caller block.  Every link in the block is
// a 32-bit byte offset from the block's start, and keys and values are
// recorded as 32-bit offsets from a base address the caller names when it
// opens an index, so the block holds no address apart from its own handle
// slots and can move as long as the base moves with it.  Each index is a trie
// over key bytes; all indices of a block share its pools of nodes and leaves.
// Nothing here allocates: every node, leaf and index header comes from a pool
// fixed when the block is laid out.
//
// The block is not trusted: every offset and count read from it is checked
// before it is followed, and an operation that meets one that cannot be right
// returns FI_EINVAL instead of reading or writing outside the block.  Keys and
// values are the caller's memory and are read as the caller laid it out: the
// key and value offsets of the leaves are trusted, and so are the key length
// and base of the list and hash variants, which have no handle to hold them
// (an index handle keeps the key length it was opened with).
//
// Ft free table: fixed-size entries chained into a free list by offsets.
// List variant: the same insert, remove and search on a linear list.
// Hash variant: a hashed table linked by addresses (so it cannot move).
//
// Return codes are those of the FI_ constants below.  No operation locks; the
// process-wide handle pool alone may be used from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

enum : int32_t {
    FI_OK = 0,
    FI_ENOSPACE = 2,     // no free handle, index header, node, leaf or entry
    FI_EKEY_EXISTS = 3,  // the key is already present
    FI_ENOTFOUND = 4,    // key or index not found
    FI_EINCONSIST = 5,   // the statistics found an inconsistency
    FI_EINVAL = 6,       // invalid argument, or a block whose contents cannot be right
    FI_ENOTAVAIL = 7,    // operation not available; the hash insert's "added"
    FI_EEXISTS = 8,      // block name, or an open index with that number, exists
};

inline constexpr uint32_t FI_FLAG_ALL_NODES = 2;          // one inner node per key
inline constexpr uint32_t FI_HANDLE_IN_BLOCK = 4;         // open mode: a slot of the block
inline constexpr uint32_t FI_SEARCH_START = 0xFFFFFFFFu;  // state of a new FiSearchAll

// The caller's token for an open index (32 bytes).  Handles come from the
// block's own 256 slots or from a process-wide pool of 256; they are never
// allocated or freed, only marked.
struct FI_HANDLE {
    uint32_t index;
    int32_t keyLen;  // as the index was opened: a header that says otherwise is refused
    void* block;
    const void* base;
    int32_t header;
    uint32_t inUse;
};
typedef FI_HANDLE* FI_HDL;

// Counts of one index and of its block, filled by FiStatistics.
struct FI_STATISTICS {
    int32_t leaves;          // leaves found in the tree
    int32_t nodes;           // inner nodes found in the tree
    int32_t deepest;         // deepest level of a leaf (root = 0)
    double avgChildren[16];  // mean children per inner node, by level 0..15
    double avgLeafDepth;
    double avgNodeDepth;
    int32_t freeHeaders, freeNodes, freeLeaves;
    int32_t openIndices;     // as the block header counts them
    int32_t listedIndices;   // as the list of index headers holds them
    int64_t keysAllIndices;  // keys of every index in the block
};

// ---- Fi index ----

// Block size for the given counts (only flag FI_FLAG_ALL_NODES counts); 0
// when a count is negative or the block would not fit 32-bit offsets.
uint32_t FiCalcSize(int32_t nIndices, int32_t maxKeys, int32_t leafParam, uint32_t flags);
// Lays out a block of FiCalcSize bytes (8-byte aligned).  The name is taken
// to 16 characters and blank-padded; a block that already carries it is left
// alone (FI_EEXISTS).
int32_t FiInit(void* block, const char* name, uint32_t flags, int32_t nIndices, int32_t maxKeys, int32_t leafParam,
               uint8_t wildA, uint8_t wildB, void** outBlock);
// Marks the block uninitialised (its name zeroed).
int32_t FiExit(void* block);
// Opens index number `index` with key length keyLen; mode FI_HANDLE_IN_BLOCK
// takes the handle from the block's slots, any other mode from the process
// pool.  An index of that number that is already open gives FI_EEXISTS with a
// handle to it, which works when the index's key length is at most keyLen
// (keys are then compared at the index's length) and is refused otherwise.
int32_t FiOpenIndex(void* block, uint32_t index, uint32_t mode, const void* base, int32_t keyLen, FI_HDL* out);
// A further handle (process pool) to an index that is open.
int32_t FiAttachIndex(void* block, uint32_t index, const void* base, FI_HDL* out);
// Gives the handle back; the index stays open.
int32_t FiFreeHandle(FI_HDL h);
// Empties and closes the handle's index and gives the handle back.
int32_t FiCloseIndex(FI_HDL h);
// Inserts the key (keyLen bytes at key) with its value; both addresses must
// lie within 4 GiB above the handle's base.  *leaf receives the new leaf, or
// the present one with FI_EKEY_EXISTS.
int32_t FiInsert(FI_HDL h, const void* key, const void* value, int32_t* leaf);
int32_t FiSearch(FI_HDL h, const void* key, int32_t* leaf);
// Removes the key of a leaf that FiInsert or FiSearch handed out.
int32_t FiRemove(FI_HDL h, int32_t leaf);
// The value address of a leaf of the handle's index (null when the leaf is
// not one).
const void* FiLeafValue(FI_HDL h, int32_t leaf);
// Every key that matches with wildcard A, capacity at a time: start with
// *state = FI_SEARCH_START; *state becomes 1 while more may follow, 0 at the
// end.  One block runs one such search at a time.
int32_t FiSearchAll(FI_HDL h, const void* key, uint32_t capacity, int32_t* leaves, uint32_t* count, uint32_t* state);
// One key that matches with wildcard B as a terminator (longest first).
int32_t FiSearchPrefix(FI_HDL h, const void* key, uint8_t c1, uint8_t c2, int32_t* leaf);
int32_t FiSearchPrefixLen(FI_HDL h, const void* key, int32_t keyLenUsed, uint8_t c1, uint8_t c2, int32_t* leaf);
int32_t FiDump(FI_HDL h, FILE* stream);
int32_t FiStatistics(FI_HDL h, FI_STATISTICS* st);

// ---- Ft free table ----

size_t FtCalcSize(int32_t ignored, int32_t number, int32_t entrySize);
inline constexpr uint32_t FT_FLAG_ATTACH = 8;  // attach to an existing table only
int32_t FtInit(void* block, const char* name, uint32_t flags, int32_t number, int32_t entrySize, void** outBlock);
typedef int (*FtInUseFunc)(void* entryData);
typedef int (*FtInUseArgFunc)(void* entryData, void* arg);
int32_t FtRebuild(void* table, FtInUseFunc inUse);
int32_t FtRebuildWithArg(void* table, FtInUseArgFunc inUse, void* arg);
int32_t FtRebuildByState(void* table);

// Layout of an Ft table, for its users, who take and return entries
// themselves.  An entry is {i32 state or previous link (-1 free), i32 next}
// followed by its data.
inline constexpr int32_t FT_OFF_NUMBER = 16;
inline constexpr int32_t FT_OFF_STRIDE = 20;
inline constexpr int32_t FT_OFF_USED = 24;
inline constexpr int32_t FT_OFF_FREE = 28;
inline constexpr int32_t FT_FIRST_ENTRY = 40;
inline constexpr int32_t FT_FREE_MARK = -1;

// ---- List variant ----

size_t FiListCalcSize(int32_t maxKeys, int32_t leafParam);
int32_t FiListInit(void* block, const void* base, int32_t maxKeys, int32_t keyLen, uint8_t wild, uint8_t second,
                   void** outBlock);
int32_t FiListInsert(void* block, const void* key, const void* value, int32_t* leaf);
int32_t FiListRemove(void* block, int32_t leaf);
int32_t FiListSearch(void* block, const void* key, int32_t* leaf);
int32_t FiListDump(void* block, FILE* stream);

// ---- Hash variant ----

size_t FhCalcSize(int32_t ignored, int32_t number, int32_t ignored2, int32_t entrySize);
int32_t FhInit(void* block, int32_t ignored, int32_t number, int32_t keyLen, int32_t entrySize, void** outBlock);
// FI_ENOTAVAIL with the new entry's data when added; FI_EKEY_EXISTS (with the
// present entry's data) or FI_ENOSPACE otherwise.  The key is not copied: it
// must stay where it is while the entry exists.
int32_t FhInsert(void* table, const void* key, void** data);
void* FhSearch(void* table, const void* key);
int32_t FhRemove(void* table, void* data);
// The most recently added entry's data; null when the table is empty.
void* FhFirst(void* table);
