// The front end's command line: a command and the flags that stand in for the tab
// pages and the device's settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::app {

enum class Command { Boot, Platforms, Options, Help };

struct Arguments {
    Command command = Command::Help;
    bool help = false;  // --help after a command

    // The device.
    std::optional<std::filesystem::path> device;
    std::vector<std::string> cards;
    std::optional<std::string> cpu;  // sa1100, sa1110, pxa250, pxa270
    std::optional<std::uint32_t> ramMegabytes;
    std::optional<int> screenWidth, screenHeight, screenBits;
    std::optional<std::string> com1;
    std::vector<std::pair<std::string, std::filesystem::path>> disks;

    // The options (unset: as the configuration file has them).
    std::optional<std::string> platform;
    std::optional<std::string> directory;
    std::optional<std::string> kernel;
    std::optional<int> root;
    std::optional<std::string> image;
    bool serial = false, verbose = false, single = false, ask = false, debugger = false;
    std::optional<std::uint32_t> speed;
    std::optional<std::string> extra;
    bool noPause = false, noSafety = false, yes = false;
    std::optional<std::filesystem::path> saveMemory;
};

struct ParseResult {
    std::optional<Arguments> arguments;
    std::string error;  // why parsing failed
};

ParseResult parseCommandLine(const std::vector<std::string>& words);
std::string usage(Command command);

}  // namespace quorvel::app
