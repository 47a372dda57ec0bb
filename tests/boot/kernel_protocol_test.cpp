// The page table Linux writes below its text before it reads its tags: kept out of the
// pool in front of the destinations, unless it would wrap below 0.
#include <gtest/gtest.h>

#include <vector>

#include "boot/kernel_protocol.h"

using quorvel::AddressRange;

TEST(LinuxPageTable, TheSixteenKilobytesBelowTheLowestDestinationComeFirst) {
    struct Case {
        const char* name;
        std::vector<AddressRange> given;
        std::vector<AddressRange> expected;
    };
    const std::vector<Case> cases = {
        {"a vmlinux at RAM + 0x8000, its image last",
         {{0xC0008000, 0xC0400000}, {0xC0400000, 0xC0410000}},
         {{0xC0004000, 0xC0008000}, {0xC0008000, 0xC0400000}, {0xC0400000, 0xC0410000}}},
        {"the lowest destination not first",
         {{0xA0100000, 0xA0200000}, {0xA0008000, 0xA0009000}},
         {{0xA0004000, 0xA0008000}, {0xA0100000, 0xA0200000}, {0xA0008000, 0xA0009000}}},
        {"below address 0", {{0x2000, 0x3000}}, {{0x2000, 0x3000}}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<AddressRange> ranges = c.given;
        quorvel::keepLinuxPageTableClear(ranges);
        ASSERT_EQ(ranges.size(), c.expected.size());
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            EXPECT_EQ(ranges[i].start, c.expected[i].start) << i;
            EXPECT_EQ(ranges[i].end, c.expected[i].end) << i;
        }
    }
}
