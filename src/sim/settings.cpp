// Device settings and the families' memory maps.
#include "sim/settings.h"

namespace sim {

std::uint32_t dramBase(CpuFamily family) {
    return family == CpuFamily::SA11x0 ? 0xC0000000u : 0xA0000000u;
}

std::vector<RamBank> DeviceSettings::effectiveRam() const {
    if (!ram.empty()) return ram;
    return {{dramBase(cpu), 32u << 20}};
}

}  // namespace sim

namespace sim {

std::uint32_t DeviceSettings::frameBytes() const {
    std::uint32_t lineBytes = (static_cast<std::uint32_t>(screenWidth) * static_cast<std::uint32_t>(bitsPerPixel) + 7) / 8;
    return lineBytes * static_cast<std::uint32_t>(screenHeight);
}

}  // namespace sim
