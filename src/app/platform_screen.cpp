#include "app/platform_screen.h"

#include "boot/boot_info.h"

namespace quorvel::app {

void placeScreenFor(const PlatformId& platform, sim::DeviceSettings& settings, bool keepSize) {
    // The row the boot information is made from: the platform's row for the screen's
    // depth, else its last row.
    const FramebufferEntry* chosen = nullptr;
    for (const FramebufferEntry* row = framebufferTable; row->platform.cpu != 0; ++row) {
        if (platformMatch(platform, row->platform, false) == 0) continue;
        chosen = row;
        if (row->bpp == settings.bitsPerPixel) break;
    }
    if (!chosen || chosen->physAddress == 0) return;
    settings.frameAddress = chosen->physAddress;
    settings.frameMemoryBytes = static_cast<std::uint32_t>(chosen->lineBytes) * static_cast<std::uint32_t>(chosen->height);
    if (keepSize) return;
    settings.screenWidth = chosen->width;
    settings.screenHeight = chosen->height;
    settings.bitsPerPixel = chosen->bpp;
}

}  // namespace quorvel::app
