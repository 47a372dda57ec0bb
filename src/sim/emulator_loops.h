// Loops the emulator performs natively: a block of ARM instructions that ends in a
// branch back to its own start, each instruction of a kind performed here exactly as
// the processor performs it. Debian's Unicorn takes a slow path for every store to
// RAM, which is most of what a kernel's memset, memcpy and copy_page do.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sim {

// One decoded instruction of such a loop.
struct LoopInstruction {
    enum class Kind : std::uint8_t { DataProcessing, Transfer, Multiple, Branch };
    Kind kind;
    std::uint8_t condition;
    std::uint32_t word;
};

// The loop's instructions when every one is of a kind performed natively and the
// last is the branch back; none otherwise.
std::optional<std::vector<LoopInstruction>> decodeLoop(const std::uint32_t* code, std::uint32_t words);

// Where the loop's memory accesses land: a host pointer for `size` bytes at the
// virtual address, or null where the access is not plain RAM the processor may
// touch (the run then stops before the round).
using LoopMemory = std::function<std::uint8_t*(std::uint32_t va, std::uint32_t size, bool write)>;

struct LoopState {
    std::uint32_t r[16];  // r15 is the block's address
    std::uint32_t cpsr;
};

struct LoopRun {
    std::uint64_t rounds = 0;  // whole rounds performed
    bool exited = false;       // the last one fell through the branch
};

// Performs up to `maxRounds` rounds of the loop on `state`. A round that would make
// an access the memory refuses, load bytes it has stored itself, store into the host
// bytes [avoidFrom, avoidTo) (the loop's own code) or move a word or multiple at an
// unaligned address is not performed: the state is that after the last whole round.
LoopRun runLoop(const std::vector<LoopInstruction>& loop, LoopState& state, std::uint64_t maxRounds,
                const LoopMemory& memory, const std::uint8_t* avoidFrom, const std::uint8_t* avoidTo);

}  // namespace sim
