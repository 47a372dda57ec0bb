// The MBR partition scan and the BSD disk label checks over the first sectors of a
// disk, in the order the block driver uses them: the partition table, then the
// label in the sector after the partition's first, then its entries.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "file/ufs/block_driver.h"
#include "file/ufs/disk_label.h"

using namespace quorvel;

namespace {

// The sector at `sector` of the input, zeros where the input ends.
void sectorAt(const std::uint8_t* data, std::size_t size, std::uint64_t sector, std::uint8_t* out) {
    std::memset(out, 0, SECTOR_SIZE);
    std::uint64_t offset = sector * SECTOR_SIZE;
    if (offset < size) std::memcpy(out, data + offset, std::min<std::uint64_t>(SECTOR_SIZE, size - offset));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t sector[SECTOR_SIZE];
    sectorAt(data, size, 0, sector);
    // Exactly sized copies, so that any read past them is caught.
    auto table = std::make_unique<std::uint8_t[]>(PARTITION_TABLE_SIZE);
    std::memcpy(table.get(), sector + 446, PARTITION_TABLE_SIZE);
    std::uint32_t start = 0;
    if (!findBsdPartition(table.get(), &start)) return 0;

    sectorAt(data, size, static_cast<std::uint64_t>(start) + 1, sector);
    auto label = std::make_unique<std::uint8_t[]>(DISK_LABEL_COPY_SIZE);
    std::memcpy(label.get(), sector, DISK_LABEL_COPY_SIZE);
    // The whole sector and shorter copies must be judged within their bounds too.
    for (std::size_t length : {SECTOR_SIZE, DISKLABEL_HEADER_SIZE + 1, DISKLABEL_HEADER_SIZE - 1}) {
        auto copy = std::make_unique<std::uint8_t[]>(length);
        std::memcpy(copy.get(), sector, length);
        diskLabelValid(copy.get(), length);
    }
    if (!diskLabelValid(label.get(), DISK_LABEL_COPY_SIZE)) return 0;
    for (int index = 0; index < diskLabelPartitions(label.get()); ++index) {
        diskLabelPartitionStart(label.get(), index);
    }
    return 0;
}
