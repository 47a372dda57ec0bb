// The options a boot uses: the device's saved ones, then the flags as the tab pages
// would write their controls, then the host files put on the card.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>

#include "app/command_line.h"
#include "app/temporary_files.h"
#include "boot/boot_menu.h"

namespace quorvel::app {

// 0, or the exit status (with the message said): 2 for a bad flag, 1 when a file
// cannot be placed. `demo`: the device is the demo device, whose files may be replaced.
int prepareOptions(const Arguments& a, BootMenu& menu, const std::filesystem::path& root, PlacedFile& kernel,
                   PlacedFile& image, bool demo, std::ostream& err);

// Where a kernel in a device folder is on this computer, for the message when it is
// not there.
std::optional<std::filesystem::path> hostPathOf(const BootMenu& menu, const std::filesystem::path& root);

}  // namespace quorvel::app
