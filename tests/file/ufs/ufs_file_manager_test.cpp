// The UFS backend and reader over UFS1 file systems made by makefs, inside an MBR
// partition with a BSD label: indirect blocks, fragments, holes, path walking with
// symbolic links, both directory formats, and images made hostile on purpose.
#include "file/ufs/ufs_file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "file/ufs/error_numbers.h"
#include "file/ufs/ufs_layout.h"
#include "file/ufs/ufs_reader.h"
#include "file/ufs/winblk.h"
#include "platform/coredll.h"
#include "base/little_endian.h"
#include "sim/utf.h"
#include "support/device.h"
#include "support/disk_images.h"
#include "support/recording_console.h"
#include "support/test_data.h"
#include "support/ufs_sample.h"

using namespace quorvel;
using testing_support::RecordingConsole;
using testing_support::TempDir;
using testing_support::TestDevice;

namespace {

using namespace testing_support::ufs_sample;

constexpr std::uint64_t FS = PARTITION * 512ull;  // byte offset of the file system

std::uint32_t get32(const std::vector<std::uint8_t>& bytes, std::size_t at) { return quorvel::readLe32(bytes.data() + at); }

std::vector<std::uint8_t> le32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 24)};
}

// The sample disk is made by the build; tests that change it work on a copy.
class UfsImage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        disk = std::filesystem::path(QUORVEL_UFS_SAMPLE) / "disk.img";
        bare = std::filesystem::path(QUORVEL_UFS_SAMPLE) / "ufs.img";
        ASSERT_TRUE(std::filesystem::exists(disk) && std::filesystem::exists(bare)) << QUORVEL_UFS_SAMPLE;
        big = bigFile();
        small = smallFile();
        holes = holesFile();
    }

    // A copy of the disk a test may change.
    std::filesystem::path copyOfDisk() {
        std::filesystem::path copy = scratch.path() / "disk.img";
        std::filesystem::copy_file(disk, copy, std::filesystem::copy_options::overwrite_existing);
        return copy;
    }

    sim::DeviceSettings settingsFor(const std::filesystem::path& image, const std::u16string& name = u"DSK1:") {
        sim::DeviceSettings settings;
        settings.disks[name] = sim::DiskImage(image);
        return settings;
    }

    // A backend with the device of `image` opened, as the boot sequence leaves it.
    std::unique_ptr<UfsFileManager> backend(TestDevice&) {
        auto manager = std::make_unique<UfsFileManager>(console.slot);
        EXPECT_EQ(manager->setLocation(u"1:/"), 1);
        console.clear();
        return manager;
    }

    std::string readAll(UfsFileManager& manager, std::uint32_t chunk) {
        std::string all;
        std::string buffer(chunk, '\0');
        for (;;) {
            std::int32_t n = manager.read(buffer.data(), chunk);
            if (n <= 0) break;
            all.append(buffer.data(), static_cast<std::size_t>(n));
        }
        return all;
    }

    // The byte offset on the disk of inode `number`, by the file system's own layout.
    static std::uint64_t inodeOffset(const std::filesystem::path& image, std::uint32_t number) {
        std::vector<std::uint8_t> sb = testing_support::readAt(image, FS + 8192, 8192);
        namespace field = ufs1_superblock;
        std::uint32_t iblkno = get32(sb, field::INODE_BLOCK), fpg = get32(sb, field::FRAGMENTS_PER_GROUP),
                      ipg = get32(sb, field::INODES_PER_GROUP), inopb = get32(sb, field::INODES_PER_BLOCK);
        std::uint32_t frag = get32(sb, field::FRAGMENTS_PER_BLOCK), fsbtodb = get32(sb, field::SECTOR_SHIFT),
                      cgoffset = get32(sb, field::GROUP_OFFSET), cgmask = get32(sb, field::GROUP_MASK);
        std::uint64_t group = number / ipg;
        std::uint64_t fragment = fpg * group + cgoffset * (group & ~std::uint64_t(cgmask)) + iblkno +
                                 ((number % ipg) / inopb) * frag;
        return FS + (fragment << fsbtodb) * 512 + (number % inopb) * 128;
    }

    std::uint32_t inodeOf(const char16_t* path) {
        auto manager = std::make_unique<UfsFileManager>(console.slot);
        manager->setLocation(u"1:");
        EXPECT_TRUE(manager->open(path, 3));
        std::uint32_t number = manager->fileContext()->file->inodeNumber;
        console.clear();
        return number;
    }

    static std::filesystem::path disk, bare;
    static std::string big, small, holes;
    TempDir scratch;
    RecordingConsole console;
};
std::filesystem::path UfsImage::disk, UfsImage::bare;
std::string UfsImage::big, UfsImage::small, UfsImage::holes;

TEST_F(UfsImage, ReadsALargeFileThroughDoubleIndirectBlocks) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/big", 3), 1);
    EXPECT_EQ(console.prints(), (std::vector<std::u16string>{u"open file \"/big\" ", u"(6291456 byte).\n"}));
    EXPECT_EQ(manager->storedSize(), BIG_SIZE);
    EXPECT_EQ(manager->size(), BIG_SIZE);
    std::string all = readAll(*manager, 10000);
    ASSERT_EQ(all.size(), big.size());
    EXPECT_TRUE(all == big);
    char byte;
    EXPECT_EQ(manager->read(&byte, 1), 0);  // at the end
    EXPECT_EQ(manager->close(), 0);
    EXPECT_EQ(manager->fileContext()->file, nullptr);
}

TEST_F(UfsImage, ReadsAtOffsetsAcrossEveryBoundary) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"big", 3), 1);
    const std::uint32_t single = 12 * BLOCK, dbl = (12 + 1024) * BLOCK;
    struct Case {
        const char* what;
        std::uint32_t offset, length;
    } cases[] = {
        {"first bytes", 0, 100},
        {"direct to single indirect", single - 10, 100},
        {"whole single indirect block run", single, 64 * BLOCK + 7},
        {"single to double indirect", dbl - 50, 100},
        {"across a group of 64 cached entries", dbl + 64 * BLOCK - 3, 10},
        {"back to the direct blocks", 5 * BLOCK + 1, 5000},
        {"past the end", static_cast<std::uint32_t>(BIG_SIZE) - 10, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string buffer(c.length, '\0');
        std::int32_t n = manager->read(buffer.data(), c.length, static_cast<std::int32_t>(c.offset));
        std::uint32_t expected = std::min<std::uint32_t>(c.length, static_cast<std::uint32_t>(BIG_SIZE) - c.offset);
        ASSERT_EQ(n, static_cast<std::int32_t>(expected));
        EXPECT_TRUE(buffer.substr(0, expected) == big.substr(c.offset, expected));
    }
    char byte;
    EXPECT_EQ(manager->read(&byte, 1, static_cast<std::int32_t>(BIG_SIZE)), 0);
    // The position follows the last read; a seek moves it.
    EXPECT_EQ(manager->seek(single), 1);
    std::string buffer(8, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 8), 8);
    EXPECT_EQ(buffer, big.substr(single, 8));
}

TEST_F(UfsImage, TheLastBlockOfASmallFileIsReadAsWholeFragments) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/small.txt", 3), 1);
    std::string all = readAll(*manager, 3000);
    EXPECT_EQ(all, small);
    // 5000 bytes: one full block, then 904 bytes stored in two 512-byte fragments.
    std::string buffer(200, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 200, 4990), 10);
    EXPECT_EQ(buffer.substr(0, 10), small.substr(4990));
    EXPECT_EQ(manager->read(buffer.data(), 200, 5000), 0);
    EXPECT_EQ(manager->fileContext()->file->blockBufferCount, 1024u);
}

TEST_F(UfsImage, WalksPathsAndSymbolicLinks) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    const char16_t* paths[] = {
        u"/a/b/c/deep.txt",  u"a//b///c/deep.txt", u"//a/b/c//deep.txt/", u"/a/rel",
        u"/links/abs",       u"/links/long",       u"/links/longrel",     u"/links/dir/c/deep.txt",
        u"/links/dir//c/../c/deep.txt", u"/chain/l1",
    };
    for (const char16_t* path : paths) {
        SCOPED_TRACE(sim::toUtf8(path));
        ASSERT_EQ(manager->open(path, 3), 1) << console.text();
        std::string buffer(100, '\0');
        ASSERT_EQ(manager->read(buffer.data(), 100), static_cast<std::int32_t>(deepText.size()));
        EXPECT_EQ(buffer.substr(0, deepText.size()), deepText);
        manager->close();
    }
    // A path used up at once opens the root directory itself.
    ASSERT_EQ(manager->open(u"/", 3), 1);
    EXPECT_EQ(manager->fileContext()->file->inodeNumber, ROOT_INODE);
    // The last of many directory entries, several directory blocks in.
    ASSERT_EQ(manager->open(u"/many/entry-number-299", 3), 1);
    std::string buffer(10, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 10), 3);
    EXPECT_EQ(buffer.substr(0, 3), "299");
}

TEST_F(UfsImage, ReportsPathsThatDoNotResolve) {
    TestDevice device(settingsFor(disk));
    UfsFileManager manager(console.slot);
    ASSERT_EQ(manager.setLocation(u"DSK1:"), 1);
    struct Case {
        const char* path;
        int error;
    } cases[] = {
        {"/missing", UFS_NOT_FOUND},
        {"/a/b/missing", UFS_NOT_FOUND},
        {"/small.txt/x", UFS_NOT_DIRECTORY},
        {"/a/b/c/deep.txt/more", UFS_NOT_DIRECTORY},
        {"/links/loop1", UFS_NOT_FOUND},
        {"/chain/l0", UFS_NOT_FOUND},  // one link more than may be followed
        {"/many/entry-number-3000", UFS_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ufsOpen(c.path, manager.fileContext()), c.error);
        EXPECT_EQ(manager.fileContext()->file, nullptr);  // released
    }
    console.clear();
    EXPECT_EQ(manager.open(u"/small.txt/x", 3), 0);
    EXPECT_EQ(console.prints(), (std::vector<std::u16string>{u"open file \"/small.txt/x\" ", u"failed.\n"}));
    EXPECT_EQ(manager.storedSize(), 0u);
    char byte;
    EXPECT_EQ(manager.read(&byte, 1), -1);
}

TEST_F(UfsImage, HolesReadAsZeros) {
    std::uint32_t number = [&] {
        TestDevice device(settingsFor(disk));
        return inodeOf(u"/holes.bin");
    }();
    std::filesystem::path image = copyOfDisk();
    std::uint64_t inode = inodeOffset(image, number);
    // Blocks 2 and 5 become holes, as a file system that never wrote them has them.
    testing_support::writeAt(image, inode + 40 + 4 * 2, le32(0));
    testing_support::writeAt(image, inode + 40 + 4 * 5, le32(0));
    std::string expected = holes;
    std::fill_n(expected.begin() + 2 * BLOCK, BLOCK, '\0');
    std::fill_n(expected.begin() + 5 * BLOCK, BLOCK, '\0');

    TestDevice device(settingsFor(image));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/holes.bin", 3), 1);
    EXPECT_TRUE(readAll(*manager, 3333) == expected);
}

TEST_F(UfsImage, AMissingIndirectBlockIsAHoleOfItsWholeRange) {
    std::uint32_t number = [&] {
        TestDevice device(settingsFor(disk));
        return inodeOf(u"/big");
    }();
    std::filesystem::path image = copyOfDisk();
    testing_support::writeAt(image, inodeOffset(image, number) + 88, le32(0));  // single indirect
    std::string expected = big;
    std::fill_n(expected.begin() + 12 * BLOCK, 1024 * BLOCK, '\0');

    TestDevice device(settingsFor(image));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/big", 3), 1);
    EXPECT_TRUE(readAll(*manager, 65536) == expected);
}

TEST_F(UfsImage, MapsBlocksUpToTheTripleIndirectRange) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/big", 3), 1);
    UfsFile* file = manager->fileContext()->file.get();
    std::uint32_t number = 0;
    // The big file has no triple indirect block: its range reads as a hole.
    const std::uint32_t triple = 12 + 1024 + 1024 * 1024;
    EXPECT_EQ(ufsMapBlock(file, manager->fileContext(), triple, &number), UFS_OK);
    EXPECT_EQ(number, 0u);
    EXPECT_EQ(ufsMapBlock(file, manager->fileContext(), triple + 1024u * 1024 * 1024, &number), UFS_FILE_TOO_BIG);
    EXPECT_EQ(ufsMapBlock(file, manager->fileContext(), 0xFFFFFFFFu, &number), UFS_FILE_TOO_BIG);
    EXPECT_EQ(ufsMapBlock(file, manager->fileContext(), 12 + 1024, &number), UFS_OK);
    EXPECT_NE(number, 0u);
}

TEST_F(UfsImage, ReadsTheOldDirectoryFormat) {
    std::filesystem::path image = copyOfDisk();
    std::vector<std::uint8_t> all = testing_support::readAt(image, 0, std::filesystem::file_size(image));
    // Directory blocks start with "." and ".."; the old format kept the name length
    // where the new one keeps the entry type.
    int converted = 0;
    for (std::size_t at = FS; at + 512 <= all.size(); at += 512) {
        const std::uint8_t* p = all.data() + at;
        bool dot = get32(all, at) != 0 && p[4] == 12 && p[5] == 0 && p[6] == 4 && p[7] == 1 && p[8] == '.';
        bool dotdot = dot && p[18] == 4 && p[19] == 2 && p[20] == '.' && p[21] == '.';
        if (!dotdot) continue;
        for (std::size_t entry = 0; entry < 512;) {
            std::uint16_t length = quorvel::readLe16(p + entry + 4);
            if (length == 0) break;
            all[at + entry + 6] = p[entry + 7];
            all[at + entry + 7] = 0;
            entry += length;
        }
        ++converted;
    }
    ASSERT_GE(converted, 4);
    std::uint32_t zero = 0;
    std::memcpy(all.data() + FS + 8192 + 1320, &zero, 4);  // longest in-inode link: 0
    testing_support::writeAt(image, 0, all);

    TestDevice device(settingsFor(image));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/a/b/c/deep.txt", 3), 1) << console.text();
    std::string buffer(100, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 100), static_cast<std::int32_t>(deepText.size()));
}

TEST_F(UfsImage, RefusesHostileSuperblocks) {
    namespace field = ufs1_superblock;
    struct Case {
        const char* what;
        std::size_t offset;  // in the superblock
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"wrong magic", field::MAGIC, le32(0x19540119)},
        {"block size 512", field::BLOCK_SIZE, le32(512)},
        {"block size beyond 64 KB", field::BLOCK_SIZE, le32(131072)},
        {"block size not a power of two", field::BLOCK_SIZE, le32(6000)},
        {"block shift disagrees", field::BLOCK_SHIFT, le32(13)},
        {"indirect entries not a power of two", field::POINTERS_PER_BLOCK, le32(1000)},
        {"no indirect entries", field::POINTERS_PER_BLOCK, le32(0)},
        {"more indirect entries than a block holds", field::POINTERS_PER_BLOCK, le32(2048)},
        {"no inodes per block", field::INODES_PER_BLOCK, le32(0)},
        {"more inodes per block than fit", field::INODES_PER_BLOCK, le32(64)},
        {"no inodes per group", field::INODES_PER_GROUP, le32(0)},
        {"absurd fragment shift", field::FRAGMENT_SHIFT, le32(9)},
        {"block offset mask too wide", field::BLOCK_OFFSET_MASK, le32(0xFFFF)},
        {"fragment to sector shift disagrees", field::SECTOR_SHIFT, le32(2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::path image = copyOfDisk();
        testing_support::writeAt(image, FS + 8192 + c.offset, c.bytes);
        TestDevice device(settingsFor(image));
        auto manager = backend(device);
        EXPECT_EQ(ufsOpen("/small.txt", manager->fileContext()), UFS_INVALID);
        EXPECT_EQ(manager->open(u"/small.txt", 3), 0);
    }
}

TEST_F(UfsImage, SurvivesCorruptDirectoriesAndInodeNumbers) {
    std::filesystem::path image = copyOfDisk();
    std::vector<std::uint8_t> all = testing_support::readAt(image, 0, std::filesystem::file_size(image));
    // A directory entry of that type and name, its name padded with zeros.
    auto entryOf = [&](const std::string& name, std::uint8_t type) {
        std::size_t padded = (name.size() + 4) & ~std::size_t(3);
        for (std::size_t at = FS; at + 8 + padded < all.size(); at += 4) {
            if (all[at + 6] == type && all[at + 7] == name.size() &&
                std::memcmp(all.data() + at + 8, name.data(), name.size()) == 0 &&
                std::all_of(all.begin() + static_cast<std::ptrdiff_t>(at + 8 + name.size()),
                            all.begin() + static_cast<std::ptrdiff_t>(at + 8 + padded), [](std::uint8_t c) { return c == 0; })) {
                return at;
            }
        }
        return std::size_t(0);
    };
    std::size_t deep = entryOf("deep.txt", 8);
    std::size_t b = entryOf("b", 4);
    ASSERT_NE(deep, 0u);
    ASSERT_NE(b, 0u);
    struct Case {
        const char* what;
        std::size_t at;
        std::vector<std::uint8_t> bytes;
        const char* path;
        int error;
    } cases[] = {
        {"inode number past the last group", deep, le32(0x7FFFFFFF), "/a/b/c/deep.txt", UFS_INVALID},
        {"record length 0", b, {0, 0}, "/a/b/c/deep.txt", UFS_NOT_FOUND},
        {"record length past the block", b, {0xFF, 0xFF}, "/a/b/c/deep.txt", UFS_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> patched = all;
        std::size_t at = c.at + (c.bytes.size() == 2 ? 4 : 0);
        std::copy(c.bytes.begin(), c.bytes.end(), patched.begin() + static_cast<std::ptrdiff_t>(at));
        testing_support::writeAt(image, 0, patched);
        TestDevice device(settingsFor(image));
        auto manager = backend(device);
        EXPECT_EQ(ufsOpen(c.path, manager->fileContext()), c.error);
    }
}

// Root directories made hostile: 2 GB long, their one real block reached through
// the double indirect block among holes, or every block of the 2 GB the same block.
// Each open must end after bounded work, so this test must never take long.
TEST_F(UfsImage, BoundsTheWorkOfOneOpenOnHostileDirectories) {
    std::uint32_t fsSectors = static_cast<std::uint32_t>(std::filesystem::file_size(bare) / 512);
    std::filesystem::path image = copyOfDisk();
    std::uint64_t root = inodeOffset(image, ROOT_INODE);
    std::vector<std::uint8_t> inode = testing_support::readAt(image, root, 128);
    ASSERT_LE(get32(inode, 8), BLOCK);  // the root directory fills one block
    std::uint32_t rootBlock = get32(inode, 40);
    // Two indirect blocks fit behind the file system, in the disk's spare sectors.
    const std::uint32_t outer = fsSectors, inner = fsSectors + BLOCK / 512;
    auto pointers = [](std::uint32_t value) {
        std::vector<std::uint8_t> block(BLOCK, 0);
        for (std::size_t at = 0; at < BLOCK; at += 4) std::copy_n(le32(value).begin(), 4, block.begin() + at);
        return block;
    };
    auto hostileRoot = [&](std::uint32_t direct, std::uint32_t single, std::uint32_t dbl) {
        std::vector<std::uint8_t> patched = inode;
        std::copy_n(le32(0x7FFFFFFF).begin(), 4, patched.begin() + 8);
        std::fill_n(patched.begin() + 12, 4, 0);
        for (int i = 0; i < 12; ++i) std::copy_n(le32(direct).begin(), 4, patched.begin() + 40 + 4 * i);
        std::copy_n(le32(single).begin(), 4, patched.begin() + 88);
        std::copy_n(le32(dbl).begin(), 4, patched.begin() + 92);
        testing_support::writeAt(image, root, patched);
    };
    struct Case {
        const char* what;
        bool holes;  // else every block is the root's block
        const char* path;
        int error;
    } cases[] = {
        {"a name among holes", true, "/boot/kernel", UFS_OK},
        {"a link of 500 components among holes", true, "/hostile", UFS_OK},
        {"a loop of 500-component links among holes", true, "/loop", UFS_NOT_FOUND},
        {"a name in the first of the same blocks", false, "/boot/kernel", UFS_OK},
        {"a missing name among 2 GB of the same block", false, "/nothing", UFS_NOT_FOUND},
        {"a loop of links among the same blocks", false, "/loop", UFS_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.holes) {
            std::vector<std::uint8_t> outerBlock(BLOCK, 0), innerBlock(BLOCK, 0);
            std::copy_n(le32(inner).begin(), 4, outerBlock.begin() + 4 * 300);
            std::copy_n(le32(rootBlock).begin(), 4, innerBlock.begin() + 4 * 500);
            testing_support::writeAt(image, FS + outer * 512ull, outerBlock);
            testing_support::writeAt(image, FS + inner * 512ull, innerBlock);
            hostileRoot(0, 0, outer);
        } else {
            testing_support::writeAt(image, FS + outer * 512ull, pointers(inner));
            testing_support::writeAt(image, FS + inner * 512ull, pointers(rootBlock));
            hostileRoot(rootBlock, inner, outer);
        }
        TestDevice device(settingsFor(image));
        auto manager = backend(device);
        ASSERT_EQ(ufsOpen(c.path, manager->fileContext()), c.error);
        if (c.error != UFS_OK) continue;
        std::string buffer(100, '\0');
        std::uint32_t residual = 0;
        ASSERT_EQ(ufsRead(manager->fileContext(), buffer.data(), 100, &residual), UFS_OK);
        EXPECT_EQ(buffer.substr(0, 100 - residual), kernelText);
    }
}

// Sizes near the top of 64 bits must not wrap the count of a file's blocks: a read
// once found nothing available there and never ended.
TEST_F(UfsImage, ReadsFilesOfTheLargestSizes) {
    std::uint32_t number = [&] {
        TestDevice device(settingsFor(disk));
        return inodeOf(u"/small.txt");
    }();
    struct Case {
        const char* what;
        std::uint64_t size;
        bool firstBlockHole;
    } cases[] = {
        {"largest size", UINT64_MAX, false},
        {"largest size, first block a hole", UINT64_MAX, true},
        {"one block short of the largest", UINT64_MAX - BLOCK, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::path image = copyOfDisk();
        std::uint64_t inode = inodeOffset(image, number);
        testing_support::writeAt(image, inode + 8, le32(static_cast<std::uint32_t>(c.size)));
        testing_support::writeAt(image, inode + 12, le32(static_cast<std::uint32_t>(c.size >> 32)));
        if (c.firstBlockHole) testing_support::writeAt(image, inode + 40, le32(0));
        TestDevice device(settingsFor(image));
        auto manager = backend(device);
        ASSERT_EQ(manager->open(u"/small.txt", 3), 1);
        std::string buffer(2 * BLOCK, 'x');
        ASSERT_EQ(manager->read(buffer.data(), 2 * BLOCK), static_cast<std::int32_t>(2 * BLOCK));
        EXPECT_TRUE(buffer.substr(0, BLOCK) == (c.firstBlockHole ? std::string(BLOCK, '\0') : small.substr(0, BLOCK)));
    }
}

TEST_F(UfsImage, AFailedReadLeavesNoStaleBlockInTheBuffer) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/big", 3), 1);
    FileContext* context = manager->fileContext();
    std::uint32_t block12 = 0;
    ASSERT_EQ(ufsMapBlock(context->file.get(), context, 12, &block12), UFS_OK);
    std::uint32_t sector = PARTITION + block12;  // fragments of one sector
    // Opened afresh, so that the indirect entries are not cached yet.
    manager->close();
    ASSERT_EQ(manager->open(u"/big", 3), 1);

    std::string buffer(100, '\0');
    ASSERT_EQ(manager->read(buffer.data(), 100, 11 * BLOCK), 100);  // block 11 is in the buffer
    device->faults().failWhen("DeviceIoControl", [sector](const sim::FaultCall& call) { return call.address == sector; });
    console.clear();
    // The indirect block is read, then the data read fails.
    EXPECT_EQ(manager->read(buffer.data(), 100, 12 * BLOCK), -1);
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{u"UFS read error 5.\n"});
    EXPECT_EQ(device->debugOutput().back(), u"DeviceIoControl() failed.error=31\n");
    EXPECT_EQ(context->file->bufferFileBlock, -1);
    ASSERT_EQ(manager->read(buffer.data(), 100, 11 * BLOCK), 100);
    EXPECT_TRUE(buffer == big.substr(11 * BLOCK, 100));

    // A read that fails part way delivers what it had.
    EXPECT_EQ(manager->read(buffer.data(), 100, 12 * BLOCK - 40), 40);
    EXPECT_TRUE(buffer.substr(0, 40) == big.substr(12 * BLOCK - 40, 40));
}

TEST_F(UfsImage, RefusesToWriteAndSeeksByMode) {
    TestDevice device(settingsFor(disk));
    auto manager = backend(device);
    ASSERT_EQ(manager->open(u"/small.txt", 3), 1);
    EXPECT_EQ(manager->write("x", 1), 0);
    std::uint32_t residual = 0;
    EXPECT_EQ(ufsWrite(manager->fileContext(), "x", 1, &residual), UFS_READ_ONLY);
    EXPECT_EQ(residual, 1u);
    EXPECT_EQ(readAll(*manager, 5000), small);

    FileContext* context = manager->fileContext();
    EXPECT_EQ(ufsSeek(context, 100, UFS_SEEK_SET), 100);
    EXPECT_EQ(ufsSeek(context, 50, UFS_SEEK_CURRENT), 150);
    EXPECT_EQ(ufsSeek(context, 1000, UFS_SEEK_END), 4000);
    EXPECT_EQ(ufsSeek(context, 5, 3), -1);
    EXPECT_EQ(context->file->position, 4000);
    // Positions that 64 bits cannot hold are refused and leave the position alone.
    struct Overflow {
        const char* what;
        std::int64_t from, offset;
        int mode;
    } overflows[] = {
        {"forward from the position", 4000, INT64_MAX - 3999, UFS_SEEK_CURRENT},
        {"backward from a position before the start", -2, INT64_MIN + 1, UFS_SEEK_CURRENT},
        {"past the end", 4000, INT64_MIN, UFS_SEEK_END},
        {"past the end by one", 4000, -(INT64_MAX - 4999), UFS_SEEK_END},
    };
    for (const Overflow& o : overflows) {
        SCOPED_TRACE(o.what);
        ASSERT_EQ(ufsSeek(context, o.from, UFS_SEEK_SET), o.from);
        EXPECT_EQ(ufsSeek(context, o.offset, o.mode), -1);
        EXPECT_EQ(context->file->position, o.from);
    }
    EXPECT_EQ(ufsSeek(context, -(INT64_MAX - 5000), UFS_SEEK_END), INT64_MAX);
    EXPECT_EQ(ufsSeek(context, INT64_MIN, UFS_SEEK_CURRENT), -1);
    EXPECT_EQ(ufsSeek(context, 4000, UFS_SEEK_SET), 4000);
    std::string buffer(10, '\0');
    EXPECT_EQ(manager->read(buffer.data(), 10), 10);
    EXPECT_EQ(buffer, small.substr(4000, 10));
}

TEST_F(UfsImage, ChoosesTheDeviceFromTheDirectory) {
    struct Case {
        const char16_t* directory;
        const char16_t* device;
    } cases[] = {
        {u"1:/", u"DSK1:"},    {u"DSK1:/boot", u"DSK1:"}, {u"3:", u"DSK3:"},   {u"abc2:/", u"ABC2:"},
        {u"/boot/", u"DSK1:"}, {u"0:/", u"DSK1:"},        {u"ab1:", u"DSK1:"}, {u"abc0:", u"DSK1:"},
        {u"dsk9", u"DSK1:"},   {u"", u"DSK1:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::toUtf8(c.directory));
        TestDevice device(settingsFor(disk, c.device));
        UfsFileManager manager(console.slot);
        EXPECT_EQ(manager.setLocation(c.directory), 1) << sim::toUtf8(device->debugOutput().empty() ? u"" : device->debugOutput()[0]);
        EXPECT_EQ(manager.open(u"/small.txt", 3), 1);
    }
    TestDevice device(settingsFor(disk, u"DSK2:"));
    UfsFileManager manager(console.slot);
    EXPECT_EQ(manager.setLocation(u"1:/"), 0);
    EXPECT_EQ(device->debugOutput(), std::vector<std::u16string>{u"can't open DSK1:.\n"});
    EXPECT_EQ(manager.open(u"/small.txt", 3), 0);
}

TEST_F(UfsImage, ReadsAFileSystemThatFillsTheWholeDevice) {
    TestDevice device(settingsFor(bare));
    console.clear();
    UfsFileManager manager(console.slot);
    EXPECT_EQ(console.prints(), std::vector<std::u16string>{u"FileManager: UFS\n"});
    ASSERT_EQ(manager.setLocation(u"1:"), 1);
    EXPECT_EQ(device->debugOutput(), std::vector<std::u16string>{u"no BSD partition, start sector=0x0\n"});
    ASSERT_EQ(manager.open(u"/links/abs", 3), 1);
    std::string buffer(100, '\0');
    EXPECT_EQ(manager.read(buffer.data(), 100), static_cast<std::int32_t>(deepText.size()));
}

}  // namespace
