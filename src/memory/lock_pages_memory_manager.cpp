// Physical addresses from the kernel's page lock.
#include "memory/lock_pages_memory_manager.h"

#include "console/console.h"
#include "platform/address.h"

namespace quorvel {

namespace {
// LockPages writes one frame number per system page of the range; this is room for
// pages of up to 16 system pages of 4 KB.
constexpr std::uint32_t PFN_WORDS = 16;
constexpr std::uint32_t SYSTEM_PAGE = 4096;
}  // namespace

LockPagesMemoryManager::LockPagesMemoryManager(ce::LockPagesRoutine lock, ce::UnlockPagesRoutine unlock,
                                               Console*& consoleIn, std::uint32_t pageBytes, std::uint32_t frameShift)
    : MemoryManager(consoleIn, pageBytes), lockPages(lock), unlockPages(unlock), pfnShift(frameShift) {
    console().print(u"MemoryManager: LockPages\n");
}

std::uint32_t LockPagesMemoryManager::lookupPhysical(std::uint32_t vaddr) {
    ce::DWORD pfns[PFN_WORDS];
    for (ce::DWORD& pfn : pfns) pfn = NO_ADDRESS;
    if (!lockPages || pageSize > PFN_WORDS * SYSTEM_PAGE) return NO_ADDRESS;
    // A failed lock leaves nothing to trust, whatever it wrote.
    if (!lockPages(ce::pointerAt(vaddr), pageSize, pfns, ce::LOCKFLAG_WRITE)) return NO_ADDRESS;
    if (!unlockPages || !unlockPages(ce::pointerAt(vaddr), pageSize)) console().print(u"can't unlock pages\n");

    std::uint64_t pfn = pfns[0];
    std::uint64_t physical = pfnShift <= pageShift ? (pfn >> (pageShift - pfnShift)) << pageShift
                                                   : (pfn << (pfnShift - pageShift)) << pageShift;
    return static_cast<std::uint32_t>(physical);
}

}  // namespace quorvel
