// The UART consoles: COM1 is opened through the driver to set the speed, then the
// text is written straight into the processor's UART registers, polling the status.
#pragma once

#include <cstdint>

#include "console/serial_console.h"
#include "console/uart_registers.h"

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
    explicit SA11x0UartConsole(MemoryManager*& memoryManagerIn)
        : UartConsole(memoryManagerIn, sa11x0_uart::PHYSICAL_BASE) {}
    void putc(std::uint8_t byte) override;
};

// PXA-2x0 full-function UART.
class PXA2x0UartConsole : public UartConsole {
public:
    explicit PXA2x0UartConsole(MemoryManager*& memoryManagerIn)
        : UartConsole(memoryManagerIn, pxa2x0_uart::PHYSICAL_BASE) {}
    void putc(std::uint8_t byte) override;
};

}  // namespace quorvel
