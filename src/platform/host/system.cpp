// System information, coredll's exports and the privileged-mode switch.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/coredll.h"
#include "sim/handheld.h"

namespace ce {

namespace {

HMODULE const coredll = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x30000));

BOOL hostLockPages(LPVOID address, DWORD size, PDWORD pfns, int) {
    sim::Handheld& device = sim::Handheld::current();
    DWORD start = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(address));
    if (device.faults().check("LockPages", start)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD first = start & ~DWORD(sim::FRAME_SIZE - 1);
    for (DWORD page = first, i = 0; size && page < start + size; page += sim::FRAME_SIZE, ++i) {
        auto physical = device.addressSpace().physicalOf(page);
        if (!physical) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        pfns[i] = physical->value();  // on ARM the frame number is the physical address
    }
    return TRUE;
}

BOOL hostUnlockPages(LPVOID address, DWORD) {
    sim::Handheld& device = sim::Handheld::current();
    if (device.faults().check("UnlockPages", static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(address)))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

BOOL hostGetVersionEx(OSVERSIONINFOW* info) { return GetVersionExW(info); }

}  // namespace

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    const sim::DeviceSettings& settings = sim::Handheld::current().settings();
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(info, 0, sizeof *info);
    info->dwOSVersionInfoSize = size ? size : sizeof *info;
    info->dwMajorVersion = settings.osMajor;
    info->dwMinorVersion = settings.osMinor;
    info->dwBuildNumber = settings.osBuild;
    info->dwPlatformId = VER_PLATFORM_WIN32_CE;
    return TRUE;
}

void GetSystemInfo(SYSTEM_INFO* info) {
    const sim::DeviceSettings& settings = sim::Handheld::current().settings();
    std::memset(info, 0, sizeof *info);
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM;
    info->dwPageSize = sim::FRAME_SIZE;
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFF);
    info->dwActiveProcessorMask = 1;
    info->dwNumberOfProcessors = 1;
    info->dwProcessorType = settings.processorType;
    info->dwAllocationGranularity = 0x10000;
    info->wProcessorLevel = settings.processorLevel;
    info->wProcessorRevision = settings.processorRevision;
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
    sim::Handheld& device = sim::Handheld::current();
    const std::uint64_t total = device.memory().ramSize();
    const std::uint64_t available = std::uint64_t{device.memory().freeFrames()} * sim::FRAME_SIZE;
    std::memset(status, 0, sizeof *status);
    status->dwLength = sizeof *status;
    status->dwTotalPhys = static_cast<DWORD>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
    status->dwAvailPhys = static_cast<DWORD>(std::min<std::uint64_t>(available, 0xFFFFFFFFu));
    status->dwMemoryLoad = total ? static_cast<DWORD>(100 - available * 100 / total) : 0;
    status->dwTotalVirtual = 0x02000000;  // a process slot
    status->dwAvailVirtual = 0x02000000;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info) {
    const sim::DeviceSettings& settings = sim::Handheld::current().settings();
    std::memset(info, 0, sizeof *info);
    info->Bias = settings.timeZoneBias;
    info->DaylightBias = settings.daylightBias;
    return settings.daylightTime ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD Random() { return sim::Handheld::current().random(); }

HMODULE LoadLibraryW(LPCWSTR name) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string_view wanted = name ? std::u16string_view(name, wcslen(name)) : std::u16string_view();
    if (device.faults().check("LoadLibraryW", 0, wanted) || wanted != u"coredll.dll") {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++device.coredllLoads;
    return coredll;
}

FARPROC GetProcAddressW(HMODULE module, LPCWSTR name) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string_view wanted = name ? std::u16string_view(name, wcslen(name)) : std::u16string_view();
    if (module != coredll || device.faults().check("GetProcAddressW", 0, wanted)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (wanted == u"LockPages") return reinterpret_cast<FARPROC>(&hostLockPages);
    if (wanted == u"UnlockPages") return reinterpret_cast<FARPROC>(&hostUnlockPages);
    if (wanted == u"GetVersionEx" && device.settings().coredllExportsGetVersionEx)
        return reinterpret_cast<FARPROC>(&hostGetVersionEx);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE module) { return module == coredll ? TRUE : FALSE; }

BOOL SetKMode(BOOL kernelMode) {
    sim::CpuState& cpu = sim::Handheld::current().cpu();
    BOOL previous = cpu.kernelMode ? TRUE : FALSE;
    cpu.kernelMode = kernelMode != FALSE;
    return previous;
}

ULONG htonl(ULONG value) { return __builtin_bswap32(value); }
ULONG ntohl(ULONG value) { return __builtin_bswap32(value); }
WORD htons(WORD value) { return __builtin_bswap16(value); }
WORD ntohs(WORD value) { return __builtin_bswap16(value); }

void OutputDebugStringW(LPCWSTR text) {
    if (text) sim::Handheld::current().debugOutput().emplace_back(text);
}

}  // namespace ce
