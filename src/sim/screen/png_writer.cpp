// Frame pixels widened to 8 bits a channel by repeating their top bits, so full
// intensity stays full (0x1F becomes 0xFF) and black stays black.
#include "sim/screen/png_writer.h"

#include <cstring>

#include "base/little_endian.h"
#include "sim/cairo_library.h"

namespace sim {

namespace {

std::uint32_t widen(std::uint32_t value, int bits) {
    std::uint32_t wide = value << (8 - bits);
    for (int filled = bits; filled < 8; filled += bits) wide |= wide >> filled;
    return wide & 0xFF;
}

std::uint32_t rgb(std::uint32_t r, std::uint32_t g, std::uint32_t b) { return r << 16 | g << 8 | b; }

}  // namespace

bool frameToRgb(const FrameBuffer& frame, std::vector<std::uint32_t>& pixels) {
    const int bits = frame.bitsPerPixel;
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0) return false;
    if (bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (frame.lineBytes <= 0 || (static_cast<std::int64_t>(frame.width) * bits + 7) / 8 > frame.lineBytes) return false;
    pixels.resize(static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height));
    for (int y = 0; y < frame.height; ++y) {
        const std::uint8_t* line = frame.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.lineBytes);
        std::uint32_t* out = &pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width)];
        for (int x = 0; x < frame.width; ++x) {
            const std::uint8_t* p = line + static_cast<std::size_t>(x) * static_cast<std::size_t>(bits) / 8;
            switch (bits) {
            case 4: {
                std::uint32_t grey = widen((x & 1) ? p[0] >> 4 : p[0] & 0xF, 4);
                out[x] = rgb(grey, grey, grey);
                break;
            }
            case 8:
                out[x] = rgb(widen(p[0] >> 5, 3), widen((p[0] >> 2) & 7, 3), widen(p[0] & 3, 2));
                break;
            case 16: {
                std::uint32_t v = quorvel::readLe16(p);
                out[x] = rgb(widen(v >> 11, 5), widen((v >> 5) & 0x3F, 6), widen(v & 0x1F, 5));
                break;
            }
            case 24: out[x] = rgb(p[2], p[1], p[0]); break;
            default: out[x] = rgb(p[2], p[1], p[0]); break;
            }
        }
    }
    return true;
}

bool writePng(const FrameBuffer& frame, const std::string& path) {
    std::vector<std::uint32_t> pixels;
    if (!frameToRgb(frame, pixels)) return false;
    cairo_surface_t* surface = cairo().image_surface_create(CAIRO_FORMAT_RGB24, frame.width, frame.height);
    if (cairo().surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo().surface_destroy(surface);
        return false;
    }
    cairo().surface_flush(surface);
    unsigned char* data = cairo().image_surface_get_data(surface);
    const int stride = cairo().image_surface_get_stride(surface);
    for (int y = 0; y < frame.height; ++y) {
        std::memcpy(data + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride),
                    &pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width)],
                    static_cast<std::size_t>(frame.width) * 4);
    }
    cairo().surface_mark_dirty(surface);
    bool written = cairo().surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo().surface_destroy(surface);
    return written;
}

}  // namespace sim
