// Linux's ARM boot protocol: the tagged list a kernel is handed in r2 (ATAG_CORE, one
// ATAG_MEM per RAM bank, ATAG_CMDLINE, ATAG_INITRD2, ATAG_VIDEOLFB, ATAG_NONE), written
// and read as plain bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

constexpr std::uint32_t ATAG_NONE = 0x00000000;
constexpr std::uint32_t ATAG_CORE = 0x54410001;
constexpr std::uint32_t ATAG_MEM = 0x54410002;
constexpr std::uint32_t ATAG_INITRD2 = 0x54420005;
constexpr std::uint32_t ATAG_VIDEOLFB = 0x54410008;
constexpr std::uint32_t ATAG_CMDLINE = 0x54410009;

// Linux copies at most this much of the command line, its NUL included.
constexpr std::uint32_t LINUX_COMMAND_LINE_SIZE = 1024;

struct LinuxMemoryBank {
    std::uint32_t start;
    std::uint32_t size;
};

struct LinuxVideo {
    std::uint16_t width, height, depth, lineLength;
    std::uint32_t base, size;
    std::uint8_t redSize, redPos, greenSize, greenPos, blueSize, bluePos, rsvdSize, rsvdPos;
};

struct LinuxTags {
    std::uint32_t pageSize = 4096;
    std::vector<LinuxMemoryBank> memory;
    std::string commandLine;
    std::optional<LinuxMemoryBank> initrd;
    std::optional<LinuxVideo> video;
};

// Bytes the list takes.
std::uint32_t tagListSize(const LinuxTags& tags);

// Writes the list to `out`, which holds `capacity` bytes: its size, or 0 (nothing
// written) when it does not fit or the command line is longer than Linux takes.
std::uint32_t writeTagList(const LinuxTags& tags, std::uint8_t* out, std::uint32_t capacity);

// One tag as read back: its header and its words (the size in words includes the
// two-word header).
struct ReadTag {
    std::uint32_t tag;
    std::uint32_t size;
    std::vector<std::uint8_t> body;
};

// Reads a list from `size` bytes: the tags up to and including ATAG_NONE. False, with
// `why` set, when the bytes end or a size is impossible before ATAG_NONE.
bool readTagList(const std::uint8_t* bytes, std::uint32_t size, std::vector<ReadTag>& tags, std::string& why);

// "ATAG_MEM" for a tag number, "0x........" for one this list never holds.
std::string tagName(std::uint32_t tag);

}  // namespace quorvel
