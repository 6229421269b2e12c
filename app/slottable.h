// The growth of the open-addressing tables that note names by their place
// (CWrittenNames, CSigningPlaces): each slot keeps the hash of its name
// (field hash) and is free where its field offset is 0.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Doubles table (to 1024 slots at least) and puts every slot back where the
// low bits of its hash lead: the low bits a slot keeps are all a table of
// any size reads, so that no name is hashed again.
template <typename Slot>
void GrowSlotTable(std::vector<Slot>& table)
{
    std::vector<Slot> old(std::max<size_t>(1024, 2 * table.size()));
    old.swap(table);
    const size_t mask = table.size() - 1;
    for (const Slot& slot : old) {
        if (slot.offset == 0)
            continue;
        size_t i = slot.hash;
        while (table[i & mask].offset != 0)
            ++i;
        table[i & mask] = slot;
    }
}
