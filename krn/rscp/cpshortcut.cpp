// T1 shortcuts: for a pair of single-byte code pages, a copy of the input
// table whose entries write the target's bytes directly, so that the table
// walk needs no output lookup.  A shortcut is kept in the cache07 area as a
// 32-byte record linked into both code pages' lists and found again by the
// next activation of the pair.
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cptab.h"
#include "krn/rscp/cptable.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

// The record: source and target code page, the table, two words of the
// source's record, the blocks copied, the next records of both lists.
struct Record {
    char source[4];
    char target[4];
    uint16_t table;
    uint16_t zero1;
    uint32_t entries;
    uint16_t blocks;
    uint16_t zero2;
    uint32_t maxLen;
    uint32_t nextSameSource;
    uint32_t nextSameTarget;
};
static_assert(sizeof(Record) == 32, "shortcut record");

bool ShortcutPage(const rscpCpInfo_t* row)
{
    return (row->flags & 0x1C) != 0 || std::memcmp(row->cp, "1101", 4) == 0;
}

// The direct entry for a T1 character entry, or 0 when it stays.
uint32_t Direct(const rscpCcc_t* c, uint32_t t2, uint32_t entry)
{
    const uint32_t ch = rscpT1Char(entry);
    const uint32_t keep = entry & 0x1F000000u;
    uint16_t e = 0;
    if (!rscpT2Entry(c, t2, ch >> 7, &e))
        return 0;
    int32_t rule = -1;
    uint32_t w = 0;
    if (rscpT2IsRulePage(e)) {
        rule = int32_t(rscpT2RuleNo(e));
    } else if (rscpT2IsT3(e)) {
        if (!rscpT3Word(c, rscpT2Row(e), ch & 0x7F, &w) || w == 0)
            return 0;
        if (rscpT3IsRule(w)) {
            rule = int32_t(rscpT3RuleNo(w));
        } else {
            const uint32_t n = rscpT3CodeLength(w);
            if (n == 1)
                return RSCP_T1_OUT1 << 29 | keep | (w >> 16 & 0xFF);
            if (n == 2)
                return RSCP_T1_OUT2 << 29 | keep | (w >> 8 & 0xFFFF);
            return 0;
        }
    } else {
        return 0;
    }
    if (rule == RSCP_RULE_U2H && ch <= 0xFFFF)
        return RSCP_T1_OUT2 << 29 | keep | (ch & 0xFFFF);
    if (rule == RSCP_RULE_U2L && ch <= 0xFFFF)
        return RSCP_T1_OUT2 << 29 | keep | (ch & 0xFF) << 8 | (ch >> 8 & 0xFF);
    if (rule != RSCP_RULE_U22H && rule != RSCP_RULE_U22L)
        std::fprintf(stderr, "%3d Rulebased__t1e__to__l_out__and_break RSCPCCT2E_KIND_RULE %d\n", __LINE__, rule);
    return 0;
}

struct Walk {
    const rscpCcc_t* c;
    uint32_t t2;
    uint32_t copied = 0;
    bool failed = false;
};

// Whether a block (or a block below it) has an entry to rewrite.
bool NeedsRewrite(Walk& k, uint32_t block, int depth)
{
    if (depth > 126)
        return false;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t w = 0;
        if (!rscpT1Word(k.c, block, i, &w))
            return false;
        if ((rscpT1Kind(w) == RSCP_T1_CHAR && Direct(k.c, k.t2, w) != 0) ||
            (rscpT1Kind(w) == RSCP_T1_NEXT && NeedsRewrite(k, w & 0xFFFF, depth + 1)))
            return true;
    }
    return false;
}

// The block itself when nothing in it changes, else its rewritten copy; 0
// when no block was free.
uint32_t Rewrite(Walk& k, uint32_t block, int depth)
{
    if (!NeedsRewrite(k, block, depth))
        return block;
    const uint32_t copy = rscpct1__copy_t1(block);
    if (copy == 0) {
        k.failed = true;
        return 0;
    }
    ++k.copied;
    uint32_t* words = rscpmlT1(copy);
    for (uint32_t i = 0; i < 256 && !k.failed; ++i) {
        const uint32_t w = words[i];
        if (rscpT1Kind(w) == RSCP_T1_CHAR) {
            const uint32_t d = Direct(k.c, k.t2, w);
            if (d != 0)
                words[i] = d;
        } else if (rscpT1Kind(w) == RSCP_T1_NEXT) {
            const uint32_t below = Rewrite(k, w & 0xFFFF, depth + 1);
            if (below != 0 && below != (w & 0xFFFF))
                words[i] = rscpT1NextWord(below);
        }
    }
    return k.failed ? 0 : copy;
}

}  // namespace

uint32_t rscpT1Shortcut(rscpCObj_t* o, int32_t variant, uint32_t (*takeWritePermission)(void*), void* ctx)
{
    rscpCcc_t* c = rscpmp;
    const char* inCp = o->use_other_in ? o->used_incode : o->incode;
    const char* outCp = o->use_other_out ? o->used_outcode : o->outcode;
    rscpCpInfo_t* in = rscpFindCodePage(inCp);
    rscpCpInfo_t* out = rscpFindCodePage(outCp);
    if (in == nullptr || out == nullptr || !ShortcutPage(in) || !ShortcutPage(out))
        return RSCP_OK;

    // A shortcut made before.
    uint32_t at = in->scHead[0];
    for (int guard = 0; at != 0 && guard < 256; ++guard) {
        Record r;
        const uint8_t* p = rscpCccBytes(c, at, sizeof r);
        if (p == nullptr)
            break;
        std::memcpy(&r, p, sizeof r);
        if (std::memcmp(r.target, outCp, 4) == 0 && r.table != 0) {
            o->in_no = r.table;
            return RSCP_OK;
        }
        at = r.nextSameSource;
    }

    uint32_t rc = takeWritePermission(ctx);
    if (rc != 0)
        return rc;
    // A failure undoes this shortcut only, not what was made before it.
    rscpsp__save_point(nullptr);
    Walk k{c, o->out_no};
    const uint32_t root = Rewrite(k, o->in_no, 0);
    if (k.failed) {
        rscprb__rollback_allocation(nullptr, "overflow while copying for T1shortcut");
        char arg[48];
        std::snprintf(arg, sizeof arg, "cachesize&%ld&?&", long(c->length));
        return rscpe__error(RSCPETOOLONG, 'C', RSCP_ALL_ERRORS, kModule, 6, __LINE__,
                            "KOVPARAM(rsts/ccc/cachesize) too small", "F1A", arg, -1, nullptr, 0);
    }
    Record r{};
    std::memcpy(r.source, inCp, 4);
    std::memcpy(r.target, outCp, 4);
    r.table = uint16_t(root);
    r.entries = in->in[variant].entries;
    r.maxLen = in->in[variant].maxLen;
    r.blocks = uint16_t(k.copied);
    r.nextSameSource = in->scHead[0];
    r.nextSameTarget = out->scHead[1];
    uint32_t off = 0;
    rc = rscpsc__store_cache07(&r, sizeof r, &off, nullptr);
    if (rc != 0) {
        rscprb__rollback_allocation(nullptr, "overflow while copying for T1shortcut");
        return rc;
    }
    in->scHead[0] = off;
    out->scHead[1] = off;
    if (in->scCount[0] < 255)
        ++in->scCount[0];
    if (out->scCount[1] < 255)
        ++out->scCount[1];
    o->in_no = root;
    return RSCP_OK;
}
