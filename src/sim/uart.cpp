// The simulated UARTs and LCD controller.
#include "sim/uart.h"

#include "hardware/uart_registers.h"

namespace sim {

namespace sa11 = quorvel::sa11x0_uart;
namespace pxa2 = quorvel::pxa2x0_uart;

void Uart::transmit(std::uint8_t byte) {
    sent_.push_back(static_cast<char>(byte));
    busyLeft_ = busyReads;
}

bool Uart::busy() {
    if (busyLeft_ > 0) {
        --busyLeft_;
        return true;
    }
    return false;
}

std::uint32_t Sa11x0Uart::readRegister(std::uint32_t offset, int) {
    if (offset == sa11::UTSR1) return busy() ? sa11::UTSR1_TBY : sa11::UTSR1_TNF;
    return 0;
}

void Sa11x0Uart::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == sa11::UTDR) transmit(static_cast<std::uint8_t>(value));
}

std::uint32_t Pxa2x0Uart::readRegister(std::uint32_t offset, int) {
    if (offset == pxa2::LSR) return busy() ? 0x00 : pxa2::LSR_TDRQ | 0x40;  // and TEMT once idle
    if (offset == pxa2::IIR) return 0x01;                                 // no interrupt pending
    return 0;
}

void Pxa2x0Uart::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == pxa2::THR) transmit(static_cast<std::uint8_t>(value));
}

}  // namespace sim
