// Raw binaries and zImages: recognised by the zImage's magic word, laid whole at the
// load address, and the memory the kernel will write itself once entered (a zImage's
// inflated kernel, found from its sizes table, and the decompressor it moves above it;
// a raw binary's bss) kept out of the pool and below the RAM disk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/raw_loader.h"
#include "loader_fixture.h"

namespace {

constexpr std::uint32_t MB = 0x100000;

// A zImage's head as Linux's decompressor lays it out: the magic word at 0x24, the
// endianness mark, the mark of a sizes table and its offset; the table (3 MB of
// kernel, 1 MB of bss, text at 0x8000, a 64 KB heap) and the size word it points at.
std::string zImage(std::uint32_t length, bool withTable) {
    std::string bytes(length, '\x5A');
    put32(bytes, 0x24, quorvel::ZIMAGE_MAGIC);
    if (withTable) {
        put32(bytes, 0x30, 0x04030201);
        put32(bytes, 0x34, 0x45454545);
        put32(bytes, 0x38, 0x100);
        const std::uint32_t table[] = {6, 0x5A534C4B, 0x200, MB, 0x8000, 0x10000, 0};
        for (std::uint32_t i = 0; i < 7; ++i) put32(bytes, 0x100 + 4 * i, table[i]);
        put32(bytes, 0x200, 3 * MB);
    }
    return bytes;
}

class RawLoaderTest : public LoaderTest {};

TEST_F(RawLoaderTest, TheProbeKnowsAZImageByItsMagicWordAtItsPlaceOnly) {
    struct Case {
        const char* name;
        std::string bytes;
        quorvel::LoaderFormat format;
    };
    std::string shifted(0x100, '\0');
    put32(shifted, 0x28, quorvel::ZIMAGE_MAGIC);
    const Case cases[] = {
        {"a zImage", zImage(0x1000, false), quorvel::LoaderFormat::ZImage},
        {"the word one place off", shifted, quorvel::LoaderFormat::Unknown},
        {"shorter than the word's place", std::string(0x26, '\0'), quorvel::LoaderFormat::Unknown},
        {"an ELF file", testKernel("kernel.elf"), quorvel::LoaderFormat::Elf},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(quorvel::Loader::probeFormat(serve(c.bytes)), c.format);
    }
}

TEST_F(RawLoaderTest, WhatTheKernelWritesItselfIsKeptClearAndTheImageGoesAboveIt) {
    struct Case {
        const char* name;
        quorvel::RawKind kind;
        std::uint32_t load;
        std::string bytes;
        std::vector<quorvel::AddressRange> expected;  // with an image of 64 KB
    };
    const std::uint32_t z = 0x3000;  // the zImage's size
    const Case cases[] = {
        // Inflated to 0xC0008000 + 4 MB, over the zImage: the decompressor moves above
        // that, with its heap and stack; the page table lies below the text.
        {"zImage at RAM + 0x8000 with a sizes table", quorvel::RawKind::ZImage, 0xC0008000, zImage(z, true),
         {{0xC0004000, 0xC0008000},
          {0xC0008000, 0xC0008000 + z},
          {0xC0008000 + z, 0xC0500000},
          {0xC0500000, 0xC0510000}}},
        // Laid high, it is not overwritten: the kernel below it is kept clear too.
        {"zImage laid at 0xC1000000", quorvel::RawKind::ZImage, 0xC1000000, zImage(z, true),
         {{0xC0004000, 0xC0408000},
          {0xC1000000, 0xC1000000 + z},
          {0xC1000000 + z, 0xC1100000},
          {0xC1100000, 0xC1110000}}},
        {"zImage without a table: five times its size", quorvel::RawKind::ZImage, 0xC0008000, zImage(z, false),
         {{0xC0004000, 0xC0008000},
          {0xC0008000, 0xC0008000 + z},
          {0xC0008000 + z, 0xC0100000},
          {0xC0100000, 0xC0110000}}},
        {"raw binary: as much again, at least 1 MB", quorvel::RawKind::Binary, 0xA0008000, std::string(z, '\1'),
         {{0xA0008000, 0xA0008000 + z}, {0xA0008000 + z, 0xA0200000}, {0xA0200000, 0xA0210000}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve(c.bytes);
        quorvel::RawLoader loader(consoleSlot, memoryManagerSlot, c.kind, c.load, c.load);
        ASSERT_TRUE(loader.attachFile(fileManagerSlot));
        const std::vector<quorvel::AddressRange> got = loader.destinations(0x10000);
        ASSERT_EQ(got.size(), c.expected.size());
        for (std::size_t i = 0; i < got.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(got[i].start, c.expected[i].start);
            EXPECT_EQ(got[i].end, c.expected[i].end);
        }
    }
}

TEST_F(RawLoaderTest, TheWholeFileIsOnePieceAtTheLoadAddressAndTheImageFollowsTheClearedMemory) {
    ASSERT_NO_FATAL_FAILURE(makePool(16));
    std::string bytes = zImage(0x2345, true);
    serve(bytes);
    quorvel::RawLoader loader(consoleSlot, memoryManagerSlot, quorvel::RawKind::ZImage, 0xC0008000, 0xC0008010);
    ASSERT_TRUE(loader.attachFile(fileManagerSlot));
    loader.neededMemory();
    ASSERT_TRUE(loader.load());
    EXPECT_EQ(loader.entryAddress(), 0xC0008010u);
    serve(std::string(100, '\7'));
    ASSERT_TRUE(loader.loadFileSystemImage());
    EXPECT_EQ(loader.imageStart, 0xC0500000u);
    EXPECT_EQ(loader.imageSize, 100u);
    loader.finishLinks();
    paint(0xC0008000, 0x3000);
    testing_support::PageLinkWalk links = walk(loader.linkHead());
    ASSERT_TRUE(links.ok) << links.error;
    EXPECT_EQ(physical(0xC0008000, 0x2345), bytes);
    EXPECT_EQ(physical(0xC0500000, 100), std::string(100, '\7'));
}

}  // namespace
