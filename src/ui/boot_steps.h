// The Boot command's steps, in one place for the main window and the command line.
#pragma once

#include "platform/types.h"

namespace quorvel {
class BootMenu;
}

namespace quorvel::ui {

// The safety question when `safetyMessage` is set; true when the boot may go on.
bool confirmBoot(BootMenu& menu, ce::HWND owner);

// What runs `startBoot`: on the device a plain call (it never comes back when the
// kernel is entered); the host's runner catches the hand-over.
using BootRunner = void (*)(BootMenu& menu);
void setBootRunner(BootRunner runner);

// The boot start steps: the bar at 0, "BOOT START", the pages read, the options
// saved when asked (`saved` says whether that worked), the boot started. Returns
// when the attempt failed.
void startBootSteps(BootMenu& menu, bool save = true, bool* saved = nullptr);

}  // namespace quorvel::ui
