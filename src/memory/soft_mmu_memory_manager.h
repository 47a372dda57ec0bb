// The memory manager that finds a page's physical address by walking the
// processor's ARMv4 translation tables itself, in kernel mode.
#pragma once

#include <cstdint>

#include "memory/memory_manager.h"
#include "platform/types.h"

namespace quorvel {

class SoftMmuMemoryManager : public MemoryManager {
public:
    SoftMmuMemoryManager(Console*& consoleSlot, std::uint32_t pageSize);
    ~SoftMmuMemoryManager() override;  // gives the thread its previous mode back

    // Enters kernel mode, opens every domain and reads the table base; 0 when the
    // processor is not in System mode.
    int init() override;
    // Touches the page (filling it with 0xA5) so that it is mapped, then translates.
    std::uint32_t lookupPhysical(std::uint32_t vaddr) override;
    // The walk alone: what the MMU makes of vaddr, NO_ADDRESS on a fault.
    std::uint32_t translate(std::uint32_t vaddr);

    std::uint32_t pageDirectory() const { return pageDirectory_; }
    ce::BOOL savedKMode() const { return savedKMode_; }

private:
    ce::BOOL savedKMode_ = ce::FALSE;
    bool kModeSaved_ = false;
    std::uint32_t pageDirectory_ = 0;
};

}  // namespace quorvel
