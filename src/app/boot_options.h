// The options a boot uses: the device's saved ones, then the flags as the tab pages
// would write their controls, then the host files put on the card.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>

#include "app/command_line.h"
#include "boot/boot_menu.h"
#include "sim/file_system.h"

namespace quorvel::app {

// A host kernel or image reaches the device's card without a copy: `links` receives
// the device paths it is read at. 0, or the exit status (with the message said): 2
// for a bad flag, 1 when a file cannot be put on the card. `demo`: the device is the
// demo device, whose own files a host file of the same name may hide.
int prepareOptions(const Arguments& a, BootMenu& menu, const std::filesystem::path& root, sim::LinkedFiles& links,
                   bool demo, std::ostream& err);

// Where the kernel of the options is on this computer when it is in the device
// folder or linked into it, for the message when it is not there.
std::optional<std::filesystem::path> hostPathOf(const BootMenu& menu, const std::filesystem::path& root,
                                                const sim::LinkedFiles& links);

// "\Storage Card\tamsel.gz": the kernel's directory and name as the boot joins them.
std::string kernelPathOf(const BootMenu& menu);

}  // namespace quorvel::app
