#include "app/platform_screen.h"

#include <algorithm>

#include "hardware/cpu_models.h"
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

sim::DeviceSettings handheldFor(const PlatformId& platform, std::uint32_t ramBytes) {
    const bool xscale = (platform.cpu & 0xFFF00000u) == CPU_WORD_XSCALE;
    sim::DeviceSettings settings;
    settings.cpu = xscale ? sim::CpuFamily::PXA2x0 : sim::CpuFamily::SA11x0;
    settings.mainId = sim::mainIdFor(platform.cpu);
    placeScreenFor(platform, settings, false);
    const std::uint32_t bankSize = xscale ? 64u << 20 : 128u << 20;
    for (std::uint32_t at = 0; at < ramBytes; at += bankSize)
        settings.ram.push_back({sim::dramBase(settings.cpu) + at, std::min(bankSize, ramBytes - at)});
    return settings;
}

}  // namespace quorvel::app
