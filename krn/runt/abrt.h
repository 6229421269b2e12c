// Runtime stand-ins of a stand-alone program and small runtime helpers: the
// system-information record, the runtime area, fixed answers of the
// application server's runtime, 16-character timestamps, a what-string
// reader, a hex dump and a setlocale wrapper.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- system information --------------------------------------------------------
struct AbSysInfo {
    const char* sysname;  // uname texts
    const char* release;
    const char* machine;
    const char* nodename;
    int32_t byteOrder;    // 1 little endian ("LIT"), else "BIG"
    int32_t floatFormat;  // 1 IEEE ("IE3"), else "IBM"
    char codepage[4];
    char codepageExtra;
    char reserved[256 - 4 * sizeof(const char*) - 2 * sizeof(int32_t) - 5];
};
static_assert(sizeof(AbSysInfo) == 256);
extern AbSysInfo ab_sysinfo;
extern uint32_t ab_version;  // major << 16 | minor
// The blank-padded system text record (245 characters).
const char* ab_systext();
void abcglob_init(int keepCodepage);
void abcglob_set_codepage(const char* codepage);
// One byte of the release-information table row of that index.
unsigned char ab_relinfo_field(int index);

// ---- the runtime area ------------------------------------------------------------
constexpr size_t AB_ZTTA_SIZE = 34448;
struct AbUserArea {
    char logonLanguage;  // "D"
    char userCodepage[4];
    char textCodepage[4];
    char textCodepage2[4];
    char userName[15];  // "000ZEMOUSER", blank-padded
};
struct AbTextArea {
    char language;
    char codepage[4];
    char codepage2[4];
    char locale[256];
    AbUserArea* user;
    void* spaAddress;   // address of spaptr
    void* spauAddress;  // address of spauptr
    uint32_t size;      // the area size, recorded twice
    uint32_t size2;
};
extern AbTextArea* zttaptr;
extern void* spaptr;
extern AbUserArea* spauptr;
// Allocates the area as a storage block and points zttaptr at it; 0.
int ab_ztta_init();

// ---- fixed answers -----------------------------------------------------------------
// Kind 2 "***batch***     ", 1 "000", 6 "1", 7 a blank, others null.
const char* ab_terminal_name(int kind);
// Decimals of a 5-character currency code (flag 1: 2).
int ab_currency_decimals(const char* code, int flag);
// Message output to standard error; ends the process with the number unless
// the type is 9.
void ab_message(int type, const char* msgClass, int number, int count, const char* p1, int l1, const char* p2, int l2,
                const char* p3, int l3);
void ab_zero12(char* field);
void ab_zero16(char* field);

// ---- small helpers -------------------------------------------------------------------
const char* ab_whatstring_name(const char* text);
void ab_timestamp16(char* field);
int ab_timestamp16_valid(const char* field);
typedef void (*AlRslgCallback)(void*, void*, void*, void*, void*, void*);
int AlRslgSetCallbackFunction(AlRslgCallback callback);
int AlRslgCallCallback(void* a, void* b, void* c, void* d, void* e, void* f);
void ab_hexdump(FILE* f, const void* data, size_t length, const char* prefix, unsigned long offset, int width);
void ab_sleep(unsigned long seconds);
char* rstr_setlocale(int category, const char* locale);
