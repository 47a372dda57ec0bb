// The assembled ARM code described as images, so that the emulator runs exactly the
// bytes the device would: the flat jumps, the second-stage loaders and, for the tests
// only, the CPU primitives linked at CPU_PRIMITIVES_BASE.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

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
// The primitives linked on their own at CPU_PRIMITIVES_BASE, for running them emulated;
// linked into the test support only.
extern const ArmImage cpuPrimitivesImage;
constexpr std::uint32_t CPU_PRIMITIVES_BASE = 0x00020000;

}  // namespace quorvel
