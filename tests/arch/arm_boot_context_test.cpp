// The ARM boot context: the processor family from the platform, the components it
// creates, the console it chooses, the process's one context with its boot hook, and
// what it releases in which order.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "arch/arm/pxa2x0_architecture.h"
#include "arch/arm/sa11x0_architecture.h"
#include "arch/arm/arm_boot_context.h"
#include "arch/arm/uart_console.h"
#include "boot/boot_menu.h"
#include "boot/boot_sequence.h"
#include "boot/platform_id.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/coredll.h"
#include "sim/emulator.h"
#include "sim/utf.h"
#include "support/boot_harness.h"
#include "support/test_data.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/case_names.h"

using namespace quorvel;
using testing_support::LogCapture;
using testing_support::TestDevice;

namespace {

// Options from defaults: no boot menu or context of an earlier test carries over.
struct FreshStart {
    FreshStart() {
        releaseBootContext();
        releaseBootMenu();
        setConsole(nullptr);
    }
};

void setText(ce::WCHAR (&to)[PATH_SIZE], const std::u16string& from) {
    ce::wcsncpy(to, from.c_str(), PATH_SIZE - 1);
    to[PATH_SIZE - 1] = 0;
}

class ArmBootContextTest : public ::testing::Test {
public:
    explicit ArmBootContextTest(sim::DeviceSettings settings = {}) : device(std::move(settings)) {
        setText(menu.kernelDirectory, u"\\Storage Card\\");
        menu.platform = {CPU_WORD_SA1110, 0x02C20201};  // an SA-1110 machine
        menu.serialConsole = ce::FALSE;
    }
    ~ArmBootContextTest() override {
        context.reset();
        releaseBootContext();
        releaseConsole();
    }

    // A context made as start-up makes it, after the options are set.
    ArmBootContext& make() {
        context = std::make_unique<ArmBootContext>();
        return *context;
    }
    // An attempt as far as the boot sequence takes it before the architecture's init.
    void attempt() {
        ASSERT_TRUE(context->setup());
        ASSERT_TRUE(context->create());
    }
    std::u16string uartText() { return sim::fromUtf8(device->uart()->sent()); }

    TestDevice device;
    FreshStart fresh;
    LogCapture log;
    BootMenu& menu = theBootMenu();
    std::unique_ptr<ArmBootContext> context;
};

TEST_F(ArmBootContextTest, SetupDerivesTheProcessorFamilyAndCreateTheMatchingArchitecture) {
    struct Case {
        const char* name;
        PlatformId platform;
        bool supported;
        std::uint32_t cpuKind;
        std::u16string cpuLine;
    };
    const Case cases[] = {
        {"SA-1100", {CPU_WORD_SA1100, 0x02C10101}, true, CPU_KIND_SA11X0, u"SA-11x0 CPU.\n"},
        {"SA-1110 cpu word", {CPU_WORD_SA1110, 0x02C20201}, true, CPU_KIND_SA11X0, u"SA-11x0 CPU.\n"},
        {"PXA-250", {CPU_WORD_PXA250, 0x04C10101}, true, CPU_KIND_PXA250, u"PXA-2x0 CPU.\n"},
        {"PXA-270", {CPU_WORD_PXA270, 0x04C20101}, true, CPU_KIND_PXA270, u"PXA-2x0 CPU.\n"},
        {"unset platform", {0, 0}, false, 0, u""},
        {"XScale without a model", {CPU_WORD_XSCALE, 0}, false, 0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        menu.platform = c.platform;
        make();
        log.clear();

        ASSERT_EQ(context->setup(), c.supported ? ce::TRUE : ce::FALSE);
        if (!c.supported) continue;
        EXPECT_EQ(context->cpuKind, c.cpuKind);
        EXPECT_EQ(context->memoryMethod, MEMORY_METHOD_LOCKPAGES);
        EXPECT_EQ(std::u16string(context->kernelDirectory), u"\\Storage Card\\") << "the base setup ran";

        ASSERT_TRUE(context->create());
        EXPECT_EQ(log.entries(), (std::vector<std::u16string>{u"ARM architecture.\n", c.cpuLine, u"MemoryManager: LockPages\n",
                                                              u"FileManager: FAT\n"}));
        if (c.cpuKind == CPU_KIND_SA11X0)
            EXPECT_NE(dynamic_cast<SA11x0Architecture*>(context->architecture), nullptr);
        else
            EXPECT_NE(dynamic_cast<PXA2x0Architecture*>(context->architecture), nullptr);
        auto* memory = dynamic_cast<LockPagesMemoryManager*>(context->memoryManagerSlot);
        ASSERT_NE(memory, nullptr);
        EXPECT_EQ(memory->pageSize, 4096u);
        EXPECT_EQ(memory->pfnShift, 0u);
        EXPECT_NE(context->fileManagerSlot, nullptr);
        EXPECT_EQ(context->consoleSlot, lcdConsole());
        EXPECT_EQ(theConsole(), lcdConsole());
    }
}

TEST_F(ArmBootContextTest, CreateStopsWhereAComponentCannotBeMade) {
    struct Case {
        const char* name;
        std::function<void(ArmBootContextTest&)> arrange;
        std::vector<std::u16string> log;
    };
    const std::u16string arm = u"ARM architecture.\n", sa = u"SA-11x0 CPU.\n";
    const std::u16string notFound = u"couldn't find LockPages/UnlockPages.\n";
    auto missing = [](const char16_t* routine) {
        return [routine](ArmBootContextTest& t) {
            t.device->faults().failWhen("GetProcAddressW",
                                        [routine](const sim::FaultCall& call) { return call.name == routine; });
        };
    };
    const Case cases[] = {
        {"unknown processor kind", [](ArmBootContextTest& t) { t.context->cpuKind = 0x0C300000; },
         {u"Unsupported architecture.\n"}},
        {"coredll.dll not loadable", [](ArmBootContextTest& t) { t.device->faults().failAlways("LoadLibraryW"); },
         {arm, sa, notFound}},
        {"LockPages missing", missing(u"LockPages"), {arm, sa, notFound}},
        {"UnlockPages missing", missing(u"UnlockPages"), {arm, sa, notFound}},
        {"another address method", [](ArmBootContextTest& t) { t.context->memoryMethod = 2; },
         {arm, sa, u"unsupported memory address detection method.\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        device->faults().clear();
        make();
        ASSERT_TRUE(context->setup());
        c.arrange(*this);
        log.clear();

        EXPECT_FALSE(context->create());

        EXPECT_EQ(log.entries(), c.log) << log.utf8();
        EXPECT_EQ(context->memoryManagerSlot, nullptr);
        EXPECT_EQ(context->fileManagerSlot, nullptr);
    }
}

TEST_F(ArmBootContextTest, SerialConsoleThatCannotBeSetUpLeavesTheAttemptOnTheLcd) {
    struct Case {
        const char* name;
        std::function<void(ArmBootContextTest&)> arrange;
        std::vector<std::u16string> setupLines;
    };
    const Case cases[] = {
        {"UART registers cannot be mapped",
         [](ArmBootContextTest& t) { t.device->faults().failAlways("VirtualCopy"); },
         {u"BaudRate 19200, ByteSize 0x8, Parity 0x0, StopBits 0x0\n", u"can't map physical address 0x80050000\n"}},
        {"COM1 cannot be opened",
         [](ArmBootContextTest& t) {
             t.device->faults().failWhen("CreateFileW", [](const sim::FaultCall& call) { return call.name == u"COM1:"; });
         },
         {u"couldn't open COM1\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        context.reset();
        releaseUartConsole();
        releaseConsole();
        device->faults().clear();
        c.arrange(*this);
        menu.serialConsole = ce::TRUE;
        menu.serialSpeed = 19200;
        make();
        log.clear();

        ASSERT_NO_FATAL_FAILURE(attempt());

        std::vector<std::u16string> expected = {u"ARM architecture.\n", u"SA-11x0 CPU.\n", u"MemoryManager: LockPages\n"};
        expected.insert(expected.end(), c.setupLines.begin(), c.setupLines.end());
        expected.push_back(u"use LCD console instead.\n");
        expected.push_back(u"FileManager: FAT\n");
        EXPECT_EQ(log.entries(), expected) << log.utf8();
        EXPECT_EQ(context->consoleSlot, lcdConsole());
        EXPECT_EQ(theConsole(), lcdConsole());
        ASSERT_NE(context->fileManagerSlot, nullptr);

        // The attempt goes on, its messages in the log.
        log.clear();
        ASSERT_TRUE(context->architecture->init());
        EXPECT_EQ(log.entries().back(), u"D-cache size = 8192\n");
        EXPECT_EQ(device->uart()->sent(), "");
    }
}

TEST_F(ArmBootContextTest, SerialConsoleCarriesTheAttemptAndASecondAttemptWithoutItReturnsToTheLcd) {
    menu.serialConsole = ce::TRUE;
    make();
    ASSERT_NO_FATAL_FAILURE(attempt());
    Console* uart = context->consoleSlot;
    EXPECT_EQ(uart->consoleKind, CONSOLE_SERIAL);
    EXPECT_EQ(theConsole(), uart);
    EXPECT_EQ(uartConsole(context->memoryManagerSlot, context->cpuKind, menu.serialSpeed), uart);

    // The components print through the slot, so to the UART.
    log.clear();
    ASSERT_TRUE(context->architecture->init());
    EXPECT_NE(uartText().find(u"D-cache size = 8192\r\n"), std::u16string::npos) << device->uart()->sent();
    EXPECT_TRUE(log.entries().empty()) << log.utf8();

    menu.serialConsole = ce::FALSE;
    device->uart()->clearSent();
    ASSERT_NO_FATAL_FAILURE(attempt());
    // Made while the slot still held the UART console.
    EXPECT_EQ(uartText(), u"ARM architecture.\r\nSA-11x0 CPU.\r\nMemoryManager: LockPages\r\n");
    EXPECT_EQ(context->consoleSlot, lcdConsole());
    EXPECT_EQ(theConsole(), lcdConsole());
    // The UART console lives on for a later attempt.
    EXPECT_EQ(uartConsole(context->memoryManagerSlot, context->cpuKind, menu.serialSpeed), uart);

    device->uart()->clearSent();
    log.clear();
    ASSERT_TRUE(context->architecture->init());
    EXPECT_EQ(log.entries().back(), u"D-cache size = 8192\n");
    EXPECT_EQ(device->uart()->sent(), "");
}

TEST_F(ArmBootContextTest, DestructionReleasesTheUartConsoleBeforeTheMemoryManager) {
    menu.serialConsole = ce::TRUE;
    make();
    ASSERT_NO_FATAL_FAILURE(attempt());
    ASSERT_EQ(context->consoleSlot->consoleKind, CONSOLE_SERIAL);
    ASSERT_TRUE(context->architecture->reserveMemory(4096));
    const std::uint32_t pool = context->memoryManagerSlot->poolBase();
    std::vector<std::string> released;
    device->faults().failWhen("VirtualFree", [&](const sim::FaultCall& call) {
        if (auto reg = device->addressSpace().deviceAt(call.address)) released.push_back(reg->device->name());
        if (call.address == pool) released.push_back("pool");
        return false;
    });

    context.reset();

    EXPECT_EQ(released, (std::vector<std::string>{device->uart()->name(), "pool"}));
    EXPECT_EQ(theConsole(), lcdConsole());
}

TEST_F(ArmBootContextTest, TheBootContextIsMadeOnceWithTheBootSequenceAsTheHook) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        menu.bootHook = nullptr;
        menu.bootHookArgument = 7;

        BootContext& made = theBootContext();

        EXPECT_EQ(menu.bootHook, &bootSequence);
        EXPECT_EQ(menu.bootHookArgument, 0u);
        EXPECT_NE(dynamic_cast<ArmBootContext*>(&made), nullptr);
        EXPECT_EQ(made.cpuKind, 0u);
        EXPECT_EQ(made.serialConsole, ce::FALSE);
        EXPECT_EQ(made.memoryMethod, 0u);
        EXPECT_EQ(made.fileManagerKind, FILE_MANAGER_FAT);
        EXPECT_EQ(made.kernelDirectory[0], 0);
        EXPECT_EQ(made.consoleSlot, theConsole());
        EXPECT_EQ(made.architecture, nullptr);
        EXPECT_EQ(made.memoryManagerSlot, nullptr);

        // Later calls return the same context and leave the hook alone.
        menu.bootHook = nullptr;
        EXPECT_EQ(&theBootContext(), &made);
        EXPECT_EQ(menu.bootHook, nullptr);
        releaseBootContext();
    }
}

TEST_F(ArmBootContextTest, TheHookReportsAFailedAttempt) {
    menu.platform = {0, 0};
    theBootContext();

    menu.bootHook(menu.bootHookArgument);

    const std::vector<sim::MessageBoxRecord>& boxes = device->messageBoxes().shown();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"BOOT FAILED");
    EXPECT_EQ(boxes[0].text, u"Architecture not supported.\n");
}

using testing_support::PrintTo;
struct Machine {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    PlatformId platform;
};

sim::DeviceSettings settingsFor(const Machine& machine) {
    sim::DeviceSettings settings;
    settings.cpu = machine.family;
    settings.mainId = machine.mainId;
    return settings;
}

class ArmBootContextBootTest : public ArmBootContextTest, public ::testing::WithParamInterface<Machine> {
protected:
    ArmBootContextBootTest() : ArmBootContextTest(settingsFor(GetParam())) {}
};

INSTANTIATE_TEST_SUITE_P(Machines, ArmBootContextBootTest,
                         ::testing::Values(Machine{"SA1110", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, {CPU_WORD_SA1110, 0}},
                                           Machine{"PXA250", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250, {CPU_WORD_PXA250, 0}},
                                           Machine{"PXA270", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA270, {CPU_WORD_PXA270, 0}}),
                         ::testing::PrintToStringParamName());

TEST_P(ArmBootContextBootTest, TheHookBootsTheSampleKernelThroughTheContext) {
    device.writeFile("Storage Card/tamsel.gz", testing_support::readHostFile(testing_support::sampleKernelGzPath()));
    menu.platform = GetParam().platform;
    setText(menu.kernelName, u"tamsel.gz");
    menu.pauseBeforeBoot = ce::FALSE;
    theBootContext();

    std::optional<sim::HandOverResult> result = sim::runBoot([&] { menu.bootHook(menu.bootHookArgument); });

    ASSERT_TRUE(result) << log.utf8();
    EXPECT_EQ(result->reason, sim::HaltReason::Halted) << result->describe();
    // The kernel's verdict on what it was handed is its last line.
    const std::string& sent = device->uart()->sent();
    const std::string report = sent.substr(0, sent.find_last_not_of("\r\n") + 1);
    EXPECT_EQ(report.substr(report.rfind('\n') + 1), "OK") << sent;
    EXPECT_TRUE(device->messageBoxes().shown().empty());
}

}  // namespace
