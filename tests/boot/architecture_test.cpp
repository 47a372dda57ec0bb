// The services every architecture shares: pool reservation, coredll lookups, the
// system report and the boot information page.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "boot/architecture.h"
#include "platform/os_version.h"
#include "boot/boot_info.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/component_doubles.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/page_link_walker.h"

using namespace quorvel;
using testing_support::ArchitectureDouble;
using testing_support::LoaderDouble;
using testing_support::LogCapture;
using testing_support::MemoryManagerDouble;
using testing_support::CapturingConsole;
using testing_support::RecordingMainWindow;
using testing_support::Script;
using testing_support::TestDevice;

namespace {

// An architecture over a fresh memory manager, printing to the log view.
struct Bench {
    explicit Bench(sim::DeviceSettings settings = {}) : device(settings) {
        setConsole(nullptr);
        memory = owned.get();
    }

    // A fresh memory manager, as every attempt has.
    void renewMemory() {
        owned = std::make_unique<MemoryManagerDouble>(script, console);
        memory = owned.get();
    }
    MemoryManagerDouble& memoryDouble() { return *owned; }

    TestDevice device;
    LogCapture log;
    RecordingMainWindow window;
    Script script;
    Console* console = lcdConsole();
    std::unique_ptr<MemoryManagerDouble> owned = std::make_unique<MemoryManagerDouble>(script, console);
    MemoryManager* memory = nullptr;
    ArchitectureDouble architecture{script, console, memory};
};

TEST(ArchitectureReserveMemory, AsksForWholePagesWithLinksAndSparesIn64KiBSteps) {
    struct Case {
        std::uint32_t bytes;
        std::uint32_t pool;
    };
    const Case cases[] = {
        {0, 65536},
        {1, 65536},
        {1003520, 1048576},  // 246 pages
        {48960, 65536},      // 12 pages + 4 spare: exactly 64 KiB, not rounded further
        {48961, 131072},
        {114240, 131072},    // 28 + 4 pages: exactly 128 KiB
    };
    Bench bench;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        bench.renewMemory();
        EXPECT_TRUE(bench.architecture.reserveMemory(c.bytes));
        EXPECT_EQ(bench.memoryDouble().lookups * 4096u, c.pool);
        EXPECT_EQ(bench.memory->poolCount() * 4096u, c.pool);
    }
}

TEST(ArchitectureReserveMemory, RefusesARequestThatDoesNotFitIn32Bits) {
    Bench bench;
    for (std::uint32_t bytes : {0xFFFFFFFFu, 0xFFF00000u}) {
        SCOPED_TRACE(bytes);
        bench.renewMemory();
        bench.log.clear();
        EXPECT_FALSE(bench.architecture.reserveMemory(bytes));
        EXPECT_EQ(bench.memoryDouble().lookups, 0);
        std::u16string line = u"can't reserve memory for 0x" + sim::fromUtf8(bytes == 0xFFFFFFFFu ? "ffffffff" : "fff00000") +
                              u" bytes.\n";
        EXPECT_EQ(bench.log.entries(), std::vector<std::u16string>{line});
    }
}

TEST(ArchitectureReserveMemory, ReportsTheMemoryManagersFailure) {
    Bench bench;
    bench.device->faults().failAlways("VirtualAlloc");
    EXPECT_FALSE(bench.architecture.reserveMemory(4096));
    EXPECT_TRUE(bench.log.contains(u"can't allocate memory\n")) << bench.log.utf8();
}

TEST(ArchitectureCoredll, IsLoadedOnceForEveryLookup) {
    Bench bench;
    ce::LockPagesRoutine lock = bench.architecture.lockPagesAddress();
    EXPECT_NE(lock, nullptr);
    EXPECT_EQ(bench.architecture.lockPagesAddress(), lock);
    EXPECT_NE(bench.architecture.unlockPagesAddress(), nullptr);
    EXPECT_EQ(bench.architecture.getProcAddress(u"NoSuchRoutine"), nullptr);
    EXPECT_EQ(bench.device->coredllLoads, 1);
    EXPECT_TRUE(bench.device->messageBoxes().shown().empty());
}

TEST(ArchitectureCoredll, ThatCannotBeLoadedIsAWarningAndIsTriedAgain) {
    Bench bench;
    bench.device->faults().failAlways("LoadLibraryW");
    EXPECT_EQ(bench.architecture.lockPagesAddress(), nullptr);
    EXPECT_EQ(bench.architecture.unlockPagesAddress(), nullptr);

    const std::vector<sim::MessageBoxRecord>& shown = bench.device->messageBoxes().shown();
    ASSERT_EQ(shown.size(), 2u);
    for (const sim::MessageBoxRecord& box : shown) {
        EXPECT_EQ(box.text, u"Can't load coredll.dll.");
        EXPECT_EQ(box.caption, u"WARNING");
        EXPECT_EQ(box.type, 0x30u);
        EXPECT_EQ(box.owner, RecordingMainWindow::HANDLE);
    }
    EXPECT_EQ(bench.device->updatedWindows(),
              (std::vector<std::uintptr_t>{RecordingMainWindow::HANDLE, RecordingMainWindow::HANDLE}));

    bench.device->faults().clear();
    EXPECT_NE(bench.architecture.lockPagesAddress(), nullptr);
    EXPECT_EQ(bench.device->coredllLoads, 1);
}

TEST(ArchitectureReportSystem, LogsVersionSystemAndDisplayAndKeepsTheVersion) {
    for (bool exported : {true, false}) {
        SCOPED_TRACE(exported);
        sim::DeviceSettings settings;
        settings.coredllExportsGetVersionEx = exported;
        settings.osMajor = 5;
        settings.osMinor = 2;
        settings.osBuild = 1234;
        settings.processorLevel = 4;
        settings.processorRevision = 0x3;
        settings.processorType = 2577;
        settings.screenWidth = 320;
        settings.screenHeight = 240;
        settings.bitsPerPixel = 8;
        Bench bench(settings);
        osVersion = {};

        bench.architecture.Architecture::reportSystem();

        const std::vector<std::u16string> expected = {
            u"_WIN32_WCE = 420\n",
            exported ? u"GetVersionEx\n" : u"GetVersionExW\n",
            u"Windows CE 5.2\n",
            u"GetSystemInfo:\n",
            u"wProcessorArchitecture      0x5\n",
            u"wProcessorLevel             0x4\n",
            u"wProcessorRevision          0x3\n",
            u"dwPageSize                  0x1000\n",
            u"dwAllocationGranularity     0x00010000\n",
            u"dwProcessorType             0xa11\n",
            u"Display: 320x240 8bpp\n",
        };
        EXPECT_EQ(bench.log.entries(), expected) << bench.log.utf8();
        EXPECT_EQ(osVersion.dwMajorVersion, 5u);
        EXPECT_EQ(osVersion.dwMinorVersion, 2u);
        EXPECT_EQ(osVersion.dwBuildNumber, 1234u);
        EXPECT_EQ(osVersion.dwPlatformId, ce::VER_PLATFORM_WIN32_CE);
    }
}

void setName(ce::WCHAR (&to)[PATH_SIZE], const std::u16string& from) {
    std::copy(from.begin(), from.end(), to);
    to[from.size()] = 0;
}

TEST(ArchitectureParameterPage, HoldsTheCallRecordArgumentsAndBootInformation) {
    Bench bench;
    BootMenu& menu = theBootMenu();
    setName(menu.kernelName, u"k");
    menu.serialConsole = 1;
    menu.bootVerbose = 1;
    menu.bootSingleUser = menu.askFileName = menu.kernelDebugger = 0;
    menu.rootFileSystem = ROOT_SD;
    std::u16string extra = u" -x  y";
    std::copy(extra.begin(), extra.end(), menu.extraKernelOptions);
    menu.extraKernelOptions[extra.size()] = 0;
    menu.platform = {CPU_WORD_SA1110, 0x02C20201};
    menu.reverseVideo = 0;

    ASSERT_TRUE(bench.architecture.reserveMemory(0));
    // The console of the attempt decides the console kind.
    CapturingConsole serial(CONSOLE_SERIAL);
    bench.console = &serial;
    const TranslationEntry last = bench.memory->translationTable()[bench.memory->poolCount() - 1];
    LoaderDouble loader(bench.script, bench.console, bench.memory);
    loader.entry = 0xC0201000;

    const std::uint32_t p = bench.architecture.fillParameterPage(loader);

    ASSERT_EQ(p, last.paddr);
    EXPECT_EQ(bench.architecture.bootInfoPage, last.vaddr);
    sim::PhysicalMemory& ram = bench.device->memory();
    auto word = [&](std::uint32_t offset) { return ram.readWord(sim::PhysicalAddress(p + offset)); };
    EXPECT_EQ(word(0), 0xC0201000u);
    EXPECT_EQ(word(4), 6u);
    EXPECT_EQ(word(8), p + 52);
    EXPECT_EQ(word(12), p + 16);
    const std::uint32_t argv[] = {116, 118, 120, 122, 128, 131};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(word(52 + 4 * i), p + argv[i]) << i;
    EXPECT_EQ(testing_support::readPhysical(ram, p + 116, 18), std::string("k\0h\0v\0b=sd0\0-x\0y\0", 18));

    BootInfo info;
    std::string bytes = testing_support::readPhysical(ram, p + 16, sizeof info);
    std::memcpy(&info, bytes.data(), sizeof info);
    EXPECT_EQ(info.length, 36);
    EXPECT_EQ(info.magic, BOOTINFO_SIGNATURE);
    EXPECT_EQ(info.consoleKind, CONSOLE_SERIAL);
    EXPECT_EQ(info.platform, (PlatformId{CPU_WORD_SA1110, 0x02C20201}));

    EXPECT_EQ(serial.lines, (std::vector<std::u16string>{u"framebuffer: 640x240 type=5 linebytes=1280 addr=0x48200000\n",
                                                         u"console = 2\n"}));
    EXPECT_EQ(bench.script.count("loader.entryAddress"), 1);
}

TEST(ArchitectureParameterPage, WithoutAPageLeftFailsAndWritesNothing) {
    struct Case {
        const char* name;
        bool pool;
    };
    for (const Case& c : {Case{"no pool", false}, Case{"pool used up", true}}) {
        SCOPED_TRACE(c.name);
        Bench bench;
        if (c.pool) {
            ASSERT_TRUE(bench.architecture.reserveMemory(0));
            std::uint32_t v, p;
            while (bench.memory->takeBackPage(v, p)) {
            }
        }
        LoaderDouble loader(bench.script, bench.console, bench.memory);
        bench.log.clear();
        EXPECT_EQ(bench.architecture.fillParameterPage(loader), NO_ADDRESS);
        EXPECT_EQ(bench.architecture.bootInfoPage, 0u);
        EXPECT_EQ(bench.script.count("loader.entryAddress"), 0);
        EXPECT_EQ(bench.log.entries(), std::vector<std::u16string>{u"no page left for the boot information.\n"});
    }
}

}  // namespace
