// The kernel continued on a whole machine (QEMU) from the state at the jump: the
// machine chosen and refused before the boot, the run with the terminal as its serial
// console, the debugger's command, and qemu.sh beside saved memory.
#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <iosfwd>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "sim/emulator.h"
#include "sim/qemu/qemu_machine.h"

namespace quorvel::app {

// The machine for `device`, or the reason (said on `err`) that the boot is refused.
std::optional<sim::qemu::Machine> wholeMachineFor(sim::Handheld& device, std::ostream& err);

struct WholeMachineRun {
    const sim::qemu::Machine& machine;
    std::optional<std::filesystem::path> kernel;  // the kernel file on this computer, for the debugger
    std::uint32_t entry;                          // where the loader enters the kernel
    std::function<void(std::string_view)> output;  // the console UART's bytes
    std::ostream& err;
};

// Runs the kernel on the machine from `atJump`; the result as the emulated run gives it.
sim::HandOverResult runWholeMachine(const Arguments& a, sim::Handheld& device, const sim::HandOverResult& atJump,
                                    const WholeMachineRun& run);

// What the run came to, in the words of `quorvel: kernel ...`.
std::string describeWholeMachineEnd(const sim::HandOverResult& result, const sim::qemu::Machine& machine);

// Where the exact run stopped at what a whole machine would carry on from (an
// exception the kernel has its own vector for, a device the emulator does not model):
// the line that says so; empty otherwise.
std::string wholeMachineHint(sim::Handheld& device, const sim::HandOverResult& result);

// start.bin and qemu.sh in `folder`, beside the saved RAM banks: the same QEMU run by hand.
bool writeQemuScript(const std::filesystem::path& folder, const sim::qemu::Machine& machine, sim::Handheld& device,
                     const sim::HandOverResult& atJump, std::ostream& err);

}  // namespace quorvel::app
