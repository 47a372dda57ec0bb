// Disk images for the block-device and UFS tests: UFS1 file systems made by makefs,
// MBR partition tables written by sfdisk, and BSD disk labels.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

constexpr std::uint32_t IMAGE_SECTOR = 512;

struct UfsImageOptions {
    std::uint32_t blockSize = 4096;
    std::uint32_t fragmentSize = 512;
    // Room left free; makefs's own estimate can fall short for small trees of
    // incompressible files.
    std::uint32_t freeBlocksPercent = 0;
};

// makefs -t ffs -o version=1 of `tree` into `image`; the tool's output when it failed.
bool makeUfsImage(const std::filesystem::path& tree, const std::filesystem::path& image, std::string* failure,
                  const UfsImageOptions& options = {});

struct MbrPartition {
    std::uint32_t start;
    std::uint32_t sectors;
    std::uint8_t type;
};

// A zero-filled disk of `sectors` sectors with an MBR partition table made by sfdisk.
bool makeMbrDisk(const std::filesystem::path& image, std::uint32_t sectors, const std::vector<MbrPartition>& partitions,
                 std::string* failure);

struct LabelPartition {
    std::uint32_t offset;  // absolute sector
    std::uint32_t sectors;
    std::uint8_t fsType = 7;  // 4.2BSD
};

// One 512-byte sector holding a BSD disk label for these partitions, its checksum right.
std::vector<std::uint8_t> bsdLabel(std::uint32_t diskSectors, const std::vector<LabelPartition>& partitions);
// Sets the label's checksum so that its words exclusive-or to 0.
void sealBsdLabel(std::vector<std::uint8_t>& label);

void writeAt(const std::filesystem::path& image, std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readAt(const std::filesystem::path& image, std::uint64_t offset, std::size_t size);
// Copies all of `source` into `image` from sector `sector` on.
void copyInto(const std::filesystem::path& image, std::uint32_t sector, const std::filesystem::path& source);

// util-linux's view of the partitions: "start sectors type" per line.
std::string partxShow(const std::filesystem::path& image);

}  // namespace testing_support
