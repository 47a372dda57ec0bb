// Virtual memory of the simulated handheld.
#include <cstdint>

#include "platform/coredll.h"
#include "sim/handheld.h"

namespace ce {

namespace {
DWORD address(LPVOID pointer) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(pointer)); }
LPVOID pointer(DWORD address) { return reinterpret_cast<LPVOID>(static_cast<std::uintptr_t>(address)); }
}  // namespace

LPVOID VirtualAlloc(LPVOID at, DWORD size, DWORD type, DWORD) {
    sim::Handheld& device = sim::Handheld::current();
    if (device.faults().check("VirtualAlloc", address(at))) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    DWORD error = ERROR_SUCCESS;
    DWORD result = device.addressSpace().allocate(address(at), size, type, error);
    if (!result) SetLastError(error);
    return pointer(result);
}

BOOL VirtualFree(LPVOID at, DWORD size, DWORD type) {
    sim::Handheld& device = sim::Handheld::current();
    if (device.faults().check("VirtualFree", address(at))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = ERROR_SUCCESS;
    if (device.addressSpace().free(address(at), size, type, error)) return TRUE;
    SetLastError(error);
    return FALSE;
}

BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect) {
    sim::Handheld& device = sim::Handheld::current();
    // With PAGE_PHYSICAL the source is the physical address divided by 256.
    std::uint64_t physical = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(source)) << 8;
    if (device.faults().check("VirtualCopy", static_cast<DWORD>(physical))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = ERROR_SUCCESS;
    if (device.addressSpace().copy(address(dest), physical, size, protect, error)) return TRUE;
    SetLastError(error);
    return FALSE;
}

}  // namespace ce
