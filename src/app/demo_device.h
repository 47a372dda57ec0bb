// The demo handheld: an HP Jornada 720 whose storage card holds the sample kernel
// and a configuration file that selects it.
#pragma once

#include <filesystem>

namespace quorvel::app {

// Fills `root` (an empty folder) with the demo device's files; false on failure.
bool prepareDemoDevice(const std::filesystem::path& root);

}  // namespace quorvel::app
