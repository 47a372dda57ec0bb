// The front end's commands: boot, gui, options, platforms.
#pragma once

#include <iosfwd>

#include "app/command_line.h"

namespace quorvel::app {

// Exit status: 0 the command did its work (boot: the kernel halted on its own or
// stopped where asked), 1 the boot failed before the jump, 2 usage, 3 the kernel
// faulted, 4 the instruction budget or the time limit ran out, 130 interrupted.
int runCommand(const Arguments& arguments, std::istream& in, std::ostream& out, std::ostream& err);

// Boots the kernel the options name on a simulated handheld, reporting on the terminal.
int bootCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err);

// The boot loader's own window on the simulated handheld: live in a desktop window,
// or headless with scripted taps and keys ending in a screenshot.
int guiCommand(const Arguments& a, std::ostream& out, std::ostream& err);

// The options a boot would use, without booting.
int optionsCommand(const Arguments& a, std::ostream& out, std::ostream& err);

// The selectable platforms with their index and ids.
int platformsCommand(std::ostream& out);

}  // namespace quorvel::app
