// The MBR partition scan and the BSD disk label checks, over copies of the sectors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "file/ufs/ufs_layout.h"

namespace quorvel {

// The MBR types of a BSD partition: the first 0xA9 entry wins, else the last 0xA5.
constexpr std::uint8_t PARTITION_TYPE_PREFERRED = 0xA9;
constexpr std::uint8_t PARTITION_TYPE_FALLBACK = 0xA5;
constexpr std::uint32_t DISKLABEL_MAGIC = 0x82564557;
constexpr std::size_t DISKLABEL_HEADER_SIZE = bsd_disklabel::PARTITIONS;
constexpr std::size_t DISKLABEL_ENTRY_SIZE = 16;
constexpr std::uint16_t DISKLABEL_MAX_PARTITIONS = 8;

// The first sector of the BSD partition of a 64-byte MBR partition table: the first
// 0xA9 entry, else the last 0xA5 entry. False when there is neither.
bool findBsdPartition(const std::uint8_t* partitionTable, std::uint32_t* startSector);

// Both magics right, no more entries than the copy holds, and the words up to the
// last entry exclusive-or to 0.
bool diskLabelValid(const std::uint8_t* label, std::size_t size);
std::uint16_t diskLabelPartitions(const std::uint8_t* label);
// First sector (absolute) of entry `index` of a valid label.
std::uint32_t diskLabelPartitionStart(const std::uint8_t* label, int index);

}  // namespace quorvel
