// The QEMU machine a platform's kernel continues on after the jump, and how QEMU is
// told to start it from the state at the jump: the RAM banks loaded in place and a
// start stub that leaves the processor and the console UART as the emulated hand-over
// starts them before it falls into the flat jump.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/emulator.h"
#include "sim/settings.h"

namespace sim {
class Handheld;
}

namespace sim::qemu {

struct Machine {
    std::string name;      // -M
    std::string cpu;       // -cpu, empty when the machine takes none but its own
    std::uint32_t mainId;  // what the processor's main ID register reads there
    std::string memory;    // -m, empty when the machine fixes its size without it
    std::uint32_t ramBase, ramSize;  // the machine's SDRAM
    std::uint32_t startAddress;      // where the start stub is loaded (outside the boot's RAM)
    int consoleSerial;               // the -serial slot of the console UART
    std::uint32_t uartBase;
    bool pxa;
    // The handheld's memory QEMU is given: its RAM banks, and the screen's video memory
    // where it lies in the machine's RAM.
    std::vector<RamBank> banks;
    // Video memory outside the machine's RAM: left behind, so it must hold nothing
    // (checked again at the jump) and a kernel that draws there meets no memory.
    std::vector<RamBank> leftBehind;
};

// Whether a bank left behind holds anything that would be lost; its address when so.
std::optional<std::uint32_t> lostBytes(Handheld& device, const Machine& machine);

// The machine that has the handheld's processor family, with -cpu chosen so that the
// main ID register matches where QEMU can; none, with the reason, when QEMU has no
// machine of that family or it cannot hold the handheld's RAM banks.
std::optional<Machine> machineFor(Handheld& device, std::string& why);

// The start stub with its parameters and the flat jump behind it. `atJump` is the
// state the hand-over stopped at (StopAt::Jump): the flat jump's arguments and CPSR.
std::vector<std::uint8_t> startCode(const Machine& machine, Handheld& device, const HandOverResult& atJump);

// One RAM bank or the start code, as QEMU's generic loader takes it.
struct LoadedFile {
    std::string path;
    std::uint32_t address;
};

// QEMU's command line without the serial console's back end (appended by the caller
// as `-serial ...` in the slot Machine::consoleSerial), for the files given. The
// start code is the one loaded with the processor's pc set to it.
std::vector<std::string> commandLine(const Machine& machine, const std::vector<LoadedFile>& banks,
                                     const LoadedFile& start, const std::string& consoleBackEnd);

// The main ID a Machine table row names, as text for messages.
std::string hex(std::uint32_t value);

}  // namespace sim::qemu
