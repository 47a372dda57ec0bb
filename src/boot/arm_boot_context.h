// The boot context for ARM handhelds: the processor family from the platform, the
// matching architecture, the LockPages memory manager and the console.
#pragma once

#include "boot/boot_context.h"

namespace quorvel {

constexpr std::uint32_t CPU_KIND_SA11X0 = 0x0C104000;
constexpr std::uint32_t CPU_KIND_PXA250 = 0x0C204000;
constexpr std::uint32_t CPU_KIND_PXA270 = 0x0C208000;
constexpr std::uint32_t MEMORY_METHOD_LOCKPAGES = 1;

class ArmBootContext : public BootContext {
public:
    ArmBootContext() = default;
    ~ArmBootContext() override;

    ce::BOOL create() override;
    ce::BOOL setup() override;
};

}  // namespace quorvel
