// Bounds for outside bytes (kernel files, disk labels, UFS, HTTP, resources): a
// length compared with what is left, never a sum that could wrap, and a little-endian
// reader built on that check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/little_endian.h"

namespace quorvel {

// Whether `size` bytes at `offset` lie within `length` bytes.
constexpr bool fitsWithin(std::uint64_t length, std::uint64_t offset, std::uint64_t size) {
    return offset <= length && length - offset >= size;
}

// Each read either fits in what is left or fails and leaves the position alone.
class BoundedReader {
public:
    BoundedReader(const void* bytes, std::size_t size) : bytes_(static_cast<const std::uint8_t*>(bytes)), size_(size) {}

    std::size_t offset() const { return offset_; }
    std::size_t remaining() const { return size_ - offset_; }
    const std::uint8_t* here() const { return bytes_ + offset_; }

    bool seek(std::size_t offset) {
        if (offset > size_) return false;
        offset_ = offset;
        return true;
    }

    bool skip(std::size_t count) {
        if (remaining() < count) return false;
        offset_ += count;
        return true;
    }

    // Moves to the next multiple of `alignment` counted from the first byte.
    bool align(std::size_t alignment) {
        std::size_t misalignment = offset_ % alignment;
        return misalignment == 0 || skip(alignment - misalignment);
    }

    bool u16(std::uint16_t& value) {
        if (remaining() < 2) return false;
        value = readLe16(here());
        offset_ += 2;
        return true;
    }
    bool u32(std::uint32_t& value) {
        if (remaining() < 4) return false;
        value = readLe32(here());
        offset_ += 4;
        return true;
    }
    bool i16(std::int16_t& value) {
        std::uint16_t bits;
        if (!u16(bits)) return false;
        value = static_cast<std::int16_t>(bits);
        return true;
    }

    // A NUL-terminated UTF-16 string; the terminator is consumed, not kept.
    bool string(std::u16string& text) {
        std::size_t start = offset_;
        std::u16string result;
        for (;;) {
            std::uint16_t unit;
            if (!u16(unit)) {
                offset_ = start;
                return false;
            }
            if (unit == 0) break;
            result.push_back(static_cast<char16_t>(unit));
        }
        text = std::move(result);
        return true;
    }

private:
    const std::uint8_t* bytes_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

}  // namespace quorvel
