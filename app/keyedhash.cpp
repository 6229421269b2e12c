#include "app/keyedhash.h"

#include <bit>
#include <cstring>
#include <ctime>
#include <sys/random.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little, "the hash reads words of eight bytes in their order");

HashKey UnforeseenHashKey()
{
    HashKey key;
    if (getrandom(&key, sizeof key, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof key))
        return key;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const HashKey mixed{static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 30,
                        static_cast<uint64_t>(getpid()) << 32 ^ reinterpret_cast<uintptr_t>(&key)};
    key.k0 = KeyedHash(mixed, "k0");
    key.k1 = KeyedHash(mixed, "k1");
    return key;
}

uint64_t KeyedHash(const HashKey& key, std::string_view bytes)
{
    uint64_t v0 = key.k0 ^ 0x736f6d6570736575ULL;
    uint64_t v1 = key.k1 ^ 0x646f72616e646f6dULL;
    uint64_t v2 = key.k0 ^ 0x6c7967656e657261ULL;
    uint64_t v3 = key.k1 ^ 0x7465646279746573ULL;
    const auto round = [&] {
        v0 += v1;
        v1 = std::rotl(v1, 13) ^ v0;
        v0 = std::rotl(v0, 32);
        v2 += v3;
        v3 = std::rotl(v3, 16) ^ v2;
        v0 += v3;
        v3 = std::rotl(v3, 21) ^ v0;
        v2 += v1;
        v1 = std::rotl(v1, 17) ^ v2;
        v2 = std::rotl(v2, 32);
    };
    const auto compress = [&](uint64_t word) {
        v3 ^= word;
        round();
        round();
        v0 ^= word;
    };
    const size_t whole = bytes.size() & ~size_t{7};
    for (size_t at = 0; at < whole; at += 8) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        compress(word);
    }
    // The last word: the bytes left over, and the length's low byte on top.
    uint64_t last = static_cast<uint64_t>(bytes.size()) << 56;
    for (size_t at = whole; at < bytes.size(); ++at)
        last |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at])) << 8 * (at - whole);
    compress(last);
    v2 ^= 0xff;
    round();
    round();
    round();
    round();
    return v0 ^ v1 ^ v2 ^ v3;
}
