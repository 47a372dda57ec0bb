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
