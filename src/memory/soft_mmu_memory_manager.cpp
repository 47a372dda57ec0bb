// Physical addresses from a walk of the ARMv4 translation tables.
#include "memory/soft_mmu_memory_manager.h"

#include <cstring>

#include "console/console.h"
#include "platform/cpu.h"
#include "platform/address.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr std::uint32_t MODE_MASK = 0x1F;
constexpr std::uint32_t MODE_SYSTEM = 0x1F;
constexpr std::uint32_t ALL_DOMAINS_MANAGER = 0xFFFFFFFFu;
constexpr std::uint32_t TABLE_BASE_MASK = 0xFFFFC000u;
// The process ID register holds the process's slot; only addresses below the first
// slot (32 MB) are relocated into it, as the MMU does.
constexpr std::uint32_t PROCESS_ID_MASK = 0xFE000000u;
constexpr std::uint32_t SLOT_SIZE = 0x02000000u;
constexpr std::uint8_t FILL_BYTE = 0xA5;

constexpr std::uint32_t FIRST_COARSE = 1;
constexpr std::uint32_t FIRST_SECTION = 2;
constexpr std::uint32_t SECOND_LARGE = 1;
constexpr std::uint32_t SECOND_SMALL = 2;

}  // namespace

SoftMmuMemoryManager::SoftMmuMemoryManager(Console*& consoleIn, std::uint32_t pageBytes)
    : MemoryManager(consoleIn, pageBytes) {
    console().print(u"Use ARM software MMU.\n");
}

SoftMmuMemoryManager::~SoftMmuMemoryManager() {
    if (kModeSaved_) ce::SetKMode(savedKMode_);
}

int SoftMmuMemoryManager::init() {
    // Saved once: a second init must not take the kernel mode it set for the original.
    ce::BOOL previous = ce::SetKMode(ce::TRUE);
    if (!kModeSaved_) {
        savedKMode_ = previous;
        kModeSaved_ = true;
    }
    if ((readCpsr() & MODE_MASK) != MODE_SYSTEM) {
        console().print(u"not System mode\n");
        return 0;
    }
    // Manager access everywhere, so that no domain check stops the walk's reads.
    writeCp15c3(ALL_DOMAINS_MANAGER);
    std::uint32_t ttb = readCp15c2();
    pageDirectory_ = ttb & TABLE_BASE_MASK;
    std::uint32_t firstWord = readPhysicalWord(pageDirectory_);
    console().print(u"page directory address=0x%08x->0x%08x(0x%08x)\n", pageDirectory_, firstWord, ttb);
    return 1;
}

std::uint32_t SoftMmuMemoryManager::lookupPhysical(std::uint32_t vaddr) {
    // Windows CE maps a committed page on first touch; writing it makes sure its
    // descriptor is there to find.
    if (pageSize != 0) std::memset(ce::pointerAt(vaddr - vaddr % pageSize), FILL_BYTE, pageSize);
    return translate(vaddr);
}

std::uint32_t SoftMmuMemoryManager::translate(std::uint32_t vaddr) {
    console().print(u"Virtual Address 0x%08x", vaddr);
    std::uint32_t mva = vaddr < SLOT_SIZE ? vaddr | (readCp15c13() & PROCESS_ID_MASK) : vaddr;
    console().print(u"(+PID)-> 0x%08x\n", mva);

    std::uint32_t address1 = pageDirectory_ | ((mva >> 18) & 0x3FFC);
    std::uint32_t d1 = readPhysicalWord(address1);
    console().print(u"1st level descriptor 0x%08x(addr 0x%08x)\n", d1, address1);

    if ((d1 & 3) == FIRST_SECTION) {
        std::uint32_t pa = (d1 & 0xFFF00000u) | (mva & 0x000FFFFFu);
        console().print(u"section Physical Address 0x%08x\n", pa);
        return pa;
    }
    if ((d1 & 3) != FIRST_COARSE) {
        // A fault, or a fine table: this system never makes fine tables.
        console().print(u"1st level descriptor fault.\n");
        return NO_ADDRESS;
    }
    console().print(u"-> Level2 page descriptor.\n");
    std::uint32_t address2 = (d1 & 0xFFFFFC00u) | ((mva >> 10) & 0x3FC);
    std::uint32_t d2 = readPhysicalWord(address2);
    console().print(u"2nd level descriptor 0x%08x(addr 0x%08x)\n", d2, address2);
    if ((d2 & 3) == SECOND_LARGE) return (d2 & 0xFFFF0000u) | (mva & 0xFFFF);
    if ((d2 & 3) == SECOND_SMALL) return (d2 & 0xFFFFF000u) | (mva & 0xFFF);
    console().print(u"2nd level descriptor fault.\n");
    return NO_ADDRESS;
}

}  // namespace quorvel
