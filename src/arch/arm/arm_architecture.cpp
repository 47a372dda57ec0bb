// The ARM level of the architecture.
#include "arch/arm/arm_architecture.h"

#include <cstring>

#include "arch/arm/hand_over_check.h"
#include "console/console.h"
#include "platform/cpu.h"
#include "memory/memory_manager.h"
#include "platform/address.h"
#include "platform/coredll.h"

namespace quorvel {

ArmArchitecture::ArmArchitecture(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : Architecture(consoleIn, memoryManagerIn) {
    consoleSlot->print(u"ARM architecture.\n");
}

void ArmArchitecture::reportSystem() {
    Architecture::reportSystem();
    kernelMode = ce::SetKMode(ce::TRUE);
    maskInterrupts();
    if ((readCpsr() & 0x1F) != 0x1F) consoleSlot->print(u"can't change to System mode\n");
    consoleSlot->print(u"Reg0 :%08x\n", readCp15c0());
    consoleSlot->print(u"Reg1 :%08x\n", readCp15c1());
    consoleSlot->print(u"Reg2 :%08x\n", readCp15c2());
    consoleSlot->print(u"Reg3 :%08x\n", readCp15c3());
    consoleSlot->print(u"Reg5 :%08x\n", readCp15c5());
    consoleSlot->print(u"Reg6 :%08x\n", readCp15c6());
    consoleSlot->print(u"Reg13:%08x\n", readCp15c13());
    consoleSlot->print(u"Reg14:%08x\n", readCp15c14());
    consoleSlot->print(u"CPSR :%08x\n", readCpsr());
    unmaskInterrupts();
    ce::SetKMode(kernelMode);
}

bool ArmArchitecture::placeDestinations(std::vector<AddressRange>& destinations) {
    return quorvel::placeDestinations(destinations, cpuParameters().foldsDestinations, *consoleSlot);
}

ce::BOOL ArmArchitecture::initCpu(const CpuParameters& cpu) {
    MemoryManager* memory = memoryManagerSlot;
    if (!memory || !memory->init()) {
        consoleSlot->print(u"can't initialize memory manager.\n");
        return ce::FALSE;
    }
    for (const CpuParameters::Bank& bank : cpu.banks) memory->addBank(bank.address, bank.size);
    dcacheFlushSize = cpu.dcacheSize;
    consoleSlot->print(u"D-cache size = %d\n", dcacheFlushSize);
    return ce::TRUE;
}

ce::BOOL ArmArchitecture::placeSecondStageCpu(const CpuParameters& cpu) {
    MemoryManager& memory = *memoryManagerSlot;
    std::uint32_t page = memory.pageSize;
    if (cpu.secondStageSize > page) {
        consoleSlot->print(u"2nd bootloader size(%dbyte) is larger than page size(%d).\n", cpu.secondStageSize, page);
        return ce::FALSE;
    }
    std::uint32_t vaddr = 0, paddr = 0;
    if (!memory.takeBackPage(vaddr, paddr)) {
        consoleSlot->print(u"can't get page for 2nd loader.\n");
        return ce::FALSE;
    }
    loaderPaddr = paddr;
    consoleSlot->print(u"2nd bootloader vaddr=0x%08x paddr=0x%08x\n", vaddr, paddr);
    std::memcpy(ce::pointerAt(vaddr), cpu.secondStage, cpu.secondStageSize);
    consoleSlot->print(u"2nd bootloader copy done.\n");
    return ce::TRUE;
}

bool ArmArchitecture::jumpCpu(const CpuParameters& cpu, std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) {
    MemoryManager& memory = *memoryManagerSlot;
    std::uint32_t stackVaddr = 0, stackPaddr = 0;
    // Without a stack page the loader would run on an undefined stack: don't jump.
    if (!memory.takeBackPage(stackVaddr, stackPaddr)) {
        consoleSlot->print(u"can't get page for 2nd loader stack.\n");
        return false;
    }
    std::uint32_t stackTop = stackPaddr + memory.pageSize;
    consoleSlot->print(u"sp for bootloader = %08x + %08x = %08x\n", stackPaddr, memory.pageSize, stackTop);

    // Once the MMU is off nothing can report a destination that overwrites what the
    // loader still needs; refuse such a list while we still can.
    HandOverPlan plan{parameterPagePhys, pageLinkPhys, loaderPaddr, stackPaddr, cpu.foldsDestinations};
    if (!checkHandOver(memory, plan, *consoleSlot)) return false;

    cleanDataCache();
    ce::SetKMode(ce::TRUE);
    // Linux is entered in SVC mode, which the flat jump switches to when asked.
    const std::uint32_t loaderEntry = loaderPaddr | (protocol == KernelProtocol::Linux ? FLAT_JUMP_SVC_MODE : 0);
    cpu.flatJump(parameterPagePhys, pageLinkPhys, stackTop, loaderEntry);
    return true;
}

}  // namespace quorvel
