// The front end's command line: a command and the flags that stand in for the tab
// pages, the device's settings and how the run is watched.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::app {

enum class Command { Boot, Platforms, Options, Gui, Help, Version };

struct Arguments {
    Command command = Command::Help;
    bool help = false;   // --help after a command
    std::string usage;   // the help text of the command asked for

    // The device.
    std::optional<std::filesystem::path> device;
    std::vector<std::string> cards;
    std::optional<std::string> cpu;  // sa1100, sa1110, pxa250, pxa270
    std::optional<std::uint32_t> ramMegabytes;
    std::optional<int> screenWidth, screenHeight, screenBits;
    std::optional<std::string> com1;
    std::vector<std::pair<std::string, std::filesystem::path>> disks;

    // Host files to boot: shown on the storage card for this run.
    std::optional<std::filesystem::path> kernelFile;
    // The folder of a kernel given as a URL ("kernels/"): an --image name is asked
    // for there too.
    std::optional<std::string> kernelUrlFolder;

    // The options (unset: as the configuration file has them).
    std::optional<std::string> platform;
    std::optional<std::string> directory;
    std::optional<std::string> kernel;
    std::optional<int> root;
    std::optional<std::string> image;  // a name on the device, or a host file
    std::optional<bool> serial, verbose, single, ask, debugger;
    std::optional<std::uint32_t> speed;
    std::optional<std::string> extra;
    std::optional<bool> pause, safety;
    // How the kernel is entered and where a raw one goes (unset: as recognised).
    std::optional<std::string> protocol;  // native, linux
    std::optional<std::uint32_t> machineNumber, loadAddress, entry;
    bool yes = false;
    bool save = false;  // write the options of this boot to the device's quorvel.cnf

    // The run.
    std::uint64_t maxInstructions = 0;  // 0: no limit
    double timeoutSeconds = 0;          // 0: no limit
    std::optional<std::string> stopAt;  // jump, entry
    std::optional<std::filesystem::path> saveMemory;
    std::optional<std::filesystem::path> json;
    bool dryRun = false;
    std::string emulator = "unicorn";  // or qemu: a whole machine after the jump
    std::optional<std::string> gdb;    // HOST:PORT of QEMU's debugger stub, loopback when no host was given

    // The window (gui): headless when a screenshot is asked for.
    std::optional<std::filesystem::path> screenshot;
    std::optional<std::string> tab;  // main, option, console
    std::vector<std::pair<int, int>> taps;
    std::optional<std::string> keys;
    std::optional<int> scale;  // the live window's, instead of the largest that fits

    // The terminal.
    bool log = false, chatty = false, quiet = false;
    bool terminalInput = false;   // standard input is a terminal (questions can be asked)
    bool terminalOutput = false;  // standard error is a terminal (a progress bar can be drawn)
};

struct ParseResult {
    std::optional<Arguments> arguments;
    std::string error;  // why parsing failed
    std::string usage;  // the usage of the command that failed
    std::string command;  // its name ("boot"), empty when no command was recognised
};

ParseResult parseCommandLine(const std::vector<std::string>& words);
std::string usage(Command command);

// The build this front end carries.
constexpr int BUILD_NUMBER = 16;

}  // namespace quorvel::app
