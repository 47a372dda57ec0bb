// Where the LCD frame of the current handheld is.
#include "sim/screen/frame_buffer.h"

#include "sim/handheld.h"

namespace sim {

FrameBuffer lcdFrame() {
    FrameBuffer frame;
    if (!Handheld::exists()) return frame;
    Handheld& device = Handheld::current();
    const DeviceSettings& settings = device.settings();
    std::uint32_t bytes = settings.frameBytes();
    PhysicalAddress base(settings.frameAddress);
    if (bytes == 0 || !device.memory().contains(base, bytes)) return frame;
    frame.pixels = device.memory().host(base);
    frame.width = settings.screenWidth;
    frame.height = settings.screenHeight;
    frame.lineBytes = static_cast<int>((static_cast<std::uint32_t>(settings.screenWidth) * settings.bitsPerPixel + 7) / 8);
    frame.bitsPerPixel = settings.bitsPerPixel;
    return frame;
}

}  // namespace sim
