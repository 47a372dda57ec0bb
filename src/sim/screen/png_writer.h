// Screenshots: the LCD frame as 32-bit pixels, and as a PNG file (written by cairo).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/screen/frame_buffer.h"

namespace sim {

// The frame as 0x00RRGGBB pixels, top line first. Depths: 16 (RGB565), 24 (blue,
// green, red bytes), 32 (0x00RRGGBB words), 8 (3-3-2 colour: no palette is modelled)
// and 4 (grey levels, two pixels a byte, the first in the low nibble), as the window
// system paints them. False when there is no screen, the depth is another, or a line
// of pixels does not fit in `lineBytes`.
bool frameToRgb(const FrameBuffer& frame, std::vector<std::uint32_t>& pixels);

// Writes the frame as a PNG file of its size; false when it cannot be read (as above)
// or the file cannot be written.
bool writePng(const FrameBuffer& frame, const std::string& path);

}  // namespace sim
