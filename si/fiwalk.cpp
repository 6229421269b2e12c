// Fi walks over whole trees: the wildcard searches, the dump and the
// statistics.  Positions must grow strictly on every way down and every step
// is counted against the size of the pools, so a broken block cannot make a
// walk loop or leave the block.
#include <cctype>
#include <climits>
#include <cstdint>

#include "si/fipriv.h"

namespace fi {

namespace {

const uint8_t* KeyOf(const View& v, const Index& ix, int32_t leaf)
{
    return ix.base + static_cast<uint32_t>(v.Get(leaf + lKey));
}

int64_t StepLimit(const View& v)
{
    return 2 * (int64_t{v.node.count} + v.leaf.count) + 4;
}

// The position of an entry's parent: -1 for the root, INT32_MAX (which no
// position passes) when the parent is no node.
int32_t ParentPos(const View& v, int32_t off)
{
    const int32_t p = v.Get(off + nParent);
    if (p == 0)
        return -1;
    return v.IsNode(p) ? v.Get(p + nPos) : INT32_MAX;
}

// Pre-order over the index, children in list order: fn(entry, depth).
template <class Fn>
int32_t Visit(const View& v, const Index& ix, Fn fn)
{
    const int32_t root = v.Get(ix.hdr + hRoot);
    if (root == 0)
        return FI_OK;
    if (!v.IsEntryOf(root, 0))
        return FI_EINVAL;
    int32_t cur = root;
    int32_t depth = 0;
    const int64_t limit = StepLimit(v);
    for (int64_t steps = 0;; ++steps) {
        if (steps > limit)
            return FI_EINVAL;
        if (v.IsNode(cur) && !PosOk(v, cur, ix.keyLen, ParentPos(v, cur)))
            return FI_EINVAL;
        fn(cur, depth);
        if (v.IsNode(cur)) {
            const int32_t child = v.Get(cur + nFirst);
            if (!v.IsEntryOf(child, cur))
                return FI_EINVAL;
            cur = child;
            ++depth;
            continue;
        }
        for (;;) {
            if (cur == root)
                return FI_OK;
            const int32_t next = v.Get(cur + nNextSib);
            const int32_t parent = v.Get(cur + nParent);
            if (next != 0) {
                if (!v.IsEntryOf(next, parent))
                    return FI_EINVAL;
                cur = next;
                break;
            }
            cur = parent;
            --depth;
        }
    }
}

bool WildMatch(const uint8_t* a, const uint8_t* b, int32_t len, uint8_t wild)
{
    for (int32_t i = 0; i < len; ++i)
        if (a[i] != b[i] && a[i] != wild && b[i] != wild)
            return false;
    return true;
}

// Searched key of a prefix search: its own bytes, then wildcard B.
struct PrefixKey {
    const uint8_t* key;
    int32_t used;
    int32_t keyLen;
    uint8_t wildB, c1, c2;
    uint8_t At(int32_t p) const { return p < used ? key[p] : wildB; }
    bool Matches(const uint8_t* stored) const
    {
        for (int32_t d = 0; d < used; ++d)
            if (stored[d] != key[d])
                return stored[d] == wildB && (key[d] == c1 || key[d] == c2);
        return used == keyLen || stored[used] == wildB;
    }
};

// Longest match first: walk down by the key; where the way ends or the leaf
// does not match, climb back and try the wildcard-B child of the nearest
// node passed that was not left through it.
int32_t PrefixSearch(const View& v, const Index& ix, const PrefixKey& pk, int32_t* leaf)
{
    int32_t cur = v.Get(ix.hdr + hRoot);
    if (cur == 0)
        return FI_ENOTFOUND;
    if (!v.IsEntryOf(cur, 0))
        return FI_EINVAL;
    const int64_t limit = 2 * StepLimit(v);
    int64_t steps = 0;
    for (;;) {
        // Down.
        int32_t from = 0;  // the entry the climb starts above (0: at cur itself)
        int32_t at = cur;
        while (v.IsNode(at)) {
            if (++steps > limit || !PosOk(v, at, ix.keyLen, ParentPos(v, at)))
                return FI_EINVAL;
            int32_t child = 0;
            if (ChildOf(v, at, pk.At(v.Get(at + nPos)), &child) != FI_OK)
                return FI_EINVAL;
            if (child == 0)
                break;
            at = child;
        }
        if (v.IsLeaf(at)) {
            if (pk.Matches(KeyOf(v, ix, at))) {
                *leaf = at;
                return FI_OK;
            }
            from = at;
            at = v.Get(at + nParent);
        }
        // Up, to the next untried wildcard-B child.
        cur = 0;
        while (at != 0 && cur == 0) {
            if (++steps > limit)
                return FI_EINVAL;
            if (from == 0 || v.Byte(from + nBranch) != pk.wildB) {
                int32_t alt = 0;
                if (ChildOf(v, at, pk.wildB, &alt) != FI_OK)
                    return FI_EINVAL;
                if (alt != 0 && alt != from)
                    cur = alt;
            }
            if (cur == 0) {
                from = at;
                at = v.Get(at + nParent);
            }
        }
        if (cur == 0)
            return FI_ENOTFOUND;
    }
}

}  // namespace

}  // namespace fi

using namespace fi;

int32_t FiSearchAll(FI_HDL h, const void* key, uint32_t capacity, int32_t* leaves, uint32_t* count, uint32_t* state)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || count == nullptr || state == nullptr || (capacity > 0 && leaves == nullptr) ||
        (key == nullptr && ix.keyLen > 0))
        return FI_EINVAL;
    const auto* k = static_cast<const uint8_t*>(key);
    *count = 0;
    // The stack's first word names the index whose search it holds.
    const int32_t bottom = v.stackStart + 8;
    int32_t sp = bottom;
    if (*state == FI_SEARCH_START) {
        v.Put(v.stackStart, ix.hdr);
        const int32_t root = v.Get(ix.hdr + hRoot);
        if (root != 0) {
            v.Put(sp, root);
            sp += 4;
        }
    } else {
        sp = v.Get(kSavedPos);
        if (sp < bottom || sp > v.stackEnd || (sp - bottom) % 4 != 0 || v.Get(v.stackStart) != ix.hdr)
            return FI_EINVAL;
    }
    auto push = [&](int32_t e) {
        if (sp + 4 > v.stackEnd)
            return false;
        v.Put(sp, e);
        sp += 4;
        return true;
    };
    const int64_t limit = StepLimit(v);
    for (int64_t steps = 0; sp > bottom; ++steps) {
        if (steps > limit)
            return FI_EINVAL;
        sp -= 4;
        const int32_t e = v.Get(sp);
        if (v.IsLeaf(e)) {
            if (!WildMatch(k, KeyOf(v, ix, e), ix.keyLen, v.wildA))
                continue;
            if (*count == capacity) {  // keep it for the next call
                sp += 4;
                v.Put(kSavedPos, sp);
                *state = 1;
                return FI_OK;
            }
            leaves[(*count)++] = e;
            continue;
        }
        if (!v.IsNode(e) || !PosOk(v, e, ix.keyLen, ParentPos(v, e)))
            return FI_EINVAL;
        const int32_t pos = v.Get(e + nPos);
        const uint8_t c = k[pos];
        if (c == v.wildA) {
            int32_t child = v.Get(e + nFirst);
            for (int32_t n = 0; child != 0; ++n) {
                if (n >= kMaxChildren || !v.IsEntryOf(child, e) || !push(child))
                    return FI_EINVAL;
                child = v.Get(child + nNextSib);
            }
            continue;
        }
        int32_t child = 0;
        if (ChildOf(v, e, c, &child) != FI_OK || (child != 0 && !push(child)))
            return FI_EINVAL;
        if ((v.Get(e + nFlags) & kFlagWild) != 0) {
            if (ChildOf(v, e, v.wildA, &child) != FI_OK || (child != 0 && !push(child)))
                return FI_EINVAL;
        }
    }
    v.Put(kSavedPos, bottom);
    *state = 0;
    return FI_OK;
}

int32_t FiSearchPrefix(FI_HDL h, const void* key, uint8_t c1, uint8_t c2, int32_t* leaf)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || leaf == nullptr || (key == nullptr && ix.keyLen > 0))
        return FI_EINVAL;
    const PrefixKey pk{static_cast<const uint8_t*>(key), ix.keyLen, ix.keyLen, v.wildB, c1, c2};
    return PrefixSearch(v, ix, pk, leaf);
}

int32_t FiSearchPrefixLen(FI_HDL h, const void* key, int32_t keyLenUsed, uint8_t c1, uint8_t c2, int32_t* leaf)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || leaf == nullptr || keyLenUsed < 0 || keyLenUsed > ix.keyLen ||
        (key == nullptr && keyLenUsed > 0))
        return FI_EINVAL;
    const PrefixKey pk{static_cast<const uint8_t*>(key), keyLenUsed, ix.keyLen, v.wildB, c1, c2};
    return PrefixSearch(v, ix, pk, leaf);
}

int32_t FiDump(FI_HDL h, FILE* stream)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || stream == nullptr)
        return FI_EINVAL;
    std::fprintf(stream, " PT : %d keys\n", v.Get(ix.hdr + hKeys));
    const int32_t root = v.Get(ix.hdr + hRoot);
    return Visit(v, ix, [&](int32_t e, int32_t depth) {
        const uint8_t branch = v.Byte(e + nBranch);
        std::fprintf(stream, "%*s %c> ", 4 * depth, "", e == root ? '-' : branch);
        if (v.IsLeaf(e)) {
            const uint8_t* key = KeyOf(v, ix, e);
            for (int32_t i = 0; i < ix.keyLen; ++i)
                std::fputc(std::isprint(key[i]) ? key[i] : '.', stream);
            std::fputc('\n', stream);
        } else {
            std::fprintf(stream, "[%d]\n", v.Get(e + nPos));
        }
    });
}

int32_t FiStatistics(FI_HDL h, FI_STATISTICS* st)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || st == nullptr)
        return FI_EINVAL;
    *st = FI_STATISTICS{};
    int64_t children[16] = {};
    int64_t nodesAt[16] = {};
    int64_t leafDepths = 0;
    int64_t nodeDepths = 0;
    const int32_t rc = Visit(v, ix, [&](int32_t e, int32_t depth) {
        if (v.IsLeaf(e)) {
            ++st->leaves;
            leafDepths += depth;
            if (depth > st->deepest)
                st->deepest = depth;
            return;
        }
        ++st->nodes;
        nodeDepths += depth;
        if (depth < 16) {
            children[depth] += v.Get(e + nChildren);
            ++nodesAt[depth];
        }
    });
    if (rc != FI_OK)
        return rc;
    for (int i = 0; i < 16; ++i)
        st->avgChildren[i] = nodesAt[i] > 0 ? static_cast<double>(children[i]) / nodesAt[i] : 0.0;
    st->avgLeafDepth = st->leaves > 0 ? static_cast<double>(leafDepths) / st->leaves : 0.0;
    st->avgNodeDepth = st->nodes > 0 ? static_cast<double>(nodeDepths) / st->nodes : 0.0;
    st->freeHeaders = v.FreeCount(v.hdr);
    st->freeNodes = v.FreeCount(v.node);
    st->freeLeaves = v.FreeCount(v.leaf);
    st->openIndices = v.Get(kOpenIdx);
    for (int32_t cur = v.Get(kFirstIdx); cur != 0; cur = v.Get(cur + hNext)) {
        if (st->listedIndices >= v.maxIdx || !v.IsHeader(cur))
            return FI_EINVAL;
        ++st->listedIndices;
        st->keysAllIndices += v.Get(cur + hKeys);
    }
    const bool ok = st->listedIndices == st->openIndices && st->keysAllIndices == int64_t{v.maxKeys} - st->freeLeaves &&
                    st->openIndices == v.maxIdx - st->freeHeaders && st->leaves == v.Get(ix.hdr + hKeys);
    return ok ? FI_OK : FI_EINCONSIST;
}
