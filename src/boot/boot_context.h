// The components of a boot attempt and the options they were made from.
#pragma once

#include <cstdint>
#include <memory>

#include "boot/boot_menu.h"
#include "boot/kernel_protocol.h"
#include "file/file_manager.h"
#include "loader/loader.h"
#include "platform/types.h"

namespace quorvel {

class Architecture;
class Console;
class MemoryManager;

class BootContext {
public:
    BootContext();
    virtual ~BootContext();
    BootContext(const BootContext&) = delete;
    BootContext& operator=(const BootContext&) = delete;

    virtual ce::BOOL create();
    virtual ce::BOOL setup();
    ce::BOOL chooseLoader();
    // After the loader has attached the kernel: the protocol it is entered with, from
    // what the kernel shows itself to be and what was asked, said in the log. False,
    // having said why, for a Linux kernel on a platform without a machine number.
    ce::BOOL chooseProtocol();

    std::uint32_t cpuKind = 0;
    std::int32_t architectureDebug = 0;
    ce::BOOL serialConsole = 0;
    std::uint32_t memoryMethod = 0;
    std::int32_t memoryManagerDebug = 0;
    FileManagerKind fileManagerKind = FILE_MANAGER_FAT;
    std::int32_t fileManagerDebug = 0;
    ce::WCHAR kernelDirectory[PATH_SIZE] = {};
    ce::WCHAR kernelName[PATH_SIZE] = {};
    ce::BOOL useFileSystemImage = 0;
    ce::WCHAR fileSystemImage[PATH_SIZE] = {};
    KernelOverrides overrides;
    KernelProtocol protocol = KernelProtocol::Native;
    LoaderFormat kernelFormat = LoaderFormat::Unknown;  // as the probe found it
    std::uint32_t machineNumber = NO_MACHINE_NUMBER;

    // The components of the latest attempt. The slots are plain pointers because
    // components keep references to the slots themselves; the architecture and the
    // memory manager are the subclass's to destroy, as it is the one that makes them.
    Console* consoleSlot = nullptr;
    Architecture* architecture = nullptr;
    MemoryManager* memoryManagerSlot = nullptr;
    FileManager* fileManagerSlot = nullptr;
    std::unique_ptr<Loader> loader;

protected:
    // The loader for a probed format; null for any other.
    virtual std::unique_ptr<Loader> makeLoader(LoaderFormat format);
    // Destroys the file manager and the loader that reads through it, loader first.
    void releaseFileAndLoader();
};

BootContext& theBootContext();
void releaseBootContext();

}  // namespace quorvel
