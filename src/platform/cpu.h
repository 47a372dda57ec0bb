// The processor routines written in ARM assembly: CPSR and CP15 access, the data-cache
// clean, the flat jumps that leave Windows CE, and the second-stage loader images the
// architecture copies to a physical page. On the host their bodies act on the simulated
// handheld (platform/host/cpu.cpp).
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// Size of dcacheFlushArea; cleanDataCache never reads past it.
constexpr std::uint32_t DCACHE_FLUSH_AREA_SIZE = 65536;

extern "C" {

// Privileged: the calling thread must be in kernel mode (SetKMode).
std::uint32_t readCpsr();
std::uint32_t maskInterrupts();    // CPSR |= 0xC0; returns the new CPSR
std::uint32_t unmaskInterrupts();  // CPSR &= ~0xC0; returns the new CPSR
std::uint32_t readCp15c0();        // main ID
std::uint32_t readCp15c1();        // control
std::uint32_t readCp15c2();        // translation table base
std::uint32_t readCp15c3();        // domain access control
void writeCp15c3(std::uint32_t value);
std::uint32_t readCp15c5();        // fault status
std::uint32_t readCp15c6();        // fault address
std::uint32_t readCp15c13();       // process ID
std::uint32_t readCp15c14();

// Reads one word every 32 bytes of dcacheFlushArea up to dcacheFlushSize bytes.
void cleanDataCache();
extern std::uint32_t dcacheFlushSize;  // a multiple of 32; 8192 until an architecture sets it
extern const std::uint8_t dcacheFlushArea[];

// Mask interrupts, turn MMU and caches off and branch to loaderPaddr; the first three
// arguments reach the second-stage loader unchanged. They do not come back on the
// device; on the host the emulated hand-over ends the boot attempt (see sim/emulator.h).
void FlatJump_sa11x0(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys, std::uint32_t stackTop,
                     std::uint32_t loaderPaddr);
void FlatJump_pxa2x0(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys, std::uint32_t stackTop,
                     std::uint32_t loaderPaddr);

// Or'ed into loaderPaddr: the flat jump switches to SVC mode first, as Linux's boot
// protocol wants the kernel entered (loaderPaddr itself is page aligned).
constexpr std::uint32_t FLAT_JUMP_SVC_MODE = 1;

// The second-stage loader images: position-independent, entered at their first byte.
extern const std::uint8_t SecondStageLoader_sa11x0[];
extern const std::uint32_t SecondStageLoader_sa11x0_size;
extern const std::uint8_t SecondStageLoader_pxa2x0[];
extern const std::uint32_t SecondStageLoader_pxa2x0_size;

}  // extern "C"

}  // namespace quorvel
