// What a simulated handheld is: its processor, RAM, screen, clock and folders.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "sim/file_system.h"

namespace sim {

enum class CpuFamily { SA11x0, PXA2x0 };

// Main ID register values the emulator's CPU models answer with.
constexpr std::uint32_t MAIN_ID_SA1110 = 0x6901B119;
constexpr std::uint32_t MAIN_ID_SA1100 = 0x4401A11B;
constexpr std::uint32_t MAIN_ID_PXA250 = 0x69052100;
constexpr std::uint32_t MAIN_ID_PXA270 = 0x69054110;

// The model a platform id's cpu word names; any other word is taken as an SA-1110.
constexpr std::uint32_t mainIdFor(std::uint32_t cpuWord) {
    switch (cpuWord) {
    case quorvel::CPU_WORD_SA1100: return MAIN_ID_SA1100;
    case quorvel::CPU_WORD_PXA250: return MAIN_ID_PXA250;
    case quorvel::CPU_WORD_PXA270: return MAIN_ID_PXA270;
    default: return MAIN_ID_SA1110;
    }
}

// The order in which the simulated Windows CE commits frames: from anywhere in RAM,
// as on a device that has been running for a while, or from the top of RAM downwards.
enum class FrameOrder { Scattered, TopDown };

struct RamBank {
    std::uint32_t base;
    std::uint32_t size;
};

// A block device ("DSK1:") served by a disk image file, with what its driver reports.
struct DiskImage {
    DiskImage() = default;
    DiskImage(std::filesystem::path file) : image(std::move(file)) {}
    std::filesystem::path image;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t flags = 0x1;  // DISK_INFO_FLAGS_MBR
};

struct DeviceSettings {
    CpuFamily cpu = CpuFamily::SA11x0;
    std::uint32_t mainId = MAIN_ID_SA1110;
    // Populated RAM; empty means 32 MB at the start of the family's first DRAM bank.
    std::vector<RamBank> ram;

    // Host folder that is the device's root file system, and its top-level folders
    // that are storage cards.
    std::filesystem::path root;
    std::vector<std::u16string> storageCards = {u"Storage Card"};
    // Host files the device reads at a device path of their own, for this run only.
    LinkedFiles linkedFiles;

    // Where the bytes written to COM1 go besides the record: a host file, "-" for the
    // terminal, empty for nowhere.
    std::filesystem::path com1Output;

    int screenWidth = 640;
    int screenHeight = 240;
    int bitsPerPixel = 16;
    int dpi = 96;
    // Physical address of the LCD frame: video memory beside DRAM, where the demo's
    // machine (HP Jornada 720) has it and its boot information says. The handheld
    // backs it with memory no page is ever taken from; an address inside DRAM keeps
    // the frame there instead.
    std::uint32_t frameAddress = 0x48200000;
    // Video memory backed at frameAddress at least: the platform's whole frame when
    // the screen shown is smaller, so a kernel drawing as its boot information says
    // does not write past the memory.
    std::uint32_t frameMemoryBytes = 0;

    std::int32_t timeZoneBias = 0;  // minutes, UTC = local + bias
    std::int32_t daylightBias = -60;
    bool daylightTime = false;

    std::uint32_t osMajor = 4;
    std::uint32_t osMinor = 20;
    std::uint32_t osBuild = 1088;
    std::uint16_t processorLevel = 4;
    std::uint16_t processorRevision = 0;
    std::uint32_t processorType = 2577;  // PROCESSOR_STRONGARM

    bool coredllExportsGetVersionEx = true;

    // CP15 c13: the application's process slot (bits 25..31), as Windows CE runs it.
    std::uint32_t processId = 0x02000000;

    // Block devices by name ("DSK1:", matched without regard to case).
    std::map<std::u16string, DiskImage> disks;

    // Names the resolver answers itself, each with its addresses in order ("127.0.0.2");
    // other names go to the host's resolver.
    std::map<std::string, std::vector<std::string>> hosts;
    // How long connect and recv wait before they fail with WSAETIMEDOUT.
    std::chrono::milliseconds socketTimeout{10000};

    // Seeds the scatter of committed frames and the random routine.
    std::uint32_t seed = 1;
    FrameOrder frameOrder = FrameOrder::Scattered;

    // The family's populated RAM when `ram` is empty.
    std::vector<RamBank> effectiveRam() const;
    // The LCD frame's bytes (the line length times the height).
    std::uint32_t frameBytes() const;
};

// The first address of each family's DRAM, where RAM is populated by default.
std::uint32_t dramBase(CpuFamily family);

}  // namespace sim
