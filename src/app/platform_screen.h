// The simulated handheld as the chosen platform has it: its processor, its RAM, and
// the LCD frame at the address the boot information will name, so that a kernel
// drawing where it is told draws on the screen.
#pragma once

#include "boot/platform_id.h"
#include "sim/settings.h"

namespace quorvel::app {

// Moves the frame to the platform's framebuffer address when the boot loader knows
// one; with `keepSize` false the screen also takes that framebuffer's size and depth.
void placeScreenFor(const PlatformId& platform, sim::DeviceSettings& settings, bool keepSize);

// A handheld of the platform's processor family and main ID with `ramBytes` of RAM
// from the first DRAM bank up, in banks of at most the family's bank size, and the
// platform's screen.
sim::DeviceSettings handheldFor(const PlatformId& platform, std::uint32_t ramBytes);

}  // namespace quorvel::app
