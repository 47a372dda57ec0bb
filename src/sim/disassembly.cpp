// Disassembly through Capstone.
#include "sim/disassembly.h"

#include <capstone/capstone.h>

#include "sim/shared_library.h"

namespace sim {

namespace {

// Capstone is opened by the first report that names an instruction: most runs have
// none, and its tables cost every start of the program.
struct Capstone {
    decltype(::cs_open)* open = nullptr;
    decltype(::cs_option)* option = nullptr;
    decltype(::cs_disasm)* disasm = nullptr;
    decltype(::cs_free)* free = nullptr;
    decltype(::cs_close)* close = nullptr;
};

// Null when the library cannot be had: then no instruction is named.
const Capstone* capstone() {
    static SharedLibrary library(QUORVEL_CAPSTONE_SONAME);
    static Capstone functions;
    static const bool found = library.find("cs_open", functions.open) && library.find("cs_option", functions.option) &&
                              library.find("cs_disasm", functions.disasm) && library.find("cs_free", functions.free) &&
                              library.find("cs_close", functions.close);
    return found ? &functions : nullptr;
}

class Disassembler {
public:
    explicit Disassembler(bool thumb) : cs_(capstone()) {
        if (!cs_ || cs_->open(CS_ARCH_ARM, thumb ? CS_MODE_THUMB : CS_MODE_ARM, &handle_) != CS_ERR_OK) handle_ = 0;
        if (handle_) cs_->option(handle_, CS_OPT_DETAIL, CS_OPT_ON);
    }
    ~Disassembler() {
        if (handle_) cs_->close(&handle_);
    }
    Disassembler(const Disassembler&) = delete;
    Disassembler& operator=(const Disassembler&) = delete;
    csh handle() const { return handle_; }
    // The bytes' instructions from `address`, at most `count` (0: all).
    std::size_t disassemble(std::span<const std::uint8_t> bytes, std::uint32_t address, std::size_t count,
                            cs_insn** insn) const {
        *insn = nullptr;
        return handle_ ? cs_->disasm(handle_, bytes.data(), bytes.size(), address, count, insn) : 0;
    }
    void release(cs_insn* insn, std::size_t n) const {
        if (n) cs_->free(insn, n);
    }

private:
    const Capstone* cs_;
    csh handle_ = 0;
};

std::uint32_t value(Registers registers, unsigned reg, std::uint32_t pc) {
    if (reg >= ARM_REG_R0 && reg <= ARM_REG_R12) return registers[reg - ARM_REG_R0];
    switch (reg) {
    case ARM_REG_SP: return registers[13];
    case ARM_REG_LR: return registers[14];
    case ARM_REG_PC: return pc + 8;  // as an ARM instruction reads it
    default: return 0;
    }
}

bool isLoad(unsigned id) {
    switch (id) {
    case ARM_INS_LDR: case ARM_INS_LDRB: case ARM_INS_LDRH: case ARM_INS_LDRSB: case ARM_INS_LDRSH: case ARM_INS_LDRD:
    case ARM_INS_LDRT: case ARM_INS_LDRBT: case ARM_INS_LDREX: case ARM_INS_SWP: case ARM_INS_SWPB:
        return true;
    default: return false;
    }
}

bool isStore(unsigned id) {
    switch (id) {
    case ARM_INS_STR: case ARM_INS_STRB: case ARM_INS_STRH: case ARM_INS_STRD: case ARM_INS_STRT: case ARM_INS_STRBT:
    case ARM_INS_STREX: case ARM_INS_SWP: case ARM_INS_SWPB:
        return true;
    default: return false;
    }
}

bool isMultiple(unsigned id, bool& load, bool& up, bool& before) {
    switch (id) {
    case ARM_INS_LDM: load = true; up = true; before = false; return true;
    case ARM_INS_LDMIB: load = true; up = true; before = true; return true;
    case ARM_INS_LDMDA: load = true; up = false; before = false; return true;
    case ARM_INS_LDMDB: load = true; up = false; before = true; return true;
    case ARM_INS_POP: load = true; up = true; before = false; return true;
    case ARM_INS_STM: load = false; up = true; before = false; return true;
    case ARM_INS_STMIB: load = false; up = true; before = true; return true;
    case ARM_INS_STMDA: load = false; up = false; before = false; return true;
    case ARM_INS_STMDB: load = false; up = false; before = true; return true;
    case ARM_INS_PUSH: load = false; up = false; before = true; return true;
    default: return false;
    }
}

// Whether the access of one decoded instruction covers `fault`.
bool covers(const cs_insn& insn, Registers registers, std::uint32_t fault, bool write) {
    const cs_arm& arm = insn.detail->arm;
    std::uint32_t pc = static_cast<std::uint32_t>(insn.address);
    bool load = false, up = true, before = false;
    if (isMultiple(insn.id, load, up, before)) {
        if (load == write) return false;
        unsigned base = ARM_REG_SP;
        int count = arm.op_count;
        int first = 0;
        if (insn.id != ARM_INS_PUSH && insn.id != ARM_INS_POP) {
            base = arm.operands[0].reg;
            first = 1;
        }
        std::uint32_t n = static_cast<std::uint32_t>(count - first);
        std::uint32_t b = value(registers, base, pc);
        std::uint32_t low = up ? b + (before ? 4 : 0) : b - 4 * n + (before ? 0 : 4);
        return fault - low < 4 * n;
    }
    bool store = isStore(insn.id), loadOne = isLoad(insn.id);
    if (!(write ? store : loadOne)) return false;
    for (int i = 0; i < arm.op_count; ++i) {
        const cs_arm_op& op = arm.operands[i];
        if (op.type != ARM_OP_MEM) continue;
        std::uint32_t base = value(registers, op.mem.base, pc);
        std::uint32_t address = base;
        if (op.mem.index != ARM_REG_INVALID) {
            std::uint32_t index = value(registers, op.mem.index, pc);
            if (op.shift.type == ARM_SFT_LSL) index = op.shift.value >= 32 ? 0 : index << op.shift.value;
            else if (op.shift.type == ARM_SFT_LSR) index = op.shift.value >= 32 ? 0 : index >> op.shift.value;
            address += op.mem.scale < 0 ? 0u - index : index;
        }
        address += static_cast<std::uint32_t>(op.mem.disp);
        // Post-indexed forms access the base itself: either address will do.
        return fault - address < 8 || fault - base < 8;  // up to a doubleword
    }
    return false;
}

}  // namespace

std::string disassemble(std::uint32_t address, std::span<const std::uint8_t> bytes, bool thumb) {
    Disassembler d(thumb);
    if (!d.handle()) return "";
    cs_insn* insn = nullptr;
    std::size_t n = d.disassemble(bytes, address, 1, &insn);
    if (n == 0) return "";
    std::string text = std::string(insn[0].mnemonic) + (insn[0].op_str[0] ? " " : "") + insn[0].op_str;
    d.release(insn, n);
    return text;
}

std::optional<std::uint32_t> instructionAccessing(std::uint32_t address, std::span<const std::uint8_t> code,
                                                  Registers registers, std::uint32_t faultAddress, bool write) {
    Disassembler d(false);
    if (!d.handle()) return std::nullopt;
    cs_insn* insn = nullptr;
    std::size_t n = d.disassemble(code, address, 0, &insn);
    std::optional<std::uint32_t> found;
    for (std::size_t i = 0; i < n && !found; ++i)
        if (covers(insn[i], registers, faultAddress, write)) found = static_cast<std::uint32_t>(insn[i].address);
    d.release(insn, n);
    return found;
}

}  // namespace sim
