// 32-bit addresses and the pointers they stand for. Virtual addresses handed out by
// VirtualAlloc fit in 32 bits (on the host the simulated handheld places them low).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace ce {

inline std::uint8_t* pointerAt(DWORD address) {
    return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address));
}

inline DWORD addressOf(const void* pointer) {
    return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace ce
