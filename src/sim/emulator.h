// The emulated hand-over: an ARM emulator (Unicorn) set to the handheld's CPU model,
// with the simulated DRAM mapped in place and the device windows reaching the same
// simulated devices. The flat jump's host body starts it on the real assembled code;
// what the kernel leaves in memory and sends to the UART stays in the handheld.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <string>
#include <vector>

#include "sim/physical_memory.h"

namespace sim {

class Handheld;

// Low addresses with nothing of the handheld behind them, where the emulator places
// code that on the device runs at a virtual address of the boot loader (the flat
// jump, routines called on their own). Read-only and executable.
constexpr std::uint32_t CODE_WINDOW = 0x00010000;
constexpr std::uint32_t CODE_WINDOW_SIZE = 0x10000;
// A branch to itself at the window's start: the return address of whatever the
// emulator calls, so that code returning to its caller halts there.
constexpr std::uint32_t RETURN_TRAP = CODE_WINDOW;
// Where the flat jump's code is placed for the hand-over.
constexpr std::uint32_t FLAT_JUMP_ADDRESS = CODE_WINDOW + 0x100;
// What a hand-over keeps of the boot information page as it was at the jump.
constexpr std::uint32_t BOOT_PAGE_BYTES = 4096;

struct WatchedRange {
    std::uint32_t begin;
    std::uint32_t end;  // exclusive
};

struct MemoryRead {
    std::uint32_t address;
    std::uint32_t size;
    bool operator==(const MemoryRead&) const = default;
};

// Where a hand-over is stopped on purpose, to look at the machine at that point.
enum class StopAt {
    Never,
    Jump,   // at the flat jump, before anything runs: the state Windows CE leaves
    Entry,  // when the kernel's entry point is reached: the state the kernel receives
};

// How an emulated run is set up beyond the handheld itself.
struct EmulationSettings {
    // Runs longer than this many instructions end as BudgetExhausted after exactly
    // this many; 0: no limit.
    std::uint64_t instructionBudget = 200'000'000;
    // Runs longer than this many seconds of host time end as TimedOut; 0: no limit.
    double timeoutSeconds = 0;
    StopAt stopAt = StopAt::Never;
    // Reads inside these ranges are recorded in the result, in order.
    std::vector<WatchedRange> watchReads;
    // Bytes the handheld's UART sends while the emulator runs, as it sends them.
    std::function<void(std::string_view)> uartOutput;
    // Asked with the flat jump's r0..r3 before anything runs: a reason not to jump
    // ends the hand-over as Failed with that reason, the machine untouched.
    std::function<std::string(const std::array<std::uint32_t, 4>&)> beforeJump;
};

enum class HaltReason {
    Halted,           // reached a branch to itself: the program is done
    Returned,         // came back to RETURN_TRAP
    Exception,        // undefined instruction, SWI, abort, breakpoint
    UnmappedAccess,   // read, write or fetch where nothing is mapped
    ProtectedAccess,  // write into the read-only code window
    BudgetExhausted,
    TimedOut,         // the run's time limit passed
    Interrupted,      // requestStop() was called
    Stopped,          // reached the point EmulationSettings::stopAt asked for
    Failed,           // the emulator could not be set up
};

struct HandOverResult {
    HaltReason reason = HaltReason::Failed;
    std::uint32_t pc = 0;  // the halt, or the instruction that faulted
    std::array<std::uint32_t, 16> r{};  // r[15] is pc
    std::uint32_t cpsr = 0;
    std::uint32_t control = 0;  // CP15 c1 at the end
    // CP15 c2 and c13 at the end: where virtual addresses lead while the MMU is on.
    std::uint32_t translationTable = 0;
    std::uint32_t processId = 0;
    // Begun, the faulting one included, as the emulator counts them when stepping
    // (a Thumb bl pair is one). Counted a block at a time, ARM and Thumb alike; false
    // only where a fault inside Thumb code leaves the faulting instruction unknown.
    std::uint64_t instructions = 0;
    bool instructionsExact = true;
    // Of those, the ones a shortcut performed natively instead of emulating them.
    std::uint64_t nativeInstructions = 0;
    // Which emulator ran: "unicorn", or "qemu" for the whole machine, which counts no
    // instructions (then 0, not exact).
    std::string emulator = "unicorn";
    double seconds = 0;              // host processor time spent emulating
    std::uint32_t entry = 0;         // the kernel's entry, where the loader enters it
    std::array<std::uint32_t, 4> jumpArguments{};  // the flat jump's r0..r3
    // The page the first argument points at, as it was at the jump (empty when not in RAM).
    std::vector<std::uint8_t> bootPageAtJump;
    std::size_t uartSentBefore = 0;  // bytes the UART had sent when the jump began
    std::string exception;           // "undefined instruction", "software interrupt", ...
    std::uint32_t faultAddress = 0;  // for UnmappedAccess and ProtectedAccess
    bool faultWrite = false;
    std::vector<MemoryRead> reads;  // the watched reads
    std::string error;              // for Failed

    std::string describe() const;
};

// Where the processor finds a virtual address with the given control, translation
// table and process ID registers: the address itself while the MMU is off, else what
// the table in RAM makes of it (none when it maps nothing).
std::optional<std::uint32_t> physicalAddressOf(const PhysicalMemory& memory, std::uint32_t control,
                                               std::uint32_t translationTable, std::uint32_t processId,
                                               std::uint32_t va);

class Emulator {
public:
    // Picks the CPU model whose main ID is the handheld's, maps its RAM banks and
    // device windows and the code window. Throws std::runtime_error when it cannot.
    explicit Emulator(Handheld& device, EmulationSettings settings = {});
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    // Copies bytes to `address` in the code window, behind the return trap.
    void placeCode(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // Maps a zeroed region of its own (readable, writable, executable), then copies
    // bytes to its start.
    void mapRegion(std::uint32_t address, std::uint32_t size, std::span<const std::uint8_t> bytes = {});
    std::uint32_t readWord(std::uint32_t address);
    void writeWord(std::uint32_t address, std::uint32_t value);

    // Runs from entry with r0..r3 = args, CPSR = cpsr (its mode included), lr =
    // RETURN_TRAP, until a halt, a fault or the budget.
    HandOverResult run(std::uint32_t entry, std::array<std::uint32_t, 4> args, std::uint32_t cpsr);

    std::uint32_t mainId();
    // Where the kernel will be entered, for StopAt::Entry and the result.
    void setKernelEntry(std::uint32_t entry);

private:
    struct Engine;
    std::unique_ptr<Engine> engine_;
};

// Thrown by the flat jump's host body when the emulated hand-over is over. On the
// device nothing runs after the flat jump, so on the host the boot attempt is left by
// unwinding to whoever started it (runBoot); the outcome is also kept in the
// handheld's CPU state (CpuState::handOver).
class HandOver : public std::exception {
public:
    explicit HandOver(HandOverResult result);
    const HandOverResult& result() const { return result_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    HandOverResult result_;
    std::string what_;
};

// The flat jump's host body: runs the flat-jump code with the four arguments and the
// handheld's CPSR, records the outcome and throws HandOver. Never returns.
[[noreturn]] void handOver(Handheld& device, std::span<const std::uint8_t> flatJumpCode,
                           std::array<std::uint32_t, 4> args);

// Runs a boot attempt (or anything that may reach the flat jump): the hand-over's
// result, or nothing when `boot` came back without jumping.
std::optional<HandOverResult> runBoot(const std::function<void()>& boot);

// Asks the emulation in progress to end as Interrupted at its next block. Safe from
// a signal handler or another thread. True when an emulation was running to hear it;
// otherwise the request is dropped.
bool requestStop();

}  // namespace sim
