// The ARM boot context and the process's one boot context.
#include "arch/arm/arm_boot_context.h"

#include <new>

#include "arch/arm/pxa2x0_architecture.h"
#include "arch/arm/sa11x0_architecture.h"
#include "arch/arm/uart_console.h"
#include "boot/boot_menu.h"
#include "boot/boot_sequence.h"
#include "boot/platform_id.h"
#include "console/console.h"
#include "memory/lock_pages_memory_manager.h"

namespace quorvel {

namespace {

BootContext* theContext = nullptr;

}  // namespace

ArmBootContext::~ArmBootContext() {
    // The UART console unmaps its registers through the memory manager slot.
    releaseUartConsole();
    releaseArchitectureAndMemory();
}

void ArmBootContext::releaseArchitectureAndMemory() {
    delete memoryManagerSlot;
    memoryManagerSlot = nullptr;
    delete architecture;
    architecture = nullptr;
}

ce::BOOL ArmBootContext::setup() {
    const PlatformId& platform = theBootMenu().platform;
    if (platformMatch(platform, PLATFORM_SA1100) || platformMatch(platform, PLATFORM_SA1110))
        cpuKind = CPU_KIND_SA11X0;
    else if (platformMatch(platform, PLATFORM_PXA250))
        cpuKind = CPU_KIND_PXA250;
    else if (platformMatch(platform, PLATFORM_PXA270))
        cpuKind = CPU_KIND_PXA270;
    else
        return ce::FALSE;
    memoryMethod = MEMORY_METHOD_LOCKPAGES;
    return BootContext::setup();
}

ce::BOOL ArmBootContext::create() {
    // A failed earlier attempt's architecture and pool are released, not leaked; the
    // UART console survives (it only refers to the slot).
    releaseArchitectureAndMemory();

    switch (cpuKind) {
    case CPU_KIND_SA11X0: architecture = new (std::nothrow) SA11x0Architecture(consoleSlot, memoryManagerSlot); break;
    case CPU_KIND_PXA250:
    case CPU_KIND_PXA270: architecture = new (std::nothrow) PXA2x0Architecture(consoleSlot, memoryManagerSlot); break;
    default: consoleSlot->print(u"Unsupported architecture.\n"); return ce::FALSE;
    }
    if (!architecture) return ce::FALSE;
    architecture->debugLevel = architectureDebug;

    ce::LockPagesRoutine lockPages = architecture->lockPagesAddress();
    ce::UnlockPagesRoutine unlockPages = architecture->unlockPagesAddress();
    if (!lockPages || !unlockPages) {
        consoleSlot->print(u"couldn't find LockPages/UnlockPages.\n");
        return ce::FALSE;
    }
    if (memoryMethod != MEMORY_METHOD_LOCKPAGES) {
        consoleSlot->print(u"unsupported memory address detection method.\n");
        return ce::FALSE;
    }
    memoryManagerSlot = new (std::nothrow) LockPagesMemoryManager(lockPages, unlockPages, consoleSlot, 4096, 0);
    if (!memoryManagerSlot) return ce::FALSE;

    if (serialConsole) {
        // While the UART console sets up, the previous console stays in the slot, so
        // what the set-up prints reaches a working console.
        Console* uart = uartConsole(memoryManagerSlot, cpuKind, theBootMenu().serialSpeed);
        if (uart && uart->setup()) {
            consoleSlot = uart;
        } else {
            consoleSlot = lcdConsole();
            consoleSlot->print(u"use LCD console instead.\n");
        }
    } else {
        consoleSlot = lcdConsole();
    }
    return BootContext::create();
}

BootContext& theBootContext() {
    if (!theContext) {
        BootMenu& menu = theBootMenu();
        menu.bootHook = &bootSequence;
        menu.bootHookArgument = 0;
        theContext = new ArmBootContext();
    }
    return *theContext;
}

void releaseBootContext() {
    delete theContext;
    theContext = nullptr;
}

void bootSequence(std::uint32_t) { runBootSequence(theBootContext()); }

}  // namespace quorvel
