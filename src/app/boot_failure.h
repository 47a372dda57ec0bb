// Why a boot that never reached the jump failed, in one line: from the boot log's own
// lines that led to the failure box, and from what the front end can look at itself
// (the disk image of a UFS card, the handheld's RAM).
#pragma once

#include <string>
#include <vector>

#include "app/command_line.h"
#include "boot/boot_menu.h"
#include "sim/settings.h"

namespace quorvel::app {

struct BootFailure {
    std::string cause;               // one line
    std::vector<std::string> lines;  // the log's lines that led to it
};

// `log`: the boot's log; `box`: the failure box's text.
BootFailure explainFailure(const std::string& log, const std::string& box, const BootMenu& menu,
                           const sim::DeviceSettings& settings);

// The last `count` lines of the boot log that say something (not blank, not the
// progress marks, not the registers the system report dumps), from the last stage
// that said anything.
std::vector<std::string> logTail(const std::string& log, std::size_t count);

}  // namespace quorvel::app
