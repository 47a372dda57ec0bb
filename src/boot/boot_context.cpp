// The boot context: the options of an attempt and the components made from them.
#include "boot/boot_context.h"

#include <new>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "loader/coff_loader.h"
#include "loader/elf_loader.h"
#include "loader/loader.h"
#include "loader/raw_loader.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

// Copies a fixed-size option string; the copy is terminated even when the source,
// read raw from the configuration file, is not.
void copyOption(ce::WCHAR (&to)[PATH_SIZE], const ce::WCHAR (&from)[PATH_SIZE]) {
    std::size_t i = 0;
    for (; i < PATH_SIZE - 1 && from[i]; ++i) to[i] = from[i];
    for (; i < PATH_SIZE; ++i) to[i] = 0;
}

}  // namespace

BootContext::BootContext() { consoleSlot = theConsole(); }

BootContext::~BootContext() { releaseFileAndLoader(); }

void BootContext::releaseFileAndLoader() {
    // The loader first: it reads through the file manager slot.
    loader.reset();
    delete fileManagerSlot;
    fileManagerSlot = nullptr;
}

ce::BOOL BootContext::setup() {
    BootMenu& menu = theBootMenu();
    serialConsole = menu.serialConsole ? ce::TRUE : ce::FALSE;

    copyOption(kernelDirectory, menu.kernelDirectory);
    copyOption(kernelName, menu.kernelName);
    if (ce::wcsstr(kernelDirectory, u"http://"))
        fileManagerKind = FILE_MANAGER_HTTP;
    else if (ce::wcschr(kernelDirectory, u'/'))
        fileManagerKind = FILE_MANAGER_UFS;
    else
        fileManagerKind = FILE_MANAGER_FAT;

    useFileSystemImage = menu.rootFileSystem == ROOT_MD ? ce::TRUE : ce::FALSE;
    if (useFileSystemImage) copyOption(fileSystemImage, menu.fileSystemImage);

    overrides = menu.kernelOverrides;
    protocol = KernelProtocol::Native;
    machineNumber = NO_MACHINE_NUMBER;

    architectureDebug = 0;
    memoryManagerDebug = 0;
    fileManagerDebug = 0;
    return ce::TRUE;
}

ce::BOOL BootContext::create() {
    setConsole(consoleSlot);

    // The file manager and loader of an earlier, failed attempt are released here
    // rather than leaked when their slots are refilled.
    releaseFileAndLoader();
    auto* front = new (std::nothrow) GzipFileManager(consoleSlot, fileManagerKind);
    fileManagerSlot = front;
    if (!fileManagerSlot) {
        consoleSlot->print(u"can't allocate file manager.\n");
        return ce::FALSE;
    }
    // The inflated bytes the front keeps come from the same RAM as the page pool, which
    // must hold the whole kernel while they are still kept: they may take half of what
    // is free. Past that the front lets them go and inflates again.
    ce::MEMORYSTATUS memory{};
    memory.dwLength = sizeof memory;
    ce::GlobalMemoryStatus(&memory);
    front->setCacheLimit(memory.dwAvailPhys / 2);
    fileManagerSlot->debugLevel = fileManagerDebug;
    return ce::TRUE;
}

ce::BOOL BootContext::chooseLoader() {
    LoaderFormat format = fileManagerSlot ? Loader::probeFormat(*fileManagerSlot) : LoaderFormat::Unknown;
    kernelFormat = format;
    std::unique_ptr<Loader> made;
    if (format == LoaderFormat::ZImage || (format == LoaderFormat::Unknown && overrides.loadAddress)) {
        // A zImage goes where Linux's own loaders put it unless told otherwise.
        std::uint32_t load = 0;
        if (overrides.loadAddress)
            load = *overrides.loadAddress;
        else if (memoryManagerSlot && memoryManagerSlot->bankCount() > 0)
            load = memoryManagerSlot->bank(0).address + ZIMAGE_RAM_OFFSET;
        else
            load = ZIMAGE_RAM_OFFSET;
        const RawKind kind = format == LoaderFormat::ZImage ? RawKind::ZImage : RawKind::Binary;
        made.reset(new (std::nothrow) RawLoader(consoleSlot, memoryManagerSlot, kind, load, overrides.entry.value_or(load)));
    } else {
        if (format == LoaderFormat::Elf && (overrides.loadAddress || overrides.entry)) {
            consoleSlot->print(u"an ELF kernel carries its own load address and entry.\n");
            return ce::FALSE;
        }
        made = makeLoader(format);
    }
    if (!made) {
        consoleSlot->print(u"unknown file format.\n");
        return ce::FALSE;
    }
    const BootMenu& menu = theBootMenu();
    made->messageOwner = menu.mainWindowHandle();
    made->safetyMessage = menu.safetyMessage;
    loader = std::move(made);
    return ce::TRUE;
}

ce::BOOL BootContext::chooseProtocol() {
    const ce::WCHAR* mark = loader ? loader->linuxMark() : nullptr;
    switch (overrides.protocol) {
    case ProtocolChoice::Native:
        protocol = KernelProtocol::Native;
        consoleSlot->print(u"protocol: native (asked for%s%s)\n", mark ? u"; the kernel is " : u"", mark ? mark : u"");
        break;
    case ProtocolChoice::Linux:
        protocol = KernelProtocol::Linux;
        consoleSlot->print(u"protocol: linux (asked for%s%s)\n", mark ? u"; the kernel is " : u"", mark ? mark : u"");
        break;
    case ProtocolChoice::Recognised:
        protocol = mark ? KernelProtocol::Linux : KernelProtocol::Native;
        if (mark)
            consoleSlot->print(u"protocol: linux (the kernel is %s)\n", mark);
        else
            consoleSlot->print(u"protocol: native (the kernel is not recognised as Linux)\n");
        break;
    }
    if (protocol == KernelProtocol::Native) return ce::TRUE;

    const BootMenu& menu = theBootMenu();
    machineNumber = overrides.machineNumber ? *overrides.machineNumber : linuxMachineNumber(menu.platform);
    const ce::WCHAR* name = platformName(menu.platform);
    if (!overrides.machineNumber && machineNumber == NO_MACHINE_NUMBER) {
        consoleSlot->print(u"platform \"%s\" has no Linux machine number; give one with --machine-number.\n", name);
        return ce::FALSE;
    }
    consoleSlot->print(u"machine number %d (%s)\n", machineNumber, overrides.machineNumber ? u"given" : name);
    return ce::TRUE;
}

std::unique_ptr<Loader> BootContext::makeLoader(LoaderFormat format) {
    switch (format) {
    case LoaderFormat::Elf: return std::unique_ptr<Loader>(new (std::nothrow) ElfLoader(consoleSlot, memoryManagerSlot));
    case LoaderFormat::Coff: return std::unique_ptr<Loader>(new (std::nothrow) CoffLoader(consoleSlot, memoryManagerSlot));
    case LoaderFormat::ZImage:
    case LoaderFormat::Unknown: break;
    }
    return nullptr;
}

}  // namespace quorvel
