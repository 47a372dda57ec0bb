// The module's resources: the bytes of the .res file the build compiles from
// ui/resources/quorvel.rc, and the handles and names the resource calls use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/types.h"

namespace ce {

// Defined by the build (module_resources.cpp, generated from the .res file).
extern const std::uint8_t moduleResources[];
extern const std::size_t moduleResourcesSize;

using HRSRC = struct HRSRC__*;
using HGLOBAL = void*;
using HBITMAP = struct HBITMAP__*;
using HICON = struct HICON__*;

// A resource named by number: the number in place of the name's pointer.
inline LPCWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

inline LPCWSTR const RT_BITMAP = MAKEINTRESOURCEW(2);
inline LPCWSTR const RT_ICON = MAKEINTRESOURCEW(3);
inline LPCWSTR const RT_DIALOG = MAKEINTRESOURCEW(5);
inline LPCWSTR const RT_STRING = MAKEINTRESOURCEW(6);
inline LPCWSTR const RT_GROUP_ICON = MAKEINTRESOURCEW(14);

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

}  // namespace ce
