// ARM instructions as text, and which instruction of a block made a memory access,
// for reports of where an emulated run ended.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sim {

// "ldr r0, [r1, #4]"; "" when the bytes are no instruction.
std::string disassemble(std::uint32_t address, std::span<const std::uint8_t> bytes, bool thumb);

// A register file as the emulator leaves it: r0..r15.
using Registers = std::span<const std::uint32_t, 16>;

// The first ARM instruction of `code` (placed at `address`) whose memory access,
// computed from `registers`, covers `faultAddress` in the given direction; none when
// no instruction does. The emulator only knows a fault by its block, and the
// registers of a block that faulted are those the faulting instruction saw.
std::optional<std::uint32_t> instructionAccessing(std::uint32_t address, std::span<const std::uint8_t> code,
                                                  Registers registers, std::uint32_t faultAddress, bool write);

}  // namespace sim
