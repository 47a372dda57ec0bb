// The host model of the second-stage loader's walk, which the loader and end-to-end
// tests rely on: whole words, source pairs, zero fills, the stack from the last end.
#include <gtest/gtest.h>

#include <cstring>

#include "loader/page_link.h"
#include "support/device.h"
#include "support/page_link_walker.h"

using quorvel::PAGE_LINK_END;
using quorvel::PAGE_LINK_ZERO;
using testing_support::DestinationFold;
using testing_support::walkPageLinks;

namespace {

class Walker : public ::testing::Test {
protected:
    explicit Walker(sim::DeviceSettings settings = {}) : device(std::move(settings)) {}

    sim::PhysicalMemory& memory() { return device->memory(); }
    void link(std::uint32_t at, std::uint32_t next, std::uint32_t src, std::uint32_t dst, std::uint32_t size) {
        memory().writeWord(sim::PhysicalAddress(at), next);
        memory().writeWord(sim::PhysicalAddress(at + 4), src);
        memory().writeWord(sim::PhysicalAddress(at + 8), dst);
        memory().writeWord(sim::PhysicalAddress(at + 12), size);
    }
    void fill(std::uint32_t at, std::uint32_t size, std::uint8_t value) {
        std::memset(memory().host(sim::PhysicalAddress(at)), value, size);
    }
    std::string bytes(std::uint32_t at, std::uint32_t size) { return testing_support::readPhysical(memory(), at, size); }

    testing_support::TestDevice device;
};

TEST_F(Walker, EntriesWorkInWholeWords) {
    const struct {
        const char* name;
        std::uint32_t src, size;
        std::uint32_t written;  // bytes changed at the destination
    } cases[] = {
        {"zero fill of 6 bytes clears 8", PAGE_LINK_ZERO, 6, 8},
        {"copy of 12 bytes copies 12", 0xC0010000, 12, 12},
        {"copy of 13 bytes copies 16", 0xC0010000, 13, 16},
        {"copy of 0 bytes still copies a word", 0xC0010000, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fill(0xC0010000, 64, 0x5A);
        fill(0xC0020000, 64, 0xEE);
        link(0xC0030000, PAGE_LINK_END, c.src, 0xC0020000, c.size);
        const auto walk = walkPageLinks(memory(), 0xC0030000);
        ASSERT_TRUE(walk.ok) << walk.error;
        ASSERT_EQ(walk.entries.size(), 1u);
        const char expected = c.src == PAGE_LINK_ZERO ? '\0' : '\x5A';
        EXPECT_EQ(bytes(0xC0020000, c.written), std::string(c.written, expected));
        EXPECT_EQ(bytes(0xC0020000 + c.written, 8), std::string(8, '\xEE'));
    }
}

TEST_F(Walker, UnalignedDestinationsAreStoredAtTheWordBelow) {
    fill(0xC0020000, 16, 0xEE);
    link(0xC0030000, PAGE_LINK_END, PAGE_LINK_ZERO, 0xC0020005, 3);
    ASSERT_TRUE(walkPageLinks(memory(), 0xC0030000).ok);
    EXPECT_EQ(bytes(0xC0020000, 12), std::string(4, '\xEE') + std::string(4, '\0') + std::string(4, '\xEE'));
}

TEST_F(Walker, FollowsNextInOrderAndTheLastEntrySetsTheStack) {
    fill(0xC0010000, 32, 0x11);
    link(0xC0030000, 0xC0031000, PAGE_LINK_ZERO, 0xC0020000, 16);
    link(0xC0031000, 0xC0030010, 0xC0010000, 0xC0020008, 8);  // overwrites part of the clear
    link(0xC0030010, PAGE_LINK_END, PAGE_LINK_ZERO, 0xC0345670, 8);
    const auto walk = walkPageLinks(memory(), 0xC0030000);
    ASSERT_TRUE(walk.ok) << walk.error;
    EXPECT_EQ(walk.entries.size(), 3u);
    EXPECT_EQ(bytes(0xC0020000, 16), std::string(8, '\0') + std::string(8, '\x11'));
    EXPECT_EQ(walk.lastEnd, 0xC0345678u);
    EXPECT_EQ(walk.stackPointer, 0xC0347000u);
}

TEST_F(Walker, BrokenListsAreReportedNotFollowed) {
    const struct {
        const char* name;
        std::uint32_t head, next, dst;
    } cases[] = {
        {"list that loops", 0xC0030000, 0xC0030000, 0xC0020000},
        {"next outside RAM", 0xC0030000, 0x00001000, 0xC0020000},
        {"destination outside RAM", 0xC0030000, PAGE_LINK_END, 0x10000000},
        {"empty list", PAGE_LINK_END, PAGE_LINK_END, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        link(0xC0030000, c.next, PAGE_LINK_ZERO, c.dst, 4);
        const auto walk = walkPageLinks(memory(), c.head, DestinationFold::None, 1000);
        EXPECT_FALSE(walk.ok);
        EXPECT_FALSE(walk.error.empty());
    }
}

class PxaWalker : public Walker {
protected:
    static sim::DeviceSettings pxa() {
        sim::DeviceSettings settings;
        settings.cpu = sim::CpuFamily::PXA2x0;
        settings.mainId = sim::MAIN_ID_PXA250;
        return settings;
    }
    PxaWalker() : Walker(pxa()) {}
};

TEST_F(PxaWalker, DestinationsFoldIntoTheFirstSixteenMegabytes) {
    fill(0xA0010000, 16, 0x22);
    fill(0xA0200000, 16, 0xEE);
    link(0xA0030000, PAGE_LINK_END, 0xA0010000, 0xC0200000, 16);
    const auto walk = walkPageLinks(memory(), 0xA0030000, DestinationFold::Pxa2x0);
    ASSERT_TRUE(walk.ok) << walk.error;
    EXPECT_EQ(bytes(0xA0200000, 16), std::string(16, '\x22'));
    EXPECT_EQ(walk.entries[0].dst, 0xC0200000u);  // as written in the list
    EXPECT_EQ(walk.lastEnd, 0xA0200010u);
    EXPECT_EQ(testing_support::foldDestination(0xC0200000, DestinationFold::Pxa2x0), 0xA0200000u);
}

}  // namespace
