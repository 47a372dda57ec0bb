// The last check before leaving Windows CE: the copy list must not overwrite, before
// their last use, the pages the second-stage loader still needs, must not place two
// pieces on the same memory, and must write nothing outside RAM. And, before
// anything is loaded, where the loader will write the kernel's destinations.
#pragma once

#include <cstdint>
#include <vector>

#include "memory/address_range.h"

namespace quorvel {

class Console;
class MemoryManager;

struct HandOverPlan {
    std::uint32_t parameterPagePhys;
    std::uint32_t pageLinkPhys;
    std::uint32_t loaderPaddr;
    std::uint32_t stackPaddr;
    bool foldsDestinations;
};

// The first 16 MB of SDRAM, where the PXA-2x0 loader folds every destination.
constexpr std::uint32_t FOLD_BASE = 0xA0000000;
constexpr std::uint32_t FOLD_SIZE = 0x01000000;

// Populated RAM as physical mappings show it: for each of the CPU's banks, the run of
// RAM from its base.
std::vector<AddressRange> populatedRam(MemoryManager& memory);

// True when the list can be performed as it stands; otherwise prints what a
// destination would overwrite, or where it lies outside RAM, and returns false.
bool checkHandOver(MemoryManager& memory, const HandOverPlan& plan, Console& console);

// The memory the loader writes for the given destinations (folded when the CPU's
// loader folds them), for the pool to keep out of. False, with a line saying why,
// when two destinations would land on the same memory or the fold would split one.
bool placeDestinations(std::vector<AddressRange>& destinations, bool folds, Console& console);

}  // namespace quorvel
