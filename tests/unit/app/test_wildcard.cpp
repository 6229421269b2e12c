// Wildcard matcher: the documented cases, agreement with a plain recursive
// matcher on random input, and bounded time on patterns that make
// backtracking matchers explode.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "app/wildcard.h"

namespace {

// Straightforward recursive definition, used as the reference.
bool Reference(const char* n, const char* p)
{
    for (;;) {
        if (*p == '\0')
            return *n == '\0';
        if (*p == '*') {
            if (p[1] == '\0')
                return true;
            for (const char* t = n;; ++t) {
                if (Reference(t, p + 1))
                    return true;
                if (*t == '\0')
                    return false;
            }
        }
        if (*n == '\0')
            return false;
        if (*p != '?' && *p != *n)
            return false;
        ++p;
        ++n;
    }
}

TEST(Wildcard, Basics)
{
    EXPECT_TRUE(MatchWildcard("", ""));
    EXPECT_FALSE(MatchWildcard("a", ""));
    EXPECT_TRUE(MatchWildcard("", "*"));
    EXPECT_TRUE(MatchWildcard("", "**"));
    EXPECT_FALSE(MatchWildcard("", "?"));
    EXPECT_TRUE(MatchWildcard("abc", "abc"));
    EXPECT_FALSE(MatchWildcard("abc", "ABC"));
    EXPECT_TRUE(MatchWildcard("abc", "a?c"));
    EXPECT_FALSE(MatchWildcard("ac", "a?c"));
    EXPECT_TRUE(MatchWildcard("K1.kox", "K*.kox"));
    EXPECT_FALSE(MatchWildcard("k2.kox", "K*.kox"));
    EXPECT_TRUE(MatchWildcard(".hidden", "*"));
    EXPECT_TRUE(MatchWildcard("dir/sub/a.kox", "dir/*.kox"));
    EXPECT_TRUE(MatchWildcard("a.kox.kox", "*.kox"));
    EXPECT_FALSE(MatchWildcard("a.kox.bak", "*.kox"));
    EXPECT_TRUE(MatchWildcard("aXbYc", "a*b*c"));
    EXPECT_FALSE(MatchWildcard("aXbYcZ", "a*b*c"));
    EXPECT_TRUE(MatchWildcard("mississippi", "*sip*"));
    EXPECT_TRUE(MatchWildcard("abab", "*ab"));
    EXPECT_TRUE(MatchWildcard("\xFF\x80", "?\x80"));
    EXPECT_FALSE(MatchWildcard("[a]", "[ab]"));
}

TEST(Wildcard, AgreesWithRecursiveDefinition)
{
    std::mt19937 rng(12345);
    const char alphabet[] = {'a', 'b', '*', '?'};
    for (int round = 0; round < 20000; ++round) {
        std::string name, pattern;
        const int nl = static_cast<int>(rng() % 9), pl = static_cast<int>(rng() % 7);
        for (int i = 0; i < nl; ++i)
            name += alphabet[rng() % 2];
        for (int i = 0; i < pl; ++i)
            pattern += alphabet[rng() % 4];
        ASSERT_EQ(MatchWildcard(name.c_str(), pattern.c_str()), Reference(name.c_str(), pattern.c_str()))
            << "name '" << name << "' pattern '" << pattern << "'";
    }
}

TEST(Wildcard, NoBlowUpOnManyStars)
{
    const std::string name(20000, 'a');
    const std::string pattern = "*a*a*a*a*a*a*a*a*a*a*a*a*b";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchWildcard(name.c_str(), pattern.c_str()));
    EXPECT_TRUE(MatchWildcard((name + "b").c_str(), pattern.c_str()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 2000);
}

}  // namespace
