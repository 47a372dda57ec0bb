// The emulated hand-over: the assembled flat jumps, second-stage loaders, CPU
// primitives and debug aids run in the emulator over the simulated handheld.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <unicorn/unicorn.h>

#include <array>
#include <span>

#include "platform/cpu.h"
#include "sim/arm_images.h"
#include "loader/page_link.h"
#include "sim/emulator.h"
#include "support/device.h"
#include "support/case_names.h"

namespace quorvel {
// The counting program, assembled for the tests alone.
extern const ArmImage countingProgramImage;
extern const ArmImage kernelLoopsImage;
}  // namespace quorvel

using quorvel::PageLink;
using testing_support::TestDevice;

namespace {

// Two instructions the tests place as stand-in kernels.
constexpr std::uint32_t BRANCH_TO_SELF = 0xEAFFFFFE;  // b .
constexpr std::uint32_t SWI_42 = 0xEF000042;          // swi 0x42

constexpr std::uint32_t SYSTEM_MODE = 0x1F;
constexpr std::uint32_t END = quorvel::PAGE_LINK_END;
constexpr std::uint32_t ZERO = quorvel::PAGE_LINK_ZERO;

using FlatJump = void (*)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);

using testing_support::PrintTo;
struct Cpu {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    std::uint32_t ram;  // first DRAM address
    const quorvel::ArmImage* loader;
    FlatJump flatJump;
    bool folds;  // destinations and entry folded into 0xA0000000 + 16 MB
    const char* uartName;
};

const Cpu CPUS[] = {
    {"SA11x0", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, 0xC0000000, &quorvel::secondStageImage_sa11x0,
     quorvel::FlatJump_sa11x0, false, "sa11x0"},
    {"PXA2x0", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250, 0xA0000000, &quorvel::secondStageImage_pxa2x0,
     quorvel::FlatJump_pxa2x0, true, "pxa2x0"},
};

sim::DeviceSettings settingsFor(sim::CpuFamily family, std::uint32_t mainId) {
    sim::DeviceSettings settings;
    settings.cpu = family;
    settings.mainId = mainId;
    return settings;
}

std::string cpuName(const testing::TestParamInfo<Cpu>& info) { return info.param.name; }

// A handheld of one CPU with the pages a boot would have: the loader page, its stack
// page and the boot information page near the top of the populated RAM.
class HandOverTest : public testing::TestWithParam<Cpu> {
public:
    HandOverTest() : device(settingsFor(GetParam().family, GetParam().mainId)) {}

    const Cpu& cpu() const { return GetParam(); }
    std::uint32_t at(std::uint32_t offset) const { return cpu().ram + offset; }
    // Where an address given to the loader ends up.
    std::uint32_t placed(std::uint32_t address) const {
        return cpu().folds ? 0xA0000000u | (address & 0x00FFFFFFu) : address;
    }

    std::uint8_t* host(std::uint32_t address) { return device->memory().host(sim::PhysicalAddress(address)); }
    void put(std::uint32_t address, std::uint32_t value) { device->memory().writeWord(sim::PhysicalAddress(address), value); }
    std::uint32_t get(std::uint32_t address) { return device->memory().readWord(sim::PhysicalAddress(address)); }
    void link(std::uint32_t address, PageLink entry) { std::memcpy(host(address), &entry, sizeof entry); }
    // Entries one after the other from `links`, each pointing at the next.
    void chain(std::vector<PageLink> entries) {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].next = i + 1 < entries.size() ? links + 16 * static_cast<std::uint32_t>(i + 1) : END;
            link(links + 16 * static_cast<std::uint32_t>(i), entries[i]);
        }
    }

    // The loader copied to its page, the kernel call record filled in, then the flat
    // jump in kernel mode (System mode) as the architecture makes it.
    sim::HandOverResult jump(std::uint32_t listHead, std::uint32_t entry) {
        std::memcpy(host(loaderPage), cpu().loader->bytes, cpu().loader->size);
        put(parameterPage, entry);
        put(parameterPage + 4, ARGC);
        put(parameterPage + 8, argv);
        put(parameterPage + 12, bootInfo);
        device->cpu().kernelMode = true;
        auto result = sim::runBoot([&] { cpu().flatJump(parameterPage, listHead, stackTop, loaderPage); });
        if (!result) {
            ADD_FAILURE() << "the flat jump came back";
            return {};
        }
        return *result;
    }

    // A stand-in kernel placed straight into RAM (not through the list).
    std::uint32_t haltingKernel() {
        put(at(0x00300000), BRANCH_TO_SELF);
        return at(0x00300000);
    }

    static constexpr std::uint32_t ARGC = 3;
    TestDevice device;
    const std::uint32_t loaderPage = at(0x01F00000);
    const std::uint32_t stackTop = at(0x01F02000);
    const std::uint32_t parameterPage = at(0x01F02000);
    const std::uint32_t argv = parameterPage + 52;
    const std::uint32_t bootInfo = parameterPage + 16;
    const std::uint32_t links = at(0x01000000);
    const std::uint32_t data = at(0x01100000);
    std::uint32_t head = 0;
};

TEST_P(HandOverTest, FlatJumpMasksInterruptsTurnsTheMmuOffAndHandsOnItsArguments) {
    put(loaderPage, BRANCH_TO_SELF);  // a loader that stops at once
    device->cpu().kernelMode = true;
    device->cpu().cpsr = 0x10;  // interrupts enabled
    auto result = sim::runBoot([&] { cpu().flatJump(0x11111111, 0x22222222, 0x33333333, loaderPage); });
    ASSERT_TRUE(result);
    EXPECT_EQ(result->reason, sim::HaltReason::Halted) << result->describe();
    EXPECT_EQ(result->pc, loaderPage);
    EXPECT_EQ(result->cpsr & 0xFF, 0xC0 | SYSTEM_MODE);
    EXPECT_EQ(result->control, 0x2030u);
    EXPECT_EQ(result->r[0], 0x11111111u);
    EXPECT_EQ(result->r[1], 0x22222222u);
    EXPECT_EQ(result->r[2], 0x33333333u);
    // The handheld keeps the outcome and the processor state it ended in.
    ASSERT_TRUE(device->cpu().handOver);
    EXPECT_EQ(device->cpu().handOver->pc, loaderPage);
    EXPECT_EQ(device->cpu().control, 0x2030u);
    EXPECT_EQ(device->cpu().cpsr & 0xC0, 0xC0u);
}

TEST_P(HandOverTest, FlatJumpOutsideKernelModeFaultsOnTheFirstCoprocessorWrite) {
    put(loaderPage, BRANCH_TO_SELF);
    device->cpu().kernelMode = false;
    auto result = sim::runBoot([&] { cpu().flatJump(0, 0, 0, loaderPage); });
    ASSERT_TRUE(result);
    EXPECT_EQ(result->reason, sim::HaltReason::Exception);
    EXPECT_EQ(result->exception, "undefined instruction");
    EXPECT_GE(result->pc, sim::FLAT_JUMP_ADDRESS);
    EXPECT_LT(result->pc, sim::FLAT_JUMP_ADDRESS + 0x40);
    EXPECT_EQ(result->cpsr & 0xC0, 0u) << "user mode cannot mask interrupts";
}

TEST_P(HandOverTest, AFlatJumpMadeToComeBackReturnsWithoutEmulating) {
    device->faults().failAlways(cpu().family == sim::CpuFamily::SA11x0 ? "FlatJump_sa11x0" : "FlatJump_pxa2x0");
    device->cpu().kernelMode = true;
    EXPECT_FALSE(sim::runBoot([&] { cpu().flatJump(0, 0, 0, loaderPage); }));
    EXPECT_FALSE(device->cpu().handOver);
}

TEST_P(HandOverTest, OneEntryListPerformsOnlyItsHead) {
    put(data, BRANCH_TO_SELF);
    put(data + 4, 0x600DF00D);
    link(links, {END, data, at(0x00200000), 8});
    // Behind the head, an entry that must not be performed.
    std::memset(host(at(0x00400000)), 0xEE, 16);
    link(links + 16, {END, ZERO, at(0x00400000), 16});

    sim::HandOverResult result = jump(links, at(0x00200000));
    EXPECT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
    EXPECT_EQ(result.pc, placed(at(0x00200000)));
    EXPECT_EQ(get(placed(at(0x00200004))), 0x600DF00Du);
    EXPECT_EQ(get(at(0x00400000)), 0xEEEEEEEEu);
    // The kernel's three arguments from the call record.
    EXPECT_EQ(result.r[0], ARGC);
    EXPECT_EQ(result.r[1], argv);
    EXPECT_EQ(result.r[2], bootInfo);
}

TEST_P(HandOverTest, ZeroFillClearsWholeWords) {
    struct Case {
        std::uint32_t size;
        int cleared;
    };
    const Case cases[] = {{6, 8}, {8, 8}, {1, 4}, {0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::uint32_t target = at(0x00400000);
        std::memset(host(target), 0xAA, 16);
        link(links, {END, ZERO, target, c.size});

        sim::HandOverResult result = jump(links, haltingKernel());
        ASSERT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
        const std::uint8_t* bytes = host(target);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(bytes[i], i < c.cleared ? 0x00 : 0xAA) << "byte " << i;
    }
}

TEST_P(HandOverTest, CopyStoresItsSizeAndReadsTheSourceInWholeWords) {
    struct Case {
        std::uint32_t size;
        std::uint32_t stored;  // bytes
        std::uint32_t read;    // bytes of the source, in whole words
    };
    const Case cases[] = {{12, 12, 12}, {16, 16, 16}, {5, 8, 8}, {4, 4, 4}, {0, 0, 0}};
    const std::uint32_t source[6] = {0x03020100, 0x07060504, 0x0B0A0908, 0x0F0E0D0C, 0x13121110, 0x17161514};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::uint32_t target = at(0x00400000);
        std::memcpy(host(data), source, sizeof source);
        std::memset(host(target), 0xCC, sizeof source);
        link(links, {END, data, target, c.size});
        device->cpu().emulation.watchReads = {{data, data + 64}};

        sim::HandOverResult result = jump(links, haltingKernel());
        ASSERT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
        // The bytes past the stored words differ in source and target, so a copy that
        // stores what it read shows.
        for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(get(target + 4 * i), 4 * i < c.stored ? source[i] : 0xCCCCCCCCu) << i;
        std::vector<sim::MemoryRead> expected;
        for (std::uint32_t offset = 0; offset < c.read; offset += 4) expected.push_back({data + offset, 4});
        EXPECT_EQ(result.reads, expected);
    }
}

// The loader's eight-word copy and four-word clear rounds are run natively unless
// reads are watched; both ways must leave the same memory, registers, flags and count.
TEST_P(HandOverTest, StoreLoopsRunNativelyLeaveWhatEmulatingLeaves) {
    const std::uint32_t target = at(0x00400000);
    auto run = [&](bool watched) {
        std::vector<std::uint32_t> words(0x2000);
        std::uint32_t seed = 0x12345678;
        for (std::uint32_t& w : words) w = seed = seed * 1664525u + 1013904223u;
        std::memcpy(host(data), words.data(), words.size() * 4);
        std::memset(host(target), 0xCC, 0x10000);
        chain({{0, data, target, 100},                 // three rounds and a word tail
               {0, data + 0x100, target + 0x100, 4080},  // a page's data
               {0, ZERO, target + 0x1100, 4096 + 20},  // a clear with a tail
               {0, data + 0x3000, target + 0x3000, 32},  // one round, no tail
               {0, data + 0x4000, data + 0x4010, 96},  // overlapping: emulated either way
               {0, data + 0x5000, target + 0x5000, 37}});
        device->cpu().emulation.watchReads.clear();
        if (watched) device->cpu().emulation.watchReads = {{at(0x01E00000), at(0x01E00004)}};
        sim::HandOverResult result = jump(links, haltingKernel());
        std::vector<std::uint8_t> memory(host(target), host(target) + 0x10000);
        memory.insert(memory.end(), host(data), host(data) + 0x8000);
        return std::make_pair(result, memory);
    };
    auto [emulated, emulatedMemory] = run(true);
    auto [native, nativeMemory] = run(false);
    ASSERT_EQ(emulated.reason, sim::HaltReason::Halted) << emulated.describe();
    ASSERT_EQ(native.reason, sim::HaltReason::Halted) << native.describe();
    EXPECT_EQ(native.r, emulated.r);
    EXPECT_EQ(native.cpsr, emulated.cpsr);
    EXPECT_EQ(native.instructions, emulated.instructions);
    EXPECT_TRUE(native.instructionsExact);
    EXPECT_TRUE(nativeMemory == emulatedMemory);
    // And the copy is right: the 4080 bytes, the clear, the overlapped move.
    EXPECT_EQ(std::memcmp(host(placed(target + 0x100)), host(data + 0x100), 4080), 0);
    for (std::uint32_t i = 0; i < 4096 + 20; i += 4) ASSERT_EQ(get(placed(target + 0x1100 + i)), 0u) << i;
    EXPECT_EQ(get(placed(target + 0x1100 + 4096 + 20)), 0xCCCCCCCCu);
}

// With the MMU on, a loop of the copy's shape moves through virtual addresses: it is
// emulated, and its stores land where the translation table sends them. A branch to
// itself, and the instruction that faults, are found where the table puts them, not
// at their virtual addresses.
TEST_P(HandOverTest, WithTheMmuOnCodeAndStoresGoThroughTheTranslation) {
    const std::uint32_t table = at(0x00800000);  // 16 KB aligned
    const std::uint32_t mapped = at(0x00600000), behind = at(0x00700000), source = data;
    const std::uint32_t nowhere = at(0x02000000);  // a section onto no memory at all
    for (std::uint32_t mb = 0; mb < 32; ++mb) {
        const std::uint32_t va = at(mb << 20);
        put(table + 4 * (va >> 20), (va == mapped ? behind : va) | 0xC02);  // section, read-write
    }
    put(table + 4 * (nowhere >> 20), 0x10000000u | 0xC02);
    constexpr std::uint32_t NOP = 0xE1A00000;  // mov r0, r0
    std::vector<std::uint32_t> words(256);
    for (std::uint32_t i = 0; i < words.size(); ++i) words[i] = 0x1000u + i * 7;
    struct Case {
        const char* what;
        std::uint32_t jumpTo;  // where the kernel goes after the copy
        sim::HaltReason reason;
        std::uint32_t pc;
        std::uint32_t before = 0;  // instructions between the jump and a halt
    };
    const Case cases[] = {
        {"a branch to itself", mapped + 0x1004, sim::HaltReason::Halted, mapped + 0x1004},
        {"a branch to itself after a nop", mapped + 0x1000, sim::HaltReason::Halted, mapped + 0x1004, 1},
        {"a store to no memory", mapped + 0x2000, sim::HaltReason::UnmappedAccess, mapped + 0x2008},
        {"a conditional branch to itself, taken for ever", mapped + 0x3000, sim::HaltReason::BudgetExhausted,
         mapped + 0x3000},
    };
    // The same kernel's instructions with the MMU off and a branch to itself at once:
    // the loader's, and the branch.
    put(at(0x00300000), BRANCH_TO_SELF);
    link(links, {END, ZERO, at(0x00400000), 4});
    const std::uint64_t loaderAndBranch = jump(links, at(0x00300000)).instructions;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memcpy(host(source), words.data(), 1024);
        std::memset(host(mapped), 0xCC, 1024);
        std::memset(host(behind), 0xCC, 1024);
        // What the table shows at the virtual addresses, and nops where they lie themselves.
        put(behind + 0x1000, NOP);
        put(behind + 0x1004, BRANCH_TO_SELF);
        put(behind + 0x2000, 0xE59F1004);  // ldr r1, =nowhere
        put(behind + 0x2004, NOP);
        put(behind + 0x2008, 0xE5810000);  // str r0, [r1]
        put(behind + 0x200C, nowhere);
        put(behind + 0x3000, 0x1AFFFFFE);  // bne .: the last subs left Z clear
        for (std::uint32_t i = 0; i < 4; ++i) {
            put(mapped + 0x1000 + 4 * i, NOP);
            put(mapped + 0x2000 + 4 * i, NOP);
            put(mapped + 0x3000 + 4 * i, NOP);
        }
        // ldr r0..r2 and the pc come from the literals after the code.
        const std::vector<std::uint32_t> code = {
            0xE59F0034,  // ldr r0, =table
            0xEE020F10,  // mcr p15, 0, r0, c2, c0, 0
            0xE3E00000,  // mvn r0, #0: every domain a manager
            0xEE030F10,  // mcr p15, 0, r0, c3, c0, 0
            0xEE110F10,  // mrc p15, 0, r0, c1, c0, 0
            0xE3800001,  // orr r0, r0, #1
            0xEE010F10,  // mcr p15, 0, r0, c1, c0, 0: the MMU on
            0xE59F001C,  // ldr r0, =mapped
            0xE59F101C,  // ldr r1, =source
            0xE59F201C,  // ldr r2, =1024 - 32
            0xE8B107F8,  // ldmia r1!, {r3-r10}
            0xE8A007F8,  // stmia r0!, {r3-r10}
            0xE2522020,  // subs r2, r2, #32
            0x2AFFFFFB,  // bhs the ldmia
            0xE59FF00C,  // ldr pc, =jumpTo
            table, mapped, source, 1024 - 32, c.jumpTo,
        };
        device->cpu().emulation.instructionBudget = 100000;
        const std::uint32_t kernel = at(0x00300000);
        for (std::size_t i = 0; i < code.size(); ++i) put(kernel + 4 * static_cast<std::uint32_t>(i), code[i]);
        link(links, {END, ZERO, at(0x00400000), 4});
        sim::HandOverResult result = jump(links, kernel);
        EXPECT_EQ(result.reason, c.reason) << result.describe();
        EXPECT_EQ(result.pc, c.pc) << result.describe();
        // Ten instructions up to the loop, 32 rounds of four, the jump, the way to the
        // branch, the branch.
        if (c.reason == sim::HaltReason::Halted) {
            EXPECT_EQ(result.instructions, loaderAndBranch + 10 + 128 + 1 + c.before);
        }
        EXPECT_EQ(result.control & 1, 1u);
        EXPECT_EQ(std::memcmp(host(behind), words.data(), 1024), 0);
        for (std::uint32_t i = 0; i < 1024; i += 4) ASSERT_EQ(get(mapped + i), 0xCCCCCCCCu) << i;
    }
}

TEST_P(HandOverTest, EntriesArePerformedInListOrder) {
    std::uint32_t target = at(0x00400000);
    put(data, 0x11111111);
    put(data + 0x1000, 0x22222222);
    put(target + 4, 0xFFFFFFFF);
    chain({{0, data, target, 4}, {0, ZERO, target + 4, 4}, {0, data + 0x1000, target, 4}});

    sim::HandOverResult result = jump(links, haltingKernel());
    ASSERT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
    EXPECT_EQ(get(placed(target)), 0x22222222u);
    EXPECT_EQ(get(placed(target + 4)), 0u);
}

TEST_P(HandOverTest, TheLastEntryDecidesTheKernelStack) {
    struct Case {
        const char* what;
        std::uint32_t lastDst;
        std::uint32_t lastSize;
        std::uint32_t stack;
    };
    const Case cases[] = {
        {"ends at 0x..345678", at(0x00345670), 8, at(0x00347000)},
        {"ends on a page boundary", at(0x00345000), 0x1000, at(0x00348000)},
        {"ends just past a boundary", at(0x00345000), 4, at(0x00347000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // A higher entry before the last one does not count.
        chain({{0, ZERO, at(0x00500000), 0x100}, {0, ZERO, c.lastDst, c.lastSize}});
        sim::HandOverResult result = jump(links, haltingKernel());
        ASSERT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
        EXPECT_EQ(result.r[13], c.stack);
    }
}

TEST_P(HandOverTest, DestinationsAndEntryFoldIntoTheFirst16MegabytesOnPxa) {
    struct Case {
        std::uint32_t dst;
        std::uint32_t folded;  // where the PXA-2x0 loader performs it
    };
    const Case cases[] = {
        {0xC0200000, 0xA0200000}, {0xD0200010, 0xA0200010}, {0xA0200020, 0xA0200020}, {0xC1FFFFF0, 0xA0FFFFF0}};
    std::vector<PageLink> entries;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> expected;  // address, value
    for (std::uint32_t i = 0; i < 4; ++i) {
        std::uint32_t target = cpu().folds ? cases[i].folded : cases[i].dst;
        // Only what is RAM on this handheld; the first entry is the kernel.
        if (!device->memory().contains(sim::PhysicalAddress(target), 4)) continue;
        std::uint32_t value = i == 0 ? BRANCH_TO_SELF : 0x5A5A0000 + i;
        put(data + 8 * i, value);
        entries.push_back({0, data + 8 * i, cases[i].dst, 4});
        expected.emplace_back(target, value);
    }
    EXPECT_EQ(expected.size(), cpu().folds ? 4u : 2u);
    chain(entries);

    sim::HandOverResult result = jump(links, 0xC0200000);
    EXPECT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
    EXPECT_EQ(result.pc, cpu().folds ? 0xA0200000u : 0xC0200000u);
    for (auto [address, value] : expected) EXPECT_EQ(get(address), value) << std::hex << address;
}

TEST_P(HandOverTest, RunsThatGoWrongEndWithTheirCauseAndProgramCounter) {
    constexpr std::uint32_t AT_ENTRY = 0xFFFFFFFF;
    struct Case {
        const char* what;
        bool whenFolding;  // whether the case exists on a loader that folds addresses
        std::function<std::uint32_t(HandOverTest&)> prepare;  // gives the kernel entry
        sim::HaltReason reason;
        std::uint32_t pc;  // offset in the loader image, or AT_ENTRY
        std::uint32_t faultAddress;
    };
    // The loader's ldmia that reads a link; the SA-11x0 loader's zero-fill store.
    const std::uint32_t READ_LINK = cpu().loader->symbol("nextLink"), CLEAR_STORE = cpu().loader->symbol("clearWord");
    const Case cases[] = {
        {"a list head where nothing is mapped", true,
         [](HandOverTest& t) {
             t.head = 0x12345678;
             return t.haltingKernel();
         },
         sim::HaltReason::UnmappedAccess, READ_LINK, 0x12345678},
        {"a destination in the read-only code window", false,
         [](HandOverTest& t) {
             t.link(t.links, {END, ZERO, sim::CODE_WINDOW + 0x200, 4});
             return t.haltingKernel();
         },
         sim::HaltReason::ProtectedAccess, CLEAR_STORE, sim::CODE_WINDOW + 0x200},
        {"a kernel entry where nothing is mapped", false,
         [](HandOverTest& t) {
             t.link(t.links, {END, ZERO, t.at(0x00400000), 4});
             return std::uint32_t{0x00000000};
         },
         sim::HaltReason::UnmappedAccess, AT_ENTRY, 0},
        {"a kernel that makes a system call", true,
         [](HandOverTest& t) {
             t.link(t.links, {END, ZERO, t.at(0x00400000), 4});
             t.put(t.at(0x00300000), SWI_42);
             return t.at(0x00300000);
         },
         sim::HaltReason::Exception, AT_ENTRY, 0},
    };
    for (const Case& c : cases) {
        if (cpu().folds && !c.whenFolding) continue;
        SCOPED_TRACE(c.what);
        head = links;
        std::uint32_t entry = c.prepare(*this);
        sim::HandOverResult result = jump(head, entry);
        EXPECT_EQ(result.reason, c.reason) << result.describe();
        EXPECT_EQ(result.pc, c.pc == AT_ENTRY ? entry : loaderPage + c.pc);
        EXPECT_EQ(result.r[15], result.pc);
        if (c.reason == sim::HaltReason::Exception)
            EXPECT_EQ(result.exception, "software interrupt");
        else
            EXPECT_EQ(result.faultAddress, c.faultAddress);
    }
}

// Instructions are counted a block at a time; the count must still be exact, and a
// fault inside a long block must name its own instruction.
TEST_P(HandOverTest, InstructionCountAndFaultingInstructionAreExactInsideBlocks) {
    constexpr std::uint32_t NOP = 0xE1A00000;            // mov r0, r0
    constexpr std::uint32_t MOV_UNMAPPED = 0xE3A00201;   // mov r0, #0x10000000
    constexpr std::uint32_t STORE_R1 = 0xE5811000;       // str r1, [r1]: RAM, no fault
    constexpr std::uint32_t STORE_R0 = 0xE5800000;       // str r0, [r0]
    std::uint32_t kernel = at(0x00300000);
    auto runKernel = [&](std::vector<std::uint32_t> code) {
        for (std::size_t i = 0; i < code.size(); ++i) put(kernel + 4 * static_cast<std::uint32_t>(i), code[i]);
        link(links, {END, ZERO, at(0x00400000), 4});
        return jump(links, kernel);
    };
    sim::HandOverResult base = runKernel({BRANCH_TO_SELF});
    ASSERT_EQ(base.reason, sim::HaltReason::Halted) << base.describe();
    EXPECT_TRUE(base.instructionsExact);
    for (std::uint32_t k : {1u, 7u, 40u}) {
        SCOPED_TRACE(k);
        std::vector<std::uint32_t> code(k, NOP);
        code.push_back(BRANCH_TO_SELF);
        sim::HandOverResult halted = runKernel(code);
        EXPECT_EQ(halted.instructions, base.instructions + k) << halted.describe();

        // The same nops, then a store that lands in RAM, then one that faults.
        code.assign(k, NOP);
        code.insert(code.end(), {0xE1A01000u | 0xD, STORE_R1, MOV_UNMAPPED, STORE_R0, BRANCH_TO_SELF});  // mov r1, sp
        sim::HandOverResult faulted = runKernel(code);
        ASSERT_EQ(faulted.reason, sim::HaltReason::UnmappedAccess) << faulted.describe();
        EXPECT_EQ(faulted.pc, placed(kernel) + 4 * (k + 3));
        EXPECT_EQ(faulted.faultAddress, 0x10000000u);
        EXPECT_EQ(faulted.instructions, base.instructions - 1 + k + 4);
    }
}

// The XScale's Thumb state: Thumb code is counted exactly too, and the processor
// comes back to ARM code that halts.
TEST_P(HandOverTest, ThumbCodeIsCountedExactly) {
    if (!cpu().folds) GTEST_SKIP() << "the StrongARM has no Thumb state";
    const std::uint32_t kernel = at(0x00300000);
    link(links, {END, ZERO, at(0x00400000), 4});
    device->cpu().emulation.instructionBudget = 100000;
    const sim::HandOverResult base = jump(links, haltingKernel());
    const std::uint32_t code[] = {
        0xE28F0001,  // add r0, pc, #1: the Thumb code below, with bit 0 set
        0xE12FFF10,  // bx r0
        0x31012105,  // movs r1, #5; adds r1, #1
        0x46C04778,  // bx pc: back to ARM at the next word; nop (not run)
        BRANCH_TO_SELF,
    };
    for (std::uint32_t i = 0; i < 5; ++i) put(kernel + 4 * i, code[i]);
    sim::HandOverResult result = jump(links, kernel);
    ASSERT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
    EXPECT_EQ(result.pc, placed(kernel + 16));
    EXPECT_EQ(result.r[1], 6u);
    EXPECT_TRUE(result.instructionsExact);
    EXPECT_EQ(result.instructions, base.instructions + 5);
}

TEST_P(HandOverTest, AListThatLoopsEndsWithTheInstructionBudget) {
    link(links, {links, ZERO, at(0x00400000), 4});
    device->cpu().emulation.instructionBudget = 10000;
    sim::HandOverResult result = jump(links, haltingKernel());
    EXPECT_EQ(result.reason, sim::HaltReason::BudgetExhausted) << result.describe();
    EXPECT_EQ(result.instructions, 10000u);
    EXPECT_TRUE(result.instructionsExact);
    EXPECT_GE(result.pc, loaderPage);
    EXPECT_LT(result.pc, loaderPage + cpu().loader->size);
    EXPECT_EQ(result.r[15], result.pc);
}

// The state after each instruction of the counting program, stepped one instruction
// at a time by the emulator's engine alone, without the hand-over's block counting.
struct Step {
    std::uint32_t pc;
    std::array<std::uint32_t, 15> r;
    std::uint32_t cpsr;
};

std::vector<Step> singleStepped(int model, std::uint32_t window, std::span<const std::uint8_t> code, std::uint32_t entry,
                                std::array<std::uint32_t, 4> args, std::uint32_t cpsr, std::size_t steps) {
    uc_engine* uc = nullptr;
    EXPECT_EQ(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc), UC_ERR_OK);
    EXPECT_EQ(uc_ctl_set_cpu_model(uc, model), UC_ERR_OK);
    EXPECT_EQ(uc_mem_map(uc, window, 0x10000, UC_PROT_ALL), UC_ERR_OK);
    uc_mem_write(uc, entry, code.data(), code.size());
    auto set = [&](int reg, std::uint32_t value) { uc_reg_write(uc, reg, &value); };
    auto get = [&](int reg) {
        std::uint32_t value = 0;
        uc_reg_read(uc, reg, &value);
        return value;
    };
    set(UC_ARM_REG_CPSR, cpsr);
    for (int i = 0; i < 4; ++i) set(UC_ARM_REG_R0 + i, args[i]);
    set(UC_ARM_REG_LR, sim::RETURN_TRAP);
    std::vector<Step> states;
    std::uint32_t pc = entry;
    for (std::size_t i = 0; i < steps; ++i) {
        const uc_err error = uc_emu_start(uc, pc, 1, 0, 1);
        if (error != UC_ERR_OK) {
            ADD_FAILURE() << "single step at " << std::hex << pc << ": " << uc_strerror(error);
            break;
        }
        pc = get(UC_ARM_REG_PC) | ((get(UC_ARM_REG_CPSR) & 0x20) ? 1u : 0u);
        Step step{get(UC_ARM_REG_PC), {}, get(UC_ARM_REG_CPSR)};
        for (int r = 0; r < 13; ++r) step.r[r] = get(UC_ARM_REG_R0 + r);
        step.r[13] = get(UC_ARM_REG_SP);
        step.r[14] = get(UC_ARM_REG_LR);
        states.push_back(step);
    }
    uc_close(uc);
    return states;
}

// Every budget stops exactly where single-stepping the same program that many
// instructions leaves it: the pc, every register, the flags and the count; so does a
// run given the count a halted run reported.
TEST_P(HandOverTest, EveryBudgetStopsWhereSingleSteppingDoes) {
    const quorvel::ArmImage& image = quorvel::countingProgramImage;
    const std::uint32_t window = at(0x00300000);
    const std::uint32_t program = window, scratch = window + 0x8000;
    const std::uint32_t done = program + image.symbol("done");
    const int model = cpu().family == sim::CpuFamily::PXA2x0 ? UC_CPU_ARM_PXA250 : UC_CPU_ARM_SA1110;
    // Thumb code only where there is a Thumb state.
    const std::array<std::uint32_t, 4> args{scratch, cpu().folds ? 1u : 0u, 0, 0};
    constexpr std::uint32_t CPSR = 0xC0 | SYSTEM_MODE;
    const std::vector<Step> steps = singleStepped(model, window, {image.bytes, image.size}, program, args, CPSR, 400);
    std::size_t halt = 0;
    while (halt < steps.size() && steps[halt].pc != done) ++halt;
    ASSERT_LT(halt + 1, steps.size()) << "the program does not reach its end";

    auto run = [&](std::uint64_t budget) {
        std::memset(host(window), 0, 0x10000);
        std::memcpy(host(program), image.bytes, image.size);
        sim::EmulationSettings settings;
        settings.instructionBudget = budget;
        sim::Emulator emulator(device.device(), settings);
        return emulator.run(program, args, CPSR);
    };
    const sim::HandOverResult halted = run(0);
    ASSERT_EQ(halted.reason, sim::HaltReason::Halted) << halted.describe();
    EXPECT_EQ(halted.pc, done);
    // The branch to itself has run once.
    EXPECT_EQ(halted.instructions, halt + 2);
    EXPECT_TRUE(halted.instructionsExact);
    if (cpu().folds) {
        EXPECT_EQ(halted.r[5], 5u) << "the Thumb code ran where the ARM routine had been";
    }

    for (std::uint64_t budget = 1; budget <= halted.instructions; ++budget) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        const sim::HandOverResult stop = run(budget);
        const Step& step = steps[budget - 1];
        // The count of the halt itself halts there again.
        const auto reason = budget == halted.instructions ? sim::HaltReason::Halted : sim::HaltReason::BudgetExhausted;
        ASSERT_EQ(stop.reason, reason) << stop.describe();
        EXPECT_EQ(stop.instructions, budget);
        EXPECT_TRUE(stop.instructionsExact);
        EXPECT_EQ(stop.pc, step.pc);
        EXPECT_EQ(stop.r[15], step.pc);
        EXPECT_EQ(stop.cpsr, step.cpsr);
        for (int r = 0; r < 15; ++r) EXPECT_EQ(stop.r[r], step.r[r]) << "r" << r;
        if (testing::Test::HasFailure()) break;
    }
}

// A big-endian processor stores a register's bytes the other way round: the loop
// performed natively would not, so it is left to the emulator.
TEST_P(HandOverTest, StoreLoopsOfABigEndianProcessorAreEmulated) {
    // The emulated XScale takes the bit but then fetches a loop's second round as an
    // undefined instruction, emulated or not.
    if (cpu().folds) GTEST_SKIP() << "the emulated XScale runs no big-endian code";
    const quorvel::ArmImage& image = quorvel::countingProgramImage;
    const std::uint32_t program = at(0x00300000), scratch = at(0x00308000);
    auto run = [&](bool watched) {
        std::memcpy(host(program), image.bytes, image.size);
        // Behind the switch the processor fetches code and data big-endian.
        for (std::uint32_t i = image.symbol("big_endian_clear") + 12; i + 4 <= image.size; i += 4)
            put(program + i, __builtin_bswap32(get(program + i)));
        std::memset(host(scratch), 0xCC, 128);
        sim::EmulationSettings settings;
        if (watched) settings.watchReads = {{at(0x01E00000), at(0x01E00004)}};
        sim::Emulator emulator(device.device(), settings);
        const sim::HandOverResult result = emulator.run(program + image.symbol("big_endian_clear"), {scratch, 0, 0, 0}, 0xC0 | SYSTEM_MODE);
        return std::make_pair(result, std::vector<std::uint8_t>(host(scratch), host(scratch) + 128));
    };
    const auto [emulated, emulatedBytes] = run(true);
    const auto [native, nativeBytes] = run(false);
    ASSERT_EQ(emulated.reason, sim::HaltReason::Halted) << emulated.describe();
    EXPECT_EQ(native.reason, sim::HaltReason::Halted) << native.describe();
    EXPECT_NE(native.control & 0x80, 0u);
    EXPECT_EQ(native.instructions, emulated.instructions);
    EXPECT_EQ(native.r, emulated.r);
    EXPECT_TRUE(nativeBytes == emulatedBytes);
    EXPECT_EQ(emulatedBytes[0], 0x11);
}

// A kernel's memset, memcpy and copy_page, MMU off and on, leave with the emulator's
// shortcuts exactly what emulating every instruction leaves: memory, registers, flags
// and the count; and most of them are performed natively.
TEST_P(HandOverTest, KernelLoopsRunNativelyLeaveWhatEmulatingLeaves) {
    const quorvel::ArmImage& image = quorvel::kernelLoopsImage;
    const std::uint32_t code = at(0x00F00000), area = at(0x01000000);
    for (const bool mmu : {false, true}) {
        SCOPED_TRACE(mmu ? "MMU on" : "MMU off");
        auto run = [&](bool watched) {
            std::memset(host(area), 0xE7, 0x400000);
            std::memcpy(host(code), image.bytes, image.size);
            sim::EmulationSettings settings;
            settings.instructionBudget = 0;
            if (watched) settings.watchReads = {{at(0x01E00000), at(0x01E00004)}};
            sim::Emulator emulator(device.device(), settings);
            const sim::HandOverResult result = emulator.run(code + image.symbol("loops_start"), {area, mmu ? 1u : 0u, 0, 0}, 0xD3);
            return std::make_pair(result, std::vector<std::uint8_t>(host(area), host(area) + 0x400000));
        };
        const auto [emulated, emulatedMemory] = run(true);
        const auto [native, nativeMemory] = run(false);
        ASSERT_EQ(emulated.reason, sim::HaltReason::Halted) << emulated.describe();
        ASSERT_EQ(native.reason, sim::HaltReason::Halted) << native.describe();
        EXPECT_EQ(native.pc, code + image.symbol("done"));
        EXPECT_EQ(native.r, emulated.r);
        EXPECT_EQ(native.cpsr, emulated.cpsr);
        EXPECT_EQ(native.control, emulated.control);
        EXPECT_EQ(native.instructions, emulated.instructions);
        EXPECT_TRUE(native.instructionsExact);
        EXPECT_EQ(emulated.nativeInstructions, 0u);
        EXPECT_GT(native.nativeInstructions, native.instructions * 9 / 10);
        EXPECT_TRUE(nativeMemory == emulatedMemory);
        EXPECT_EQ(get(area + 0x2FFFFC), 0x5A5A5A5Au);
    }
}

// A loop that runs off the end of RAM faults where emulating it faults, with the same
// count and registers, whether its rounds before were performed natively or not.
TEST_P(HandOverTest, ALoopRunningOutOfRamFaultsWhereEmulatingFaults) {
    const std::uint32_t code = at(0x00300000);
    const std::uint32_t end = cpu().ram + static_cast<std::uint32_t>(device->memory().ramSize());
    const std::uint32_t loop[] = {
        0xE4801004,  // str r1, [r0], #4
        0xE2522001,  // subs r2, r2, #1
        0x1AFFFFFC,  // bne the str
        BRANCH_TO_SELF,
    };
    auto run = [&](bool watched) {
        for (std::uint32_t i = 0; i < 4; ++i) put(code + 4 * i, loop[i]);
        sim::EmulationSettings settings;
        if (watched) settings.watchReads = {{at(0x01E00000), at(0x01E00004)}};
        sim::Emulator emulator(device.device(), settings);
        return emulator.run(code, {end - 4096, 0x12345678, 2000, 0}, 0xD3);
    };
    const sim::HandOverResult emulated = run(true);
    const sim::HandOverResult native = run(false);
    ASSERT_EQ(emulated.reason, sim::HaltReason::UnmappedAccess) << emulated.describe();
    EXPECT_EQ(native.reason, emulated.reason) << native.describe();
    EXPECT_EQ(native.pc, code);
    EXPECT_EQ(native.pc, emulated.pc);
    EXPECT_EQ(native.faultAddress, end);
    EXPECT_EQ(native.instructions, emulated.instructions);
    EXPECT_EQ(native.r, emulated.r);
    EXPECT_GT(native.nativeInstructions, 0u);
}

TEST_P(HandOverTest, DebugAidsWriteToTheUartAndFillTheFramebuffer) {
    std::string putc = std::string("DebugPutc_") + cpu().uartName;
    std::string hex = std::string("DebugHex_") + cpu().uartName;
    sim::Emulator emulator(device.device());
    const quorvel::ArmImage& image = *cpu().loader;
    constexpr std::uint32_t base = sim::CODE_WINDOW + 0x1000;
    emulator.placeCode(base, {image.bytes, image.size});

    sim::HandOverResult result = emulator.run(base + image.symbol(putc), {'Q', 0, 0, 0}, 0xC0 | SYSTEM_MODE);
    EXPECT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
    result = emulator.run(base + image.symbol(hex), {0x1234ABCD, 0, 0, 0}, 0xC0 | SYSTEM_MODE);
    EXPECT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
    EXPECT_EQ(device->uart()->sent(), "Q0x1234ABCD\r\n");
    // Every character waited for the transmitter: more status reads than characters.
    std::size_t statusReads = 0;
    for (const sim::RegisterAccess& access : device->uart()->accesses())
        if (access.kind == sim::RegisterAccess::Read) ++statusReads;
    EXPECT_GT(statusReads, 13u);

    if (cpu().family != sim::CpuFamily::SA11x0) {
        EXPECT_EQ(image.symbol("FramebufferTestFill"), 0xFFFFFFFFu);
        return;
    }
    constexpr std::uint32_t framebuffer = 0xC0003000, bytes = 8 * 38400;
    std::memset(host(framebuffer - 4), 0x77, bytes + 8);
    result = emulator.run(base + image.symbol("FramebufferTestFill"), {13, 0, 0, 0}, 0xC0 | SYSTEM_MODE);
    EXPECT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
    EXPECT_EQ(result.r[0], 21u);
    EXPECT_EQ(get(framebuffer - 4), 0x77777777u);
    EXPECT_EQ(get(framebuffer), 0x05050505u);
    EXPECT_EQ(get(framebuffer + bytes - 4), 0x05050505u);
    EXPECT_EQ(get(framebuffer + bytes), 0x77777777u);
}

INSTANTIATE_TEST_SUITE_P(Cpus, HandOverTest, testing::ValuesIn(CPUS), cpuName);

TEST(Emulator, PicksTheCpuModelByItsMainId) {
    const std::pair<sim::CpuFamily, std::uint32_t> models[] = {
        {sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110},
        {sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1100},
        {sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250},
        {sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA270},
    };
    for (auto [family, mainId] : models) {
        SCOPED_TRACE(testing::Message() << std::hex << mainId);
        TestDevice device(settingsFor(family, mainId));
        sim::Emulator emulator(device.device());
        emulator.mapRegion(quorvel::CPU_PRIMITIVES_BASE, quorvel::cpuPrimitivesImage.memorySize,
                           {quorvel::cpuPrimitivesImage.bytes, quorvel::cpuPrimitivesImage.size});
        sim::HandOverResult result =
            emulator.run(quorvel::cpuPrimitivesImage.symbol("readCp15c0"), {0, 0, 0, 0}, SYSTEM_MODE);
        EXPECT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
        EXPECT_EQ(result.r[0], mainId);
    }
}

TEST(Emulator, AHandheldWithoutAMatchingModelFailsTheHandOver) {
    TestDevice device(settingsFor(sim::CpuFamily::SA11x0, 0x12345678));
    device->cpu().kernelMode = true;
    auto result = sim::runBoot([] { quorvel::FlatJump_sa11x0(0, 0, 0, 0xC0000000); });
    ASSERT_TRUE(result);
    EXPECT_EQ(result->reason, sim::HaltReason::Failed);
    EXPECT_NE(result->error.find("0x12345678"), std::string::npos) << result->error;
}

// The primitives run in the emulator and through their host bodies give the same.
TEST(CpuPrimitives, AssembledAndHostBodiesAgree) {
    struct Case {
        const char* routine;
        std::uint32_t cpsr;
        std::uint32_t argument;
        std::uint32_t result;
        std::uint32_t cpsrAfter;
    };
    const Case cases[] = {
        {"readCpsr", 0x1F, 0, 0x1F, 0x1F},
        {"readCpsr", 0xDF, 0, 0xDF, 0xDF},
        {"maskInterrupts", 0x1F, 0, 0xDF, 0xDF},
        {"maskInterrupts", 0x9F, 0, 0xDF, 0xDF},
        {"unmaskInterrupts", 0xDF, 0, 0x1F, 0x1F},
        {"unmaskInterrupts", 0x5F, 0, 0x1F, 0x1F},
        {"readCp15c0", 0x1F, 0, sim::MAIN_ID_SA1110, 0x1F},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.routine << " from CPSR " << std::hex << c.cpsr);
        TestDevice device;
        {
            sim::Emulator emulator(device.device());
            const quorvel::ArmImage& image = quorvel::cpuPrimitivesImage;
            emulator.mapRegion(quorvel::CPU_PRIMITIVES_BASE, image.memorySize, {image.bytes, image.size});
            sim::HandOverResult result = emulator.run(image.symbol(c.routine), {c.argument, 0, 0, 0}, c.cpsr);
            ASSERT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
            EXPECT_EQ(result.r[0], c.result);
            EXPECT_EQ(result.cpsr & 0xFF, c.cpsrAfter);
        }
        sim::CpuState& state = device->cpu();
        state.kernelMode = true;
        state.cpsr = c.cpsr & ~0x1Fu;
        std::uint32_t host = 0;
        if (std::string(c.routine) == "readCpsr") host = quorvel::readCpsr();
        if (std::string(c.routine) == "maskInterrupts") host = quorvel::maskInterrupts();
        if (std::string(c.routine) == "unmaskInterrupts") host = quorvel::unmaskInterrupts();
        if (std::string(c.routine) == "readCp15c0") host = quorvel::readCp15c0();
        EXPECT_EQ(host, c.result);
        EXPECT_EQ(state.currentCpsr() & 0xFF, c.cpsrAfter);
    }
}

TEST(CpuPrimitives, DomainAccessWrittenIsReadBack) {
    TestDevice device;
    sim::Emulator emulator(device.device());
    const quorvel::ArmImage& image = quorvel::cpuPrimitivesImage;
    emulator.mapRegion(quorvel::CPU_PRIMITIVES_BASE, image.memorySize, {image.bytes, image.size});
    emulator.run(image.symbol("writeCp15c3"), {0x55555555, 0, 0, 0}, SYSTEM_MODE);
    EXPECT_EQ(emulator.run(image.symbol("readCp15c3"), {0, 0, 0, 0}, SYSTEM_MODE).r[0], 0x55555555u);

    device->cpu().kernelMode = true;
    quorvel::writeCp15c3(0x55555555);
    EXPECT_EQ(quorvel::readCp15c3(), 0x55555555u);
    EXPECT_EQ(device->cpu().userModeCp15Accesses, 0u);
}

TEST(CpuPrimitives, OutsideKernelModeTheCpsrStaysAndCoprocessorAccessIsCounted) {
    TestDevice device;
    device->cpu().kernelMode = false;
    EXPECT_EQ(quorvel::maskInterrupts() & 0xFF, 0x10u);
    EXPECT_EQ(quorvel::readCpsr() & 0xFF, 0x10u);
    quorvel::readCp15c1();
    quorvel::writeCp15c3(1);
    EXPECT_EQ(device->cpu().userModeCp15Accesses, 2u);
    EXPECT_EQ(device->cpu().domainAccess, 0u);

    // A kernel mode that is not System mode shows in the mode field.
    device->cpu().kernelMode = true;
    device->cpu().kernelModeCpsrMode = 0x13;
    EXPECT_EQ(quorvel::readCpsr() & 0x1F, 0x13u);
}

TEST(CpuPrimitives, CleanDataCacheReadsOneWordPerLineAndNeverPastTheArea) {
    struct Case {
        std::uint32_t flushSize;
        std::uint32_t words;
    };
    const Case cases[] = {{8192, 256}, {65536, 2048}, {0x20000, 2048}, {100, 4}, {0, 0}};
    const quorvel::ArmImage& image = quorvel::cpuPrimitivesImage;
    const std::uint32_t area = image.symbol("dcacheFlushArea");
    const std::uint32_t savedSize = quorvel::dcacheFlushSize;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flushSize);
        TestDevice device;
        sim::EmulationSettings settings;
        settings.watchReads = {{area, area + 0x20000}};
        sim::Emulator emulator(device.device(), settings);
        emulator.mapRegion(quorvel::CPU_PRIMITIVES_BASE, image.memorySize, {image.bytes, image.size});
        emulator.writeWord(image.symbol("dcacheFlushSize"), c.flushSize);
        sim::HandOverResult result = emulator.run(image.symbol("cleanDataCache"), {0, 0, 0, 0}, SYSTEM_MODE);
        ASSERT_EQ(result.reason, sim::HaltReason::Returned) << result.describe();
        ASSERT_EQ(result.reads.size(), c.words);
        for (std::uint32_t i = 0; i < c.words; ++i) {
            EXPECT_EQ(result.reads[i].address, area + 32 * i);
            EXPECT_EQ(result.reads[i].size, 4u);
        }

        device->cpu().kernelMode = true;
        quorvel::dcacheFlushSize = c.flushSize;
        quorvel::cleanDataCache();
        EXPECT_EQ(device->cpu().dataCacheWordsRead, c.words);
        EXPECT_EQ(device->cpu().dataCacheCleans, 1u);
    }
    quorvel::dcacheFlushSize = savedSize;
}

TEST(SecondStageLoaderImages, HaveTheSizesTheArchitecturesReport) {
    EXPECT_EQ(quorvel::SecondStageLoader_sa11x0_size, 424u);
    EXPECT_EQ(quorvel::SecondStageLoader_pxa2x0_size, 392u);
    EXPECT_EQ(quorvel::secondStageImage_sa11x0.bytes, quorvel::SecondStageLoader_sa11x0);
    EXPECT_EQ(quorvel::secondStageImage_pxa2x0.symbol("SecondStageLoader_pxa2x0"), 0u);
}

}  // namespace
