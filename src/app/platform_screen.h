// The simulated handheld's screen as the chosen platform has it: the LCD frame at
// the address the boot information will name, so that a kernel drawing where it is
// told draws on the screen.
#pragma once

#include "boot/platform_id.h"
#include "sim/settings.h"

namespace quorvel::app {

// Moves the frame to the platform's framebuffer address when the boot loader knows
// one; with `keepSize` false the screen also takes that framebuffer's size and depth.
void placeScreenFor(const PlatformId& platform, sim::DeviceSettings& settings, bool keepSize);

}  // namespace quorvel::app
