// The simulated Windows CE virtual address space: 32-bit addresses that are also
// real host addresses (a window below 4 GB reserved at start), so the system's code
// reads and writes its pages directly. A committed page is a frame of simulated
// DRAM mapped there; VirtualCopy maps DRAM or a device window. ARMv4 translation
// tables in simulated DRAM describe every mapping.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/page_tables.h"
#include "sim/physical_memory.h"

namespace sim {

class Device;

class AddressSpace {
public:
    static constexpr std::uint32_t GRANULARITY = 0x10000;

    AddressSpace(PhysicalMemory& memory, std::vector<Device*> devices, std::uint32_t processId = 0);
    ~AddressSpace();  // releases every region
    AddressSpace(const AddressSpace&) = delete;
    AddressSpace& operator=(const AddressSpace&) = delete;

    // The Windows CE semantics of VirtualAlloc, VirtualFree and VirtualCopy; 0 or
    // false on failure with the Windows error in `error`.
    std::uint32_t allocate(std::uint32_t address, std::uint32_t size, std::uint32_t type, std::uint32_t& error);
    bool free(std::uint32_t address, std::uint32_t size, std::uint32_t type, std::uint32_t& error);
    bool copy(std::uint32_t dest, std::uint64_t physical, std::uint32_t size, std::uint32_t protect,
              std::uint32_t& error);

    // The frame behind a committed or RAM-mapped page (LockPages).
    std::optional<PhysicalAddress> physicalOf(std::uint32_t address) const;

    // The device register behind a mapped device page.
    struct DeviceRegister {
        Device* device;
        std::uint32_t offset;
    };
    std::optional<DeviceRegister> deviceAt(std::uint32_t address) const;

    // True when the address lies in a committed or RAM-mapped page.
    bool isMemory(std::uint32_t address) const;

    // Lets the host forget its page-table entries of the committed and RAM-mapped
    // pages: their data stays in simulated DRAM, and the next access maps it again.
    // Once the hand-over runs on DRAM alone, the same frames need not count twice
    // in the process's resident memory.
    void dropHostPageEntries();

    // The translation tables (CP15 c2 points at their first level).
    const PageTables& pageTables() const { return tables_; }

    std::uint32_t windowBase() const;
    std::uint32_t windowSize() const;

private:
    enum class PageKind { Reserved, Committed, Ram, Device };
    struct Page {
        PageKind kind = PageKind::Reserved;
        std::uint32_t physical = 0;
        Device* device = nullptr;
    };
    struct Region {
        std::uint32_t size;
        std::vector<Page> pages;
    };

    Region* regionOf(std::uint32_t address, std::uint32_t& base);
    const Region* regionOf(std::uint32_t address, std::uint32_t& base) const;
    std::uint32_t findGap(std::uint32_t size) const;
    // hostToo false leaves the host mapping to the caller, who clears a whole range.
    void unmapPage(std::uint32_t address, Page& page, bool hostToo = true);
    // replace false maps into a gap in the host's address space.
    bool mapFrame(std::uint32_t address, std::uint32_t physical, bool writable, std::uint32_t size,
                  bool replace = true);

    PhysicalMemory& memory_;
    PageTables tables_;
    std::vector<Device*> devices_;
    std::map<std::uint32_t, Region> regions_;
};

}  // namespace sim
