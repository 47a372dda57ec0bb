// The "winblk" block driver: a storage card read sector by sector through the
// Windows CE block driver, from the start of its BSD partition.
#pragma once

#include <cstdint>

#include "file/ufs/block_driver.h"

namespace quorvel {

extern const BlockDriver winblkDriver;

int openDevice(FileContext* context, const char* prefix, int unit, int index);
int readBlocks(DiskDevice* device, int direction, std::uint32_t sector, std::uint32_t count, void* buffer,
               std::uint32_t* done);
int closeDevice(FileContext* context);
int deviceControl(FileContext* context, int request, void* argument);
// Whole sectors at an absolute sector number.
int readSectors(DiskDevice* device, std::uint32_t sector, std::uint32_t count, void* buffer);

}  // namespace quorvel
