// The processor and platform of a boot: the abstract boot operations every
// architecture implements, and the services they share (memory reservation, the
// boot information page, coredll lookups, the system report).
#pragma once

#include <cstdint>
#include <vector>

#include "boot/kernel_protocol.h"
#include "memory/address_range.h"
#include "platform/coredll.h"
#include "platform/types.h"

namespace quorvel {

class Console;
class Loader;
class MemoryManager;

class Architecture {
public:
    Architecture(Console*& consoleSlot, MemoryManager*& memoryManagerSlot);
    virtual ~Architecture();
    Architecture(const Architecture&) = delete;
    Architecture& operator=(const Architecture&) = delete;

    virtual ce::BOOL init() = 0;
    virtual void reportSystem();
    virtual ce::BOOL placeSecondStage() = 0;
    // Does not return on success.
    virtual void jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) = 0;

    // The pool for `bytes` of kernel and image, kept out of the memory the hand-over
    // will write for `destinations` (the loader's ranges, where known).
    ce::BOOL reserveMemory(std::uint32_t bytes, std::vector<AddressRange> destinations = {});
    // Physical address of the boot information page; NO_ADDRESS when no page is left.
    std::uint32_t fillParameterPage(Loader& loader);
    // The same page for Linux's protocol: the call record (entry, 0, machine number,
    // tag list) and the tag list behind it; NO_ADDRESS, having said why, when the page
    // cannot be had or the list does not fit. Sets `protocol`, which the jump follows.
    virtual std::uint32_t fillLinuxParameterPage(Loader& loader, const LinuxBoot& request);
    ce::FARPROC getProcAddress(const ce::WCHAR* name);
    ce::LockPagesRoutine lockPagesAddress();
    ce::UnlockPagesRoutine unlockPagesAddress();

    std::uint32_t loaderPaddr = 0;
    std::uint32_t bootInfoPage = 0;
    std::int32_t debugLevel = 0;
    KernelProtocol protocol = KernelProtocol::Native;

protected:
    // Turns the loader's destinations into the memory the CPU's second-stage loader
    // will write for them; false, having said why, when they cannot all be placed.
    virtual bool placeDestinations(std::vector<AddressRange>& /*destinations*/) { return true; }

    ce::HMODULE coredll = nullptr;
    Console*& consoleSlot;
    MemoryManager*& memoryManagerSlot;
};

}  // namespace quorvel
