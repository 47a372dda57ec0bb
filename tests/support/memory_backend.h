// A file backend over bytes held in memory, for the gzip front and the loaders: it can
// deliver short pieces, fail one read or fail one seek, and show its bytes or not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "file/file_manager.h"

namespace testing_support {

class MemoryBackend : public quorvel::FileManager {
public:
    MemoryBackend(quorvel::Console*& consoleSlot, std::string bytes);

    ce::BOOL setLocation(const ce::WCHAR*) override { return 1; }
    ce::BOOL open(const ce::WCHAR*, int) override;
    std::uint32_t storedSize() override { return static_cast<std::uint32_t>(bytes.size()) + sizeSaidMore; }
    int close() override { return 1; }
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset) override;
    std::int32_t write(const void*, std::uint32_t, std::int32_t) override { return -1; }
    ce::BOOL seek(std::uint32_t offset) override;
    const std::uint8_t* heldBytes(std::uint32_t& length) override {
        length = holding ? static_cast<std::uint32_t>(bytes.size()) : 0;
        return holding ? reinterpret_cast<const std::uint8_t*>(bytes.data()) : nullptr;
    }

    std::string bytes;
    std::uint32_t position = 0;
    int reads = 0, seeks = 0;                // calls so far
    int failingRead = -1, failingSeek = -1;  // the call (counted from 0) that fails; -1: none
    std::size_t readLimit = SIZE_MAX;        // the most one read delivers
    bool holding = false;                    // shows its bytes, as a downloaded file
    std::uint32_t sizeSaidMore = 0;          // storedSize() says this much more than it has
};

}  // namespace testing_support
