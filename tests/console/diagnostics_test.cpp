// Bit pictures of register values and lines to the platform debug output.
#include <string>

#include "console/console.h"
#include "console_fixture.h"

using namespace quorvel;

namespace {

struct BitDumpCase {
    const char* label;
    std::uint32_t value;
    int low;
    int high;
    const char16_t* name;
    bool showBits;
    std::u16string expected;
};

TEST_F(ConsoleTest, BitDumpDrawsTheFieldAndItsBits) {
    const BitDumpCase cases[] = {
        {"field of four bits", 5, 0, 3, nullptr, true,
         std::u16string(28, u'-') + u".|.| [0x00000005] 2 0 5\n"},
        {"high 0 means the whole word", 0x80000001, 0, 0, nullptr, false,
         u"|" + std::u16string(30, u'.') + u"| [0x80000001] -2147483647\n"},
        {"bits outside the field", 0x00F0000F, 4, 23, u"CR", true,
         u"--------||||" + std::u16string(16, u'.') + u"++++[CR] [0x00f0000f] 23 22 21 20 15728655\n"},
    };
    for (const BitDumpCase& c : cases) {
        SCOPED_TRACE(c.label);
        log.clear();
        bitDump(c.value, c.low, c.high, c.name, c.showBits);
        EXPECT_EQ(log.text(), c.expected);
    }
}

TEST_F(ConsoleTest, BitFlagMarksASetMask) {
    bitFlag(6, 4, "RUN");
    EXPECT_EQ(log.text(), u"RUN[x] ");
    log.clear();
    bitFlag(6, 1, "RUN");
    EXPECT_EQ(log.text(), u"RUN[_] ");
}

TEST_F(ConsoleTest, DebugMessageGoesToTheDebugOutput) {
    EXPECT_EQ(debugMessage(u"DSK1: read %d sectors at %d\n", 8, 63), 27);
    EXPECT_EQ(debugMessage(u"%s", u""), 0);  // nothing formatted, nothing sent
    std::u16string huge(5000, u'z');
    EXPECT_EQ(debugMessage(u"%s", huge.c_str()), 2047);
    ASSERT_EQ(device->debugOutput().size(), 2u);
    EXPECT_EQ(device->debugOutput()[0], u"DSK1: read 8 sectors at 63\n");
    EXPECT_EQ(device->debugOutput()[1], std::u16string(2047, u'z'));
    EXPECT_TRUE(log.entries().empty());
}

}  // namespace
