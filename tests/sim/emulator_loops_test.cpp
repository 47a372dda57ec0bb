// Loops the emulator performs natively, compared shape by shape with the emulator's
// engine running the same code with nothing performed natively, counted instruction
// by instruction: memory, registers, flags, the program counter and the count, at
// the end and at budget stops inside the loops, with the MMU off and on.
#include <gtest/gtest.h>

#include <unicorn/unicorn.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sim/arm_images.h"
#include "sim/emulator.h"
#include "support/case_names.h"
#include "support/device.h"

namespace quorvel {
extern const ArmImage loopShapesImage;
}

namespace {

constexpr std::uint32_t SUPERVISOR_IRQS_OFF = 0xD3;

struct Cpu {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    std::uint32_t ram;
    int model;  // the engine's model for the reference
};

const Cpu CPUS[] = {
    {"SA11x0", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, 0xC0000000, UC_CPU_ARM_SA1110},
    {"PXA2x0", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250, 0xA0000000, UC_CPU_ARM_PXA250},
};

using testing_support::PrintTo;
std::string cpuName(const testing::TestParamInfo<Cpu>& info) { return info.param.name; }

// One case of loop_shapes.S: its routine and variant; whether its loops go round
// often enough to be performed natively; whether only the XScale has its instructions.
struct Shape {
    const char* routine;
    std::uint32_t variant;
    bool native;
    bool xscale = false;
};

const Shape SHAPES[] = {
    {"case_memset", 0, true},      // 64 KB, aligned
    {"case_memset", 1, true},      // unaligned start, odd count
    {"case_memset", 2, false},     // 13 bytes: no round of the big loop
    {"case_memset", 3, true},      // start two bytes in
    {"case_memset", 4, true},      // stores across a page boundary
    {"case_memcpy", 0, true},      // aligned, 128 KB
    {"case_memcpy", 1, true},      // source one byte in: words put together
    {"case_memcpy", 2, true},      // two bytes in
    {"case_memcpy", 3, true},      // three bytes in
    {"case_memcpy", 4, true},      // destination aligned a byte at a time first
    {"case_memcpy", 5, true},      // eight-register stores across pages
    {"case_memcpy", 6, true},      // through small pages with the MMU on
    {"case_memcpy", 7, true},      // unaligned, through small pages
    {"case_memcpy", 8, false},     // two bytes
    {"case_overlap", 0, true},     // loads what earlier rounds stored
    {"case_copy_page", 0, true},
    {"case_clear", 0, true},
    {"case_clear", 1, true},
    {"case_relocate", 0, true},    // ldmdb/stmdb from the end
    {"case_checksum", 0, true},    // every operand and flag
    {"case_checksum", 1, false},   // its word stores unaligned: left to the emulator
    {"case_running_sum", 0, true}, // loads its own store of the same round
    {"case_preload_copy", 0, true, true},
    {"case_preload_page", 0, true, true},
};

// Where everything lies: the code, then the 4 MB work area a megabyte on.
constexpr std::uint32_t CODE_OFFSET = 0x00F00000;
constexpr std::uint32_t AREA_OFFSET = 0x01000000;
constexpr std::uint32_t WINDOW_SIZE = 0x00500000;

struct Outcome {
    std::uint32_t pc = 0;
    std::array<std::uint32_t, 15> r{};
    std::uint32_t cpsr = 0;
    std::uint64_t instructions = 0;
    std::uint64_t native = 0;
    std::vector<std::uint8_t> memory;
};

void countInstruction(uc_engine*, std::uint64_t, std::uint32_t, void* data) { ++*static_cast<std::uint64_t*>(data); }

// The engine alone, without the emulator's block counting or shortcuts: the window
// mapped from a copy of its bytes, every instruction counted as it runs. Stops at
// `until`, or after `budget` instructions when that is not 0.
Outcome reference(int model, std::uint32_t window, const std::vector<std::uint8_t>& bytes, std::uint32_t entry,
                  std::array<std::uint32_t, 4> args, std::uint32_t until, std::uint64_t budget) {
    Outcome out;
    out.memory = bytes;
    uc_engine* uc = nullptr;
    EXPECT_EQ(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc), UC_ERR_OK);
    EXPECT_EQ(uc_ctl_set_cpu_model(uc, model), UC_ERR_OK);
    EXPECT_EQ(uc_mem_map_ptr(uc, window, out.memory.size(), UC_PROT_ALL, out.memory.data()), UC_ERR_OK);
    auto set = [&](int reg, std::uint32_t value) { uc_reg_write(uc, reg, &value); };
    auto get = [&](int reg) {
        std::uint32_t value = 0;
        uc_reg_read(uc, reg, &value);
        return value;
    };
    set(UC_ARM_REG_CPSR, SUPERVISOR_IRQS_OFF);
    for (int i = 0; i < 4; ++i) set(UC_ARM_REG_R0 + i, args[i]);
    uc_hook hook;
    EXPECT_EQ(uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&countInstruction), &out.instructions, 1, 0),
              UC_ERR_OK);
    const uc_err error = uc_emu_start(uc, entry, budget ? 0 : until, 0, budget);
    EXPECT_EQ(error, UC_ERR_OK) << uc_strerror(error);
    out.pc = get(UC_ARM_REG_PC);
    for (int r = 0; r < 13; ++r) out.r[r] = get(UC_ARM_REG_R0 + r);
    out.r[13] = get(UC_ARM_REG_SP);
    out.r[14] = get(UC_ARM_REG_LR);
    out.cpsr = get(UC_ARM_REG_CPSR);
    uc_close(uc);
    return out;
}

class NativeLoopTest : public testing::TestWithParam<Cpu> {
public:
    NativeLoopTest() : device(settings()) {}

    sim::DeviceSettings settings() const {
        sim::DeviceSettings s;
        s.cpu = GetParam().family;
        s.mainId = GetParam().mainId;
        return s;
    }

    // The window as both runs start from: the code, and the area filled with bytes
    // that make every copy tell where it read from.
    std::vector<std::uint8_t> startingWindow() const {
        std::vector<std::uint8_t> bytes(WINDOW_SIZE);
        const quorvel::ArmImage& image = quorvel::loopShapesImage;
        std::memcpy(bytes.data(), image.bytes, image.size);
        std::mt19937 random(22);
        for (std::size_t i = AREA_OFFSET - CODE_OFFSET; i < bytes.size(); i += 4) {
            const auto word = static_cast<std::uint32_t>(random());
            std::memcpy(&bytes[i], &word, 4);
        }
        return bytes;
    }

    Outcome emulate(const std::vector<std::uint8_t>& bytes, std::uint32_t entry, std::array<std::uint32_t, 4> args,
                    std::uint64_t budget) {
        const std::uint32_t window = GetParam().ram + CODE_OFFSET;
        std::uint8_t* host = device->memory().host(sim::PhysicalAddress(window));
        std::memcpy(host, bytes.data(), bytes.size());
        sim::EmulationSettings settings;
        settings.instructionBudget = budget;
        sim::Emulator emulator(device.device(), settings);
        const sim::HandOverResult result = emulator.run(entry, args, SUPERVISOR_IRQS_OFF);
        Outcome out;
        out.pc = result.pc;
        for (int r = 0; r < 15; ++r) out.r[r] = result.r[r];
        out.cpsr = result.cpsr;
        out.instructions = result.instructions;
        out.native = result.nativeInstructions;
        EXPECT_TRUE(result.instructionsExact);
        EXPECT_EQ(result.r[15], result.pc);
        EXPECT_EQ(result.reason, budget ? sim::HaltReason::BudgetExhausted : sim::HaltReason::Halted) << result.describe();
        out.memory.assign(host, host + bytes.size());
        return out;
    }

    testing_support::TestDevice device;
};

void expectSame(const Outcome& ours, const Outcome& theirs) {
    EXPECT_EQ(ours.pc, theirs.pc);
    for (int r = 0; r < 15; ++r) EXPECT_EQ(ours.r[r], theirs.r[r]) << "r" << r;
    EXPECT_EQ(ours.cpsr, theirs.cpsr);
    if (ours.memory != theirs.memory) {
        std::size_t i = 0;
        while (ours.memory[i] == theirs.memory[i]) ++i;
        ADD_FAILURE() << "memory differs first at window offset 0x" << std::hex << i;
    }
}

TEST_P(NativeLoopTest, EveryShapeLeavesWhatEmulatingEachInstructionLeaves) {
    const quorvel::ArmImage& image = quorvel::loopShapesImage;
    const std::uint32_t window = GetParam().ram + CODE_OFFSET, area = GetParam().ram + AREA_OFFSET;
    const std::uint32_t entry = window + image.symbol("shapes_start");
    const std::uint32_t done = window + image.symbol("shapes_done");
    const std::vector<std::uint8_t> start = startingWindow();
    for (const bool mmu : {false, true}) {
        for (const Shape& shape : SHAPES) {
            SCOPED_TRACE(std::string(shape.routine) + " variant " + std::to_string(shape.variant) +
                         (mmu ? ", MMU on" : ", MMU off"));
            if (shape.xscale && GetParam().family != sim::CpuFamily::PXA2x0) continue;
            const std::uint32_t routine = image.symbol(shape.routine);
            ASSERT_NE(routine, 0xFFFFFFFFu);
            const std::array<std::uint32_t, 4> args{area, mmu ? 1u : 0u, window + routine, shape.variant};
            const Outcome theirs = reference(GetParam().model, window, start, entry, args, done, 0);
            ASSERT_EQ(theirs.pc, done);
            const Outcome ours = emulate(start, entry, args, 0);
            expectSame(ours, theirs);
            // The branch to itself has run once more.
            EXPECT_EQ(ours.instructions, theirs.instructions + 1);
            if (shape.native) {
                EXPECT_GT(ours.native, ours.instructions / 2);
            }
            // Stops inside the loops: before a round, inside one, near the end.
            for (const std::uint64_t budget : {theirs.instructions / 3, theirs.instructions / 2 + 1, theirs.instructions - 5}) {
                SCOPED_TRACE("budget " + std::to_string(budget));
                const Outcome stopped = emulate(start, entry, args, budget);
                const Outcome stepped = reference(GetParam().model, window, start, entry, args, done, budget);
                EXPECT_EQ(stopped.instructions, budget);
                EXPECT_EQ(stepped.instructions, budget);
                expectSame(stopped, stepped);
            }
            if (testing::Test::HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cpus, NativeLoopTest, testing::ValuesIn(CPUS), cpuName);

}  // namespace
