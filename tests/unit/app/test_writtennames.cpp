// The places a run wrote, against a map of every place to the source of its
// first taker: runs of tens of thousands of entries, mostly from their own
// spelling (kept as fingerprints and looked up only once needed) and some
// from the same place below "/" or from another name, in phases that start
// the lookups at different moments, each answered as the map answers.  And
// the keyed hash of the fingerprints against the vectors of its authors.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "app/keyedhash.h"
#include "app/writtennames.h"

namespace {

// A place of one of few directories and many files, a few of them long, so
// that places recur and share their starts as names of one tree do.
std::string RandomPlace(std::mt19937& random, int files)
{
    std::string place = "d";
    place += std::to_string(random() % 7);
    place += "/sub";
    place += std::to_string(random() % 3);
    place += "/f";
    place += std::to_string(random() % static_cast<unsigned>(files));
    if (random() % 4000 == 0)
        place += std::string(70000, 'x');
    return place;
}

TEST(WrittenNamesTest, AnswersAsAMapOfPlacesToTheirFirstSource)
{
    std::mt19937 random(62);
    for (int run = 0; run < 6; ++run) {
        CWrittenNames names;
        std::unordered_map<std::string, std::string> taken;
        // Run 0 has no entry but those of their own spelling; the others
        // bring entries of other sources in from the start, from the
        // middle, or late, in bursts or scattered.
        const int entries = 40000;
        const int otherFrom = run == 0 ? entries : run == 1 ? 0 : entries / run;
        const unsigned otherShare = run % 2 == 0 ? 3 : 40;
        size_t refused = 0;
        for (int i = 0; i < entries; ++i) {
            const std::string place = RandomPlace(random, run == 5 ? 30000 : 3000);
            std::string source = place;
            if (i >= otherFrom && random() % 100 < otherShare) {
                const unsigned kind = random() % 3;
                source.assign(kind == 0 ? "/" : kind == 1 ? std::string_view("\0f", 2) : "../");
                source += kind == 1 ? std::to_string(random() % 5) : place;
            }
            const auto [at, fresh] = taken.emplace(place, source);
            const bool expected = fresh || at->second == source;
            refused += expected ? 0 : 1;
            ASSERT_EQ(names.Take(place, source), expected) << "run " << run << ", entry " << i << ": " << place;
        }
        if (run > 0) {
            EXPECT_GT(refused, 0U) << "run " << run;
        }
    }
}

// SipHash-2-4 of the bytes 0, 1, ... n - 1 under the key 0, 1, ... 15, as
// its authors give it, for lengths from none to several words.
TEST(KeyedHashTest, GivesThePublishedValues)
{
    const HashKey key{0x0706050403020100ULL, 0x0f0e0d0c0b0a0908ULL};
    const std::pair<size_t, uint64_t> published[] = {
        {0, 0x726fdb47dd0e0e31ULL},  {1, 0x74f839c593dc67fdULL}, {2, 0x0d6c8009d9a94f5aULL},
        {3, 0x85676696d7fb7e2dULL},  {8, 0x93f5f5799a932462ULL}, {15, 0xa129ca6149be45e5ULL},
        {63, 0x958a324ceb064572ULL},
    };
    std::string bytes;
    for (char c = 0; c < 64; ++c)
        bytes += c;
    for (const auto& [length, hash] : published)
        EXPECT_EQ(KeyedHash(key, std::string_view(bytes).substr(0, length)), hash) << length << " bytes";
}

}  // namespace
