// Drawing the window tree into the LCD frame with cairo, in the handheld's look.
#pragma once

#include <string>

#include "sim/screen/frame_buffer.h"
#include "sim/windows/window_system.h"

namespace sim {

struct TextMetrics {
    int averageWidth;  // of the 52 letters, rounded
    int height;        // ascent and descent
    int ascent;
};

// The dialog face (DejaVu Sans Condensed) at a pixel size.
TextMetrics measureFont(double pixels);
double textWidth(const std::u16string& text, double pixels);

void paintScreen(WindowSystem& system, const FrameBuffer& frame);

}  // namespace sim
