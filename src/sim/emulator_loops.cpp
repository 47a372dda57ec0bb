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
constexpr std::uint32_t MAX_WORDS = 32;

// For each condition, the NZCV values (bit 8 N, 4 Z, 2 C, 1 V) under which it passes.
constexpr std::uint16_t passingFlags(std::uint32_t condition) {
    std::uint16_t mask = 0;
    for (std::uint32_t f = 0; f < 16; ++f) {
        const bool n = f & 8, z = f & 4, c = f & 2, v = f & 1;
        bool pass = true;
        switch (condition) {
        case 0x0: pass = z; break;
        case 0x1: pass = !z; break;
        case 0x2: pass = c; break;
        case 0x3: pass = !c; break;
        case 0x4: pass = n; break;
        case 0x5: pass = !n; break;
        case 0x6: pass = v; break;
        case 0x7: pass = !v; break;
        case 0x8: pass = c && !z; break;
        case 0x9: pass = !c || z; break;
        case 0xA: pass = n == v; break;
        case 0xB: pass = n != v; break;
        case 0xC: pass = !z && n == v; break;
        case 0xD: pass = z || n != v; break;
        default: break;
        }
        if (pass) mask = static_cast<std::uint16_t>(mask | (1u << f));
    }
    return mask;
}

// A condition of our own, never met: a hint's, which is counted and skipped.
constexpr std::uint8_t NOTHING_TO_DO = 16;

constexpr std::uint16_t PASSES[17] = {
    passingFlags(0),  passingFlags(1),  passingFlags(2),  passingFlags(3), passingFlags(4),  passingFlags(5),
    passingFlags(6),  passingFlags(7),  passingFlags(8),  passingFlags(9), passingFlags(10), passingFlags(11),
    passingFlags(12), passingFlags(13), passingFlags(14), passingFlags(15), 0};

inline bool passes(std::uint8_t condition, std::uint32_t cpsr) { return (PASSES[condition] >> (cpsr >> 28)) & 1; }

std::uint32_t rotateRight(std::uint32_t value, std::uint32_t amount) {
    amount &= 31;
    return amount ? (value >> amount) | (value << (32 - amount)) : value;
}

// A register operand shifted by an immediate amount, and the shifter's carry out.
inline std::uint32_t shifted(std::uint32_t rm, std::uint32_t type, std::uint32_t amount, bool carryIn, bool& carry) {
    carry = carryIn;
    switch (type) {
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

// A store's few bytes (a byte, or up to 16 words): word by word, which costs less
// than a string move for so few.
inline void copy(std::uint8_t* to, const std::uint8_t* from, std::uint32_t size) {
    if (size == 1) {
        *to = *from;
        return;
    }
    for (std::uint32_t at = 0; at < size; at += 4) {
        std::uint32_t word;
        std::memcpy(&word, from + at, 4);
        std::memcpy(to + at, &word, 4);
    }
}

// The pages a run has met, by virtual page: a walk of the translation for each page
// once, not for each access.
class PageCache {
public:
    explicit PageCache(LoopMemory& memory) : memory_(memory) {
        for (Entry& e : entries_) e.page = 1;  // odd: empty
    }

    // Host bytes for `size` bytes at `va`, all in one page; null where refused.
    std::uint8_t* at(std::uint32_t va, bool write) {
        const std::uint32_t page = va & ~(PAGE - 1);
        const std::uint32_t n = page >> 12;
        Entry& e = entries_[(n ^ (n >> 6) ^ (n >> 12)) & (SLOTS - 1)];
        if (e.page != page) {
            bool writable = false;
            std::uint8_t* host = memory_.page(page, writable);
            if (!host) return nullptr;
            e = {page, host, writable, false};
        }
        if (write) {
            if (!e.writable) return nullptr;
            if (!e.stored) {
                e.stored = true;
                memory_.stored(page);
            }
        }
        return e.host + (va & (PAGE - 1));
    }

private:
    static constexpr std::uint32_t SLOTS = 64;
    struct Entry {
        std::uint32_t page;
        std::uint8_t* host;
        bool writable;
        bool stored;
    };
    LoopMemory& memory_;
    Entry entries_[SLOTS];
};

// The bytes a round has overwritten, to put back when the round cannot be finished.
class UndoLog {
public:
    void clear() {
        count_ = 0;
        used_ = 0;
    }
    void keep(std::uint8_t* host, std::uint32_t size) {
        entries_[count_++] = {host, size, used_};
        copy(saved_ + used_, host, size);
        used_ += size;
    }
    void undo() {
        while (count_ > 0) {
            const Entry& e = entries_[--count_];
            copy(e.host, saved_ + e.at, e.size);
        }
        used_ = 0;
    }

private:
    struct Entry {
        std::uint8_t* host;
        std::uint32_t size;
        std::uint32_t at;
    };
    // At most one store of 16 registers for each instruction of a round.
    Entry entries_[MAX_WORDS * 16];
    std::uint8_t saved_[MAX_WORDS * 64];
    std::uint32_t count_ = 0;
    std::uint32_t used_ = 0;
};

}  // namespace

std::optional<std::vector<LoopInstruction>> decodeLoop(const std::uint32_t* code, std::uint32_t words, bool preload) {
    if (words < 2 || words > MAX_WORDS) return std::nullopt;
    std::vector<LoopInstruction> loop;
    loop.reserve(words);
    for (std::uint32_t i = 0; i < words; ++i) {
        const std::uint32_t w = code[i];
        LoopInstruction d{};
        d.word = w;
        d.condition = static_cast<std::uint8_t>(w >> 28);
        // pld [rN, #offset] and pld [rN, rM, shift]: no access, no fault.
        if (preload && i + 1 < words && (w & 0xFD70F000u) == 0xF550F000u && (!((w >> 25) & 1) || (w & 0x10) == 0)) {
            d.kind = LoopInstruction::Kind::Preload;
            d.condition = NOTHING_TO_DO;
            loop.push_back(d);
            continue;
        }
        if (d.condition == 0xF) return std::nullopt;
        const std::uint32_t rn = (w >> 16) & 0xF, rd = (w >> 12) & 0xF;
        d.rn = static_cast<std::uint8_t>(rn);
        d.rd = static_cast<std::uint8_t>(rd);
        d.rm = static_cast<std::uint8_t>(w & 0xF);
        d.shiftType = static_cast<std::uint8_t>((w >> 5) & 3);
        d.shiftAmount = static_cast<std::uint8_t>((w >> 7) & 0x1F);
        if (i + 1 == words) {
            // b back to the first instruction: the offset counts from the branch plus 8.
            if (((w >> 24) & 0xF) != 0xA || (w & 0xFFFFFFu) != ((0x1000000u - (words + 1)) & 0xFFFFFFu)) return std::nullopt;
            d.kind = LoopInstruction::Kind::Branch;
        } else if (((w >> 26) & 3) == 0) {
            const bool immediate = (w >> 25) & 1;
            const std::uint32_t opcode = (w >> 21) & 0xF;
            const bool setsFlags = (w >> 20) & 1;
            if (!immediate && (w & 0x10)) return std::nullopt;  // shift by a register, multiply, halfword
            if (opcode >= 8 && opcode <= 11 && !setsFlags) return std::nullopt;  // status registers, bx
            if (rd == PC) return std::nullopt;
            d.kind = LoopInstruction::Kind::DataProcessing;
            d.opcode = static_cast<std::uint8_t>(opcode);
            d.setsFlags = setsFlags;
            d.immediate = immediate;
            if (immediate) {
                const std::uint32_t rotate = 2 * ((w >> 8) & 0xF);
                d.constant = rotateRight(w & 0xFF, rotate);
                d.rotatedImmediate = rotate != 0;
            }
        } else if (((w >> 26) & 3) == 1) {
            const bool registerOffset = (w >> 25) & 1;
            const bool pre = (w >> 24) & 1, writeback = (w >> 21) & 1;
            if (registerOffset && ((w & 0x10) || (w & 0xF) == PC)) return std::nullopt;
            if (!pre && writeback) return std::nullopt;  // the user-mode forms
            if (rd == PC) return std::nullopt;
            if ((!pre || writeback) && (rn == PC || rn == rd)) return std::nullopt;
            d.kind = LoopInstruction::Kind::Transfer;
            d.immediate = !registerOffset;
            d.constant = w & 0xFFF;
            d.pre = pre;
            d.up = (w >> 23) & 1;
            d.byte = (w >> 22) & 1;
            d.writeback = !pre || writeback;
            d.load = (w >> 20) & 1;
        } else if (((w >> 25) & 7) == 4) {
            const std::uint32_t list = w & 0xFFFF;
            const bool writeback = (w >> 21) & 1;
            if ((w >> 22) & 1) return std::nullopt;  // user registers, or the SPSR
            if (list == 0 || (list & (1u << PC)) || rn == PC) return std::nullopt;
            if (writeback && (list & (1u << rn))) return std::nullopt;
            d.kind = LoopInstruction::Kind::Multiple;
            d.pre = (w >> 24) & 1;
            d.up = (w >> 23) & 1;
            d.writeback = writeback;
            d.load = (w >> 20) & 1;
            for (std::uint8_t reg = 0; reg < 16; ++reg)
                if (list & (1u << reg)) d.registers[d.count++] = reg;
        } else {
            return std::nullopt;
        }
        loop.push_back(d);
    }
    return loop;
}

LoopRun runLoop(const std::vector<LoopInstruction>& loop, LoopState& state, std::uint64_t maxRounds,
                LoopMemory& memory, const std::uint8_t* avoidFrom, const std::uint8_t* avoidTo) {
    LoopRun run;
    if (loop.empty() || loop.size() > MAX_WORDS) return run;
    const std::uint32_t start = state.r[PC];
    PageCache pages(memory);
    UndoLog log;
    std::uint32_t r[16];
    std::memcpy(r, state.r, sizeof r);
    std::uint32_t cpsr = state.cpsr;
    const LoopInstruction* const first = loop.data();
    const LoopInstruction* const branch = first + loop.size() - 1;

    // Stores keep what they overwrite until the round is whole.
    auto store = [&](std::uint8_t* host, const void* values, std::uint32_t bytes) {
        if (host + bytes > avoidFrom && host < avoidTo) return false;
        log.keep(host, bytes);
        copy(host, static_cast<const std::uint8_t*>(values), bytes);
        return true;
    };

    while (run.rounds < maxRounds) {
        log.clear();
        bool ok = true;
        for (const LoopInstruction* in = first; in != branch; ++in) {
            if (!passes(in->condition, cpsr)) continue;
            r[PC] = start + 4 * static_cast<std::uint32_t>(in - first) + 8;
            const bool carryIn = cpsr & FLAG_C;
            if (in->kind == LoopInstruction::Kind::DataProcessing) {
                bool carry = carryIn;
                std::uint32_t operand;
                if (in->immediate) {
                    operand = in->constant;
                    if (in->rotatedImmediate) carry = operand >> 31;
                } else {
                    operand = shifted(r[in->rm], in->shiftType, in->shiftAmount, carryIn, carry);
                }
                const std::uint32_t a = r[in->rn];
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
                switch (in->opcode) {
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
                if (in->setsFlags) {
                    cpsr &= ~(FLAG_N | FLAG_Z | FLAG_C | (logical ? 0 : FLAG_V));
                    cpsr |= (result & FLAG_N) | (result == 0 ? FLAG_Z : 0) | (carry ? FLAG_C : 0);
                    if (!logical && overflow) cpsr |= FLAG_V;
                }
                if (in->opcode < 8 || in->opcode > 11) r[in->rd] = result;
            } else if (in->kind == LoopInstruction::Kind::Transfer) {
                bool unused = false;
                const std::uint32_t offset =
                    in->immediate ? in->constant : shifted(r[in->rm], in->shiftType, in->shiftAmount, carryIn, unused);
                const std::uint32_t base = r[in->rn];
                const std::uint32_t moved = in->up ? base + offset : base - offset;
                const std::uint32_t address = in->pre ? moved : base;
                const std::uint32_t size = in->byte ? 1 : 4;
                if (address & (size - 1)) {
                    ok = false;
                    break;
                }
                std::uint8_t* host = pages.at(address, !in->load);
                if (!host) {
                    ok = false;
                    break;
                }
                if (in->load) {
                    std::uint32_t value = 0;
                    std::memcpy(&value, host, size);
                    r[in->rd] = value;
                } else if (!store(host, &r[in->rd], size)) {
                    ok = false;
                    break;
                }
                if (in->writeback) r[in->rn] = moved;
            } else {
                const std::uint32_t count = in->count;
                const std::uint32_t base = r[in->rn];
                const std::uint32_t lowest =
                    in->up ? (in->pre ? base + 4 : base) : (in->pre ? base - 4 * count : base - 4 * count + 4);
                if (lowest & 3) {
                    ok = false;
                    break;
                }
                std::uint32_t words[16];
                if ((lowest & (PAGE - 1)) + 4 * count <= PAGE) {
                    std::uint8_t* host = pages.at(lowest, !in->load);
                    if (!host) {
                        ok = false;
                        break;
                    }
                    if (in->load) {
                        for (std::uint32_t k = 0; k < count; ++k) std::memcpy(&r[in->registers[k]], host + 4 * k, 4);
                    } else {
                        for (std::uint32_t k = 0; k < count; ++k) words[k] = r[in->registers[k]];
                        if (!store(host, words, 4 * count)) {
                            ok = false;
                            break;
                        }
                    }
                } else {
                    // Across a page: every word of it must be reachable before any moves.
                    std::uint8_t* each[16];
                    for (std::uint32_t k = 0; ok && k < count; ++k) {
                        each[k] = pages.at(lowest + 4 * k, !in->load);
                        if (!each[k]) ok = false;
                    }
                    if (!ok) break;
                    if (in->load) {
                        for (std::uint32_t k = 0; k < count; ++k) std::memcpy(&words[k], each[k], 4);
                        for (std::uint32_t k = 0; k < count; ++k) r[in->registers[k]] = words[k];
                    } else {
                        for (std::uint32_t k = 0; ok && k < count; ++k) ok = store(each[k], &r[in->registers[k]], 4);
                        if (!ok) break;
                    }
                }
                if (in->writeback) r[in->rn] = in->up ? base + 4 * count : base - 4 * count;
            }
        }
        if (!ok) {
            log.undo();
            break;
        }
        r[PC] = start;
        std::memcpy(state.r, r, sizeof r);
        state.cpsr = cpsr;
        ++run.rounds;
        if (!passes(branch->condition, cpsr)) {
            run.exited = true;
            break;
        }
    }
    return run;
}

}  // namespace sim
