// The LCD's frame as pixels: what the window system paints, the kernel draws into,
// and the screen view and PNG writer show.
#pragma once

#include <cstdint>

namespace sim {

struct FrameBuffer {
    std::uint8_t* pixels = nullptr;  // first byte of the top line; null when there is no screen
    int width = 0;
    int height = 0;
    int lineBytes = 0;
    int bitsPerPixel = 16;  // 16 is RGB565, little-endian
};

}  // namespace sim

namespace sim {

// The frame of the current handheld's LCD: its pixels in simulated physical memory
// at the address the device settings give its video memory (the LCD controller's
// DBAR1 on SA-11x0 holds the same address), with the screen's size and depth. A
// frame with no pixels when there is no handheld or the address is not memory.
FrameBuffer lcdFrame();

}  // namespace sim
