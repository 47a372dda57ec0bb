// Device-independent bitmaps as bitmap and icon resources hold them (a
// BITMAPINFOHEADER, its colour table, then the pixel rows), decoded to 32-bit pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

struct DibImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0xAARRGGBB, top line first
};

// A bitmap resource: 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed or with bit
// fields, bottom-up or top-down. False when the header, the colour table or the rows
// do not fit in `size` bytes or the format is not one of these.
bool decodeDib(const void* bytes, std::size_t size, DibImage& out);

// An icon image: the header gives twice the height, for the colour rows and the AND
// mask behind them; masked pixels come out with alpha 0.
bool decodeIconImage(const void* bytes, std::size_t size, DibImage& out);

// The icon of an icon group (RT_GROUP_ICON data) to use at `wantedSize` pixels: the
// closest size, then the most bits per pixel. Its RT_ICON id, or -1 when the group is
// malformed or empty.
int chooseGroupIcon(const void* bytes, std::size_t size, int wantedSize);

}  // namespace sim
