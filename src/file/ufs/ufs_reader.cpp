// The UFS1 reader: every number taken from the image is checked before it is used
// as a size, an offset or a loop bound.
#include "file/ufs/ufs_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/bounded_reader.h"
#include "file/ufs/error_numbers.h"
#include "file/ufs/ufs_layout.h"

namespace quorvel {

namespace {

namespace superblock = ufs1_superblock;
namespace dinode = ufs1_inode;
namespace direntry = ufs1_directory_entry;

constexpr std::uint32_t MODE_TYPE_MASK = 0xF000;
constexpr std::uint32_t MODE_DIRECTORY = 0x4000;
constexpr std::uint32_t MODE_SYMLINK = 0xA000;
constexpr std::uint32_t INODE_LINK_BYTES = 60;  // the block numbers hold a short link
constexpr std::int64_t POSITION_LIMIT = 0x7FFFFFFF;

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
    if (readLe32(sb + superblock::MAGIC) != UFS1_MAGIC) return false;
    fs->firstInodeFragment = readLe32(sb + superblock::INODE_BLOCK);
    fs->groupOffset = readLe32(sb + superblock::GROUP_OFFSET);
    fs->groupMask = readLe32(sb + superblock::GROUP_MASK);
    fs->groups = readLe32(sb + superblock::GROUPS);
    fs->blockSize = readLe32(sb + superblock::BLOCK_SIZE);
    fs->fragmentMask = readLe32(sb + superblock::FRAGMENT_MASK);
    fs->blockShift = readLe32(sb + superblock::BLOCK_SHIFT);
    fs->fragmentShift = readLe32(sb + superblock::FRAGMENT_SHIFT);
    fs->sectorShift = readLe32(sb + superblock::SECTOR_SHIFT);
    fs->pointersPerBlock = readLe32(sb + superblock::POINTERS_PER_BLOCK);
    fs->inodesPerBlock = readLe32(sb + superblock::INODES_PER_BLOCK);
    fs->inodesPerGroup = readLe32(sb + superblock::INODES_PER_GROUP);
    fs->fragmentsPerGroup = readLe32(sb + superblock::FRAGMENTS_PER_GROUP);
    fs->maxInodeLink = static_cast<std::int32_t>(readLe32(sb + superblock::MAX_INODE_LINK));
    fs->blockOffsetMask = readLe64(sb + superblock::BLOCK_OFFSET_MASK);
    fs->fragmentOffsetMask = readLe64(sb + superblock::FRAGMENT_OFFSET_MASK);

    if (fs->blockSize < superblock::USED_SIZE || fs->blockSize > 65536 || !powerOfTwo(fs->blockSize)) return false;
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

std::uint16_t inodeMode(const UfsFile* file) { return readLe16(file->inode + dinode::MODE); }
std::uint64_t inodeSize(const UfsFile* file) { return readLe64(file->inode + dinode::SIZE); }
bool isDirectory(const UfsFile* file) { return (inodeMode(file) & MODE_TYPE_MASK) == MODE_DIRECTORY; }
bool isSymlink(const UfsFile* file) { return (inodeMode(file) & MODE_TYPE_MASK) == MODE_SYMLINK; }

// Reads `count` bytes at `sector` of the partition, charged to the open's budget.
int readSectorsAt(UfsFile* file, const FileContext* context, std::uint64_t sector, std::uint32_t count,
                  std::uint8_t* buffer) {
    if (sector > 0xFFFFFFFFu) return UFS_IO_ERROR;
    // Running out of work is reported as a path that does not resolve.
    if (file->workLeft < count) return UFS_NOT_FOUND;
    file->workLeft -= count;
    std::uint32_t done = 0;
    int error = context->driver->readBlocks(context->device.get(), BLOCK_READ, static_cast<std::uint32_t>(sector), count,
                                            buffer, &done);
    if (error) return error;
    return done < count ? UFS_IO_ERROR : UFS_OK;
}

int readFragments(UfsFile* file, const FileContext* context, std::uint64_t fragment, std::uint32_t count,
                  std::uint8_t* buffer) {
    if (fragment > (0xFFFFFFFFull >> file->fs.sectorShift)) return UFS_IO_ERROR;
    return readSectorsAt(file, context, fragment << file->fs.sectorShift, count, buffer);
}

// Fills the metadata buffer with `count` bytes at `sector`, unless it holds them.
int readMetadata(UfsFile* file, const FileContext* context, std::uint64_t sector, std::uint32_t count) {
    if (file->metadataSector == sector && file->metadataCount == count) return UFS_OK;
    file->metadataSector = UINT64_MAX;
    int error = readSectorsAt(file, context, sector, count, file->metadataBuffer.get());
    if (error) return error;
    file->metadataSector = sector;
    file->metadataCount = count;
    return UFS_OK;
}

int readInode(UfsFile* file, const FileContext* context, std::uint32_t number) {
    // The inode in hand, as for "." or a link's own directory, needs no read.
    if (number != 0 && number == file->inodeNumber) return UFS_OK;
    const UfsGeometry& fs = file->fs;
    if (number == 0 || number / fs.inodesPerGroup >= fs.groups) return UFS_INVALID;
    std::uint64_t group = number / fs.inodesPerGroup;
    std::uint64_t fragment = static_cast<std::uint64_t>(fs.fragmentsPerGroup) * group +
                             static_cast<std::uint64_t>(fs.groupOffset) * (group & ~static_cast<std::uint64_t>(fs.groupMask)) +
                             fs.firstInodeFragment +
                             (static_cast<std::uint64_t>((number % fs.inodesPerGroup) / fs.inodesPerBlock) << fs.fragmentShift);
    if (fragment > (0xFFFFFFFFull >> fs.sectorShift)) return UFS_IO_ERROR;
    // Only the sector that holds the inode is read, not its whole block.
    std::uint32_t offset = (number % fs.inodesPerBlock) * INODE_SIZE;
    int error = readMetadata(file, context, (fragment << fs.sectorShift) + offset / SECTOR_SIZE, SECTOR_SIZE);
    // Whatever the outcome, the buffers no longer belong to the inode in hand.
    file->cachedIndirectGroup = -1;
    file->bufferFileBlock = -1;
    file->inodeNumber = 0;
    if (error) return error;
    std::memcpy(file->inode, file->metadataBuffer.get() + offset % SECTOR_SIZE, INODE_SIZE);
    file->inodeNumber = number;
    return UFS_OK;
}

// How many bytes of file block `fileBlock` are stored: a whole block, except the
// last block of a small file, which is stored as whole fragments.
std::uint32_t storedLength(const UfsFile* file, std::uint64_t fileBlock) {
    const UfsGeometry& fs = file->fs;
    std::uint64_t size = inodeSize(file);
    if (fileBlock < DIRECT_BLOCKS && size / fs.blockSize <= fileBlock) {
        return static_cast<std::uint32_t>(((size & fs.blockOffsetMask) + fs.fragmentOffsetMask) & fs.fragmentMask);
    }
    return fs.blockSize;
}

// Loads file block `fileBlock` into the block buffer, and behind it as many of the
// following whole blocks as lie next to it on the disk, or as many as are holes
// with it, up to the buffer's size.
int loadBlocks(UfsFile* file, const FileContext* context, std::uint64_t fileBlock) {
    const UfsGeometry& fs = file->fs;
    std::uint64_t size = inodeSize(file);
    std::uint64_t fileBlocks = (size >> fs.blockShift) + ((size & fs.blockOffsetMask) ? 1 : 0);
    // File block numbers stay within 32 bits.
    std::uint64_t room = std::min<std::uint64_t>({UFS_CLUSTER_SIZE / fs.blockSize, fileBlocks - fileBlock,
                                                  0x100000000ull - fileBlock});
    std::uint32_t length = storedLength(file, fileBlock);
    file->bufferFileBlock = -1;
    std::uint32_t first = 0;
    std::uint64_t holes = 0;
    int error = ufsMapBlock(file, context, static_cast<std::uint32_t>(fileBlock), &first, &holes);
    if (error) return error;
    std::uint32_t count = length;
    if (first == 0) {
        if (length == fs.blockSize) count = static_cast<std::uint32_t>(std::min(holes, room)) * fs.blockSize;
        std::memset(file->blockBuffer.get(), 0, count);
    } else {
        std::uint32_t step = 1u << fs.fragmentShift;
        std::uint64_t blocks = 1;
        while (length == fs.blockSize && blocks < room && storedLength(file, fileBlock + blocks) == fs.blockSize) {
            std::uint32_t next = 0;
            // A block that cannot be mapped now is left to be read, and reported,
            // on its own.
            if (ufsMapBlock(file, context, static_cast<std::uint32_t>(fileBlock + blocks), &next) != UFS_OK) break;
            if (next != first + blocks * step) break;
            ++blocks;
        }
        if (blocks > 1) count = static_cast<std::uint32_t>(blocks) * fs.blockSize;
        error = readFragments(file, context, first, count, file->blockBuffer.get());
        if (error) return error;
    }
    file->blockBufferCount = count;
    file->bufferFileBlock = static_cast<std::int64_t>(fileBlock);
    return UFS_OK;
}

// The bytes of the file under the position: where they start in the buffer and how
// many are available there. With `holeBlocks`, a hole is not filled: *data is
// null and *holeBlocks tells how many file blocks from the current one are holes.
int currentBlock(UfsFile* file, const FileContext* context, const std::uint8_t** data, std::uint32_t* available,
                 std::uint64_t* holeBlocks = nullptr) {
    const UfsGeometry& fs = file->fs;
    std::uint64_t position = static_cast<std::uint64_t>(file->position);
    std::uint64_t fileBlock = position >> fs.blockShift;
    std::uint64_t size = inodeSize(file);
    if (position >= size) return UFS_IO_ERROR;
    if (fileBlock > 0xFFFFFFFFu) return UFS_FILE_TOO_BIG;
    if (storedLength(file, fileBlock) <= (position & fs.blockOffsetMask)) return UFS_IO_ERROR;

    std::int64_t first = file->bufferFileBlock;
    bool held = first >= 0 && fileBlock >= static_cast<std::uint64_t>(first) &&
                position - (static_cast<std::uint64_t>(first) << fs.blockShift) < file->blockBufferCount;
    if (!held && holeBlocks) {
        std::uint32_t number = 0;
        int error = ufsMapBlock(file, context, static_cast<std::uint32_t>(fileBlock), &number, holeBlocks);
        if (error) return error;
        if (number == 0) {
            *data = nullptr;
            *available = 0;
            return UFS_OK;
        }
    }
    if (!held) {
        int error = loadBlocks(file, context, fileBlock);
        if (error) return error;
        first = file->bufferFileBlock;
    }
    if (holeBlocks) *holeBlocks = 0;
    std::uint64_t offset = position - (static_cast<std::uint64_t>(first) << fs.blockShift);
    std::uint64_t count = file->blockBufferCount - offset;
    if (size - position < count) count = size - position;
    // Nothing available would leave the callers' loops where they are.
    if (count == 0) return UFS_IO_ERROR;
    *data = file->blockBuffer.get() + offset;
    *available = static_cast<std::uint32_t>(count);
    return UFS_OK;
}

// The inode number of `name` in the current directory. Holes hold no entries and
// are stepped over whole.
int lookup(UfsFile* file, const FileContext* context, const char* name, std::size_t length, std::uint32_t* found) {
    bool oldFormat = file->fs.maxInodeLink <= 0;
    std::int64_t size = static_cast<std::int64_t>(std::min<std::uint64_t>(inodeSize(file), POSITION_LIMIT));
    file->position = 0;
    while (file->position < size) {
        const std::uint8_t* data = nullptr;
        std::uint32_t available = 0;
        std::uint64_t holeBlocks = 0;
        int error = currentBlock(file, context, &data, &available, &holeBlocks);
        if (error) return error;
        if (!data) {
            std::uint64_t next = ((static_cast<std::uint64_t>(file->position) >> file->fs.blockShift) + holeBlocks)
                                 << file->fs.blockShift;
            file->position = static_cast<std::int64_t>(std::min<std::uint64_t>(next, POSITION_LIMIT));
            continue;
        }
        // Entries do not cross directory blocks: each block is walked on its own.
        std::uint32_t inBlock = static_cast<std::uint32_t>(file->position & file->fs.blockOffsetMask);
        std::uint32_t blockRest = file->fs.blockSize - inBlock;
        available = std::min(available, blockRest);
        std::uint32_t at = 0;
        while (fitsWithin(available, at, 8)) {
            std::uint32_t number = readLe32(data + at + direntry::INODE);
            std::uint32_t recordLength = readLe16(data + at + direntry::RECORD_LENGTH);
            // A corrupt entry ends the scan of this block.
            if (recordLength < 8 || !fitsWithin(available, at, recordLength)) break;
            std::uint32_t nameLength = oldFormat ? data[at + direntry::OLD_NAME_LENGTH] : data[at + direntry::NAME_LENGTH];
            if (number != 0 && nameLength == length && nameLength <= recordLength - direntry::NAME &&
                std::memcmp(data + at + direntry::NAME, name, length) == 0) {
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
        std::memcpy(path, file->inode + dinode::DIRECT_BLOCKS, length);
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
    int error = context->driver->readBlocks(context->device.get(), BLOCK_READ, SUPERBLOCK_SECTOR, SUPERBLOCK_SIZE,
                                            file->superblock.get(), &done);
    if (error) return error;
    if (done < SUPERBLOCK_SIZE || !readGeometry(file->superblock.get(), &file->fs)) return UFS_INVALID;
    file->indexShift = log2Of(file->fs.pointersPerBlock);
    file->blockBuffer.reset(new (std::nothrow) std::uint8_t[std::max(file->fs.blockSize, UFS_CLUSTER_SIZE)]);
    file->metadataBuffer.reset(new (std::nothrow) std::uint8_t[file->fs.blockSize]);
    if (!file->blockBuffer || !file->metadataBuffer) return UFS_NO_MEMORY;
    file->workLeft = UFS_OPEN_WORK_LIMIT;
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
    file->workLeft = UINT64_MAX;
    return UFS_OK;
}

}  // namespace

int ufsMapBlock(UfsFile* file, const FileContext* context, std::uint32_t fileBlock, std::uint32_t* blockNumber,
                std::uint64_t* holeBlocks) {
    std::uint64_t holes = 1;
    // Counts the zero entries of `count` 32-bit block numbers at `entries` from
    // `from` on; each stands for `span` file blocks.
    auto zerosFrom = [](const std::uint8_t* entries, std::uint64_t from, std::uint64_t count) {
        std::uint64_t next = from;
        while (next < count && readLe32(entries + 4 * next) == 0) ++next;
        return next - from;
    };
    if (fileBlock < DIRECT_BLOCKS) {
        *blockNumber = readLe32(file->inode + dinode::DIRECT_BLOCKS + 4 * fileBlock);
        if (*blockNumber == 0) holes = zerosFrom(file->inode + dinode::DIRECT_BLOCKS, fileBlock, DIRECT_BLOCKS);
        if (holeBlocks) *holeBlocks = holes;
        return UFS_OK;
    }
    std::uint32_t f = fileBlock - DIRECT_BLOCKS;
    std::int32_t group = static_cast<std::int32_t>(f / INDIRECT_CACHE_SIZE);
    if (group == file->cachedIndirectGroup) {
        std::uint32_t at = f % INDIRECT_CACHE_SIZE;
        *blockNumber = file->indirectCache[at];
        if (holeBlocks) {
            std::uint32_t next = at;
            while (next < INDIRECT_CACHE_SIZE && file->indirectCache[next] == 0) ++next;
            *holeBlocks = std::max<std::uint32_t>(next - at, 1);
        }
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
    std::uint32_t number = readLe32(file->inode + dinode::INDIRECT_BLOCKS + 4 * (level / shift - 1));
    if (number == 0) {
        // A missing indirect block is a hole of its whole range.
        *blockNumber = 0;
        if (holeBlocks) *holeBlocks = (1ull << level) - index;
        return UFS_OK;
    }
    const std::uint32_t blockSize = file->fs.blockSize;
    const std::uint64_t entries = file->fs.pointersPerBlock;
    std::uint64_t entry = 0;
    do {
        level -= shift;
        if (number > (0xFFFFFFFFull >> file->fs.sectorShift)) return UFS_IO_ERROR;
        int error = readMetadata(file, context, static_cast<std::uint64_t>(number) << file->fs.sectorShift, blockSize);
        if (error) return error;
        const std::uint8_t* block = file->metadataBuffer.get();
        entry = index >> level;
        index &= (1ull << level) - 1;
        number = readLe32(block + 4 * entry);
        if (number == 0 && level > 0) {
            *blockNumber = 0;
            if (holeBlocks) *holeBlocks = (zerosFrom(block, entry, entries) << level) - index;
            return UFS_OK;
        }
    } while (level > 0);
    std::uint64_t firstOfGroup = entry & ~static_cast<std::uint64_t>(INDIRECT_CACHE_SIZE - 1);
    for (std::uint32_t i = 0; i < INDIRECT_CACHE_SIZE; ++i) {
        file->indirectCache[i] = readLe32(file->metadataBuffer.get() + 4 * (firstOfGroup + i));
    }
    file->cachedIndirectGroup = group;
    *blockNumber = number;
    if (number == 0 && holeBlocks) *holeBlocks = zerosFrom(file->metadataBuffer.get(), entry, entries);
    else if (holeBlocks) *holeBlocks = 1;
    return UFS_OK;
}

FileContext::~FileContext() = default;

int ufsOpen(const char* path, FileContext* context) {
    if (!context || !context->driver || !path) return UFS_INVALID;
    if (context->file) ufsClose(context);
    if (!context->device) return UFS_NO_DEVICE;
    context->file.reset(new (std::nothrow) UfsFile);
    if (!context->file) return UFS_NO_MEMORY;
    int error = openPath(context->file.get(), context, path);
    if (error) ufsClose(context);
    return error;
}

int ufsClose(FileContext* context) {
    if (!context) return UFS_OK;
    context->file.reset();
    return UFS_OK;
}

int ufsRead(FileContext* context, void* buffer, std::uint32_t length, std::uint32_t* residual) {
    *residual = length;
    if (!context || !context->file) return UFS_INVALID;
    UfsFile* file = context->file.get();
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
    UfsFile* file = context->file.get();
    std::int64_t base = 0;
    switch (mode) {
    case UFS_SEEK_SET: break;
    case UFS_SEEK_CURRENT: base = file->position; break;
    case UFS_SEEK_END: base = static_cast<std::int64_t>(std::min<std::uint64_t>(inodeSize(file), INT64_MAX)); break;
    default: return -1;
    }
    // From the end the offset counts backwards. Either way the sum is checked
    // against the limits before it is made.
    if (mode == UFS_SEEK_END) {
        if (offset < 0 ? base > INT64_MAX + offset : base < INT64_MIN + offset) return -1;
        file->position = base - offset;
    } else {
        if (offset > 0 ? base > INT64_MAX - offset : base < INT64_MIN - offset) return -1;
        file->position = base + offset;
    }
    return file->position;
}

std::uint64_t ufsSize(const FileContext* context) {
    return context && context->file ? inodeSize(context->file.get()) : 0;
}

}  // namespace quorvel
