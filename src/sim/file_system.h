// The device's file system: a host folder whose top-level folders named in the
// settings are storage cards.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// The host path of a device path ("\Storage Card\tamsel.gz"). Names are matched
// without regard to ASCII case, as Windows CE does; the last component may be
// missing when `lastMayBeMissing` (a file about to be created). No "." or "..":
// nothing outside the root is reachable.
std::optional<std::filesystem::path> resolveDevicePath(const std::filesystem::path& root, std::u16string_view path,
                                                       bool lastMayBeMissing);

// Host files shown at a device path without being copied there ("\Storage Card\k"
// → /home/me/k): the kernel and image a user names for one run. The device reads
// them; it cannot write, delete or rename them.
using LinkedFiles = std::map<std::u16string, std::filesystem::path>;

// The host file linked at the device path `path`, matched as resolveDevicePath
// matches names (ASCII case ignored, either separator, repeated separators as one).
std::optional<std::filesystem::path> linkedFile(const LinkedFiles& links, std::u16string_view path);

}  // namespace sim
