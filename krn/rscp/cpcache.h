// The converter cache (CCC): its start-up and control data, options and
// maintenance, locks, attach table and state history, the catalogue fill from
// the compiled-in store and "TCPDB.DAT", the row operations of the code page
// lists, character lengths, word separators, the quality check and the state
// texts, and the local code page.
#pragma once

#include <cstdint>

#include "krn/rscp/cpccc.h"

// ---- start-up ---------------------------------------------------------------

// Regular start-up (main, mask -1): 0 or the code that stopped it.
uint32_t rscpi_init(uint32_t mask);
uint32_t rscpi__init(uint32_t mask);
uint32_t find_cachesizes(uint32_t* length, uint32_t* cache07);
uint32_t find_kovcode_max(uint32_t* value);
uint32_t find_uchar_max(uint32_t* value);
void rscpip__read_pua_param(const char* name, uint32_t* value);
uint32_t rscpic__init_cache(uint32_t length, uint32_t cache07, uint16_t maxKovCode, const char* memoryKind,
                            uint32_t mask);
void rscpir__reinit_check();

// Private-use characters of the library and the bytes derived from them.
struct rscpPua_t {
    uint32_t frame1intro;    // 0xF8FC
    uint8_t frame1Bytes[2];  // high byte first
    uint32_t icon2intro;     // 0xF8FD
    uint8_t icon2Bytes[2];
    uint8_t icon2Utf8[3];         // EF A3 BD
    uint32_t dbcReplacement;      // 0xF8FE
    uint32_t printcontrol5intro;  // 0xF8FF
};
extern rscpPua_t rscpPua;

// The 30-character start origin ("compile_time", blanks after a regular
// start, or the caller that started the cache on the spot) and the flags.
const char* rscpStartOrigin();
int rscpRegularStart();
uint32_t rscpProcessGeneration();

// ---- options and maintenance ------------------------------------------------

uint32_t rscpso_set_option(int32_t option, int32_t value, uint32_t ignored);
uint32_t rscpgo_get_option(int32_t option, uint32_t* value);
uint32_t rscpict3_invalidate_convert_tables(uint32_t, uint32_t, const char* reason, int32_t reasonLength,
                                            uint32_t mask);
uint32_t rscpict_invalidate_convert_tables_locked(uint32_t, uint32_t, const char* reason, int32_t reasonLength,
                                                  uint32_t mask);
uint32_t rscpict4_invalidate_convert_tables(const char* table, int32_t tableLength, uint32_t, uint32_t,
                                            const char* reason, int32_t reasonLength, uint32_t mask);
uint32_t rscpict4_invalidate_convert_tables_locked(const char* table, int32_t tableLength, uint32_t, uint32_t,
                                                   const char* reason, int32_t reasonLength, uint32_t mask);
uint32_t rscpf_finish(uint32_t mask);
// Bytewise unsigned compare of two 4-character code pages: -1, 0 or 1.
int rscpCmpCodePage(const void* a, const void* b);
int rscpCmpCodePageSearch(const void* a, const void* b);
// Shift-Out/Shift-In (ISO-2022 start and back) sequences of the header: a
// new pair of at most 10 bytes each; 1 "CPU" for a longer one, 32 "CP6" when
// all ten entries are in use.  The locked form takes the semaphore and the
// write permission around it.
uint32_t rscpss__store_so_si(int32_t soLength, const uint8_t* so, int32_t siLength, const uint8_t* si);
uint32_t rscpss_store_so_si_locked(int32_t soLength, const uint8_t* so, int32_t siLength, const uint8_t* si);
// Copies bytes into the cache07 area (its top lowered and rounded down to a
// multiple of 8): 0 with the offset and address, or 32 "F1A" with 0 and NULL.
uint32_t rscpsc__store_cache07(const void* bytes, int32_t length, uint32_t* offset, void** address);
// Answers of the absent database: nothing to flush, nothing to initialise.
uint32_t rscpf1t__flush_one_table(const char* table);
uint32_t rscpgdi__general_db_init(uint32_t mask);
// Sets length bytes of the cache from offset to byte (nothing outside the
// attached block).
void rscpmc_fill_cache(uint32_t offset, int32_t length, int32_t byte);
// The text with "%*.*s\r\n" on standard error; 0.
int32_t rscpmc_write_line(const char* text, int32_t length);
// Each byte, or '.' for one that is not printable, until the source ends or
// size - 1 bytes are written; no NUL.
void rscpmc_printable_copy(const char* source, int32_t length, char* destination, int32_t size);
// 1 when the first character is a language key.
int32_t rscpmc_is_language_key(const char* text);
// Reads the cache address; 0.
uint32_t rscpmc_check_cache();

// ---- locks, attach table, statistics, state history -------------------------

struct rscpStateEntry_t {
    int32_t state;
    char timestamp[16];
};
inline constexpr int RSCP_STATE_HISTORY = 7;
// Newest first; entry 0 is the current state.
extern rscpStateEntry_t rscpCCCStateHistory[RSCP_STATE_HISTORY];

rscpCcc_t* rscpGetCCCAddress();
int32_t rscpGetSema(int32_t location);
int32_t rscprs__release_sema(int32_t location);
int32_t rscpGetSemaAndWritePermission(int32_t location);
int32_t rscpReleaseWritePermissionAndSema(int32_t location);
void rscpFlushStatistics();
void rscpNotifyStateChange(int32_t value);
int32_t rscpGetNewICUObjectID(uint64_t* id);
void rscpra__register_attach_address(int32_t mode, uint8_t allow, uint32_t* state);
void rscpSetCCCState(int32_t state);
rscpCtlRecord_t* rscpCountEvent(int32_t event);
// The process's reads per table since the last statistic (RSCP_EVENTS of
// them); the status dump resets them.
uint64_t* rscpEventsSinceStatistic();

// ---- catalogue fill ---------------------------------------------------------

uint32_t rscplt00__load_tcp00(uint32_t mask);
uint32_t rscplt01__load_tcp01(uint32_t mask);
uint32_t rscpt0d__take_system_language(uint32_t mask);
uint32_t rscprtd__read_tcpdb(uint32_t mask);
uint32_t rscptdb__take_tcpdb_code_page(const char* cp4, uint32_t mask);
uint32_t read_TCP0I(uint32_t mask);
uint32_t read_RFCDES(uint32_t mask);
// A row of a character-set name table; a table ends at a row without name.
struct rscpCharsetRow {
    char cp[4];
    uint32_t zero;
    const char* name;
};
// The name of the first row of the table whose code page is cp4, cut to the
// destination; the empty string for an unknown code page.  Returns 0.
uint32_t rscpcsn__charset_name(char* dst, const char* cp4, int32_t size, const rscpCharsetRow* table);

// ---- code page lists and character lengths ----------------------------------

inline constexpr int RSCP_TCP0I_ROWLEN = 287;
uint32_t rscpti__take_tcp0i_row(const char* row287);
void rscpadb__add_tcpdb_row(const char* cp4);
void rscpcdb__check_tcpdb(uint8_t report);
void rscpad__add_tcp0d_row(const char* row4);
void rscpcd__check_tcp0d();
void rscpa1__add_tcp01_row(const char* row41);
void rscpa0__add_tcp00_row(const char* row113, int32_t fieldCount, uint8_t sourceTag);

uint32_t rscpLengthOfMBChar(const uint8_t* p, int32_t left, uint32_t kind);
uint32_t rscpMaxCharLenOfKind(uint32_t kind);
struct rscpCharLenHandle_t {
    char cp[4];
    uint32_t kind;
};
uint32_t rscpInitCharLenHandle(rscpCharLenHandle_t* handle, const char* cp4);
uint32_t rscpLengthOfChar(const rscpCharLenHandle_t* handle, const uint8_t* p, int32_t left);
uint32_t rscpMaxLengthOfChar(const rscpCharLenHandle_t* handle);
void rscpSetCodePageNone(char* cp4);
// Two hexadecimal digits (upper case; anything else counts as 0): 0-255.
uint32_t rscphx__hex_pair_value(const char* pair);
uint32_t rscpPackCodePage(const char* cp4, int32_t ignored);

// ---- word separators and common characters -----------------------------------

uint32_t rscpli__load_init(uint32_t mask);
uint32_t rscpli__reset(uint32_t mask);
uint32_t rscpli__reorg(uint32_t mask);
uint32_t rscpli__finish(uint32_t mask);
void rscpSetWordSeparators(const char* text, uint32_t length, rscpeOutputFunc out);
uint32_t rscpReportNoCommonChars(const char* list, uint64_t* out);
uint32_t rscpReportNoSepcpAccess();
int32_t rscpli__cmp_order(const void* a, const void* b);

// ---- status texts and quality check -----------------------------------------

// Sinks are called once per line: (text, length, context).
int32_t rscpqc_quality_check(rscpeSinkFunc errSink, rscpeOutputFunc errCtx, rscpeSinkFunc warnSink,
                             rscpeOutputFunc warnCtx, int32_t level, uint32_t* errors, uint32_t* warnings);
int32_t rscpmli_memory_and_lock_info(rscpeSinkFunc out, rscpeOutputFunc ctx, int32_t level, uint32_t* lines);
const char* rscpst__state_text(int32_t state);
uint32_t rscprc__reorg_check(rscpCcc_t** cache, uint32_t* generation);
int rscpcd__check_date(const char* date16);
int32_t rscplf__lang_flags_text(char* out, int32_t size, uint32_t flags);
void rscpdb__draw_bar(char* out, int32_t width, int64_t first, int64_t end, int64_t total);
const char* rscpwh__what_string(int32_t mode);
const char* rscpfc__fallback_code_page();

// ---- local code page and database code pages ---------------------------------

typedef uint32_t (*kovlcpDBCodePageFunc)(char* cps, int32_t capacity, uint32_t* count);
void kovlcpGetLocalCodePage(char* cp4);
// The first four characters become the local code page; the environment's
// value is not taken (1) once the profile has set one; a change of the
// other source's value is reported on standard error.
int32_t kovlcpSetLocalCodePageFromEnv(const char* cp4);
int32_t kovlcpSetLocalCodePageFromProfile(const char* cp4);
// Once per process (the cache start-up): KOV_CODEPAGE, then the profile
// parameter "install/codepage/appl_server" read through the parameter hook;
// a value that does not begin with four digits is reported and passed over.
void kovlcpTakeLocalCodePageSettings();
// The initial state: "1100", set by neither source, the settings not yet
// taken.
void kovlcpResetLocalCodePage();
int32_t kovlcpSetDBCodePageFunc(kovlcpDBCodePageFunc f);
kovlcpDBCodePageFunc kovlcpGetDBCodePageFunc();
// The database code pages of the cache (4 characters each, packed).
uint32_t rscpGetDBCodePages(char* cps, int32_t capacity, uint32_t* count);
