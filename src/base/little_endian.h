// Little-endian words read from bytes: the handheld's byte order, and that of every
// outside format the system parses (disk labels, UFS, resources). Byte by byte, so
// neither the host's byte order nor the alignment of the bytes matters.
#pragma once

#include <cstdint>

namespace quorvel {

constexpr std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

constexpr std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

constexpr std::uint64_t readLe64(const std::uint8_t* p) {
    return readLe32(p) | static_cast<std::uint64_t>(readLe32(p + 4)) << 32;
}

}  // namespace quorvel
