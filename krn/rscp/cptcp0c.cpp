// Reader of the text dump of the locale table ("TCP0C.DAT"): a header line
// that names the field delimiter, then lines of seven delimited fields
// (platform, language, country, modifier, code page, an unused field, locale
// name), filtered by the values given when the file is opened.
#include <cstdio>
#include <cstring>

#include "krn/rscp/cpstore.h"

namespace {

constexpr int kLineBuf = 498;  // a line of up to 497 characters and its newline
constexpr int kFields = 7;
constexpr int kTailBlanks = 26;

struct Filter {
    bool on;
    char value[32];
};

struct Reader {
    FILE* file;
    char delim[2];
    int lineNo;
    int delivered;
    Filter platform;   // at most 16 characters
    Filter languages;  // at most 30
    Filter country;    // at most 3
    Filter modifier;   // at most 16
    char line[kLineBuf];
    char copy[kLineBuf];
};

Reader g_reader;
const char kNoField[] = "";

// Stores a filter value; false when it is longer than limit.
bool SetFilter(Filter* f, const char* value, std::size_t limit)
{
    if (value == nullptr) {
        f->on = false;
        return true;
    }
    const std::size_t n = std::strlen(value);
    if (n > limit)
        return false;
    std::memcpy(f->value, value, n + 1);
    f->on = true;
    return true;
}

void CutNewline(char* s)
{
    const std::size_t n = std::strlen(s);
    if (n > 0 && s[n - 1] == '\n')
        s[n - 1] = '\0';
}

bool FieldMatches(const Filter& f, const char* field)
{
    return !f.on || (field != nullptr && rscpBlankPaddedCmp(field, f.value) == 0);
}

}  // namespace

int rscpBlankPaddedCmp(const char* a, const char* b)
{
    const std::size_t la = std::strlen(a), lb = std::strlen(b);
    if (la != lb) {
        const std::size_t common = la < lb ? la : lb;
        const char* tail = (la > lb ? a : b) + common;
        const std::size_t tailLen = (la > lb ? la : lb) - common;
        if (tailLen <= kTailBlanks && std::strspn(tail, " ") == tailLen) {
            const int c = std::memcmp(a, b, common);
            return c < 0 ? -1 : c > 0 ? 1 : 0;
        }
    }
    const int c = std::strcmp(a, b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

int rscpotd__open_tcp0c_dump(const char* path, const char* platform, const char* languages, const char* country,
                             const char* modifier, rscpPlatformFunc platformFunc)
{
    Reader& r = g_reader;
    if (!SetFilter(&r.platform, platform, 16))
        return 3;
    if (r.platform.on && rscpBlankPaddedCmp(r.platform.value, ".") == 0 && platformFunc != nullptr) {
        char scratch1[20] = {}, scratch2[20] = {};
        char name[17] = {};
        platformFunc(scratch1, scratch2, 20, name, 17, 0, 0, 0, 0);
        name[16] = '\0';
        std::memcpy(r.platform.value, name, sizeof name);
    }
    if (!SetFilter(&r.languages, languages, 30) || !SetFilter(&r.country, country, 3) ||
        !SetFilter(&r.modifier, modifier, 16))
        return 3;
    rscpctd__close_tcp0c_dump();
    r.delivered = 0;
    if (path == nullptr || (r.file = std::fopen(path, "r")) == nullptr) {
        std::perror(path != nullptr ? path : "(null)");
        return 1;
    }
    r.lineNo = 1;
    if (std::fgets(r.line, kLineBuf, r.file) == nullptr) {
        std::fprintf(stderr, "%s is empty\n", path);
        rscpctd__close_tcp0c_dump();
        return 2;
    }
    CutNewline(r.line);
    if (r.line[0] == '\0' || std::strcmp(r.line + 1, "TCP0C") != 0) {
        std::fprintf(stderr, "%s is not a TCP0C dump\n", path);
        rscpctd__close_tcp0c_dump();
        return 2;
    }
    r.delim[0] = r.line[0];
    r.delim[1] = '\0';
    return 0;
}

int rscprtr__read_tcp0c_record(const char** language, const char** country, const char** modifier,
                               const char** codePage, const char** locale)
{
    Reader& r = g_reader;
    if (r.file == nullptr)
        return -1;
    for (;;) {
        ++r.lineNo;
        if (std::fgets(r.line, kLineBuf, r.file) == nullptr) {
            rscpctd__close_tcp0c_dump();
            return r.delivered > 0 ? r.delivered : -1;
        }
        if (r.line[0] == '#')
            continue;
        CutNewline(r.line);
        std::memcpy(r.copy, r.line, sizeof r.copy);
        const char* field[kFields] = {};
        int n = 0;
        bool extra = false;
        char* save = nullptr;
        for (char* tok = strtok_r(r.line, r.delim, &save); tok != nullptr; tok = strtok_r(nullptr, r.delim, &save)) {
            if (n == kFields) {
                extra = true;
                break;
            }
            field[n++] = tok;
        }
        if (n < kFields || extra)
            std::fprintf(stderr, "format error in line %d:\n%s\n", r.lineNo, r.copy);
        if (!FieldMatches(r.platform, field[0]))
            continue;
        if (r.languages.on && (field[1] == nullptr || std::strchr(r.languages.value, field[1][0]) == nullptr))
            continue;
        if (!FieldMatches(r.country, field[2]) || !FieldMatches(r.modifier, field[3]))
            continue;
        ++r.delivered;
        if (language != nullptr)
            *language = field[1] != nullptr ? field[1] : kNoField;
        if (country != nullptr)
            *country = field[2] != nullptr ? field[2] : kNoField;
        if (modifier != nullptr)
            *modifier = field[3] != nullptr ? field[3] : kNoField;
        if (codePage != nullptr)
            *codePage = field[4] != nullptr ? field[4] : kNoField;
        if (locale != nullptr)
            *locale = field[6] != nullptr ? field[6] : kNoField;
        return 0;
    }
}

void rscpctd__close_tcp0c_dump()
{
    if (g_reader.file != nullptr) {
        std::fclose(g_reader.file);
        g_reader.file = nullptr;
    }
}
