// A keyed hash of bytes (SipHash-2-4: 64 bits out of a 128-bit key), for
// tables that note names an archive or a tree of files chooses: with a key
// drawn at random for the run, no one who writes the names can make them
// fall together on purpose.
#pragma once

#include <cstdint>
#include <string_view>

struct HashKey {
    uint64_t k0 = 0;
    uint64_t k1 = 0;
};

// A key no archive can foresee: from the kernel's random numbers, or where
// they can not be had, from the time, the process and where it was loaded.
HashKey UnforeseenHashKey();

uint64_t KeyedHash(const HashKey& key, std::string_view bytes);
