// Printers of the error record: a framed box 72 characters wide (style 1) or
// a plain list (style 2), a compact stack trace, and the dump to a stream.
// Every line is formatted into a 100-byte buffer and handed on without a line
// end.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cperr.h"
#include "krn/rstr/fixstr.h"
#include "nls/kovstr.h"

namespace {

const char kDashes[] = "----------------------------------------";
const char kSeparator[] = "|----------------------------------------------------------------------|";

struct Printer {
    rscpeSinkFunc print;
    rscpeOutputFunc out;

    void Line(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        char buffer[100];
        va_list ap;
        va_start(ap, fmt);
        vsnprintfR(buffer, sizeof buffer, fmt, ap);
        va_end(ap);
        print(buffer, static_cast<int32_t>(strnlenR(buffer, sizeof buffer)), out);
    }
};

// A blank-padded field as a NUL-terminated string of its stored length.
struct Text {
    char s[73];
    Text(const char* field, int n)
    {
        n = n < 0 ? 0 : n > 72 ? 72 : n;
        std::memcpy(s, field, static_cast<size_t>(n));
        s[n] = '\0';
    }
};

const char* Label(int length, const char* label)
{
    return length > 0 ? label : "   ";
}

void BoxArguments(Printer& p, const rscpErrEntry& e, bool wide)
{
    const int n1 = e.len1, n2 = e.len2;
    const char* l1 = Label(n1, "p3:");
    const char* l2 = Label(n2, "p4:");
    if (n1 + n2 < 47) {
        const int pad = 47 - n1 - n2;
        p.Line("| TSL01: %-3.3s  %-3s %-*.*s  %-3s %-*.*s%-*.*s|", e.msgId, l1, n1, n1, e.arg1, l2, n2, n2, e.arg2, pad,
               pad, "");
        return;
    }
    if (wide) {
        p.Line("| TSL01: %-3.3s  %-3s %53s|", e.msgId, l1, Text(e.arg1, n1).s);
        p.Line("|             %-3s %53s|", l2, Text(e.arg2, n2).s);
        return;
    }
    if (n1 >= 53)
        p.Line("| TSL01: %-3.3s  %-3s %.53s|", e.msgId, l1, e.arg1);
    else
        p.Line("| TSL01: %-3.3s  %-3s %-*.*s%-*.*s|", e.msgId, l1, n1, n1, e.arg1, 53 - n1, 53 - n1, "");
    if (n2 >= 53)
        p.Line("|             %-3s %.53s|", l2, e.arg2);
    else
        p.Line("|             %-3s %-*.*s%-*.*s|", l2, n2, n2, e.arg2, 53 - n2, 53 - n2, "");
}

void BoxOrigin(Printer& p, const rscpErrEntry& e, bool newest)
{
    const bool counter = rscpe_get_print_counter() == 1;
    if (e.kind == 'C' && rscpe_get_print_origin() == 0) {
        if (counter)
            p.Line("|                                                 %20ld |", static_cast<long>(e.sequence));
        return;
    }
    const char* component = rscpe_component_text(e.kind);
    if (counter && e.sequence <= 99999999u) {
        if (newest)
            p.Line("| Error from: %47.47s %8ld |", component, static_cast<long>(e.sequence));
        else
            p.Line("| Error propagation from: %35.35s %8ld |", component, static_cast<long>(e.sequence));
        return;
    }
    if (newest)
        p.Line("| Error from: %47.47s          |", component);
    else
        p.Line("| Error propagation from: %35.35s          |", component);
    if (counter)
        p.Line("|                                                 %20ld |", static_cast<long>(e.sequence));
}

void BoxEntry(Printer& p, const rscpErrRecord* r, const rscpErrEntry& e)
{
    switch (e.kind) {
    case 'C':
    case 'E':
    case 'P':
    case 'I':
    case 'O': {
        const bool plain = e.kind == 'I' || e.kind == 'O';
        p.Line("| code:%5d  %-51.51s      |", static_cast<int>(e.code), plain ? "" : rscpe_code_text(e.code));
        p.Line("| %-68.68s |", e.text);
        p.Line("| module: %-8.8s no:%5d line:%6d                    T100: %-2.2s%-3.3s |", e.module, e.location, e.line,
               e.msgClass, e.msgNo);
        BoxArguments(p, e, plain);
        break;
    }
    case 'F':
        p.Line("| %-68.68s |", r->fileDetail);
        p.Line("| errno%6d  %-55.55s |", r->errnoValue, rscpe_errno_text(r->errnoValue));
        break;
    case 'N':
        p.Line("| NTAB error  %6d                                                   |", r->ntabError);
        break;
    case 'S':
        p.Line("| RSQL error  %6d                                                   |", r->rsqlError);
        break;
    case 'Q':
        p.Line("| SQL error  %6d                                                    |", r->sqlCode);
        p.Line("| %-68.68s |", r->sqlText);
        break;
    case 'T':
        p.Line("| RTAB error  %6d                                                   |", r->rtabError);
        p.Line("| table       %-*.*s %-*.*s|", 30, 30, r->tableName, 26, 26, "");
        p.Line("| db key      %-30.30s                           |", r->dbKey);
        break;
    default:
        break;
    }
}

void Box(Printer& p, const rscpErrRecord* r)
{
    p.Line(".------------------------------============----------------------------.");
    p.Line("|                              RSCP - Error                            |");
    for (int i = rscpeEntriesShown(*r) - 1; i >= 0; --i) {
        const bool newest = i == rscpeEntriesShown(*r) - 1;
        if (!newest)
            p.Line("%s", kSeparator);
        BoxOrigin(p, r->entries[i], newest);
        BoxEntry(p, r, r->entries[i]);
    }
    if (r->sqlCode != 0 && !rscpeHasKind(*r, 'Q')) {
        p.Line("%s", kSeparator);
        p.Line("| Some SQL information, which may or may not belong to this error:     |");
        p.Line("| SQL error code  %6d                                               |", r->sqlCode);
        p.Line("| %-68.68s |", r->sqlText);
    }
    if (!rscpeHasKind(*r, 'F') && r->errnoValue != 0) {
        p.Line("%s", kSeparator);
        p.Line("| Some OS information, which may or may not belong to this error:      |");
        p.Line("| errno%6d  %-55.55s |", r->errnoValue, rscpe_errno_text(r->errnoValue));
    }
    if (!fixstr_is_blank(r->initiator, 30)) {
        p.Line("%s", kSeparator);
        p.Line("| Impromptu CCC initialization by %-30.30s       |", r->initiator);
    }
    p.Line("`----------------------------------------------------------------------'");
}

void ListEntry(Printer& p, const rscpErrRecord* r, const rscpErrEntry& e)
{
    switch (e.kind) {
    case 'C':
    case 'E':
    case 'P':
        p.Line("code:%5d  %-13.13s", static_cast<int>(e.code), rscpe_code_text(e.code));
        p.Line("%-.*s", 68, e.text);
        break;
    case 'I':
    case 'O':
        p.Line("code: %d", static_cast<int>(e.code));
        p.Line("%-80s", Text(e.text, 68).s);
        break;
    case 'F':
        p.Line("%-.100s", Text(r->fileDetail, 72).s);
        p.Line("errno: %d  %s", r->errnoValue, rscpe_errno_text(r->errnoValue));
        return;
    case 'N':
        p.Line("NTAB error  %6d", r->ntabError);
        return;
    case 'S':
        p.Line("RSQL error  %6d", r->rsqlError);
        return;
    case 'Q':
        p.Line("SQL error  %6d", r->sqlCode);
        p.Line("%-68.68s", r->sqlText);
        return;
    case 'T':
        p.Line("RTAB error  %6d", r->rtabError);
        p.Line("table %-*.*s", 30, 30, r->tableName);
        p.Line("db key %-30.30s", r->dbKey);
        return;
    default:
        return;
    }
    p.Line("module: %-8.8s location:%5d line:%6d", e.module, e.location, e.line);
    p.Line("TSL01: %-3.3s  %-3s %-*.*s  %-3s %-*.*s", e.msgId, Label(e.len1, "p3:"), e.len1, e.len1, e.arg1,
           Label(e.len2, "p4:"), e.len2, e.len2, e.arg2);
}

void List(Printer& p, const rscpErrRecord* r)
{
    if (!fixstr_is_blank(r->initiator, 30)) {
        p.Line("%s", kDashes);
        p.Line("Impromptu CCC initialization by %-.30s", r->initiator);
    }
    if (r->errnoValue != 0 && !rscpeHasKind(*r, 'F')) {
        p.Line("%s", kDashes);
        p.Line("from: OS: (maybe not related) errno: %d  %s", r->errnoValue, rscpe_errno_text(r->errnoValue));
    }
    if (r->sqlCode != 0 && !rscpeHasKind(*r, 'Q')) {
        p.Line("%s", kDashes);
        p.Line("from DB: (maybe not related) SQL error code  %6d  %-68.68s", r->sqlCode, r->sqlText);
    }
    for (int i = 0; i < rscpeEntriesShown(*r); ++i) {
        const rscpErrEntry& e = r->entries[i];
        if (rscpe_get_print_counter() == 1) {
            char line[100];
            snprintfR(line, sizeof line, "------------------ %20ld-", static_cast<long>(e.sequence));
            for (char* c = line; *c != '\0'; ++c)
                if (*c == ' ')
                    *c = '-';
            p.Line("%s", line);
        } else {
            p.Line("%s", kDashes);
        }
        if (e.kind != 'C' || rscpe_get_print_origin() != 0)
            p.Line(i == rscpeEntriesShown(*r) - 1 ? "from: %s" : "propagated from: %s", rscpe_component_text(e.kind));
        ListEntry(p, r, e);
    }
    p.Line("---------------------------------------.");
}

FILE* g_dumpStream = nullptr;

void PrintToStream(const char* text, int32_t length, rscpeOutputFunc)
{
    if (g_dumpStream != nullptr)
        std::fprintf(g_dumpStream, "%*.*s\n", static_cast<int>(length), static_cast<int>(length), text);
}

}  // namespace

const char* rscpe_errno_text(int32_t errnoValue)
{
    static char text[91];
    if (errnoValue < 1)
        return " ";
    strcpy_sR(text, sizeof text, "");
    snprintfTruncR(text, sizeof text, "%s", std::strerror(errnoValue));
    return text;
}

void rscpe_box_print(const rscpErrRecord* record, rscpeSinkFunc print, rscpeOutputFunc out)
{
    if (record == nullptr || print == nullptr)
        return;
    Printer p{print, out};
    if (rscpe_get_print_style() == 2)
        List(p, record);
    else
        Box(p, record);
}

void rscpe_print_errors(const rscpErrRecord* record, rscpeOutputFunc out)
{
    rscpe_box_print(record, rscpe_call_output, out);
}

void rscpe_print_error_stack(const rscpErrRecord* r, rscpeOutputFunc out)
{
    if (r == nullptr || out == nullptr)
        return;
    const bool list = rscpe_get_print_style() == 2;
    for (int k = 0; k < rscpeEntriesShown(*r); ++k) {
        const rscpErrEntry& e = r->entries[list ? rscpeEntriesShown(*r) - 1 - k : k];
        out(e.text, 68);
        if (e.len1 != 0)
            out(e.arg1, e.len1);
        if (e.len2 != 0)
            out(e.arg2, e.len2);
        char line[100];
        snprintfR(line, sizeof line, list ? "  at %-*.*s location=%d line=%d" : "  at %-*.*s locat=%d line=%d", 8, 8,
                  e.module, e.location, e.line);
        out(line, static_cast<int32_t>(strnlenR(line, sizeof line)));
    }
}

void rscpe_dump_errors(const rscpErrRecord* record, FILE* stream)
{
    if (stream == nullptr)
        return;
    FILE* saved = g_dumpStream;
    g_dumpStream = stream;
    PrintToStream(" ", 1, nullptr);
    rscpe_box_print(record, PrintToStream, nullptr);
    std::fflush(stream);
    g_dumpStream = saved;
}
