// The UART consoles and the single UART console of the process.
#include "arch/arm/uart_console.h"

#include <new>

#include "hardware/cpu_models.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"
#include "platform/registers.h"

namespace quorvel {

namespace {

// The registers fit in one page.
constexpr std::uint32_t REGISTER_WINDOW = 256;

UartConsole* single = nullptr;

}  // namespace

UartConsole::UartConsole(MemoryManager*& memoryManagerIn, std::uint32_t base, std::uint32_t baudRateIn)
    : SerialConsole(baudRateIn), memoryManagerSlot(memoryManagerIn), physicalBase(base) {}

UartConsole::~UartConsole() { unmapRegisters(); }

void UartConsole::unmapRegisters() {
    if (registerBase_ == NO_ADDRESS) return;
    if (memoryManagerSlot) memoryManagerSlot->unmapPhysical(registerBase_);
    registerBase_ = NO_ADDRESS;
}

ce::BOOL UartConsole::setup() {
    if (!SerialConsole::setup()) return ce::FALSE;
    if (!memoryManagerSlot) {
        unmapRegisters();
        return ce::FALSE;
    }
    // A reused console maps again. The earlier window goes only afterwards: this
    // console may be the current one, and a failure to map is told through it.
    std::uint32_t mapped = memoryManagerSlot->mapPhysical(physicalBase, REGISTER_WINDOW, ce::PAGE_READWRITE);
    unmapRegisters();
    registerBase_ = mapped;
    return registerBase_ != NO_ADDRESS;
}

void UartConsole::print(const ce::WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
    // Without mapped registers there is nowhere to write.
    if (registerBase_ == NO_ADDRESS || !toAscii()) return;
    for (int i = 0; i < SERIAL_TEXT_SIZE && ascii[i]; ++i) {
        auto byte = static_cast<std::uint8_t>(ascii[i]);
        if (byte == '\n') putc('\r');
        putc(byte);
    }
}

void SA11x0UartConsole::putc(std::uint8_t byte) {
    using namespace sa11x0_uart;
    for (;;) {
        std::uint8_t status = hw::readRegister8(registerBase_ + UTSR1);
        if (!(status & UTSR1_TBY) && (status & UTSR1_TNF)) break;
    }
    hw::writeRegister8(registerBase_ + UTDR, byte);
}

void PXA2x0UartConsole::putc(std::uint8_t byte) {
    using namespace pxa2x0_uart;
    while (!(hw::readRegister8(registerBase_ + LSR) & LSR_TDRQ)) {
    }
    hw::writeRegister8(registerBase_ + THR, byte);
    while (!(hw::readRegister8(registerBase_ + LSR) & LSR_TDRQ)) {
    }
    hw::readRegister8(registerBase_ + IIR);
}

Console* uartConsole(MemoryManager*& memoryManagerSlot, std::uint32_t cpuKind, std::uint32_t baudRate) {
    if (single) {
        // The speed of the latest demand, as the options now give it.
        single->baudRate = baudRate;
        return single;
    }
    switch (cpuKind) {
    case CPU_KIND_SA11X0: single = new (std::nothrow) SA11x0UartConsole(memoryManagerSlot, baudRate); break;
    case CPU_KIND_PXA250:
    case CPU_KIND_PXA270: single = new (std::nothrow) PXA2x0UartConsole(memoryManagerSlot, baudRate); break;
    default: break;
    }
    return single;
}

void releaseUartConsole() {
    // Nothing may go on printing to the console that is about to go.
    if (single && theConsole() == single) setConsole(nullptr);
    delete single;
    single = nullptr;
}

}  // namespace quorvel
