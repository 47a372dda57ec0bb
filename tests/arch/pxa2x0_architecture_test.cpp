// What is particular to the PXA-2x0: the return path of its flat jump, "Hello World" straight into
// the full-function UART, and the diagnostics it does not have.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arch_fixture.h"
#include "sim/emulator.h"

using namespace arch_test;
using sim::RegisterAccess;

namespace {

constexpr std::uint32_t THR = 0x00;
constexpr std::uint32_t IIR = 0x08;
constexpr std::uint32_t LSR = 0x14;

class Pxa2x0ArchitectureTest : public ArchTest {
protected:
    Pxa2x0ArchitectureTest() : ArchTest(PXA2X0) {}
};

// Per byte: LSR until TDRQ, the byte into THR, LSR until TDRQ again (busy for
// `busyReads` reads after the byte), IIR read once. All 8-bit accesses.
std::vector<RegisterAccess> expectedUartAccesses(const std::string& text, int busyReads) {
    std::vector<RegisterAccess> out;
    for (char c : text) {
        out.push_back({RegisterAccess::Read, LSR, 0x60, 8});
        out.push_back({RegisterAccess::Write, THR, static_cast<std::uint8_t>(c), 8});
        for (int i = 0; i < busyReads; ++i) out.push_back({RegisterAccess::Read, LSR, 0x00, 8});
        out.push_back({RegisterAccess::Read, LSR, 0x60, 8});
        out.push_back({RegisterAccess::Read, IIR, 0x01, 8});
    }
    return out;
}

TEST_F(Pxa2x0ArchitectureTest, TestUartWritesHelloWorldWaitingTwiceAndReadingIirOncePerCharacter) {
    for (int busyReads : {0, 2, 5}) {
        SCOPED_TRACE(busyReads);
        device->uart()->busyReads = busyReads;
        device->uart()->clearAccesses();
        device->uart()->clearSent();

        architecture->testUart();

        EXPECT_EQ(device->uart()->sent(), "Hello World\r\n");
        EXPECT_EQ(device->uart()->accesses(), expectedUartAccesses("Hello World\r\n", busyReads));
    }
    EXPECT_EQ(log.entries(), (std::vector<std::u16string>{u"ARM architecture.\n", u"PXA-2x0 CPU.\n"}));
}

TEST_F(Pxa2x0ArchitectureTest, TestUartReleasesItsRegisterWindow) {
    std::vector<std::string> released;
    device->faults().failWhen("VirtualFree", [&](const sim::FaultCall& call) {
        if (auto reg = device->addressSpace().deviceAt(call.address)) released.push_back(reg->device->name());
        return false;
    });
    architecture->testUart();
    EXPECT_EQ(released, std::vector<std::string>{device->uart()->name()});
}

TEST_F(Pxa2x0ArchitectureTest, TestUartWithoutTheRegistersEndsAtOnce) {
    device->faults().failAlways("VirtualCopy");
    log.clear();

    architecture->testUart();

    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"can't map physical address 0x40100000\n"});
    EXPECT_TRUE(device->uart()->accesses().empty());
    EXPECT_EQ(device->uart()->sent(), "");
}

TEST_F(Pxa2x0ArchitectureTest, TestFramebufferOnlySaysThereIsNone) {
    std::uint64_t mappings = device->faults().calls("VirtualCopy");
    log.clear();
    architecture->testFramebuffer();
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"No framebuffer test yet.\n"});
    EXPECT_EQ(device->faults().calls("VirtualCopy"), mappings);
}

// On the device the routine never comes back; the simulated one is made to, to reach
// what follows it.
TEST_F(Pxa2x0ArchitectureTest, AJumpRoutineThatComesBackLeavesKernelModeAndSaysSoOnce) {
    SmallHandOver plan;
    ASSERT_NO_FATAL_FAILURE(prepareSmallHandOver(plan));
    const std::uint32_t stack = nextBackPage().paddr;
    std::vector<std::uint32_t> loaderPages;
    device->faults().failWhen("FlatJump_pxa2x0", [&](const sim::FaultCall& call) {
        // Kernel mode was entered for the routine.
        EXPECT_TRUE(device->cpu().kernelMode);
        loaderPages.push_back(call.address);
        return true;
    });
    log.clear();

    EXPECT_FALSE(sim::runBoot([&] { architecture->jump(plan.parameterPage, plan.head); }));

    EXPECT_EQ(loaderPages, std::vector<std::uint32_t>{architecture->loaderPaddr});
    EXPECT_EQ(log.entries(),
              (std::vector<std::u16string>{line("sp for bootloader = %08x + %08x = %08x\n", stack, PAGE, stack + PAGE),
                                           u"Return from FlatJump_pxa2x0.\n"}));
    EXPECT_FALSE(device->cpu().kernelMode);
    EXPECT_FALSE(device->cpu().handOver);
}

}  // namespace
