// The UART consoles: the exact register protocol of each processor, the mapping of
// the registers through the memory manager, and the single console of the process.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "arch/arm/uart_console.h"
#include "boot/boot_menu.h"
#include "console/console_fixture.h"
#include "hardware/cpu_models.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/coredll.h"
#include "support/case_names.h"

using namespace quorvel;
using sim::RegisterAccess;

namespace {

constexpr std::uint32_t SPEED = 19200;

using testing_support::PrintTo;
struct UartCase {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    std::uint32_t cpuKind;
    std::uint32_t physicalBase;
};

// The accesses the UART must see for `bytes` when the transmitter stays busy for
// `busyReads` status reads after each byte, and `busyAtStart` reads before the first.
std::vector<RegisterAccess> expectedAccesses(sim::CpuFamily family, const std::string& bytes, int busyReads,
                                             int busyAtStart) {
    std::vector<RegisterAccess> out;
    auto read = [&](std::uint32_t offset, std::uint32_t value) { out.push_back({RegisterAccess::Read, offset, value, 8}); };
    bool first = true;
    for (char c : bytes) {
        auto byte = static_cast<std::uint8_t>(c);
        if (family == sim::CpuFamily::SA11x0) {
            // UTSR1: TBY while busy, then TNF alone; the byte goes to UTDR.
            for (int i = 0; i < (first ? busyAtStart : busyReads); ++i) read(0x20, 0x01);
            read(0x20, 0x04);
            out.push_back({RegisterAccess::Write, 0x14, byte, 8});
        } else {
            // LSR until TDRQ, THR, LSR until TDRQ again, IIR once.
            for (int i = 0; first && i < busyAtStart; ++i) read(0x14, 0x00);
            read(0x14, 0x60);
            out.push_back({RegisterAccess::Write, 0x00, byte, 8});
            for (int i = 0; i < busyReads; ++i) read(0x14, 0x00);
            read(0x14, 0x60);
            read(0x08, 0x01);
        }
        first = false;
    }
    return out;
}

sim::DeviceSettings settingsFor(const UartCase& c) {
    sim::DeviceSettings settings;
    settings.cpu = c.family;
    settings.mainId = c.mainId;
    return settings;
}

class UartConsoleTest : public ConsoleTest, public ::testing::WithParamInterface<UartCase> {
protected:
    UartConsoleTest() : ConsoleTest(settingsFor(GetParam())) {
        theBootMenu().serialSpeed = SPEED;
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        memoryManagerSlot = new LockPagesMemoryManager(
            reinterpret_cast<ce::LockPagesRoutine>(ce::GetProcAddressW(coredll, u"LockPages")),
            reinterpret_cast<ce::UnlockPagesRoutine>(ce::GetProcAddressW(coredll, u"UnlockPages")), consoleSlot,
            4096, 0);
        log.clear();
    }
    ~UartConsoleTest() override {
        releaseUartConsole();  // unmaps through the memory manager, which must still exist
        delete memoryManagerSlot;
    }

    UartConsole* makeConsole() {
        return static_cast<UartConsole*>(uartConsole(memoryManagerSlot, GetParam().cpuKind, SPEED));
    }
    sim::Uart& uart() { return *device->uart(); }

    Console* consoleSlot = lcdConsole();
    MemoryManager* memoryManagerSlot = nullptr;
};

TEST_P(UartConsoleTest, WritesEachByteAfterPollingTheStatus) {
    const bool sa11x0 = GetParam().family == sim::CpuFamily::SA11x0;
    int stillBusy = 0;  // the SA-11x0 console leaves the transmitter busy after its last byte
    for (int busyReads : {2, 0, 5, 1}) {
        SCOPED_TRACE(busyReads);
        releaseUartConsole();
        uart().busyReads = busyReads;
        uart().clearAccesses();
        uart().clearSent();
        UartConsole* console = makeConsole();
        ASSERT_NE(console, nullptr);
        ASSERT_TRUE(console->setup());
        EXPECT_TRUE(uart().accesses().empty());  // mapping touches no register

        console->print(u"a\nb");
        EXPECT_EQ(uart().sent(), "a\r\nb");
        EXPECT_EQ(uart().accesses(), expectedAccesses(GetParam().family, "a\r\nb", busyReads, stillBusy));
        stillBusy = sa11x0 ? busyReads : 0;
    }
    // The driver only set the speed; the text never went through it.
    EXPECT_EQ(device->com1().baudRate, 19200u);
    EXPECT_EQ(device->com1().writes.size(), 1u);
}

TEST_P(UartConsoleTest, MapsTheRegistersThroughTheMemoryManager) {
    UartConsole* console = makeConsole();
    ASSERT_NE(console, nullptr);
    EXPECT_EQ(console->consoleKind, CONSOLE_SERIAL);
    EXPECT_EQ(console->registerBase(), 0xFFFFFFFFu);
    ASSERT_TRUE(console->setup());
    std::uint32_t base = console->registerBase();
    auto reg = device->addressSpace().deviceAt(base);
    ASSERT_TRUE(reg.has_value());
    EXPECT_EQ(reg->device, device->uart());
    EXPECT_EQ(reg->offset, 0u);
    EXPECT_EQ(device->uart()->base(), GetParam().physicalBase);

    // Set up again on reuse: mapped afresh, the earlier mapping released.
    std::uint64_t freesBefore = device->faults().calls("VirtualFree");
    ASSERT_TRUE(console->setup());
    EXPECT_EQ(device->faults().calls("VirtualFree"), freesBefore + 1);
    base = console->registerBase();
    EXPECT_TRUE(device->addressSpace().deviceAt(base).has_value());

    releaseUartConsole();
    EXPECT_FALSE(device->addressSpace().deviceAt(base).has_value());
}

TEST_P(UartConsoleTest, TextNeedingTheWholeBufferIsNotSent) {
    UartConsole* console = makeConsole();
    ASSERT_TRUE(console->setup());
    console->print(u"%s", std::u16string(256, u'y').c_str());
    EXPECT_EQ(uart().sent(), "");
    console->print(u"%s", std::u16string(255, u'x').c_str());
    EXPECT_EQ(uart().sent(), std::string(255, 'x'));
}

TEST_P(UartConsoleTest, UnmappableRegistersFailTheSetup) {
    std::uint32_t physical = GetParam().physicalBase;
    device->faults().failWhen("VirtualCopy", [physical](const sim::FaultCall& call) { return call.address == physical; });
    UartConsole* console = makeConsole();
    EXPECT_FALSE(console->setup());
    EXPECT_EQ(console->registerBase(), 0xFFFFFFFFu);
    char expected[64];
    std::snprintf(expected, sizeof expected, "can't map physical address 0x%08x\n", physical);
    EXPECT_NE(log.utf8().find(expected), std::string::npos) << log.utf8();
    console->print(u"nowhere to go\n");  // must not touch the unmapped registers
    EXPECT_TRUE(uart().accesses().empty());
}

TEST_P(UartConsoleTest, AFailureToMapAgainIsToldThroughTheConsoleItself) {
    UartConsole* console = makeConsole();
    ASSERT_TRUE(console->setup());
    std::uint32_t earlier = console->registerBase();
    consoleSlot = console;  // the console of the previous attempt is the current one
    uart().clearSent();
    std::uint32_t physical = GetParam().physicalBase;
    device->faults().failWhen("VirtualCopy", [physical](const sim::FaultCall& call) { return call.address == physical; });
    EXPECT_FALSE(console->setup());
    char expected[64];
    std::snprintf(expected, sizeof expected, "can't map physical address 0x%08x\r\n", physical);
    EXPECT_NE(uart().sent().find(expected), std::string::npos) << uart().sent();
    EXPECT_EQ(console->registerBase(), 0xFFFFFFFFu);
    EXPECT_FALSE(device->addressSpace().deviceAt(earlier).has_value());
    consoleSlot = lcdConsole();
}

TEST_P(UartConsoleTest, NoCom1NoRegisters) {
    device->faults().failAlways("CreateFileW");
    UartConsole* console = makeConsole();
    EXPECT_FALSE(console->setup());
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"couldn't open COM1\n"});
    EXPECT_EQ(device->faults().calls("VirtualCopy"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cpus, UartConsoleTest,
                         ::testing::Values(UartCase{"SA1110", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, CPU_KIND_SA11X0,
                                                    0x80050000},
                                           UartCase{"PXA250", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250, CPU_KIND_PXA250,
                                                    0x40100000},
                                           UartCase{"PXA270", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA270, CPU_KIND_PXA270,
                                                    0x40100000}),
                         ::testing::PrintToStringParamName());

class UartConsoleHolderTest : public ConsoleTest {
protected:
    MemoryManager* memoryManagerSlot = nullptr;
};

TEST_F(UartConsoleHolderTest, UnknownProcessorsGetNoneAndHoldNothing) {
    for (std::uint32_t cpuKind : {CPU_WORD_SA1110, 0u, 0x0C304000u}) {
        SCOPED_TRACE(cpuKind);
        EXPECT_EQ(uartConsole(memoryManagerSlot, cpuKind, SPEED), nullptr);
    }
    Console* console = uartConsole(memoryManagerSlot, CPU_KIND_PXA250, SPEED);
    EXPECT_NE(dynamic_cast<PXA2x0UartConsole*>(console), nullptr);
}

TEST_F(UartConsoleHolderTest, TheFirstConsoleIsKeptWhateverTheProcessor) {
    Console* first = uartConsole(memoryManagerSlot, CPU_KIND_SA11X0, SPEED);
    ASSERT_NE(dynamic_cast<SA11x0UartConsole*>(first), nullptr);
    EXPECT_EQ(uartConsole(memoryManagerSlot, CPU_KIND_PXA270, SPEED), first);
    EXPECT_EQ(uartConsole(memoryManagerSlot, 0, SPEED), first);
    releaseUartConsole();
    EXPECT_NE(dynamic_cast<PXA2x0UartConsole*>(uartConsole(memoryManagerSlot, CPU_KIND_PXA270, SPEED)), nullptr);
}

TEST_F(UartConsoleHolderTest, ReleasingTheCurrentUartConsoleLeavesTheLcdConsoleCurrent) {
    Console* uart = uartConsole(memoryManagerSlot, CPU_KIND_SA11X0, SPEED);
    setConsole(uart);
    releaseUartConsole();
    EXPECT_EQ(theConsole(), lcdConsole());
    theConsole()->print(u"still printing\n");
    EXPECT_EQ(log.text(), u"still printing\n");
}

}  // namespace
