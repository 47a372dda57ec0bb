// The boots the Boot command starts, caught at the hand-over: while a HandOverRun
// lives, every boot runs to the jump and on in the emulator, and its outcome is kept
// here instead of leaving the process.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "boot/boot_menu.h"
#include "sim/emulator.h"

namespace quorvel::app {

struct BootOutcome {
    std::optional<sim::HandOverResult> result;  // none when the boot failed before the jump
    std::string error;                          // why the hand-over itself could not run
};

class HandOverRun {
public:
    // `afterEach` sees each boot's outcome as soon as it is known.
    explicit HandOverRun(std::function<void(const BootOutcome&)> afterEach = {});
    ~HandOverRun();
    HandOverRun(const HandOverRun&) = delete;
    HandOverRun& operator=(const HandOverRun&) = delete;

    // The Boot command's steps (options saved when `save`); false when the options
    // could not be saved.
    bool startBootSteps(BootMenu& menu, bool save);
    const BootOutcome& outcome() const { return outcome_; }

private:
    static void run(BootMenu& menu);
    BootOutcome outcome_;
    std::function<void(const BootOutcome&)> afterEach_;
};

// The exit status for how the kernel's run ended.
int exitStatusOf(sim::HaltReason reason);

}  // namespace quorvel::app
