// The UART consoles: COM1 is opened through the driver to set the speed, then the
// text is written straight into the processor's UART registers, polling the status.
#pragma once

#include <cstdint>

#include "console/serial_console.h"

namespace quorvel {

class UartConsole : public SerialConsole {
public:
    UartConsole(MemoryManager*& memoryManagerSlot, std::uint32_t physicalBase);
    ~UartConsole() override;

    void print(const ce::WCHAR* format, ...) override;
    ce::BOOL setup() override;
    virtual void putc(std::uint8_t byte) = 0;

    // Virtual address of the mapped registers; 0xFFFFFFFF until setup maps them.
    std::uint32_t registerBase() const { return registerBase_; }

protected:
    MemoryManager*& memoryManagerSlot;
    const std::uint32_t physicalBase;
    std::uint32_t registerBase_ = 0xFFFFFFFFu;

private:
    void unmapRegisters();
};

// SA-11x0 serial port 3.
class SA11x0UartConsole : public UartConsole {
public:
    static constexpr std::uint32_t PHYSICAL_BASE = 0x80050000;
    static constexpr std::uint32_t UTDR = 0x14;
    static constexpr std::uint32_t UTSR1 = 0x20;
    static constexpr std::uint8_t UTSR1_TBY = 0x01;  // transmitter busy
    static constexpr std::uint8_t UTSR1_TNF = 0x04;  // transmit FIFO not full

    explicit SA11x0UartConsole(MemoryManager*& memoryManagerSlot) : UartConsole(memoryManagerSlot, PHYSICAL_BASE) {}
    void putc(std::uint8_t byte) override;
};

// PXA-2x0 full-function UART.
class PXA2x0UartConsole : public UartConsole {
public:
    static constexpr std::uint32_t PHYSICAL_BASE = 0x40100000;
    static constexpr std::uint32_t THR = 0x00;
    static constexpr std::uint32_t IIR = 0x08;
    static constexpr std::uint32_t LSR = 0x14;
    static constexpr std::uint8_t LSR_TDRQ = 0x20;  // transmit data request

    explicit PXA2x0UartConsole(MemoryManager*& memoryManagerSlot) : UartConsole(memoryManagerSlot, PHYSICAL_BASE) {}
    void putc(std::uint8_t byte) override;
};

}  // namespace quorvel
