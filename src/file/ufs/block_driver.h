// The block-driver record, the per-device record it keeps, and the context through
// which the UFS reader reaches a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/disk.h"
#include "platform/types.h"

namespace quorvel {

struct DiskDevice;
struct FileContext;
struct UfsFile;

constexpr std::size_t SECTOR_SIZE = 512;
constexpr std::size_t PARTITION_TABLE_SIZE = 64;
constexpr std::size_t DISK_LABEL_COPY_SIZE = 280;

constexpr int BLOCK_READ = 1;

struct BlockDriver {
    const char* name;
    // Reads `count` bytes at `sector` (relative to the device's start sector).
    int (*readBlocks)(DiskDevice* device, int direction, std::uint32_t sector, std::uint32_t count, void* buffer,
                      std::uint32_t* done);
    int (*openDevice)(FileContext* context, const char* prefix, int unit, int index);
    int (*closeDevice)(FileContext* context);
    int (*deviceControl)(FileContext* context, int request, void* argument);
};

struct DiskDevice {
    ce::HANDLE handle = ce::INVALID_HANDLE_VALUE;
    ce::DISK_INFO diskInfo{};
    std::uint8_t partitionTable[PARTITION_TABLE_SIZE] = {};
    std::uint8_t diskLabel[DISK_LABEL_COPY_SIZE] = {};
    std::uint8_t sectorBuffer[SECTOR_SIZE] = {};
    // Absolute sector at which the file system begins.
    std::uint32_t startSector = 0;
};

struct FileContext {
    // Where the file state is a complete type (the UFS reader).
    ~FileContext();

    const BlockDriver* driver = nullptr;
    std::unique_ptr<DiskDevice> device;  // none until a device is opened
    std::unique_ptr<UfsFile> file;       // none until a file is opened
};

}  // namespace quorvel
