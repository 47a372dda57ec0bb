// The XScale PXA-250/PXA-270 architecture.
#pragma once

#include "arch/arm/arm_architecture.h"

namespace quorvel {

class PXA2x0Architecture : public ArmArchitecture {
public:
    PXA2x0Architecture(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);

    ce::BOOL init() override;
    ce::BOOL placeSecondStage() override;
    void jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) override;
    void testFramebuffer() override;
    void testUart() override;
    void testSpare() override {}

    static const CpuParameters& parameters();

protected:
    const CpuParameters& cpuParameters() const override { return parameters(); }
};

}  // namespace quorvel
