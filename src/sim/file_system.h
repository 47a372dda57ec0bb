// The device's file system: a host folder whose top-level folders named in the
// settings are storage cards.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace sim {

// The host path of a device path ("\Storage Card\tamsel.gz"). Names are matched
// without regard to ASCII case, as Windows CE does; the last component may be
// missing when `lastMayBeMissing` (a file about to be created). No "." or "..":
// nothing outside the root is reachable.
std::optional<std::filesystem::path> resolveDevicePath(const std::filesystem::path& root, std::u16string_view path,
                                                       bool lastMayBeMissing);

}  // namespace sim
