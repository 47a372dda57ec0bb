// Clearing frames for committed pages: every frame asked for reads zero afterwards,
// frames not asked for keep their bytes, and a frame whose backing the host never
// provided is left a hole (it costs the process no memory until written).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "sim/physical_memory.h"

namespace {

constexpr std::uint32_t LOW = 0xC0000000, HIGH = 0xC8000000, BANK = 1u << 20;

bool isHole(const sim::PhysicalMemory& memory, sim::PhysicalAddress frame) {
    const auto offset = static_cast<off_t>(memory.backingOffset(frame));
    return lseek(memory.backingFd(), offset, SEEK_DATA) != offset;
}

bool reads(const sim::PhysicalMemory& memory, sim::PhysicalAddress frame, std::uint8_t value) {
    const std::uint8_t* bytes = memory.host(frame);
    for (std::uint32_t i = 0; i < sim::FRAME_SIZE; ++i)
        if (bytes[i] != value) return false;
    return true;
}

TEST(PhysicalMemoryZeroing, FramesAskedForReadZeroOthersKeepTheirBytesAndHolesStayHoles) {
    // Frame numbers in each bank: painted ones in runs and alone, between holes.
    const std::vector<std::uint32_t> painted = {0, 1, 2, 5, 9, 10, 40, 41, 42, 43, 100, 255};
    const std::vector<std::uint32_t> asked = {255, 0, 3, 1, 40, 7, 43, 9, 200, 101, 2, 100, 254};
    sim::PhysicalMemory memory({{LOW, BANK}, {HIGH, BANK}}, 1);
    for (std::uint32_t bank : {LOW, HIGH})
        for (std::uint32_t n : painted) std::memset(memory.host(sim::PhysicalAddress(bank + n * sim::FRAME_SIZE)), 0xA5, sim::FRAME_SIZE);

    std::vector<sim::PhysicalAddress> frames;
    for (std::uint32_t bank : {HIGH, LOW})
        for (std::uint32_t n : asked) frames.emplace_back(bank + n * sim::FRAME_SIZE);
    memory.zeroFrames(frames);

    // Holes first: reading a frame through the view makes the host provide it.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::uint32_t bank : {LOW, HIGH}) {
            for (std::uint32_t n = 0; n < BANK / sim::FRAME_SIZE; ++n) {
                SCOPED_TRACE(testing::Message() << std::hex << bank << " frame " << std::dec << n);
                const sim::PhysicalAddress frame(bank + n * sim::FRAME_SIZE);
                const bool wasPainted = std::find(painted.begin(), painted.end(), n) != painted.end();
                const bool wasAsked = std::find(asked.begin(), asked.end(), n) != asked.end();
                if (pass == 0 && !wasPainted) {
                    EXPECT_TRUE(isHole(memory, frame));
                }
                if (pass == 1) {
                    EXPECT_TRUE(reads(memory, frame, wasPainted && !wasAsked ? 0xA5 : 0));
                }
            }
        }
    }
}

}  // namespace
