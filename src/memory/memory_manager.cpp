// The page pool, its translation table and the short-lived physical mappings.
#include "memory/memory_manager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "console/console.h"
#include "platform/address.h"
#include "platform/coredll.h"
#include "platform/registers.h"

namespace quorvel {

namespace {

constexpr std::uint64_t REGION_GRANULARITY = 0x10000;  // Windows CE reserves in 64 KB steps
constexpr ce::DWORD POOL_PROTECTION = ce::PAGE_READWRITE | ce::PAGE_NOCACHE;
constexpr ce::DWORD PHYSICAL_MAPPING = ce::PAGE_PHYSICAL | ce::PAGE_NOCACHE;
constexpr std::uint32_t PAGE_LINK_SIZE = 16;

std::uint32_t trailingZeros(std::uint32_t pageSize) {
    std::uint32_t shift = 0;
    if (pageSize == 0) return 0;
    while (!(pageSize & 1)) {
        pageSize >>= 1;
        ++shift;
    }
    return shift;
}

std::uint64_t roundUp(std::uint64_t value, std::uint64_t step) { return (value + step - 1) / step * step; }

}  // namespace

MemoryManager::MemoryManager(Console*& consoleIn, std::uint32_t pageBytes)
    : pageSize(pageBytes), pageShift(trailingZeros(pageBytes)), consoleSlot(consoleIn) {}

MemoryManager::~MemoryManager() { releasePool(); }

void MemoryManager::releasePool() {
    if (poolBase_) ce::VirtualFree(ce::pointerAt(poolBase_), 0, ce::MEM_RELEASE);
    for (std::uint32_t region : extraRegions_) ce::VirtualFree(ce::pointerAt(region), 0, ce::MEM_RELEASE);
    extraRegions_.clear();
    poolBase_ = 0;
}

Console& MemoryManager::console() const { return consoleSlot ? *consoleSlot : *theConsole(); }

void MemoryManager::addBank(std::uint32_t address, std::uint32_t size) {
    // The table is fixed; the architectures add four banks.
    if (bankCount_ >= MEMORY_BANK_MAX) return;
    banks_[bankCount_] = MemoryBank{address, size};
    console().print(u"[%d] 0x%08x size 0x%08x\n", bankCount_, address, size);
    ++bankCount_;
}

int MemoryManager::buildPool(std::uint32_t size, bool perPageCommit) {
    if (size == 0 || pageSize == 0) return 0;
    std::uint32_t count = size / pageSize + (size % pageSize ? 1 : 0);
    // Every page of the table lies inside the region, whatever the page size.
    std::uint64_t regionSize = roundUp(std::uint64_t(count) * pageSize, REGION_GRANULARITY);

    // A pool built again replaces the earlier one.
    releasePool();
    translationTable_.reset();
    poolCount_ = 0;
    frontIndex_ = 0;
    tableEntries_ = 0;
    mappedEntries_ = 0;
    setAside_ = 0;

    translationTable_.reset(new (std::nothrow) TranslationEntry[count]());
    if (!translationTable_) {
        console().print(u"can't allocate memory for translation table.\n");
        return 0;
    }
    tableEntries_ = count;
    console().print(u"address translation table %d pages. (0x%x bytes)\n", count,
                    count * static_cast<std::uint32_t>(sizeof(TranslationEntry)));

    void* region = nullptr;
    if (regionSize <= 0xFFFFFFFFu) {
        auto bytes = static_cast<ce::DWORD>(regionSize);
        region = perPageCommit ? ce::VirtualAlloc(nullptr, bytes, ce::MEM_RESERVE, ce::PAGE_NOACCESS)
                               : ce::VirtualAlloc(nullptr, bytes, ce::MEM_COMMIT, POOL_PROTECTION);
    }
    if (!region) {
        console().print(u"can't allocate memory\n");
        return 0;
    }
    poolBase_ = ce::addressOf(region);
    poolCount_ = 0;

    bool complete = true;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t vaddr = poolBase_ + i * pageSize;
        std::uint32_t paddr = NO_ADDRESS;
        if (perPageCommit) {
            // A page that cannot be committed has no physical address to find.
            void* page = ce::VirtualAlloc(ce::pointerAt(vaddr), pageSize, ce::MEM_COMMIT, POOL_PROTECTION);
            if (page) {
                vaddr = ce::addressOf(page);
                paddr = lookupPhysical(vaddr);
            }
        } else {
            paddr = lookupPhysical(vaddr);
        }
        if (paddr == NO_ADDRESS) {
            console().print(u"page#%d not found\n", i);
            complete = false;
            break;
        }
        if (keptOut(paddr)) {
            ++setAside_;
            continue;
        }
        translationTable_[poolCount_] = TranslationEntry{vaddr, paddr};
        ++poolCount_;
    }
    // Without pages set aside, entry i is the page at poolBase + i pages.
    if (complete && setAside_ > 0 && !replaceSetAsidePages(count)) return 0;
    mappedEntries_ = static_cast<std::uint32_t>(poolCount_);
    console().print(u"allocated %d page. mapped %d page.\n", count, poolCount_);
    if (!keepOut_.empty()) {
        console().print(u"%d pool pages set aside inside the kernel's destinations (0x%x bytes more).\n", setAside_,
                        setAside_ * pageSize);
    }
    return 1;
}

bool MemoryManager::keptOut(std::uint32_t paddr) const {
    const AddressRange page{paddr - paddr % pageSize, std::uint64_t(paddr - paddr % pageSize) + pageSize};
    for (const AddressRange& range : keepOut_)
        if (range.overlaps(page)) return true;
    return false;
}

bool MemoryManager::replaceSetAsidePages(std::uint32_t count) {
    while (static_cast<std::uint32_t>(poolCount_) < count) {
        // A page inside the ranges costs one page only: it stays committed, set aside.
        std::uint32_t missing = count - static_cast<std::uint32_t>(poolCount_);
        std::uint64_t bytes = roundUp(std::uint64_t(missing) * pageSize, REGION_GRANULARITY);
        void* region = bytes <= 0xFFFFFFFFu ? ce::VirtualAlloc(nullptr, static_cast<ce::DWORD>(bytes), ce::MEM_RESERVE,
                                                               ce::PAGE_NOACCESS)
                                            : nullptr;
        if (!region) {
            console().print(u"no address space for %d pages outside the kernel's destinations.\n", missing);
            return false;
        }
        std::uint32_t base = ce::addressOf(region);
        extraRegions_.push_back(base);
        std::uint32_t pages = static_cast<std::uint32_t>(bytes / pageSize);
        // The missing pages in one commit where RAM has them all; else one at a time,
        // so that the last pages RAM has are found too.
        const bool together = ce::VirtualAlloc(region, missing * pageSize, ce::MEM_COMMIT, POOL_PROTECTION) != nullptr;
        for (std::uint32_t i = 0; i < pages && static_cast<std::uint32_t>(poolCount_) < count; ++i) {
            void* page = together && i < missing
                             ? ce::pointerAt(base + i * pageSize)
                             : ce::VirtualAlloc(ce::pointerAt(base + i * pageSize), pageSize, ce::MEM_COMMIT, POOL_PROTECTION);
            if (!page) {
                console().print(u"RAM has no %d more pages outside the kernel's destinations (%d set aside).\n",
                                count - static_cast<std::uint32_t>(poolCount_), setAside_);
                return false;
            }
            std::uint32_t vaddr = ce::addressOf(page);
            std::uint32_t paddr = lookupPhysical(vaddr);
            if (paddr == NO_ADDRESS) {
                console().print(u"page#%d not found\n", poolCount_ + static_cast<int>(setAside_));
                return true;  // a shorter pool, as when the first region's search fails
            }
            if (keptOut(paddr)) {
                ++setAside_;
                continue;
            }
            translationTable_[poolCount_] = TranslationEntry{vaddr, paddr};
            ++poolCount_;
        }
    }
    return true;
}

int MemoryManager::takeBackPage(std::uint32_t& vaddr, std::uint32_t& paddr) {
    if (frontIndex_ >= poolCount_ || !translationTable_) return 0;
    --poolCount_;
    vaddr = translationTable_[poolCount_].vaddr;
    paddr = translationTable_[poolCount_].paddr;
    return 1;
}

int MemoryManager::takeFrontPage(std::uint32_t& vaddr, std::uint32_t& paddr) {
    if (frontIndex_ < poolCount_ && translationTable_) {
        vaddr = translationTable_[frontIndex_].vaddr;
        paddr = translationTable_[frontIndex_].paddr;
        ++frontIndex_;
        return 1;
    }
    console().print(u"page insufficient.\n");
    return 0;
}

int MemoryManager::takeLinkedPage(std::uint32_t& dataVaddr, std::uint32_t& dataPaddr, std::uint32_t& linkVaddr,
                                  std::uint32_t& linkPaddr) {
    std::uint32_t vaddr = 0;
    std::uint32_t paddr = 0;
    if (!takeFrontPage(vaddr, paddr)) return 0;
    std::memset(ce::pointerAt(vaddr), 0, PAGE_LINK_SIZE);
    linkVaddr = vaddr;
    linkPaddr = paddr;
    dataVaddr = vaddr + PAGE_LINK_SIZE;
    dataPaddr = paddr + PAGE_LINK_SIZE;
    return 1;
}

std::uint32_t MemoryManager::mapPhysical(std::uint32_t paddr, std::uint32_t size, std::uint32_t protection) {
    std::uint32_t base = pageSize ? paddr - paddr % pageSize : paddr;
    std::uint64_t end = pageSize ? roundUp(std::uint64_t(paddr) + size, pageSize) : std::uint64_t(paddr) + size;
    std::uint64_t length = end - base;

    void* va = nullptr;
    bool mapped = false;
    // A range that runs past the 32-bit physical space cannot be mapped.
    if (length != 0 && end <= 0x100000000ull) {
        auto bytes = static_cast<ce::DWORD>(length);
        va = ce::VirtualAlloc(nullptr, bytes, ce::MEM_RESERVE, ce::PAGE_NOACCESS);
        if (va) {
            mapped = ce::VirtualCopy(va, reinterpret_cast<void*>(static_cast<std::uintptr_t>(base >> 8)), bytes,
                                     protection | PHYSICAL_MAPPING);
        }
    }
    if (!mapped) {
        if (va) ce::VirtualFree(va, 0, ce::MEM_RELEASE);  // the reservation is of no use now
        console().print(u"can't map physical address 0x%08x\n", paddr);
        return NO_ADDRESS;
    }
    return ce::addressOf(va) + (paddr - base);
}

int MemoryManager::unmapPhysical(std::uint32_t vaddr) {
    std::uint32_t base = pageSize ? vaddr - vaddr % pageSize : vaddr;
    if (ce::VirtualFree(ce::pointerAt(base), 0, ce::MEM_RELEASE)) return 1;
    console().print(u"can't release memory\n");
    return 0;
}

bool MemoryManager::canMapPhysical(std::uint32_t paddr, std::uint32_t size) {
    std::uint64_t base = pageSize ? paddr - paddr % pageSize : paddr;
    std::uint64_t end = pageSize ? roundUp(std::uint64_t(paddr) + size, pageSize) : std::uint64_t(paddr) + size;
    if (size == 0 || end > 0x100000000ull) return false;
    // A few windows at a time, not one as large as the range.
    constexpr std::uint64_t STEP = 0x400000;
    for (; base < end; base += STEP) {
        auto bytes = static_cast<ce::DWORD>(std::min(STEP, end - base));
        void* va = ce::VirtualAlloc(nullptr, bytes, ce::MEM_RESERVE, ce::PAGE_NOACCESS);
        if (!va) return false;
        bool mapped = ce::VirtualCopy(va, reinterpret_cast<void*>(static_cast<std::uintptr_t>(base >> 8)), bytes,
                                      ce::PAGE_READONLY | PHYSICAL_MAPPING);
        ce::VirtualFree(va, 0, ce::MEM_RELEASE);
        if (!mapped) return false;
    }
    return true;
}

std::uint32_t MemoryManager::readPhysicalWord(std::uint32_t paddr) {
    std::uint32_t vaddr = mapPhysical(paddr, sizeof(std::uint32_t), ce::PAGE_READONLY);
    // Nothing is read when the word cannot be mapped; the result is then 0xFFFFFFFF,
    // what an absent bus answers with.
    if (vaddr == NO_ADDRESS) return NO_ADDRESS;
    // Through the register accessor: the word may be a device register.
    std::uint32_t word = hw::readRegister32(vaddr);
    unmapPhysical(vaddr);
    return word;
}

}  // namespace quorvel
