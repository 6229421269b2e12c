// The Fi trie: walking down by key bytes, insertion with node splitting,
// removal with node merging, and emptying an index.  Every link is checked
// before it is followed and every change is decided before the first write,
// so a broken block gives FI_EINVAL and is not made worse.
#include <cstdint>

#include "si/fipriv.h"

namespace fi {

namespace {

const uint8_t* KeyOf(const View& v, const Index& ix, int32_t leaf)
{
    return ix.base + static_cast<uint32_t>(v.Get(leaf + lKey));
}

// The entry before child in node's bucket chain (0 when child is the head),
// found by walking the chain: FI_OK, FI_ENOTFOUND or FI_EINVAL.
int32_t BucketPred(const View& v, int32_t node, int32_t child, int32_t* pred)
{
    const int32_t head = node + nBuckets + 4 * (v.Byte(child + nBranch) & 15);
    int32_t prev = 0;
    int32_t cur = v.Get(head);
    for (int32_t n = 0; cur != 0; ++n) {
        if (n >= kChainMax || !v.IsEntryOf(cur, node))
            return FI_EINVAL;
        if (cur == child) {
            *pred = prev;
            return FI_OK;
        }
        prev = cur;
        cur = v.Get(cur + nBucketNext);
    }
    return FI_ENOTFOUND;
}

void SetBucketLink(const View& v, int32_t node, int32_t pred, uint8_t branch, int32_t to)
{
    if (pred != 0)
        v.Put(pred + nBucketNext, to);
    else
        v.Put(node + nBuckets + 4 * (branch & 15), to);
}

// The sibling links around child in node's children list are sound.
bool SiblingsOk(const View& v, int32_t node, int32_t child)
{
    const int32_t prev = v.Get(child + nPrevSib);
    const int32_t next = v.Get(child + nNextSib);
    if (prev == 0 ? v.Get(node + nFirst) != child : !v.IsEntryOf(prev, node) || v.Get(prev + nNextSib) != child)
        return false;
    return next == 0 || (v.IsEntryOf(next, node) && v.Get(next + nPrevSib) == child);
}

// The head of node's children list is one of its children.
bool FirstOk(const View& v, int32_t node)
{
    const int32_t first = v.Get(node + nFirst);
    return first == 0 || (v.IsEntryOf(first, node) && v.Get(first + nPrevSib) == 0);
}

void UnlinkSibling(const View& v, int32_t node, int32_t child)
{
    const int32_t prev = v.Get(child + nPrevSib);
    const int32_t next = v.Get(child + nNextSib);
    if (prev != 0)
        v.Put(prev + nNextSib, next);
    else
        v.Put(node + nFirst, next);
    if (next != 0)
        v.Put(next + nPrevSib, prev);
}

void PushSibling(const View& v, int32_t node, int32_t child)
{
    const int32_t first = v.Get(node + nFirst);
    v.Put(child + nPrevSib, 0);
    v.Put(child + nNextSib, first);
    if (first != 0)
        v.Put(first + nPrevSib, child);
    v.Put(node + nFirst, child);
}

// Hangs child under node with the given branch byte, at the head of its
// bucket and of the children list.
void Attach(const View& v, int32_t node, int32_t child, uint8_t branch)
{
    const int32_t head = node + nBuckets + 4 * (branch & 15);
    v.SetByte(child + nBranch, branch);
    v.Put(child + nParent, node);
    v.Put(child + nBucketNext, v.Get(head));
    v.Put(head, child);
    PushSibling(v, node, child);
}

// Walks down from the root by the key's bytes to the leaf it reaches.  With
// anyChild, a missing child is replaced by the node's first child, so that
// some leaf is always reached.  FI_OK with *leaf (0 when the way ends),
// FI_EINVAL when a link is broken.
int32_t WalkDown(const View& v, const Index& ix, const uint8_t* key, bool anyChild, int32_t* leaf)
{
    *leaf = 0;
    int32_t cur = v.Get(ix.hdr + hRoot);
    if (cur == 0)
        return FI_OK;
    if (!v.IsEntryOf(cur, 0))
        return FI_EINVAL;
    int32_t parentPos = -1;
    while (v.IsNode(cur)) {
        if (!PosOk(v, cur, ix.keyLen, parentPos))
            return FI_EINVAL;
        parentPos = v.Get(cur + nPos);
        int32_t next = 0;
        if (ChildOf(v, cur, key[parentPos], &next) != FI_OK)
            return FI_EINVAL;
        if (next == 0) {
            if (!anyChild)
                return FI_OK;
            next = v.Get(cur + nFirst);
            if (!v.IsEntryOf(next, cur))
                return FI_EINVAL;
        }
        cur = next;
    }
    *leaf = cur;
    return FI_OK;
}

// Where a new key with first difference d from leaf l goes: the lowest
// ancestor p whose position is not above d, and t, its child on the way to l
// (or the root when p is 0).
void InsertionPoint(const View& v, int32_t l, int32_t d, int32_t* p, int32_t* t)
{
    *t = l;
    *p = v.Get(l + nParent);
    while (*p != 0 && d < v.Get(*p + nPos)) {
        *t = *p;
        *p = v.Get(*p + nParent);
    }
}

// Adds the new leaf nl with byte n at d beside the subtree t, under a new
// inner node that takes t's place.
int32_t Split(const View& v, const Index& ix, int32_t p, int32_t t, int32_t nl, int32_t d, uint8_t n, uint8_t o)
{
    int32_t pred = 0;
    if (p != 0) {
        if (BucketPred(v, p, t, &pred) != FI_OK || !SiblingsOk(v, p, t) || !FirstOk(v, p))
            return FI_EINVAL;
    } else if (v.Get(ix.hdr + hRoot) != t) {
        return FI_EINVAL;
    }
    int32_t nn = 0;
    const int32_t rc = v.Take(v.node, &nn);
    if (rc != FI_OK)
        return rc;
    v.Put(nn + nPos, d);
    v.Put(nn + nChildren, 2);
    v.Put(nn + nFlags, (n == v.wildA || o == v.wildA) ? kFlagWild : 0);
    const uint8_t tBranch = v.Byte(t + nBranch);
    if (p != 0) {
        SetBucketLink(v, p, pred, tBranch, nn);
        v.Put(nn + nBucketNext, v.Get(t + nBucketNext));
        v.SetByte(nn + nBranch, tBranch);
        v.Put(nn + nParent, p);
        UnlinkSibling(v, p, t);
        PushSibling(v, p, nn);
    } else {
        v.Put(ix.hdr + hRoot, nn);
    }
    Attach(v, nn, t, o);
    Attach(v, nn, nl, n);
    return FI_OK;
}

}  // namespace

int32_t ChildOf(const View& v, int32_t node, uint8_t c, int32_t* child)
{
    int32_t cur = v.Get(node + nBuckets + 4 * (c & 15));
    for (int32_t n = 0; cur != 0; ++n) {
        if (n >= kChainMax || !v.IsEntryOf(cur, node))
            return FI_EINVAL;
        if (v.Byte(cur + nBranch) == c)
            break;
        cur = v.Get(cur + nBucketNext);
    }
    *child = cur;
    return FI_OK;
}

bool PosOk(const View& v, int32_t node, int32_t keyLen, int32_t parentPos)
{
    const int32_t pos = v.Get(node + nPos);
    return pos > parentPos && pos < keyLen;
}

int32_t FreeTree(const View& v, const Index& ix)
{
    int32_t cur = v.Get(ix.hdr + hRoot);
    if (cur != 0 && !v.IsEntryOf(cur, 0))
        return FI_EINVAL;
    // Children before parents, without a stack: descend to a first child, free
    // it, and let its next sibling become the parent's first child.
    const int64_t limit = 2 * (int64_t{v.node.count} + v.leaf.count) + 2;
    for (int64_t steps = 0; cur != 0; ++steps) {
        if (steps > limit)
            return FI_EINVAL;
        if (v.IsNode(cur) && v.Get(cur + nFirst) != 0) {
            const int32_t child = v.Get(cur + nFirst);
            if (!v.IsEntryOf(child, cur) || (v.IsNode(child) && v.Get(child + nPos) <= v.Get(cur + nPos)))
                return FI_EINVAL;
            cur = child;
            continue;
        }
        const int32_t parent = v.Get(cur + nParent);
        const int32_t next = v.Get(cur + nNextSib);
        if (parent != 0 && next != 0 && !v.IsEntryOf(next, parent))
            return FI_EINVAL;
        if (!v.Give(v.IsLeaf(cur) ? v.leaf : v.node, cur))
            return FI_EINVAL;
        if (parent != 0)
            v.Put(parent + nFirst, next);
        cur = parent;
    }
    v.Put(ix.hdr + hRoot, 0);
    v.Put(ix.hdr + hKeys, 0);
    return FI_OK;
}

}  // namespace fi

using namespace fi;

int32_t FiInsert(FI_HDL h, const void* key, const void* value, int32_t* leaf)
{
    View v;
    Index ix;
    int32_t keyOff = 0;
    int32_t valueOff = 0;
    if (Bind(h, &v, &ix) != FI_OK || leaf == nullptr || (key == nullptr && ix.keyLen > 0) ||
        !OffsetFromBase(ix.base, key, &keyOff) || !OffsetFromBase(ix.base, value, &valueOff))
        return FI_EINVAL;
    const auto* k = static_cast<const uint8_t*>(key);

    // The leaf is taken first: with an empty leaf pool every insert fails
    // alike, whether the key is present or not.
    int32_t nl = 0;
    int32_t rc = v.Take(v.leaf, &nl);
    if (rc != FI_OK)
        return rc;
    int32_t l = 0;
    if (WalkDown(v, ix, k, true, &l) != FI_OK) {
        v.Give(v.leaf, nl);
        return FI_EINVAL;
    }
    int32_t d = 0;
    if (l != 0) {
        const uint8_t* stored = KeyOf(v, ix, l);
        while (d < ix.keyLen && stored[d] == k[d])
            ++d;
        if (d == ix.keyLen) {
            v.Give(v.leaf, nl);
            *leaf = l;
            return FI_EKEY_EXISTS;
        }
    }

    v.Put(nl + nPos, kLeafMark);
    v.Put(nl + lKey, keyOff);
    v.Put(nl + lValue, valueOff);
    if (l == 0) {
        v.Put(ix.hdr + hRoot, nl);
    } else {
        const uint8_t n = k[d];
        const uint8_t o = KeyOf(v, ix, l)[d];
        int32_t p = 0;
        int32_t t = 0;
        InsertionPoint(v, l, d, &p, &t);
        if (p != 0 && v.Get(p + nPos) == d) {
            int32_t there = 0;
            rc = ChildOf(v, p, n, &there);
            if (rc == FI_OK && (there != 0 || v.Get(p + nChildren) >= kMaxChildren || !FirstOk(v, p)))
                rc = FI_EINVAL;
            if (rc == FI_OK) {
                Attach(v, p, nl, n);
                v.Put(p + nChildren, v.Get(p + nChildren) + 1);
                if (n == v.wildA)
                    v.Put(p + nFlags, v.Get(p + nFlags) | kFlagWild);
            }
        } else {
            rc = Split(v, ix, p, t, nl, d, n, o);
        }
        if (rc != FI_OK) {
            v.Give(v.leaf, nl);
            return rc;
        }
    }
    v.Put(ix.hdr + hKeys, v.Get(ix.hdr + hKeys) + 1);
    *leaf = nl;
    return FI_OK;
}

int32_t FiSearch(FI_HDL h, const void* key, int32_t* leaf)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || leaf == nullptr || (key == nullptr && ix.keyLen > 0))
        return FI_EINVAL;
    const auto* k = static_cast<const uint8_t*>(key);
    int32_t l = 0;
    if (WalkDown(v, ix, k, false, &l) != FI_OK)
        return FI_EINVAL;
    if (l == 0)
        return FI_ENOTFOUND;
    const uint8_t* stored = KeyOf(v, ix, l);
    for (int32_t i = 0; i < ix.keyLen; ++i)
        if (stored[i] != k[i])
            return FI_ENOTFOUND;
    *leaf = l;
    return FI_OK;
}

int32_t FiRemove(FI_HDL h, int32_t leaf)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || !v.IsLeaf(leaf))
        return FI_EINVAL;
    // The leaf must hang in this index: climb to the root.
    int32_t top = leaf;
    int32_t pos = INT32_MAX;
    for (int32_t up = v.Get(top + nParent); up != 0; up = v.Get(top + nParent)) {
        if (!v.IsNode(up) || v.Get(up + nPos) >= pos)
            return FI_EINVAL;
        pos = v.Get(up + nPos);
        top = up;
    }
    if (top != v.Get(ix.hdr + hRoot))
        return FI_ENOTFOUND;

    const int32_t p = v.Get(leaf + nParent);
    if (p == 0) {
        v.Put(ix.hdr + hRoot, 0);
    } else {
        int32_t pred = 0;
        int32_t rc = BucketPred(v, p, leaf, &pred);
        if (rc != FI_OK)
            return rc;
        if (!SiblingsOk(v, p, leaf))
            return FI_EINVAL;
        const uint8_t branch = v.Byte(leaf + nBranch);
        const int32_t children = v.Get(p + nChildren);
        if (children - 1 < 2) {
            // The one remaining child takes the parent's place.
            const int32_t s = v.Get(leaf + nPrevSib) != 0 ? v.Get(leaf + nPrevSib) : v.Get(leaf + nNextSib);
            const int32_t g = v.Get(p + nParent);
            int32_t gpred = 0;
            if (!v.IsEntryOf(s, p))
                return FI_EINVAL;
            if (g != 0) {
                if (BucketPred(v, g, p, &gpred) != FI_OK || !SiblingsOk(v, g, p) || !FirstOk(v, g))
                    return FI_EINVAL;
            } else if (v.Get(ix.hdr + hRoot) != p) {
                return FI_EINVAL;
            }
            v.Put(s + nParent, g);
            v.Put(s + nPrevSib, 0);
            v.Put(s + nNextSib, 0);
            if (g != 0) {
                const uint8_t pBranch = v.Byte(p + nBranch);
                v.SetByte(s + nBranch, pBranch);
                SetBucketLink(v, g, gpred, pBranch, s);
                v.Put(s + nBucketNext, v.Get(p + nBucketNext));
                UnlinkSibling(v, g, p);
                PushSibling(v, g, s);
            } else {
                v.SetByte(s + nBranch, 0);
                v.Put(s + nBucketNext, 0);
                v.Put(ix.hdr + hRoot, s);
            }
            if (!v.Give(v.node, p))
                return FI_EINVAL;
        } else {
            SetBucketLink(v, p, pred, branch, v.Get(leaf + nBucketNext));
            UnlinkSibling(v, p, leaf);
            v.Put(p + nChildren, children - 1);
            if (branch == v.wildA)
                v.Put(p + nFlags, v.Get(p + nFlags) & ~kFlagWild);
        }
    }
    if (!v.Give(v.leaf, leaf))
        return FI_EINVAL;
    v.Put(ix.hdr + hKeys, v.Get(ix.hdr + hKeys) - 1);
    return FI_OK;
}

const void* FiLeafValue(FI_HDL h, int32_t leaf)
{
    View v;
    Index ix;
    if (Bind(h, &v, &ix) != FI_OK || !v.IsLeaf(leaf))
        return nullptr;
    return ix.base + static_cast<uint32_t>(v.Get(leaf + lValue));
}
