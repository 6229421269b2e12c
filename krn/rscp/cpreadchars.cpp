// The characters of a code page as its conversions read them: the input
// table of a converter into UTF-8, copied block by block from the first
// byte of a character on.
#include "krn/rscp/cpreadchars.h"

#include <map>

#include "krn/rscp/cpactivate.h"
#include "krn/rscp/cptab.h"

namespace {

// More blocks than any double-byte or EUC page's table holds (about 200).
constexpr size_t kMostBlocks = 4096;

// The length of the character that the word ends after depth bytes: its
// length attribute where set, the bytes of a range rule, else the bytes read.
uint16_t EndingLength(const rscpCcc_t* c, uint32_t w, uint32_t depth)
{
    if (rscpT1IsRule(w, RSCP_RULE_RANGE)) {
        const uint32_t slot = rscpT1RuleAttr(w);
        if (slot < RSCP_RULEINFO_SLOTS && c->ruleInfo[slot].bytes > depth)
            return uint16_t(c->ruleInfo[slot].bytes);
    }
    const uint32_t n = rscpT1Length(w);
    return uint16_t(n > depth ? n : depth);
}

// Copies the blocks reachable from root; false when the table is damaged
// or larger than any page's.
bool CopyBlocks(const rscpCcc_t* c, uint32_t root, rscpReadChars* chars)
{
    std::map<uint32_t, uint16_t> copied{{root, 0}};
    std::vector<uint32_t> pending{root};
    std::vector<uint32_t> depths{1};
    chars->blocks.assign(256, 0);
    for (size_t at = 0; at < pending.size(); ++at) {
        const uint32_t block = pending[at], depth = depths[at];
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t w = 0;
            if (!rscpT1Word(c, block, b, &w))
                return false;
            uint16_t entry = 0;
            if (rscpT1Kind(w) == RSCP_T1_NEXT) {
                const uint32_t next = rscpT1Block(w);
                auto found = copied.find(next);
                if (found == copied.end()) {
                    if (pending.size() == kMostBlocks)
                        return false;
                    found = copied.emplace(next, uint16_t(pending.size())).first;
                    pending.push_back(next);
                    depths.push_back(depth + 1);
                    chars->blocks.resize(chars->blocks.size() + 256, 0);
                }
                entry = uint16_t(RSCP_READ_NEXT + found->second);
                chars->multiByte = true;
            } else if (rscpT1Kind(w) != RSCP_T1_EMPTY) {
                entry = EndingLength(c, w, depth);
                if (entry > chars->longest)
                    chars->longest = entry;
            }
            chars->blocks[size_t(at) * 256 + b] = entry;
        }
    }
    return true;
}

}  // namespace

uint32_t rscpReadCharsOfCP(const char* cp4, rscpReadChars* chars)
{
    *chars = rscpReadChars{};
    rscpCObj_t obj{};
    uint32_t rc = rscpCInit(&obj, cp4, "4110", RSCPMISS_STOP, RSCPBROKEN_STOP_FINALLY, RSCPFILL_NEVER);
    if (rc == RSCP_OK)
        rc = rscpCSetUseF1(&obj, RSCPF1_NOT);
    if (rc == RSCP_OK)
        rc = rscpCSetCtrlCodeCv(&obj, RSCPCTRL_TRY);
    if (rc == RSCP_OK)
        rc = rscpCActivate(&obj);
    if (rc != RSCP_OK)
        return rc;
    // An ISO-2022 page starts each character in the block of its shift
    // state: its characters are told by the shifts of the text.
    chars->shifted = (obj.iso2022 & 0x3FFu) != 0;
    if (!chars->shifted && !CopyBlocks(rscpmp, obj.in_no, chars)) {
        *chars = rscpReadChars{};
        rc = RSCPEINTERN;
    }
    rscpCRelease(&obj);
    return rc;
}

size_t rscpLengthOfReadChar(const rscpReadChars& chars, const uint8_t* p, size_t left)
{
    if (chars.blocks.empty())
        return 1;
    size_t block = 0;
    for (size_t read = 1;; ++read) {
        const uint16_t entry = chars.blocks[block * 256 + p[read - 1]];
        if (entry == 0)
            return read > 1 ? read - 1 : 1;
        if (entry < RSCP_READ_NEXT)
            return entry < left ? entry : left;
        if (read == left)
            return left;
        block = entry - RSCP_READ_NEXT;
    }
}
