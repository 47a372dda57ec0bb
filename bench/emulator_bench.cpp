// Emulated instructions per second on the loops a kernel's start-up spends its time
// in (kernel_library.S: memset, memcpy and copy_page written as an ARMv4 kernel's library
// writes them), with the MMU off and on, on the simulated SA-1110: the program's
// instructions, counted exactly, per second of the emulation's processor time, with
// the share the emulator performed natively (whole loop rounds) reported apart.
#include <cstdio>
#include <cstring>

#include "sim/arm_images.h"
#include "sim/emulator.h"
#include "sim/handheld.h"
#include "support/device.h"

namespace quorvel {
extern const ArmImage kernelLoopsImage;
}

int main() {
    const quorvel::ArmImage& image = quorvel::kernelLoopsImage;
    int status = 0;
    for (const bool mmu : {false, true}) {
        double best = 0;
        sim::HandOverResult kept;
        for (int round = 0; round < 3; ++round) {
            testing_support::TestDevice device;
            sim::PhysicalMemory& memory = device->memory();
            const std::uint32_t code = 0xC0F00000, area = 0xC1000000;
            std::memcpy(memory.host(sim::PhysicalAddress(code)), image.bytes, image.size);
            sim::EmulationSettings settings;
            settings.instructionBudget = 0;
            sim::Emulator emulator(device.device(), settings);
            const sim::HandOverResult result =
                emulator.run(code + image.symbol("loops_start"), {area, mmu ? 1u : 0u, 0, 0}, 0xD3);
            if (result.reason != sim::HaltReason::Halted || result.pc != code + image.symbol("done")) {
                std::fprintf(stderr, "the loops did not run to their end: %s\n", result.describe().c_str());
                status = 1;
                break;
            }
            const double emulated = static_cast<double>(result.instructions) / result.seconds;
            if (round == 0 || emulated > best) {
                best = emulated;
                kept = result;
            }
        }
        if (status) break;
        std::printf("kernel loops, MMU %s: %llu instructions (%llu performed natively, exact %s) in %.4f s: %.1f M a second\n",
                    mmu ? "on" : "off", static_cast<unsigned long long>(kept.instructions),
                    static_cast<unsigned long long>(kept.nativeInstructions), kept.instructionsExact ? "yes" : "no",
                    kept.seconds, best / 1e6);
        std::printf("row|instructions a second, a kernel's memset/memcpy/copy_page, MMU %s|%.1f M|performed natively %llu of %llu|-\n",
                    mmu ? "on" : "off", best / 1e6, static_cast<unsigned long long>(kept.nativeInstructions),
                    static_cast<unsigned long long>(kept.instructions));
    }
    return status;
}
