// The processor routines written in ARM assembly: CPSR and CP15 access, the data-cache
// clean, the flat jumps that leave Windows CE, and the second-stage loader images the
// architecture copies to a physical page. The assembled bytes are also described as
// images, so that the emulator runs exactly what the device would.
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

// The second-stage loader images: position-independent, entered at their first byte.
extern const std::uint8_t SecondStageLoader_sa11x0[];
extern const std::uint32_t SecondStageLoader_sa11x0_size;
extern const std::uint8_t SecondStageLoader_pxa2x0[];
extern const std::uint32_t SecondStageLoader_pxa2x0_size;

}  // extern "C"

// An assembled image as the build produced it, with the addresses of its routines.
struct ArmImageSymbol {
    const char* name;
    std::uint32_t address;
};

struct ArmImage {
    const char* name;
    const std::uint8_t* bytes;
    std::uint32_t size;        // code and initialised data
    std::uint32_t base;        // address it was linked for; 0 for position-independent code
    std::uint32_t memorySize;  // including zero-initialised data behind the bytes
    const ArmImageSymbol* symbols;
    std::uint32_t symbolCount;

    // Address of a routine or datum; 0xFFFFFFFF when the image has no such symbol.
    std::uint32_t symbol(std::string_view wanted) const {
        for (std::uint32_t i = 0; i < symbolCount; ++i)
            if (wanted == symbols[i].name) return symbols[i].address;
        return 0xFFFFFFFFu;
    }
};

extern const ArmImage flatJumpImage_sa11x0;
extern const ArmImage flatJumpImage_pxa2x0;
extern const ArmImage secondStageImage_sa11x0;
extern const ArmImage secondStageImage_pxa2x0;
// The primitives linked on their own at CPU_PRIMITIVES_BASE, for running them emulated.
extern const ArmImage cpuPrimitivesImage;
constexpr std::uint32_t CPU_PRIMITIVES_BASE = 0x00020000;

}  // namespace quorvel
