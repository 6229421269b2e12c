// Huffman trees of the deflate-style coder: frequency counting per block,
// length-limited code construction, the fixed/dynamic decision and the bit
// output of one block into the overflow buffer.
#include "cslib/huff_deflate.h"

#include "cslib/cslib.h"

#include <algorithm>
#include <cstring>

namespace huff {
namespace {

struct StaticCode {
    uint16_t code;
    uint16_t len;
};

// Codes (bit-reversed, ready to send) of a tree given by its lengths.
template <size_t N>
constexpr std::array<StaticCode, N> CanonicalCodes(const std::array<uint16_t, N>& lens)
{
    std::array<StaticCode, N> out{};
    uint16_t count[kMaxBits + 2] = {};
    for (auto l : lens)
        count[l]++;
    uint16_t next[kMaxBits + 2] = {};
    uint16_t code = 0;
    count[0] = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = static_cast<uint16_t>((code + count[bits - 1]) << 1);
        next[bits] = code;
    }
    for (size_t n = 0; n < N; ++n) {
        out[n].len = lens[n];
        if (lens[n])
            out[n].code = static_cast<uint16_t>(ReverseBits(next[lens[n]]++, lens[n]));
    }
    return out;
}

constexpr std::array<StaticCode, kLitLenCodes + 2> kStaticL = [] {
    std::array<uint16_t, kLitLenCodes + 2> lens{};
    for (int n = 0; n < kLitLenCodes + 2; ++n)
        lens[n] = static_cast<uint16_t>(FixedLitLenLength(n));
    return CanonicalCodes(lens);
}();

constexpr std::array<StaticCode, kDistCodes> kStaticD = [] {
    std::array<uint16_t, kDistCodes> lens{};
    for (auto& l : lens)
        l = kFixedDistLength;
    return CanonicalCodes(lens);
}();

struct TreeDesc {
    TreeNode* tree;
    const StaticCode* stree;
    const uint8_t* extra;
    int extraBase;
    int elems;
    int maxLength;
    int maxCode;
};

// Heap entries carry their own sort key: frequency, then depth, then the
// node number in the low 16 bits.  Entry a sorts before b when its frequency
// is smaller, or equal with a depth not above b's; the node number takes no
// part, which the compare gets by filling b's node bits with ones.
inline uint64_t HeapEntry(uint64_t freq, uint32_t depth, int node)
{
    return (freq << 24) | (static_cast<uint64_t>(depth) << 16) | static_cast<uint64_t>(node);
}
inline int NodeOf(uint64_t e)
{
    return static_cast<int>(e & 0xFFFF);
}
inline uint32_t DepthOf(uint64_t e)
{
    return static_cast<uint32_t>(e >> 16) & 0xFF;
}
inline bool Smaller(uint64_t a, uint64_t b)
{
    return a <= (b | 0xFFFF);
}

// In a large heap the choice between the two children goes either way at
// random and is made by a select; in a small one a branch predicts well and
// is quicker.  heap[heapLen + 1] must be readable (its value is not used).
template <bool kSelect>
void DownHeap(uint64_t* heap, int heapLen, int k)
{
    const uint64_t v = heap[k];
    int j = k << 1;
    while (j <= heapLen) {
        if constexpr (kSelect) {
            j += static_cast<int>((j < heapLen) & Smaller(heap[j + 1], heap[j]));
        } else if (j < heapLen && Smaller(heap[j + 1], heap[j])) {
            ++j;
        }
        if (Smaller(v, heap[j]))
            break;
        heap[k] = heap[j];
        k = j;
        j <<= 1;
    }
    heap[k] = v;
}

// Code lengths from the heap-ordered tree; lengths above maxLength are cut
// and the code is rebalanced so that the lengths still form a prefix code.
void GenBitLen(ComprState* s, TreeDesc& d)
{
    TreeNode* tree = d.tree;
    std::fill(std::begin(s->blCount), std::end(s->blCount), 0);
    tree[s->heap[s->heapMax]].len = 0;
    int overflow = 0;
    int h;
    for (h = s->heapMax + 1; h < kHeapSize; ++h) {
        const int n = s->heap[h];
        int bits = tree[tree[n].dad].len + 1;
        if (bits > d.maxLength) {
            bits = d.maxLength;
            ++overflow;
        }
        tree[n].len = static_cast<uint16_t>(bits);
        if (n > d.maxCode)
            continue;  // inner node
        s->blCount[bits]++;
        const int xbits = n >= d.extraBase ? d.extra[n - d.extraBase] : 0;
        const int64_t f = tree[n].freq;
        s->optLen += f * (bits + xbits);
        if (d.stree)
            s->staticLen += f * (d.stree[n].len + xbits);
    }
    if (overflow == 0)
        return;
    do {
        int bits = d.maxLength - 1;
        while (s->blCount[bits] == 0)
            --bits;
        s->blCount[bits]--;
        s->blCount[bits + 1] += 2;
        s->blCount[d.maxLength]--;
        overflow -= 2;
    } while (overflow > 0);
    h = kHeapSize;
    for (int bits = d.maxLength; bits != 0; --bits) {
        int n = s->blCount[bits];
        while (n != 0) {
            const int m = s->heap[--h];
            if (m > d.maxCode)
                continue;
            if (tree[m].len != bits) {
                s->optLen += (static_cast<int64_t>(bits) - tree[m].len) * static_cast<int64_t>(tree[m].freq);
                tree[m].len = static_cast<uint16_t>(bits);
            }
            --n;
        }
    }
}

// The low len (1..15) bits of code in reverse order, by swapping ever
// smaller groups of the 16-bit value instead of a loop over the bits.
inline uint32_t Reverse(uint32_t code, int len)
{
    code = ((code >> 1) & 0x5555) | ((code & 0x5555) << 1);
    code = ((code >> 2) & 0x3333) | ((code & 0x3333) << 2);
    code = ((code >> 4) & 0x0F0F) | ((code & 0x0F0F) << 4);
    code = ((code >> 8) & 0x00FF) | ((code & 0x00FF) << 8);
    return code >> (16 - len);
}

void GenCodes(TreeNode* tree, int maxCode, const uint16_t* blCount)
{
    uint16_t next[kMaxBits + 1];
    uint32_t code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + blCount[bits - 1]) << 1;
        next[bits] = static_cast<uint16_t>(code);
    }
    for (int n = 0; n <= maxCode; ++n) {
        const int len = tree[n].len;
        if (len == 0)
            continue;
        tree[n].code = static_cast<uint16_t>(Reverse(next[len]++, len));
    }
}

// Heap sizes above which DownHeap selects instead of branching.
constexpr int kSelectHeapLen = 48;

// Merges the two least nodes until one is left; the merge order goes to
// s->heap from the top down for GenBitLen.
template <bool kSelect>
void MergeNodes(ComprState* s, TreeNode* tree, uint64_t* heap, int heapLen, int node)
{
    for (int n = heapLen / 2; n >= 1; --n)
        DownHeap<kSelect>(heap, heapLen, n);
    do {
        const uint64_t a = heap[1];
        heap[1] = heap[heapLen--];
        DownHeap<kSelect>(heap, heapLen, 1);
        const uint64_t b = heap[1];
        const int n = NodeOf(a), m = NodeOf(b);
        s->heap[--s->heapMax] = n;
        s->heap[--s->heapMax] = m;
        const uint32_t freq = tree[n].freq + tree[m].freq;
        tree[node].freq = freq;
        tree[n].dad = tree[m].dad = static_cast<uint16_t>(node);
        heap[1] = HeapEntry(freq, std::max(DepthOf(a), DepthOf(b)) + 1, node);
        ++node;
        DownHeap<kSelect>(heap, heapLen, 1);
    } while (heapLen >= 2);
    s->heap[--s->heapMax] = NodeOf(heap[1]);
}

// Huffman construction with a heap: least frequency first, smaller depth
// first on ties; at least two codes so that every code has a length >= 1.
// The merge order is written to s->heap from the top down for GenBitLen.
void BuildTree(ComprState* s, TreeDesc& d)
{
    TreeNode* tree = d.tree;
    uint64_t heap[kHeapSize];
    int maxCode = -1;
    int heapLen = 0;
    s->heapMax = kHeapSize;
    for (int n = 0; n < d.elems; ++n) {
        if (tree[n].freq != 0) {
            heap[++heapLen] = HeapEntry(tree[n].freq, 0, n);
            maxCode = n;
        } else {
            tree[n].len = 0;
        }
    }
    while (heapLen < 2) {
        const int node = maxCode < 2 ? ++maxCode : 0;
        tree[node].freq = 1;
        heap[++heapLen] = HeapEntry(1, 0, node);
        s->optLen--;
        if (d.stree)
            s->staticLen -= d.stree[node].len;
    }
    heap[heapLen + 1] = ~uint64_t{0};
    d.maxCode = maxCode;
    if (heapLen > kSelectHeapLen)
        MergeNodes<true>(s, tree, heap, heapLen, d.elems);
    else
        MergeNodes<false>(s, tree, heap, heapLen, d.elems);
    GenBitLen(s, d);
    GenCodes(tree, maxCode, s->blCount);
}

// Counts the run-length codes that will describe a tree's lengths.
void ScanTree(ComprState* s, TreeNode* tree, int maxCode)
{
    int prevlen = -1;
    int nextlen = tree[0].len;
    int count = 0;
    int maxCount = 7, minCount = 4;
    if (nextlen == 0)
        maxCount = 138, minCount = 3;
    tree[maxCode + 1].len = 0xFFFF;  // guard
    for (int n = 0; n <= maxCode; ++n) {
        const int curlen = nextlen;
        nextlen = tree[n + 1].len;
        if (++count < maxCount && curlen == nextlen)
            continue;
        if (count < minCount) {
            s->blTree[curlen].freq += count;
        } else if (curlen != 0) {
            if (curlen != prevlen)
                s->blTree[curlen].freq++;
            s->blTree[16].freq++;
        } else if (count <= 10) {
            s->blTree[17].freq++;
        } else {
            s->blTree[18].freq++;
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0)
            maxCount = 138, minCount = 3;
        else if (curlen == nextlen)
            maxCount = 6, minCount = 3;
        else
            maxCount = 7, minCount = 4;
    }
}

// Bits go into a 64-bit buffer; every flush stores 8 bytes and advances by
// the whole bytes filled, so at most 7 bits stay behind.  A block hands out
// whole 16-bit units only; the rest waits for the next block.
class BitWriter {
public:
    BitWriter(ComprState* s, uint8_t* p)
        : s_(s),
          start_(p),
          buf_(s->bitBuf),
          n_(s->bitCount),
          p_(p)
    {
        Flush();
    }
    // Appends bits without flushing: at most 48 bits after a flush.
    void Add(uint64_t value, int len)
    {
        buf_ |= value << n_;
        n_ += len;
    }
    void Flush()
    {
        std::memcpy(p_, &buf_, 8);  // little-endian host; the buffer has slack
        p_ += n_ >> 3;
        buf_ >>= (n_ & 56);
        n_ &= 7;
    }
    void Put(uint32_t value, int len)
    {
        Add(value, len);
        Flush();
    }
    uint8_t* Finish()
    {
        Flush();
        // Written: (p_ - start_) bytes plus n_ bits, the kept bits included.
        // Give back a byte that only half fills a 16-bit unit.
        const uint64_t total = static_cast<uint64_t>(p_ - start_) * 8 + static_cast<uint64_t>(n_);
        uint8_t* const end = start_ + (total / 16) * 2;
        if (p_ > end) {  // one byte beyond the last whole unit
            buf_ = (buf_ << 8) | *end;
            n_ += 8;
            p_ = end;
        }
        s_->bitBuf = buf_;
        s_->bitCount = n_;
        return p_;
    }
    // Hands the buffer state to body, which may add bits and must leave at
    // most 7 behind, as Flush does.
    template <typename Body>
    void Sync(Body body)
    {
        Flush();
        body(buf_, n_, p_);
    }
    // Pads to a byte boundary.
    uint8_t* Windup()
    {
        Flush();
        s_->lastPadBits = n_ > 0 ? static_cast<uint32_t>(8 - n_) : 0;
        if (n_ > 0)
            *p_++ = static_cast<uint8_t>(buf_);
        s_->bitBuf = 0;
        s_->bitCount = 0;
        return p_;
    }

private:
    ComprState* s_;
    uint8_t* const start_;
    uint64_t buf_;
    int n_;
    uint8_t* p_;
};

void SendTree(BitWriter& w, const TreeNode* tree, const TreeNode* bl, int maxCode)
{
    int prevlen = -1;
    int nextlen = tree[0].len;
    int count = 0;
    int maxCount = 7, minCount = 4;
    if (nextlen == 0)
        maxCount = 138, minCount = 3;
    for (int n = 0; n <= maxCode; ++n) {
        const int curlen = nextlen;
        nextlen = tree[n + 1].len;
        if (++count < maxCount && curlen == nextlen)
            continue;
        if (count < minCount) {
            do
                w.Put(bl[curlen].code, bl[curlen].len);
            while (--count != 0);
        } else if (curlen != 0) {
            if (curlen != prevlen) {
                w.Put(bl[curlen].code, bl[curlen].len);
                --count;
            }
            w.Put(bl[16].code, bl[16].len);
            w.Put(count - 3, 2);
        } else if (count <= 10) {
            w.Put(bl[17].code, bl[17].len);
            w.Put(count - 3, 3);
        } else {
            w.Put(bl[18].code, bl[18].len);
            w.Put(count - 11, 7);
        }
        count = 0;
        prevlen = curlen;
        if (nextlen == 0)
            maxCount = 138, minCount = 3;
        else if (curlen == nextlen)
            maxCount = 6, minCount = 3;
        else
            maxCount = 7, minCount = 4;
    }
}

// Sends the block's symbols.  Per block, one table gives each literal and
// each match length its code with the extra bits already in place, and one
// each distance code's, with an empty entry for a literal's: literals and
// matches then take the same path, as the mix of the two defeats branch
// prediction.  The bit buffer lives in locals for the loop.
template <typename LTree, typename DTree>
void CompressSymbols(const ComprState* s, BitWriter& w, const LTree* ltree, const DTree* dtree)
{
    // Entry: the bits in the low 32, their count in the high 32.
    uint64_t symTab[2 * 256];
    for (int c = 0; c < 256; ++c)
        symTab[c] = ltree[c].code | static_cast<uint64_t>(ltree[c].len) << 32;
    for (int lc = 0; lc < 256; ++lc) {
        const int lcode = kLengthCode[lc];
        const auto& le = ltree[lcode + kLiterals + 1];
        const uint64_t bits = le.code | static_cast<uint64_t>(lc + 3 - kLengthBase[lcode]) << le.len;
        symTab[256 + lc] = bits | static_cast<uint64_t>(le.len + kLengthExtra[lcode]) << 32;
    }
    struct DistEntry {
        uint64_t code;     // the code less (smallest distance - 1) shifted past it, mod 2^64
        uint32_t codeLen;  // bits of the code
        uint32_t len;      // bits of the code and its extra bits
    };
    // Entry kNoDistCode adds nothing: a literal's distance part.
    DistEntry dtab[kNoDistCode + 1] = {};
    for (int c = 0; c < kDistCodes; ++c) {
        dtab[c].code = dtree[c].code - (static_cast<uint64_t>(kDistBase[c] - 1) << dtree[c].len);
        dtab[c].codeLen = dtree[c].len;
        dtab[c].len = dtree[c].len + kDistExtra[c];
    }
    w.Sync([&](uint64_t& buf, int& nbits, uint8_t*& p) {
        uint64_t b = buf;
        uint32_t nb = static_cast<uint32_t>(nbits);
        uint8_t* q = p;
        const uint32_t n = s->symCount;
        const uint32_t* const symBuf = s->sym;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t v = symBuf[i];
            const uint64_t e = symTab[v & 511];
            const DistEntry& de = dtab[(v >> 9) & 31];
            // Adding d << codeLen to the entry's code gives code | (d - base + 1) << codeLen.
            const uint64_t distBits = de.code + (static_cast<uint64_t>(v >> 14) << de.codeLen);
            const uint32_t firstLen = static_cast<uint32_t>(e >> 32);
            b |= (static_cast<uint32_t>(e) | distBits << firstLen) << nb;
            nb += firstLen + de.len;
            std::memcpy(q, &b, 8);
            q += nb >> 3;
            b >>= nb & 56;
            nb &= 7;
        }
        buf = b;
        nbits = static_cast<int>(nb);
        p = q;
    });
    w.Put(ltree[kEndBlock].code, ltree[kEndBlock].len);
}

}  // namespace

void InitBlock(ComprState* s)
{
    for (int n = 0; n < kLitLenCodes; ++n)
        s->dynL[n].freq = 0;
    for (int n = 0; n < kDistCodes; ++n)
        s->dynD[n].freq = 0;
    for (int n = 0; n < kBitLenCodes; ++n)
        s->blTree[n].freq = 0;
    s->dynL[kEndBlock].freq = 1;
    s->optLen = s->staticLen = 0;
    s->symCount = s->distCount = 0;
}

void SendBits(ComprState* s, uint32_t value, int len)
{
    s->bitBuf |= static_cast<uint64_t>(value) << s->bitCount;
    s->bitCount += len;
}

int FlushBlock(ComprState* s, bool last)
{
    TreeDesc ld{s->dynL, kStaticL.data(), kLengthExtra.data(), kLiterals + 1, kLitLenCodes, kMaxBits, 0};
    TreeDesc dd{s->dynD, kStaticD.data(), kDistExtra.data(), 0, kDistCodes, kMaxBits, 0};
    TreeDesc bd{s->blTree, nullptr, kBitLenExtra.data(), 0, kBitLenCodes, kMaxBitLenBits, 0};
    BuildTree(s, ld);
    BuildTree(s, dd);
    ScanTree(s, s->dynL, ld.maxCode);
    ScanTree(s, s->dynD, dd.maxCode);
    BuildTree(s, bd);
    int maxBlIndex;
    for (maxBlIndex = kBitLenCodes - 1; maxBlIndex >= 3; --maxBlIndex)
        if (s->blTree[kBitLenOrder[maxBlIndex]].len != 0)
            break;
    s->optLen += 3 * (maxBlIndex + 1) + 5 + 5 + 4;

    const int64_t optBytes = (s->optLen + 3 + 7) >> 3;
    const int64_t staticBytes = (s->staticLen + 3 + 7) >> 3;
    const bool fixed = staticBytes <= optBytes;
    // Room check: the block, the bits kept from before, padding and the 0x00.
    const int64_t need = std::min(optBytes, staticBytes) + 8 + 8;
    // The writer stores 8 bytes at a time past its position: the direct
    // output must hold that too.
    const bool direct = s->ovfLen == 0 && static_cast<int64_t>(s->directRoom) >= need + 8;
    if (!direct && static_cast<int64_t>(s->ovfLen) + need > kOverflowSize)
        return CS_E_OUT_TOO_SMALL;

    uint8_t* const start = direct ? s->directOut : s->ovf + s->ovfLen;
    BitWriter w(s, start);
    if (fixed) {
        w.Put((1 << 1) + (last ? 1 : 0), 3);
        CompressSymbols(s, w, kStaticL.data(), kStaticD.data());
    } else {
        w.Put((2 << 1) + (last ? 1 : 0), 3);
        const int lcodes = ld.maxCode + 1, dcodes = dd.maxCode + 1, blcodes = maxBlIndex + 1;
        w.Put(lcodes - 257, 5);
        w.Put(dcodes - 1, 5);
        w.Put(blcodes - 4, 4);
        for (int rank = 0; rank < blcodes; ++rank)
            w.Put(s->blTree[kBitLenOrder[rank]].len, 3);
        SendTree(w, s->dynL, s->blTree, lcodes - 1);
        SendTree(w, s->dynD, s->blTree, dcodes - 1);
        // Drop the run guards of ScanTree: CompressSymbols also reads the
        // entries of unused codes (and discards them), which must be plain.
        s->dynL[lcodes].len = 0;
        s->dynD[dcodes].len = 0;
        CompressSymbols(s, w, s->dynL, s->dynD);
    }
    uint8_t* end = last ? w.Windup() : w.Finish();
    if (last)
        *end++ = 0;
    if (direct) {
        const uint32_t n = static_cast<uint32_t>(end - start);
        s->directOut += n;
        s->directRoom -= n;
    } else {
        s->ovfLen = static_cast<uint32_t>(end - s->ovf);
    }
    InitBlock(s);
    return 0;
}

}  // namespace huff
