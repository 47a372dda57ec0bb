// The StrongARM SA-1100/SA-1110 architecture: its banks, cache, loader image, and
// diagnostics that drive the LCD frame buffer and serial port 3 directly.
#include "arch/arm/sa11x0_architecture.h"

#include "console/console.h"
#include "hardware/lcd_registers.h"
#include "hardware/uart_registers.h"
#include "platform/cpu.h"
#include "memory/memory_manager.h"
#include "platform/address.h"
#include "platform/registers.h"

namespace quorvel {

namespace {
constexpr std::uint32_t LCD_DBAR1 = sa11x0_lcd::PHYSICAL_BASE + sa11x0_lcd::DBAR1;
}  // namespace

const CpuParameters& SA11x0Architecture::parameters() {
    static const CpuParameters cpu{
        .banks = {{.address = 0xC0000000, .size = 0x08000000},
                  {.address = 0xC8000000, .size = 0x08000000},
                  {.address = 0xD0000000, .size = 0x08000000},
                  {.address = 0xD8000000, .size = 0x08000000}},
        .dcacheSize = 8192,
        .secondStage = SecondStageLoader_sa11x0,
        .secondStageSize = SecondStageLoader_sa11x0_size,
        .flatJump = &FlatJump_sa11x0,
        .foldsDestinations = false,
    };
    return cpu;
}

SA11x0Architecture::SA11x0Architecture(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : ArmArchitecture(consoleIn, memoryManagerIn) {
    consoleSlot->print(u"SA-11x0 CPU.\n");
}

ce::BOOL SA11x0Architecture::init() { return initCpu(parameters()); }

ce::BOOL SA11x0Architecture::placeSecondStage() { return placeSecondStageCpu(parameters()); }

void SA11x0Architecture::jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) {
    jumpCpu(parameters(), parameterPagePhys, pageLinkPhys);
}

void SA11x0Architecture::testFramebuffer() {
    MemoryManager& memory = *memoryManagerSlot;
    std::uint32_t framebuffer = memory.readPhysicalWord(LCD_DBAR1);
    std::uint32_t base = memory.mapPhysical(framebuffer, 0x50000, 4);
    if (base == NO_ADDRESS) return;
    maskInterrupts();
    // 640 x 480 at 8 bits per pixel behind the 512-byte palette area.
    std::uint8_t* pixels = ce::pointerAt(base + 512);
    for (std::uint32_t y = 0; y < 480; ++y)
        for (std::uint32_t x = 0; x < 640; ++x) pixels[640 * y + x] = static_cast<std::uint8_t>(x * y);
    for (std::uint32_t y = 120; y < 360; ++y)
        for (std::uint32_t x = 120; x < 520; ++x) pixels[640 * y + x] = 3;
    unmaskInterrupts();
    memory.unmapPhysical(base);
}

void SA11x0Architecture::testUart() {
    using namespace sa11x0_uart;
    MemoryManager& memory = *memoryManagerSlot;
    std::uint32_t base = memory.mapPhysical(PHYSICAL_BASE, 256, 4);
    if (base == NO_ADDRESS) return;
    for (const char* c = "Hello World\r\n"; *c; ++c) {
        while (hw::readRegister32(base + UTSR1) & UTSR1_TBY) {
        }
        hw::writeRegister32(base + UTDR, static_cast<std::uint8_t>(*c));
    }
    memory.unmapPhysical(base);
}

}  // namespace quorvel
