// One boot attempt, from the options to the jump into the kernel.
#pragma once

#include <cstdint>

namespace quorvel {

class BootContext;

constexpr int BUILD_NUMBER = 16;

// The BootMenu's boot hook; returns only when the attempt failed.
void bootSequence(std::uint32_t argument);

// The same attempt over a given context (the hook uses theBootContext()).
void runBootSequence(BootContext& context);

}  // namespace quorvel
