// The ARM level shared by both CPU classes: construction, the bank and cache set-up,
// the privileged register dump, the copy of the second-stage loader and the jump.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "arch_fixture.h"
#include "sim/emulator.h"

using namespace arch_test;
using quorvel::TranslationEntry;

namespace {

class ArmArchitectureTest : public ArchTest, public ::testing::WithParamInterface<const CpuCase*> {
protected:
    ArmArchitectureTest() : ArchTest(*GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(Cpus, ArmArchitectureTest, ::testing::Values(&SA11X0, &PXA2X0), cpuName);

TEST_P(ArmArchitectureTest, ConstructionPrintsTheArmLineThenTheCpuLine) {
    EXPECT_EQ(log.entries(), (std::vector<std::u16string>{u"ARM architecture.\n", cpu.cpuLine}));
    EXPECT_EQ(architecture->loaderPaddr, 0u);
}

TEST_P(ArmArchitectureTest, TestSpareDoesNothing) {
    std::uint64_t mappings = device->faults().calls("VirtualCopy");
    log.clear();
    architecture->testSpare();
    EXPECT_TRUE(log.entries().empty());
    EXPECT_TRUE(device->uart()->accesses().empty());
    EXPECT_EQ(device->faults().calls("VirtualCopy"), mappings);
}

TEST_P(ArmArchitectureTest, InitRegistersTheFourBanksAndSetsTheCacheSize) {
    quorvel::dcacheFlushSize = 32;  // neither CPU's size, so the store shows
    log.clear();

    EXPECT_TRUE(architecture->init());

    std::vector<std::u16string> expected;
    for (int i = 0; i < 4; ++i) expected.push_back(line("[%d] 0x%08x size 0x%08x\n", i, cpu.banks[i], cpu.bankSize));
    expected.push_back(line("D-cache size = %d\n", cpu.dcacheSize));
    EXPECT_EQ(log.entries(), expected) << log.utf8();
    ASSERT_EQ(memory->bankCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(memory->bank(i).address, cpu.banks[i]);
        EXPECT_EQ(memory->bank(i).size, cpu.bankSize);
    }
    EXPECT_EQ(quorvel::dcacheFlushSize, cpu.dcacheSize);
}

class RefusingMemoryManager : public quorvel::LockPagesMemoryManager {
public:
    using LockPagesMemoryManager::LockPagesMemoryManager;
    int init() override { return 0; }
};

TEST_P(ArmArchitectureTest, InitWithoutAWorkingMemoryManagerRegistersNothing) {
    for (bool present : {true, false}) {
        SCOPED_TRACE(present ? "init refused" : "no memory manager");
        memory = std::make_unique<RefusingMemoryManager>(nullptr, nullptr, consoleSlot, PAGE, 0);
        memoryManagerSlot = present ? memory.get() : nullptr;
        quorvel::dcacheFlushSize = 32;
        log.clear();

        EXPECT_FALSE(architecture->init());

        EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"can't initialize memory manager.\n"});
        EXPECT_EQ(memory->bankCount(), 0);
        EXPECT_EQ(quorvel::dcacheFlushSize, 32u);
    }
}

TEST_P(ArmArchitectureTest, ReportSystemDumpsTheRegistersAfterTheBaseReportAndRestoresKernelMode) {
    struct Case {
        const char* name;
        bool kernelBefore;
        std::uint32_t kernelModeCpsrMode;  // the mode SetKMode(TRUE) leaves the thread in
        bool warning;
        std::uint32_t cpsr;  // as printed: interrupts masked where the mode allows it
    };
    const Case cases[] = {
        {"system mode", false, 0x1F, false, 0x600000DF},
        {"already in kernel mode", true, 0x1F, false, 0x600000DF},
        {"supervisor mode", false, 0x13, true, 0x600000D3},
        {"still user mode", false, 0x10, true, 0x60000010},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::CpuState& state = device->cpu();
        state.kernelMode = c.kernelBefore;
        state.kernelModeCpsrMode = c.kernelModeCpsrMode;
        state.cpsr = 0x60000010;
        state.mainId = cpu.mainId;
        state.control = 0x0000317F;
        state.translationBase = 0xC1FFC000;
        state.domainAccess = 0x55555555;
        state.faultStatus = 0x000000F5;
        state.faultAddress = 0xC0DE0004;
        state.processId = 0x02000000;
        state.cp15c14 = 0x00000001;

        // The base report alone, to see that it comes first and unchanged.
        log.clear();
        architecture->quorvel::Architecture::reportSystem();
        std::vector<std::u16string> expected = log.entries();
        ASSERT_FALSE(expected.empty());
        if (c.warning) expected.push_back(u"can't change to System mode\n");
        expected.push_back(line("Reg0 :%08x\n", cpu.mainId));
        expected.push_back(u"Reg1 :0000317f\n");
        expected.push_back(u"Reg2 :c1ffc000\n");
        expected.push_back(u"Reg3 :55555555\n");
        expected.push_back(u"Reg5 :000000f5\n");
        expected.push_back(u"Reg6 :c0de0004\n");
        expected.push_back(u"Reg13:02000000\n");
        expected.push_back(u"Reg14:00000001\n");
        expected.push_back(line("CPSR :%08x\n", c.cpsr));
        log.clear();

        architecture->reportSystem();

        EXPECT_EQ(log.entries(), expected) << log.utf8();
        EXPECT_EQ(architecture->kernelMode, c.kernelBefore ? ce::TRUE : ce::FALSE);
        EXPECT_EQ(state.kernelMode, c.kernelBefore);
        EXPECT_EQ(state.cpsr & 0xC0, 0u) << "interrupts left masked";
    }
}

TEST_P(ArmArchitectureTest, PlaceSecondStageCopiesTheLoaderIntoTheLastPoolPage) {
    ASSERT_NO_FATAL_FAILURE(makePool(4));
    const TranslationEntry last = page(3);
    device->memory().writeWord(sim::PhysicalAddress(last.paddr + cpu.loaderSize), 0xA5A5A5A5);
    log.clear();

    EXPECT_TRUE(architecture->placeSecondStage());

    EXPECT_EQ(*cpu.builtLoaderSize, cpu.loaderSize);
    EXPECT_EQ(architecture->loaderPaddr, last.paddr);
    EXPECT_EQ(memory->poolCount(), 3);
    EXPECT_EQ(log.entries(),
              (std::vector<std::u16string>{line("2nd bootloader vaddr=0x%08x paddr=0x%08x\n", last.vaddr, last.paddr),
                                           u"2nd bootloader copy done.\n"}));
    // In the page's physical frame, where the loader runs with the MMU off; nothing past it.
    EXPECT_EQ(physical(last.paddr, cpu.loaderSize), std::string(reinterpret_cast<const char*>(cpu.loader), cpu.loaderSize));
    EXPECT_EQ(device->memory().readWord(sim::PhysicalAddress(last.paddr + cpu.loaderSize)), 0xA5A5A5A5u);
}

TEST_P(ArmArchitectureTest, PlaceSecondStageNeedsAPageAsLargeAsTheLoader) {
    struct Case {
        std::uint32_t pageSize;
        bool fits;
    };
    const Case cases[] = {{256, false}, {cpu.loaderSize - 1, false}, {cpu.loaderSize, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pageSize);
        architecture.reset();
        makeMemory(c.pageSize);
        architecture = cpu.make(consoleSlot, memoryManagerSlot);
        ASSERT_NO_FATAL_FAILURE(makePool(2));
        const TranslationEntry last = page(1);
        architecture->loaderPaddr = 0x5A5A0000;
        log.clear();

        EXPECT_EQ(architecture->placeSecondStage(), c.fits ? ce::TRUE : ce::FALSE);

        if (c.fits) {
            EXPECT_EQ(memory->poolCount(), 1);
            EXPECT_EQ(std::memcmp(ce::pointerAt(last.vaddr), cpu.loader, cpu.loaderSize), 0);
            EXPECT_EQ(log.entries().back(), u"2nd bootloader copy done.\n");
        } else {
            EXPECT_EQ(memory->poolCount(), 2) << "no page may be taken";
            EXPECT_EQ(architecture->loaderPaddr, 0x5A5A0000u);
            EXPECT_EQ(log.entries(), std::vector<std::u16string>{line(
                                         "2nd bootloader size(%ubyte) is larger than page size(%u).\n", cpu.loaderSize,
                                         c.pageSize)});
        }
    }
}

TEST_P(ArmArchitectureTest, PlaceSecondStageWithoutAPageLeavesTheLoaderAddress) {
    for (bool pool : {false, true}) {
        SCOPED_TRACE(pool ? "pool used up" : "no pool");
        makeMemory();
        if (pool) {
            ASSERT_NO_FATAL_FAILURE(makePool(2));
            usePool();
        }
        architecture->loaderPaddr = 0x5A5A0000;
        log.clear();

        EXPECT_FALSE(architecture->placeSecondStage());

        EXPECT_EQ(architecture->loaderPaddr, 0x5A5A0000u);
        EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"can't get page for 2nd loader.\n"});
    }
}

TEST_P(ArmArchitectureTest, JumpHandsTheSampleKernelOverToTheLoader) {
    SampleBoot boot;
    ASSERT_NO_FATAL_FAILURE(prepareSampleBoot(boot));
    const TranslationEntry stack = nextBackPage();
    log.clear();

    std::optional<sim::HandOverResult> result =
        sim::runBoot([&] { architecture->jump(boot.parameterPage, boot.head); });

    ASSERT_TRUE(result) << "the jump came back\n" << log.utf8();
    EXPECT_EQ(result->reason, sim::HaltReason::Halted) << result->describe();
    EXPECT_EQ(lastUartLine(device->uart()->sent()), "OK") << device->uart()->sent();
    // The stack page's physical end, the page size in hexadecimal, no "0x".
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{line("sp for bootloader = %08x + %08x = %08x\n", stack.paddr,
                                                              PAGE, stack.paddr + PAGE)});
    // The cache was cleaned over the CPU's size, then kernel mode was entered.
    EXPECT_EQ(device->cpu().dataCacheCleans, 1u);
    EXPECT_EQ(device->cpu().dataCacheWordsRead, cpu.dcacheSize / 32);
    EXPECT_TRUE(device->cpu().kernelMode);
}

TEST_P(ArmArchitectureTest, JumpWithoutAPageForTheStackIsNotMade) {
    SmallHandOver plan;
    ASSERT_NO_FATAL_FAILURE(prepareSmallHandOver(plan));
    usePool();
    log.clear();

    std::optional<sim::HandOverResult> result = sim::runBoot([&] { architecture->jump(plan.parameterPage, plan.head); });

    EXPECT_FALSE(result);
    EXPECT_FALSE(device->cpu().handOver);
    EXPECT_EQ(device->faults().calls(cpu.flatJump), 0u);
    EXPECT_FALSE(device->cpu().kernelMode);
    EXPECT_EQ(device->cpu().dataCacheCleans, 0u);
    EXPECT_EQ(log.entries(), std::vector<std::u16string>{u"can't get page for 2nd loader stack.\n"});
}

}  // namespace
