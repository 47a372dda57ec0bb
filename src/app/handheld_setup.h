// The simulated handheld a command runs on, set up from the flags: its root folder
// (the user's device or a demo device made for the run), its cards, processor, RAM,
// screen, COM1 and disks.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>

#include "app/command_line.h"
#include "app/temporary_files.h"
#include "boot/platform_id.h"
#include "sim/settings.h"

namespace quorvel::app {

// The device's root folder: the one asked for, or the demo device prepared in the
// run's folder `demo`; a non-zero exit status when there is none. With `needCard`, a
// folder asked for must hold the first storage card's folder: nothing is made in it.
int deviceRoot(const Arguments& a, std::optional<RunFolder>& demo, std::filesystem::path& root, std::ostream& err,
               bool needCard = true);

// The first storage card's name ("Storage Card" unless --card says otherwise).
std::string firstCard(const Arguments& a);

// The settings that reading the device's configuration needs: its root and cards.
sim::DeviceSettings baseSettings(const Arguments& a, const std::filesystem::path& root);

// The rest, for the handheld that boots `platform`: the processor (as asked, else the
// platform's), RAM, screen, COM1 and disks.
void fitHandheld(const Arguments& a, const PlatformId& platform, sim::DeviceSettings& settings);

}  // namespace quorvel::app
