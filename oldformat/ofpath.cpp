// Path normalisation and the pattern matcher of archive names.
#include <cctype>
#include <cstring>
#include <string_view>
#include <utility>

#include "krn/rscp/cputf8local.h"
#include "oldformat/ofinternal.h"

std::string OfNormalisePath(const std::string& path, bool resolveParents)
{
    // A backslash is a separator where it is a character of the local code
    // page; a byte 0x5C inside a double-byte character is part of the name.
    std::string in(path);
    BackslashToSlashCP(in.data(), in.size());

    // A drive prefix ("C:") stays in front of everything else.
    std::string out;
    size_t pos = 0;
    if (in.size() >= 2 && in[1] == ':' && std::isalpha(static_cast<unsigned char>(in[0]))) {
        out.assign(in, 0, 2);
        pos = 2;
    }
    const bool absolute = pos < in.size() && in[pos] == '/';

    // Components between separators; "." goes, ".." takes its predecessor.
    std::vector<std::string_view> parts;
    std::string_view rest(in);
    rest.remove_prefix(pos);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (resolveParents && part == ".." && !parts.empty() && parts.back() != "..") {
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }

    if (absolute)
        out += '/';
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i)
            out += '/';
        out += parts[i];
    }
    return out;
}

EntryPath OfPlanTarget(const std::string& stored, const std::string& normalised, const std::string& targetDir,
                       bool keepAbsolute)
{
    EntryPath plan = PlanEntryPath(normalised, targetDir, keepAbsolute);
    const bool turnedAbsolute = !normalised.empty() && normalised[0] == '/' && (stored.empty() || stored[0] != '/');
    bool driveParent = false;
    std::string_view rest(normalised);
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        if (rest.substr(0, slash).ends_with(":.."))
            driveParent = true;
        rest.remove_prefix(slash == std::string_view::npos ? rest.size() : slash + 1);
    }
    if ((keepAbsolute && turnedAbsolute) || driveParent)
        plan.path.clear();
    return plan;
}

namespace {

// Matches one character against the set starting after "[" at *p; advances
// *p past the closing "]".  Returns -1 when the set is unclosed or empty.
int MatchSet(const char*& p, unsigned char c)
{
    const char* s = p;
    if (*s == ']' || *s == '\0')
        return -1;
    bool hit = false;
    while (*s && *s != ']') {
        unsigned char lo = static_cast<unsigned char>(*s);
        if (s[1] == '-' && s[2] && s[2] != ']') {
            unsigned char hi = static_cast<unsigned char>(s[2]);
            if (lo > hi)
                std::swap(lo, hi);
            if (c >= lo && c <= hi)
                hit = true;
            s += 3;
        } else {
            if (c == lo)
                hit = true;
            ++s;
        }
    }
    if (*s != ']')
        return -1;
    p = s + 1;
    return hit ? 1 : 0;
}

}  // namespace

// Star positions are retried from left to right with ever longer runs, which
// gives the result of the shortest-first recursion without its exponential
// cost: only the last star needs to be retried.
bool OfMatchPattern(const char* pattern, const char* name)
{
    const char* p = pattern;
    const char* n = name;
    const char* starP = nullptr;
    const char* starN = nullptr;
    for (;;) {
        if (*p == '*') {
            while (*p == '*')
                ++p;
            if (*p == '\0')
                return true;
            starP = p;
            starN = n;
            continue;
        }
        if (*n == '\0')
            return *p == '\0';
        bool ok = false;
        const char* next = p;
        if (*p == '\0') {
            ok = false;
        } else if (*p == '?') {
            ok = true;
            next = p + 1;
        } else if (*p == '[') {
            next = p + 1;
            int r = MatchSet(next, static_cast<unsigned char>(*n));
            if (r < 0)
                return false;  // an unclosed or empty set never matches
            ok = r == 1;
        } else if (*p == '\\' && p[1] != '\0') {
            ok = p[1] == *n;
            next = p + 2;
        } else {
            ok = *p == *n;
            next = p + 1;
        }
        if (ok) {
            p = next;
            ++n;
            continue;
        }
        if (!starP)
            return false;
        p = starP;
        n = ++starN;
    }
}
