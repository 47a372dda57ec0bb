// The file interface every file manager implements: the gzip front and the local,
// HTTP and UFS backends behind it.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace quorvel {

class Console;

// The backend a front is made with, chosen from the kernel directory.
enum class FileManagerKind : std::uint32_t { FILE_MANAGER_FAT = 0, FILE_MANAGER_UFS = 1, FILE_MANAGER_HTTP = 2 };
using enum FileManagerKind;

constexpr std::size_t FILE_NAME_SIZE = 260;

// What size() answers when the length cannot be known: a damaged or unreadable file.
constexpr std::uint32_t SIZE_UNKNOWN = 0xFFFFFFFF;

class FileManager {
public:
    explicit FileManager(Console*& consoleIn) : consoleSlot(consoleIn) {}
    virtual ~FileManager() = default;
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    virtual ce::BOOL setLocation(const ce::WCHAR* directory) = 0;
    virtual ce::BOOL open(const ce::WCHAR* name, int mode) = 0;
    virtual std::uint32_t storedSize() = 0;
    virtual std::uint32_t size() { return storedSize(); }
    virtual int close() = 0;
    // offset -1 reads at the current position; 0 at the end, -1 after an error.
    virtual std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) = 0;
    virtual std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) = 0;
    virtual ce::BOOL seek(std::uint32_t offset) = 0;
    // The whole stored file and its length, where the backend holds it in memory
    // already (until the next open); null where it reads it from elsewhere.
    virtual const std::uint8_t* heldBytes(std::uint32_t& length) {
        length = 0;
        return nullptr;
    }

    // Wide text to 8-bit into a buffer of `capacity` bytes; 0 when it does not fit.
    ce::BOOL convertToAscii(char* destination, const ce::WCHAR* source, std::size_t capacity);

    std::int32_t debugLevel = 0;

protected:
    Console*& consoleSlot;
    char fileName[FILE_NAME_SIZE] = {};
};

}  // namespace quorvel
