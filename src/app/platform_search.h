// The platforms a user can pick, and finding one from what was typed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "boot/platform_id.h"

namespace quorvel::app {

constexpr int DEMO_PLATFORM = 9;  // selectable index of "HP Jornada 720 (US/UK)"

// The selectable platforms, in the order `quorvel platforms` shows them.
std::vector<const PlatformName*> selectablePlatforms();

// A platform by index, by name without regard to case, or by a prefix that names
// one platform; otherwise the reason and the near names.
std::optional<int> findPlatform(const std::string& wanted, std::string& why);

}  // namespace quorvel::app
