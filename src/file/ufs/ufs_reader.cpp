// The UFS1 reader: every number taken from the image is checked before it is used
// as a size, an offset or a loop bound.
#include "file/ufs/ufs_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "file/ufs/error_numbers.h"

namespace quorvel {

namespace {

constexpr std::uint32_t MODE_TYPE_MASK = 0xF000;
constexpr std::uint32_t MODE_DIRECTORY = 0x4000;
constexpr std::uint32_t MODE_SYMLINK = 0xA000;
constexpr std::uint32_t INODE_LINK_BYTES = 60;  // the block numbers hold a short link
constexpr std::int64_t POSITION_LIMIT = 0x7FFFFFFF;

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const std::uint8_t* p) { return get32(p) | (static_cast<std::uint64_t>(get32(p + 4)) << 32); }

bool powerOfTwo(std::uint32_t value) { return value && !(value & (value - 1)); }

std::uint32_t log2Of(std::uint32_t value) {
    std::uint32_t shift = 0;
    while (value > 1) {
        value >>= 1;
        ++shift;
    }
    return shift;
}

// Takes the fields the reader relies on, refusing any that would make it read
// outside its buffers or walk without end.
bool readGeometry(const std::uint8_t* sb, UfsGeometry* fs) {
    if (get32(sb + 1372) != UFS1_MAGIC) return false;
    fs->firstInodeFragment = get32(sb + 16);
    fs->groupOffset = get32(sb + 24);
    fs->groupMask = get32(sb + 28);
    fs->groups = get32(sb + 44);
    fs->blockSize = get32(sb + 48);
    fs->fragmentMask = get32(sb + 76);
    fs->blockShift = get32(sb + 80);
    fs->fragmentShift = get32(sb + 96);
    fs->sectorShift = get32(sb + 100);
    fs->pointersPerBlock = get32(sb + 116);
    fs->inodesPerBlock = get32(sb + 120);
    fs->inodesPerGroup = get32(sb + 184);
    fs->fragmentsPerGroup = get32(sb + 188);
    fs->maxInodeLink = static_cast<std::int32_t>(get32(sb + 1320));
    fs->blockOffsetMask = get64(sb + 1336);
    fs->fragmentOffsetMask = get64(sb + 1344);

    if (fs->blockSize < 1376 || fs->blockSize > 65536 || !powerOfTwo(fs->blockSize)) return false;
    if (fs->blockShift >= 32 || (1u << fs->blockShift) != fs->blockSize) return false;
    if (fs->blockOffsetMask != fs->blockSize - 1) return false;
    if (fs->fragmentShift > 3) return false;
    std::uint32_t fragmentSize = fs->blockSize >> fs->fragmentShift;
    if (fragmentSize < 512 || fs->sectorShift > 7 || (512u << fs->sectorShift) != fragmentSize) return false;
    if (fs->fragmentOffsetMask != fragmentSize - 1 || fs->fragmentMask != ~(fragmentSize - 1)) return false;
    // Whole groups of 64 cached entries must lie inside one indirect block.
    if (!powerOfTwo(fs->pointersPerBlock) || fs->pointersPerBlock < INDIRECT_CACHE_SIZE ||
        fs->pointersPerBlock > fs->blockSize / 4) {
        return false;
    }
    if (fs->inodesPerBlock == 0 || fs->inodesPerBlock > fs->blockSize / INODE_SIZE) return false;
    if (fs->inodesPerGroup == 0 || fs->fragmentsPerGroup == 0 || fs->groups == 0) return false;
    return true;
}

std::uint16_t inodeMode(const UfsFile* file) { return get16(file->inode); }
std::uint64_t inodeSize(const UfsFile* file) { return get64(file->inode + 8); }
bool isDirectory(const UfsFile* file) { return (inodeMode(file) & MODE_TYPE_MASK) == MODE_DIRECTORY; }
bool isSymlink(const UfsFile* file) { return (inodeMode(file) & MODE_TYPE_MASK) == MODE_SYMLINK; }

// Reads `count` bytes at fragment address `fragment` of the partition.
int readFragments(const FileContext* context, const UfsFile* file, std::uint64_t fragment, std::uint32_t count,
                  std::uint8_t* buffer) {
    if (fragment > (0xFFFFFFFFull >> file->fs.sectorShift)) return UFS_IO_ERROR;
    std::uint32_t sector = static_cast<std::uint32_t>(fragment << file->fs.sectorShift);
    std::uint32_t done = 0;
    int error = context->driver->readBlocks(context->device, BLOCK_READ, sector, count, buffer, &done);
    if (error) return error;
    return done < count ? UFS_IO_ERROR : UFS_OK;
}

int readInode(UfsFile* file, const FileContext* context, std::uint32_t number) {
    const UfsGeometry& fs = file->fs;
    if (number == 0 || number / fs.inodesPerGroup >= fs.groups) return UFS_INVALID;
    std::uint64_t group = number / fs.inodesPerGroup;
    std::uint64_t fragment = static_cast<std::uint64_t>(fs.fragmentsPerGroup) * group +
                             static_cast<std::uint64_t>(fs.groupOffset) * (group & ~static_cast<std::uint64_t>(fs.groupMask)) +
                             fs.firstInodeFragment +
                             (static_cast<std::uint64_t>((number % fs.inodesPerGroup) / fs.inodesPerBlock) << fs.fragmentShift);
    // The buffer is about to hold an inode block, not file data.
    file->cachedIndirectGroup = -1;
    file->bufferFileBlock = -1;
    int error = readFragments(context, file, fragment, fs.blockSize, file->blockBuffer.get());
    if (error) return error;
    file->blockBufferCount = fs.blockSize;
    std::memcpy(file->inode, file->blockBuffer.get() + (number % fs.inodesPerBlock) * INODE_SIZE, INODE_SIZE);
    file->inodeNumber = number;
    return UFS_OK;
}

// The bytes of the block under the position: where they start in the buffer and
// how many are available there.
int currentBlock(UfsFile* file, const FileContext* context, const std::uint8_t** data, std::uint32_t* available) {
    const UfsGeometry& fs = file->fs;
    std::uint64_t position = static_cast<std::uint64_t>(file->position);
    std::uint64_t fileBlock = position >> fs.blockShift;
    std::uint32_t offset = static_cast<std::uint32_t>(position & fs.blockOffsetMask);
    std::uint64_t size = inodeSize(file);
    if (position >= size) return UFS_IO_ERROR;
    if (fileBlock > 0xFFFFFFFFu) return UFS_FILE_TOO_BIG;

    std::uint32_t blockLength = fs.blockSize;
    if (fileBlock < DIRECT_BLOCKS && size / fs.blockSize <= fileBlock) {
        // The last block of a small file is stored as whole fragments.
        blockLength = static_cast<std::uint32_t>(((size & fs.blockOffsetMask) + fs.fragmentOffsetMask) & fs.fragmentMask);
    }
    if (blockLength <= offset) return UFS_IO_ERROR;

    if (static_cast<std::int64_t>(fileBlock) != file->bufferFileBlock) {
        // Mapping may load indirect blocks into the buffer; until the data is in,
        // the buffer holds no file block.
        file->bufferFileBlock = -1;
        std::uint32_t blockNumber = 0;
        int error = ufsMapBlock(file, context, static_cast<std::uint32_t>(fileBlock), &blockNumber);
        if (error) return error;
        if (blockNumber == 0) {
            std::memset(file->blockBuffer.get(), 0, blockLength);
        } else {
            error = readFragments(context, file, blockNumber, blockLength, file->blockBuffer.get());
            if (error) return error;
        }
        file->blockBufferCount = blockLength;
        file->bufferFileBlock = static_cast<std::int64_t>(fileBlock);
    }
    std::uint32_t count = blockLength - offset;
    if (size - position < count) count = static_cast<std::uint32_t>(size - position);
    *data = file->blockBuffer.get() + offset;
    *available = count;
    return UFS_OK;
}

// The inode number of `name` in the current directory.
int lookup(UfsFile* file, const FileContext* context, const char* name, std::size_t length, std::uint32_t* found) {
    bool oldFormat = file->fs.maxInodeLink <= 0;
    std::int64_t size = static_cast<std::int64_t>(std::min<std::uint64_t>(inodeSize(file), POSITION_LIMIT));
    file->position = 0;
    while (file->position < size) {
        const std::uint8_t* data = nullptr;
        std::uint32_t available = 0;
        int error = currentBlock(file, context, &data, &available);
        if (error) return error;
        std::uint32_t at = 0;
        while (available - at >= 8) {
            std::uint32_t number = get32(data + at);
            std::uint32_t recordLength = get16(data + at + 4);
            // A corrupt entry ends the scan of this block.
            if (recordLength < 8 || available - at < recordLength) break;
            std::uint32_t nameLength = oldFormat ? data[at + 6] : data[at + 7];
            if (number != 0 && nameLength == length && nameLength <= recordLength - 8 &&
                std::memcmp(data + at + 8, name, length) == 0) {
                *found = number;
                return UFS_OK;
            }
            at += recordLength;
        }
        file->position += available;
    }
    return UFS_NOT_FOUND;
}

// Puts the target of the symbolic link in the current inode at the start of `path`.
int readLinkTarget(UfsFile* file, const FileContext* context, char* path, std::uint32_t length) {
    if (length < static_cast<std::uint32_t>(std::max(file->fs.maxInodeLink, 0)) && length <= INODE_LINK_BYTES) {
        std::memcpy(path, file->inode + 40, length);
        return UFS_OK;
    }
    file->position = 0;
    std::uint32_t copied = 0;
    while (copied < length) {
        const std::uint8_t* data = nullptr;
        std::uint32_t available = 0;
        int error = currentBlock(file, context, &data, &available);
        if (error) return error;
        std::uint32_t part = std::min(available, length - copied);
        std::memcpy(path + copied, data, part);
        copied += part;
        file->position += part;
    }
    return UFS_OK;
}

int openPath(UfsFile* file, const FileContext* context, const char* name) {
    file->superblock.reset(new (std::nothrow) std::uint8_t[SUPERBLOCK_SIZE]);
    if (!file->superblock) return UFS_NO_MEMORY;
    std::uint32_t done = 0;
    int error = context->driver->readBlocks(context->device, BLOCK_READ, SUPERBLOCK_SECTOR, SUPERBLOCK_SIZE,
                                            file->superblock.get(), &done);
    if (error) return error;
    if (done < SUPERBLOCK_SIZE || !readGeometry(file->superblock.get(), &file->fs)) return UFS_INVALID;
    file->indexShift = log2Of(file->fs.pointersPerBlock);
    file->blockBuffer.reset(new (std::nothrow) std::uint8_t[file->fs.blockSize]);
    if (!file->blockBuffer) return UFS_NO_MEMORY;
    error = readInode(file, context, ROOT_INODE);
    if (error) return error;

    char path[UFS_PATH_SIZE + 1];
    std::size_t length = std::strlen(name);
    if (length > UFS_PATH_SIZE) return UFS_NOT_FOUND;
    std::memcpy(path, name, length);
    std::size_t at = 0;
    int links = 0;
    for (;;) {
        while (at < length && path[at] == '/') ++at;
        if (at == length) break;
        if (!isDirectory(file)) return UFS_NOT_DIRECTORY;
        std::size_t end = at;
        while (end < length && path[end] != '/') ++end;
        std::uint32_t parent = file->inodeNumber;
        std::uint32_t number = 0;
        error = lookup(file, context, path + at, end - at, &number);
        if (error) return error;
        error = readInode(file, context, number);
        if (error) return error;
        if (!isSymlink(file)) {
            at = end;
            continue;
        }
        std::uint64_t linkLength = inodeSize(file);
        std::size_t rest = length - end;
        if (++links > UFS_MAX_LINKS || linkLength > UFS_PATH_SIZE || UFS_PATH_SIZE - linkLength < rest) {
            return UFS_NOT_FOUND;
        }
        std::memmove(path + linkLength, path + end, rest);
        error = readLinkTarget(file, context, path, static_cast<std::uint32_t>(linkLength));
        if (error) return error;
        length = static_cast<std::size_t>(linkLength) + rest;
        at = 0;
        error = readInode(file, context, length > 0 && path[0] == '/' ? ROOT_INODE : parent);
        if (error) return error;
    }
    file->position = 0;
    return UFS_OK;
}

}  // namespace

int ufsMapBlock(UfsFile* file, const FileContext* context, std::uint32_t fileBlock, std::uint32_t* blockNumber) {
    if (fileBlock < DIRECT_BLOCKS) {
        *blockNumber = get32(file->inode + 40 + 4 * fileBlock);
        return UFS_OK;
    }
    std::uint32_t f = fileBlock - DIRECT_BLOCKS;
    std::int32_t group = static_cast<std::int32_t>(f / INDIRECT_CACHE_SIZE);
    if (group == file->cachedIndirectGroup) {
        *blockNumber = file->indirectCache[f % INDIRECT_CACHE_SIZE];
        return UFS_OK;
    }
    const std::uint32_t shift = file->indexShift;
    std::uint64_t index = f;
    std::uint32_t level = shift;
    while (index >= (1ull << level)) {
        index -= 1ull << level;
        level += shift;
        if (level > 3 * shift) return UFS_FILE_TOO_BIG;
    }
    std::uint32_t number = get32(file->inode + 88 + 4 * (level / shift - 1));
    std::uint64_t entry = 0;
    for (;;) {
        level -= shift;
        if (number == 0) {
            *blockNumber = 0;
            return UFS_OK;
        }
        file->bufferFileBlock = -1;
        int error = readFragments(context, file, number, file->fs.blockSize, file->blockBuffer.get());
        if (error) return error;
        file->blockBufferCount = file->fs.blockSize;
        entry = index >> level;
        number = get32(file->blockBuffer.get() + 4 * entry);
        if (level == 0) break;
        index &= (1ull << level) - 1;
    }
    std::uint64_t first = entry & ~static_cast<std::uint64_t>(INDIRECT_CACHE_SIZE - 1);
    for (std::uint32_t i = 0; i < INDIRECT_CACHE_SIZE; ++i) {
        file->indirectCache[i] = get32(file->blockBuffer.get() + 4 * (first + i));
    }
    file->cachedIndirectGroup = group;
    *blockNumber = number;
    return UFS_OK;
}

int ufsOpen(const char* path, FileContext* context) {
    if (!context || !context->driver || !path) return UFS_INVALID;
    if (context->file) ufsClose(context);
    if (!context->device) return UFS_NO_DEVICE;
    UfsFile* file = new (std::nothrow) UfsFile;
    if (!file) return UFS_NO_MEMORY;
    context->file = file;
    int error = openPath(file, context, path);
    if (error) ufsClose(context);
    return error;
}

int ufsClose(FileContext* context) {
    if (!context) return UFS_OK;
    UfsFile* file = context->file;
    context->file = nullptr;
    delete file;
    return UFS_OK;
}

int ufsRead(FileContext* context, void* buffer, std::uint32_t length, std::uint32_t* residual) {
    *residual = length;
    if (!context || !context->file) return UFS_INVALID;
    UfsFile* file = context->file;
    if (file->position < 0) return UFS_INVALID;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t remaining = length;
    std::uint64_t size = inodeSize(file);
    while (remaining > 0 && static_cast<std::uint64_t>(file->position) < size) {
        const std::uint8_t* data = nullptr;
        std::uint32_t available = 0;
        int error = currentBlock(file, context, &data, &available);
        if (error) {
            *residual = remaining;
            return error;
        }
        std::uint32_t part = std::min(remaining, available);
        std::memcpy(out, data, part);
        out += part;
        remaining -= part;
        file->position += part;
    }
    *residual = remaining;
    return UFS_OK;
}

int ufsWrite(FileContext*, const void*, std::uint32_t length, std::uint32_t* residual) {
    *residual = length;
    return UFS_READ_ONLY;
}

std::int64_t ufsSeek(FileContext* context, std::int64_t offset, int mode) {
    if (!context || !context->file) return -1;
    UfsFile* file = context->file;
    switch (mode) {
    case UFS_SEEK_SET: file->position = offset; break;
    case UFS_SEEK_CURRENT: file->position += offset; break;
    case UFS_SEEK_END: file->position = static_cast<std::int64_t>(std::min<std::uint64_t>(inodeSize(file), INT64_MAX / 2)) - offset; break;
    default: return -1;
    }
    return file->position;
}

std::uint64_t ufsSize(const FileContext* context) {
    return context && context->file ? inodeSize(context->file) : 0;
}

}  // namespace quorvel
