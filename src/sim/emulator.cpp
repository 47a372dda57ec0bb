// The emulated hand-over over Unicorn.
#include "sim/emulator.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "sim/address_space.h"
#include "sim/disassembly.h"
#include "sim/emulator_loops.h"
#include "sim/handheld.h"

namespace sim {

namespace {

constexpr std::uint32_t BRANCH_TO_SELF = 0xEAFFFFFE;  // b .
constexpr std::uint32_t REGION_ALIGNMENT = 0x1000;

// The CPSR's condition flags and its Thumb state bit.
constexpr std::uint32_t CPSR_N = 1u << 31;
constexpr std::uint32_t CPSR_Z = 1u << 30;
constexpr std::uint32_t CPSR_C = 1u << 29;
constexpr std::uint32_t CPSR_V = 1u << 28;
constexpr std::uint32_t CPSR_FLAGS = CPSR_N | CPSR_Z | CPSR_C | CPSR_V;
constexpr std::uint32_t CPSR_THUMB = 1u << 5;
constexpr std::uint32_t CPSR_MODE = 0x1F;
constexpr std::uint32_t USER_MODE = 0x10;

// CP15 c1: the MMU enable and the big-endian (B) bit.
constexpr std::uint32_t CONTROL_MMU = 1u << 0;
constexpr std::uint32_t CONTROL_ALIGNMENT = 1u << 1;
constexpr std::uint32_t CONTROL_BIG_ENDIAN = 1u << 7;

// The interrupt numbers the emulator's hook is given.
constexpr std::uint32_t EXCEPTION_UNDEFINED = 1;
constexpr std::uint32_t EXCEPTION_SWI = 2;
constexpr std::uint32_t EXCEPTION_PREFETCH_ABORT = 3;
constexpr std::uint32_t EXCEPTION_DATA_ABORT = 4;
constexpr std::uint32_t EXCEPTION_IRQ = 5;
constexpr std::uint32_t EXCEPTION_FIQ = 6;
constexpr std::uint32_t EXCEPTION_BREAKPOINT = 7;

// Fields of the ARM instructions a store loop is made of.
constexpr std::uint32_t OPCODE_MASK = 0xFFF00000u;     // condition, class, P U S W L
constexpr std::uint32_t LDMIA_WRITEBACK = 0xE8B00000u;  // ldmia rN!, {...}
constexpr std::uint32_t STMIA_WRITEBACK = 0xE8A00000u;  // stmia rN!, {...}
constexpr std::uint32_t SUBS_IMMEDIATE = 0xE2500000u;   // subs rD, rN, #imm
constexpr std::uint32_t BHS = 0x2A000000u;              // bhs <offset>
constexpr std::uint32_t REGISTER_LIST = 0xFFFFu;
constexpr std::uint32_t BRANCH_OFFSET = 0xFFFFFFu;
constexpr std::uint32_t PC_BIT = 1u << 15;

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void check(uc_err error, const std::string& what) {
    if (error != UC_ERR_OK) throw std::runtime_error(what + ": " + uc_strerror(error));
}

std::uint32_t readCp15(uc_engine* uc, std::uint32_t crn) {
    uc_arm_cp_reg reg{};
    reg.cp = 15;
    reg.crn = crn;
    if (uc_reg_read(uc, UC_ARM_REG_CP_REG, &reg) != UC_ERR_OK) return 0;
    return static_cast<std::uint32_t>(reg.val);
}

std::uint32_t readRegister(uc_engine* uc, int reg) {
    std::uint32_t value = 0;
    uc_reg_read(uc, reg, &value);
    return value;
}

void writeRegister(uc_engine* uc, int reg, std::uint32_t value) { uc_reg_write(uc, reg, &value); }

// Unicorn's model numbers need not follow the names in its header, so the model is
// the one whose main ID register reads back as the device's. The revision nibble may
// differ when no model has the exact value. The named model is tried first: each try
// builds a whole CPU, and trying them all costs a boot tens of milliseconds.
int namedModel(std::uint32_t mainId) {
    switch (mainId) {
    case MAIN_ID_SA1100: return UC_CPU_ARM_SA1100;
    case MAIN_ID_SA1110: return UC_CPU_ARM_SA1110;
    case MAIN_ID_PXA250: return UC_CPU_ARM_PXA250;
    case MAIN_ID_PXA270: return UC_CPU_ARM_PXA270;
    default: return -1;
    }
}

int modelFor(std::uint32_t mainId) {
    static std::mutex lock;
    static std::map<std::uint32_t, int> known;
    std::lock_guard<std::mutex> guard(lock);
    if (auto it = known.find(mainId); it != known.end()) return it->second;
    int nearly = -1;
    const int named = namedModel(mainId);
    for (int i = named < 0 ? 0 : -1; i < 64; ++i) {
        const int model = i < 0 ? named : i;
        if (i == named) continue;
        uc_engine* uc = nullptr;
        if (uc_open(UC_ARCH_ARM, UC_MODE_ARM, &uc) != UC_ERR_OK) break;
        std::uint32_t id = 0;
        bool usable = uc_ctl_set_cpu_model(uc, model) == UC_ERR_OK;
        if (usable) id = readCp15(uc, 0);
        uc_close(uc);
        if (!usable) continue;
        if (id == mainId) return known[mainId] = model;
        if (nearly < 0 && (id & ~0xFu) == (mainId & ~0xFu)) nearly = model;
    }
    return known[mainId] = nearly;
}

const char* exceptionName(std::uint32_t number) {
    switch (number) {
    case EXCEPTION_UNDEFINED: return "undefined instruction";
    case EXCEPTION_SWI: return "software interrupt";
    case EXCEPTION_PREFETCH_ABORT: return "prefetch abort";
    case EXCEPTION_DATA_ABORT: return "data abort";
    case EXCEPTION_IRQ: return "interrupt";
    case EXCEPTION_FIQ: return "fast interrupt";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    default: return "exception";
    }
}

// Processor time, not wall time: the figure stays meaningful on a busy machine.
double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// How many instructions the emulator makes of `size` bytes of Thumb code at
// `address`: a halfword each, except that this Thumb (without Thumb-2) joins a
// bl/blx prefix to the halfword after it into one instruction, unless the prefix is
// the last halfword of a translation page.
std::uint32_t thumbInstructions(const std::uint8_t* code, std::uint32_t address, std::uint32_t size, std::uint32_t page) {
    std::uint32_t count = 0;
    for (std::uint32_t at = 0; at + 2 <= size; ++count) {
        const std::uint32_t halfword = code[at] | (code[at + 1] << 8);
        const std::uint32_t inPage = (address + at) & (page - 1);
        at += (halfword >> 11) == 0x1E && inPage < page - 3 ? 4 : 2;
    }
    return count;
}

// A block that is exactly one of these loops (the second-stage loader's copy and
// clear, or any code of the same shape):
//     ldmia rS!, {list}    (copy only)
//     stmia rD!, {list}
//     subs  rC, rC, #4 * |list|
//     bhs   <the first instruction>
// Debian's Unicorn takes a slow path for every store to RAM, so the emulator
// performs such a loop natively: the same memory, registers, flags and instruction
// count as emulating every round.
struct StoreLoop {
    bool copy = false;
    int source = -1;  // rS, for a copy
    int destination = 0;
    int counter = 0;
    std::uint16_t list = 0;
    std::uint32_t stride = 0;  // bytes a round
};

std::optional<StoreLoop> storeLoop(const std::uint32_t* code, std::uint32_t words) {
    if (words != 3 && words != 4) return std::nullopt;
    StoreLoop loop;
    loop.copy = words == 4;
    std::size_t i = 0;
    if (loop.copy) {
        if ((code[0] & OPCODE_MASK) != LDMIA_WRITEBACK) return std::nullopt;
        loop.source = static_cast<int>((code[0] >> 16) & 0xF);
        i = 1;
    }
    if ((code[i] & OPCODE_MASK) != STMIA_WRITEBACK) return std::nullopt;
    loop.destination = static_cast<int>((code[i] >> 16) & 0xF);
    loop.list = static_cast<std::uint16_t>(code[i] & REGISTER_LIST);
    if (loop.copy && (code[0] & REGISTER_LIST) != loop.list) return std::nullopt;
    const std::uint32_t subs = code[i + 1];
    if ((subs & OPCODE_MASK) != SUBS_IMMEDIATE || ((subs >> 12) & 0xF) != ((subs >> 16) & 0xF)) return std::nullopt;
    loop.counter = static_cast<int>((subs >> 12) & 0xF);
    const std::uint32_t rotate = 2 * ((subs >> 8) & 0xF);
    const std::uint32_t immediate = subs & 0xFF;
    const std::uint32_t amount = rotate ? (immediate >> rotate) | (immediate << (32 - rotate)) : immediate;
    // bhs back to the first instruction: the offset counts from that branch plus 8.
    const std::uint32_t back = BHS | ((0x1000000u - (words + 1)) & BRANCH_OFFSET);
    if (code[i + 2] != back) return std::nullopt;
    loop.stride = 4u * static_cast<std::uint32_t>(__builtin_popcount(loop.list));
    if (loop.stride == 0 || amount != loop.stride) return std::nullopt;
    // Registers that are both moved and stored (or the pc) make other loops.
    std::uint32_t used = (1u << loop.destination) | (1u << loop.counter) | (loop.copy ? 1u << loop.source : 0u);
    int distinct = __builtin_popcount(used);
    if (distinct != (loop.copy ? 3 : 2) || (used & loop.list) != 0 || (used | loop.list) & PC_BIT) return std::nullopt;
    return loop;
}

int armRegister(int n) {
    switch (n) {
    case 13: return UC_ARM_REG_SP;
    case 14: return UC_ARM_REG_LR;
    case 15: return UC_ARM_REG_PC;
    default: return UC_ARM_REG_R0 + n;
    }
}

std::atomic<bool> stopRequested{false};
std::atomic<int> runsInProgress{0};

}  // namespace

struct Emulator::Engine {
    Handheld& device;
    EmulationSettings settings;
    uc_engine* uc = nullptr;
    std::vector<uc_hook> runHooks;
    // The emulator's translation page: a Thumb bl prefix at its last halfword stands alone.
    std::uint32_t translationPage = 1024;

    // The run in progress.
    HandOverResult result;
    bool decided = false;
    bool memoryFault = false;
    // Instructions are counted when their block starts; the current block's share is
    // taken back when it does not run to its end (a fault, a stop before it).
    std::uint64_t blockStart = 0;
    std::uint32_t blockInstructions = 0;
    bool blockThumb = false;
    // Where the block before had its last instruction, when that was ARM code (odd:
    // not ARM).
    std::uint64_t previousLast = 1;
    std::uint32_t previousInstructions = 0;
    std::uint32_t blocks = 0;
    std::uint32_t stopAddresses[2] = {1, 1};  // odd: never the start of a block
    std::chrono::steady_clock::time_point deadline;
    std::size_t uartSent = 0;
    // Only the XScale has a Thumb state; the StrongARM's count needs no look at it.
    bool thumbCapable = false;
    // And only the XScale (ARMv5TE) has pld, which a kernel's copies use.
    bool preloadCapable = false;
    // The budget ends inside a block: the run stops before it, and these last
    // instructions are then run counted one by one.
    std::uint64_t budgetTail = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t lastBlockSize = 0;
    bool finishing = false;
    // The last one-instruction block had been counted already as the end of the block
    // before it.
    bool loopCountedBefore = false;
    // The last store loop left to the emulator because the MMU was on, and the last
    // block that came round again without being a branch to itself (odd: none).
    std::uint32_t mmuOnLoop = 1;
    std::uint32_t notBranchToSelf = 1;
    std::vector<std::uint8_t> codeBuffer;
    // Blocks found to be no loop performed natively, by address and size (0: empty).
    static constexpr std::size_t NOT_LOOP_SLOTS = 4096;
    std::array<std::uint64_t, NOT_LOOP_SLOTS> notLoop{};
    // Where a natively performed loop finds memory: the translation registers read
    // once for the run, the pages met (virtual page, host page) and the pages stored to.
    struct LoopPages {
        bool mmu = false;
        std::uint32_t table = 0, domains = 0, processId = 0;
        std::vector<std::uint32_t> tables;        // physical pages holding translation tables
        std::vector<std::uint32_t> stored;        // virtual pages stored to
        std::vector<std::uint32_t> storedFrames;  // and the physical pages behind them
        std::vector<std::pair<std::uint32_t, std::uint32_t>> met;  // virtual page, physical page
    };
    LoopPages loopPages;

    Engine(Handheld& d, EmulationSettings s)
        : device(d),
          settings(std::move(s)),
          thumbCapable(d.settings().cpu == CpuFamily::PXA2x0),
          preloadCapable(d.settings().cpu == CpuFamily::PXA2x0) {}
    ~Engine() {
        if (uc) uc_close(uc);
    }

    void startRun() {
        const std::uint32_t kernelEntry = result.entry;
        result = HandOverResult{};
        result.entry = kernelEntry;
        decided = memoryFault = false;
        blockStart = 0;
        blockInstructions = previousInstructions = 0;
        blockThumb = false;
        previousLast = 1;
        blocks = 0;
        budgetTail = 0;
        finishing = false;
        loopCountedBefore = false;
        mmuOnLoop = notBranchToSelf = 1;
        stopAddresses[0] = stopAddresses[1] = 1;
        notLoop.fill(0);
    }

    void decide(HaltReason reason) {
        if (decided) return;
        decided = true;
        result.reason = reason;
        result.pc = readRegister(uc, UC_ARM_REG_PC);
        uc_emu_stop(uc);
    }

    // Stops at the start of a block that is not to run.
    void decideBefore(HaltReason reason, std::uint64_t address) {
        decide(reason);
        result.pc = static_cast<std::uint32_t>(address);
        result.instructions -= blockInstructions;
        blockInstructions = 0;
    }

    // Instructions of the current block before the one at `pc`.
    std::uint32_t instructionsBefore(std::uint32_t pc) {
        const auto start = static_cast<std::uint32_t>(blockStart);
        if (!blockThumb) return (pc - start) / 4;
        codeBuffer.resize(pc - start);
        if (!readCode(start, codeBuffer.data(), pc - start)) return (pc - start) / 2;
        return thumbInstructions(codeBuffer.data(), start, pc - start, translationPage);
    }

    // The faulting instruction is the last one begun: the block's share is what ran
    // up to it.
    void faultAt(std::uint32_t pc) {
        const auto start = static_cast<std::uint32_t>(blockStart);
        if (blockInstructions != 0 && pc >= start && pc - start < (blockThumb ? 2u : 4u) * blockInstructions + 2) {
            result.instructions -= blockInstructions;
            result.instructions += instructionsBefore(pc) + 1;
        }
    }

    // The emulator leaves the program counter at the start of the block that
    // faulted, and the other registers as the faulting instruction saw them. Which
    // Thumb instruction faulted is not worked out: the count then says so.
    void findFaultingInstruction() {
        std::uint32_t at = static_cast<std::uint32_t>(blockStart);
        if (blockThumb) {
            result.instructionsExact = false;
            result.pc = at;
            return;
        }
        std::vector<std::uint8_t> code(4u * blockInstructions);
        std::array<std::uint32_t, 16> r{};
        for (int i = 0; i < 13; ++i) r[i] = readRegister(uc, UC_ARM_REG_R0 + i);
        r[13] = readRegister(uc, UC_ARM_REG_SP);
        r[14] = readRegister(uc, UC_ARM_REG_LR);
        r[15] = at;
        if (!code.empty() && readCode(at, code.data(), static_cast<std::uint32_t>(code.size()))) {
            if (auto found = instructionAccessing(at, code, r, result.faultAddress, result.faultWrite)) at = *found;
        }
        result.pc = at;
        writeRegister(uc, UC_ARM_REG_PC, at);
        faultAt(at);
    }

    // The per-block work: the count, the stops, then the speed-ups.
    static void onBlock(uc_engine*, std::uint64_t address, std::uint32_t size, void* data) {
        auto* self = static_cast<Engine*>(data);
        if (self->decided) return;
        const std::uint64_t lastBefore = self->previousLast;
        // A one-instruction block that comes straight round again.
        const bool again = size == 4 && self->blockStart == address && self->previousInstructions == 1 && !self->blockThumb;
        self->countBlock(address, size);
        if (self->stopsBefore(address) || self->finishing || self->blockThumb) return;
        if ((size == 12 || size == 16) && self->runStoreLoop(address, size)) return;
        // A block cut short by the end of a translation page may start a longer loop.
        const bool cut = ((address + size) & (self->translationPage - 1)) == 0;
        if ((size >= 8 || cut) && self->runNativeLoop(address, size)) return;
        if (size == 4) self->findBranchToSelf(address, again, lastBefore);
    }

    void countBlock(std::uint64_t address, std::uint32_t size) {
        lastBlockSize = size;
        // The state is read at every block: the same address may hold ARM code once
        // and Thumb code later.
        blockThumb = thumbCapable && (readRegister(uc, UC_ARM_REG_CPSR) & CPSR_THUMB) != 0;
        if (blockThumb) {
            codeBuffer.resize(size);
            const auto at = static_cast<std::uint32_t>(address);
            if (readCode(at, codeBuffer.data(), size)) {
                blockInstructions = thumbInstructions(codeBuffer.data(), at, size, translationPage);
            } else {
                blockInstructions = (size + 1) / 2;
                result.instructionsExact = false;
            }
            previousLast = 1;
        } else {
            blockInstructions = size / 4;
            previousLast = address + size - 4;
        }
        previousInstructions = blockInstructions;
        blockStart = address;
        result.instructions += blockInstructions;
    }

    // The stop asked for, an interruption, the budget and the time limit, each before
    // the block runs. True when the run ends here.
    bool stopsBefore(std::uint64_t address) {
        if (address == stopAddresses[0] || address == stopAddresses[1]) {
            decideBefore(HaltReason::Stopped, address);
            return true;
        }
        if (stopRequested.load(std::memory_order_relaxed)) {
            decideBefore(HaltReason::Interrupted, address);
            return true;
        }
        const std::uint64_t budget = settings.instructionBudget;
        if (!finishing && budget && result.instructions > budget) {
            // The budget ends inside this block: its first instructions are run apart.
            decideBefore(HaltReason::BudgetExhausted, address);
            budgetTail = budget - result.instructions;
            blockSize = lastBlockSize;
            return true;
        }
        if (settings.timeoutSeconds > 0 && (++blocks & 0x3FFF) == 0 && std::chrono::steady_clock::now() > deadline) {
            decideBefore(HaltReason::TimedOut, address);
            return true;
        }
        return false;
    }

    // A branch to itself is a block of its own once it has been reached. The word is
    // first read where the address lies in RAM, which is where the processor finds
    // it while the MMU is off; a branch to itself found there, a block outside RAM,
    // and a block that comes straight round again are read through the translation.
    void findBranchToSelf(std::uint64_t address, bool again, std::uint64_t lastBefore) {
        const auto at = static_cast<std::uint32_t>(address);
        PhysicalMemory& memory = device.memory();
        std::uint32_t instruction = 0;
        const bool inRam = memory.contains(PhysicalAddress(at), 4);
        if (inRam) std::memcpy(&instruction, memory.host(PhysicalAddress(at)), 4);
        bool halts = false;
        if (!inRam || instruction == BRANCH_TO_SELF || instruction == __builtin_bswap32(BRANCH_TO_SELF) ||
            (again && at != notBranchToSelf)) {
            halts = readCode(at, reinterpret_cast<std::uint8_t*>(&instruction), 4) &&
                    (readCp15(uc, 1) & CONTROL_BIG_ENDIAN ? __builtin_bswap32(instruction) : instruction) == BRANCH_TO_SELF;
            // A conditional branch to itself may go round many times: it is read once.
            if (!halts && again) notBranchToSelf = at;
        }
        if (halts) {
            decide(address == RETURN_TRAP ? HaltReason::Returned : HaltReason::Halted);
            result.pc = at;
            if (lastBefore == address) result.instructions -= blockInstructions;
            // Found only as it came round: its first time round is not counted twice.
            if (again && loopCountedBefore) result.instructions -= blockInstructions;
        } else if (!again) {
            loopCountedBefore = lastBefore == address;
        }
    }

    std::optional<std::uint32_t> physicalOf(std::uint32_t va) {
        // With the MMU off the other two registers need not be read.
        const std::uint32_t control = readCp15(uc, 1);
        if ((control & CONTROL_MMU) == 0) return va;
        return physicalAddressOf(device.memory(), control, readCp15(uc, 2), readCp15(uc, 13), va);
    }

    // Code as the processor fetches it; false where it cannot be read.
    bool readCode(std::uint32_t va, std::uint8_t* out, std::uint32_t size) {
        for (std::uint32_t done = 0; done < size;) {
            const std::uint32_t n = std::min(size - done, PageTables::SMALL_PAGE - (va + done) % PageTables::SMALL_PAGE);
            const std::optional<std::uint32_t> physical = physicalOf(va + done);
            if (!physical) return false;
            if (device.memory().contains(PhysicalAddress(*physical), n)) {
                std::memcpy(out + done, device.memory().host(PhysicalAddress(*physical)), n);
            } else if (*physical != va + done || uc_mem_read(uc, va + done, out + done, n) != UC_ERR_OK) {
                return false;  // the emulator's own read is of physical addresses
            }
            done += n;
        }
        return true;
    }

    // Performs a store loop that starts this block natively, when it can be told
    // exactly what emulating it would do; false leaves it to the emulator.
    bool runStoreLoop(std::uint64_t address, std::uint32_t size) {
        // Watched reads must all be seen.
        if (!settings.watchReads.empty()) return false;
        PhysicalMemory& memory = device.memory();
        const auto at = static_cast<std::uint32_t>(address);
        if (!memory.contains(PhysicalAddress(at), size)) return false;
        std::uint32_t code[4];
        std::memcpy(code, memory.host(PhysicalAddress(at)), size);
        const std::optional<StoreLoop> loop = storeLoop(code, size / 4);
        if (!loop) return false;
        // Registers hold physical addresses only while the MMU is off, and words are
        // the host's order only while the processor is little-endian. A loop turned
        // down for that is not asked again each round.
        if (at == mmuOnLoop) return false;
        if (readCp15(uc, 1) & (CONTROL_MMU | CONTROL_BIG_ENDIAN)) {
            mmuOnLoop = at;
            return false;
        }

        const std::uint32_t counter = readRegister(uc, armRegister(loop->counter));
        const std::uint64_t rounds = counter / loop->stride + 1;
        const std::uint64_t bytes = rounds * loop->stride;
        const std::uint32_t to = readRegister(uc, armRegister(loop->destination));
        const std::uint32_t from = loop->copy ? readRegister(uc, armRegister(loop->source)) : 0;
        // Whole words in RAM, the copy's two ranges apart and away from this code;
        // anything else is emulated as it comes.
        if (bytes > 0xFFFFFFFFu || (to & 3) || (from & 3)) return false;
        const auto length = static_cast<std::uint32_t>(bytes);
        if (!memory.contains(PhysicalAddress(to), length)) return false;
        auto apart = [](std::uint64_t a, std::uint64_t aLength, std::uint64_t b, std::uint64_t bLength) {
            return a + aLength <= b || b + bLength <= a;
        };
        if (!apart(to, length, at, size)) return false;
        if (loop->copy && (!memory.contains(PhysicalAddress(from), length) || !apart(to, length, from, length))) return false;
        const std::uint64_t more = (rounds - 1) * (size / 4);
        if (settings.instructionBudget && result.instructions + more > settings.instructionBudget) return false;

        std::uint8_t* target = memory.host(PhysicalAddress(to));
        std::uint32_t last[16] = {};
        if (loop->copy) {
            std::memcpy(target, memory.host(PhysicalAddress(from)), length);
            std::memcpy(last, target + length - loop->stride, loop->stride);
        } else {
            std::uint32_t k = 0;
            for (int r = 0; r < 16; ++r)
                if (loop->list & (1u << r)) last[k++] = readRegister(uc, armRegister(r));
            for (std::uint32_t offset = 0; offset < length; offset += loop->stride) std::memcpy(target + offset, last, loop->stride);
        }
        // Code translated from what was there before must not run.
        uc_ctl_remove_cache(uc, to, static_cast<std::uint64_t>(to) + length);

        std::uint32_t k = 0;
        for (int r = 0; r < 16; ++r)
            if (loop->list & (1u << r)) writeRegister(uc, armRegister(r), last[k++]);
        writeRegister(uc, armRegister(loop->destination), to + length);
        if (loop->copy) writeRegister(uc, armRegister(loop->source), from + length);
        // The last subs: the counter was below the stride, so it borrowed.
        const std::uint32_t before = counter - (length - loop->stride);
        const std::uint32_t after = before - loop->stride;
        writeRegister(uc, armRegister(loop->counter), after);
        const std::uint32_t flags = (after & CPSR_N) | (after == 0 ? CPSR_Z : 0) | (before >= loop->stride ? CPSR_C : 0) |
                                    ((((before ^ loop->stride) & (before ^ after)) >> 3) & CPSR_V);
        writeRegister(uc, UC_ARM_REG_CPSR, (readRegister(uc, UC_ARM_REG_CPSR) & ~CPSR_FLAGS) | flags);
        result.instructions += more;
        result.nativeInstructions += more;
        writeRegister(uc, UC_ARM_REG_PC, at + size);
        return true;
    }

    // The host page behind a virtual page as the processor reaches it in a privileged
    // mode, and whether it may be written; null where that is anything but plain RAM
    // reached without a fault (then the loop is left to the emulator).
    std::uint8_t* loopPage(std::uint32_t va, bool& writable) {
        PhysicalMemory& memory = device.memory();
        LoopPages& p = loopPages;
        std::uint32_t pa = va;
        writable = true;
        if (p.mmu) {
            const std::uint32_t mva = va < PageTables::SLOT_SIZE ? va | (p.processId & 0xFE000000u) : va;
            auto word = [&](std::uint32_t at, std::uint32_t& value) {
                if (!memory.contains(PhysicalAddress(at), 4)) return false;
                const std::uint32_t frame = at & ~(FRAME_SIZE - 1);
                // A table the loop has stored into is left to the emulator's walk.
                if (std::find(p.storedFrames.begin(), p.storedFrames.end(), frame) != p.storedFrames.end()) return false;
                value = memory.readWord(PhysicalAddress(at));
                if (std::find(p.tables.begin(), p.tables.end(), frame) == p.tables.end()) p.tables.push_back(frame);
                return true;
            };
            std::uint32_t first = 0, second = 0, domain = 0, access = 0;
            if (!word((p.table & 0xFFFFC000u) | ((mva >> 20) << 2), first)) return nullptr;
            domain = (first >> 5) & 0xF;
            if ((first & 3) == 2) {  // section
                pa = (first & 0xFFF00000u) | (mva & 0x000FFFFFu);
                access = (first >> 10) & 3;
            } else if ((first & 3) == 1) {  // coarse table
                if (!word((first & 0xFFFFFC00u) | (((mva >> 12) & 0xFF) << 2), second)) return nullptr;
                if ((second & 3) == 2) {  // small page
                    pa = (second & 0xFFFFF000u) | (mva & 0xFFFu);
                    access = (second >> (4 + 2 * ((mva >> 10) & 3))) & 3;
                } else if ((second & 3) == 1) {  // large page
                    pa = (second & 0xFFFF0000u) | (mva & 0xFFFFu);
                    access = (second >> (4 + 2 * ((mva >> 14) & 3))) & 3;
                } else {
                    return nullptr;
                }
            } else {
                return nullptr;
            }
            const std::uint32_t domainAccess = (p.domains >> (2 * domain)) & 3;
            // A client's pages with no access bits depend on the S and R bits: not here.
            if (domainAccess == 0 || domainAccess == 2 || (domainAccess == 1 && access == 0)) return nullptr;
        }
        const std::uint32_t frame = pa & ~(FRAME_SIZE - 1);
        if (!memory.contains(PhysicalAddress(frame), FRAME_SIZE)) return nullptr;
        // Tables stay as they were read while the loop runs.
        const std::uint32_t first = p.table & 0xFFFFC000u;
        if (p.mmu && frame >= first && frame < first + 0x4000) writable = false;
        for (std::uint32_t table : p.tables)
            if (table == frame) writable = false;
        p.met.emplace_back(va & ~(FRAME_SIZE - 1), frame);
        return memory.host(PhysicalAddress(frame));
    }

    // Where a natively performed loop finds memory: pages as loopPage finds them,
    // and each page stored to noted, so that code translated from it is dropped.
    struct NativeLoopMemory final : LoopMemory {
        Engine& engine;
        explicit NativeLoopMemory(Engine& e) : engine(e) {}
        std::uint8_t* page(std::uint32_t va, bool& writable) override { return engine.loopPage(va, writable); }
        void stored(std::uint32_t va) override {
            LoopPages& p = engine.loopPages;
            p.stored.push_back(va);
            for (auto it = p.met.rbegin(); it != p.met.rend(); ++it)
                if (it->first == va) {
                    p.storedFrames.push_back(it->second);
                    break;
                }
        }
    };

    // Loops decoded before, by address and size, with the code they were decoded from.
    static constexpr std::uint32_t MAX_LOOP_WORDS = 32;
    struct KnownLoop {
        std::uint64_t key = 0;
        std::uint32_t bytes = 0;
        std::uint32_t code[MAX_LOOP_WORDS];
        std::vector<LoopInstruction> loop;
    };
    static constexpr std::size_t KNOWN_LOOP_SLOTS = 64;
    std::array<KnownLoop, KNOWN_LOOP_SLOTS> knownLoops{};

    // Registers r0..r14 and the CPSR in one call each way.
    void readState(LoopState& state) {
        int regs[16];
        void* values[16];
        for (int r = 0; r < 15; ++r) {
            regs[r] = armRegister(r);
            values[r] = &state.r[r];
        }
        regs[15] = UC_ARM_REG_CPSR;
        values[15] = &state.cpsr;
        uc_reg_read_batch(uc, regs, values, 16);
    }
    void writeState(const LoopState& state) {
        int regs[16];
        void* values[16];
        // The CPSR first: its mode decides which registers r8..r14 are.
        regs[0] = UC_ARM_REG_CPSR;
        values[0] = const_cast<std::uint32_t*>(&state.cpsr);
        for (int r = 0; r < 15; ++r) {
            regs[r + 1] = armRegister(r);
            values[r + 1] = const_cast<std::uint32_t*>(&state.r[r]);
        }
        uc_reg_write_batch(uc, regs, values, 16);
    }

    // Performs natively a loop that makes up this whole block, when every instruction
    // of it is of a kind performed exactly; false leaves it to the emulator.
    bool runNativeLoop(std::uint64_t address, std::uint32_t size) {
        if (!settings.watchReads.empty()) return false;
        const auto at = static_cast<std::uint32_t>(address);
        const std::uint64_t key = (address << 12) | size;
        std::uint64_t& slot = notLoop[(at >> 2) & (NOT_LOOP_SLOTS - 1)];
        if (slot == key) return false;
        const std::uint32_t inFrame = FRAME_SIZE - (at & (FRAME_SIZE - 1));
        if (size > inFrame || size > 4 * MAX_LOOP_WORDS) return false;
        const std::uint32_t control = readCp15(uc, 1);
        // Big-endian data and alignment faults are left to the emulator.
        if (control & (CONTROL_BIG_ENDIAN | CONTROL_ALIGNMENT)) {
            slot = key;
            return false;
        }
        LoopPages& p = loopPages;
        p.mmu = (control & CONTROL_MMU) != 0;
        if (p.mmu) {
            p.table = readCp15(uc, 2);
            p.domains = readCp15(uc, 3);
            p.processId = readCp15(uc, 13);
        }
        p.tables.clear();
        p.stored.clear();
        p.storedFrames.clear();
        p.met.clear();

        // The code as the processor fetches it. The emulator ends a block where its
        // translation page ends, so a loop may go on past the block, in the same frame.
        std::uint32_t code[MAX_LOOP_WORDS];
        bool writable = false;
        const std::uint8_t* codeHost = loopPage(at & ~(FRAME_SIZE - 1), writable);
        const std::uint8_t* codeAt = codeHost ? codeHost + (at & (FRAME_SIZE - 1)) : nullptr;
        const bool cut = codeAt && ((at + size) & (translationPage - 1)) == 0;
        const std::uint32_t available = cut ? std::min(inFrame, 4 * MAX_LOOP_WORDS) : size;
        if (codeAt) {
            std::memcpy(code, codeAt, available);
        } else if (!readCode(at, reinterpret_cast<std::uint8_t*>(code), size)) {
            return false;
        }
        auto branchesBack = [](std::uint32_t word, std::uint32_t words) {
            return (word >> 28) != 0xF && ((word >> 24) & 0xF) == 0xA &&
                   (word & 0xFFFFFFu) == ((0x1000000u - (words + 1)) & 0xFFFFFFu);
        };
        std::uint32_t words = size / 4;
        if (cut && !branchesBack(code[words - 1], words)) {
            words = 0;
            for (std::uint32_t i = size / 4; i < available / 4 && words == 0; ++i)
                if (branchesBack(code[i], i + 1)) words = i + 1;
            if (words == 0) {
                slot = key;
                return false;
            }
        }
        const std::uint32_t bytes = 4 * words;
        // The loop's own bytes are never stored to.
        const std::uint8_t* avoidFrom = codeAt;
        const std::uint8_t* avoidTo = codeAt ? codeAt + bytes : nullptr;
        KnownLoop& known = knownLoops[(at >> 2) & (KNOWN_LOOP_SLOTS - 1)];
        if (known.key != key || known.bytes != bytes || std::memcmp(known.code, code, bytes) != 0) {
            std::optional<std::vector<LoopInstruction>> loop = decodeLoop(code, words, preloadCapable);
            if (!loop) {
                slot = key;
                return false;
            }
            known.key = key;
            known.bytes = bytes;
            std::memcpy(known.code, code, bytes);
            known.loop = std::move(*loop);
        }

        LoopState state{};
        readState(state);
        // The user mode's permissions are left to the emulator.
        if ((state.cpsr & CPSR_MODE) == USER_MODE) return false;
        // Rounds within the budget, and few enough that a stop or the time limit is heard.
        std::uint64_t rounds = std::uint64_t{1} << 20;
        if (settings.instructionBudget) {
            const std::uint64_t before = result.instructions - blockInstructions;
            if (before >= settings.instructionBudget) return false;
            rounds = std::min(rounds, (settings.instructionBudget - before) / words);
        }
        if (rounds < 2) return false;

        state.r[15] = at;
        NativeLoopMemory memory(*this);
        const LoopRun run = runLoop(known.loop, state, rounds, memory, avoidFrom, avoidTo);
        // Code translated from what was there before must not run.
        for (std::uint32_t page : p.stored) uc_ctl_remove_cache(uc, page, std::uint64_t{page} + FRAME_SIZE);
        if (run.rounds == 0) return false;

        writeState(state);
        const std::uint64_t more = run.rounds * words - blockInstructions;
        result.instructions += more;
        result.nativeInstructions += more;
        writeRegister(uc, UC_ARM_REG_PC, run.exited ? at + bytes : at);
        // The rounds were many blocks' worth: the time limit is looked at when the loop
        // comes round (a stop is heard there in any case).
        blocks |= 0x3FFF;
        return true;
    }

    static void onInterrupt(uc_engine* uc, std::uint32_t number, void* data) {
        auto* self = static_cast<Engine*>(data);
        self->result.exception = exceptionName(number);
        self->decide(HaltReason::Exception);
        if (number == EXCEPTION_SWI) {
            // The SWI has advanced the pc past itself; the state is that of the
            // instruction, which the count includes.
            self->result.pc -= (readRegister(uc, UC_ARM_REG_CPSR) & CPSR_THUMB) != 0 ? 2 : 4;
        }
        self->faultAt(self->result.pc);
    }

    static bool onInvalid(uc_engine*, uc_mem_type type, std::uint64_t address, int, std::int64_t, void* data) {
        auto* self = static_cast<Engine*>(data);
        self->result.faultAddress = static_cast<std::uint32_t>(address);
        self->result.faultWrite = type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT;
        bool prot = type == UC_MEM_WRITE_PROT || type == UC_MEM_READ_PROT || type == UC_MEM_FETCH_PROT;
        self->decide(prot ? HaltReason::ProtectedAccess : HaltReason::UnmappedAccess);
        self->memoryFault = type != UC_MEM_FETCH_UNMAPPED && type != UC_MEM_FETCH_PROT;
        if (!self->memoryFault) self->result.pc = static_cast<std::uint32_t>(address);
        return false;
    }

    static void onRead(uc_engine*, uc_mem_type, std::uint64_t address, int size, std::int64_t, void* data) {
        auto* self = static_cast<Engine*>(data);
        self->result.reads.push_back({static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(size)});
    }

    static std::uint64_t mmioRead(uc_engine*, std::uint64_t offset, unsigned size, void* data) {
        return static_cast<Device*>(data)->read(static_cast<std::uint32_t>(offset), static_cast<int>(size * 8));
    }

    static void mmioWrite(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value, void* data) {
        static_cast<Device*>(data)->write(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(value),
                                          static_cast<int>(size * 8));
    }

    // The UART's window: its bytes go on to whoever watches as they are sent.
    static void uartWrite(uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value, void* data) {
        auto* self = static_cast<Engine*>(data);
        Uart* uart = self->device.uart();
        uart->write(static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(value), static_cast<int>(size * 8));
        const std::string& sent = uart->sent();
        if (sent.size() > self->uartSent && self->settings.uartOutput)
            self->settings.uartOutput(std::string_view(sent).substr(self->uartSent));
        self->uartSent = sent.size();
    }

    // Runs the last instructions of the budget, which end inside a block, counted by
    // the emulator itself.
    void finishBudget() {
        const std::uint64_t tail = budgetTail;
        const std::uint64_t counted = result.instructions;
        const std::uint32_t pc = result.pc;
        decided = false;
        finishing = true;
        blockInstructions = 0;
        const bool thumb = (readRegister(uc, UC_ARM_REG_CPSR) & CPSR_THUMB) != 0;
        // The block's translation from before counts nothing one by one: it is made
        // again for these instructions, and once more for any later run.
        const std::uint64_t blockEnd = std::uint64_t{pc} + blockSize;
        uc_ctl_remove_cache(uc, pc, blockEnd);
        uc_emu_start(uc, pc | (thumb ? 1u : 0u), 1, 0, tail);
        uc_ctl_remove_cache(uc, pc, blockEnd);
        if (memoryFault) findFaultingInstruction();
        if (!decided) {
            decided = true;
            result.reason = HaltReason::BudgetExhausted;
            result.pc = readRegister(uc, UC_ARM_REG_PC);
            result.instructions = counted + tail;
        }
    }
};

Emulator::Emulator(Handheld& device, EmulationSettings settings)
    : engine_(std::make_unique<Engine>(device, std::move(settings))) {
    {
        // The named model usually reads back the device's ID: open the real engine
        // with it and search the models (a whole CPU built for each) only if not.
        std::uint32_t wanted = device.settings().mainId;
        check(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &engine_->uc), "uc_open");
        uc_engine* uc = engine_->uc;
        const int named = namedModel(wanted);
        if (named < 0 || uc_ctl_set_cpu_model(uc, named) != UC_ERR_OK || readCp15(uc, 0) != wanted) {
            uc_close(uc);
            engine_->uc = uc = nullptr;
            int model = modelFor(wanted);
            if (model < 0) throw std::runtime_error("no emulated CPU model has main ID " + hex(wanted));
            check(uc_open(UC_ARCH_ARM, UC_MODE_ARM, &engine_->uc), "uc_open");
            uc = engine_->uc;
            check(uc_ctl_set_cpu_model(uc, model), "CPU model");
        }

        // RAM in place: what the code writes is in the simulated DRAM afterwards.
        for (const RamBank& bank : device.memory().banks())
            check(uc_mem_map_ptr(uc, bank.base, bank.size, UC_PROT_ALL, device.memory().host(PhysicalAddress(bank.base))),
                  "mapping RAM at " + hex(bank.base));
        for (Device* d : device.devices()) {
            if (d == device.uart())
                check(uc_mmio_map(uc, d->base(), d->size(), &Engine::mmioRead, d, &Engine::uartWrite, engine_.get()),
                      "mapping " + d->name());
            else
                check(uc_mmio_map(uc, d->base(), d->size(), &Engine::mmioRead, d, &Engine::mmioWrite, d),
                      "mapping " + d->name());
        }

        check(uc_mem_map(uc, CODE_WINDOW, CODE_WINDOW_SIZE, UC_PROT_READ | UC_PROT_EXEC), "mapping the code window");
        std::uint32_t trap = BRANCH_TO_SELF;
        check(uc_mem_write(uc, RETURN_TRAP, &trap, 4), "placing the return trap");
        std::size_t page = 0;
        if (uc_query(uc, UC_QUERY_PAGE_SIZE, &page) == UC_ERR_OK && page >= 4 && page <= 0x10000)
            engine_->translationPage = static_cast<std::uint32_t>(page);
    }
}

Emulator::~Emulator() = default;

void Emulator::placeCode(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::uint32_t first = RETURN_TRAP + 4;
    if (address < first || address - CODE_WINDOW > CODE_WINDOW_SIZE ||
        CODE_WINDOW_SIZE - (address - CODE_WINDOW) < bytes.size())
        throw std::invalid_argument("code does not fit the code window at " + hex(address));
    check(uc_mem_write(engine_->uc, address, bytes.data(), bytes.size()), "placing code");
}

void Emulator::mapRegion(std::uint32_t address, std::uint32_t size, std::span<const std::uint8_t> bytes) {
    std::uint32_t mapped = (size + REGION_ALIGNMENT - 1) & ~(REGION_ALIGNMENT - 1);
    if (address % REGION_ALIGNMENT != 0 || mapped < bytes.size())
        throw std::invalid_argument("region at " + hex(address) + " is not page aligned or too small");
    check(uc_mem_map(engine_->uc, address, mapped, UC_PROT_ALL), "mapping a region at " + hex(address));
    if (!bytes.empty()) check(uc_mem_write(engine_->uc, address, bytes.data(), bytes.size()), "filling a region");
}

std::uint32_t Emulator::readWord(std::uint32_t address) {
    std::uint32_t value = 0;
    check(uc_mem_read(engine_->uc, address, &value, 4), "reading " + hex(address));
    return value;
}

void Emulator::writeWord(std::uint32_t address, std::uint32_t value) {
    check(uc_mem_write(engine_->uc, address, &value, 4), "writing " + hex(address));
}

void Emulator::setKernelEntry(std::uint32_t entry) { engine_->result.entry = entry; }

std::uint32_t Emulator::mainId() { return readCp15(engine_->uc, 0); }

HandOverResult Emulator::run(std::uint32_t entry, std::array<std::uint32_t, 4> args, std::uint32_t cpsr) {
    Engine& e = *engine_;
    uc_engine* uc = e.uc;
    e.startRun();
    for (uc_hook hook : e.runHooks) uc_hook_del(uc, hook);
    e.runHooks.clear();

    auto hook = [&](int type, void* callback, std::uint64_t begin = 1, std::uint64_t end = 0) {
        uc_hook handle;
        check(uc_hook_add(uc, &handle, type, callback, &e, begin, end), "adding a hook");
        e.runHooks.push_back(handle);
    };
    hook(UC_HOOK_BLOCK, reinterpret_cast<void*>(&Engine::onBlock));
    hook(UC_HOOK_INTR, reinterpret_cast<void*>(&Engine::onInterrupt));
    hook(UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Engine::onInvalid));
    for (const WatchedRange& range : e.settings.watchReads)
        if (range.end > range.begin) hook(UC_HOOK_MEM_READ, reinterpret_cast<void*>(&Engine::onRead), range.begin, range.end - 1);

    // The mode first: the banked registers are those of the mode the code runs in.
    writeRegister(uc, UC_ARM_REG_CPSR, cpsr);
    for (int i = 0; i < 4; ++i) writeRegister(uc, UC_ARM_REG_R0 + i, args[i]);
    writeRegister(uc, UC_ARM_REG_LR, RETURN_TRAP);

    if (e.settings.stopAt == StopAt::Entry && e.result.entry != 0) {
        e.stopAddresses[0] = e.result.entry;
        // The PXA-2x0 loader enters the kernel folded into the first 16 MB of SDRAM.
        if (e.device.settings().cpu == CpuFamily::PXA2x0) e.stopAddresses[1] = 0xA0000000u | (e.result.entry & 0x00FFFFFFu);
    }
    e.uartSent = e.device.uart() ? e.device.uart()->sent().size() : 0;
    e.result.uartSentBefore = e.uartSent;

    // An odd address is never reached in ARM state, so only the hooks end the run.
    auto started = std::chrono::steady_clock::now();
    double cpuStarted = threadCpuSeconds();
    // Limits beyond a year are no limit worth converting (and would overflow).
    double timeout = std::min(e.settings.timeoutSeconds, 365.0 * 24 * 3600);
    e.deadline = started + std::chrono::microseconds(static_cast<std::int64_t>(timeout * 1e6));
    runsInProgress.fetch_add(1);
    stopRequested.store(false);
    uc_err error = uc_emu_start(uc, entry, 1, 0, 0);
    if (e.memoryFault) e.findFaultingInstruction();
    if (e.decided && e.result.reason == HaltReason::BudgetExhausted && e.budgetTail > 0) e.finishBudget();
    runsInProgress.fetch_sub(1);
    e.result.seconds = threadCpuSeconds() - cpuStarted;
    if (!e.decided) {
        e.decided = true;
        e.result.pc = readRegister(uc, UC_ARM_REG_PC);
        if (error == UC_ERR_INSN_INVALID) {
            e.result.reason = HaltReason::Exception;
            e.result.exception = exceptionName(EXCEPTION_UNDEFINED);
            e.faultAt(e.result.pc);
        } else if (error == UC_ERR_EXCEPTION) {
            e.result.reason = HaltReason::Exception;
            e.result.exception = exceptionName(0);
        } else {
            e.result.reason = HaltReason::Failed;
            e.result.error = error == UC_ERR_OK ? "stopped without a cause" : uc_strerror(error);
        }
    }
    for (int i = 0; i < 13; ++i) e.result.r[i] = readRegister(uc, UC_ARM_REG_R0 + i);
    e.result.r[13] = readRegister(uc, UC_ARM_REG_SP);
    e.result.r[14] = readRegister(uc, UC_ARM_REG_LR);
    // The pc reported is the state's own program counter.
    e.result.r[15] = e.result.pc;
    e.result.cpsr = readRegister(uc, UC_ARM_REG_CPSR);
    e.result.control = readCp15(uc, 1);
    e.result.translationTable = readCp15(uc, 2);
    e.result.processId = readCp15(uc, 13);
    return e.result;
}

std::optional<std::uint32_t> physicalAddressOf(const PhysicalMemory& memory, std::uint32_t control,
                                               std::uint32_t translationTable, std::uint32_t processId,
                                               std::uint32_t va) {
    if ((control & CONTROL_MMU) == 0) return va;
    // The fast context switch extension relocates the lowest 32 MB.
    const std::uint32_t mva = va < PageTables::SLOT_SIZE ? va | (processId & 0xFE000000u) : va;
    const std::optional<PhysicalAddress> pa = translateThrough(memory, translationTable, mva);
    if (!pa) return std::nullopt;
    return pa->value();
}

std::string HandOverResult::describe() const {
    std::string at = " at " + hex(pc);
    // A run that counted nothing says no count.
    if (instructionsExact || instructions > 0)
        at += " after " + std::string(instructionsExact ? "" : "about ") + std::to_string(instructions) + " instructions";
    switch (reason) {
    case HaltReason::Halted: return "halted" + at;
    case HaltReason::Returned: return "returned to the caller" + at;
    case HaltReason::Exception: return exception + at;
    case HaltReason::UnmappedAccess:
        return std::string("unmapped ") + (faultWrite ? "write to " : "access to ") + hex(faultAddress) + at;
    case HaltReason::ProtectedAccess: return "write to read-only " + hex(faultAddress) + at;
    case HaltReason::BudgetExhausted: return "instruction budget exhausted" + at;
    case HaltReason::TimedOut: return "time limit reached" + at;
    case HaltReason::Interrupted: return "interrupted" + at;
    case HaltReason::Stopped: return "stopped as asked" + at;
    case HaltReason::Failed: return "emulation failed: " + error;
    }
    return "unknown";
}

HandOver::HandOver(HandOverResult result) : result_(std::move(result)), what_("hand-over " + result_.describe()) {}

void handOver(Handheld& device, std::span<const std::uint8_t> flatJumpCode, std::array<std::uint32_t, 4> args) {
    CpuState& cpu = device.cpu();
    HandOverResult result;
    // The kernel's entry is the first word of the call record the first argument
    // points at.
    std::uint32_t entry = 0;
    if (device.memory().contains(PhysicalAddress(args[0]), 4)) entry = device.memory().readWord(PhysicalAddress(args[0]));
    std::size_t uartSent = device.uart() ? device.uart()->sent().size() : 0;
    // The boot information page as the kernel is given it: the kernel may reuse it.
    std::vector<std::uint8_t> bootPage;
    if (device.memory().contains(PhysicalAddress(args[0]), BOOT_PAGE_BYTES)) {
        const std::uint8_t* page = device.memory().host(PhysicalAddress(args[0]));
        bootPage.assign(page, page + BOOT_PAGE_BYTES);
    }
    try {
        std::string refusal = cpu.emulation.beforeJump ? cpu.emulation.beforeJump(args) : std::string();
        if (!refusal.empty()) {
            result.reason = HaltReason::Failed;
            result.error = refusal;
        } else if (cpu.emulation.stopAt == StopAt::Jump) {
            // Nothing runs: the machine as Windows CE leaves it.
            result.reason = HaltReason::Stopped;
            result.pc = FLAT_JUMP_ADDRESS;
            for (int i = 0; i < 4; ++i) result.r[i] = args[i];
            result.r[14] = RETURN_TRAP;
            result.r[15] = FLAT_JUMP_ADDRESS;
            result.cpsr = cpu.currentCpsr();
            result.control = cpu.control;
        } else {
            // From here on the machine runs on physical memory alone.
            device.addressSpace().dropHostPageEntries();
            Emulator emulator(device, cpu.emulation);
            emulator.placeCode(FLAT_JUMP_ADDRESS, flatJumpCode);
            emulator.setKernelEntry(entry);
            result = emulator.run(FLAT_JUMP_ADDRESS, args, cpu.currentCpsr());
        }
        // Windows CE is gone; the processor is as the kernel left it.
        if (refusal.empty()) {
            cpu.control = result.control;
            cpu.cpsr = (cpu.cpsr & 0x1Fu) | (result.cpsr & ~0x1Fu);
        }
    } catch (const std::exception& failure) {
        result.reason = HaltReason::Failed;
        result.error = failure.what();
    }
    result.entry = entry;
    result.jumpArguments = args;
    result.bootPageAtJump = std::move(bootPage);
    result.uartSentBefore = uartSent;
    cpu.handOver = result;
    throw HandOver(std::move(result));
}

bool requestStop() {
    stopRequested.store(true);
    return runsInProgress.load() > 0;
}

std::optional<HandOverResult> runBoot(const std::function<void()>& boot) {
    try {
        boot();
    } catch (const HandOver& over) {
        return over.result();
    }
    return std::nullopt;
}

}  // namespace sim
