// The two profile files: the instance profile (level 31) and the default
// profile DEFAULT.PFL in the profile directory (level 21).  One assignment a
// line, "name = value"; lines starting with "#" are comments.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "flat/kovparam_int.h"
#include "nls/kovstr.h"

namespace {

constexpr size_t kLineSpace = 4096;  // pool space a line of the instance profile starts with
constexpr size_t kDefaultLine = 4094;

bool IsBlank(int c)
{
    return c == ' ' || c == '\t';
}

constexpr int kIllegal = -2;      // a byte that begins no valid UTF-8 sequence
constexpr int kMaxIllegal = 100;  // illegal bytes an instance profile may hold

// The instance profile as UTF-8 text, byte by byte: the bytes of a valid
// sequence come back one by one, a byte that begins no valid sequence comes
// back as kIllegal, alone (the bytes after it are read again).
class ProfileStream {
public:
    explicit ProfileStream(FILE* f)
        : f_(f)
    {
    }

    int Get()
    {
        if (pushed_ != kNone) {
            const int c = pushed_;
            pushed_ = kNone;
            return c;
        }
        const int c = Raw();
        if (trusted_ > 0) {
            --trusted_;
            return c;
        }
        if (c == EOF || c < 0x80)
            return c;
        int need = 0;
        int lo = 0x80, hi = 0xBF;  // range of the first continuation byte
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            lo = c == 0xE0 ? 0xA0 : lo;  // no overlong forms
            hi = c == 0xED ? 0x9F : hi;  // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            lo = c == 0xF0 ? 0x90 : lo;
            hi = c == 0xF4 ? 0x8F : hi;  // nothing above U+10FFFF
        } else {
            return kIllegal;
        }
        int got[3];
        int k = 0;
        bool valid = true;
        while (k < need && valid) {
            got[k] = Raw();
            valid = got[k] >= (k == 0 ? lo : 0x80) && got[k] <= (k == 0 ? hi : 0xBF);
            ++k;
        }
        while (k > 0)
            Push(got[--k]);
        if (!valid)
            return kIllegal;
        trusted_ = need;
        return c;
    }

    // Gives c back to the next Get.
    void Unget(int c) { pushed_ = c; }

private:
    static constexpr int kNone = -3;

    int Raw() { return held_ > 0 ? back_[--held_] : getc(f_); }
    void Push(int c)
    {
        if (c != EOF)
            back_[held_++] = c;
    }

    FILE* f_;
    int back_[3] = {};
    int held_ = 0;
    int trusted_ = 0;  // continuation bytes of a checked sequence still to come
    int pushed_ = kNone;
};

// Reads to the end of the line; false at the end of the file.
template <typename Stream>
bool SkipLine(Stream& in, int* line)
{
    for (int c; (c = in.Get()) != EOF;) {
        if (c == '\n') {
            ++*line;
            return true;
        }
    }
    return false;
}

// Reads bytes of a plain file for SkipLine.
struct PlainStream {
    FILE* f;
    int Get() { return getc(f); }
};

// A record for a name the table lacks, with value at level; when the array
// cannot grow every record is dropped and false tells reading to end.
bool AddRecord(const char* name, char* value, int level, int grow)
{
    KovParamRecord* rec = KovParamInsert(name, grow);
    if (!rec) {
        if (g_kp.records) {
            perror("kovparam(5): realloc");
            g_kp.oldArrays.push_back(g_kp.records);
            g_kp.records = nullptr;
            g_kp.count = g_kp.capacity = 0;
        }
        return false;
    }
    kovparam_set_level(rec, value, level);
    return true;
}

// One assignment of the instance profile; false when reading must end.
bool TakeInstanceLine(char* name, char* value)
{
    KovParamRecord* rec = KovParamFind(name);
    if (!rec)
        return AddRecord(name, value, 31, 30);
    if (strcmp(name, "KOVSYSTEM") == 0) {
        if (!g_kp.sysnrFixed && isdigit(static_cast<unsigned char>(value[0])) &&
            isdigit(static_cast<unsigned char>(value[1]))) {
            g_kp.sysnr[0] = value[0];
            g_kp.sysnr[1] = value[1];
            g_kp.sysnrFixed = true;
        }
    } else {
        kovparam_set_level(rec, value, 31);
        if (strcmp(name, "KOVSYSTEMNAME") == 0 && !g_kp.sysnameTaken) {
            strncpy_sR(g_kp.sysname, sizeof g_kp.sysname, value, sizeof g_kp.sysname - 1);
            g_kp.sysnameTaken = true;
        }
    }
    return true;
}

// One assignment of the default profile; false when reading must end.
bool TakeDefaultLine(const char* line)
{
    const char* delims = " \t=";
    const char* begin = line + strspn(line, delims);
    size_t nameLen = strcspn(begin, delims);
    if (nameLen == 0)
        return false;  // a line without a name ends the profile
    const char* value = strchr(line, '=') + 1;
    while (IsBlank(*value))
        ++value;
    size_t valueLen = strlen(value);
    while (valueLen > 0 && IsBlank(value[valueLen - 1]))
        --valueLen;
    char* name = KovParamPoolCopyN(begin, nameLen);
    char* copy = name ? KovParamPoolCopyN(value, valueLen) : nullptr;
    if (!copy)
        return true;
    KovParamRecord* rec = KovParamFind(name);
    if (!rec)
        return AddRecord(name, copy, 21, 1);
    if (strcmp(name, "KOVSYSTEM") == 0) {
        rec->level21 = copy;
    } else {
        kovparam_set_level(rec, copy, 21);
    }
    return true;
}

}  // namespace

void KovParamSystemPath(char* out, size_t size, const char* path)
{
    if (g_kpRoot[0] && path[0] == '/') {
        if (strcpy_sR(out, size, g_kpRoot) == 0)
            strcat_sR(out, size, path);
    } else {
        strcpy_sR(out, size, path);
    }
}

void KovParamReadInstanceProfile(const char* path, const char* shownName)
{
    FILE* f = fopen(path, "r");
    if (!f) {
        KovParamPerror("kovparam(2): fopenU(\"%s\",\"r\")", path);
        if (g_kp.messages)
            KovParamMsg("No Profile used.\n");
        return;
    }
    strncpy_sR(g_kp.profileInEffect, sizeof g_kp.profileInEffect, shownName, sizeof g_kp.profileInEffect - 1);
    ProfileStream in(f);
    int line = 1;
    int taken = 0;
    int illegal = 0;
    // An illegal byte is kept as "#" and reported; too many end the reading.
    const auto keepIllegal = [&](int number, const char* what) {
        KovParamMsg("kovparam(%d): %s: line %d %s\n", number, path, line, what);
        if (++illegal <= kMaxIllegal)
            return true;
        KovParamMsg("kovparam(18): %s: reading canceld after %d illegal bytes\n", path, illegal);
        return false;
    };
    bool more = true;
    while (more && g_kp.records && KovParamPoolReserve(kLineSpace)) {
        // The line is read straight into the pool and kept there when taken.
        char* buf = g_kp.poolPos;
        size_t space = static_cast<size_t>(g_kp.poolEnd - g_kp.poolPos);
        int c;
        do {
            c = in.Get();
            if (c == '\n')
                ++line;
        } while (c == '\r' || c == '\n' || IsBlank(c));
        if (c == EOF)
            break;
        if (c == '#') {
            more = SkipLine(in, &line);
            continue;
        }
        if (c == 'G') {
            int d = in.Get();
            if (d == 'R') {
                more = SkipLine(in, &line);
                continue;
            }
            in.Unget(d);
        }
        size_t n = 0;
        while (more && c != '=' && c != '\r' && c != '\n' && c != EOF && n + 2 < space) {
            if (c == kIllegal) {
                more = n == 0 ? keepIllegal(18, "starts with illegal byte sequence")
                              : keepIllegal(17, "illegal byte sequence in name");
                c = '#';
            }
            buf[n++] = static_cast<char>(c);
            c = in.Get();
        }
        if (!more)
            break;
        if (c != '=') {
            KovParamMsg("kovparam(6): %s: missing '=' in line %d\n", path, line);
            if (c == '\n')
                ++line;
            else if (c != EOF)
                more = SkipLine(in, &line);
            else
                more = false;
            continue;
        }
        while (n > 0 && IsBlank(buf[n - 1]))
            --n;
        buf[n] = '\0';
        size_t v0 = n + 1;
        size_t v = v0;
        do
            c = in.Get();
        while (IsBlank(c));
        if (c == EOF) {
            KovParamMsg("kovparam(7): %s: line %d is too long\n", path, line);
            break;
        }
        while (more && c != '\n' && c != '\r' && c != EOF && v + 1 < space) {
            if (c == kIllegal) {
                more = keepIllegal(16, "illegal byte sequence in value");
                c = '#';
            }
            buf[v++] = static_cast<char>(c);
            c = in.Get();
        }
        if (!more)
            break;
        if (c != '\n' && c != '\r' && c != EOF) {
            // The value does not fit: the whole line is dropped, and what is
            // left of it is never read as a line of its own.
            KovParamMsg("kovparam(7): %s: line %d is too long\n", path, line);
            more = SkipLine(in, &line);
            continue;
        }
        if (c == '\n')
            ++line;
        else if (c == '\r')
            more = SkipLine(in, &line);
        else
            more = false;
        while (v > v0 && IsBlank(buf[v - 1]))
            --v;
        buf[v] = '\0';
        g_kp.poolPos += v + 1;
        ++taken;
        if (!TakeInstanceLine(buf, buf + v0))
            break;
    }
    fclose(f);
    snprintfTruncR(g_kp.nPfFile, sizeof g_kp.nPfFile, "%5.5d", taken);
}

int KovParamReadDefaultProfile()
{
    KovParamRecord* dirRec = KovParamFind("DIR_PROFILE");
    if (dirRec)
        KovParamResolveOne(dirRec, 33);
    char path[4096];
    if (strcpy_sR(path, sizeof path, dirRec && dirRec->level34 ? dirRec->level34 : "") != 0 ||
        strcat_sR(path, sizeof path, "/") != 0 || strcat_sR(path, sizeof path, "DEFAULT.PFL") != 0)
        path[0] = '\0';
    char opened[sizeof path + sizeof g_kpRoot];
    KovParamSystemPath(opened, sizeof opened, path);
    FILE* f = path[0] ? fopen(opened, "r") : nullptr;
    int taken = 0;
    if (f) {
        strncpy_sR(g_kp.defaultPath, sizeof g_kp.defaultPath, path, sizeof g_kp.defaultPath - 1);
        char buf[kDefaultLine + 2];
        int line = 1;
        for (bool more = true; more && g_kp.records;) {
            size_t n = 0;
            int c = 0;
            while (n <= kDefaultLine && (c = getc(f)) != EOF && c != '\n' && c != '\r')
                buf[n++] = static_cast<char>(c);
            if (n > kDefaultLine) {
                // An overlong line is dropped whole, never taken in pieces.
                KovParamMsg("kovparam(7): %s: line %d is too long\n", path, line);
                PlainStream plain{f};
                more = SkipLine(plain, &line);
                continue;
            }
            buf[n] = '\0';
            if (c == '\n')
                ++line;
            more = c != EOF;
            if (buf[0] == '#' || !strchr(buf, '='))
                continue;
            if (!TakeDefaultLine(buf))
                break;
            ++taken;
        }
        fclose(f);
    }
    snprintfTruncR(g_kp.nDefault, sizeof g_kp.nDefault, "%5.5d", taken);
    return taken;
}
