// The ARM level of the architecture: the privileged-state report, the common way the
// CPU classes initialise, place their second-stage loader and jump, and the
// diagnostic slots each CPU fills.
#pragma once

#include <cstdint>

#include "boot/architecture.h"

namespace quorvel {

using FlatJumpRoutine = void (*)(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys, std::uint32_t stackTop,
                                 std::uint32_t loaderPaddr);

// What a CPU class fixes.
struct CpuParameters {
    struct Bank {
        std::uint32_t address;
        std::uint32_t size;
    } banks[4];
    std::uint32_t dcacheSize;
    const std::uint8_t* secondStage;
    std::uint32_t secondStageSize;
    FlatJumpRoutine flatJump;
    // The PXA-2x0 loader folds every destination into the first 16 MB of SDRAM.
    bool foldsDestinations;
};

class ArmArchitecture : public Architecture {
public:
    ArmArchitecture(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);

    void reportSystem() override;
    std::uint32_t fillLinuxParameterPage(Loader& loader, const LinuxBoot& request) override;
    virtual void testFramebuffer() = 0;
    virtual void testUart() = 0;
    virtual void testSpare() = 0;

    ce::BOOL kernelMode = 0;

protected:
    virtual const CpuParameters& cpuParameters() const = 0;
    bool placeDestinations(std::vector<AddressRange>& destinations) override;

    ce::BOOL initCpu(const CpuParameters& cpu);
    ce::BOOL placeSecondStageCpu(const CpuParameters& cpu);
    // Returns only when the jump was not made (false) or the routine came back (true).
    bool jumpCpu(const CpuParameters& cpu, std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys);
};

}  // namespace quorvel
