// The services every architecture shares: memory reservation, the boot information
// page, coredll lookups and the system report.
#include "boot/architecture.h"

#include "boot/boot_info.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "loader/loader.h"
#include "memory/memory_manager.h"
#include "platform/address.h"
#include "platform/coredll.h"
#include "platform/os_version.h"

namespace quorvel {

namespace {
// The Windows CE version the system is built for (4.20).
constexpr int WIN32_WCE = 420;
constexpr std::uint64_t POOL_GRANULE = 0x10000;
// Pages beyond the data: link head, boot information, second-stage loader, its stack.
constexpr std::uint64_t SPARE_PAGES = 4;
}  // namespace

Architecture::Architecture(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : consoleSlot(consoleIn), memoryManagerSlot(memoryManagerIn) {}

Architecture::~Architecture() {
    if (coredll) ce::FreeLibrary(coredll);
}

ce::BOOL Architecture::reserveMemory(std::uint32_t bytes, std::vector<AddressRange> destinations) {
    MemoryManager* memory = memoryManagerSlot;
    // A layout that would land on itself is refused before anything is loaded.
    if (!destinations.empty() && !placeDestinations(destinations)) return ce::FALSE;
    memory->keepPoolOutOf(std::move(destinations));
    const std::uint64_t p = memory->pageSize;
    // Each page carries p - 16 bytes behind its page link. Worked in 64 bits: a request
    // near 4 GiB must be refused, not wrapped round to a small pool.
    std::uint64_t pages = (bytes + p - 17) / (p - 16);
    std::uint64_t size = (pages + SPARE_PAGES) * p;
    size = (size + POOL_GRANULE - 1) & ~(POOL_GRANULE - 1);
    if (size > 0xFFFFFFFFu) {
        consoleSlot->print(u"can't reserve memory for 0x%x bytes.\n", bytes);
        return ce::FALSE;
    }
    return memory->buildPool(static_cast<std::uint32_t>(size), false) ? ce::TRUE : ce::FALSE;
}

std::uint32_t Architecture::fillParameterPage(Loader& loader) {
    std::uint32_t vaddr = 0, paddr = 0;
    if (!memoryManagerSlot->takeBackPage(vaddr, paddr)) {
        consoleSlot->print(u"no page left for the boot information.\n");
        return NO_ADDRESS;
    }
    bootInfoPage = vaddr;
    std::uint8_t* page = ce::pointerAt(vaddr);
    auto* call = reinterpret_cast<KernelCallRecord*>(page);
    auto* info = reinterpret_cast<BootInfo*>(page + BOOT_INFO_OFFSET);
    BootMenu& menu = theBootMenu();

    int argc = menu.makeKernelArguments(reinterpret_cast<std::uint32_t*>(page + ARGV_OFFSET), paddr + ARGV_OFFSET,
                                        argumentSpace(memoryManagerSlot->pageSize));
    call->argc = static_cast<std::uint32_t>(argc);
    call->argv = paddr + ARGV_OFFSET;
    menu.makeBootInfo(info);
    info->consoleKind = consoleSlot->consoleKind;
    call->bootInfo = paddr + BOOT_INFO_OFFSET;
    call->entry = loader.entryAddress();

    consoleSlot->print(u"framebuffer: %dx%d type=%d linebytes=%d addr=0x%08x\n", info->fbWidth, info->fbHeight,
                       info->fbType, info->fbLineBytes, info->fbAddress);
    consoleSlot->print(u"console = %d\n", info->consoleKind);
    return paddr;
}

std::uint32_t Architecture::fillLinuxParameterPage(Loader&, const LinuxBoot&) {
    consoleSlot->print(u"this architecture can't enter a Linux kernel.\n");
    return NO_ADDRESS;
}

ce::FARPROC Architecture::getProcAddress(const ce::WCHAR* name) {
    if (!coredll) {
        coredll = ce::LoadLibraryW(u"coredll.dll");
        if (!coredll) {
            // The handle stays unset, so a later lookup tries again.
            ce::HWND owner = theBootMenu().mainWindowHandle();
            ce::MessageBoxW(owner, u"Can't load coredll.dll.", u"WARNING", ce::MB_ICONEXCLAMATION);
            ce::UpdateWindow(owner);
            return nullptr;
        }
    }
    return ce::GetProcAddressW(coredll, name);
}

ce::LockPagesRoutine Architecture::lockPagesAddress() {
    return reinterpret_cast<ce::LockPagesRoutine>(getProcAddress(u"LockPages"));
}

ce::UnlockPagesRoutine Architecture::unlockPagesAddress() {
    return reinterpret_cast<ce::UnlockPagesRoutine>(getProcAddress(u"UnlockPages"));
}

void Architecture::reportSystem() {
    Console* console = consoleSlot;
    console->print(u"_WIN32_WCE = %d\n", WIN32_WCE);

    osVersion.dwOSVersionInfoSize = sizeof osVersion;
    if (auto getVersionEx = reinterpret_cast<ce::GetVersionExRoutine>(getProcAddress(u"GetVersionEx"))) {
        getVersionEx(&osVersion);
        console->print(u"GetVersionEx\n");
    } else {
        ce::GetVersionExW(&osVersion);
        console->print(u"GetVersionExW\n");
    }
    console->print(u"Windows CE %d.%d\n", osVersion.dwMajorVersion, osVersion.dwMinorVersion);

    ce::SYSTEM_INFO system = {};
    ce::GetSystemInfo(&system);
    console->print(u"GetSystemInfo:\n");
    console->print(u"wProcessorArchitecture      0x%x\n", system.wProcessorArchitecture);
    console->print(u"wProcessorLevel             0x%x\n", system.wProcessorLevel);
    console->print(u"wProcessorRevision          0x%x\n", system.wProcessorRevision);
    console->print(u"dwPageSize                  0x%x\n", system.dwPageSize);
    console->print(u"dwAllocationGranularity     0x%08x\n", system.dwAllocationGranularity);
    console->print(u"dwProcessorType             0x%x\n", system.dwProcessorType);

    // No table row matches (0, 0): this is the screen as Windows CE sees it.
    FramebufferDescription screen(0, 0);
    console->print(u"Display: %dx%d %dbpp\n", screen.width(), screen.height(), screen.bitsPerPixel());
}

}  // namespace quorvel
