// The on-chip UARTs the consoles and the kernel write to: SA-11x0 serial port 3 and
// the PXA-2x0 full-function UART. After each byte written the transmitter stays busy
// for `busyReads` status reads, so that polling is visible.
#pragma once

#include <string>

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

// Serial port 3 at 0x80050000: UTDR at 0x14, UTSR1 at 0x20 (bit 0 TBY, bit 2 TNF).
class Sa11x0Uart : public Uart {
public:
    static constexpr std::uint32_t BASE = 0x80050000;
    static constexpr std::uint32_t UTDR = 0x14;
    static constexpr std::uint32_t UTSR1 = 0x20;
    Sa11x0Uart() : Uart("SA-11x0 serial port 3", BASE, 0x10000) {}

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

// Full-function UART at 0x40100000: THR at 0x00, IIR at 0x08, LSR at 0x14 (bit 5 TDRQ).
class Pxa2x0Uart : public Uart {
public:
    static constexpr std::uint32_t BASE = 0x40100000;
    static constexpr std::uint32_t THR = 0x00;
    static constexpr std::uint32_t IIR = 0x08;
    static constexpr std::uint32_t LSR = 0x14;
    Pxa2x0Uart() : Uart("PXA-2x0 full-function UART", BASE, 0x10000) {}

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

// SA-11x0 LCD controller; DBAR1 at 0xB0100010 holds the frame buffer's address.
class Sa11x0Lcd : public Device {
public:
    static constexpr std::uint32_t BASE = 0xB0100000;
    static constexpr std::uint32_t DBAR1 = 0x10;
    Sa11x0Lcd() : Device("SA-11x0 LCD controller", BASE, 0x10000) {}
    std::uint32_t dbar1 = 0;

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

}  // namespace sim
