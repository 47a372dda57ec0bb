// The last check before leaving Windows CE: the copy list must not overwrite, before
// their last use, the pages the second-stage loader still needs.
#pragma once

#include <cstdint>

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

// True when the list can be performed as it stands; otherwise prints what a
// destination would overwrite and returns false.
bool checkHandOver(MemoryManager& memory, const HandOverPlan& plan, Console& console);

}  // namespace quorvel
