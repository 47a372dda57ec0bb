// Block devices of the simulated handheld, opened by name through CreateFileW.
#pragma once

#include <optional>
#include <string_view>

#include "platform/types.h"

namespace ce::host {

// A handle to the disk named `name` ("DSK1:"), or nothing when the device has no
// disk of that name.
std::optional<HANDLE> openDiskDevice(std::u16string_view name);

}  // namespace ce::host
