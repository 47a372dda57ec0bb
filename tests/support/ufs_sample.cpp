// The UFS tests' sample disk.
#include "support/ufs_sample.h"

#include "support/disk_images.h"
#include "support/test_data.h"

namespace testing_support::ufs_sample {

const std::string deepText = "found at the bottom of the tree\n";
const std::string kernelText = "the kernel\n";

std::string bigFile() { return randomData(BIG_SIZE, 7); }
std::string smallFile() { return randomData(5000, 11); }
std::string holesFile() { return randomData(20 * BLOCK, 13); }

namespace {

std::string dots(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "./";
    return text;
}

}  // namespace

bool make(const std::filesystem::path& dir, std::string* failure) {
    namespace fs = std::filesystem;
    const fs::path tree = dir / "tree";
    fs::remove_all(tree);
    writeHostFile(tree / "big", bigFile());
    writeHostFile(tree / "small.txt", smallFile());
    writeHostFile(tree / "holes.bin", holesFile());
    writeHostFile(tree / "a/b/c/deep.txt", deepText);
    fs::create_symlink("b/c/deep.txt", tree / "a/rel");
    fs::create_directories(tree / "links");
    const std::string longTarget = "/a/" + dots(40) + "b/c/deep.txt";
    fs::create_symlink("/a/b/c/deep.txt", tree / "links/abs");
    fs::create_symlink(longTarget, tree / "links/long");
    fs::create_symlink(".." + longTarget, tree / "links/longrel");
    fs::create_symlink("../a/b", tree / "links/dir");
    fs::create_symlink("loop2", tree / "links/loop1");
    fs::create_symlink("loop1", tree / "links/loop2");
    fs::create_directories(tree / "chain");
    for (int i = 0; i < 32; ++i) fs::create_symlink("l" + std::to_string(i + 1), tree / "chain" / ("l" + std::to_string(i)));
    fs::create_symlink("/a/b/c/deep.txt", tree / "chain/l32");
    for (int i = 0; i < 300; ++i) writeHostFile(tree / "many" / ("entry-number-" + std::to_string(i)), std::to_string(i));
    // Links of 500 components each, the second a loop.
    writeHostFile(tree / "boot/kernel", kernelText);
    fs::create_symlink(dots(498) + "boot/kernel", tree / "hostile");
    fs::create_symlink(dots(500) + "loop", tree / "loop");

    const fs::path bare = dir / "ufs.img";
    if (!makeUfsImage(tree, bare, failure)) return false;
    const auto fsSectors = static_cast<std::uint32_t>(fs::file_size(bare) / IMAGE_SECTOR);
    const fs::path disk = dir / "disk.img";
    if (!makeMbrDisk(disk, PARTITION + fsSectors + 64, {{PARTITION, fsSectors, 0xA9}}, failure)) return false;
    copyInto(disk, PARTITION, bare);
    // The label lives in the file system's unused boot area, as on BSD.
    writeAt(disk, (PARTITION + 1) * std::uint64_t{IMAGE_SECTOR}, bsdLabel(PARTITION + fsSectors + 64, {{PARTITION, fsSectors}}));
    fs::remove_all(tree);
    return true;
}

}  // namespace testing_support::ufs_sample
