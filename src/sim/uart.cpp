// The simulated UARTs and LCD controller.
#include "sim/uart.h"

namespace sim {

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
    if (offset == UTSR1) return busy() ? 0x1 : 0x4;  // TBY while busy, else TNF
    return 0;
}

void Sa11x0Uart::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == UTDR) transmit(static_cast<std::uint8_t>(value));
}

std::uint32_t Pxa2x0Uart::readRegister(std::uint32_t offset, int) {
    if (offset == LSR) return busy() ? 0x00 : 0x60;  // TDRQ and TEMT once idle
    if (offset == IIR) return 0x01;                   // no interrupt pending
    return 0;
}

void Pxa2x0Uart::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == THR) transmit(static_cast<std::uint8_t>(value));
}

std::uint32_t Sa11x0Lcd::readRegister(std::uint32_t offset, int) { return offset == DBAR1 ? dbar1 : 0; }

void Sa11x0Lcd::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == DBAR1) dbar1 = value;
}

}  // namespace sim
