// Converter objects: the template, initialisation, the option setters and
// accessors, the option texts and the dump.
#include "krn/rscp/cpobject.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kModule[] = "@(#) $Id: rscpc#1 $";

constexpr rscpCObj_t MakeTemplate()
{
    rscpCObj_t t{};
    for (int i = 0; i < 4; ++i) {
        t.incode[i] = t.outcode[i] = t.ccci_3rdCP[i] = t.used_incode[i] = t.used_outcode[i] = '0';
    }
    t.subst_code = 35;
    t.subst_code_U4 = 35;
    t.on_drop = RSCPDROP_LIKE_MISS;
    t.ownCh = RSCPOWN_TRY;
    t.ccci_langu = ' ';
    return t;
}

constexpr rscpCObj_t kTemplate = MakeTemplate();

bool Activated(const rscpCObj_t* o)
{
    return o->method >= RSCPMETH_DIRECT && o->method <= RSCPMETH_LAST;
}

uint32_t Pack(const char* cp)
{
    return static_cast<uint32_t>(static_cast<unsigned char>(cp[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(cp[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(cp[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(cp[3])) << 24;
}

// ---- dump ------------------------------------------------------------------

struct Line {
    std::string key;  // identifies the line across two objects
    std::string text;
};

const char* Bool(uint8_t b)
{
    return b ? "TRUE" : "false";
}

void Add(std::vector<Line>* out, const char* label, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
void Add(std::vector<Line>* out, const char* label, const char* fmt, ...)
{
    char value[96];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(value, sizeof value, fmt, ap);
    va_end(ap);
    char line[128];
    std::snprintf(line, sizeof line, "|%-20s%s", label, value);
    out->push_back({label, line});
}

void AddKind(std::vector<Line>* out, const char* label, uint32_t kind, int32_t level)
{
    Add(out, label, "%u", kind);
    if (level >= 3) {
        char line[96];
        std::snprintf(line, sizeof line, "|%20s%s", "", rscpNlsKindText(static_cast<int32_t>(kind)));
        out->push_back({std::string(label) + ".name", line});
    }
}

// The lines of a dump at level 1 to 4; all set forces the lines that level 1
// shows only when set (for the comparison of two objects).
std::vector<Line> DumpLines(const rscpCObj_t* o, int32_t level, bool all)
{
    std::vector<Line> v;
    Add(&v, "method", "%02d   %s", o->method, rscpMethodText(o->method));
    if (level >= 2)
        Add(&v, "timestamp", "%u", o->timestamp);
    const bool langu = all || level >= 3;
    if (langu || o->ccci_langu != ' ')
        Add(&v, "ccci_langu", "'%c'", o->ccci_langu);
    if (langu || o->ccci_explicit_langu)
        Add(&v, "ccci_explicit_langu", "%s", Bool(o->ccci_explicit_langu));
    if (langu || o->ccci_ambig_langu)
        Add(&v, "ccci_ambig_langu", "%s", Bool(o->ccci_ambig_langu));
    if (langu || o->ccci_explicit_3rdCP)
        Add(&v, "ccci_explicit_3rdCP", "%s", Bool(o->ccci_explicit_3rdCP));
    if (langu || std::memcmp(o->ccci_3rdCP, "0000", 4) != 0)
        Add(&v, "ccci_3rdCP", "%.4s", o->ccci_3rdCP);
    Add(&v, "incode", "%.4s", o->incode);
    if (level >= 2) {
        Add(&v, "in_set", "%s", Bool(o->in_set));
        Add(&v, "in_no", "%u", o->in_no);
        AddKind(&v, "in_major", o->in_major, level);
        Add(&v, "in_minor", "%u", o->in_minor);
        Add(&v, "in_ambiguous", "%s", Bool(o->in_ambiguous));
        Add(&v, "in_maxln", "%u", o->in_maxln);
        AddKind(&v, "active_major", o->active_major, level);
        AddKind(&v, "langu_dep_in_major", o->langu_dep_in_major, level);
        Add(&v, "use_other_in", "%s", Bool(o->use_other_in));
        Add(&v, "used_incode", "%.4s", o->used_incode);
    }
    if (level >= 4)
        Add(&v, "in_space", "(%d) %02x %02x %02x %02x", o->in_space_len, o->in_space[0], o->in_space[1], o->in_space[2],
            o->in_space[3]);
    if (all || level >= 2 || std::memcmp(o->outcode, "0000", 4) != 0)
        Add(&v, "outcode", "%.4s", o->outcode);
    if (all || level >= 2 || o->iso2022 != 0)
        Add(&v, "iso2022", "0x%07x", o->iso2022);
    if (level >= 2) {
        Add(&v, "out_set", "%s", Bool(o->out_set));
        Add(&v, "out_no", "%u", o->out_no);
        AddKind(&v, "out_major", o->out_major, level);
        Add(&v, "out_minor", "%u", o->out_minor);
        Add(&v, "out_ambiguous", "%s", Bool(o->out_ambiguous));
        Add(&v, "out_maxln", "%u", o->out_maxln);
        Add(&v, "use_other_out", "%s", Bool(o->use_other_out));
        Add(&v, "used_outcode", "%.4s", o->used_outcode);
        Add(&v, "ccci_f1_in_7", "%u", o->ccci_f1_in_7);
    }
    if (level >= 4)
        Add(&v, "out_space", "(%d) %02x %02x %02x %02x", o->out_space_len, o->out_space[0], o->out_space[1],
            o->out_space[2], o->out_space[3]);
    Add(&v, "use_c_subst", "%s", Bool(o->use_c_subst));
    if (level >= 3) {
        Add(&v, "use_1_subst", "%s", Bool(o->use_1_subst));
        Add(&v, "use_n_subst", "%s", Bool(o->use_n_subst));
    }
    Add(&v, "use_1_copy", "%s", Bool(o->use_1_copy));
    Add(&v, "subst_code", "%u", o->subst_code);
    Add(&v, "subst_code_U4", "U+%04X", o->subst_code_U4);
    Add(&v, "noof_subst", "%u", o->noof_subst);
    Add(&v, "allow_bytes", "%s", Bool(o->allow_bytes));
    Add(&v, "allow_columns", "%s", Bool(o->allow_columns));
    Add(&v, "rscpbroken", "%s", rscpBrokenText(static_cast<int32_t>(o->broken)));
    Add(&v, "rscpfill", "%s", rscpFillText(static_cast<int32_t>(o->fill_rest)));
    Add(&v, "do_filter", "%s", Bool(o->do_filter));
    Add(&v, "useF1", "%s", rscpUseF1Text(o->enforce_f1));
    Add(&v, "drop", "%s", rscpDropText(o->on_drop));
    Add(&v, "rscpCtrlCodeCv", "%s", rscpCtrlCodeCvText(o->ctrlcodes));
    Add(&v, "rscpKOVOwnChCv", "%s", rscpOwnChCvText(o->ownCh));
    return v;
}

void Write(rscpLineWriter writer, const std::string& s)
{
    writer(s.c_str(), static_cast<int32_t>(s.size()));
}

const std::string kSeparator(21, '-');

}  // namespace

// ---- life ---------------------------------------------------------------------

uint32_t rscpCInit(rscpCObj_t* obj, const char* incode, const char* outcode, int32_t miss, int32_t broken, int32_t fill)
{
    const uint32_t rc = rscpi_init_just_in_case("rscpCInit");
    if (obj == nullptr || incode == nullptr || outcode == nullptr)
        return rscpe__error(RSCPEINVAL, 'C', RSCP_ALL_ERRORS, kModule, 1, __LINE__,
                            obj == nullptr ? "missing converter object address" : "missing code page", "F38",
                            "rscpCInit", -1, nullptr, 0);
    *obj = kTemplate;
    std::memcpy(obj->incode, incode, 4);
    std::memcpy(obj->outcode, outcode, 4);
    rscpCSetMiss(obj, miss);
    obj->broken = static_cast<uint32_t>(broken);
    obj->fill_rest = static_cast<uint32_t>(fill);
    obj->do_filter = 0;
    obj->enforce_f1 = RSCPF1_NOT;
    obj->on_drop = RSCPDROP_LIKE_MISS;
    obj->ctrlcodes = RSCPCTRL_ILLEGAL;
    obj->ownCh = RSCPOWN_TRY;
    return rc;
}

uint32_t rscpCDecodeU4(const rscpCObj_t*, uint32_t*, const char**, const char*)
{
    char text[64];
    std::snprintf(text, sizeof text, "Not implemented: \"%s\"", "rscpCDecodeU4");
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
    return rscpe__error(RSCPEINTERN, 'C', RSCP_ALL_ERRORS, kModule, 2, __LINE__, text, "F4C", nullptr, 0, nullptr, 0);
}

void rscpCDump(const rscpCObj_t* obj, rscpLineWriter writer, int32_t level)
{
    rscpCDumpDiff(obj, writer, level, nullptr);
}

void rscpCDumpDiff(const rscpCObj_t* obj, rscpLineWriter writer, int32_t level, const rscpCObj_t* other)
{
    if (writer == nullptr)
        return;
    Write(writer, kSeparator);
    if (obj == nullptr || level <= 0) {
        Write(writer, "| The contents of a rscpCObj_t is privat.");
    } else if (level == 21) {
        char line[80];
        std::snprintf(line, sizeof line, "|method         %02d   %s", obj->method, rscpMethodText(obj->method));
        if (other == nullptr || other == obj || obj->method != other->method)
            Write(writer, line);
    } else if (other == nullptr || other == obj) {
        for (const Line& l : DumpLines(obj, level, false))
            Write(writer, l.text);
    } else {
        const std::vector<Line> mine = DumpLines(obj, level, true), theirs = DumpLines(other, level, true);
        for (std::size_t i = 0; i < mine.size(); ++i)
            if (mine[i].text != theirs[i].text)
                Write(writer, mine[i].text);
    }
    Write(writer, kSeparator);
}

// ---- setters and accessors ----------------------------------------------------

uint32_t rscpCSetMiss(rscpCObj_t* o, int32_t miss)
{
    switch (miss) {
    case RSCPMISS_STOP:
        o->use_c_subst = 0;
        o->use_1_subst = 0;
        o->use_1_copy = 0;
        break;
    case RSCPMISS_SUBSTITUTE:
        o->use_c_subst = 1;
        o->use_1_subst = 0;
        o->use_1_copy = 0;
        break;
    case RSCPMISS_TRY:
        o->use_c_subst = 1;
        o->use_1_subst = 0;
        o->use_1_copy = 1;
        break;
    case RSCPMISS_COPY:
        o->use_c_subst = 0;
        o->use_1_subst = 0;
        o->use_1_copy = 1;
        break;
    default:
        break;
    }
    return 0;
}

uint32_t rscpCSetMissBroken(rscpCObj_t* o, int32_t miss, int32_t broken)
{
    rscpCSetMiss(o, miss);
    o->broken = static_cast<uint32_t>(broken);
    return 0;
}

uint32_t rscpCGetNoOfSubst(const rscpCObj_t* o)
{
    return o->noof_subst;
}
void rscpCResetNoOfSubst(rscpCObj_t* o)
{
    o->noof_subst = 0;
}
uint32_t rscpCGetFillRest(const rscpCObj_t* o)
{
    return o->fill_rest;
}
uint32_t rscpCSetFillRest(rscpCObj_t* o, int32_t fill)
{
    o->fill_rest = static_cast<uint32_t>(fill);
    return 0;
}

uint32_t rscpCSetLangu(rscpCObj_t* o, const char* langu)
{
    if (*langu != o->ccci_langu) {
        o->timestamp = 0;
        o->ccci_langu = *langu;
    }
    o->ccci_explicit_langu = 1;
    o->ccci_ambig_langu = 0;
    return 0;
}

uint32_t rscpCClearLangu(rscpCObj_t* o)
{
    o->ccci_explicit_langu = 0;
    o->ccci_ambig_langu = 0;
    return 0;
}

uint32_t rscpCSet3rdCP(rscpCObj_t* o, const char* cp)
{
    if (std::memcmp(cp, o->ccci_3rdCP, 4) != 0) {
        o->timestamp = 0;
        std::memcpy(o->ccci_3rdCP, cp, 4);
    }
    o->ccci_explicit_3rdCP = 1;
    return 0;
}

uint32_t rscpCClear3rdCP(rscpCObj_t* o)
{
    o->ccci_explicit_3rdCP = 0;
    return 0;
}

uint32_t rscpCDeactivate(rscpCObj_t* o)
{
    o->method = RSCPMETH_DEACTIVATED;
    return 0;
}

uint32_t rscpCSetDoFilter(rscpCObj_t* o, int32_t v)
{
    o->do_filter = static_cast<uint8_t>(v);
    return 0;
}

uint32_t rscpCSetEnforceF1(rscpCObj_t* o, int32_t v)
{
    o->enforce_f1 = v;
    return 0;
}

int32_t rscpCGetEnforceF1(const rscpCObj_t* o)
{
    return o != nullptr ? o->enforce_f1 : 0;
}

uint32_t rscpCSetCtrlCodes(rscpCObj_t* o, int32_t v)
{
    o->ctrlcodes = v;
    return 0;
}

uint32_t rscpCSetOwnCh(rscpCObj_t* o, int32_t v)
{
    o->ownCh = v;
    return 0;
}

uint32_t rscpCSetOnDrop(rscpCObj_t* o, int32_t v)
{
    o->on_drop = v;
    return 0;
}

uint32_t rscpCSetSubstCodeU4(rscpCObj_t* o, uint32_t cp)
{
    o->subst_code_U4 = cp;
    o->subst_code = rscpUnicodeToCharNoQuiet(cp);
    return 0;
}

uint32_t rscpCSetSubstU4(rscpCObj_t* o, uint32_t cp)
{
    o->use_c_subst = 1;
    return rscpCSetSubstCodeU4(o, cp);
}

uint32_t rscpCSetUseF1(rscpCObj_t* o, int32_t v)
{
    return rscpCSetEnforceF1(o, v);
}
uint32_t rscpCSetCtrlCodeCv(rscpCObj_t* o, int32_t v)
{
    return rscpCSetCtrlCodes(o, v);
}
uint32_t rscpCSetKOVOwnChCv(rscpCObj_t* o, int32_t v)
{
    return rscpCSetOwnCh(o, v);
}
uint32_t rscpCSetDrop(rscpCObj_t* o, int32_t v)
{
    return rscpCSetOnDrop(o, v);
}
uint32_t rscpCSetFilter(rscpCObj_t* o, uint8_t flag)
{
    return rscpCSetDoFilter(o, flag);
}
uint32_t rscpCPreSetSubstU4(rscpCObj_t* o, uint32_t cp)
{
    return rscpCSetSubstCodeU4(o, cp);
}
uint32_t rscpCRelease(rscpCObj_t* o)
{
    return rscpCDeactivate(o);
}

uint32_t rscpCGetIncode(const rscpCObj_t* o)
{
    return Pack(o->incode);
}
uint32_t rscpCGetOutcode(const rscpCObj_t* o)
{
    return Pack(o->outcode);
}
uint32_t rscpCGetActiveIncode(const rscpCObj_t* o)
{
    return Pack(Activated(o) ? o->incode : "0000");
}
uint32_t rscpCGetActiveOutcode(const rscpCObj_t* o)
{
    return Pack(Activated(o) ? o->outcode : "0000");
}

void rscpCSave2022State(const rscpCObj_t* o, rscpC2022Snapshot* s)
{
    s->timestamp = o->timestamp;
    s->state = (s->state & ~RSCP_2022_STATE) | (o->iso2022 & RSCP_2022_STATE);
}

int32_t rscpCSame2022State(const rscpCObj_t* o, const rscpC2022Snapshot* s)
{
    return s->timestamp == o->timestamp && (s->state & RSCP_2022_STATE) == (o->iso2022 & RSCP_2022_STATE);
}

void rscpCClearRunState(rscpCObj_t* o)
{
    o->iso2022 &= ~(RSCP_2022_IN_RUN | RSCP_2022_OUT_SHIFT);
    o->noof_subst = 0;
}

rscpCtlRecord_t* rscpCccRecordAddCount(const void*, uint32_t amount)
{
    rscpCtlRecord_t* ctl = rscph_HookTable.ctl;
    if (amount != 0)
        ctl->userCount += amount;
    return ctl;
}
