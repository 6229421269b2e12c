// The error recorder: keeps the newest errors in the error record of the
// control record, publishes them through the system-log hooks, prints them on
// request and makes an error fatal when the caller's mask does not hold its
// code.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpcache.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"
#include "nls/nlsui.h"

namespace {

const char kModule[] = "@(#) $Id: rscperr#1 $";

struct ErrorRow {
    const char* text;  // symbolic name and text, 51 characters
    uint32_t code;
    const char* number;
    bool publish;
};

const ErrorRow kErrors[] = {
    {"RSCPEINTERN  Some other internal error             ", 1, "001", true},
    // Not published: a host that runs out of memory says so itself.
    {"RSCPENOMEM   Not enough memory.                    ", 2, "002", false},
    {"RSCPEIO      Some I/O error.                       ", 8, "004", true},
    {"RSCPEINVAL   Invalid arguments                     ", 16, "005", true},
    {"RSCPETOOLONG The data was longer than the buffer.  ", 32, "006", false},
    {"RSCPECALL    Illegal mixture of procedure calls.   ", 64, "007", true},
    {"RSCPENOOBJ   No such object                        ", 128, "008", false},
    {"RSCPEBUSY    Object is busy or locked              ", 256, "009", false},
    {"RSCPEUNIQ    Selects more than one object          ", 512, "010", false},
    {"RSCPENOCONV  Wanted conversion not available.      ", 2048, "012", false},
    {"RSCPEBADO    A handle is invalid or corrupted.     ", 4096, "013", true},
    {"RSCPEODATA   There is no more data.                ", 8192, "014", false},
    {"RSCPEROLLBACK  There happened a data base roll back", 16384, "015", true},
    {"                                                   ", 0, "   ", false},
};

const ErrorRow& Row(uint32_t code)
{
    for (const ErrorRow& r : kErrors)
        if (r.code == code || r.code == 0)
            return r;
    return kErrors[sizeof kErrors / sizeof kErrors[0] - 1];
}

struct Component {
    char kind;
    const char* text;  // 35 characters
};
const Component kComponents[] = {
    {'C', "Codepage handling (RSCP)           "}, {'I', "Internationalization (I18n, NLS)   "},
    {'E', "TemSe management (RSTS)            "}, {'P', "Spooler (RSPO)                     "},
    {'T', "Primary key table access (RTAB)    "}, {'N', "DD name-table access (NTAB)        "},
    {'S', "General table access (RSQL)        "}, {'Q', "Database management (SQL)          "},
    {'F', "Filesystem (FS or NFS) usage       "}, {'O', "low level libraries (PORT)         "},
};

uint64_t g_sequence = 0;
uint32_t g_fatal = 0;
int32_t g_printStyle = 1;
int32_t g_printCounter = 0;
int32_t g_printOrigin = 1;
int32_t g_traceLevel = 0;
int32_t g_onErrorLevel = 0;
int32_t g_errorTracing = 0;
rscpeOutputFunc g_output[3] = {rscpe_default_output, rscpe_no_output, rscpe_no_output};
const rscpeOutputFunc kDefaultOutput[3] = {rscpe_default_output, rscpe_no_output, rscpe_no_output};
rscpeReportFunc g_report = nullptr;
FILE* g_reportStream = nullptr;

rscpErrRecord& Rec()
{
    return rscph_HookTable.ctl->err;
}

int Slot(int32_t number)
{
    return number == 1 ? 0 : number == 2 ? 1 : 2;
}

void CountOne(rscpErrRecord& r)
{
    if (r.count < INT16_MAX)
        ++r.count;
}

// Opens the entry of the next error: behind the others when the append flag is
// set (the fifth entry is overwritten when the record is full), else the
// record restarts at the first entry.
rscpErrEntry& NextEntry(rscpErrRecord& r, bool setAppend)
{
    int index = 0;
    if (r.append != 0) {
        if (!setAppend)
            r.append = 0;
        index = r.count < 0 ? 0 : r.count > RSCPE_ENTRIES - 1 ? RSCPE_ENTRIES - 1 : r.count;
        CountOne(r);
    } else {
        r.count = 1;
        if (setAppend)
            r.append = 1;
    }
    r.entries[index] = rscpeBlankEntry();
    return r.entries[index];
}

// Skips "@(#)", "$Id:" and a blank after each.
const char* SkipIdentPrefix(const char* s)
{
    if (std::strncmp(s, "@(#)", 4) == 0)
        s += 4;
    if (*s == ' ')
        ++s;
    if (std::strncmp(s, "$Id:", 4) == 0)
        s += 4;
    if (*s == ' ')
        ++s;
    return s;
}

// The 8-character module field: the source file's base name without its
// extension.
void ModuleField(char* field, const char* ident)
{
    if (ident == nullptr) {
        nlsui_str2fix(field, "?modul?", 8);
        return;
    }
    const char* s = SkipIdentPrefix(ident);
    if (*s == '/') {
        const char* stop = s + std::strcspn(s, " #\t");
        for (const char* p = s; p < stop; ++p)
            if (*p == '/')
                s = p + 1;
    }
    nlsui_mem2fix(field, 8, s, static_cast<int32_t>(std::strcspn(s, ". #\t")));
}

int32_t Length(const char* s, int32_t length)
{
    if (s == nullptr)
        return 0;
    return length < 0 ? static_cast<int32_t>(std::strlen(s)) : length;
}

void StoreArg(char* field, uint8_t* stored, const char* arg, int32_t length)
{
    length = Length(arg, length);
    nlsui_mem2fix(field, 64, length > 0 ? arg : nullptr, length);
    *stored = static_cast<uint8_t>(length > 64 ? 64 : length);
}

void TraceError(const rscpErrEntry& e, const char* module, const char* text, bool fatal)
{
    char line[400];
    int32_t nameLength = 0;
    const char* name = rscpe_module_name(module, &nameLength);
    snprintfR(line, sizeof line, "rscpe__error %ld at %.*s(%d;%d) \"%.100s\" (%.*s,%.*s)", static_cast<long>(e.code),
              static_cast<int>(nameLength), name, e.location, e.line, text != nullptr ? text : "?text?",
              static_cast<int>(e.len1), e.arg1, static_cast<int>(e.len2), e.arg2);
    if (fatal)
        rscph_HookTable.TraceFatal();
    rscph_HookTable.TraceLine(0, kModule, 2356, line, -1);
}

void CopyTrimmed(char* buffer, int32_t size, const char* field, int32_t length)
{
    if (buffer == nullptr || size < 1)
        return;
    int32_t n = field != nullptr ? rscpe_trim_length(field, length) : 0;
    if (n > size - 1)
        n = size - 1;
    if (n > 0)
        std::memcpy(buffer, field, static_cast<size_t>(n));
    buffer[n] = '\0';
}

const rscpErrEntry* Newest(const rscpErrRecord* r)
{
    if (r == nullptr || rscpeEntriesShown(*r) == 0)
        return nullptr;
    return &r->entries[rscpeEntriesShown(*r) - 1];
}

}  // namespace

uint32_t rscpe__error(uint32_t code, char kind, uint32_t mask, const char* module, int32_t location, int32_t line,
                      const char* text, const char* msgid, const char* arg1, int32_t len1, const char* arg2,
                      int32_t len2)
{
    const int savedErrno = errno;
    ++g_sequence;
    rscpErrRecord& r = Rec();
    rscpErrEntry& e = NextEntry(r, false);
    e.kind = kind;
    if (r.errnoValue == 0)
        r.errnoValue = savedErrno;
    if (!rscpRegularStart())
        std::memcpy(r.initiator, rscpStartOrigin(), 30);
    ModuleField(e.module, module);
    e.code = code;
    e.location = location;
    e.line = line;
    e.sequence = g_sequence;
    bool publish = false;
    if (kind != 'I') {
        const ErrorRow& row = Row(code);
        nlsui_str2fix(e.msgClass, "TS", 20);
        std::memcpy(e.msgNo, row.number, 3);
        publish = row.publish;
    }
    if (msgid != nullptr)
        nlsui_mem2fix(e.msgId, 3, msgid, static_cast<int32_t>(strnlenR(msgid, 3)));
    StoreArg(e.arg1, &e.len1, arg1, len1);
    StoreArg(e.arg2, &e.len2, arg2, len2);
    nlsui_str2fix(e.text, text != nullptr ? text : "?text?", 68);
    if (!rscpeHasKind(r, 'Q')) {
        nlsui_str2fix(r.sqlText, nullptr, 68);
        r.sqlCode = 0;
    }
    e.published = 0;
    // Code 0 reports no failure: it never ends the process.  A caller that
    // handles internal errors handles a memory failure too (one was before).
    const uint32_t handled = (mask & RSCPEINTERN) != 0 ? mask | RSCPENOMEM : mask;
    const bool fatal = code != 0 && (code & handled) == 0;

    if (g_errorTracing != 0) {
        std::fputs("rscpe__error tracing:\n", stderr);
        rscpe_dump_errors(&r, stderr);
    }
    if ((rscph_HookTable.TraceWanted() & 0xFF) != 0)
        TraceError(e, module, text, fatal);
    if (publish)
        rscpe_publish_errors();
    if (g_onErrorLevel == 1 || g_onErrorLevel == 2) {
        rscpe_print_errors(&r, g_output[0]);
        if (g_onErrorLevel == 2 && g_report != nullptr) {
            if (g_reportStream == nullptr)
                g_reportStream = stderr;
            g_report(g_reportStream);
        }
    }
    if (!fatal)
        return code;

    ++g_fatal;
    std::fflush(stdout);
    if (g_fatal < 20)
        rscpe_dump_errors(&r, stderr);
    rscpe_publish_errors();
    char msgClass[21];
    CopyTrimmed(msgClass, sizeof msgClass, e.msgClass, 20);
    char number[4] = {e.msgNo[0], e.msgNo[1], e.msgNo[2], '\0'};
    rscph_HookTable.Abort(code == RSCPEBUSY ? 8 : 10, msgClass, std::atoi(number), 0, 2, e.arg1, e.len1, e.arg2,
                          e.len2);
    std::abort();
}

void rscpe_keep_errors()
{
    Rec().append = 1;
}

void rscpe_clear_errors()
{
    Rec() = rscpeBlankRecord();
}

const rscpErrRecord* rscpe_get_error_record()
{
    return &Rec();
}

void rscpe_set_error_record(const rscpErrRecord* saved)
{
    if (saved != nullptr)
        Rec() = *saved;
}

// ---- detail noters -----------------------------------------------------------

namespace {

rscpErrEntry& StartEntry(char kind)
{
    ++g_sequence;
    rscpErrEntry& e = NextEntry(Rec(), true);
    e.kind = kind;
    e.sequence = g_sequence;
    return e;
}

}  // namespace

void rscpe_note_file_error(int32_t errnoValue, const char* text, int32_t length)
{
    StartEntry('F');
    rscpErrRecord& r = Rec();
    r.errnoValue = errnoValue;
    nlsui_mem2fix(r.fileDetail, 72, text, Length(text, length < 1 ? -1 : length));
}

void rscpe_note_sql_error(int32_t code, const char* text, int32_t length)
{
    StartEntry('Q');
    rscpErrRecord& r = Rec();
    r.sqlCode = code;
    nlsui_mem2fix(r.sqlText, 68, text, Length(text, length < 1 ? -1 : length));
    for (char& c : r.sqlText)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
}

void rscpe_note_table_error(int32_t code, uint8_t secondByte, uint8_t firstByte, const char* tableName,
                            const char* dbKey)
{
    StartEntry('T');
    rscpErrRecord& r = Rec();
    r.rtabError = code;
    r.tableByte2 = secondByte;
    r.tableByte1 = firstByte;
    nlsui_str2fix(r.tableName, tableName, 30);
    nlsui_str2fix(r.dbKey, dbKey, 30);
}

void rscpe_note_ntab_error(int32_t code)
{
    StartEntry('N');
    Rec().ntabError = code;
}

void rscpe_note_rsql_error(int32_t code)
{
    StartEntry('S');
    Rec().rsqlError = code;
}

// ---- readers --------------------------------------------------------------------

int32_t rscpe_get_sql_code(const rscpErrRecord* r)
{
    return r != nullptr ? r->sqlCode : 0;
}

uint32_t rscpe_get_first_rc(const rscpErrRecord* r)
{
    if (r == nullptr)
        return RSCPEINVAL;
    return rscpeEntriesShown(*r) > 0 ? r->entries[0].code : 0;
}

uint32_t rscpe_get_last_rc(const rscpErrRecord* r)
{
    if (r == nullptr)
        return RSCPEINVAL;
    const rscpErrEntry* e = Newest(r);
    return e != nullptr ? e->code : 0;
}

void rscpe_get_last_args(const rscpErrRecord* r, char* arg1, int32_t size1, char* arg2, int32_t size2)
{
    const rscpErrEntry* e = Newest(r);
    auto copy = [](char* dst, int32_t size, const char* src, int32_t n) {
        if (dst == nullptr || size < 1)
            return;
        if (n > size - 1)
            n = size - 1;
        if (n > 0)
            std::memcpy(dst, src, static_cast<size_t>(n));
        dst[n > 0 ? n : 0] = '\0';
    };
    copy(arg1, size1, e != nullptr ? e->arg1 : "", e != nullptr ? e->len1 : 0);
    copy(arg2, size2, e != nullptr ? e->arg2 : "", e != nullptr ? e->len2 : 0);
}

void rscpe_get_last_text(const rscpErrRecord* r, char* buffer, int32_t size)
{
    const rscpErrEntry* e = Newest(r);
    CopyTrimmed(buffer, size, e != nullptr ? e->text : nullptr, 68);
}

void rscpe_get_last_text7(const rscpErrRecord* r, char* buffer, int32_t size)
{
    rscpe_get_last_text(r, buffer, size);
    if (buffer != nullptr && size > 0)
        nlsui_mem2a7subst(buffer, buffer, static_cast<int32_t>(std::strlen(buffer)), '#');
}

void rscpe_get_sql_text(const rscpErrRecord* r, char* buffer, int32_t size)
{
    CopyTrimmed(buffer, size, r != nullptr ? r->sqlText : nullptr, 68);
}

int32_t rscpe_trim_length(const char* text, int32_t length)
{
    if (text == nullptr || length < 1)
        return 0;
    while (length > 0 && text[length - 1] == ' ')
        --length;
    return length;
}

// ---- formatters ---------------------------------------------------------------------

const char* rscpe_format_table_key(int32_t number, const char* text, int32_t* length)
{
    static char buffer[160];
    const rscpErrRecord& r = Rec();
    snprintfR(buffer, sizeof buffer, "%.60s&%d&%ld&%.*s&", text != nullptr ? text : "", r.tableByte1,
              static_cast<long>(number), 30, r.tableName);
    if (length != nullptr)
        *length = static_cast<int32_t>(std::strlen(buffer));
    return buffer;
}

const char* rscpe_format_number(long number, int32_t* length)
{
    static char buffer[32];
    snprintfR(buffer, sizeof buffer, "%5ld", number);
    if (length != nullptr)
        *length = static_cast<int32_t>(std::strlen(buffer));
    return buffer;
}

// Key of 16 (name), 1 (language), 3 (country) and 8 (modifier) characters; the
// name loses its trailing blanks down to at least 10 characters.
const char* rscpe_format_locale_key(const char* key)
{
    static char buffer[48];
    if (key == nullptr)
        return "";
    int name = rscpe_trim_length(key, 16);
    if (name < 10)
        name = 10;
    snprintfR(buffer, sizeof buffer, "(%*.*s,%*.*s,%*.*s,%*.*s)", name, name, key, 1, 1, key + 16, 3, 3, key + 17, 8, 8,
              key + 20);
    return buffer;
}

const char* rscpe_format_lang_cp(const char* key)
{
    static char buffer[16];
    if (key == nullptr)
        return "";
    snprintfR(buffer, sizeof buffer, "(%*.*s,%*.*s)", 1, 1, key, 4, 4, key + 1);
    return buffer;
}

// ---- switches ---------------------------------------------------------------------

namespace {
int32_t Swap(int32_t* slot, int32_t value)
{
    const int32_t old = *slot;
    *slot = value;
    return old;
}
}  // namespace

int32_t rscpe_set_print_style(int32_t style)
{
    return Swap(&g_printStyle, style);
}
int32_t rscpe_get_print_style()
{
    return g_printStyle;
}
int32_t rscpe_set_print_counter(int32_t on)
{
    return Swap(&g_printCounter, on);
}
int32_t rscpe_get_print_counter()
{
    return g_printCounter;
}
int32_t rscpe_set_print_origin(int32_t on)
{
    return Swap(&g_printOrigin, on);
}
int32_t rscpe_get_print_origin()
{
    return g_printOrigin;
}
int32_t rscpe_set_trace_level(int32_t level)
{
    return Swap(&g_traceLevel, level);
}
int32_t rscpe_get_trace_level()
{
    return g_traceLevel;
}
int32_t rscpe_set_on_error_level(int32_t level)
{
    return Swap(&g_onErrorLevel, level);
}
int32_t rscpe_get_on_error_level()
{
    return g_onErrorLevel;
}
int32_t rscpe_set_error_tracing(int32_t on)
{
    return Swap(&g_errorTracing, on);
}
int32_t rscpe_get_error_tracing()
{
    return g_errorTracing;
}

rscpeOutputFunc rscpe_set_output_func(rscpeOutputFunc f, int32_t number)
{
    const int slot = Slot(number);
    const rscpeOutputFunc old = g_output[slot];
    g_output[slot] = f != nullptr ? f : kDefaultOutput[slot];
    return old;
}

rscpeOutputFunc rscpe_get_output_func(int32_t number)
{
    return g_output[Slot(number)];
}

void rscpe_default_output(const char* text, int32_t length)
{
    if (length < 0 || text == nullptr)
        length = 0;
    std::fprintf(stderr, "%*.*s\n", static_cast<int>(length), static_cast<int>(length), text != nullptr ? text : "");
}

void rscpe_no_output(const char*, int32_t) { }

rscpeReportFunc rscpe_set_report_func(rscpeReportFunc f)
{
    const rscpeReportFunc old = g_report;
    g_report = f;
    return old;
}

FILE* rscpe_set_report_stream(FILE* stream)
{
    FILE* old = g_reportStream != nullptr ? g_reportStream : stderr;
    g_reportStream = stream;
    return old;
}

FILE* rscpe_get_report_stream()
{
    return g_reportStream != nullptr ? g_reportStream : stderr;
}

void rscpe_call_output(const char* text, int32_t length, rscpeOutputFunc out)
{
    if (out != nullptr)
        out(text, length);
}

// ---- tables and publishing ------------------------------------------------------------

const char* rscpe_code_text(uint32_t code)
{
    return Row(code).text;
}

const char* rscpe_component_text(char kind)
{
    for (const Component& c : kComponents)
        if (c.kind == kind)
            return c.text;
    return "stranger";
}

const char* rscpe_module_name(const char* ident, int32_t* length)
{
    if (ident == nullptr) {
        *length = 8;
        return "?module?";
    }
    const char* s = SkipIdentPrefix(ident);
    size_t n = std::strcspn(s, "#\t");
    *length = static_cast<int32_t>(n > 32 ? 32 : n);
    return s;
}

void rscpe_publish_errors()
{
    rscpErrRecord& r = Rec();
    for (int i = 0; i < rscpeEntriesShown(r); ++i) {
        rscpErrEntry& e = r.entries[i];
        if (e.published != 0)
            continue;
        if (std::strchr("CEIOP", e.kind) != nullptr && e.kind != '\0') {
            char block[64];
            std::memset(block, ' ', sizeof block);
            const int n1 = e.len1 > 53 ? 53 : e.len1;
            std::memcpy(block, e.arg1, static_cast<size_t>(n1));
            const int n2 = e.len2 > 53 - n1 ? 53 - n1 : e.len2;
            std::memcpy(block + n1, e.arg2, static_cast<size_t>(n2));
            std::memcpy(block + 53, e.module, 8);
            char location[16];
            std::snprintf(location, sizeof location, "%3d", e.location);
            std::memcpy(block + 61, location, 3);
            rscph_HookTable.SyslogMsg(107, e.msgId, block);
        } else if (e.kind == 'F') {
            const int32_t n = rscpe_trim_length(r.fileDetail, 72);
            if (n > 0)
                rscph_HookTable.SyslogText(r.fileDetail, n);
        } else if (e.kind == 'T') {
            if (!fixstr_is_blank(r.dbKey, 3)) {
                const rscphSyslogItem item = {rscpe_trim_length(r.dbKey, 30), r.dbKey};
                rscph_HookTable.SyslogList(1, &item);
            }
        }
        e.published = 1;
    }
}
