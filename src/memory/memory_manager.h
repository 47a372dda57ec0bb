// The page pool: one virtual region of Windows CE pages whose physical addresses are
// found once (by a variant's lookupPhysical) and handed out from the front (kernel
// data) and the back (system pages); and short-lived mappings of physical addresses.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "memory/address_range.h"
#include "platform/types.h"

namespace quorvel {

class Console;

constexpr std::uint32_t NO_ADDRESS = 0xFFFFFFFFu;

struct MemoryBank {
    std::uint32_t address;
    std::uint32_t size;
};

struct TranslationEntry {
    std::uint32_t vaddr;
    std::uint32_t paddr;
};

constexpr int MEMORY_BANK_MAX = 16;

class MemoryManager {
public:
    MemoryManager(Console*& consoleSlot, std::uint32_t pageSize);
    virtual ~MemoryManager();
    MemoryManager(const MemoryManager&) = delete;
    MemoryManager& operator=(const MemoryManager&) = delete;

    // Physical address of one committed pool page, NO_ADDRESS when not found.
    virtual std::uint32_t lookupPhysical(std::uint32_t vaddr) = 0;
    virtual int init() { return 1; }

    void addBank(std::uint32_t address, std::uint32_t size);
    // Physical ranges the hand-over will write. A pool built afterwards hands out no
    // page inside them: such pages are set aside (committed, so Windows CE cannot give
    // them out again, and released with the pool) and others are taken instead.
    void keepPoolOutOf(std::vector<AddressRange> ranges) { keepOut_ = std::move(ranges); }
    int buildPool(std::uint32_t size, bool perPageCommit);
    int takeBackPage(std::uint32_t& vaddr, std::uint32_t& paddr);
    int takeFrontPage(std::uint32_t& vaddr, std::uint32_t& paddr);
    int takeLinkedPage(std::uint32_t& dataVaddr, std::uint32_t& dataPaddr, std::uint32_t& linkVaddr,
                       std::uint32_t& linkPaddr);
    std::uint32_t mapPhysical(std::uint32_t paddr, std::uint32_t size, std::uint32_t protection);
    int unmapPhysical(std::uint32_t vaddr);
    std::uint32_t readPhysicalWord(std::uint32_t paddr);
    // True when the whole range can be mapped, silently: where Windows CE refuses a
    // physical mapping, nothing is there.
    bool canMapPhysical(std::uint32_t paddr, std::uint32_t size);

    const std::uint32_t pageSize;
    const std::uint32_t pageShift;

    // Read by the pre-jump checks.
    int bankCount() const { return bankCount_; }
    const MemoryBank& bank(int i) const { return banks_[i]; }
    std::uint32_t poolBase() const { return poolBase_; }
    int poolCount() const { return poolCount_; }
    int frontIndex() const { return frontIndex_; }
    const TranslationEntry* translationTable() const { return translationTable_.get(); }
    std::uint32_t tableEntries() const { return tableEntries_; }
    // Entries buildPool wrote; the rest of the table holds nothing.
    std::uint32_t mappedEntries() const { return mappedEntries_; }
    // Pool pages kept out of the hand-over's way by the latest buildPool.
    std::uint32_t setAsidePages() const { return setAside_; }

protected:
    // The console the slot holds now; the current console while the slot is empty.
    Console& console() const;

private:
    bool keptOut(std::uint32_t paddr) const;
    // Adds committed pages from further regions until the table is full; false when
    // Windows CE has no more memory to give.
    bool replaceSetAsidePages(std::uint32_t count);
    void releasePool();

protected:

    Console*& consoleSlot;
    MemoryBank banks_[MEMORY_BANK_MAX] = {};
    int bankCount_ = 0;
    std::uint32_t poolBase_ = 0;
    int poolCount_ = 0;
    std::unique_ptr<TranslationEntry[]> translationTable_;
    int frontIndex_ = 0;
    std::uint32_t tableEntries_ = 0;
    std::uint32_t mappedEntries_ = 0;
    std::vector<AddressRange> keepOut_;
    std::uint32_t setAside_ = 0;
    std::vector<std::uint32_t> extraRegions_;  // regions beyond poolBase_ that hold pool pages
};

}  // namespace quorvel
