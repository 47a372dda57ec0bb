// The UFS tests' sample disk: a tree of files, directories and symbolic links made into
// a UFS1 file system by makefs, inside an MBR partition with a BSD label. The build
// makes it once (tests/tools/make_ufs_sample); the tests read it and what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace testing_support::ufs_sample {

constexpr std::uint32_t PARTITION = 63;  // first sector of the file system
constexpr std::uint32_t BLOCK = 4096;
constexpr std::size_t BIG_SIZE = 6u << 20;  // beyond 12 + 1024 blocks: double indirect

// Contents of files in the tree.
extern const std::string deepText;    // a/b/c/deep.txt
extern const std::string kernelText;  // boot/kernel
std::string bigFile();                // big
std::string smallFile();              // small.txt
std::string holesFile();              // holes.bin, before the tests punch holes in it

// Makes "ufs.img" (the bare file system) and "disk.img" (the partitioned disk) in `dir`;
// false with the tools' output in *failure when one failed.
bool make(const std::filesystem::path& dir, std::string* failure);

}  // namespace testing_support::ufs_sample
