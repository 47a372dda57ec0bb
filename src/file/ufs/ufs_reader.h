// A small read-only reader of the first UFS layout (32-bit block numbers): superblock
// check, inodes, block mapping through up to three indirect levels, path walking
// with symbolic links, and reads through a buffer that takes runs of adjacent blocks
// in one device request.
#pragma once

#include <cstdint>
#include <memory>

#include "file/ufs/block_driver.h"

namespace quorvel {

constexpr std::uint32_t UFS1_MAGIC = 0x011954;
constexpr std::uint32_t SUPERBLOCK_SECTOR = 16;
constexpr std::uint32_t SUPERBLOCK_SIZE = 8192;
constexpr std::uint32_t INODE_SIZE = 128;
constexpr std::uint32_t ROOT_INODE = 2;
constexpr std::uint32_t DIRECT_BLOCKS = 12;
constexpr std::uint32_t INDIRECT_CACHE_SIZE = 64;
constexpr std::uint32_t UFS_PATH_SIZE = 1024;
constexpr int UFS_MAX_LINKS = 32;
// Sequential reads fetch up to this many bytes of blocks that lie one after another
// on the disk in one device request.
constexpr std::uint32_t UFS_CLUSTER_SIZE = 65536;
// The most a single open may read from the device while it walks the path: hostile
// images can otherwise make a lookup scan gigabytes of directory or follow links
// through huge directories many times over.
constexpr std::uint64_t UFS_OPEN_WORK_LIMIT = 32u << 20;

// The superblock fields the reader uses, checked when the file is opened.
struct UfsGeometry {
    std::uint32_t firstInodeFragment = 0;
    std::uint32_t groupOffset = 0;
    std::uint32_t groupMask = 0;
    std::uint32_t groups = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t fragmentMask = 0;
    std::uint32_t blockShift = 0;
    std::uint32_t fragmentShift = 0;
    std::uint32_t sectorShift = 0;
    std::uint32_t pointersPerBlock = 0;
    std::uint32_t inodesPerBlock = 0;
    std::uint32_t inodesPerGroup = 0;
    std::uint32_t fragmentsPerGroup = 0;
    std::int32_t maxInodeLink = 0;  // 0 or less: the old directory format
    std::uint64_t blockOffsetMask = 0;
    std::uint64_t fragmentOffsetMask = 0;
};

// The state of one open file.
struct UfsFile {
    std::int64_t position = 0;
    std::unique_ptr<std::uint8_t[]> superblock;
    UfsGeometry fs;
    std::uint32_t inodeNumber = 0;  // 0: no inode read yet
    std::uint8_t inode[INODE_SIZE] = {};
    std::uint32_t indexShift = 0;
    std::int32_t cachedIndirectGroup = -1;
    std::uint32_t indirectCache[INDIRECT_CACHE_SIZE] = {};
    // File data: whole blocks that follow each other both in the file and on the
    // disk, or the fragments of a small file's last block.
    std::unique_ptr<std::uint8_t[]> blockBuffer;
    std::uint32_t blockBufferCount = 0;
    std::int64_t bufferFileBlock = -1;  // the first file block held; -1: none
    // Inode and indirect blocks, kept apart so that mapping never evicts data.
    std::unique_ptr<std::uint8_t[]> metadataBuffer;
    std::uint64_t metadataSector = UINT64_MAX;  // what it holds; UINT64_MAX: nothing
    std::uint32_t metadataCount = 0;
    std::uint64_t workLeft = UINT64_MAX;  // device bytes the open may still read
};

constexpr int UFS_SEEK_SET = 0;
constexpr int UFS_SEEK_CURRENT = 1;
constexpr int UFS_SEEK_END = 2;

int ufsOpen(const char* path, FileContext* context);
int ufsClose(FileContext* context);
// Reads at the position; *residual receives the bytes left unread.
int ufsRead(FileContext* context, void* buffer, std::uint32_t length, std::uint32_t* residual);
int ufsWrite(FileContext* context, const void* buffer, std::uint32_t length, std::uint32_t* residual);
// The new position, or -1 (the position unchanged) for an unknown mode or a position
// that a 64-bit offset cannot hold.
std::int64_t ufsSeek(FileContext* context, std::int64_t offset, int mode);
std::uint64_t ufsSize(const FileContext* context);

// The block number of file block `fileBlock` of the open file (0 for a hole). For a
// hole, *holeBlocks (when given) receives how many file blocks from `fileBlock` on
// are known to be holes too, at least 1.
int ufsMapBlock(UfsFile* file, const FileContext* context, std::uint32_t fileBlock, std::uint32_t* blockNumber,
                std::uint64_t* holeBlocks = nullptr);

}  // namespace quorvel
