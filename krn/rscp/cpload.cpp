// Code page loading: a direction's base tables from the compiled-in store,
// the derived variants from a copy of them, the choice of the source, the
// flat-file fallback (looked for only) and the walk of the store's segments.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cpstore.h"
#include "krn/rscp/cptable.h"
#include "nls/kovstr.h"

namespace {

const char kModule[] = "@(#) $Id: rscpdl#1 $";

uint32_t Error(uint32_t code, int32_t location, int32_t line, const char* text, const char* msgid,
               const char* arg1 = nullptr, int32_t len1 = -1, const char* arg2 = nullptr)
{
    return rscpe__error(code, 'C', RSCP_ALL_ERRORS, kModule, location, line, text, msgid, arg1,
                        arg1 != nullptr ? len1 : 0, arg2, arg2 != nullptr ? -1 : 0);
}

rscpCtlRecord_t& Ctl()
{
    return *rscph_HookTable.ctl;
}

bool IsCodeOf(uint32_t direction)
{
    switch (direction) {
    case 5:
    case 6:
    case 9:
    case 10:
    case 21:
    case 22:
    case 25:
    case 26:
        return true;
    default:
        return false;
    }
}

// The record lies in the attached cache's code page list.
bool InCodePageList(const rscpCpInfo_t* row)
{
    const rscpCcc_t* c = rscpmp;
    const rscpCpInfo_t* list = rscpCccCpList(c);
    return row >= list && row < list + c->cpCount &&
           (reinterpret_cast<const char*>(row) - reinterpret_cast<const char*>(list)) % sizeof(rscpCpInfo_t) == 0;
}

bool Loaded(const rscpCpInfo_t* row, bool output, int v)
{
    return output ? row->out[v].t2 != 0 : row->in[v].root != 0;
}

void ClearVariant(rscpCpInfo_t* row, bool output, int v)
{
    if (output) {
        row->out[v].t2 = 0;
        row->out[v].entries = 0;
        row->out[v].maxLen = 0;
    } else {
        row->in[v].root = 0;
        row->in[v].entries = 0;
        row->in[v].maxLen = 0;
    }
}

// A load that ran out of room somewhere (output rules go on after a failure)
// is not complete: 32 with the overlap message.
uint32_t Complete(uint32_t rc)
{
    const rscpCcc_t* c = rscpmp;
    if (rc != 0 || (c->endT1 <= c->firstT2 && c->overflow == 0))
        return rc;
    char arg[40];
    snprintfR(arg, sizeof arg, "cachesize&%ld&?&", static_cast<long>(c->length));
    return Error(RSCPETOOLONG, 3, __LINE__, "T1+T3 overlap with T2 after loading code page", "F1A", arg);
}

// Stores a loaded variant's root and the blocks it took since the save point.
void StoreVariant(rscpCpInfo_t* row, bool output, int v, uint32_t root)
{
    uint32_t t1 = 0, t2 = 0, t3 = 0;
    rscpmlDeltas(&t1, &t2, &t3);
    if (output) {
        row->out[v].t2 = root;
        row->out[v].blocks = static_cast<uint16_t>(t3);
    } else {
        row->in[v].root = static_cast<uint16_t>(root);
        row->in[v].blocks = static_cast<uint16_t>(t1);
    }
}

// Derives variant target of a direction from variant source.
uint32_t Derive(rscpCpInfo_t* row, bool output, int32_t source, int32_t target, uint32_t selector)
{
    rscpCcc_t* c = rscpmp;
    const char* reason = output ? "overflow while loading output control codes"
                                : "overflow while loading control codes";
    const uint32_t limit = output ? c->firstT2 / RSCP_T3_BYTES : c->firstT2 / RSCP_T1_BYTES;
    // Without marks every block would be copied again and the entries made in
    // unlinked copies would be lost: the derivation does not start.
    if (rscpml__alloc_marks(limit) != 0) {
        char arg[40];
        snprintfR(arg, sizeof arg, "%ld&", static_cast<long>(limit));
        return Error(RSCPENOMEM, 20, __LINE__, "rscpml: Cannot get bytes for the marks", "F1A", arg);
    }
    const uint32_t root = output ? rscpmlCopyT2(row->out[source].t2) : rscpct1__copy_t1(row->in[source].root);
    uint32_t rc = 0;
    if (root == 0) {
        ClearVariant(row, output, target);
        rscprb__rollback_allocation(row, reason);
        rc = RSCPETOOLONG;
    } else {
        if (output) {
            row->out[target].entries = row->out[source].entries;
            row->out[target].maxLen = row->out[source].maxLen;
        } else {
            row->in[target].entries = row->in[source].entries;
            row->in[target].maxLen = row->in[source].maxLen;
            rscpml__mark_t1(root);
        }
        const uint32_t mode = static_cast<uint32_t>(((target & 2) + 2) * 2 | ((target & 1) + 1)) | (output ? 16u : 0u);
        const rscpLoad_t l{
            mode, row, output ? row->in[target].root : root, output ? root : row->out[source].t2, selector, 0, 0,
            10,   1};
        rc = Complete(rscplcp__load_code_page(l));
        if (rc != 0) {
            ClearVariant(row, output, target);
            rscprb__rollback_allocation(row, output ? reason : "overflow while loading input control codes");
        } else {
            StoreVariant(row, output, target, root);
            rscpsp__save_point(row);
        }
    }
    rscpml__free_marks(limit);
    return rc;
}

}  // namespace

void rscpLoadCount(const rscpLoad_t& l, uint32_t entries, uint32_t length)
{
    const int v = rscpLoadVariant(l.mode);
    uint32_t& count = rscpLoadOutput(l) ? l.row->out[v].entries : l.row->in[v].entries;
    uint32_t& longest = rscpLoadOutput(l) ? l.row->out[v].maxLen : l.row->in[v].maxLen;
    count += entries;
    longest = std::max(longest, length);
}

uint32_t rscplci__load_input_control_codes(rscpCpInfo_t* row, int32_t source, int32_t target, uint32_t selector)
{
    return Derive(row, false, source, target, selector);
}

uint32_t rscplco__load_output_control_codes(rscpCpInfo_t* row, int32_t source, int32_t target, uint32_t selector)
{
    return Derive(row, true, source, target, selector);
}

uint32_t rscplcc__load_control_codes(uint32_t direction, rscpCpInfo_t* row)
{
    rscpCcc_t* c = rscpmp;
    if (c == nullptr)
        return Error(RSCPENOCONV, 1, __LINE__, "CCC not proper initialized", "F34");
    if (row == nullptr || !IsCodeOf(direction) || !InCodePageList(row)) {
        char arg[24];
        snprintfR(arg, sizeof arg, "%lu&", static_cast<unsigned long>(direction));
        return Error(RSCPEINVAL, 2, __LINE__, "rscplcc__load_control_codes(..direction/row..)", "F1A", arg);
    }
    const bool output = direction > 10;
    rscpsp__save_point(row);
    if (!Loaded(row, output, 0)) {
        const uint32_t root = output ? rscpmlAllocT2Now() : rscpmlAllocT1Now();
        if (root == 0)
            return RSCPETOOLONG;
        const rscpLoad_t l{output ? 21u : 5u, row, output ? 0 : root, output ? root : 0, 5, 0, 0, 10, 0};
        const uint32_t rc = Complete(rscplcp__load_code_page(l));
        if (rc != 0) {
            if (rscphTracing())
                rscph_HookTable.TraceExit(static_cast<int32_t>(rc), nullptr, 0, nullptr);
            rscprb__rollback_allocation(row, "load code page");
            return rc;
        }
        for (int v = 0; v < 4; ++v)
            (output ? row->out[v].blocks : row->in[v].blocks) = 0;
        StoreVariant(row, output, 0, root);
        rscpsp__save_point(row);
    }
    uint32_t rc = 0;
    switch (direction & 15u) {
    case 6:
        rc = Derive(row, output, 0, 1, 6);
        break;
    case 9:
    case 10:
        if (!Loaded(row, output, 2))
            rc = Derive(row, output, 0, 2, 9);
        if (rc == 0 && (direction & 15u) == 10)
            rc = Derive(row, output, 2, 3, 2);
        break;
    default:
        break;
    }
    return rc;
}

uint32_t rscplcp__load_code_page(const rscpLoad_t& l)
{
    const char* cp = l.row->cp;
    char arg[40];
    if (l.depth <= 1) {
        char text[80];
        snprintfR(text, sizeof text, "maximum recursion depth (%d) for codepage inclusions exceeded", 10);
        snprintfR(arg, sizeof arg, "%*.*s&%d&", 4, 4, cp, 10);
        return Error(RSCPEINTERN, 4, __LINE__, text, "CPE", arg);
    }
    switch (l.row->source) {
    case '2':
    case ' ':
        break;
    case '0':
    case '1':
    case '3':
    case '4':
        Error(RSCPEINTERN, 5, __LINE__, "cp shall be read from DB, but no DB interface compiled", "CPF", cp, 4);
        break;
    default:
        return Error(RSCPEINTERN, 6, __LINE__, "cp shall be read, but no source available", "CPF", cp, 4);
    }
    rscpLoad_t sub = l;
    --sub.depth;
    const uint32_t rc = rscplcs__load_code_page_segments(sub);
    if (rc != RSCPENOOBJ)
        return rc;
    return rscpcf__check_flat_file(l.mode, l.row, cp);
}

uint32_t rscplcs__load_code_page_segments(const rscpLoad_t& l)
{
    if (std::memcmp(l.row->segId, "     ", 5) == 0 || l.row->segId[0] == '\0')
        return Error(RSCPEINTERN, 7, __LINE__, "code page is empty", "CPQ", l.row->cp, 4, "&no segid&");
    return rscpgsr__get_segment_recursively(l, l.row->segId, 0);
}

uint32_t rscpcf__check_flat_file(uint32_t, rscpCpInfo_t*, const char* cp4)
{
    Ctl().storeUsed = 1;
    const char* name = rscpParam("rscp/file/codepage");
    if (name == nullptr)
        name = "S++++.CPA";
    // The first four '+' take the code page's digits.
    char path[500];
    const size_t length = strnlenR(name, sizeof path);
    if (std::count(name, name + length, '+') < 4)
        return Error(RSCPEINTERN, 8, __LINE__, "profile \"rscp/file/codepage\" miss \"++++\"", "CPF", name,
                     static_cast<int32_t>(length));
    char arg[48];
    snprintfR(arg, sizeof arg, "%*.*s&", 4, 4, cp4);
    if (length >= sizeof path)
        return Error(RSCPEIO, 9, __LINE__, "Cannot read flat file with database table", "CPA", arg);
    std::memcpy(path, name, length);
    path[length] = '\0';
    for (size_t i = 0, k = 0; i < length && k < 4; ++i)
        if (path[i] == '+')
            path[i] = cp4[k++];
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) {
        const int e = errno;
        rscpe_note_file_error(e, path, static_cast<int32_t>(length));
        snprintfR(arg, sizeof arg, "%*.*s&%ld&", 4, 4, cp4, static_cast<long>(e));
        return Error(e == ENOMEM ? RSCPENOMEM : RSCPEIO, 9, __LINE__, "Cannot read flat file with database table",
                     "CPA", arg);
    }
    std::fclose(f);
    // The file is there, but nothing of it is read: the tables stay empty.
    snprintfR(arg, sizeof arg, "%*.*s&%.40s&", 4, 4, cp4, path);
    return Error(RSCPENOOBJ, 10, __LINE__, "flat file with database table present, but not read", "CPA", arg);
}

namespace {

// Enters the entries of a mapping segment.
uint32_t LoadMapping(const rscpLoad_t& l, const rscpMapSeg* m)
{
    const bool output = rscpLoadOutput(l);
    const int32_t group = l.row->iso2022 != 0 ? 0 : -1;
    uint32_t entered = 0, longest = 0;
    uint32_t rc = 0;
    auto enter = [&](uint32_t ch, int32_t length, const uint8_t* code, bool isLong) -> bool {
        if (!rscpSelects(l.selector, ch))
            return true;
        if (ch == 0x20 && length <= 4) {
            std::memcpy(l.row->space, code, static_cast<size_t>(length));
            l.row->spaceLen = static_cast<uint32_t>(length);
        }
        if (!output)
            rc = rscpei__enter_in_code(l.t1, isLong ? "TCPSPTL" : "TCPSPTS", ch, l.copyMode, length, code,
                                       l.overwriteIn, group);
        else if (isLong)
            rc = rscpeo126__enter_out_126code(l.t2, "TCPSPTL", ch, length, code, l.overwriteOut, l.copyMode);
        else
            rc = rscpeo4__enter_out_4code(l.t2, "TCPSPTS", ch, length, code, l.overwriteOut, l.copyMode);
        if (rc == RSCPENOOBJ || (rc == RSCPEUNIQ && !output)) {
            rc = 0;
            return true;
        }
        if (rc != 0 && rc != RSCPEUNIQ) {
            rscprb__rollback_allocation(l.row, isLong ? "enter_._126code" : "enter_._4code");
            return false;
        }
        rc = 0;
        ++entered;
        longest = std::max(longest, static_cast<uint32_t>(length));
        return true;
    };
    uint8_t code[8];
    bool ok = true;
    for (uint32_t i = 0; ok && i < m->n1; ++i) {
        code[0] = static_cast<uint8_t>(m->e1[i] >> 24);
        ok = enter(m->e1[i] & 0xFFFFFF, 1, code, false);
    }
    for (uint32_t i = 0; ok && i < m->n2; ++i) {
        code[0] = static_cast<uint8_t>(m->e2[2 * i] >> 24);
        code[1] = static_cast<uint8_t>(m->e2[2 * i + 1]);
        ok = enter(m->e2[2 * i] & 0xFFFFFF, 2, code, false);
    }
    for (uint32_t i = 0; ok && i < m->n34; ++i) {
        const uint32_t w = m->e34[2 * i + 1];
        for (int k = 0; k < 4; ++k)
            code[k] = static_cast<uint8_t>(w >> (8 * k));
        // Four code bytes are stored: a longer length is refused as malformed.
        const int32_t length = static_cast<int32_t>(m->e34[2 * i] >> 24 & 0x1F);
        ok = enter(m->e34[2 * i] & 0xFFFFFF, length <= 4 ? length : 0, code, false);
    }
    for (uint32_t i = 0; ok && i < m->nlong; ++i) {
        const rscpLongCode& lc = m->elong[i];
        ok = enter(lc.chlen & 0xFFFFFF, static_cast<int32_t>(lc.chlen >> 24), lc.bytes, true);
    }
    if (entered != 0)
        rscpLoadCount(l, entered, longest);
    return rc;
}

uint32_t LoadBuild(const rscpLoad_t& l, const rscpSegDirRow* dir)
{
    const rscpBuildRow* rows = static_cast<const rscpBuildRow*>(dir->desc);
    if (rows == nullptr || rows[0].id[0] == ' ' || rows[0].id[0] == '\0')
        return 0;
    rscpBuildRow list[RSCP_BUILD_MAXROWS];
    int n = 0;
    for (; rows[n].id[0] != ' ' && rows[n].id[0] != '\0'; ++n) {
        if (n == RSCP_BUILD_MAXROWS) {
            const uint32_t rc = Error(RSCPEINTERN, 11, __LINE__, "Too many rows in TCPSBUILD", "CPN", dir->id, 5);
            rscprb__rollback_allocation(l.row, "get segment recursively (without Syslog)");
            return rc;
        }
        list[n] = rows[n];
    }
    std::stable_sort(list, list + n, [](const rscpBuildRow& a, const rscpBuildRow& b) {
        return rscpBuildOrder(&a) < rscpBuildOrder(&b);
    });
    for (int i = 0; i < n; ++i) {
        rscpLoad_t sub = l;
        sub.overwriteOut = rscpBuildReplaceOut(&list[i]) ? 1 : 0;
        sub.overwriteIn = rscpBuildReplaceIn(&list[i]) ? 1 : 0;
        --sub.depth;
        const uint32_t rc = rscpgsr__get_segment_recursively(sub, list[i].id, rscpBuildIsControl(&list[i]) ? 2 : 1);
        if (rc != 0) {
            rscprb__rollback_allocation(l.row, "get segment recursively (without Syslog)");
            return rc;
        }
    }
    return 0;
}

}  // namespace

uint32_t rscpgsr__get_segment_recursively(const rscpLoad_t& l, const char* segId, int32_t segClass)
{
    char arg[64];
    // The store holds no cycles, but a build list that included itself
    // would recurse without end: the depth is checked at every level.
    if (l.depth < 1) {
        char text[80];
        snprintfR(text, sizeof text, "maximum recursion depth (%d) for codepage inclusions exceeded", 10);
        snprintfR(arg, sizeof arg, "%*.*s&%d&", 4, 4, l.row->cp, 10);
        return Error(RSCPEINTERN, 4, __LINE__, text, "CPE", arg);
    }
    const rscpSegDirRow* dir = rscplsd__lookup_segment_dir(segId);
    if (dir == nullptr) {
        char text[64];
        const int64_t d = rscpF5Head.buildDate;
        snprintfR(text, sizeof text, "in segment \"%*.*s\"not in F5 memory", 5, 5, segId);
        snprintfR(arg, sizeof arg, "%*.*s&%04ld/%02ld/%02ld&", 5, 5, segId, static_cast<long>(d / 10000),
                  static_cast<long>(d / 100 % 100), static_cast<long>(d % 100));
        return Error(RSCPENOCONV, 12, __LINE__, text, "CPD", arg);
    }
    Ctl().storeUsed = 1;
    ++Ctl().segmentsRead;
    const uint32_t kind = dir->kind & 3u;
    if (kind == RSCP_SEG_MAPPING || kind == RSCP_SEG_RULE) {
        if ((segClass == 2 && (l.selector & 3u) == 1) || (segClass == 1 && (l.selector & 3u) == 2))
            return 0;
    }
    if (kind == RSCP_SEG_MAPPING && dir->desc != nullptr)
        return LoadMapping(l, static_cast<const rscpMapSeg*>(dir->desc));
    if (kind == RSCP_SEG_RULE && dir->desc != nullptr) {
        const rscpRuleSeg* r = static_cast<const rscpRuleSeg*>(dir->desc);
        return rscpar__apply_rule(rscpRuleType(r), l, dir->id, r->word1, static_cast<int32_t>(rscpRuleLen1(r)),
                                  r->word2, static_cast<int32_t>(rscpRuleLen2(r)));
    }
    if (kind == RSCP_SEG_BUILD)
        return LoadBuild(l, dir);
    snprintfR(arg, sizeof arg, "%*.*s&%u&", 5, 5, dir->id, static_cast<unsigned>(dir->kind));
    return Error(RSCPEINTERN, 13, __LINE__, "Illegal TCPSEG-KIND in F5", "CPN", arg);
}
