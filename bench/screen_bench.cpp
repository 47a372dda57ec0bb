// The screen's per-frame costs: widening an RGB565 frame to 32-bit pixels (what the
// live view does on every refresh) and writing it as a PNG screenshot.
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "best_of.h"
#include "sim/screen/png_writer.h"

using bench::Result;
using bench::best;

int main() {
    const struct {
        int width, height;
    } screens[] = {{240, 320}, {640, 240}, {640, 480}};
    std::mt19937 random(7);
    std::filesystem::path png = std::filesystem::temp_directory_path() / "quorvel-screen-bench.png";
    std::printf("%-10s %14s %14s %12s\n", "screen", "widen (ms)", "png (ms)", "png bytes");
    for (const auto& screen : screens) {
        // Flat areas with some detail, as a dialog looks, rather than noise.
        std::vector<std::uint8_t> memory(static_cast<std::size_t>(screen.width * screen.height * 2));
        for (std::size_t i = 0; i < memory.size(); i += 2) {
            std::uint16_t v = (i / 2 / 40) % 3 == 0 ? 0xC618 : 0xFFFF;
            if (random() % 16 == 0) v = 0;
            memory[i] = static_cast<std::uint8_t>(v & 0xFF);
            memory[i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        sim::FrameBuffer frame{memory.data(), screen.width, screen.height, screen.width * 2, 16};
        std::vector<std::uint32_t> pixels;
        Result widen = best([&] {
            Result r;
            for (int i = 0; i < 10; ++i) sim::frameToRgb(frame, pixels);
            return r;
        });
        Result write = best([&] {
            Result r;
            sim::writePng(frame, png.string());
            return r;
        });
        std::printf("%4dx%-5d %14.3f %14.3f %12ju\n", screen.width, screen.height, widen.seconds * 1000 / 10,
                    write.seconds * 1000, static_cast<std::uintmax_t>(std::filesystem::file_size(png)));
        std::printf("row|screen %dx%d: widen a frame, PNG screenshot|%.3f ms, %.3f ms|-|-\n", screen.width, screen.height,
                    widen.seconds * 1000 / 10, write.seconds * 1000);
    }
    std::filesystem::remove(png);
    return 0;
}
