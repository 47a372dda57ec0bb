// Screenshots read back by cairo: each depth's pixels come out as the colours they
// stand for, the bytes between lines are not pixels, and unreadable frames or
// unwritable files are refused.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/screen/png_writer.h"
#include "support/device.h"
#include "support/case_names.h"

namespace {

using testing_support::PrintTo;
struct DepthCase {
    const char* name;
    int bitsPerPixel;
    // Four pixels of one line in the frame's own format, and what they stand for.
    std::vector<std::uint8_t> line;
    std::uint32_t colours[4];
};

const DepthCase depthCases[] = {
    {"rgb565", 16, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x10, 0x84}, {0xFF0000, 0x00FF00, 0x0000FF, 0x848284}},
    {"bgr24", 24, {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0x12, 0x34, 0x56},
     {0xFF0000, 0x00FF00, 0x0000FF, 0x563412}},
    {"xrgb32", 32, {0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x56, 0x34, 0x12, 0x00},
     {0xFF0000, 0x00FF00, 0x0000FF, 0x123456}},
    {"rgb332", 8, {0xE0, 0x1C, 0x03, 0xFF}, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
    {"grey4", 4, {0xF0, 0x85}, {0x000000, 0xFFFFFF, 0x555555, 0x888888}},
};

// Reads a PNG back as 0x00RRGGBB pixels.
bool readPng(const std::string& path, int& width, int& height, std::vector<std::uint32_t>& pixels) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    bool ok = cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS;
    if (ok) {
        width = cairo_image_surface_get_width(surface);
        height = cairo_image_surface_get_height(surface);
        int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        pixels.clear();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint32_t pixel;
                std::memcpy(&pixel, data + y * stride + x * 4, 4);
                pixels.push_back(pixel & 0xFFFFFF);
            }
        }
    }
    cairo_surface_destroy(surface);
    return ok;
}

class PngWriterTest : public ::testing::TestWithParam<DepthCase> {
protected:
    testing_support::TempDir folder;
};

// Pixel `x` of a line in the frame's format, as a number, and back (a 4-bit line
// holds its first pixel in the low nibble).
std::uint32_t pixelAt(const std::uint8_t* line, int x, int bits) {
    if (bits == 4) return (x & 1) ? line[x / 2] >> 4 : line[x / 2] & 0xF;
    std::uint32_t value = 0;
    for (int i = bits / 8 - 1; i >= 0; --i) value = value << 8 | line[x * bits / 8 + i];
    return value;
}

void putPixel(std::uint8_t* line, int x, int bits, std::uint32_t value) {
    if (bits == 4) {
        std::uint8_t& byte = line[x / 2];
        byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0x0F) | value << 4) : static_cast<std::uint8_t>((byte & 0xF0) | value);
        return;
    }
    for (int i = 0; i < bits / 8; ++i) line[x * bits / 8 + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Three lines: the colours, the colours reversed, and the first colour again; every
// line is followed by padding bytes that must not show.
TEST_P(PngWriterTest, WritesTheColoursThePixelsStandFor) {
    const DepthCase& c = GetParam();
    const int bits = c.bitsPerPixel;
    const int lineBytes = 4 * bits / 8 + 5;
    std::vector<std::uint8_t> memory(static_cast<std::size_t>(3 * lineBytes), 0xA5);
    for (int x = 0; x < 4; ++x) {
        putPixel(&memory[0], x, bits, pixelAt(c.line.data(), x, bits));
        putPixel(&memory[static_cast<std::size_t>(lineBytes)], 3 - x, bits, pixelAt(c.line.data(), x, bits));
        putPixel(&memory[static_cast<std::size_t>(2 * lineBytes)], x, bits, pixelAt(c.line.data(), 0, bits));
    }
    sim::FrameBuffer frame{memory.data(), 4, 3, lineBytes, c.bitsPerPixel};
    std::string path = (folder.path() / "screen.png").string();
    ASSERT_TRUE(sim::writePng(frame, path));

    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(readPng(path, width, height, pixels));
    EXPECT_EQ(width, 4);
    EXPECT_EQ(height, 3);
    std::vector<std::uint32_t> expected;
    for (int x = 0; x < 4; ++x) expected.push_back(c.colours[x]);
    for (int x = 0; x < 4; ++x) expected.push_back(c.colours[3 - x]);
    for (int x = 0; x < 4; ++x) expected.push_back(c.colours[0]);
    EXPECT_EQ(pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, PngWriterTest, ::testing::ValuesIn(depthCases),
                         ::testing::PrintToStringParamName());

TEST(PngWriterRefusalTest, RefusesWhatItCannotReadOrWrite) {
    testing_support::TempDir folder;
    std::vector<std::uint8_t> memory(64, 0);
    std::string path = (folder.path() / "screen.png").string();
    const struct {
        const char* name;
        sim::FrameBuffer frame;
        std::string path;
    } cases[] = {
        {"no screen", {nullptr, 4, 4, 8, 16}, path},
        {"lines longer than their bytes", {memory.data(), 8, 2, 8, 16}, path},
        {"no lines", {memory.data(), 4, 0, 8, 16}, path},
        {"a depth it does not know", {memory.data(), 4, 4, 8, 12}, path},
        {"a folder that does not exist", {memory.data(), 4, 4, 8, 16}, (folder.path() / "none" / "x.png").string()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(sim::writePng(c.frame, c.path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
