// The error recorder of the code page library: every error is recorded
// through rscpe__error into the error record of the control record, handed to
// the system-log hook when its code asks for it, optionally printed, and, when
// the caller's mask does not hold its code, made fatal.  Also the printers of
// the record (a framed box or a plain list) and the recorder's switches.
#pragma once

#include <cstdint>
#include <cstdio>

#include "krn/rscp/cphook.h"

inline constexpr int RSCPE_ENTRIES = 5;

struct rscpErrEntry {
    char kind;  // reporting component ('C' the library)
    uint32_t code;
    char module[8];  // blank-padded
    int32_t location;
    int32_t line;
    char msgClass[20];  // "TS", blank-padded
    char msgNo[3];      // the error table's number, blanks when not listed
    char msgId[3];      // the caller's message id
    char arg1[64];
    uint8_t len1;
    char arg2[64];
    uint8_t len2;
    char text[68];
    uint8_t published;  // 1 once handed to the system log
    uint64_t sequence;  // process-wide error counter at recording
};

struct rscpErrRecord {
    int16_t count;  // errors since the last restart (saturates); entries hold at most 5
    rscpErrEntry entries[RSCPE_ENTRIES];
    int32_t errnoValue;
    char spare12[12];
    int32_t rtabError;
    int32_t rsqlError;
    int32_t ntabError;
    int32_t sqlCode;
    char sqlText[68];
    uint8_t tableByte1;
    uint8_t tableByte2;
    char tableName[30];
    char dbKey[30];
    char fileDetail[72];
    char initiator[30];
    uint8_t append;
};

// A restarted record: blanks in every text field, zeros elsewhere.
constexpr void rscpeBlank(char* field, int n)
{
    for (int i = 0; i < n; ++i)
        field[i] = ' ';
}
constexpr rscpErrEntry rscpeBlankEntry()
{
    rscpErrEntry e{};
    e.kind = ' ';
    rscpeBlank(e.module, 8);
    rscpeBlank(e.msgClass, 20);
    rscpeBlank(e.msgNo, 3);
    rscpeBlank(e.msgId, 3);
    rscpeBlank(e.arg1, 64);
    rscpeBlank(e.arg2, 64);
    rscpeBlank(e.text, 68);
    return e;
}
constexpr rscpErrRecord rscpeBlankRecord()
{
    rscpErrRecord r{};
    for (rscpErrEntry& e : r.entries)
        e = rscpeBlankEntry();
    rscpeBlank(r.spare12, 12);
    rscpeBlank(r.sqlText, 68);
    rscpeBlank(r.tableName, 30);
    rscpeBlank(r.dbKey, 30);
    rscpeBlank(r.fileDetail, 72);
    rscpeBlank(r.initiator, 30);
    return r;
}

// The entries of the record in use (its count, at most RSCPE_ENTRIES).
constexpr int rscpeEntriesShown(const rscpErrRecord& r)
{
    return r.count < 0 ? 0 : r.count > RSCPE_ENTRIES ? RSCPE_ENTRIES : r.count;
}
// Whether an entry in use was opened by the component or noter of kind.
constexpr bool rscpeHasKind(const rscpErrRecord& r, char kind)
{
    for (int i = 0; i < rscpeEntriesShown(r); ++i)
        if (r.entries[i].kind == kind)
            return true;
    return false;
}

typedef void (*rscpeReportFunc)(FILE* stream);

// Records an error and returns code when code AND mask is nonzero; otherwise
// the error is fatal: the record is dumped, the Abort hook runs and the process
// aborts.  Lengths of -1 mean NUL-terminated arguments, 0 a blank argument.
uint32_t rscpe__error(uint32_t code, char kind, uint32_t mask, const char* module, int32_t location, int32_t line,
                      const char* text, const char* msgid, const char* arg1, int32_t len1, const char* arg2,
                      int32_t len2);

void rscpe_keep_errors();
void rscpe_clear_errors();
const rscpErrRecord* rscpe_get_error_record();
void rscpe_set_error_record(const rscpErrRecord* saved);

// Detail noters: each opens an entry of its kind as an error would.
void rscpe_note_file_error(int32_t errnoValue, const char* text, int32_t length);
void rscpe_note_sql_error(int32_t code, const char* text, int32_t length);
void rscpe_note_table_error(int32_t code, uint8_t secondByte, uint8_t firstByte, const char* tableName,
                            const char* dbKey);
void rscpe_note_ntab_error(int32_t code);
void rscpe_note_rsql_error(int32_t code);

// Readers (a NULL record gives 0 for the SQL code and 16 for the codes).
int32_t rscpe_get_sql_code(const rscpErrRecord* record);
uint32_t rscpe_get_first_rc(const rscpErrRecord* record);
uint32_t rscpe_get_last_rc(const rscpErrRecord* record);
// The newest entry's arguments, each cut to its buffer and NUL-terminated.
void rscpe_get_last_args(const rscpErrRecord* record, char* arg1, int32_t size1, char* arg2, int32_t size2);
// Texts without trailing blanks, cut to the buffer.
void rscpe_get_last_text(const rscpErrRecord* record, char* buffer, int32_t size);
void rscpe_get_last_text7(const rscpErrRecord* record, char* buffer, int32_t size);
void rscpe_get_sql_text(const rscpErrRecord* record, char* buffer, int32_t size);
int32_t rscpe_trim_length(const char* text, int32_t length);

// Formatters into static buffers.
const char* rscpe_format_table_key(int32_t number, const char* text, int32_t* length);
const char* rscpe_format_number(long number, int32_t* length);
const char* rscpe_format_locale_key(const char* key28);
const char* rscpe_format_lang_cp(const char* key5);

// Switches.
int32_t rscpe_set_print_style(int32_t style);
int32_t rscpe_get_print_style();
int32_t rscpe_set_print_counter(int32_t on);
int32_t rscpe_get_print_counter();
int32_t rscpe_set_print_origin(int32_t on);
int32_t rscpe_get_print_origin();
int32_t rscpe_set_trace_level(int32_t level);  // returns the previous level
int32_t rscpe_get_trace_level();
int32_t rscpe_set_on_error_level(int32_t level);
int32_t rscpe_get_on_error_level();
int32_t rscpe_set_error_tracing(int32_t on);
int32_t rscpe_get_error_tracing();
inline bool rscpe_trace_on()
{
    return rscpe_get_trace_level() != 0;
}
inline bool rscpe_trace_verbose()
{
    return rscpe_get_trace_level() >= 2;
}

// Error-output functions: 1 standard error, 2 and 3 silent by default.
rscpeOutputFunc rscpe_set_output_func(rscpeOutputFunc f, int32_t number);
rscpeOutputFunc rscpe_get_output_func(int32_t number);
void rscpe_default_output(const char* text, int32_t length);
void rscpe_no_output(const char* text, int32_t length);
rscpeReportFunc rscpe_set_report_func(rscpeReportFunc f);
FILE* rscpe_set_report_stream(FILE* stream);
FILE* rscpe_get_report_stream();
void rscpe_call_output(const char* text, int32_t length, rscpeOutputFunc out);

// The error table's 51-character text of a code (blanks for an unlisted
// code), and the 35-character component text of a kind ("stranger").
const char* rscpe_code_text(uint32_t code);
const char* rscpe_component_text(char kind);
// The module name in a module ident (up to '#' or tab, at most 32
// characters); its length through *length.
const char* rscpe_module_name(const char* ident, int32_t* length);
void rscpe_publish_errors();

// Printers.
void rscpe_box_print(const rscpErrRecord* record, rscpeSinkFunc print, rscpeOutputFunc out);
void rscpe_print_errors(const rscpErrRecord* record, rscpeOutputFunc out);
void rscpe_print_error_stack(const rscpErrRecord* record, rscpeOutputFunc out);
void rscpe_dump_errors(const rscpErrRecord* record, FILE* stream);
const char* rscpe_errno_text(int32_t errnoValue);
