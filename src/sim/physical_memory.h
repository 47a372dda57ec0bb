// The simulated handheld's DRAM: populated banks backed by one shared host memory
// object, so that the same frame can be seen at a virtual address of the simulated
// Windows CE, through a physical mapping, and by the ARM emulator.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "sim/settings.h"

namespace sim {

class PhysicalAddress {
public:
    constexpr explicit PhysicalAddress(std::uint32_t value) : value_(value) {}
    constexpr std::uint32_t value() const { return value_; }
    constexpr PhysicalAddress operator+(std::uint32_t offset) const { return PhysicalAddress(value_ + offset); }
    constexpr bool operator==(const PhysicalAddress&) const = default;
    constexpr auto operator<=>(const PhysicalAddress&) const = default;

private:
    std::uint32_t value_;
};

constexpr std::uint32_t FRAME_SIZE = 4096;

class PhysicalMemory {
public:
    // `reserved` banks are memory too (the LCD's video memory) but no frame is ever
    // handed out from them.
    PhysicalMemory(const std::vector<RamBank>& banks, std::uint32_t seed, FrameOrder order = FrameOrder::Scattered,
                   const std::vector<RamBank>& reserved = {});
    ~PhysicalMemory();
    PhysicalMemory(const PhysicalMemory&) = delete;
    PhysicalMemory& operator=(const PhysicalMemory&) = delete;

    const std::vector<RamBank>& banks() const { return banks_; }
    // Bytes of RAM that frames are handed out from (the reserved banks not counted).
    std::uint64_t ramSize() const { return ramSize_; }
    bool contains(PhysicalAddress address, std::uint32_t size = 1) const;

    // Offset of a physical address in the backing object, for mapping it.
    std::uint64_t backingOffset(PhysicalAddress address) const;
    int backingFd() const { return fd_; }

    // Direct view of physical memory (tests, the emulator, memory dumps).
    std::uint8_t* host(PhysicalAddress address) const;
    std::uint32_t readWord(PhysicalAddress address) const;
    void writeWord(PhysicalAddress address, std::uint32_t value);

    // Frames for committed pages, in the settings' order, with some frames held by the
    // rest of the system. Frames named by preferFrames are handed out first, in that
    // order (to place a boot's pages on purpose).
    std::optional<PhysicalAddress> allocateFrame();
    void freeFrame(PhysicalAddress frame);
    // Clears frames, as committed pages must start; one whose backing the host has
    // never provided reads as zero already and is left untouched. The host is asked
    // where its data lies once per stretch of data or hole, not once per frame.
    void zeroFrames(std::vector<PhysicalAddress> frames);
    void preferFrames(const std::vector<PhysicalAddress>& frames);
    std::size_t freeFrames() const { return free_.size() + preferred_.size(); }

private:
    std::vector<RamBank> banks_;
    std::vector<std::uint64_t> offsets_;
    std::uint64_t total_ = 0;
    std::uint64_t ramSize_ = 0;
    int fd_ = -1;
    std::uint8_t* view_ = nullptr;
    std::deque<PhysicalAddress> preferred_;
    std::vector<PhysicalAddress> free_;  // taken from the back
    std::vector<PhysicalAddress> held_;  // in use by the rest of the system
};

}  // namespace sim
