// The ARMv4 translation tables the simulated Windows CE keeps in simulated DRAM for
// its address space: a 16 KB first-level table, coarse second-level tables, and
// sections, large pages and small pages as the mappings allow.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/physical_memory.h"

namespace sim {

class PageTables {
public:
    static constexpr std::uint32_t FIRST_LEVEL_SIZE = 0x4000;
    static constexpr std::uint32_t COARSE_SIZE = 0x400;
    static constexpr std::uint32_t SECTION = 0x100000;
    static constexpr std::uint32_t LARGE_PAGE = 0x10000;
    static constexpr std::uint32_t SMALL_PAGE = 0x1000;
    // Addresses below this are relocated into the process slot.
    static constexpr std::uint32_t SLOT_SIZE = 0x02000000;

    struct Attributes {
        bool writable = true;
        bool cached = false;
    };

    // Takes the table frames from the top of the first bank that holds them.
    PageTables(PhysicalMemory& memory, std::uint32_t processId);
    PageTables(const PageTables&) = delete;
    PageTables& operator=(const PageTables&) = delete;

    PhysicalAddress firstLevel() const { return PhysicalAddress(firstLevel_); }
    std::uint32_t processId() const { return processId_; }
    std::uint32_t modifiedAddress(std::uint32_t va) const;

    // Maps [va, va + size) to [pa, pa + size), all page-aligned, with the largest
    // descriptors alignment allows. False (nothing mapped) when no table memory is left.
    bool map(std::uint32_t va, std::uint32_t pa, std::uint32_t size, Attributes attributes);
    // Unmaps whole pages, breaking up sections and large pages that are only partly
    // unmapped. Never needs memory.
    void unmap(std::uint32_t va, std::uint32_t size);

    // Coarse tables ready for use without taking another frame.
    std::size_t spareTables() const { return freeTables_.size(); }

    // What the MMU would make of va, walking the tables in simulated memory.
    std::optional<PhysicalAddress> translate(std::uint32_t va) const;

private:
    struct Directory {
        std::uint32_t table = 0;  // coarse table, or the one set aside for breaking up a section
        std::uint32_t used = 0;   // second-level entries in use
    };

    std::uint32_t readFirst(std::uint32_t index) const;
    void writeFirst(std::uint32_t index, std::uint32_t descriptor);
    std::uint32_t takeTable();
    void releaseTable(std::uint32_t index);
    bool coarseFor(std::uint32_t index);
    void splitSection(std::uint32_t index);
    void splitLargePage(std::uint32_t table, std::uint32_t entry);
    void unmapPage(std::uint32_t mva);

    PhysicalMemory& memory_;
    std::uint32_t processId_;
    std::uint32_t firstLevel_ = 0;
    std::vector<Directory> directory_;
    std::vector<std::uint32_t> freeTables_;
};

// What an ARMv4/XScale MMU makes of a modified virtual address with the first-level
// table at `firstLevel`: sections, coarse and fine tables, and their pages.
std::optional<PhysicalAddress> translateThrough(const PhysicalMemory& memory, std::uint32_t firstLevel,
                                                std::uint32_t mva);

}  // namespace sim
