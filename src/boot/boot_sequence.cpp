// One boot attempt: the numbered stages from the options to the jump into the kernel.
#include "boot/boot_sequence.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "boot/architecture.h"
#include "boot/boot_context.h"
#include "boot/boot_menu.h"
#include "boot/kernel_protocol.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "loader/loader.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr int OPEN_MODE = 3;

// Whole pages for n bytes. Kept in 64 bits so that a size near 4 GiB read from a file
// header cannot wrap round to a small request.
std::uint64_t roundPages(std::uint32_t n, std::uint32_t pageSize) {
    return (std::uint64_t(n) + pageSize - 1) / pageSize * pageSize;
}

// The stages while the kernel file is open; the caller closes it on failure.
const ce::WCHAR* loadKernel(BootContext& context, BootMenu& menu, std::uint64_t imageBytes) {
    menu.progress("5");
    if (!context.chooseLoader()) return u"Can't attach loader.\n";
    if (!context.loader->attachFile(context.fileManagerSlot)) return u"Can't initialize loader.\n";
    if (!context.chooseProtocol()) return u"No Linux machine number for this platform.\n";

    menu.progress("6");
    std::uint64_t total = roundPages(context.loader->neededMemory(), context.memoryManagerSlot->pageSize) + imageBytes;
    // A request beyond 32 bits is passed on as the largest one, which the
    // reservation refuses with its own message.
    std::uint32_t request = total > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(total);
    // The pool keeps clear of where the kernel, its symbols and the image will be
    // copied, so that no copy overwrites a page still to be read.
    std::uint32_t image = imageBytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(imageBytes);
    std::vector<AddressRange> destinations = context.loader->destinations(image);
    // A zImage's loader keeps its own kernel's page table clear; an ELF kernel's text
    // is its lowest destination.
    if (context.protocol == KernelProtocol::Linux && context.kernelFormat == LoaderFormat::Elf)
        keepLinuxPageTableClear(destinations);
    if (!context.architecture->reserveMemory(request, std::move(destinations)))
        return u"Can't allocate memory.\n";

    menu.progress("7");
    if (!context.architecture->placeSecondStage()) return u"Can't set up loader.\n";

    menu.progress("8");
    if (!context.loader->load()) return u"Can't load kernel image to memory.\n";
    return nullptr;
}

const ce::WCHAR* attempt(BootContext& context, BootMenu& menu) {
    menu.progress("0");
    if (!context.setup()) return u"Architecture not supported.\n";

    menu.progress("1");
    if (!context.create()) return u"Architecture ops. not found.\n";

    Console* console = theConsole();
    console->print(u"quorvel build number: %d\n", BUILD_NUMBER);
    const ce::WCHAR* name = menu.platformEntryName(menu.selectedPlatformEntry());
    console->print(u"%s (cpu=0x%08x machine=0x%08x)\n", name ? name : u"", menu.platform.cpu, menu.platform.machine);

    menu.progress("2");
    Architecture* architecture = context.architecture;
    if (!architecture->init()) return u"Architecture initialize failed.\n";
    architecture->reportSystem();

    menu.progress("3");
    FileManager* files = context.fileManagerSlot;
    if (!files->setLocation(context.kernelDirectory)) return u"Can't set root directory.\n";
    std::uint64_t imageBytes = 0;
    if (context.useFileSystemImage) {
        if (!files->open(context.fileSystemImage, OPEN_MODE)) return u"Can't open file system image.\n";
        std::uint32_t imageSize = files->size();
        files->close();
        // A gzip image found bad while measuring has no size to reserve memory for.
        if (imageSize == SIZE_UNKNOWN) {
            theConsole()->print(u"can't get the size of file system image \"%s\".\n", context.fileSystemImage);
            return u"Can't open file system image.\n";
        }
        imageBytes = roundPages(imageSize, context.memoryManagerSlot->pageSize);
    }

    menu.progress("4");
    if (!files->open(context.kernelName, OPEN_MODE)) return u"Can't open kernel image.\n";
    if (const ce::WCHAR* failure = loadKernel(context, menu, imageBytes)) {
        files->close();
        return failure;
    }

    menu.progress("9");
    files->close();
    Loader* loader = context.loader.get();
    if (context.useFileSystemImage) {
        if (!files->open(context.fileSystemImage, OPEN_MODE)) return u"Can't open file system image.\n";
        if (!loader->loadFileSystemImage()) {
            files->close();
            return u"Can't load file system image to memory.\n";
        }
        files->close();
    }
    loader->finishLinks();

    std::uint32_t parameterPagePhys = NO_ADDRESS;
    if (context.protocol == KernelProtocol::Linux) {
        LinuxBoot request;
        request.machineNumber = context.machineNumber;
        request.commandLine = linuxCommandLine(menu);
        request.hasInitrd = context.useFileSystemImage && loader->imageSize > 0;
        request.initrdStart = loader->imageStart;
        request.initrdSize = loader->imageSize;
        parameterPagePhys = architecture->fillLinuxParameterPage(*loader, request);
    } else {
        parameterPagePhys = architecture->fillParameterPage(*loader);
    }
    // fillParameterPage has said why; without the page the kernel has no arguments.
    if (parameterPagePhys == NO_ADDRESS) return u"Can't set up boot information.\n";

    menu.progress("10");
    if (menu.pauseBeforeBoot) {
        ce::HWND owner = menu.mainWindowHandle();
        if (ce::MessageBoxW(owner, u"Push YES to boot.", u"Last chance...", ce::MB_YESNO | ce::MB_ICONEXCLAMATION) !=
            ce::IDYES)
            return u"Canceled by user.\n";
        ce::UpdateWindow(owner);
    }

    architecture->jump(parameterPagePhys, loader->linkHead());
    files->close();
    return u"Can't jump to the kernel.\n";
}

}  // namespace

void runBootSequence(BootContext& context) {
    BootMenu& menu = theBootMenu();
    openSerialPort(menu.serialSpeed);
    if (const ce::WCHAR* failure = attempt(context, menu)) {
        ce::MessageBoxW(menu.mainWindowHandle(), failure, u"BOOT FAILED", ce::MB_ICONHAND);
        menu.progressDone();
    }
}

}  // namespace quorvel
