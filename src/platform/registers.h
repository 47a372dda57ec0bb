// Device register access at a mapped virtual address. On the device a volatile
// access; on the host the simulated device behind the mapping answers.
#pragma once

#include <cstdint>

namespace hw {

std::uint8_t readRegister8(std::uint32_t address);
void writeRegister8(std::uint32_t address, std::uint8_t value);
std::uint32_t readRegister32(std::uint32_t address);
void writeRegister32(std::uint32_t address, std::uint32_t value);

}  // namespace hw
