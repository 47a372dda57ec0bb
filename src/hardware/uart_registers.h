// The register maps of the two UARTs the consoles and diagnostics write to, shared by
// the code that drives them and the simulated devices that answer.
#pragma once

#include <cstdint>

namespace quorvel {

// SA-11x0 serial port 3.
namespace sa11x0_uart {
constexpr std::uint32_t PHYSICAL_BASE = 0x80050000;
constexpr std::uint32_t UTDR = 0x14;
constexpr std::uint32_t UTSR1 = 0x20;
constexpr std::uint8_t UTSR1_TBY = 0x01;  // transmitter busy
constexpr std::uint8_t UTSR1_TNF = 0x04;  // transmit FIFO not full
}  // namespace sa11x0_uart

// PXA-2x0 full-function UART.
namespace pxa2x0_uart {
constexpr std::uint32_t PHYSICAL_BASE = 0x40100000;
constexpr std::uint32_t THR = 0x00;
constexpr std::uint32_t IIR = 0x08;
constexpr std::uint32_t LSR = 0x14;
constexpr std::uint8_t LSR_TDRQ = 0x20;  // transmit data request
}  // namespace pxa2x0_uart

}  // namespace quorvel
