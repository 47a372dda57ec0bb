// Host bodies of the CPU primitives and the flat jumps: they read and write the
// simulated handheld's processor state, and the flat jump hands the machine to the
// ARM emulator, which runs the real assembled flat-jump and second-stage loader code.
#include "platform/cpu.h"
#include "sim/arm_images.h"

#include "sim/emulator.h"
#include "sim/handheld.h"

namespace quorvel {

namespace {

constexpr std::uint32_t MODE_MASK = 0x1F;
constexpr std::uint32_t USER_MODE = 0x10;
constexpr std::uint32_t INTERRUPT_BITS = 0xC0;

sim::CpuState& cpu() { return sim::Handheld::current().cpu(); }

bool privileged(const sim::CpuState& state) { return (state.currentCpsr() & MODE_MASK) != USER_MODE; }

// On the device a coprocessor access from user mode is an undefined instruction; here
// it is counted and answered, so that a test can see it happened.
std::uint32_t cp15(std::uint32_t sim::CpuState::*field) {
    sim::CpuState& state = cpu();
    if (!privileged(state)) ++state.userModeCp15Accesses;
    return state.*field;
}

// The control field of the CPSR cannot be written from user mode; the write is ignored.
std::uint32_t setInterruptBits(bool masked) {
    sim::CpuState& state = cpu();
    if (privileged(state)) state.cpsr = masked ? state.cpsr | INTERRUPT_BITS : state.cpsr & ~INTERRUPT_BITS;
    return state.currentCpsr();
}

void flatJump(const char* name, const ArmImage& code, std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys,
              std::uint32_t stackTop, std::uint32_t loaderPaddr) {
    sim::Handheld& device = sim::Handheld::current();
    // A test may make the routine come back, to reach its caller's return path.
    if (device.faults().check(name, loaderPaddr)) return;
    sim::handOver(device, {code.bytes, code.size}, {parameterPagePhys, pageLinkPhys, stackTop, loaderPaddr});
}

}  // namespace

extern "C" {

std::uint32_t dcacheFlushSize = 8192;
alignas(32) const std::uint8_t dcacheFlushArea[DCACHE_FLUSH_AREA_SIZE] = {};

std::uint32_t readCpsr() { return cpu().currentCpsr(); }
std::uint32_t maskInterrupts() { return setInterruptBits(true); }
std::uint32_t unmaskInterrupts() { return setInterruptBits(false); }

std::uint32_t readCp15c0() { return cp15(&sim::CpuState::mainId); }
std::uint32_t readCp15c1() { return cp15(&sim::CpuState::control); }
std::uint32_t readCp15c2() { return cp15(&sim::CpuState::translationBase); }
std::uint32_t readCp15c3() { return cp15(&sim::CpuState::domainAccess); }
std::uint32_t readCp15c5() { return cp15(&sim::CpuState::faultStatus); }
std::uint32_t readCp15c6() { return cp15(&sim::CpuState::faultAddress); }
std::uint32_t readCp15c13() { return cp15(&sim::CpuState::processId); }
std::uint32_t readCp15c14() { return cp15(&sim::CpuState::cp15c14); }

void writeCp15c3(std::uint32_t value) {
    sim::CpuState& state = cpu();
    if (!privileged(state)) {
        ++state.userModeCp15Accesses;
        return;
    }
    state.domainAccess = value;
}

void cleanDataCache() {
    sim::CpuState& state = cpu();
    std::uint32_t size = dcacheFlushSize < DCACHE_FLUSH_AREA_SIZE ? dcacheFlushSize : DCACHE_FLUSH_AREA_SIZE;
    const volatile std::uint8_t* area = dcacheFlushArea;
    std::uint32_t words = 0;
    for (std::uint32_t offset = 0; offset < size; offset += 32) {
        (void)*reinterpret_cast<const volatile std::uint32_t*>(area + offset);
        ++words;
    }
    ++state.dataCacheCleans;
    state.dataCacheWordsRead = words;
}

void FlatJump_sa11x0(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys, std::uint32_t stackTop,
                     std::uint32_t loaderPaddr) {
    flatJump("FlatJump_sa11x0", flatJumpImage_sa11x0, parameterPagePhys, pageLinkPhys, stackTop, loaderPaddr);
}

void FlatJump_pxa2x0(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys, std::uint32_t stackTop,
                     std::uint32_t loaderPaddr) {
    flatJump("FlatJump_pxa2x0", flatJumpImage_pxa2x0, parameterPagePhys, pageLinkPhys, stackTop, loaderPaddr);
}

}  // extern "C"

}  // namespace quorvel
