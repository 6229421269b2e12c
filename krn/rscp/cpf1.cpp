// The code page pair filter: finds both code pages in the attribute rows
// (linear scans ended by a sentinel row), then decides from an exception
// list, the matrix of the character set, the compatible character-set pairs
// or the unification groups of blended character sets.
#include "krn/rscp/cpf1.h"

#include <cstdlib>
#include <cstring>

#include "krn/rscp/cpnodb.h"
#include "nls/kovstr.h"

namespace {

bool g_initialised = false;
int g_cursor = RSCPF1_ROWS;  // the sentinel until the first walk
int g_filterOff = -1;        // -1 until NLS_F1_FILTER_OFF was read

rscpf1Row& Sentinel()
{
    return rscpf1Rows[RSCPF1_ROWS];
}

// Four characters in ASCII digits (EBCDIC digits turned into ASCII).
void AsciiDigits(char* out, const char* cp)
{
    std::memcpy(out, cp, 4);
    rscpEbcdicDigitsToAscii(out);
}

bool IsTable(uint64_t v)
{
    return v != 0 && v != 8 && v != 16 && v != 32;
}

// Turns a tagged table into its address and maps its unset bytes onto
// themselves.
void PrepareTable(uint64_t* value)
{
    if (*value >= RSCPF1_TABLE_TAG && *value < RSCPF1_TABLE_TAG + rscpf1TableCount) {
        uint8_t* t = rscpf1Tables[*value - RSCPF1_TABLE_TAG];
        *value = reinterpret_cast<uint64_t>(t);
    }
    if (!IsTable(*value))
        return;
    uint8_t* t = reinterpret_cast<uint8_t*>(*value);
    for (int i = 1; i < 256; ++i)
        if (t[i] == 0)
            t[i] = static_cast<uint8_t>(i);
}

// The row of a code page: 0 allowed, 1 not listed (the sentinel), 2 not allowed.
uint32_t Find(const char* cp, rscpf1Row** row, bool filterOff)
{
    std::memcpy(Sentinel().cp, cp, 4);
    rscpf1Row* r = rscpf1Rows;
    while (std::memcmp(r->cp, cp, 4) != 0)
        ++r;
    if (row != nullptr)
        *row = r;
    if (r == &Sentinel())
        return 1;
    if (filterOff) {
        if (r->manufacturer == 13)
            r->manufacturer = 2;
        else if (r->manufacturer == 14)
            r->manufacturer = 5;
    }
    return r->status == 1 ? 0 : 2;
}

void InitIfNeeded()
{
    if (!g_initialised)
        rscpf1__init();
}

// The verdict of a cell.
uint32_t Evaluate(const rscpf1Cell& cell, uint32_t base, const uint8_t** table, const char** description)
{
    switch (cell.value) {
    case 0:
        return base;
    case 8:
        return RSCPF1_NOT_SURE;
    case 16:
        return RSCPF1_MULTIBYTE;
    case 32:
        return RSCPF1_NO_TRANSLATION;
    default:
        if (table != nullptr)
            *table = reinterpret_cast<const uint8_t*>(cell.value);
        if (description != nullptr)
            *description = cell.description;
        return base + RSCPF1_TABLE;
    }
}

bool Compatible(uint32_t s, uint32_t t)
{
    for (uint32_t i = 0; i < rscpf1CompatiblePairCount; ++i)
        if (rscpf1CompatiblePairs[i][0] == s && rscpf1CompatiblePairs[i][1] == t)
            return true;
    return false;
}

rscpf1Cell* Cell(rscpf1Cell* matrix, uint32_t md, uint32_t mt)
{
    return matrix == nullptr || md >= RSCPF1_MANUFACTURERS || mt >= RSCPF1_MANUFACTURERS
               ? nullptr
               : &matrix[md * RSCPF1_MANUFACTURERS + mt];
}

rscpf1Cell* MatrixOf(uint32_t charset)
{
    return charset < RSCPF1_CHARSETS ? rscpf1Matrices[charset] : nullptr;
}

const char* Formatted(char (&buffer)[50], const char* what, uint32_t v)
{
    snprintfTruncR(buffer, sizeof buffer, "rscpf1: %s %d", what, static_cast<int>(v));
    return buffer;
}

}  // namespace

void rscpf1__init()
{
    for (rscpf1Cell* m : rscpf1Matrices)
        for (int i = 0; m != nullptr && i < RSCPF1_MANUFACTURERS * RSCPF1_MANUFACTURERS; ++i)
            PrepareTable(&m[i].value);
    if (rscpf1Rows[0].charset != 28)
        for (rscpf1Row* r = rscpf1Rows; r != &Sentinel(); ++r)
            for (rscpf1Exception* e = r->exceptions; e != nullptr; e = e->next)
                PrepareTable(&e->value);
    for (rscpf1Row& r : rscpf1Rows)
        for (rscpf1Exception* e = r.exceptions; e != nullptr; e = e->next)
            if (e->row == nullptr) {
                rscpf1Row* dst = nullptr;
                if (rscpf1__find_codepage(e->cp, &dst) == 0)
                    e->row = dst;
            }
    g_initialised = true;
    const char* stop = std::getenv("NLS_F1_STOP_UTF8");
    if (stop != nullptr && stop[0] != '0')
        rscpf1__stop_codepage("4110");
}

uint32_t rscpf1__find_codepage(const char* cp, rscpf1Row** row)
{
    if (g_filterOff < 0) {
        const char* off = std::getenv("NLS_F1_FILTER_OFF");
        g_filterOff = off != nullptr && off[0] != '\0' && std::strcmp(off, "0") != 0 ? 1 : 0;
    }
    return Find(cp, row, g_filterOff == 1);
}

uint32_t rscpf1__get_codepage_info(const char* cp, rscpf1Row* out)
{
    rscpf1Row* r = nullptr;
    const uint32_t rc = Find(cp, &r, false);
    if (out != nullptr) {
        *out = *r;
        if (out->manufacturer == 13)
            out->manufacturer = 2;
        else if (out->manufacturer == 14)
            out->manufacturer = 5;
    }
    return rc;
}

rscpf1Row* rscpf1__first_codepage()
{
    InitIfNeeded();
    for (g_cursor = 0; g_cursor < RSCPF1_ROWS; ++g_cursor)
        if (rscpf1Rows[g_cursor].status != 0)
            return &rscpf1Rows[g_cursor];
    return nullptr;
}

rscpf1Row* rscpf1__next_codepage()
{
    while (g_cursor < RSCPF1_ROWS) {
        ++g_cursor;
        if (g_cursor < RSCPF1_ROWS && rscpf1Rows[g_cursor].status != 0)
            return rscpf1Rows[g_cursor].status == 1 ? &rscpf1Rows[g_cursor] : nullptr;
    }
    return nullptr;
}

void rscpf1__stop_codepage(const char* cp)
{
    InitIfNeeded();
    char ascii[4];
    AsciiDigits(ascii, cp);
    rscpf1Row* r = nullptr;
    rscpf1__find_codepage(ascii, &r);
    r->status = 0;
}

uint32_t rscpf1__check_pair(const char* source, const char* destination, const uint8_t** table,
                            const char** description, uint32_t similarity)
{
    InitIfNeeded();
    char src[4], dst[4];
    AsciiDigits(src, source);
    AsciiDigits(dst, destination);
    rscpf1Row *rd = nullptr, *rs = nullptr;
    const uint32_t d = rscpf1__find_codepage(dst, &rd);
    const uint32_t s = rscpf1__find_codepage(src, &rs);
    if (s + 4 * d != 0)
        return s + 4 * d;

    for (const rscpf1Exception* e = rs->exceptions; e != nullptr; e = e->next)
        if (e->row == rd)
            return Evaluate(rscpf1Cell{e->value, e->description}, 0, table, description);

    const uint32_t cs = rs->charset, md = rs->manufacturer, ct = rd->charset, mt = rd->manufacturer;
    const rscpf1Cell* cell = nullptr;
    uint32_t base = 0;
    if (cs == 11 || ct == 11) {
        cell = Cell(rscpf1UnicodeMatrix, md, mt);
    } else if (cs == ct || Compatible(cs, ct)) {
        if (md == mt)
            return RSCPF1_NO_TRANSLATION;
        cell = Cell(MatrixOf(cs == ct ? cs : ct), md, mt);
    } else {
        if (similarity == 0)
            return RSCPF1_INCOMPATIBLE;
        const rscpf1Unification none{0, {}};
        const rscpf1Unification& us = cs < RSCPF1_CHARSETS ? rscpf1Unifications[cs] : none;
        const rscpf1Unification& ut = ct < RSCPF1_CHARSETS ? rscpf1Unifications[ct] : none;
        int64_t common = -1;
        if (us.count > 1 || ut.count > 1)
            for (int i = int(us.count > 5 ? 5 : us.count) - 1; i >= 0 && common < 0; --i)
                for (int j = int(ut.count > 5 ? 5 : ut.count) - 1; j >= 0 && common < 0; --j)
                    if (us.group[i] == ut.group[j])
                        common = us.group[i];
        base = common >= 0 ? RSCPF1_UNIFIED : RSCPF1_SIMILAR;
        if (md == mt)
            return base;
        cell = Cell(MatrixOf(common >= 0 ? uint32_t(common) : (md < mt ? cs : ct)), md, mt);
        if (cell == nullptr || cell->value == 8)
            cell = Cell(MatrixOf(md > mt ? cs : ct), md, mt);
    }
    return cell == nullptr ? RSCPF1_NOT_SURE : Evaluate(*cell, base, table, description);
}

uint32_t rscpf1_check_codepage_pair(const char* source, const char* destination, const uint8_t** table,
                                    const char** description)
{
    return rscpf1__check_pair(source, destination, table, description, 1) & ~(RSCPF1_SIMILAR | RSCPF1_UNIFIED);
}

uint32_t rscpfsp_stop_codepage_pair(const char* source, const char* destination)
{
    InitIfNeeded();
    char src[4], dst[4];
    AsciiDigits(src, source);
    AsciiDigits(dst, destination);
    rscpf1Row *rd = nullptr, *rs = nullptr;
    uint32_t rc = rscpf1__find_codepage(dst, &rd);
    if (rc != 0)
        return rc;
    if ((rc = rscpf1__find_codepage(src, &rs)) != 0)
        return rc;
    const uint32_t cs = rs->charset, md = rs->manufacturer, ct = rd->charset, mt = rd->manufacturer;
    rscpf1Cell* cell = nullptr;
    if (cs == 11 || ct == 11)
        cell = Cell(rscpf1UnicodeMatrix, md, mt);
    else if (cs == ct && md != mt)
        cell = Cell(MatrixOf(cs), md, mt);
    if (cell != nullptr && cell->value != 8) {
        cell->value = 8;
        cell->description = "Removed by rscpfsp_stop_codepage_pair()";
    }
    return 0;
}

uint32_t rscpf1__pair_compatible(const char* a, const char* b)
{
    if (std::memcmp(a, b, 4) == 0)
        return 0;
    rscpf1Row *ra = nullptr, *rb = nullptr;
    if (rscpf1__find_codepage(a, &ra) != 0)
        return 2;
    const uint32_t manufacturer = ra->manufacturer;
    if (rscpf1__find_codepage(b, &rb) != 0)
        return 2;
    if (manufacturer == rb->manufacturer)
        return 0;
    const uint32_t v = rscpf1__check_pair(a, b, nullptr, nullptr, 1) & ~(RSCPF1_SIMILAR | RSCPF1_UNIFIED);
    return v == RSCPF1_NO_TRANSLATION || v == RSCPF1_INCOMPATIBLE || v == RSCPF1_MULTIBYTE ? 0 : 1;
}

const char* rscpf1__manufacturer_name(uint32_t v)
{
    static const char* const t[] = {"7 Bit ASCII",
                                    "english EBCDIC",
                                    "ISO 8859-x",
                                    "EBCDIC like M/5 on IBM",
                                    "AS/400",
                                    "Microsoft",
                                    "Apple",
                                    "IBM (PC)",
                                    "UCS-2",
                                    "UTF-8",
                                    "UCS-4",
                                    "UTF-16",
                                    "UTF-7",
                                    "slightly modified ISO 8859-x",
                                    "slightly modified Microsoft"};
    static char buffer[50];
    return v < 15 ? t[v] : Formatted(buffer, "manufacturer", v);
}

const char* rscpf1__charset_name(uint32_t v)
{
    static const char* const t[] = {"Western Europe & America",
                                    "Eastern Europe",
                                    "Turkish",
                                    "Hebrew",
                                    "Greece",
                                    "Cyrillic",
                                    "Japnese",
                                    "Chinese (GBK)",
                                    "Chinese(Taiwan,Big5)",
                                    "Korean",
                                    "Thailand",
                                    "Unicode",
                                    "kovunif",
                                    "eurojapan",
                                    "asianunif_c",
                                    "asianunif_t",
                                    "asianunif_k",
                                    "asianunif",
                                    "diocletian",
                                    "nagamasa",
                                    "silkroad",
                                    "transsibir",
                                    "Northern Europe",
                                    "Arabic",
                                    nullptr,
                                    "Eastern Europe in L1",
                                    "Western Europe& East",
                                    "Chinese (GB)"};
    static char buffer[50];
    return v < 28 && t[v] != nullptr ? t[v] : Formatted(buffer, "character set", v);
}

const char* rscpf1__verdict_text(uint32_t v)
{
    switch (v) {
    case 0:
        return "no codepage translation needed";
    case 1:
        return "source codepage unknown";
    case 2:
        return "source codepage disallowed";
    case 4:
        return "destination codepage unknown";
    case 5:
        return "both codepages unknown";
    case 6:
        return "source codepage disallowed and destination unknown";
    case 8:
        return "destination codepage disallowed";
    case 9:
        return "source codepage unknown and destination disallowed";
    case 10:
        return "both codepages disallowed";
    case 11:
        return "rscpf1 is not sure";
    case 16:
        return "codepages are not compatible";
    case 17:
        return "codepages need table translation";
    case 19:
        return "codepages need multibyte translation";
    case 32:
        return "somewhat simmilar; do nothing";
    case 49:
        return "table translation will be half-hearted";
    case 64:
        return "simmilar by unification; do nothing";
    case 81:
        return "table translation and than simmilar by unification";
    default: {
        static char buffer[50];
        return Formatted(buffer, "error code", v);
    }
    }
}

uint64_t rscpf1TableKey(const char* d)
{
    uint64_t key = 0;
    if (d == nullptr)
        return 0;
    if (d[0] == 't' && d[1] == '_')
        d += 2;
    for (int nibbles = 0; nibbles < 16; ++nibbles) {
        if (*d >= '0' && *d <= '9') {
            key = key << 4 | uint64_t(*d - '0');
            ++d;
        } else if (std::strncmp(d, "_to_", 4) == 0) {
            key = key << 4 | 11u;
            d += 4;
        } else {
            break;
        }
    }
    return key;
}
