// The memory manager that finds a pool page's physical address by marking the page
// with a random signature and searching physical memory for it, 4 MB at a time.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"

namespace quorvel {

// Never a signature word; written over the signature when a search ends.
constexpr std::uint32_t SIGNATURE_CLEARED = 0xAC1DCAFE;

class VirtualCopyMemoryManager : public MemoryManager {
public:
    static constexpr std::uint32_t WINDOW_SIZE = 0x400000;

    VirtualCopyMemoryManager(Console*& consoleSlot, std::uint32_t pageSize);

    std::uint32_t lookupPhysical(std::uint32_t vaddr) override;

    // Start of the window where the last page was found; 0 for none.
    std::uint32_t searchHint = 0;
    std::uint32_t magic0 = 0;
    std::uint32_t magic1 = 0;
    volatile std::uint32_t* magicTarget = nullptr;

private:
    std::uint32_t searchAllBanks();
    std::uint32_t searchBank(const MemoryBank& bank);
    std::uint32_t drawSignatureWord();
};

}  // namespace quorvel
