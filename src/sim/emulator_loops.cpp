// Loops performed natively, instruction by instruction as the processor performs them.
#include "sim/emulator_loops.h"

#include <cstring>

namespace sim {

namespace {

constexpr std::uint32_t FLAG_N = 1u << 31;
constexpr std::uint32_t FLAG_Z = 1u << 30;
constexpr std::uint32_t FLAG_C = 1u << 29;
constexpr std::uint32_t FLAG_V = 1u << 28;
constexpr std::uint32_t PC = 15;
constexpr std::uint32_t PAGE = 4096;

bool passes(std::uint32_t condition, std::uint32_t cpsr) {
    const bool n = cpsr & FLAG_N, z = cpsr & FLAG_Z, c = cpsr & FLAG_C, v = cpsr & FLAG_V;
    switch (condition) {
    case 0x0: return z;
    case 0x1: return !z;
    case 0x2: return c;
    case 0x3: return !c;
    case 0x4: return n;
    case 0x5: return !n;
    case 0x6: return v;
    case 0x7: return !v;
    case 0x8: return c && !z;
    case 0x9: return !c || z;
    case 0xA: return n == v;
    case 0xB: return n != v;
    case 0xC: return !z && n == v;
    case 0xD: return z || n != v;
    default: return true;
    }
}

std::uint32_t rotateRight(std::uint32_t value, std::uint32_t amount) {
    amount &= 31;
    return amount ? (value >> amount) | (value << (32 - amount)) : value;
}

// A register operand shifted by an immediate amount, and the shifter's carry out.
std::uint32_t shifted(std::uint32_t rm, std::uint32_t word, bool carryIn, bool& carry) {
    const std::uint32_t amount = (word >> 7) & 0x1F;
    carry = carryIn;
    switch ((word >> 5) & 3) {
    case 0:  // lsl
        if (amount == 0) return rm;
        carry = (rm >> (32 - amount)) & 1;
        return rm << amount;
    case 1:  // lsr; #0 is #32
        if (amount == 0) {
            carry = rm >> 31;
            return 0;
        }
        carry = (rm >> (amount - 1)) & 1;
        return rm >> amount;
    case 2:  // asr; #0 is #32
        if (amount == 0) {
            carry = rm >> 31;
            return (rm >> 31) ? 0xFFFFFFFFu : 0;
        }
        carry = (rm >> (amount - 1)) & 1;
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(rm) >> amount);
    default:  // ror; #0 is rrx
        if (amount == 0) {
            carry = rm & 1;
            return (carryIn ? 0x80000000u : 0) | (rm >> 1);
        }
        carry = (rm >> (amount - 1)) & 1;
        return rotateRight(rm, amount);
    }
}

// A store of this round, made once the round has gone through: `bytes` bytes from
// the round's buffer at `from`.
struct Store {
    std::uint8_t* host;
    std::uint32_t from;
    std::uint32_t bytes;
};

}  // namespace

std::optional<std::vector<LoopInstruction>> decodeLoop(const std::uint32_t* code, std::uint32_t words) {
    if (words < 2 || words > 32) return std::nullopt;
    std::vector<LoopInstruction> loop;
    loop.reserve(words);
    for (std::uint32_t i = 0; i < words; ++i) {
        const std::uint32_t w = code[i];
        const auto condition = static_cast<std::uint8_t>(w >> 28);
        if (condition == 0xF) return std::nullopt;
        const std::uint32_t rn = (w >> 16) & 0xF, rd = (w >> 12) & 0xF;
        if (i + 1 == words) {
            // b back to the first instruction: the offset counts from the branch plus 8.
            if (((w >> 24) & 0xF) != 0xA || (w & 0xFFFFFFu) != ((0x1000000u - (words + 1)) & 0xFFFFFFu)) return std::nullopt;
            loop.push_back({LoopInstruction::Kind::Branch, condition, w});
        } else if (((w >> 26) & 3) == 0) {
            const bool immediate = (w >> 25) & 1;
            const std::uint32_t opcode = (w >> 21) & 0xF;
            const bool setsFlags = (w >> 20) & 1;
            if (!immediate && (w & 0x10)) return std::nullopt;  // shift by a register, multiply, halfword
            if (opcode >= 8 && opcode <= 11 && !setsFlags) return std::nullopt;  // status registers, bx
            if (rd == PC) return std::nullopt;
            loop.push_back({LoopInstruction::Kind::DataProcessing, condition, w});
        } else if (((w >> 26) & 3) == 1) {
            const bool registerOffset = (w >> 25) & 1;
            const bool pre = (w >> 24) & 1, writeback = (w >> 21) & 1;
            if (registerOffset && ((w & 0x10) || (w & 0xF) == PC)) return std::nullopt;
            if (!pre && writeback) return std::nullopt;  // the user-mode forms
            if (rd == PC) return std::nullopt;
            if ((!pre || writeback) && (rn == PC || rn == rd)) return std::nullopt;
            loop.push_back({LoopInstruction::Kind::Transfer, condition, w});
        } else if (((w >> 25) & 7) == 4) {
            const std::uint32_t list = w & 0xFFFF;
            const bool writeback = (w >> 21) & 1;
            if ((w >> 22) & 1) return std::nullopt;  // user registers, or the SPSR
            if (list == 0 || (list & (1u << PC)) || rn == PC) return std::nullopt;
            if (writeback && (list & (1u << rn))) return std::nullopt;
            loop.push_back({LoopInstruction::Kind::Multiple, condition, w});
        } else {
            return std::nullopt;
        }
    }
    return loop;
}

LoopRun runLoop(const std::vector<LoopInstruction>& loop, LoopState& state, std::uint64_t maxRounds,
                const LoopMemory& memory, const std::uint8_t* avoidFrom, const std::uint8_t* avoidTo) {
    LoopRun run;
    const std::uint32_t start = state.r[PC];
    std::vector<Store> stores;
    stores.reserve(64);
    std::uint32_t words[16];
    std::uint32_t buffer[512];
    while (run.rounds < maxRounds) {
        std::uint32_t r[16];
        std::memcpy(r, state.r, sizeof r);
        std::uint32_t cpsr = state.cpsr;
        stores.clear();
        std::uint32_t buffered = 0;
        // Stores of this round not made yet lie in [pendingFrom, pendingTo) of the host.
        const std::uint8_t* pendingFrom = nullptr;
        const std::uint8_t* pendingTo = nullptr;
        bool ok = true, taken = false;
        auto store = [&](std::uint8_t* host, const std::uint32_t* values, std::uint32_t bytes) {
            if (host + bytes > avoidFrom && host < avoidTo) return false;
            if (buffered * 4 + bytes > sizeof buffer) return false;
            std::memcpy(buffer + buffered, values, bytes);
            stores.push_back({host, buffered, bytes});
            buffered += (bytes + 3) / 4;
            if (!pendingFrom || host < pendingFrom) pendingFrom = host;
            if (!pendingTo || host + bytes > pendingTo) pendingTo = host + bytes;
            return true;
        };
        // A load of bytes this round has stored already is left to the emulator.
        auto clearOfStores = [&](const std::uint8_t* host, std::uint32_t size) {
            return !pendingFrom || host + size <= pendingFrom || host >= pendingTo;
        };
        for (std::size_t i = 0; ok && i < loop.size(); ++i) {
            const LoopInstruction& instruction = loop[i];
            const std::uint32_t w = instruction.word;
            const bool conditionMet = passes(instruction.condition, cpsr);
            if (instruction.kind == LoopInstruction::Kind::Branch) {
                taken = conditionMet;
                break;
            }
            if (!conditionMet) continue;
            r[PC] = start + 4 * static_cast<std::uint32_t>(i) + 8;
            const std::uint32_t rn = (w >> 16) & 0xF, rd = (w >> 12) & 0xF;
            const bool carryIn = cpsr & FLAG_C;
            switch (instruction.kind) {
            case LoopInstruction::Kind::DataProcessing: {
                bool carry = carryIn;
                std::uint32_t operand;
                if ((w >> 25) & 1) {
                    const std::uint32_t rotate = 2 * ((w >> 8) & 0xF);
                    operand = rotateRight(w & 0xFF, rotate);
                    if (rotate) carry = operand >> 31;
                } else {
                    operand = shifted(r[w & 0xF], w, carryIn, carry);
                }
                const std::uint32_t a = r[rn];
                const std::uint32_t opcode = (w >> 21) & 0xF;
                std::uint32_t result = 0;
                bool overflow = cpsr & FLAG_V;
                bool logical = false;
                auto subtract = [&](std::uint32_t x, std::uint32_t y, std::uint32_t borrow) {
                    const std::uint32_t value = x - y - borrow;
                    carry = std::uint64_t{x} >= std::uint64_t{y} + borrow;
                    overflow = (((x ^ y) & (x ^ value)) >> 31) != 0;
                    return value;
                };
                auto add = [&](std::uint32_t x, std::uint32_t y, std::uint32_t carryBit) {
                    const std::uint64_t sum = std::uint64_t{x} + y + carryBit;
                    const auto value = static_cast<std::uint32_t>(sum);
                    carry = (sum >> 32) != 0;
                    overflow = ((~(x ^ y) & (x ^ value)) >> 31) != 0;
                    return value;
                };
                switch (opcode) {
                case 0x0: case 0x8: result = a & operand; logical = true; break;
                case 0x1: case 0x9: result = a ^ operand; logical = true; break;
                case 0x2: case 0xA: result = subtract(a, operand, 0); break;
                case 0x3: result = subtract(operand, a, 0); break;
                case 0x4: case 0xB: result = add(a, operand, 0); break;
                case 0x5: result = add(a, operand, carryIn ? 1 : 0); break;
                case 0x6: result = subtract(a, operand, carryIn ? 0 : 1); break;
                case 0x7: result = subtract(operand, a, carryIn ? 0 : 1); break;
                case 0xC: result = a | operand; logical = true; break;
                case 0xD: result = operand; logical = true; break;
                case 0xE: result = a & ~operand; logical = true; break;
                default: result = ~operand; logical = true; break;
                }
                if ((w >> 20) & 1) {
                    cpsr &= ~(FLAG_N | FLAG_Z | FLAG_C | (logical ? 0 : FLAG_V));
                    cpsr |= (result & FLAG_N) | (result == 0 ? FLAG_Z : 0) | (carry ? FLAG_C : 0);
                    if (!logical && overflow) cpsr |= FLAG_V;
                }
                if (opcode < 8 || opcode > 11) r[rd] = result;
                break;
            }
            case LoopInstruction::Kind::Transfer: {
                bool unused = false;
                const std::uint32_t offset = (w >> 25) & 1 ? shifted(r[w & 0xF], w, carryIn, unused) : w & 0xFFF;
                const bool pre = (w >> 24) & 1, up = (w >> 23) & 1, byte = (w >> 22) & 1;
                const bool writeback = (w >> 21) & 1, load = (w >> 20) & 1;
                const std::uint32_t base = r[rn];
                const std::uint32_t moved = up ? base + offset : base - offset;
                const std::uint32_t address = pre ? moved : base;
                const std::uint32_t size = byte ? 1 : 4;
                if (address & (size - 1)) {
                    ok = false;
                    break;
                }
                std::uint8_t* host = memory(address, size, !load);
                if (!host) {
                    ok = false;
                    break;
                }
                if (load) {
                    if (!clearOfStores(host, size)) {
                        ok = false;
                        break;
                    }
                    std::uint32_t value = 0;
                    std::memcpy(&value, host, size);
                    r[rd] = value;
                } else if (!store(host, &r[rd], size)) {
                    ok = false;
                    break;
                }
                if (!pre || writeback) r[rn] = moved;
                break;
            }
            case LoopInstruction::Kind::Multiple: {
                const std::uint32_t list = w & 0xFFFF;
                const auto count = static_cast<std::uint32_t>(__builtin_popcount(list));
                const bool pre = (w >> 24) & 1, up = (w >> 23) & 1;
                const bool writeback = (w >> 21) & 1, load = (w >> 20) & 1;
                const std::uint32_t base = r[rn];
                const std::uint32_t first = up ? (pre ? base + 4 : base) : (pre ? base - 4 * count : base - 4 * count + 4);
                if (first & 3) {
                    ok = false;
                    break;
                }
                // The words one by one where they cross a page.
                std::uint8_t* host = (first & (PAGE - 1)) + 4 * count <= PAGE ? memory(first, 4 * count, !load) : nullptr;
                std::uint8_t* each[16];
                for (std::uint32_t k = 0; k < count; ++k) {
                    each[k] = host ? host + 4 * k : memory(first + 4 * k, 4, !load);
                    if (!each[k] || (load && !clearOfStores(each[k], 4))) ok = false;
                }
                if (!ok) break;
                std::uint32_t k = 0;
                if (load) {
                    for (std::uint32_t j = 0; j < count; ++j) std::memcpy(&words[j], each[j], 4);
                    for (std::uint32_t reg = 0; reg < 16; ++reg)
                        if (list & (1u << reg)) r[reg] = words[k++];
                } else {
                    for (std::uint32_t reg = 0; reg < 16; ++reg)
                        if (list & (1u << reg)) words[k++] = r[reg];
                    if (host) {
                        ok = store(host, words, 4 * count);
                    } else {
                        for (std::uint32_t j = 0; ok && j < count; ++j) ok = store(each[j], &words[j], 4);
                    }
                    if (!ok) break;
                }
                if (writeback) r[rn] = up ? base + 4 * count : base - 4 * count;
                break;
            }
            case LoopInstruction::Kind::Branch: break;
            }
        }
        if (!ok) break;
        for (const Store& s : stores) std::memcpy(s.host, buffer + s.from, s.bytes);
        r[PC] = start;
        std::memcpy(state.r, r, sizeof r);
        state.cpsr = cpsr;
        ++run.rounds;
        if (!taken) {
            run.exited = true;
            break;
        }
    }
    return run;
}

}  // namespace sim
