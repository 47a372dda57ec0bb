// The memory manager that asks the kernel for each pool page's physical address
// with coredll's LockPages and UnlockPages.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"
#include "platform/coredll.h"

namespace quorvel {

class LockPagesMemoryManager : public MemoryManager {
public:
    // pfnShift: LockPages reports the physical address shifted right by this much.
    LockPagesMemoryManager(ce::LockPagesRoutine lockPages, ce::UnlockPagesRoutine unlockPages, Console*& consoleSlot,
                           std::uint32_t pageSize, std::uint32_t pfnShift);

    std::uint32_t lookupPhysical(std::uint32_t vaddr) override;

    const ce::LockPagesRoutine lockPages;
    const ce::UnlockPagesRoutine unlockPages;
    const std::uint32_t pfnShift;
};

}  // namespace quorvel
