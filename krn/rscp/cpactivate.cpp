// Activation of converter objects: the cache check, the code page records
// of both sides with their tables (loaded into the cache when missing), the
// method of the pair, the resolution of language-dependent code pages, the
// ISO-2022 restrictions and the activation cache.
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cpcache.h"
#include "krn/rscp/cperr.h"
#include "krn/rscp/cpload.h"
#include "krn/rscp/cpf1.h"
#include "krn/rscp/cpnames.h"

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

uint32_t Err(uint32_t code, uint32_t mask, int32_t line, const char* text, const char* msgid,
             const char* arg1 = nullptr, int32_t len1 = 0, const char* arg2 = nullptr, int32_t len2 = 0)
{
    return rscpe__error(code, 'C', mask, kModule, 4, line, text, msgid, arg1, len1, arg2, len2);
}

bool Same(const char* a, const char* b)
{
    return std::memcmp(a, b, 4) == 0;
}

// Methods that need no table of the object's own.
bool TablelessMethod(int32_t m)
{
    return (m >= 0 && m <= 3) || (m >= 12 && m <= 32) || m == 48 || m == 49;
}
// Methods whose result depends on the language: never cached.
bool LanguageMethod(int32_t m)
{
    return m == 5 || m == 7 || m == 9 || m == 28 || m == 34 || m == 36 || m == 38 || m == 40;
}

void ClearInput(rscpCObj_t* o)
{
    o->in_set = 0;
    o->in_no = 0;
    o->in_maxln = 0;
    o->in_major = 0;
    o->in_minor = 0;
    o->in_ambiguous = 0;
    o->langu_dep_in_major = 0;
    o->use_other_in = 0;
    o->in_space_len = 0;
    o->active_major = 0;
}

void ClearOutput(rscpCObj_t* o)
{
    o->out_set = 0;
    o->out_no = 0;
    o->out_maxln = 0;
    o->out_major = 0;
    o->out_minor = 0;
    o->out_ambiguous = 0;
    o->use_other_out = 0;
    o->out_space_len = 0;
    std::memcpy(o->used_outcode, "0000", 4);
}

// ---- Unicode shortcut classification --------------------------------------------------

// 'A' one-byte and UTF-8, 'B' big-endian, 'L' little-endian Unicode forms.
char UnicodeClass(const char* cp)
{
    if (cp[0] == '1' || Same(cp, "4110"))
        return 'A';
    if (Same(cp, "4100") || Same(cp, "4102") || Same(cp, "4104"))
        return 'B';
    if (Same(cp, "4101") || Same(cp, "4103") || Same(cp, "4105"))
        return 'L';
    return 0;
}

bool UnicodeShortcut(rscpCObj_t* o)
{
    const char s = UnicodeClass(o->incode), t = UnicodeClass(o->outcode);
    if (s == 0 || t == 0)
        return false;
    struct Choice {
        char s, t;
        int32_t method;
    };
    static const Choice choices[] = {
        {'A', 'A', 2},  {'B', 'B', 2},  {'L', 'L', 2},  {'A', 'B', 29}, {'A', 'L', 30},
        {'B', 'A', 31}, {'L', 'A', 32}, {'B', 'L', 25}, {'L', 'B', 25},
    };
    for (const Choice& c : choices)
        if (c.s == s && c.t == t) {
            o->method = c.method;
            std::fprintf(stderr, "rscpc: %4.4s->%4.4s: KOVCCM_%s\n", o->incode, o->outcode,
                         rscpMethodName(uint32_t(c.method)));
            return true;
        }
    return false;
}

// ---- one activation -----------------------------------------------------------------------

struct Activation {
    rscpCObj_t* o;
    uint32_t mask;
    bool reset, input, output;
    bool writeHeld = false;
    bool overflowed[2] = {false, false};
    bool shortcutOverflowed = false;
    int32_t rememberedMethod = -1;
    // translation table of the pair filter, when it serves the pair
    const uint8_t* f1Table = nullptr;
    const char* f1Name = nullptr;
    bool f1Overflowed = false;
};

uint32_t Reorganise(uint32_t mask)
{
    if (rscphTracing())
        rscph_HookTable.TraceSectionBegin("rscpmreorg", nullptr);
    ++rscph_HookTable.ctl->reorgNesting;
    const uint32_t rc = rscpnr__need_reorg(0, mask);
    --rscph_HookTable.ctl->reorgNesting;
    if (rscphTracing())
        rscph_HookTable.TraceSectionEnd(nullptr);
    return rc;
}

uint32_t TakeWritePermission(Activation& a)
{
    if (a.writeHeld)
        return RSCP_OK;
    const int32_t rc = rscph_HookTable.GetWritePermission(280, 0);
    if (rc != 0)
        return uint32_t(rc);
    a.writeHeld = true;
    return RSCP_OK;
}

uint32_t TakeWritePermissionFor(void* ctx)
{
    return TakeWritePermission(*static_cast<Activation*>(ctx));
}

// The variant of the object's tables: control codes tried (1), own
// characters tried (2).
int32_t Variant(const rscpCObj_t* o)
{
    return (o->ctrlcodes == RSCPCTRL_TRY ? 1 : 0) | (o->ownCh == RSCPOWN_TRY ? 2 : 0);
}

// A single-byte pair whose input table can write the target's bytes itself.
bool ShortcutWanted(const Activation& a)
{
    const rscpCObj_t* o = a.o;
    return a.input && a.output && !o->in_ambiguous && !o->out_ambiguous && o->enforce_f1 <= RSCPF1_NOT &&
           o->method == 4 && o->ctrlcodes == RSCPCTRL_TRY && o->ownCh == RSCPOWN_IGNORE;
}

// Loads one side's tables (input: true) for the code page cp into the
// object; 32 (no room) is left to the caller's overflow handling.
uint32_t LoadSide(Activation& a, bool input, const char* cp)
{
    rscpCObj_t* o = a.o;
    rscpCpInfo_t* row = rscpFindCodePage(cp);
    if (row == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "%s character code \"%4.4s\" unknown", input ? "in" : "out", cp);
        return Err(RSCPENOCONV, a.mask, __LINE__, text, "F43", cp, 4);
    }
    const int v = Variant(o);
    static const uint32_t kInKinds[4] = {5, 6, 9, 10}, kOutKinds[4] = {21, 22, 25, 26};
    const bool loaded = input ? row->in[v].root != 0 : row->out[v].t2 != 0;
    if (!loaded) {
        uint32_t rc = TakeWritePermission(a);
        if (rc == 0)
            rc = rscplcc__load_control_codes(input ? kInKinds[v] : kOutKinds[v], row);
        if (rc != 0)
            return rc;
        row = rscpFindCodePage(cp);
        if (row == nullptr || (input ? row->in[v].root == 0 : row->out[v].t2 == 0))
            return Err(RSCPEINTERN, a.mask, __LINE__, "tables missing after loading", "F26", cp, 4);
    }
    const uint32_t shiftMask = input ? RSCP_2022_IN_SHIFT : RSCP_2022_OUT_SHIFT;
    if ((o->iso2022 & shiftMask) != 0) {
        char arg[96];
        std::snprintf(arg, sizeof arg, "Cannot re-org '%4.4s' for %s during shifted ISO-2022 state", cp,
                      input ? "input" : "output");
        return Err(RSCPENOCONV, a.mask, __LINE__,
                   input ? "Cannot re-org during shifted ISO-2022 input state"
                         : "Cannot re-org during shifted ISO-2022 output state",
                   "CQ4", arg, -1);
    }
    const uint8_t spaceLen = uint8_t(row->spaceLen > 4 ? 4 : row->spaceLen);
    if (input) {
        o->in_no = row->in[v].root;
        o->in_maxln = uint8_t(row->in[v].maxLen > 255 ? 255 : row->in[v].maxLen);
        o->in_set = 1;
        o->in_major = row->major;
        o->in_minor = row->minor;
        if (!o->use_other_in)
            o->in_ambiguous = row->ambiguous;
        std::memcpy(o->in_space, row->space, 4);
        o->in_space_len = spaceLen;
        o->iso2022 = (o->iso2022 & ~0x3FFu) | (row->iso2022 & 0x3FFu);
        o->langu_dep_in_major = rscpRefineAsianUniKind(row->major, o->ccci_langu);
    } else {
        o->out_no = row->out[v].t2;
        o->out_maxln = uint8_t(row->out[v].maxLen > 255 ? 255 : row->out[v].maxLen);
        o->out_set = 1;
        o->out_major = Same(cp, "4000") ? uint32_t(RSCPK_KOV16) : row->major;
        o->out_minor = row->minor;
        if (!o->use_other_out)
            o->out_ambiguous = row->ambiguous;
        std::memcpy(o->out_space, row->space, 4);
        o->out_space_len = spaceLen;
        o->iso2022 = (o->iso2022 & ~(0x3FFu << 14)) | (uint32_t(row->iso2022) & 0x3FFu) << 14;
    }
    o->method = RSCPMETH_UNKNOWN;
    return RSCP_OK;
}

// The method of the loaded pair; may ask for another pass with a resolved
// code page (*again).
uint32_t ChooseMethod(Activation& a, bool* again)
{
    rscpCObj_t* o = a.o;
    const rscpCpInfo_t* src = rscpFindCodePage(o->use_other_in ? o->used_incode : o->incode);
    rscpPairKinds k{
        o->in_major,     o->out_major,     o->in_minor,  o->out_minor,
        o->in_ambiguous, o->out_ambiguous, o->do_filter, uint8_t(src != nullptr && (src->flags & 0x10) != 0),
        o->ctrlcodes};
    rscpPairMethod m{};
    if (!rscpMethodOfPair(k, &m)) {
        char text[160], arg[128];
        std::snprintf(text, sizeof text, "code page '%4.4s'->'%4.4s' unsupported pair %s->%s", o->incode, o->outcode,
                      rscpNlsKindText(int32_t(o->in_major)), rscpNlsKindText(int32_t(o->out_major)));
        std::snprintf(arg, sizeof arg, "%4.4s&%4.4s&%s&%s&", o->incode, o->outcode,
                      rscpNlsKindText(int32_t(o->in_major)), rscpNlsKindText(int32_t(o->out_major)));
        return Err(RSCPENOCONV, a.mask, __LINE__, text, "CPR", arg, -1);
    }
    o->method = m.method;
    if (m.resolve == RSCP_RESOLVE_SOURCE && !o->use_other_in) {
        char r[5] = {};
        rscpResolveInCodePage(r, o->incode, o->ccci_langu, &o->ccci_ambig_langu, o->ccci_3rdCP);
        if (!Same(r, o->incode)) {
            std::memcpy(o->used_incode, r, 4);
            o->use_other_in = 1;
            a.rememberedMethod = m.method;
            *again = true;
        }
    } else if (m.resolve == RSCP_RESOLVE_TARGET && !o->use_other_out) {
        char r[5] = {};
        rscpResolveOutCodePage(r, o->outcode, o->ccci_langu, &o->ccci_ambig_langu, o->ccci_3rdCP);
        if (!Same(r, o->outcode)) {
            std::memcpy(o->used_outcode, r, 4);
            o->use_other_out = 1;
            a.rememberedMethod = m.method;
            *again = true;
        }
    }
    return RSCP_OK;
}

// ISO-2022 input may only go through the table methods.
uint32_t Check2022(Activation& a)
{
    rscpCObj_t* o = a.o;
    if ((o->iso2022 & 0x3FFu) == 0)
        return RSCP_OK;
    const int32_t m = o->method;
    if ((m >= 7 && m <= 11) || m == 27 || m == 28) {
        char text[200];
        std::snprintf(text, sizeof text, "'%4.4s'->'%4.4s': %s->%s cannot combine %s with ISO-2022", o->incode,
                      o->outcode, rscpNlsKindText(int32_t(o->in_major)), rscpNlsKindText(int32_t(o->out_major)),
                      rscpMethodText(m));
        return Err(RSCPENOCONV, a.mask, __LINE__, text, "CPR");
    }
    if (m == 4 || m == 5)
        o->method = 41;
    else if (m == 6)
        o->method = 42;
    return RSCP_OK;
}

// The kind that governs the conversion.
void SetActiveMajor(rscpCObj_t* o)
{
    static uint32_t remembered = 0;
    if (o->in_major == RSCPK_KOV16 || (o->in_major == 0 && rscpmp != nullptr && rscpmp->mbcInSbcs)) {
        o->active_major = remembered;
    } else {
        o->active_major = o->in_major;
        if (o->out_major == RSCPK_KOV16)
            remembered = o->in_major;
    }
}

// Hands the reason of an overflow to the invalidation and reorganises the
// cache, so that the next pass loads into fresh space.
uint32_t Invalidate(Activation& a, const char* reason)
{
    const int32_t len = int32_t(std::strlen(reason));
    uint32_t rc = a.writeHeld ? rscpict3_invalidate_convert_tables(0, 0, reason, len, a.mask)
                              : rscpict_invalidate_convert_tables_locked(0, 0, reason, len, a.mask);
    if (rc == 0)
        rc = Reorganise(a.mask);
    return rc;
}

// A load that found no room: reorganise the cache and try again, once per side.
uint32_t Overflow(Activation& a, int side, const char* cp, const char* usedCp)
{
    if (a.overflowed[side])
        return RSCPETOOLONG;
    a.overflowed[side] = true;
    char reason[80];
    const char* dir = side == 0 ? "input" : "output";
    if (rscpmp != nullptr && rscpmp->overflow == 2)
        std::snprintf(reason, sizeof reason, "CCCC seems damaged.");
    else if (usedCp != nullptr)
        std::snprintf(reason, sizeof reason, "Overflow. Loading %4.4s(%4.4s) for %s.", cp, usedCp, dir);
    else
        std::snprintf(reason, sizeof reason, "Overflow. Loading %4.4s for %s.", cp, dir);
    return Invalidate(a, reason);
}

// The pair filter's verdict on the object's pair: 0 ordinary tables, 1 no
// conversion needed, 2 its translation table (in a.f1Table); or an error.
int F1Decision(Activation& a, uint32_t* rc)
{
    rscpCObj_t* o = a.o;
    const int32_t use = o->enforce_f1;
    if (use < RSCPF1_ONLY || use > RSCPF1_CUSTOMIZABLE || !(a.input && a.output))
        return 0;
    const bool utf8 = Same(o->incode, "4110") || Same(o->outcode, "4110");
    uint32_t verdict = 0;
    if (!utf8) {
        // Only the enforcing use asks without similarities.
        const uint32_t similarity = use == RSCPF1_ENFORCE ? 0 : 1;
        verdict = rscpf1__check_pair(o->incode, o->outcode, &a.f1Table, &a.f1Name, similarity);
        // An incompatible pair (16) is never copied as it stands.
        if (verdict == RSCPF1_NO_TRANSLATION || verdict == RSCPF1_SIMILAR || verdict == RSCPF1_UNIFIED)
            return 1;
        if ((verdict & ~(RSCPF1_SIMILAR | RSCPF1_UNIFIED)) == RSCPF1_TABLE && a.f1Table != nullptr)
            return 2;
    }
    if (use != RSCPF1_ONLY)
        return 0;
    char arg[128];
    std::snprintf(arg, sizeof arg, "%4.4s&%4.4s&%s&%s&", o->incode, o->outcode, "F1",
                  utf8 ? "4110" : rscpf1__verdict_text(verdict));
    *rc = Err(RSCPEINVAL, a.mask, __LINE__, "F1 cannot handle pair", "CPR", arg, -1);
    return -1;
}

// Method "1B_to_1B" over the pair filter's table, loaded into the cache once.
// A full cache or list asks for another pass (*retry) after invalidation.
uint32_t UseF1Table(Activation& a, bool* retry)
{
    rscpCcc_t* c = rscpmp;
    const uint64_t key = rscpf1TableKey(a.f1Name);
    const uint32_t n = c->loadedF1Count < uint32_t(RSCP_F1_MAX) ? c->loadedF1Count : uint32_t(RSCP_F1_MAX);
    uint32_t offset = 0;
    for (uint32_t i = 0; i < n && offset == 0; ++i)
        if (c->f1List[i].key == key)
            offset = c->f1List[i].offset;
    char reason[96] = "";
    if (offset == 0) {
        const uint32_t rc = TakeWritePermission(a);
        if (rc != 0)
            return rc;
        if (n >= uint32_t(RSCP_F1_MAX))
            std::snprintf(reason, sizeof reason, "Too many F1 tabs. Loading %.40s.", a.f1Name);
        else if (rscpsc__store_cache07(a.f1Table, 256, &offset, nullptr) != 0)
            std::snprintf(reason, sizeof reason, "Overflow. Loading F1 tab %.40s.", a.f1Name);
        else
            c->f1List[c->loadedF1Count++] = rscpF1Loaded_t{key, offset};
    }
    if (offset != 0) {
        a.o->method = 12;
        a.o->ccci_f1_in_7 = offset;
        return RSCP_OK;
    }
    if (a.f1Overflowed)
        return RSCPETOOLONG;
    a.f1Overflowed = true;
    *retry = true;
    return Invalidate(a, reason);
}

uint32_t Loop(Activation& a)
{
    rscpCObj_t* o = a.o;
    for (int pass = 0; pass < 8; ++pass) {
        if (rscpmp == nullptr) {
            const uint32_t rc = Reorganise(a.mask);
            if (rc != 0)
                return rc;
            if (h_ccc_state != 2 || rscpmp == nullptr)
                return Err(RSCPENOCONV, a.mask, __LINE__, "CCC not proper initialized", "F34");
        }
        o->timestamp = rscpmp->reorgVersion;
        bool retry = false;
        if (a.f1Table != nullptr) {
            const uint32_t rc = UseF1Table(a, &retry);
            if (rc != 0 || !retry)
                return rc;
            continue;
        }
        for (int side = 0; side < 2 && !retry; ++side) {
            const bool input = side == 0;
            if (!(input ? a.input : a.output))
                continue;
            if (!input && o->use_1_subst) {
                const char note[] = "rscpCObj_t-->ccci_use_1_subst ignored.";
                rscpe_get_output_func(1)(note, int32_t(sizeof note - 1));
            }
            const bool other = input ? o->use_other_in : o->use_other_out;
            const char* cp = input ? (other ? o->used_incode : o->incode) : (other ? o->used_outcode : o->outcode);
            const uint32_t rc = LoadSide(a, input, cp);
            if (rc == RSCPETOOLONG) {
                const uint32_t r = Overflow(a, side, input ? o->incode : o->outcode, other ? cp : nullptr);
                if (r != 0)
                    return r;
                retry = true;
            } else if (rc == RSCPEROLLBACK) {
                Err(RSCPEROLLBACK, RSCP_ALL_ERRORS, __LINE__, "Tryed to ignore a rollback", "F26");
                a.mask = RSCP_ALL_ERRORS;
                if (a.overflowed[side])
                    return rc;
                a.overflowed[side] = true;
                retry = true;
            } else if (rc != 0) {
                return rc;
            }
        }
        if (retry)
            continue;
        if (!(a.input && a.output))
            return RSCP_OK;
        if (o->use_1_copy && o->subst_code != 0) {
            Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "Either subst or 1_copy", "F1B");
            o->use_c_subst = 0;
            o->use_1_subst = 0;
        }
        if (o->use_c_subst && o->subst_code == 0)
            o->subst_code = 35;
        bool again = false;
        uint32_t rc = ChooseMethod(a, &again);
        if (rc != 0)
            return rc;
        if (again)
            continue;
        if ((rc = Check2022(a)) != 0)
            return rc;
        SetActiveMajor(o);
        if (!ShortcutWanted(a))
            return RSCP_OK;
        rc = rscpT1Shortcut(o, Variant(o), TakeWritePermissionFor, &a);
        if (rc != RSCPETOOLONG)
            return rc;
        if (a.shortcutOverflowed)
            return rc;
        a.shortcutOverflowed = true;
        char reason[64];
        std::snprintf(reason, sizeof reason, "Overflow. Enter T1shortcut %4.4s->%4.4s.", o->incode, o->outcode);
        if ((rc = Invalidate(a, reason)) != 0)
            return rc;
    }
    return Err(RSCPEINTERN, a.mask, __LINE__, "activation does not settle", "F26");
}

uint32_t Release(Activation& a)
{
    const int32_t rc = a.writeHeld ? rscpReleaseWritePermissionAndSema(286) : rscprs__release_sema(150);
    a.writeHeld = false;
    return uint32_t(rc);
}

}  // namespace

uint32_t lookup_convert_tables(rscpCObj_t* o, uint8_t reset, uint8_t input, uint8_t output, uint32_t mask)
{
    if (mask != RSCP_ALL_ERRORS)
        std::fprintf(stderr, "rscpc(%d): p_errmask = %lx / h_errmask = %lx ?\n", 16173,
                     static_cast<unsigned long>(mask), 0xFFFFFFFFul);
    if (o == nullptr)
        return Err(RSCPEINVAL, mask, __LINE__, "missing converter object address", "F38");
    if (!input && !output)
        return Err(RSCPEINVAL, mask, __LINE__, "use rscpcpe_code_page_exists", "CP9", "rscpcpe_code_page_exists", -1,
                   "lookup_convert_tables", -1);
    Activation a{o, mask, reset != 0, input != 0, output != 0};

    // What a re-activation must not lose: the shift states and the count.
    const uint32_t runState = o->iso2022 & (RSCP_2022_IN_RUN | RSCP_2022_OUT_SHIFT);
    const uint32_t substCount = o->noof_subst;
    if (a.reset) {
        ClearInput(o);
        ClearOutput(o);
        o->iso2022 &= ~(RSCP_2022_IN_RUN | RSCP_2022_OUT_SHIFT);
        if (!o->ccci_explicit_langu) {
            o->ccci_langu = ' ';
            o->ccci_ambig_langu = 0;
        }
        if (!o->ccci_explicit_3rdCP)
            std::memcpy(o->ccci_3rdCP, "0000", 4);
    } else {
        if (a.input)
            ClearInput(o);
        if (a.output)
            ClearOutput(o);
    }

    if (a.input && a.output && !o->do_filter && Same(o->incode, o->outcode)) {
        o->method = RSCPMETH_DIRECT;
        return RSCP_OK;
    }
    if (h_ccc_state != 2 && h_ccc_state != 4 && h_ccc_state != 5)
        return Err(RSCPENOCONV, mask, __LINE__, "CCC not proper initialized", "F34");
    if (rscpmp == nullptr) {
        const uint32_t rc = Reorganise(mask);
        if (rc != 0)
            return rc;
    }
    if (h_ccc_state != 2 || rscpmp == nullptr)
        return Err(RSCPENOCONV, mask, __LINE__, "CCC not proper initialized", "F34");
    if (!o->ccci_explicit_langu)
        rscph_HookTable.Language(&o->ccci_langu);
    if (a.input && a.output && rscpShortcutManyConverters() && UnicodeShortcut(o))
        return RSCP_OK;

    const rscpActKey key = rscpActivationKey(o, rscpmp->reorgVersion);
    if (a.input && a.output && rscpActivationCacheGet(key, o)) {
        ++rscph_HookTable.ctl->activateHits;
        if (!a.reset) {
            o->iso2022 |= runState;
            o->noof_subst = substCount;
        }
        return RSCP_OK;
    }

    uint32_t f1rc = 0;
    const int f1 = F1Decision(a, &f1rc);
    if (f1 < 0)
        return f1rc;
    if (f1 == 1) {
        o->method = RSCPMETH_DIRECT;
        return RSCP_OK;
    }

    int32_t rc = rscpGetSema(28);
    if (rc != 0)
        return uint32_t(rc);
    uint32_t attachState = 0;
    rscpra__register_attach_address(2, 1, &attachState);
    if (rscpmp->overflow != 0) {
        Release(a);
        return Err(RSCPEINTERN, mask, __LINE__, "'overflow' still not solved", "CQ4", "overflow&TRUE&&&&", -1);
    }
    uint32_t result = Loop(a);
    if (a.rememberedMethod >= 0 && result == 0)
        o->method = a.rememberedMethod;
    const uint32_t released = Release(a);
    if (result == 0)
        result = released;
    if (result == 0)
        ++rscph_HookTable.ctl->createObjects;
    if (!a.reset) {
        o->iso2022 |= runState;
        o->noof_subst = substCount;
    }
    if (result == 0 && a.input && a.output && !LanguageMethod(o->method) && rscpmp != nullptr)
        rscpActivationCachePut(rscpActivationKey(o, rscpmp->reorgVersion), o, rscpmp->reorgVersion);
    return result;
}

uint32_t rscpCLoadSideSpace(rscpCObj_t* obj, bool input, const char* cp, uint8_t* writeTaken, uint32_t mask)
{
    if (obj == nullptr || cp == nullptr)
        return Err(RSCPEINVAL, mask, __LINE__, "missing converter object address", "F38");
    // The loader fills a whole side; it works on a copy out of any shift
    // state, so that the object keeps its tables, method and state.
    rscpCObj_t side = *obj;
    side.iso2022 &= ~(RSCP_2022_IN_SHIFT | RSCP_2022_OUT_SHIFT);
    Activation a{&side, mask, false, input, !input};
    const uint32_t rc = LoadSide(a, input, cp);
    if (writeTaken != nullptr)
        *writeTaken = a.writeHeld ? 1 : 0;
    if (rc != 0)
        return rc;
    if (input) {
        std::memcpy(obj->in_space, side.in_space, 4);
        obj->in_space_len = side.in_space_len;
    } else {
        std::memcpy(obj->out_space, side.out_space, 4);
        obj->out_space_len = side.out_space_len;
    }
    return RSCP_OK;
}

uint32_t rscpCActivate(rscpCObj_t* obj)
{
    return lookup_convert_tables(obj, 1, 1, 1, RSCP_ALL_ERRORS);
}

uint32_t rscpCActivateSides(rscpCObj_t* obj, uint8_t reset, uint8_t input, uint8_t output, uint32_t mask)
{
    return lookup_convert_tables(obj, reset != 0, input != 0, output != 0, mask);
}

uint32_t rscpCInitSubstActivate(rscpCObj_t* obj, const char* incode, const char* outcode, uint32_t substCharNo,
                                uint8_t oneSubst, uint8_t allowBytes, uint32_t mask)
{
    if (obj == nullptr)
        return Err(RSCPEINVAL, mask, __LINE__, "missing converter object address", "F38");
    const uint32_t rc = rscpCInit(obj, incode, outcode, RSCPMISS_SUBSTITUTE, 0, 0);
    if (rc != 0)
        return rc;
    if (substCharNo != 0) {
        obj->subst_code = uint16_t(substCharNo);
        obj->subst_code_U4 = rscpCharNoToUnicode(substCharNo);
    }
    obj->use_c_subst = 1;
    obj->use_1_subst = oneSubst != 0;
    obj->allow_bytes = allowBytes != 0;
    obj->use_1_copy = 0;
    obj->noof_subst = 0;
    obj->ownCh = RSCPOWN_TRY;
    return lookup_convert_tables(obj, 1, 1, 1, mask);
}

uint32_t rscpCReactivateIfNeeded(rscpCObj_t* obj)
{
    if (obj == nullptr)
        return Err(RSCPEINVAL, RSCP_ALL_ERRORS, __LINE__, "missing converter object address", "F38");
    uint32_t rc = RSCP_OK;
    if (!obj->out_set) {
        const int32_t method = obj->method;
        rc = lookup_convert_tables(obj, 0, 0, 1, RSCP_ALL_ERRORS);
        if (rc != 0)
            return rc;
        if (TablelessMethod(method))
            obj->method = method;
    }
    if (rscpmp == nullptr || obj->timestamp != rscpmp->reorgVersion) {
        rc = Reorganise(RSCP_ALL_ERRORS);
        if (rc == 0)
            rc = lookup_convert_tables(obj, 0, obj->in_no != 0, 1, RSCP_ALL_ERRORS);
        if (rc != 0)
            return rc;
    }
    if (obj->out_no == 0)
        return Err(RSCPENOCONV, RSCP_ALL_ERRORS, __LINE__, "missing char code param", "F38");
    return rc;
}
