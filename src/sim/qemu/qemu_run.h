// A whole-machine run: the kernel continues on QEMU's own machine of the handheld's
// processor from the state the hand-over stopped at (StopAt::Jump). QEMU is driven
// through its monitor (QMP); its console UART is the run's serial in both directions.
// Nothing of it outlives the run: QEMU is killed with the process that started it, and
// the RAM, the start code and the sockets are passed as open descriptors, never files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sim/emulator.h"
#include "sim/qemu/qemu_machine.h"

namespace sim {
class Handheld;
}

namespace sim::qemu {

struct RunSettings {
    double timeoutSeconds = 0;  // 0: no limit
    // QEMU's gdb stub as HOST:PORT: QEMU starts halted and waits for the debugger.
    std::optional<std::string> gdb;
    int input = -1;  // a descriptor whose bytes go to the console UART; -1: none
    std::function<void(std::string_view)> output;  // the console UART's bytes as they come
    // Called once QEMU is up (its gdb stub listening, if asked).
    std::function<void()> started;
    std::string program = "qemu-system-arm";
    // Seconds between looks at whether the kernel has halted.
    double pollSeconds = 0.05;
};

// Runs the kernel on `machine` from the state `atJump` until it halts (a branch to
// itself: Halted), the time runs out (TimedOut), requestStop() (Interrupted), or QEMU
// cannot start or ends on its own (Failed, with QEMU's message). When QEMU was still
// there at the end, the handheld's RAM banks hold QEMU's RAM and the result its
// registers. instructions is 0 and not exact: QEMU does not count them.
HandOverResult runOnQemu(Handheld& device, const Machine& machine, const HandOverResult& atJump,
                         const RunSettings& settings);

// Asks the QEMU run in progress to end as Interrupted. Safe from a signal handler or
// another thread; true when a run was in progress to hear it.
bool requestStop();

// A shell script that starts the same run from a folder holding the RAM banks (named
// by their base address, as --save-memory writes them) and `start.bin`.
std::string shellScript(const Machine& machine);

}  // namespace sim::qemu
