// The XScale PXA-250/PXA-270 architecture: its banks, cache, loader image, the
// return path of its flat jump, and a serial test on the full-function UART.
#include "arch/arm/pxa2x0_architecture.h"

#include "console/console.h"
#include "hardware/uart_registers.h"
#include "platform/cpu.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"
#include "platform/registers.h"

namespace quorvel {

const CpuParameters& PXA2x0Architecture::parameters() {
    static const CpuParameters cpu{
        .banks = {{.address = 0xA0000000, .size = 0x04000000},
                  {.address = 0xA4000000, .size = 0x04000000},
                  {.address = 0xA8000000, .size = 0x04000000},
                  {.address = 0xAC000000, .size = 0x04000000}},
        .dcacheSize = 65536,
        .secondStage = SecondStageLoader_pxa2x0,
        .secondStageSize = SecondStageLoader_pxa2x0_size,
        .flatJump = &FlatJump_pxa2x0,
        .foldsDestinations = true,
    };
    return cpu;
}

PXA2x0Architecture::PXA2x0Architecture(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : ArmArchitecture(consoleIn, memoryManagerIn) {
    consoleSlot->print(u"PXA-2x0 CPU.\n");
}

ce::BOOL PXA2x0Architecture::init() { return initCpu(parameters()); }

ce::BOOL PXA2x0Architecture::placeSecondStage() { return placeSecondStageCpu(parameters()); }

void PXA2x0Architecture::jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) {
    if (!jumpCpu(parameters(), parameterPagePhys, pageLinkPhys)) return;
    ce::SetKMode(ce::FALSE);
    consoleSlot->print(u"Return from FlatJump_pxa2x0.\n");
}

void PXA2x0Architecture::testFramebuffer() { consoleSlot->print(u"No framebuffer test yet.\n"); }

void PXA2x0Architecture::testUart() {
    using namespace pxa2x0_uart;
    MemoryManager& memory = *memoryManagerSlot;
    std::uint32_t base = memory.mapPhysical(PHYSICAL_BASE, 256, 4);
    if (base == NO_ADDRESS) return;
    for (const char* c = "Hello World\r\n"; *c; ++c) {
        while (!(hw::readRegister8(base + LSR) & LSR_TDRQ)) {
        }
        hw::writeRegister8(base + THR, static_cast<std::uint8_t>(*c));
        while (!(hw::readRegister8(base + LSR) & LSR_TDRQ)) {
        }
        hw::readRegister8(base + IIR);
    }
    memory.unmapPhysical(base);
}

}  // namespace quorvel
