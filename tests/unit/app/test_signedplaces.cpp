// The places of a signing run: thousands of entries of a sound tree in a
// random order pass (the table of places grows many times over), and one more
// entry in another spelling that puts a link or directory where a file was
// noted, a file where a directory was, or anything below a file, is refused
// in the words of the reader that would meet the first of the two.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "app/signedplaces.h"

namespace {

struct Noted {
    std::string name;
    PlaceKind kind;
};

// A tree of directories "aI" and "aI/bJ" with files "aI/bJ/fK", shuffled:
// extraction makes every directory anyway, so the order does not matter.
std::vector<Noted> SoundTree(std::mt19937& random)
{
    const auto named = [](std::string_view prefix, int number) {
        std::string name(prefix);
        name += std::to_string(number);
        return name;
    };
    std::vector<Noted> tree;
    for (int i = 0; i < 12; ++i) {
        const std::string a = named("a", i);
        tree.push_back({a, PlaceKind::kDirectory});
        for (int j = 0; j < 20; ++j) {
            const std::string b = named(a + "/b", j);
            tree.push_back({b, j % 7 == 3 ? PlaceKind::kLink : PlaceKind::kDirectory});
            if (j % 7 == 3)
                continue;  // a link holds nothing
            for (int k = 0; k < 20; ++k)
                tree.push_back({named(b + "/f", k), PlaceKind::kFile});
        }
    }
    std::shuffle(tree.begin(), tree.end(), random);
    return tree;
}

TEST(SigningPlaces, OneMoreEntryInAFilesPlaceIsRefusedWhateverCameBefore)
{
    std::mt19937 random(20261208);
    for (int run = 0; run < 40; ++run) {
        const std::vector<Noted> tree = SoundTree(random);
        CSigningPlaces places;
        for (const Noted& entry : tree)
            ASSERT_EQ(places.Note(entry.name + (entry.kind == PlaceKind::kDirectory ? "/" : ""), entry.kind), "")
                << entry.name;
        const Noted& earlier = tree[random() % tree.size()];
        std::string expected;
        std::string name;
        PlaceKind kind = PlaceKind::kFile;
        if (earlier.kind == PlaceKind::kFile) {
            // A directory or link there, or anything below the file.
            static const char* const kSpellings[] = {"./", "/", "../", ""};
            const char* prefix = kSpellings[run % 4];
            if (run % 3 == 0) {
                name = prefix + earlier.name + "/x";
                expected = "Entry >" + earlier.name +
                           "< is a directory, but the manifest lists a file of that name "
                           "that comes before it";
            } else {
                kind = run % 3 == 1 ? PlaceKind::kLink : PlaceKind::kDirectory;
                name = prefix + earlier.name + (kind == PlaceKind::kLink ? "|target" : "//");
                expected = "Entry >" + earlier.name + "< is " + (kind == PlaceKind::kLink ? "a link" : "a directory") +
                           ", but the manifest lists a file of that name that comes before it";
            }
        } else {
            // A file where a directory or link was noted, or an entry below
            // it: the reader meets the first of those first.
            name = "./" + earlier.name;
            const auto first = std::find_if(tree.begin(), tree.end(), [&](const Noted& entry) {
                return entry.name == earlier.name || entry.name.starts_with(earlier.name + "/");
            });
            expected = first->name == earlier.name
                           ? "Entry >" + earlier.name + "< is " +
                                 (earlier.kind == PlaceKind::kLink ? "a link" : "a directory") +
                                 ", but the manifest lists a file of that name that was not verified before it"
                           : "Entry >" + first->name + "< lies below " + earlier.name +
                                 ", but the manifest lists a file of that name that was not verified before it";
        }
        EXPECT_EQ(places.Note(name, kind), expected) << name;
    }
}

}  // namespace
