// The boot context for ARM handhelds: the processor family from the platform, the
// matching architecture, the LockPages memory manager and the console.
#pragma once

#include "hardware/cpu_models.h"
#include "boot/boot_context.h"

namespace quorvel {

constexpr std::uint32_t MEMORY_METHOD_LOCKPAGES = 1;

class ArmBootContext : public BootContext {
public:
    ArmBootContext() = default;
    ~ArmBootContext() override;

    ce::BOOL create() override;
    ce::BOOL setup() override;

private:
    void releaseArchitectureAndMemory();
};

}  // namespace quorvel
