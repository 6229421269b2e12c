#include "app/wildcard.h"

// Greedy matcher: after a "*" the rest of the pattern is tried at the current
// name position; on a mismatch only the most recent "*" is widened by one
// character.  An earlier "*" never needs widening, because whatever the later
// pattern part could match from a later start it can also reach by widening
// the most recent "*".  So each name position is revisited at most once per
// pattern segment, and patterns such as "*a*a*a*b" stay cheap.
bool MatchWildcard(const char* name, const char* pattern)
{
    const char* n = name;
    const char* p = pattern;
    const char* starPattern = nullptr;  // pattern position after the last "*"
    const char* starName = nullptr;     // name position that "*" last stopped at

    while (*n != '\0') {
        if (*p == '*') {
            while (*p == '*')
                ++p;
            if (*p == '\0')
                return true;
            starPattern = p;
            starName = n;
            continue;
        }
        if (*p != '\0' && (*p == '?' || *p == *n)) {
            ++p;
            ++n;
            continue;
        }
        if (starPattern == nullptr)
            return false;
        p = starPattern;
        n = ++starName;
    }
    while (*p == '*')
        ++p;
    return *p == '\0';
}
