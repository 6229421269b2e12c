// Wildcard matching of names against patterns with "*" and "?".
#pragma once

// Byte-wise, case-sensitive match.  "*" matches any run of characters ("/" and
// a leading "." included), "?" any one character; no classes, no escapes.
// Runs in time proportional to the product of the lengths at worst, with no
// recursion.
bool MatchWildcard(const char* name, const char* pattern);
