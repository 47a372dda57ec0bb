// The on-chip UARTs the consoles and the kernel write to: SA-11x0 serial port 3 and
// the PXA-2x0 full-function UART. After each byte written the transmitter stays busy
// for `busyReads` status reads, so that polling is visible.
#pragma once

#include <string>

#include "hardware/uart_registers.h"
#include "sim/device.h"

namespace sim {

class Uart : public Device {
public:
    using Device::Device;
    const std::string& sent() const { return sent_; }
    void clearSent() { sent_.clear(); }
    int busyReads = 2;

protected:
    void transmit(std::uint8_t byte);
    bool busy();

private:
    std::string sent_;
    int busyLeft_ = 0;
};

// SA-11x0 serial port 3.
class Sa11x0Uart : public Uart {
public:
    static constexpr std::uint32_t BASE = quorvel::sa11x0_uart::PHYSICAL_BASE;
    Sa11x0Uart() : Uart("SA-11x0 serial port 3", BASE, 0x10000) {}

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

// PXA-2x0 full-function UART.
class Pxa2x0Uart : public Uart {
public:
    static constexpr std::uint32_t BASE = quorvel::pxa2x0_uart::PHYSICAL_BASE;
    Pxa2x0Uart() : Uart("PXA-2x0 full-function UART", BASE, 0x10000) {}

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

}  // namespace sim
