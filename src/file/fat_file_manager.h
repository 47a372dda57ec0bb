// The local backend: reads files of the device's own file system (internal storage
// or a storage card) through the Windows CE file calls.
#pragma once

#include <cstdint>

#include "file/file_manager.h"

namespace quorvel {

class FatFileManager : public FileManager {
public:
    explicit FatFileManager(Console*& consoleSlot);
    ~FatFileManager() override;  // closes a file still open

    // The directory is a plain prefix of every name opened: it must end in "\\".
    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;

private:
    ce::HANDLE file = ce::INVALID_HANDLE_VALUE;
    ce::WCHAR rootDirectory[FILE_NAME_SIZE] = {};
    ce::WCHAR path[FILE_NAME_SIZE] = {};
    // The directory given was longer than the root directory holds.
    bool directoryTooLong = false;
};

}  // namespace quorvel
