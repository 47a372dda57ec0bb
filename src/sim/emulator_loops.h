// Loops the emulator performs natively: a block of ARM instructions that ends in a
// branch back to its own start, each instruction of a kind performed here exactly as
// the processor performs it. Debian's Unicorn takes a slow path for every store to
// RAM, which is most of what a kernel's memset, memcpy and copy_page do.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

// One instruction of such a loop, decoded once for all its rounds.
struct LoopInstruction {
    enum class Kind : std::uint8_t { DataProcessing, Transfer, Multiple, Branch, Preload };
    Kind kind;
    std::uint8_t condition;  // as encoded; for a hint, one that is never met
    std::uint8_t rd = 0, rn = 0, rm = 0;
    std::uint8_t opcode = 0;       // data processing
    std::uint8_t shiftType = 0;    // a register operand's shift (lsl, lsr, asr, ror)
    std::uint8_t shiftAmount = 0;  // as encoded: 0 means 32 for lsr and asr, rrx for ror
    bool immediate = false;        // the operand (or a transfer's offset) is `constant`
    bool rotatedImmediate = false; // an immediate whose rotation sets the shifter's carry
    bool setsFlags = false;
    bool pre = false, up = false, byte = false, writeback = false, load = false;
    std::uint8_t count = 0;        // registers a multiple moves, lowest first in `registers`
    std::uint8_t registers[16] = {};
    std::uint32_t constant = 0;
    std::uint32_t word = 0;
};

// The loop's instructions when every one is of a kind performed natively and the
// last is the branch back; none otherwise. `preload`: the processor has pld (ARMv5TE),
// a hint with nothing to perform; otherwise that encoding is undefined.
std::optional<std::vector<LoopInstruction>> decodeLoop(const std::uint32_t* code, std::uint32_t words, bool preload);

// Where the loop's memory accesses land.
class LoopMemory {
public:
    virtual ~LoopMemory() = default;
    // The host bytes of the 4 KB page at `va` (a page's first address) as the
    // processor reaches it, and whether stores may go there; null where that is not
    // plain RAM the processor may touch (the run then stops before the round).
    virtual std::uint8_t* page(std::uint32_t va, bool& writable) = 0;
    // The loop has stored into the page at `va` (once for each page a run meets).
    virtual void stored(std::uint32_t va) = 0;
};

struct LoopState {
    std::uint32_t r[16];  // r15 is the block's address
    std::uint32_t cpsr;
};

struct LoopRun {
    std::uint64_t rounds = 0;  // whole rounds performed
    bool exited = false;       // the last one fell through the branch
};

// Performs up to `maxRounds` rounds of the loop on `state`. A round that would make
// an access the memory refuses, store into the host bytes [avoidFrom, avoidTo) (the
// loop's own code) or move a word or multiple at an unaligned address is not
// performed: the state and memory are those after the last whole round.
LoopRun runLoop(const std::vector<LoopInstruction>& loop, LoopState& state, std::uint64_t maxRounds,
                LoopMemory& memory, const std::uint8_t* avoidFrom, const std::uint8_t* avoidTo);

}  // namespace sim
