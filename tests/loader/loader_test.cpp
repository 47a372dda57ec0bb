// The loader base: the format probe, the PageLink list it builds in pool pages, and
// what that list places in physical memory when it is performed.
#include <gtest/gtest.h>

#include <cstdlib>

#include "loader_fixture.h"
#include "support/test_data.h"

using quorvel::PAGE_LINK_END;
using quorvel::PAGE_LINK_ZERO;
using quorvel::PageLink;

namespace {

std::string pattern(std::size_t size, unsigned seed = 3) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed + i / 251) & 0xFF);
    return bytes;
}

class LoaderBase : public LoaderTest {
protected:
    BareLoader& loader() {
        if (!loader_) loader_ = std::make_unique<BareLoader>(consoleSlot, memoryManagerSlot);
        return *loader_;
    }
    void attach() { ASSERT_EQ(loader().attachFile(fileManagerSlot), 1); }
    const quorvel::TranslationEntry& page(int i) const { return memory->translationTable()[i]; }

    std::unique_ptr<BareLoader> loader_;
};

TEST_F(LoaderBase, ProbeFormatLooksAtTheFirstFourBytes) {
    const struct {
        const char* name;
        std::string bytes;
        quorvel::LoaderFormat format;
    } cases[] = {
        {"ELF magic", std::string("\x7f" "ELF", 4) + std::string(60, '\0'), quorvel::LoaderFormat::Elf},
        {"magic alone", std::string("\x7f" "ELF", 4), quorvel::LoaderFormat::Elf},
        {"three bytes", std::string("\x7f" "EL", 3), quorvel::LoaderFormat::Unknown},
        {"empty", "", quorvel::LoaderFormat::Unknown},
        {"lower case", std::string("\x7f" "elf", 4) + std::string(60, '\0'), quorvel::LoaderFormat::Unknown},
        {"gzip bytes", std::string("\x1f\x8b\x08\x00", 4) + std::string(60, '\0'), quorvel::LoaderFormat::Unknown},
        {"text", "#!/bin/sh\necho hello\n", quorvel::LoaderFormat::Unknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BytesFile file(consoleSlot, c.bytes);
        file.position = 9;
        EXPECT_EQ(quorvel::Loader::probeFormat(file), c.format);
        ASSERT_FALSE(file.reads.empty());
        EXPECT_EQ(file.reads[0], std::make_pair(0u, 52u));
    }
}

// 4096-byte pages carry 4080 bytes each: a 9000-byte file part of a 10000-byte
// segment becomes three load entries and one zero-fill entry.
TEST_F(LoaderBase, SegmentIsCutIntoPageSizedLoadsAndOneZeroFill) {
    makePool(8);
    const std::string file = pattern(0x1000 + 9000);
    BytesFile& served = serve(file);
    attach();
    log.clear();
    loader().startLinks();
    loader().loadSegment(0xC0008000, 10000, 0x1000, 9000);
    loader().finishLinks();

    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "\t->load 0xc0008000+0x00002710=0xc000a710 ofs=0x00001000+0x2328\n",
                              "\t->zero 0xc000a328+0x000003e8=0xc000a710\n",
                              "load link 3, zero clear link 1\n",
                          }));
    EXPECT_EQ(loader().endAddress, 0xC000A710u);
    EXPECT_EQ(served.reads, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                                {0x1000, 4080}, {0x1FF0, 4080}, {0x2FE0, 840}}));

    // The head page holds the first entry; each data page's head the next one; the
    // zero-fill entry is the last one written and ends the list.
    EXPECT_EQ(loader().linkHead(), page(0).paddr);
    paint(0xC0008000, 0x3000);
    const auto walked = walk(loader().linkHead());
    ASSERT_TRUE(walked.ok) << walked.error;
    const std::vector<PageLink> expected = {
        {page(1).paddr, page(1).paddr + 16, 0xC0008000, 4080},
        {page(2).paddr, page(2).paddr + 16, 0xC0008FF0, 4080},
        {page(3).paddr, page(3).paddr + 16, 0xC0009FE0, 840},
        {PAGE_LINK_END, PAGE_LINK_ZERO, 0xC000A328, 1000},
    };
    ASSERT_EQ(walked.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(walked.entries[i].next, expected[i].next);
        EXPECT_EQ(walked.entries[i].src, expected[i].src);
        EXPECT_EQ(walked.entries[i].dst, expected[i].dst);
        EXPECT_EQ(walked.entries[i].size, expected[i].size);
    }
    EXPECT_EQ(physical(0xC0008000, 9000), file.substr(0x1000));
    EXPECT_EQ(physical(0xC000A328, 1000), std::string(1000, '\0'));
    EXPECT_EQ(physical(0xC000A710, 16), std::string(16, '\xEE'));
    EXPECT_EQ(walked.stackPointer, 0xC000C000u);
}

TEST_F(LoaderBase, FileAndMemorySizesDecideTheEntries) {
    const struct {
        const char* name;
        std::uint32_t memSize, fileSize;
        int loads, zeros;
    } cases[] = {
        {"file part fills the segment", 8160, 8160, 2, 0},
        {"only zero fill", 5000, 0, 0, 1},
        {"empty segment", 0, 0, 0, 0},
        {"file part larger than the segment", 100, 5000, 2, 0},
        {"one byte over a page", 4081, 4081, 2, 0},
        {"odd sizes", 4099, 3, 1, 1},
    };
    const std::uint32_t dst = 0xC0100000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        makePool(8);
        const std::string file = pattern(0x200 + 8192, c.memSize);
        serve(file);
        loader_.reset();
        attach();
        paint(dst, 0x4000);
        loader().startLinks();
        // A first piece, so that every list is performable and its end is seen.
        loader().loadSegment(0xC0200000, 4, 0, 4);
        loader().loadSegment(dst, c.memSize, 0x200, c.fileSize);
        EXPECT_EQ(loader().loadLinkCount, 1 + c.loads);
        EXPECT_EQ(loader().zeroLinkCount, c.zeros);
        EXPECT_EQ(loader().endAddress, dst + c.memSize);
        loader().finishLinks();

        const auto walked = walk(loader().linkHead());
        ASSERT_TRUE(walked.ok) << walked.error;
        ASSERT_EQ(walked.entries.size(), static_cast<std::size_t>(1 + c.loads + c.zeros));
        EXPECT_EQ(physical(dst, c.fileSize), file.substr(0x200, c.fileSize));
        if (c.fileSize < c.memSize) {
            EXPECT_EQ(physical(dst + c.fileSize, c.memSize - c.fileSize), std::string(c.memSize - c.fileSize, '\0'));
        }
        const std::uint32_t end = std::max(c.memSize, c.fileSize);
        EXPECT_EQ(physical(dst + ((end + 3) & ~3u), 8), std::string(8, '\xEE'));
        memory.reset();
    }
}

// The second-stage loader stores whole words at word addresses: a clear that began
// inside the last copied word would wipe the bytes copied there.
TEST_F(LoaderBase, ClearAfterAnUnalignedFileEndStartsAtTheNextWord) {
    const struct {
        std::uint32_t fileSize, memSize;
        bool zeroEntry;
        std::uint32_t zeroDst, zeroSize;
    } cases[] = {
        {0x14b1, 0x4394, true, 0xC0100000 + 0x14b4, 0x4394 - 0x14b4},
        {0x1002, 0x1100, true, 0xC0100000 + 0x1004, 0xFC},
        {5, 6, false, 0, 0},
        {5, 8, false, 0, 0},
        {5, 9, true, 0xC0100008, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileSize);
        makePool(8);
        const std::string file = pattern(c.fileSize, 9);
        serve(file);
        loader_.reset();
        attach();
        paint(0xC0100000, 0x5000);
        loader().startLinks();
        loader().loadSegment(0xC0100000, c.memSize, 0, c.fileSize);
        loader().finishLinks();
        EXPECT_EQ(loader().zeroLinkCount, c.zeroEntry ? 1 : 0);
        EXPECT_EQ(loader().endAddress, 0xC0100000 + c.memSize);

        const auto walked = walk(loader().linkHead());
        ASSERT_TRUE(walked.ok) << walked.error;
        if (c.zeroEntry) {
            EXPECT_EQ(walked.entries.back().src, PAGE_LINK_ZERO);
            EXPECT_EQ(walked.entries.back().dst, c.zeroDst);
            EXPECT_EQ(walked.entries.back().size, c.zeroSize);
        }
        EXPECT_EQ(physical(0xC0100000, c.fileSize), file);
        EXPECT_EQ(physical(0xC0100000 + c.fileSize, c.memSize - c.fileSize), std::string(c.memSize - c.fileSize, '\0'));
        memory.reset();
    }
}

TEST_F(LoaderBase, LoadAfterZeroFillIsWrittenIntoTheSpareSlot) {
    makePool(8);
    const std::string file = pattern(64);
    serve(file);
    attach();
    loader().startLinks();
    loader().loadSegment(0xC0300000, 0x100, 0, 0);
    loader().loadSegment(0xC0301000, 64, 0, 64);
    loader().finishLinks();

    const auto walked = walk(loader().linkHead());
    ASSERT_TRUE(walked.ok) << walked.error;
    ASSERT_EQ(walked.entries.size(), 2u);
    EXPECT_EQ(walked.entries[0].src, PAGE_LINK_ZERO);
    EXPECT_EQ(walked.entries[0].next, page(0).paddr + 16);  // the first spare slot
    EXPECT_EQ(walked.entries[1].src, page(1).paddr + 16);
    EXPECT_EQ(walked.entries[1].next, PAGE_LINK_END);
    EXPECT_EQ(physical(0xC0301000, 64), file);
}

TEST_F(LoaderBase, MemoryBufferIsCopiedInPageSizedPieces) {
    makePool(8);
    serve("");
    attach();
    const std::string buffer = pattern(9000, 11);
    loader().startLinks();
    loader().loadMemory(0xC0400000, 9000, buffer.data());
    EXPECT_EQ(loader().endAddress, 0xC0402328u);
    EXPECT_EQ(loader().loadLinkCount, 3);
    loader().finishLinks();
    EXPECT_TRUE(logged("\t->load 0xc0400000+0x00002328=0xc0402328\n"));

    const auto walked = walk(loader().linkHead());
    ASSERT_TRUE(walked.ok) << walked.error;
    ASSERT_EQ(walked.entries.size(), 3u);
    EXPECT_EQ(walked.entries[2].size, 840u);
    EXPECT_EQ(physical(0xC0400000, 9000), buffer);
}

TEST_F(LoaderBase, FileSystemImageGoesToTheNextFourKilobyteBoundary) {
    const struct {
        std::uint32_t end, image;
    } cases[] = {
        {0xC0212345, 0xC0213000},
        {0xC0213000, 0xC0213000},
        {0xC0212001, 0xC0213000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        log.clear();
        makePool(8);
        const std::string image = pattern(6000, 5);
        serve(image);
        loader_.reset();
        attach();
        loader().startLinks();
        loader().loadSegment(0xC0200000, 4, 0, 4);
        loader().endAddress = c.end;
        EXPECT_EQ(loader().loadFileSystemImage(), 1);
        loader().finishLinks();
        EXPECT_TRUE(logged("[file system image]\n"));
        EXPECT_EQ(loader().endAddress, c.image + 6000);

        const auto walked = walk(loader().linkHead());
        ASSERT_TRUE(walked.ok) << walked.error;
        EXPECT_EQ(walked.entries[1].dst, c.image);
        EXPECT_EQ(physical(c.image, 6000), image);
        memory.reset();
    }
}

TEST_F(LoaderBase, FileSystemImageThatWouldWrapTheAddressSpaceIsRefused) {
    makePool(8);
    serve(pattern(0x2000));
    attach();
    loader().startLinks();
    loader().endAddress = 0xFFFFE800;
    EXPECT_EQ(loader().loadFileSystemImage(), 0);
    EXPECT_TRUE(logged("file system image of 0x2000 bytes does not fit above 0xffffe800.\n"));
    EXPECT_EQ(loader().loadLinkCount, 0);
}

// The image is used only when its data ends where its size said, and cleanly.
TEST_F(LoaderBase, FileSystemImageMustEndWhereItsSizeSaid) {
    const struct {
        const char* name;
        std::uint32_t claimed;  // what size() says
        std::uint32_t held;     // what the file delivers
        bool failAtEnd;         // the read behind the data fails
        int result;
        const char* line;
    } cases[] = {
        {"whole", 6000, 6000, false, 1, nullptr},
        {"size unknown", quorvel::SIZE_UNKNOWN, 6000, false, 0, "file system image size unknown.\n"},
        {"longer than its size", 6000, 6100, false, 0, "file system image is longer than 0x1770 bytes.\n"},
        {"shorter than its size", 6000, 5000, false, 0, "read error at file offset 0xff0 (920 of 1920 bytes).\n"},
        {"an error behind the data", 6000, 6000, true, 0,
         "read error after file offset 0x1770: the data does not end cleanly.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        makePool(8);
        struct EndingFile : BytesFile {
            using BytesFile::BytesFile;
            std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override {
                std::int32_t got = BytesFile::read(buffer, length, offset);
                return got == 0 && length > 0 && failAtEnd ? -1 : got;
            }
            bool failAtEnd = false;
        };
        auto file = std::make_unique<EndingFile>(consoleSlot, pattern(c.held, 9));
        file->claimedSize = c.claimed;
        file->failAtEnd = c.failAtEnd;
        files = std::move(file);
        fileManagerSlot = files.get();
        loader_.reset();
        attach();
        loader().startLinks();
        loader().endAddress = 0xC0210000;
        EXPECT_EQ(loader().loadFileSystemImage(), c.result);
        if (c.line) {
            EXPECT_TRUE(logged(c.line)) << log.utf8();
        }
        memory.reset();
    }
}

// The boot measures a gzip image, closes it and opens it again to load it: the second
// size() costs nothing. A file that changed in between but starts with the same bytes
// is still caught, by the read behind its last byte.
TEST_F(LoaderBase, GzipImageOpenedAgainIsNotMeasuredAgain) {
    testing_support::TempDir work;
    const std::string first = testing_support::textData(300000, 11);
    const std::string longer = first + testing_support::textData(5000, 12);
    auto gzip = [&](const std::string& bytes) {
        testing_support::writeHostFile(work.path() / "image", bytes);
        const std::string command = "gzip -c -n '" + (work.path() / "image").string() + "' > '" +
                                    (work.path() / "image.gz").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return testing_support::readHostFile(work.path() / "image.gz");
    };
    const std::string packed = gzip(first);
    const std::string packedLonger = gzip(longer);
    ASSERT_TRUE(packed.substr(0, 1024) == packedLonger.substr(0, 1024));

    for (bool changed : {false, true}) {
        SCOPED_TRACE(changed ? "changed in between" : "unchanged");
        log.clear();
        device.writeFile("Storage Card/miniroot.fs", packed);
        auto front = std::make_unique<quorvel::GzipFileManager>(consoleSlot, quorvel::FILE_MANAGER_FAT);
        quorvel::GzipFileManager& image = *front;
        files = std::move(front);
        fileManagerSlot = files.get();
        ASSERT_TRUE(image.setLocation(u"\\Storage Card\\"));
        ASSERT_TRUE(image.open(u"miniroot.fs", 3));
        EXPECT_EQ(image.size(), first.size());
        image.close();
        const std::uint64_t measured = image.inflatedBytes();
        if (changed) device.writeFile("Storage Card/miniroot.fs", packedLonger);

        ASSERT_TRUE(image.open(u"miniroot.fs", 3));
        makePool(80);
        loader_.reset();
        attach();
        loader().startLinks();
        loader().endAddress = 0xC0210000;
        EXPECT_EQ(loader().loadFileSystemImage(), changed ? 0 : 1);
        EXPECT_LE(image.inflatedBytes() - measured, first.size() + 70000);
        if (changed) {
            EXPECT_TRUE(logged("file system image is longer than 0x493e0 bytes.\n")) << log.utf8();
        } else {
            // The pieces as they wait in the pool (the pool may lie where they go).
            loader().finishLinks();
            std::string placed;
            for (std::uint32_t at = loader().linkHead(); at != PAGE_LINK_END;) {
                PageLink link;
                std::memcpy(&link, physical(at, sizeof link).data(), sizeof link);
                EXPECT_EQ(link.dst, 0xC0210000u + placed.size());
                placed += physical(link.src, link.size);
                at = link.next;
            }
            EXPECT_TRUE(placed == first);
        }
        image.close();
        memory.reset();
    }
}

TEST_F(LoaderBase, RunningOutOfPagesFailsOnceAndWritesNoFurtherEntry) {
    makePool(3);  // the head page and two data pages
    serve(pattern(4 * 4080));
    attach();
    loader().startLinks();
    loader().loadSegment(0xC0008000, 4 * 4080 + 100, 0, 4 * 4080);
    EXPECT_TRUE(loader().failed());
    EXPECT_EQ(loader().loadLinkCount, 2);
    EXPECT_EQ(loader().zeroLinkCount, 0);
    EXPECT_EQ(loggedCount("page insufficient.\n"), 1);
    // An image after the failure is not attempted either.
    EXPECT_EQ(loader().loadFileSystemImage(), 0);
    EXPECT_EQ(loggedCount("page insufficient.\n"), 1);
}

TEST_F(LoaderBase, WithoutAHeadPageNothingIsWritten) {
    makePool(1);
    std::uint32_t vaddr, paddr;
    ASSERT_TRUE(memory->takeBackPage(vaddr, paddr));
    serve(pattern(100));
    attach();
    loader().startLinks();
    EXPECT_EQ(loader().linkHead(), 0u);
    loader().loadSegment(0xC0008000, 200, 0, 100);
    loader().loadMemory(0xC0009000, 100, "x");
    EXPECT_EQ(loader().loadFileSystemImage(), 0);
    loader().finishLinks();
    EXPECT_EQ(loader().loadLinkCount, 0);
    EXPECT_EQ(loader().zeroLinkCount, 0);
    EXPECT_EQ(loggedCount("page insufficient.\n"), 1);
    EXPECT_TRUE(logged("\t->load 0xc0008000+0x000000c8=0xc00080c8 ofs=0x00000000+0x64\n"));
    EXPECT_TRUE(logged("load link 0, zero clear link 0\n"));
}

TEST_F(LoaderBase, ShortReadFailsTheLoad) {
    makePool(8);
    BytesFile& file = serve(pattern(5000));
    file.claimedSize = 9000;
    attach();
    loader().startLinks();
    loader().loadSegment(0xC0008000, 9000, 0, 9000);
    EXPECT_TRUE(loader().failed());
    EXPECT_TRUE(logged("read error at file offset 0xff0 (920 of 4080 bytes).\n"));
    EXPECT_EQ(loader().loadFileSystemImage(), 0);
}

}  // namespace
