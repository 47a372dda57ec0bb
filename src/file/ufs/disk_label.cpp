// MBR partition scan and BSD disk label checks.
#include "file/ufs/disk_label.h"

#include "base/bounded_reader.h"

namespace quorvel {

bool findBsdPartition(const std::uint8_t* partitionTable, std::uint32_t* startSector) {
    bool found = false;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t* entry = partitionTable + mbr::ENTRY_SIZE * i;
        if (entry[mbr::ENTRY_TYPE] == PARTITION_TYPE_PREFERRED) {
            *startSector = readLe32(entry + mbr::ENTRY_START);
            return true;
        }
        if (entry[mbr::ENTRY_TYPE] == PARTITION_TYPE_FALLBACK) {
            *startSector = readLe32(entry + mbr::ENTRY_START);
            found = true;
        }
    }
    return found;
}

std::uint16_t diskLabelPartitions(const std::uint8_t* label) { return readLe16(label + bsd_disklabel::PARTITION_COUNT); }

bool diskLabelValid(const std::uint8_t* label, std::size_t size) {
    if (!fitsWithin(size, 0, DISKLABEL_HEADER_SIZE)) return false;
    if (readLe32(label + bsd_disklabel::MAGIC) != DISKLABEL_MAGIC ||
        readLe32(label + bsd_disklabel::MAGIC2) != DISKLABEL_MAGIC) return false;
    // A label claiming more entries than the copy holds is not trusted.
    std::size_t entries = diskLabelPartitions(label);
    if (entries > DISKLABEL_MAX_PARTITIONS || !fitsWithin(size, DISKLABEL_HEADER_SIZE, DISKLABEL_ENTRY_SIZE * entries))
        return false;
    std::uint16_t sum = 0;
    for (std::size_t at = 0; at < DISKLABEL_HEADER_SIZE + DISKLABEL_ENTRY_SIZE * entries; at += 2) sum ^= readLe16(label + at);
    return sum == 0;
}

std::uint32_t diskLabelPartitionStart(const std::uint8_t* label, int index) {
    return readLe32(label + DISKLABEL_HEADER_SIZE + DISKLABEL_ENTRY_SIZE * static_cast<std::size_t>(index) + bsd_disklabel::ENTRY_OFFSET);
}

}  // namespace quorvel
