// The tagged list of Linux's boot protocol as bytes: what is written is what Linux
// reads, in order, and a list or command line that does not fit is refused whole.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "arch/arm/linux_tags.h"

using namespace quorvel;

namespace {

std::uint32_t word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

LinuxTags fullList() {
    LinuxTags tags;
    tags.memory = {{0xC0000000, 0x02000000}, {0xC8000000, 0x01000000}};
    tags.commandLine = "root=/dev/ram0 console=ttySA0";
    tags.initrd = LinuxMemoryBank{0xC0400000, 70001};
    tags.video = LinuxVideo{640, 240, 16, 1280, 0x48200000, 307200, 5, 11, 6, 5, 5, 0, 0, 0};
    return tags;
}

}  // namespace

TEST(LinuxTags, WritesCoreEachBankVideoInitrdCommandLineAndNoneAsLinuxLaysThemOut) {
    const LinuxTags tags = fullList();
    std::vector<std::uint8_t> page(4080, 0xEE);
    const std::uint32_t size = writeTagList(tags, page.data(), static_cast<std::uint32_t>(page.size()));
    ASSERT_EQ(size, tagListSize(tags));
    // CORE 5 words, two MEM of 4, VIDEOLFB 8, INITRD2 4, CMDLINE 2 + 30 bytes in 8 words, NONE 2.
    EXPECT_EQ(size, 4u * (5 + 4 + 4 + 8 + 4 + 2 + 8 + 2));
    const std::uint32_t expected[][2] = {{5, ATAG_CORE}, {4, ATAG_MEM}, {4, ATAG_MEM}, {8, ATAG_VIDEOLFB},
                                         {4, ATAG_INITRD2}, {10, ATAG_CMDLINE}, {0, ATAG_NONE}};
    std::size_t at = 0;
    for (const auto& e : expected) {
        SCOPED_TRACE(tagName(e[1]));
        EXPECT_EQ(word(page, at), e[0]);
        EXPECT_EQ(word(page, at + 4), e[1]);
        at += e[0] ? 4 * e[0] : 8;
    }
    EXPECT_EQ(at, size);
    EXPECT_EQ(page[size], 0xEE) << "nothing is written past the list";
    EXPECT_EQ(word(page, 8 + 4), 4096u) << "the page size in ATAG_CORE";
    EXPECT_EQ(word(page, 20 + 8), 0x02000000u) << "ATAG_MEM holds the size first";
    EXPECT_EQ(word(page, 20 + 12), 0xC0000000u);
    EXPECT_EQ(word(page, 36 + 12), 0xC8000000u);
    EXPECT_EQ(word(page, 84 + 8), 0xC0400000u) << "ATAG_INITRD2 holds the start first";
    EXPECT_EQ(word(page, 84 + 12), 70001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(page.data()) + 100 + 8), tags.commandLine);
    EXPECT_EQ(page[100 + 8 + tags.commandLine.size()], 0) << "terminated, and the padding cleared";
    EXPECT_EQ(page[100 + 8 + 31], 0);

    std::vector<ReadTag> read;
    std::string why;
    ASSERT_TRUE(readTagList(page.data(), size, read, why)) << why;
    ASSERT_EQ(read.size(), 7u);
    EXPECT_EQ(read[3].body[0] | read[3].body[1] << 8, 640) << "ATAG_VIDEOLFB width";
    EXPECT_EQ(read[3].body[16], 5) << "red size";
    EXPECT_EQ(read[3].body[17], 11) << "red position";
}

TEST(LinuxTags, OptionalTagsAreLeftOutAndAnEmptyCommandLineStillEndsInItsNul) {
    LinuxTags tags;
    tags.memory = {{0xA0000000, 0x04000000}};
    std::vector<std::uint8_t> page(64, 0xEE);
    const std::uint32_t size = writeTagList(tags, page.data(), 64);
    EXPECT_EQ(size, 4u * (5 + 4 + 3 + 2));
    std::vector<ReadTag> read;
    std::string why;
    ASSERT_TRUE(readTagList(page.data(), size, read, why)) << why;
    ASSERT_EQ(read.size(), 4u);
    EXPECT_EQ(read[2].tag, ATAG_CMDLINE);
    EXPECT_EQ(read[2].body, std::vector<std::uint8_t>(4, 0));
}

// A line Linux would cut, or a list its page cannot hold, is refused with nothing
// written: never cut.
TEST(LinuxTags, RefusesALongerCommandLineThanLinuxTakesAndAListItsRoomCannotHold) {
    struct Case {
        const char* name;
        std::size_t lineLength;
        std::uint32_t spare;  // bytes of room beyond (or, when short_, below) the list's size
        bool short_;
        bool fits;
    };
    const Case cases[] = {
        {"1023 characters and the NUL: Linux's whole buffer", 1023, 0, false, true},
        {"1024 characters", 1024, 64, false, false},
        {"room for exactly the list", 10, 0, false, true},
        {"one byte short", 10, 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinuxTags tags;
        tags.memory = {{0xC0000000, 0x02000000}};
        tags.commandLine = std::string(c.lineLength, 'x');
        const std::uint32_t needed = tagListSize(tags);
        const std::uint32_t room = c.short_ ? needed - c.spare : needed + c.spare;
        std::vector<std::uint8_t> page(needed + 64, 0xEE);
        const std::uint32_t size = writeTagList(tags, page.data(), room);
        EXPECT_EQ(size != 0, c.fits);
        if (!c.fits) {
            EXPECT_EQ(page[0], 0xEE) << "nothing written";
        }
    }
}

TEST(LinuxTags, ReadingStopsAtImpossibleSizesAndAtTheEndOfTheBytes) {
    const std::uint32_t none[] = {5, ATAG_CORE, 0, 4096, 0, 0, ATAG_NONE};
    const std::uint32_t zeroSize[] = {5, ATAG_CORE, 0, 4096, 0, 0, ATAG_MEM, 0, 0};
    const std::uint32_t tooLong[] = {5, ATAG_CORE, 0, 4096, 0, 200, ATAG_CMDLINE, 0};
    const std::uint32_t noEnd[] = {5, ATAG_CORE, 0, 4096, 0};
    struct Case {
        const char* name;
        const std::uint32_t* words;
        std::size_t count;
        bool ok;
    } cases[] = {{"ends in ATAG_NONE", none, 7, true},
                 {"a tag of size 0 before ATAG_NONE", zeroSize, 9, false},
                 {"a size past the bytes", tooLong, 8, false},
                 {"no ATAG_NONE", noEnd, 5, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ReadTag> tags;
        std::string why;
        EXPECT_EQ(readTagList(reinterpret_cast<const std::uint8_t*>(c.words), static_cast<std::uint32_t>(c.count * 4), tags,
                              why),
                  c.ok)
            << why;
        if (!c.ok) {
            EXPECT_FALSE(why.empty());
        }
    }
}
