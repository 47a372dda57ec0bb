// The UFS reader over an image held in memory: the superblock checks, inodes, block
// mapping, directory lookups and symbolic links, then reads of what opened.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "file/ufs/block_driver.h"
#include "file/ufs/error_numbers.h"
#include "file/ufs/ufs_reader.h"

using namespace quorvel;

namespace {

const std::uint8_t* image = nullptr;
std::size_t imageSize = 0;
// Past the input the device reads zeros, up to this size, so that seeds need not
// carry their trailing zeros; beyond it the device reports an error.
constexpr std::uint64_t DEVICE_SIZE = 64u << 20;

int memoryRead(DiskDevice*, int direction, std::uint32_t sector, std::uint32_t count, void* buffer, std::uint32_t* done) {
    if (direction != BLOCK_READ) return UFS_READ_ONLY;
    std::uint64_t offset = static_cast<std::uint64_t>(sector) * SECTOR_SIZE;
    if (offset > DEVICE_SIZE || DEVICE_SIZE - offset < count) return UFS_IO_ERROR;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t present = offset < imageSize ? static_cast<std::size_t>(std::min<std::uint64_t>(count, imageSize - offset)) : 0;
    if (present) std::memcpy(out, image + offset, present);
    std::memset(out + present, 0, count - present);
    if (done) *done = count;
    return UFS_OK;
}

int memoryOpen(FileContext*, const char*, int, int) { return UFS_OK; }
int memoryClose(FileContext*) { return UFS_OK; }
int memoryControl(FileContext*, int, void*) { return UFS_IO_ERROR; }

const BlockDriver memoryDriver = {"memory", memoryRead, memoryOpen, memoryClose, memoryControl};

// Paths of the seed images: plain, through absolute, relative, long and looping
// links, through a link to a directory, and odd spellings.
const char* const PATHS[] = {
    "boot/kernel", "/links/abs", "/links/rel", "/links/long", "/links/dir/c/file", "/links/loop",
    "//a/b//c/file/", "/a/b/c/../c/file", "/", "/missing",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    image = data;
    imageSize = size;
    FileContext context;
    context.driver = &memoryDriver;
    context.device = std::make_unique<DiskDevice>();
    std::vector<std::uint8_t> buffer(4080);
    for (const char* path : PATHS) {
        if (ufsOpen(path, &context) != UFS_OK) continue;
        // The loader's reads, a bounded number of them, then a few seeks.
        std::uint32_t residual = 0;
        for (int i = 0; i < 64; ++i) {
            if (ufsRead(&context, buffer.data(), static_cast<std::uint32_t>(buffer.size()), &residual) != UFS_OK) break;
            if (residual == buffer.size()) break;
        }
        ufsSeek(&context, 1000, UFS_SEEK_END);
        ufsRead(&context, buffer.data(), 2000, &residual);
        ufsSeek(&context, -5000, UFS_SEEK_CURRENT);
        ufsRead(&context, buffer.data(), 100, &residual);
        ufsClose(&context);
    }
    return 0;
}
