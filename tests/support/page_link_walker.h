// Performs a PageLink list over the simulated physical memory the way the
// second-stage loader does after the MMU is off, so tests can see what lands where.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "loader/page_link.h"
#include "sim/physical_memory.h"

namespace testing_support {

// The PXA-2x0 loader folds every destination (and the entry) into the first 16 MB
// of SDRAM at 0xA0000000.
enum class DestinationFold { None, Pxa2x0 };

struct PageLinkWalk {
    bool ok = false;
    std::string error;                       // why the walk stopped early
    std::vector<quorvel::PageLink> entries;  // as read, in the order performed
    std::uint32_t lastEnd = 0;               // (folded) dst + size of the last entry performed
    std::uint32_t stackPointer = 0;          // what the loader sets before entering the kernel
};

// `maxEntries` stops a list that never ends.
PageLinkWalk walkPageLinks(sim::PhysicalMemory& memory, std::uint32_t head,
                           DestinationFold fold = DestinationFold::None, std::size_t maxEntries = 1u << 20);

std::uint32_t foldDestination(std::uint32_t address, DestinationFold fold);

// Bytes of simulated physical memory, e.g. to read back what a walk placed.
std::string readPhysical(sim::PhysicalMemory& memory, std::uint32_t address, std::uint32_t size);

}  // namespace testing_support
