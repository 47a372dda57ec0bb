// A simulated handheld of one CPU family with the log captured, a LockPages memory
// manager and that CPU's architecture; helpers to lay copy lists by hand or to lay the
// sample kernel as a boot does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "arch/arm/arm_architecture.h"
#include "hardware/cpu_models.h"
#include "arch/arm/pxa2x0_architecture.h"
#include "arch/arm/sa11x0_architecture.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "platform/cpu.h"
#include "loader/elf_loader.h"
#include "loader/page_link.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/address.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/boot_harness.h"
#include "support/test_data.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/page_link_walker.h"

namespace sim {
// Readable register accesses in failure messages.
inline void PrintTo(const RegisterAccess& access, std::ostream* out) {
    char text[64];
    std::snprintf(text, sizeof text, "%s%d 0x%02x=0x%x", access.kind == RegisterAccess::Read ? "R" : "W", access.width,
                  access.offset, access.value);
    *out << text;
}
}  // namespace sim

namespace arch_test {

using quorvel::ArmArchitecture;
using quorvel::Console;
using quorvel::MemoryManager;

// What the tests expect of one CPU family.
struct CpuCase {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    std::u16string cpuLine;
    std::uint32_t banks[4];
    std::uint32_t bankSize;
    std::uint32_t dcacheSize;
    std::uint32_t loaderSize;
    const std::uint8_t* loader;
    const std::uint32_t* builtLoaderSize;
    const char* flatJump;
    bool folds;
    quorvel::PlatformId platform;  // what a boot on this CPU names
    std::unique_ptr<ArmArchitecture> (*make)(Console*&, MemoryManager*&);
};

inline std::unique_ptr<ArmArchitecture> makeSa11x0(Console*& console, MemoryManager*& memory) {
    return std::make_unique<quorvel::SA11x0Architecture>(console, memory);
}
inline std::unique_ptr<ArmArchitecture> makePxa2x0(Console*& console, MemoryManager*& memory) {
    return std::make_unique<quorvel::PXA2x0Architecture>(console, memory);
}

inline const CpuCase SA11X0{"SA11x0",
                            sim::CpuFamily::SA11x0,
                            sim::MAIN_ID_SA1110,
                            u"SA-11x0 CPU.\n",
                            {0xC0000000, 0xC8000000, 0xD0000000, 0xD8000000},
                            0x08000000,
                            8192,
                            424,
                            quorvel::SecondStageLoader_sa11x0,
                            &quorvel::SecondStageLoader_sa11x0_size,
                            "FlatJump_sa11x0",
                            false,
                            {quorvel::CPU_WORD_SA1110, 0},
                            &makeSa11x0};

inline const CpuCase PXA2X0{"PXA2x0",
                            sim::CpuFamily::PXA2x0,
                            sim::MAIN_ID_PXA250,
                            u"PXA-2x0 CPU.\n",
                            {0xA0000000, 0xA4000000, 0xA8000000, 0xAC000000},
                            0x04000000,
                            65536,
                            392,
                            quorvel::SecondStageLoader_pxa2x0,
                            &quorvel::SecondStageLoader_pxa2x0_size,
                            "FlatJump_pxa2x0",
                            true,
                            {quorvel::CPU_WORD_PXA250, 0},
                            &makePxa2x0};

inline std::string cpuName(const ::testing::TestParamInfo<const CpuCase*>& info) { return info.param->name; }

inline sim::DeviceSettings settingsFor(const CpuCase& cpu) {
    sim::DeviceSettings settings;
    settings.cpu = cpu.family;
    settings.mainId = cpu.mainId;
    return settings;
}

// printf-style formatting of an expected line.
template <typename... Args>
std::u16string line(const char* format, Args... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return sim::fromUtf8(text);
}

constexpr std::uint32_t PAGE = 4096;

class ArchTest : public ::testing::Test {
protected:
    explicit ArchTest(const CpuCase& chosen) : ArchTest(chosen, settingsFor(chosen)) {}
    ArchTest(const CpuCase& chosen, sim::DeviceSettings settings) : cpu(chosen), device(std::move(settings)) {
        quorvel::setConsole(nullptr);
        makeMemory();
        log.clear();
        architecture = cpu.make(consoleSlot, memoryManagerSlot);
    }
    ~ArchTest() override {
        // Globals the architecture and the jump touch, put back for the next test.
        quorvel::dcacheFlushSize = 8192;
        quorvel::setConsole(nullptr);
    }

    // A LockPages memory manager of the given page size in the slot.
    void makeMemory(std::uint32_t pageSize = PAGE) {
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        auto lock = reinterpret_cast<ce::LockPagesRoutine>(ce::GetProcAddressW(coredll, u"LockPages"));
        auto unlock = reinterpret_cast<ce::UnlockPagesRoutine>(ce::GetProcAddressW(coredll, u"UnlockPages"));
        memory = std::make_unique<quorvel::LockPagesMemoryManager>(lock, unlock, consoleSlot, pageSize, 0);
        memoryManagerSlot = memory.get();
    }

    // A pool of `pages` pages, committed on the given frames first.
    void makePool(std::uint32_t pages, const std::vector<std::uint32_t>& frames = {}) {
        std::vector<sim::PhysicalAddress> wanted;
        for (std::uint32_t frame : frames) wanted.push_back(sim::PhysicalAddress(frame));
        device->memory().preferFrames(wanted);
        ASSERT_TRUE(memory->buildPool(pages * memory->pageSize, false));
        ASSERT_EQ(memory->poolCount(), static_cast<int>(pages));
        for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(page(static_cast<int>(i)).paddr, frames[i]) << i;
    }

    void usePool() {
        std::uint32_t v, p;
        while (memory->takeBackPage(v, p)) {
        }
    }

    quorvel::TranslationEntry page(int i) const { return memory->translationTable()[i]; }
    // The page the next takeBackPage hands out.
    quorvel::TranslationEntry nextBackPage() const { return page(memory->poolCount() - 1); }

    void writeLink(std::uint32_t vaddr, const quorvel::PageLink& link) {
        std::memcpy(ce::pointerAt(vaddr), &link, sizeof link);
    }
    std::string physical(std::uint32_t paddr, std::uint32_t size) {
        return testing_support::readPhysical(device->memory(), paddr, size);
    }

    // A pool with the loader placed, a boot information page and a one-entry list
    // that clears a little RAM: enough for a jump that passes the pre-jump check.
    struct SmallHandOver {
        std::uint32_t parameterPage;
        std::uint32_t head;
    };
    void prepareSmallHandOver(SmallHandOver& out) {
        ASSERT_NO_FATAL_FAILURE(makePool(4));
        ASSERT_TRUE(architecture->placeSecondStage());
        std::uint32_t v, p;
        ASSERT_TRUE(memory->takeBackPage(v, p));
        out.parameterPage = p;
        writeLink(page(0).vaddr, {quorvel::PAGE_LINK_END, quorvel::PAGE_LINK_ZERO, cpu.banks[0] + 0x100000, 64});
        out.head = page(0).paddr;
    }

    // The sample kernel from the storage card laid into a fresh pool as a boot does,
    // up to its boot information page; the pool is committed on `frames` first.
    struct SampleBoot {
        std::uint32_t parameterPage;
        std::uint32_t head;
    };
    void prepareSampleBoot(SampleBoot& out, const std::vector<std::uint32_t>& frames = {}) {
        quorvel::BootMenu& menu = quorvel::theBootMenu();
        ce::wcsncpy(menu.kernelName, u"tamsel", quorvel::PATH_SIZE - 1);
        menu.rootFileSystem = quorvel::ROOT_WD;
        menu.platform = cpu.platform;
        device.writeFile("Storage Card/tamsel", testing_support::readHostFile(testing_support::sampleKernelPath()));
        files = std::make_unique<quorvel::GzipFileManager>(consoleSlot, quorvel::FILE_MANAGER_FAT);
        ASSERT_TRUE(files->setLocation(u"\\Storage Card\\"));
        ASSERT_TRUE(files->open(u"tamsel", 3));
        fileManagerSlot = files.get();
        loader = std::make_unique<quorvel::ElfLoader>(consoleSlot, memoryManagerSlot);
        loader->messageOwner = menu.mainWindowHandle();
        loader->safetyMessage = menu.safetyMessage;
        ASSERT_TRUE(loader->attachFile(fileManagerSlot));
        std::uint32_t needed = loader->neededMemory();
        ASSERT_TRUE(architecture->init());

        std::vector<sim::PhysicalAddress> wanted;
        for (std::uint32_t frame : frames) wanted.push_back(sim::PhysicalAddress(frame));
        device->memory().preferFrames(wanted);
        ASSERT_TRUE(architecture->reserveMemory(needed));
        for (std::size_t i = 0; i < frames.size(); ++i) ASSERT_EQ(page(static_cast<int>(i)).paddr, frames[i]) << i;

        ASSERT_TRUE(architecture->placeSecondStage());
        ASSERT_TRUE(loader->load());
        loader->finishLinks();
        out.parameterPage = architecture->fillParameterPage(*loader);
        ASSERT_NE(out.parameterPage, quorvel::NO_ADDRESS);
        out.head = loader->linkHead();
    }

    const CpuCase& cpu;
    testing_support::TestDevice device;
    testing_support::LogCapture log;
    Console* consoleSlot = quorvel::lcdConsole();
    std::unique_ptr<MemoryManager> memory;
    MemoryManager* memoryManagerSlot = nullptr;
    std::unique_ptr<quorvel::FileManager> files;
    quorvel::FileManager* fileManagerSlot = nullptr;
    std::unique_ptr<quorvel::ElfLoader> loader;
    std::unique_ptr<ArmArchitecture> architecture;
};

// The last line the kernel sent to the UART, without its line end.
inline std::string lastUartLine(const std::string& sent) {
    std::size_t end = sent.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    std::size_t start = sent.find_last_of('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return sent.substr(start, end + 1 - start);
}

}  // namespace arch_test
