// The status dump of the converter cache: a picture of the cache and of this
// process's use of it, section by section, one line at a time through the
// caller's line writer.  Everything it reads through an offset of the cache
// is checked to lie inside the cache block first.
#include <cstdarg>
#include <cstring>
#include <initializer_list>

#include "krn/rscp/cpcacheint.h"
#include "krn/rscp/cpinfo.h"
#include "krn/rscp/cpnames.h"
#include "nls/kovstr.h"

namespace {

const char kDashes[] = "-----------------";

class Writer {
public:
    explicit Writer(rscpeOutputFunc out)
        : out_(out)
    {
    }
    void Text(const char* text) { out_(text, int32_t(std::strlen(text))); }
    void Line(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list ap;
        va_start(ap, fmt);
        rscpvOutLine(out_, 100, fmt, ap);
        va_end(ap);
    }

private:
    rscpeOutputFunc out_;
};

// Bytes of the cache that may be read.
uint32_t Limit(const rscpCcc_t* c)
{
    const uint32_t own = rscpBlockSize();
    return own != 0 && own < c->length ? own : c->length;
}

// The bytes at offset when size of them lie inside the cache, else NULL.
const char* At(const rscpCcc_t* c, uint32_t offset, uint64_t size)
{
    if (offset == 0 || uint64_t(offset) + size > Limit(c))
        return nullptr;
    return reinterpret_cast<const char*>(c) + offset;
}

uint32_t RowCount(const rscpCcc_t* c)
{
    if (c->cpListOffset < sizeof(rscpCcc_t) || c->cpListOffset > Limit(c))
        return 0;
    const uint32_t fit = (Limit(c) - c->cpListOffset) / sizeof(rscpCpInfo_t);
    return c->cpCount < fit ? c->cpCount : fit;
}

const char* Bool(uint32_t v)
{
    return v != 0 ? "TRUE" : "FALSE";
}

const char* MarkerText(uint32_t marker)
{
    switch (marker) {
    case RSCP_CCC_COMPLETE:
        return "initialized";
    case RSCP_CCC_HALF:
        return "half-cooked";
    case RSCP_CCC_LOADED:
        return "three-quarter cooked";
    default:
        return "not good";
    }
}

// ---- 1 general picture and area layout -------------------------------------------------

void Bar(char (&bar)[26], int64_t first, int64_t end, int64_t total)
{
    rscpdb__draw_bar(bar, 25, first, end, total);
    bar[25] = '\0';
}

void General(Writer& w, const rscpCcc_t* c, bool verbose)
{
    w.Line("-----------------%-*.*s---", 12, 12, c->ident);
    w.Text("| Char code cache");
    w.Line("| kind of memory             %-*.*s", 12, 12, c->memoryKind);
    const uint32_t state = h_ccc_state;
    if (state == 1 || state == 2 || state == 4 || state == 5)
        w.Line("| state of memory    %15.15s", MarkerText(c->cccVersion));
    w.Line("| state of process   %15.15s  (since %14.14s)", rscpst__state_text(int32_t(state)),
           rscpCCCStateHistory[0].timestamp);
    for (int i = 1; verbose && i < RSCP_STATE_HISTORY; ++i)
        w.Line("|            after   %15.15s  (since %14.14s)", rscpst__state_text(rscpCCCStateHistory[i].state),
               rscpCCCStateHistory[i].timestamp);
    if (state != 2)
        return;
    const uint64_t self = reinterpret_cast<uint64_t>(c);
    w.Line("| address             0x%08lx  %s", static_cast<unsigned long>(self),
           c->protectStatus == 1   ? "(read-only)"
           : c->protectStatus == 0 ? "(read-write)"
                                   : "(permission undefined)");
    for (uint64_t a : c->attach)
        if (a != 0 && a != self)
            w.Line("|   also seen at      0x%08lx", static_cast<unsigned long>(a));
    w.Line("| noof char codes            %7d", int(c->cpCount));
    w.Line("| max kov code               %7d", int(c->maxKovCode));
    w.Line("| max enhanced uchar         %7d", int(c->maxKovChar));
    w.Line("| TCP01 mappings             %7d", int(c->tcp01MapMax));
    if (c->unusedTcp00 != 0)
        w.Line("| Unused TCP00 entries     %9ld", long(c->unusedTcp00));
    const int64_t length = c->length;
    char bar[26];
    Bar(bar, 0, c->firstT1, length);
    w.Line("| start of CCCT1  %8ld |---            %*.*s", long(c->firstT1), 25, 25, bar);
    w.Line("| noof char CCCT1s      |--| %7d", int(c->noofT1));
    Bar(bar, c->firstT1, c->endT1, length);
    w.Line("| noof char CCCT3s      |--| %7d       %*.*s", int(c->noofT3), 25, 25, bar);
    w.Line("| end   of CCCT1  %8ld |---", long(c->endT1));
    Bar(bar, c->endT1, c->firstT2, length);
    w.Line("| free                  ---|%8ld bytes %*.*s", long(c->firstT2) - long(c->endT1), 25, 25, bar);
    w.Line("| start of CCCT2  %8ld |---", long(c->firstT2));
    Bar(bar, c->firstT2, c->endT2, length);
    w.Line("| noof char CCCT2s      ---| %7d       %*.*s", int(c->noofT2), 25, 25, bar);
    w.Line("| end   of CCCT2  %8ld |---", long(c->endT2));
    Bar(bar, c->endT2, c->firstT7, length);
    w.Line("| free                  ---|%8ld bytes %*.*s", long(c->firstT7) - long(c->endT2), 25, 25, bar);
    w.Line("| start of long c.%8ld |---", long(c->firstT7));
    Bar(bar, c->firstT7, c->endT7, length);
    w.Line("| for long chars        ---|%8ld bytes %*.*s", long(c->endT7) - long(c->firstT7), 25, 25, bar);
    w.Line("| end   of long c.%8ld |---", long(c->endT7));
    w.Line("| length          %8ld", long(c->length));
    if (int64_t(c->cache07) != int64_t(c->endT7) - int64_t(c->endT2)) {
        w.Text("---");
        w.Line("| TCP07 area size %9ld", long(c->cache07));
    }
    w.Text(kDashes);
}

// ---- 2 code page table -------------------------------------------------------------------

const char* const kTags[4] = {"", "c", "s", "S"};

bool HasTables(const rscpCpInfo_t& r)
{
    for (int v = 0; v < 4; ++v)
        if (r.in[v].root != 0 || r.out[v].t2 != 0 || r.in[v].blocks != 0 || r.out[v].blocks != 0)
            return true;
    return false;
}

// A T1 shortcut record of a pair chain: source, target, table, blocks, links.
struct Shortcut {
    char source[4], target[4];
    uint16_t table;
    uint16_t spare1;
    uint32_t word1;
    uint16_t blocks;
    uint16_t spare2;
    uint32_t word2;
    uint32_t nextSameSource, nextSameTarget;
};
static_assert(sizeof(Shortcut) == 32, "shortcut record");

void CodePages(Writer& w, const rscpCcc_t* c, bool verbose)
{
    w.Text(kDashes);
    w.Text("| Char code cache");
    w.Line("| %-*.*s%-*.*s=control codes and KOV's characters                           ", 4, 4, "    ", 4, 4, "S");
    w.Line("| %-*.*s%-*.*s=control codes                                     piled      ", 4, 4, "    ", 4, 4, "c");
    w.Line("| %-*.*s%-*.*s=KOV's characters                             ambiguous|      ", 4, 4, "    ", 4, 4, "s");
    w.Line("| %-*.*s|     __anchor__              _no.of_chars major/      enc|| len: ", 8, 8, "");
    w.Line("| %-*.*s|     in     out T1s T2s T3s     in    out   /minor  bit ||| bytes", 8, 8, "name");
    const rscpCpInfo_t* rows = rscpCccCpList(c);
    const uint32_t n = RowCount(c);
    for (uint32_t i = 0; i < n; ++i) {
        const rscpCpInfo_t& r = rows[i];
        if (!verbose && !HasTables(r))
            continue;
        char space[9] = "";
        const uint32_t spaceLen = r.spaceLen > 4 ? 4 : r.spaceLen;
        for (uint32_t k = 0; k < spaceLen; ++k)
            snprintfR(space + 2 * k, sizeof space - 2 * k, "%02x", r.space[k]);
        w.Line("| %-*.*s%-*.*s%4d%8ld %3d %2d %3d %7d%7d  %4d,%-4d %2d%2d%c%c %1d:%s", 4, 4, r.cp, 4, 4, "",
               int(r.in[0].root), long(r.out[0].t2), int(r.in[0].blocks), r.out[0].t2 != 0 ? 1 : 0,
               int(r.out[0].blocks), int(r.in[0].entries), int(r.out[0].entries), int(r.major), int(r.minor),
               int(r.unitBits), int(r.family), r.ambiguous ? 'A' : ' ', (r.flags & 0x04) ? 'X' : '_', int(spaceLen),
               space);
        for (int v = 0; v < 4; ++v)
            if (r.in[v].root != 0 || r.out[v].t2 != 0)
                w.Line("| %-*.*s%-*.*s%4d%8ld %3d %2d %3d %7d%7d      ,             :", 4, 4, r.cp, 4, 4, kTags[v],
                       int(r.in[v].root), long(r.out[v].t2), int(r.in[v].blocks), r.out[v].t2 != 0 ? 1 : 0,
                       int(r.out[v].blocks), int(r.in[v].entries), int(r.out[v].entries));
        // The pair chains: shortcuts with this code page as source, then as target.
        for (int list = 0; list < 2; ++list) {
            uint32_t offset = r.scHead[list];
            for (int k = 0; k < r.scCount[list]; ++k) {
                const Shortcut* s = reinterpret_cast<const Shortcut*>(At(c, offset, sizeof(Shortcut)));
                if (s == nullptr)
                    break;
                w.Line("| %-*.*s%-*.*s%4d         %3d        %7d             ,             :", 4, 4, s->source, 4, 4,
                       s->target, int(s->table), int(s->blocks), int(offset));
                offset = list == 0 ? s->nextSameSource : s->nextSameTarget;
            }
        }
    }
    w.Text(kDashes);
}

// ---- 3 read statistics ---------------------------------------------------------------------

void Reads(Writer& w, const rscpCcc_t* c, bool verbose)
{
    const char* d = "----------------";
    w.Line("--%-16.16s|%10.10s|%10.10s|%10.10s|%10.10s|", d, d, d, d, d);
    w.Line("| %-16.16s %10.10s %10.10s %10.10s %10.10s", "read statistic", "total", "in thread", "total", "in process");
    w.Line("| %-16.16s %10.10s %10.10s %10.10s %10.10s", "", "for", "since last", "for", "since last");
    w.Line("| %-16.16s %10.10s %10.10s %10.10s %10.10s", "table name", "cache", "shm update", "process", "statistic");
    const rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    uint64_t* sinceLast = rscpEventsSinceStatistic();
    for (int t = 0; t < RSCP_EVENTS; ++t) {
        const long cache = long(c->statEvents[t]);
        const long pending = ctl != nullptr ? long(ctl->events[t]) : 0;
        const long total = ctl != nullptr ? long(ctl->eventTotals[t]) : 0;
        const long since = long(sinceLast[t]);
        sinceLast[t] = 0;
        if (!verbose && cache == 0 && pending == 0 && total == 0 && since == 0)
            continue;
        const char* name = rscptn_table_name(t);
        if (pending != 0 && since != 0)
            w.Line("| %-16.16s %10ld  +%8ld %10ld %10ld", name, cache, pending, total, since);
        else if (pending != 0)
            w.Line("| %-16.16s %10ld  +%8ld %10ld %10s", name, cache, pending, total, "");
        else if (since != 0)
            w.Line("| %-16.16s %10ld %10s %10ld %10ld", name, cache, "", total, since);
        else
            w.Line("| %-16.16s %10ld %10s %10ld %10s", name, cache, "", total, "");
    }
    w.Line("--%-16.16s|%10.10s|%10.10s|%10.10s|%10.10s|", d, d, d, d, d);
}

// ---- 4 reorganisation history ----------------------------------------------------------

void History(Writer& w, const rscpCcc_t* c)
{
    w.Text(kDashes);
    w.Line("| layout version  %9ld", long(c->cccVersion));
    w.Line("| creation date    %-*.*s", 16, 16, c->createDate);
    w.Line("| last reorg date  %-*.*s", 16, 16, c->lastReorgDate);
    w.Line("| reorg_version   %9ld", long(c->reorgVersion));
    w.Line("| noof_reorgs     %9ld", long(c->reorgCount));
    w.Line("| reorg_done      %9s", Bool(c->reorgDone));
    w.Line("| reorg_reason    %-*.*s", 36, 36, c->reorgReason);
    w.Line("| created by      %9ld (parent PId %ld)", long(c->creatorPid), long(c->creatorPpid));
    if (c->invalidPid != 0 || c->invalidPpid != 0)
        w.Line("| invalidated by  %9ld (parent PId %ld)", long(c->invalidPid), long(c->invalidPpid));
    if (c->reorgPid != 0 || c->reorgPpid != 0)
        w.Line("| reorganized by  %9ld (parent PId %ld)", long(c->reorgPid), long(c->reorgPpid));
    w.Line("| dd_reorg_version%9ld", long(c->dictChanges));
    w.Line("| noof_dd_reorgs  %9ld", long(c->dictSyncCount));
    w.Line("| dd_reorg_done   %9s", Bool(c->dictSynced));
    w.Line("| overflow        %9ld", long(c->overflow));
    w.Line("| attaches        %9ld", long(c->attachCount));
}

// ---- 5 lookup and clone counters --------------------------------------------------------

// The cache's total of each counter (stat32, in the order of the control
// record's counters) and this process's count not yet folded into it.
void Counters(Writer& w, const rscpCcc_t* c)
{
    const rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    auto own = [ctl](uint32_t rscpCtlRecord_t::*field) { return ctl != nullptr ? long(ctl->*field) : 0L; };
    w.Line("| lookups         %9ld +%20ld", long(c->stat32[0]), own(&rscpCtlRecord_t::cpLookups));
    w.Line("| create object   %9ld +%20ld", long(c->stat32[8]), own(&rscpCtlRecord_t::createObjects));
    w.Line("| %-16.16s%9ld +%20ld", "clone CActivate", long(c->stat32[1]), own(&rscpCtlRecord_t::activateHits));
    w.Line("| %-16.16s%9ld +%20ld", "clone toLegacy", long(c->stat32[9]), own(&rscpCtlRecord_t::cloneToLegacy));
    w.Line("| %-16.16s%9ld +%20ld", "clone legacyTo", long(c->stat32[10]), own(&rscpCtlRecord_t::cloneLegacyTo));
    w.Line("| %-16.16s%9ld +%20ld", "clone for RFC", long(c->stat32[11]), own(&rscpCtlRecord_t::cloneForRfc));
    for (int i = 0; i < RSCP_CONVERTERS; ++i) {
        const char* name = i < RSCPCC_TO_UTF8      ? "clone UTF-8 to"
                           : i < RSCPCC_FROM_UTF16 ? "clone to UTF-8"
                           : i < RSCPCC_TO_UTF16   ? "clone UTF-16 to"
                                                   : "clone to UTF-16";
        w.Line("| %-16.16s%9ld +%20ld", name, long(c->stat32[RSCP_STAT32_NAMED + i]),
               ctl != nullptr ? long(ctl->converterCalls[i]) : 0L);
    }
}

// A count of the cache and this process together, or its line's "unused"
// form when it is 0.
void Count(Writer& w, const char* head, uint64_t cache, uint64_t own)
{
    const long n = long(cache + own);
    if (n != 0)
        w.Line("| %-16.16s%9ld", head, n);
    else
        w.Line("| %-16.16s%9ld   or unused", head, n);
}

// ---- 6 conversion settings and languages ------------------------------------------------

const char* Choice(uint32_t v, std::initializer_list<const char*> texts)
{
    return v < texts.size() ? texts.begin()[v] : " ? ?";
}

void LanguageList(Writer& w, const rscpCcc_t* c, const char* who, uint32_t state, uint32_t offset, uint32_t length)
{
    const char* text = At(c, offset, length);
    if (state == 1)
        w.Line("|    %-8s          <not possible>", who);
    else if (state != 2)
        w.Line("|    %-8s          <not initialized>", who);
    else if (text == nullptr || length == 0)
        w.Line("|    %-8s          <empty>", who);
    else if (length <= 23)
        w.Line("|    %-8s          \"%.*s\"", who, int(length), text);
    else {
        w.Line("|    %s", who);
        for (uint32_t i = 0; i < length; i += 32)
            w.Line("|       \"%.*s\"", int(length - i < 32 ? length - i : 32), text + i);
    }
}

void Settings(Writer& w, const rscpCcc_t* c)
{
    const rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    char a[24], b[24];
    snprintfR(a, sizeof a, "%lu", static_cast<unsigned long>(c->statBytesIn));
    snprintfR(b, sizeof b, "%lu", static_cast<unsigned long>(ctl != nullptr ? ctl->bytesIn : 0));
    w.Line("| conv.bytes (in) %20s +%20s", a, b);
    snprintfR(a, sizeof a, "%lu", static_cast<unsigned long>(c->statBytesOut));
    snprintfR(b, sizeof b, "%lu", static_cast<unsigned long>(ctl != nullptr ? ctl->bytesOut : 0));
    w.Line("| conv.bytes(out) %20s +%20s", a, b);
    Count(w, "fill.space(out)", c->statFillSpace, ctl != nullptr ? ctl->fillSpace : 0);
    Count(w, "fill.bytes(out)", c->statFillBytes, ctl != nullptr ? ctl->fillBytes : 0);
    Count(w, "trunc.bytes(in)", c->statTruncBytes, ctl != nullptr ? ctl->truncBytes : 0);
    w.Text("---");
    w.Line("| mbc_in_sbcs     %9s", Bool(c->mbcInSbcs));
    w.Line("| mbc_copy        %9d", int(c->mbcCopy));
    w.Line("| utf8gui_allow %11s", Choice(c->utf8guiAllow, {"yes", "user_choice", "never", "enforce", "automatic"}));
    w.Line("| rtlinltr_allow %10s", Choice(c->rtlinltrAllow, {"disable", "enable"}));
    w.Line("| bidi_ctrl_filter %8s", Choice(c->bidiCtrlFilter, {"disable", "enable"}));
    w.Line("| indic_digits %12s", Choice(c->indicDigits, {"disable", "enable"}));
    w.Line("| normalize_input %9s", Choice(c->normalizeInput, {"disable", "enable"}));
    w.Line("| cfont_cache_version%6d", int(c->cfontCacheVersion));
    w.Line("| ICUObjID        %9lu", static_cast<unsigned long>(c->icuObjectId));
    w.Line("| Legacy code page     %-*.*s", 4, 4, c->legacyCp);
    w.Text("---");
    w.Line("| def_country          \"%-3.3s\"", c->defCountryText);
    w.Text("---");
    w.Line("| def_language         \"%c\"", c->defLanguage);
    w.Text("---");
    w.Text("| processed_languages");
    LanguageList(w, c, "system", c->procLangState, c->procLangOffset, c->procLangLength);
    LanguageList(w, c, "instance", c->lang.instState, c->lang.instOffset, c->lang.instLength);
    w.Text(kDashes);
}

// ---- 7 language map and database multi-code-page lists ------------------------------------

const char* LocaleAt(const rscpCcc_t* c, uint32_t offset, const char* none)
{
    const char* p = At(c, offset, 1);
    if (p == nullptr)
        return none;
    // NUL-terminated inside the cache, else not shown.
    return std::memchr(p, '\0', Limit(c) - offset) != nullptr ? p : none;
}

void McpList(Writer& w, const rscpCcc_t* c, const rscpDbMcpl_t& l, char which)
{
    w.Line("| DBMCPL_%c_cached %9s", which, Bool(l.present));
    if (!l.present)
        return;
    w.Line("|   %c_defCP       %-*.*s", which, 4, 4, l.defCp);
    w.Line("|   %c_no_of_pages %d", which, int(l.pageCount));
    w.Line("|   %c_cps_offset  %12ld", which, long(l.pagesOffset));
    w.Line("|   %c_no_of_langs %d", which, int(l.langCount));
    w.Line("|   %c_LangCPMap_o %12ld", which, long(l.langsOffset));
    w.Text("|   Code pages:");
    const char* pages = At(c, l.pagesOffset, uint64_t(l.pageCount) * 4);
    for (uint32_t i = 0; pages != nullptr && i < l.pageCount; ++i)
        w.Line("|   %2d : %-*.*s", int(i), 4, 4, pages + 4 * i);
    w.Text("|   Language mappings:");
    const rscpLangEntry_t* langs = reinterpret_cast<const rscpLangEntry_t*>(
        At(c, l.langsOffset, uint64_t(l.langCount) * sizeof(rscpLangEntry_t)));
    for (uint32_t i = 0; langs != nullptr && i < l.langCount; ++i) {
        const rscpLangEntry_t& e = langs[i];
        char flags[80];
        rscplf__lang_flags_text(flags, sizeof flags, e.flags);
        if (pages != nullptr && e.page >= 0 && uint32_t(e.page) < l.pageCount)
            w.Line("|   %2d : %c -> %3d  (\"%-4.4s\")    %s", int(i), e.language, int(e.page), pages + 4 * e.page,
                   flags);
        else if (e.page == -1)
            w.Line("|   %2d : %c -> %3d  (not set)   %s", int(i), e.language, int(e.page), flags);
        else if (e.page == -2)
            w.Line("|   %2d : %c -> %3d  (ambiguous) %s", int(i), e.language, int(e.page), flags);
        else
            w.Line("|   %2d : %c -> %3d  (strange)   %s", int(i), e.language, int(e.page), flags);
    }
}

void Languages(Writer& w, const rscpCcc_t* c)
{
    const rscpLangData_t& l = c->lang;
    w.Text("| language to MB code page mapping");
    if (l.state == 1) {
        w.Text("|    lang -> MB c.p.   <not possible>");
    } else if (l.state != 2) {
        w.Text("|    lang -> MB c.p.   <not initialized>");
    } else {
        const int count = c->mbCpCount > RSCP_MBCP_MAX ? RSCP_MBCP_MAX : c->mbCpCount;
        for (int i = 0; i < RSCP_LANG_SLOTS; ++i) {
            const rscpLangSlot_t& s = l.slots[i];
            if (s.cpIndex == 0)
                continue;
            const char* locale = LocaleAt(c, s.localeOffset, "<no_locale>");
            if (s.cpIndex <= count)
                w.Line("|    %c      ->       %-*.*s %-8.8s   %s", char(0x20 + i), 4, 4, l.mbCp[s.cpIndex - 1],
                       s.source == 1   ? "known"
                       : s.source == 2 ? "working"
                                       : "unknown",
                       locale);
            else
                w.Line("|    %c ->%2d ->%2d ->  <out_of_bounds>  %s", char(0x20 + i), int(s.cpIndex),
                       int(s.cpIndex) - 1, locale);
        }
    }
    w.Text(kDashes);
    McpList(w, c, l.dbmcpl[0], 'n');
    McpList(w, c, l.dbmcpl[1], 'm');
    w.Text(kDashes);
}

// ---- 8 RFC lists ------------------------------------------------------------------------

void RfcLists(Writer& w, const rscpCcc_t* c)
{
    const rscpLangData_t& l = c->lang;
    w.Text("| RFC condensed list [CodePage-Languages]");
    const char* list = At(c, l.listOffset, l.listLength);
    if (l.state == 1) {
        w.Text("|    <not possible>");
    } else if (l.state != 2) {
        w.Text("|    <not initialized>");
    } else if (l.listLength == 0 || list == nullptr) {
        w.Line("|    <not available> length=%d", int(l.listLength));
    } else {
        w.Line("|    length [Byte]     %d", int(l.listLength));
        char hex[33], text[17];
        strcpy_sR(hex, sizeof hex, "dump:");
        w.Line("|    %-*s |%-*s|", 32, hex, 16, "");
        for (uint32_t i = 0; i < l.listLength; i += 16) {
            const uint32_t n = l.listLength - i < 16 ? l.listLength - i : 16;
            for (uint32_t k = 0; k < n; ++k) {
                const auto b = static_cast<unsigned char>(list[i + k]);
                snprintfR(hex + 2 * k, sizeof hex - 2 * k, "%02x", b);
                text[k] = b >= 0x20 && b < 0x7F ? char(b) : '.';
            }
            hex[2 * n] = '\0';
            text[n] = '\0';
            w.Line("|    %-*s |%-*s|", 32, hex, 16, text);
        }
    }
    w.Text("---");
    w.Text("| RFC legacy caller Language-Code Page list");
    w.Text("|    not used in non-Unicode system.");
    w.Text("---");
    w.Line("| RFC Trace Switches: MDMP CodePages=%d. Conversions=%d.", int(l.mdmpTrace), int(l.convTrace));
    w.Text(kDashes);
}

// ---- 9 lists and tables ---------------------------------------------------------------

// A line of a head and one hex value per byte, in upper or lower case.
void Bytes(Writer& w, const char* head, const uint8_t* bytes, uint32_t count, bool upper)
{
    char line[100];
    int32_t n = snprintfTruncR(line, sizeof line, "%s", head);
    for (uint32_t i = 0; i < count && n < int32_t(sizeof line) - 1; ++i)
        n += snprintfTruncR(line + n, sizeof line - size_t(n), upper ? " %02X" : " %02x", bytes[i]);
    w.Text(line);
}

void Lists(Writer& w, const rscpCcc_t* c)
{
    w.Line("| TCPDB_count     %9ld", long(c->tcpdbCount));
    w.Line("| db_cp_count     %9ld", long(c->dbCpCount));
    for (int i = 0; i < c->dbCpCount && i < RSCP_TCPDB_MAX; ++i)
        w.Line("|    %3d:          %-*.*s", i, 4, 4, c->dbCp[i]);
    w.Line("| noof_iso2022_p. %d", int(c->soSiCount));
    for (int i = 0; i < c->soSiCount && i < RSCP_SOSI_MAX; ++i) {
        const rscpSoSi_t& e = c->soSi[i];
        char head[40];
        snprintfR(head, sizeof head, "|    %3d: STRT     (%d)", i, int(e.soLen));
        Bytes(w, head, e.so, e.soLen > 10 ? 10 : e.soLen, false);
        snprintfR(head, sizeof head, "|       : BACK     (%d)", int(e.siLen));
        Bytes(w, head, e.si, e.siLen > 10 ? 10 : e.siLen, false);
    }
    w.Text("---");
    w.Line("| loaded_f1_count %d", int(c->loadedF1Count));
    for (uint32_t i = 0; i < c->loadedF1Count && i < uint32_t(RSCP_F1_MAX); ++i) {
        const uint64_t key = c->f1List[i].key;
        char decimal[24];
        snprintfR(decimal, sizeof decimal, "%lu", static_cast<unsigned long>(key));
        w.Line("|    %3d: hash      %s (0x%08lx%08lx)", int(i), decimal, static_cast<unsigned long>(key >> 32),
               static_cast<unsigned long>(key & 0xFFFFFFFFu));
        w.Line("|         offset    %lu (0x%08lx)", static_cast<unsigned long>(c->f1List[i].offset),
               static_cast<unsigned long>(c->f1List[i].offset));
    }
    w.Text("---");
    w.Line("| ruleInfo_count  %d", int(c->ruleInfoCount));
    for (uint32_t i = 0; i < c->ruleInfoCount && i < uint32_t(RSCP_RULEINFO_SLOTS); ++i) {
        const rscpRuleInfo_t& r = c->ruleInfo[i];
        const int l1 = r.len1 > 20 ? 20 : r.len1, l2 = r.len2 > 20 ? 20 : r.len2;
        const uint32_t bytes = r.bytes > 4 ? 4 : r.bytes;
        w.Line("|    %3d: rule     %*.*s(%*.*s,%*.*s)", int(i), 2, 2, "68", l1, l1, r.word1, l2, l2, r.word2);
        w.Line("|       : Unicode  %06lX..%06lX", static_cast<unsigned long>(r.first),
               static_cast<unsigned long>(r.last));
        w.Line("|       : seqLg    %ld", long(r.bytes));
        w.Line("|       : uidFirst %06lX (%ld)", static_cast<unsigned long>(r.base), long(r.base));
        uint8_t start[4], low[4], high[4];
        char line[100];
        int32_t n = snprintfTruncR(line, sizeof line, "|       : byteWidth");
        int32_t m = 0;
        char weights[100];
        m = snprintfTruncR(weights, sizeof weights, "|       : weight   ");
        for (uint32_t k = 0; k < bytes; ++k) {
            start[k] = r.pos[k].start;
            low[k] = r.pos[k].low;
            high[k] = r.pos[k].high;
            n += snprintfTruncR(line + n, sizeof line - size_t(n), " %7d", int(r.pos[k].range));
            m += snprintfTruncR(weights + m, sizeof weights - size_t(m), " %7d", int(r.pos[k].weight));
        }
        Bytes(w, "|       : byteOf1  ", start, bytes, true);
        Bytes(w, "|       : minV     ", low, bytes, true);
        Bytes(w, "|       : maxV     ", high, bytes, true);
        w.Text(line);
        w.Text(weights);
    }
    w.Text(kDashes);
}

// ---- 10 segments table ------------------------------------------------------------------

const char* SourceText(uint8_t source)
{
    switch (source) {
    case '0':
        return "old db tables TCP02/03/07";
    case '2':
        return "F5-memory";
    case '3':
        return "both tables in db";
    case '4':
        return "TCPSEG db table";
    default:
        return "  elsewhere";
    }
}

void Segments(Writer& w, const rscpCcc_t* c, bool verbose)
{
    w.Text(kDashes);
    w.Text("| Char code cache");
    w.Line("| %-*.*s | %*.*s|   system c.p.", 4, 4, "", 19, 19, "about segments");
    w.Line("| %-*.*s |%-6.6s|%-6.6s|%-*.*s|      ----.", 4, 4, "", "source_of_TCP00", "source_of_code_page", 5, 5, "");
    w.Line("| %-*.*s |%-6.6s|%-6.6s|%-*.*s|ISO-2022  |max char length", 4, 4, "name", "TCP00", "code_page", 5, 5,
           "segid");
    const rscpCpInfo_t* rows = rscpCccCpList(c);
    const uint32_t n = RowCount(c);
    for (uint32_t i = 0; i < n; ++i) {
        const rscpCpInfo_t& r = rows[i];
        if (!verbose && !HasTables(r))
            continue;
        char iso[11];
        for (int k = 0; k < 10; ++k)
            iso[k] = (r.iso2022 >> k & 1u) ? char('0' + k) : '.';
        iso[10] = '\0';
        // The longest code of each variant, input or output.
        uint32_t longest[4];
        for (int v = 0; v < 4; ++v)
            longest[v] = (r.in[v].maxLen > r.out[v].maxLen ? r.in[v].maxLen : r.out[v].maxLen) % 1000;
        char lengths[48];
        if ((longest[0] | longest[1] | longest[2] | longest[3]) == 0)
            strcpy_sR(lengths, sizeof lengths, "no information");
        else
            snprintfR(lengths, sizeof lengths, "__=%.3d, C_=%.3d, _S=%.3d, CS=%.3d", int(longest[0]), int(longest[1]),
                      int(longest[2]), int(longest[3]));
        w.Line("| %-*.*s |%-6.6s|%-6.6s|%-*.*s|%s|%s|%c%c%c", 4, 4, r.cp, SourceText(r.sourceTag), SourceText(r.source),
               5, 5, r.segId, iso, lengths, r.stacking ? 'S' : '_', r.ownCp ? 'O' : '_', r.ambiguous ? 'A' : '_');
    }
    w.Text(kDashes);
}

}  // namespace

void rscpvOutLine(rscpeOutputFunc out, size_t size, const char* fmt, va_list ap)
{
    char line[256];
    if (size > sizeof line)
        size = sizeof line;
    vsnprintfR(line, size, fmt, ap);
    out(line, int32_t(strnlenR(line, size)));
}

int32_t rscpcs_cache_status(int32_t mask, rscpeOutputFunc out, uint32_t)
{
    if (out == nullptr)
        return 0;
    if (rscphTracing())
        rscph_HookTable.TraceEnter("rscpcs_cache_status", -1, " ", 1, nullptr);
    Writer w(out);
    const rscpCcc_t* c = rscpmp;
    if (c == nullptr) {
        w.Line("-----------------%-8s---", "RSCPCCCC");
        w.Text("| Char code cache");
        w.Text("| ");
        w.Text("| <not allocated>");
        w.Text(kDashes);
    } else {
        if (mask & RSCPCS_MORE)
            mask |= RSCPCS_SETTINGS | RSCPCS_LANGUAGES | RSCPCS_RFC | RSCPCS_COUNTERS;
        const bool usable = h_ccc_state == 2;
        const bool verbose = (mask & RSCPCS_VERBOSE) != 0;
        if (mask & RSCPCS_GENERAL)
            General(w, c, verbose);
        if ((mask & 0x003) == 0x003)
            w.Text(":");
        if ((mask & RSCPCS_CODE_PAGES) && usable)
            CodePages(w, c, verbose);
        if ((mask & 0x007) > 0x004)
            w.Text(":");
        if ((mask & RSCPCS_READS) && usable)
            Reads(w, c, verbose);
        if ((mask & 0x047) > 0x040)
            w.Text(":");
        if ((mask & RSCPCS_SETTINGS) && usable)
            History(w, c);
        if ((mask & RSCPCS_COUNTERS) && usable)
            Counters(w, c);
        if ((mask & RSCPCS_SETTINGS) && usable)
            Settings(w, c);
        if ((mask & 0x0C7) > 0x080)
            w.Text(":");
        if ((mask & RSCPCS_LANGUAGES) && usable)
            Languages(w, c);
        if ((mask & 0x1C7) > 0x100)
            w.Text(":");
        if ((mask & RSCPCS_RFC) && usable)
            RfcLists(w, c);
        if ((mask & 0x1C7) != 0x040)
            w.Text(":");
        if ((mask & RSCPCS_SETTINGS) && usable)
            Lists(w, c);
        if ((mask & 0x3DF) > 0x010)
            w.Text(":");
        if ((mask & RSCPCS_SEGMENTS) && usable)
            Segments(w, c, verbose);
    }
    if (rscphTracing())
        rscph_HookTable.TraceExit(0, "", 0, nullptr);
    return 0;
}
