// Linux's ARM boot protocol on the boot information page: the call record that the
// second-stage loader turns into r0 = 0, r1 = machine number, r2 = tag list, and the
// tag list itself behind it, in the same pool page.
#include <cstring>

#include "arch/arm/arm_architecture.h"
#include "arch/arm/hand_over_check.h"
#include "arch/arm/linux_tags.h"
#include "boot/boot_info.h"
#include "boot/boot_menu.h"
#include "console/console.h"
#include "loader/loader.h"
#include "memory/memory_manager.h"
#include "platform/address.h"

namespace quorvel {

namespace {

// The tag list starts right behind the call record.
constexpr std::uint32_t TAG_LIST_OFFSET = sizeof(KernelCallRecord);

// A screen whose framebuffer address is known (the platform's table row).
std::optional<LinuxVideo> knownScreen(const BootMenu& menu) {
    FramebufferDescription screen(menu.platform.cpu, menu.platform.machine);
    if (screen.physAddress() == 0 || screen.lineBytes() <= 0 || screen.width() <= 0 || screen.height() <= 0)
        return std::nullopt;
    LinuxVideo video{};
    video.width = static_cast<std::uint16_t>(screen.width());
    video.height = static_cast<std::uint16_t>(screen.height());
    video.depth = static_cast<std::uint16_t>(screen.bitsPerPixel());
    video.lineLength = static_cast<std::uint16_t>(screen.lineBytes());
    video.base = screen.physAddress();
    video.size = static_cast<std::uint32_t>(screen.lineBytes()) * static_cast<std::uint32_t>(screen.height());
    if (video.depth == 16) {  // RGB565, as these LCD controllers take it
        video.redSize = 5, video.redPos = 11, video.greenSize = 6, video.greenPos = 5, video.blueSize = 5, video.bluePos = 0;
    }
    return video;
}

}  // namespace

std::uint32_t ArmArchitecture::fillLinuxParameterPage(Loader& loader, const LinuxBoot& request) {
    MemoryManager& memory = *memoryManagerSlot;
    const CpuParameters& cpu = cpuParameters();

    LinuxTags tags;
    tags.pageSize = memory.pageSize;
    for (const AddressRange& run : populatedRam(memory))
        tags.memory.push_back({run.start, static_cast<std::uint32_t>(run.end - run.start)});
    if (tags.memory.empty()) {
        consoleSlot->print(u"no RAM found to tell the kernel of.\n");
        return NO_ADDRESS;
    }
    tags.commandLine = request.commandLine;
    if (request.hasInitrd) {
        // The kernel finds the image where the loader really puts it.
        std::uint32_t start = request.initrdStart;
        if (cpu.foldsDestinations) start = FOLD_BASE | (start & (FOLD_SIZE - 1));
        tags.initrd = LinuxMemoryBank{start, request.initrdSize};
    }
    tags.video = knownScreen(theBootMenu());

    if (request.commandLine.size() + 1 > LINUX_COMMAND_LINE_SIZE) {
        consoleSlot->print(u"kernel command line of %d bytes is longer than the %d Linux takes.\n",
                           static_cast<int>(request.commandLine.size()), LINUX_COMMAND_LINE_SIZE - 1);
        return NO_ADDRESS;
    }
    const std::uint32_t capacity = memory.pageSize - TAG_LIST_OFFSET;
    if (tagListSize(tags) > capacity) {
        consoleSlot->print(u"tag list of %d bytes does not fit in the %d bytes of its page.\n",
                           static_cast<int>(tagListSize(tags)), static_cast<int>(capacity));
        return NO_ADDRESS;
    }

    std::uint32_t vaddr = 0, paddr = 0;
    if (!memory.takeBackPage(vaddr, paddr)) {
        consoleSlot->print(u"no page left for the boot information.\n");
        return NO_ADDRESS;
    }
    bootInfoPage = vaddr;
    std::uint8_t* page = ce::pointerAt(vaddr);
    std::memset(page, 0, memory.pageSize);
    const std::uint32_t size = writeTagList(tags, page + TAG_LIST_OFFSET, capacity);

    KernelCallRecord call{};
    call.entry = loader.entryAddress();
    call.argc = 0;
    call.argv = request.machineNumber;
    call.bootInfo = paddr + TAG_LIST_OFFSET;
    std::memcpy(page, &call, sizeof call);
    protocol = KernelProtocol::Linux;

    consoleSlot->print(u"linux: r0=0 r1=%d (machine) r2=0x%08x (tag list, %d bytes)\n", request.machineNumber,
                       call.bootInfo, static_cast<int>(size));
    for (const LinuxMemoryBank& bank : tags.memory)
        consoleSlot->print(u"linux: ATAG_MEM 0x%08x+0x%08x\n", bank.start, bank.size);
    if (tags.initrd) consoleSlot->print(u"linux: ATAG_INITRD2 0x%08x+0x%08x\n", tags.initrd->start, tags.initrd->size);
    if (tags.video)
        consoleSlot->print(u"linux: ATAG_VIDEOLFB %dx%d %dbpp at 0x%08x\n", tags.video->width, tags.video->height,
                           tags.video->depth, tags.video->base);
    consoleSlot->print(u"linux: ATAG_CMDLINE \"%S\"\n", tags.commandLine.c_str());
    return paddr;
}

}  // namespace quorvel
