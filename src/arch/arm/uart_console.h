// The UART consoles: COM1 is opened through the driver to set the speed, then the
// text is written straight into the processor's UART registers, polling the status.
#pragma once

#include <cstdint>

#include "console/serial_console.h"
#include "hardware/uart_registers.h"

namespace quorvel {

class MemoryManager;

class UartConsole : public SerialConsole {
public:
    UartConsole(MemoryManager*& memoryManagerSlot, std::uint32_t physicalBase, std::uint32_t baudRate);
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
    SA11x0UartConsole(MemoryManager*& memoryManagerIn, std::uint32_t baudRateIn)
        : UartConsole(memoryManagerIn, sa11x0_uart::PHYSICAL_BASE, baudRateIn) {}
    void putc(std::uint8_t byte) override;
};

// PXA-2x0 full-function UART.
class PXA2x0UartConsole : public UartConsole {
public:
    PXA2x0UartConsole(MemoryManager*& memoryManagerIn, std::uint32_t baudRateIn)
        : UartConsole(memoryManagerIn, pxa2x0_uart::PHYSICAL_BASE, baudRateIn) {}
    void putc(std::uint8_t byte) override;
};

// The single UART console for a processor kind, made on first demand; null for an
// unknown kind. `baudRate` is the speed COM1 is opened at, if it is not open yet.
Console* uartConsole(MemoryManager*& memoryManagerSlot, std::uint32_t cpuKind, std::uint32_t baudRate);
void releaseUartConsole();

}  // namespace quorvel
