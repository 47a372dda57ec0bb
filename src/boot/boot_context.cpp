// The boot context: the options of an attempt and the components made from them.
#include "boot/boot_context.h"

#include <new>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "loader/coff_loader.h"
#include "loader/elf_loader.h"
#include "loader/loader.h"
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
    std::unique_ptr<Loader> made = makeLoader(format);
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

std::unique_ptr<Loader> BootContext::makeLoader(LoaderFormat format) {
    switch (format) {
    case LoaderFormat::Elf: return std::unique_ptr<Loader>(new (std::nothrow) ElfLoader(consoleSlot, memoryManagerSlot));
    case LoaderFormat::Coff: return std::unique_ptr<Loader>(new (std::nothrow) CoffLoader(consoleSlot, memoryManagerSlot));
    case LoaderFormat::Unknown: break;
    }
    return nullptr;
}

}  // namespace quorvel
