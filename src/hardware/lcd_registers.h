// The SA-11x0 LCD controller's registers that the boot path reads, shared by the code
// that reads them and the simulated device that answers.
#pragma once

#include <cstdint>

namespace quorvel::sa11x0_lcd {

constexpr std::uint32_t PHYSICAL_BASE = 0xB0100000;
constexpr std::uint32_t DBAR1 = 0x10;  // the frame buffer's DMA base address

}  // namespace quorvel::sa11x0_lcd
