// The SA-11x0 diagnostics: "Hello World" straight into serial port 3, the test pattern
// in the LCD frame buffer, and a jump routine that comes back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "arch_fixture.h"
#include "sim/emulator.h"

using namespace arch_test;
using sim::RegisterAccess;

namespace {

constexpr std::uint32_t UTDR = 0x14;
constexpr std::uint32_t UTSR1 = 0x20;
constexpr std::uint32_t FRAMEBUFFER_MAPPING = 0x50000;

class Sa11x0ArchitectureTest : public ArchTest {
protected:
    Sa11x0ArchitectureTest() : ArchTest(SA11X0) {}

    // Records the device or RAM frame behind every region released, at release time.
    void watchReleases() {
        device->faults().failWhen("VirtualFree", [this](const sim::FaultCall& call) {
            if (auto reg = device->addressSpace().deviceAt(call.address))
                released.push_back(reg->device->name());
            else if (auto frame = device->addressSpace().physicalOf(call.address))
                released.push_back(std::to_string(frame->value()));
            return false;
        });
    }
    std::vector<std::string> released;
};

// UTSR1 read until TBY clears (busy for `busyReads` reads after each byte, and for
// `busyAtStart` before the first), then the byte into UTDR; all 32-bit accesses.
std::vector<RegisterAccess> expectedUartAccesses(const std::string& text, int busyReads, int busyAtStart) {
    std::vector<RegisterAccess> out;
    bool first = true;
    for (char c : text) {
        for (int i = 0; i < (first ? busyAtStart : busyReads); ++i) out.push_back({RegisterAccess::Read, UTSR1, 0x1, 32});
        out.push_back({RegisterAccess::Read, UTSR1, 0x4, 32});
        out.push_back({RegisterAccess::Write, UTDR, static_cast<std::uint8_t>(c), 32});
        first = false;
    }
    return out;
}

TEST_F(Sa11x0ArchitectureTest, TestUartWritesHelloWorldPollingTheStatusRegister) {
    watchReleases();
    // Nothing waits behind the last byte, so each round starts with the transmitter
    // still busy from the one before.
    int busyAtStart = 0;
    for (int busyReads : {0, 2, 5}) {
        SCOPED_TRACE(busyReads);
        device->uart()->busyReads = busyReads;
        device->uart()->clearAccesses();
        device->uart()->clearSent();
        released.clear();

        architecture->testUart();

        EXPECT_EQ(device->uart()->sent(), "Hello World\r\n");
        EXPECT_EQ(device->uart()->accesses(), expectedUartAccesses("Hello World\r\n", busyReads, busyAtStart));
        EXPECT_EQ(released, std::vector<std::string>{device->uart()->name()}) << "the register window stays mapped";
        busyAtStart = busyReads;
    }
    EXPECT_EQ(log.entries(), (std::vector<std::u16string>{u"ARM architecture.\n", u"SA-11x0 CPU.\n"}));
}

TEST_F(Sa11x0ArchitectureTest, TestUartWithoutTheRegistersEndsAtOnce) {
    device->faults().failAlways("VirtualCopy");
    log.clear();

    architecture->testUart();

    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"can't map physical address 0x80050000\n"});
    EXPECT_TRUE(device->uart()->accesses().empty());
    EXPECT_EQ(device->uart()->sent(), "");
}

// The pattern: (x * y) mod 256 over 640 x 480, value 3 in the middle 400 x 240.
std::uint8_t expectedPixel(std::uint32_t x, std::uint32_t y) {
    if (y >= 120 && y < 360 && x >= 120 && x < 520) return 3;
    return static_cast<std::uint8_t>(x * y);
}

TEST_F(Sa11x0ArchitectureTest, TestFramebufferDrawsThePatternBehindThePaletteAtDbar1) {
    watchReleases();
    for (std::uint32_t dbar1 : {0xC1000000u, 0xC1200200u}) {
        SCOPED_TRACE(dbar1);
        device->lcd()->dbar1 = dbar1;
        std::uint8_t* ram = device->memory().host(sim::PhysicalAddress(dbar1));
        std::memset(ram, 0xEE, FRAMEBUFFER_MAPPING);
        released.clear();
        log.clear();

        architecture->testFramebuffer();

        EXPECT_TRUE(log.entries().empty()) << log.utf8();
        // The palette area in front and the rest of the mapping behind are left alone.
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ram), 512), std::string(512, '\xEE'));
        const std::uint32_t end = 512 + 640 * 480;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ram) + end, FRAMEBUFFER_MAPPING - end),
                  std::string(FRAMEBUFFER_MAPPING - end, '\xEE'));
        const std::uint8_t* pixels = ram + 512;
        int wrong = 0;
        for (std::uint32_t y = 0; y < 480; ++y)
            for (std::uint32_t x = 0; x < 640; ++x)
                if (pixels[640 * y + x] != expectedPixel(x, y) && wrong++ < 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") = " << int(pixels[640 * y + x]);
        EXPECT_EQ(wrong, 0);
        // Row 0 and column 0 are zero whatever the other rows hold.
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(pixels), 640), std::string(640, '\0'));
        for (std::uint32_t y = 0; y < 480; ++y) EXPECT_EQ(pixels[640 * y], 0) << y;
        EXPECT_EQ(pixels[640 * 120 + 120], 3);
        EXPECT_EQ(pixels[640 * 359 + 519], 3);
        EXPECT_EQ(pixels[640 * 360 + 519], static_cast<std::uint8_t>(519 * 360));
        EXPECT_EQ(pixels[640 * 359 + 520], static_cast<std::uint8_t>(520 * 359));
        // The DBAR1 word and the frame buffer were both unmapped again.
        EXPECT_EQ(released, (std::vector<std::string>{device->lcd()->name(), std::to_string(dbar1 & ~0xFFFu)}));
    }
}

TEST_F(Sa11x0ArchitectureTest, TestFramebufferThatCannotMapTheBufferEndsAtOnce) {
    struct Case {
        const char* name;
        std::uint32_t dbar1;
        bool refuse;  // VirtualCopy refuses the frame buffer's address
        std::u16string message;
    };
    const Case cases[] = {
        {"mapping refused", 0xC1000000, true, u"can't map physical address 0xc1000000\n"},
        {"no memory behind DBAR1", 0x00000000, false, u"can't map physical address 0x00000000\n"},
    };
    std::uint8_t* ram = device->memory().host(sim::PhysicalAddress(0xC1000000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->faults().clear();
        if (c.refuse)
            device->faults().failWhen("VirtualCopy", [&](const sim::FaultCall& call) { return call.address == c.dbar1; });
        device->lcd()->dbar1 = c.dbar1;
        std::memset(ram, 0xEE, FRAMEBUFFER_MAPPING);
        device->cpu().kernelMode = true;
        log.clear();

        architecture->testFramebuffer();

        EXPECT_EQ(log.entries(), std::vector<std::u16string>{c.message});
        EXPECT_EQ(std::string(reinterpret_cast<char*>(ram), FRAMEBUFFER_MAPPING), std::string(FRAMEBUFFER_MAPPING, '\xEE'));
        EXPECT_EQ(device->cpu().cpsr & 0xC0, 0u) << "interrupts left masked";
    }
}

TEST_F(Sa11x0ArchitectureTest, AJumpRoutineThatComesBackEndsTheJumpWithNothingAfter) {
    SmallHandOver plan;
    ASSERT_NO_FATAL_FAILURE(prepareSmallHandOver(plan));
    const std::uint32_t stack = nextBackPage().paddr;
    std::vector<std::uint32_t> loaderPages;
    device->faults().failWhen("FlatJump_sa11x0", [&](const sim::FaultCall& call) {
        loaderPages.push_back(call.address);
        return true;
    });
    log.clear();

    EXPECT_FALSE(sim::runBoot([&] { architecture->jump(plan.parameterPage, plan.head); }));

    EXPECT_EQ(loaderPages, std::vector<std::uint32_t>{architecture->loaderPaddr});
    EXPECT_EQ(log.entries(),
              std::vector<std::u16string>{line("sp for bootloader = %08x + %08x = %08x\n", stack, PAGE, stack + PAGE)});
    EXPECT_TRUE(device->cpu().kernelMode) << "nothing follows the routine on this CPU";
}

}  // namespace
