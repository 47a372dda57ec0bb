// A range of physical addresses, [start, end), with end able to reach 4 GiB.
#pragma once

#include <cstdint>

namespace quorvel {

struct AddressRange {
    std::uint32_t start = 0;
    std::uint64_t end = 0;

    bool empty() const { return end <= start; }
    bool overlaps(const AddressRange& other) const { return start < other.end && other.start < end; }
    bool contains(std::uint32_t address) const { return address >= start && address < end; }
};

}  // namespace quorvel
