// Storage blocks: heap blocks with a header and a guard byte, kept on one
// process-wide list of live blocks so that a block can be checked before it
// is freed or resized, all blocks of a kind freed at once, and the number
// and volume of live blocks (with their peaks) read.  Misuse (a bad header,
// a destroyed guard byte, an impossible size) ends the process through the
// runtime abort.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr unsigned char RSTG_NO_FILL = 0xDE;  // leave the memory as the heap gives it
constexpr uint32_t RSTG_FREE_ONE = 254;       // type selector: this block only
constexpr uint32_t RSTG_FREE_ANY = 255;       // type selector: blocks of any type
constexpr size_t RSTG_MAX_SIZE = 4294967254u;

// realloc's meaning (old block or null, new size); called with size 0, the
// block's next neighbour and the hook argument to free.
typedef void* (*RstgAllocHook)(void* old, size_t size, void* next, void* arg);

void* rstg_get(uint32_t flags, uint32_t type, const char* name, size_t size, unsigned char fill);
int rstg_free(uint32_t mask, void* block, uint32_t typeSel, void* hookArg);
int rstg_free_typed(void* block, uint32_t typeSel);
void* rstg_realloc(void* block, uint32_t flags, uint32_t type, const char* name, size_t size, unsigned char fill);
void* rstg_realloc_fill(uint32_t type, void* block, size_t oldSize, size_t newSize, unsigned char fill,
                        const char* name);
int rstg_check();
int rstg_get_counters(uint64_t* blocks, uint64_t* bytes, uint64_t* peakBlocks, uint64_t* peakBytes);
void rstg_set_alloc_hook(RstgAllocHook hook);
RstgAllocHook rstg_get_alloc_hook();
