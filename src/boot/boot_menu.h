// The boot options: every user-settable option, the kernel directory list, the
// selected platform, the windows that show them (as the boot path sees them) and the
// hook that starts a boot.
// The options from `magic` to `extraKernelOptions` are the configuration file's
// record, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boot/boot_window.h"
#include "boot/kernel_protocol.h"
#include "boot/platform_id.h"
#include "platform/types.h"

namespace quorvel {

enum RootFileSystem : std::int32_t { ROOT_WD = 0, ROOT_SD = 1, ROOT_MD = 2, ROOT_NFS = 3, ROOT_DK = 4, ROOT_LD = 5 };

constexpr std::uint32_t BOOT_OPTIONS_MAGIC = 0x177D5753;
constexpr std::uint32_t BOOT_OPTIONS_VERSION = 258;
constexpr std::uint32_t BOOT_OPTIONS_SIZE = 2152;
constexpr std::size_t PATH_SIZE = 260;
constexpr std::size_t EXTRA_OPTIONS_SIZE = 256;

// The saved record, little-endian as on the device.
struct BootOptions {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t recordSize;
    std::uint32_t reserved;
    ce::BOOL kernelDirectorySet;
    ce::WCHAR kernelDirectory[PATH_SIZE];
    ce::BOOL kernelNameSet;
    ce::WCHAR kernelName[PATH_SIZE];
    PlatformId platform;
    std::int32_t rootFileSystem;
    ce::WCHAR fileSystemImage[PATH_SIZE];
    ce::BOOL serialConsole;
    ce::BOOL bootVerbose;
    ce::BOOL bootSingleUser;
    ce::BOOL askFileName;
    ce::BOOL kernelDebugger;
    std::int32_t autoBootSeconds;
    ce::BOOL reverseVideo;
    ce::BOOL pauseBeforeBoot;
    ce::BOOL loadDebugInfo;
    ce::BOOL safetyMessage;
    std::uint32_t serialSpeed;
    ce::WCHAR extraKernelOptions[EXTRA_OPTIONS_SIZE];
};
static_assert(sizeof(BootOptions) == BOOT_OPTIONS_SIZE);
static_assert(offsetof(BootOptions, kernelDirectory) == 20);
static_assert(offsetof(BootOptions, kernelName) == 544);
static_assert(offsetof(BootOptions, platform) == 1064);
static_assert(offsetof(BootOptions, fileSystemImage) == 1076);
static_assert(offsetof(BootOptions, serialConsole) == 1596);
static_assert(offsetof(BootOptions, extraKernelOptions) == 1640);

// The default of every saved option; the texts of the two names are left as they
// are (their set flags say they hold nothing).
void setDefaultOptions(BootOptions& options);
// Takes a saved record from `size` bytes over `options`: fields beyond a short
// record get their defaults. False, with `options` untouched, when the bytes are
// no record.
bool parseOptions(const void* bytes, std::size_t size, BootOptions& options);

struct BootInfo;

using BootHook = void (*)(std::uint32_t argument);
struct DebugHook {
    void (*function)(std::uint32_t argument, std::uint32_t bits, DebugHook* self);
    std::uint32_t argument;
};

class BootMenu : public BootOptions {
public:
    BootMenu();
    virtual ~BootMenu() = default;
    BootMenu(const BootMenu&) = delete;
    BootMenu& operator=(const BootMenu&) = delete;

    void setDefaults();
    ce::BOOL loadOptions();
    ce::BOOL saveOptions();

    const ce::WCHAR* directoryEntry(int index);
    int directorySelection() const;
    // mode 0: name of selectable entry `index`; 1: select it; 2: index of `platform`.
    // Callers use the typed forms below; this one keeps the operation's own shape.
    std::uintptr_t platformEntry(int index, int mode);
    // The name of selectable entry `index`; null past the end.
    const ce::WCHAR* platformEntryName(int index) const;
    // Sets `platform` to selectable entry `index`; an index past the end changes nothing.
    void selectPlatformEntry(int index);
    // The index of the first selectable entry equal to `platform`; 0 when none is.
    int selectedPlatformEntry() const;
    void collectOptions();
    void logText(const ce::WCHAR* text);
    void progress(const char* label);
    void progressDone();
    void startBoot();

    // Kernel arguments and boot information (see boot_info.h).
    int makeKernelArguments(std::uint32_t* argv, std::uint32_t argvPhys, std::uint32_t space);
    void makeBootInfo(BootInfo* record);

    ce::HWND mainWindowHandle() const;

    BootWindow* mainWindow = nullptr;
    OptionSource* mainTab = nullptr;
    OptionSource* optionTab = nullptr;
    BootLog* consoleTab = nullptr;
    BootHook bootHook = nullptr;
    std::uint32_t bootHookArgument = 0;
    DebugHook debugHooks[4] = {};
    // What this boot asks of the kernel's protocol and placement; never saved.
    KernelOverrides kernelOverrides;
    std::uint32_t debugBits = 0;
};

// The storage-card directory's bare name ("Storage Card"); false when there is none.
bool storageCardDirectory(ce::WCHAR (&name)[PATH_SIZE]);

BootMenu& theBootMenu();
void releaseBootMenu();

}  // namespace quorvel
